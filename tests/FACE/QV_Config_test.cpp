#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"
#include "boardkit/TempDir.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using Handle = FACE::Configuration::HANDLE_TYPE;
using Whence = FACE::Configuration::WHENCE_TYPE;
using Size = FACE::Configuration::BUFFER_SIZE_TYPE;
using QV_Config_Helpers::Details::Read_Config;
namespace Helpers = QV_Config_Helpers;
using Opened = std::tuple<Handle, std::string>;  // braces: the open comes first

namespace {

const char kDocument[] = R"(<?xml version="1.0"?>
<QV_Configurations xsi:noNamespaceSchemaLocation="schema.xsd">
  <Set><Name>A</Name><Parameters><PRI>20</PRI><Empty></Empty><Flag>TRUE</Flag></Parameters></Set>
  <Other><Name>O</Name><Parameters><K>o</K></Parameters></Other>
  <Set><Name>B</Name><Parameters><PRI>30</PRI></Parameters></Set>
  <Set><Parameters><PRI>nameless</PRI></Parameters></Set>
  <Set><Name>C</Name><Parameters><PRI>40</PRI></Parameters></Set>
  <X><Name>Y</Name><Parameters><Spaced>  a b  </Spaced></Parameters></X>
</QV_Configurations>
)";

class QVConfig : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(load(config, path.c_str()), RC::NO_ERROR); }
    RC::Value load(FACE::QV_Config& c, const FACE::String& file) { return c.Initialize(file, code), code; }
    Handle open(const char* name, FACE::QV_Config& c) {
        Handle h = -1;
        return c.Open(name, h, code), h;
    }
    Handle open(const char* name) { return open(name, config); }
    // The value, or the name of the code that refused it.
    std::string read(Handle h, const char* parameter) {
        char buf[64];
        Size n = 0;
        config.Read(h, parameter, buf, sizeof buf, n, code);
        return code == RC::NO_ERROR ? std::string(buf, static_cast<size_t>(n)) : std::string("<") + RC::Name(code) + ">";
    }

    boardkit::TempDir dir;
    const std::string path = dir.write("config.xml", kDocument);
    FACE::QV_Config config;
    RC::Value code = RC::NOT_AVAILABLE;
};

}  // namespace

TEST_F(QVConfig, RefusedDocumentsLeaveTheConfigurationUnusable) {
    const std::string wrongRoot = dir.write("wrong.xml", "<Other><Set><Name>A</Name></Set></Other>");
    const std::pair<std::string, std::string> cases[] = {  // path, what it prints
        {wrongRoot, "Configuration XML - " + wrongRoot + " Error: Unable to locate the QV_Configurations object\n"},
        {dir.write("unclosed.xml", "<QV_Configurations><Set>"), ""},
        {dir.file("absent.xml"), ""}};
    for (const auto& [file, printed] : cases) {
        FACE::QV_Config refused;
        testing::internal::CaptureStdout();
        EXPECT_EQ(load(refused, file.c_str()), RC::INVALID_CONFIG) << file;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), printed);
        EXPECT_EQ((open("A", refused), code), RC::INVALID_MODE) << file;
    }
    FACE::QV_Config unnamed;
    FACE::String::RETURN_CODE rc;
    EXPECT_EQ(load(unnamed, FACE::String(0u, rc)), RC::INVALID_CONFIG);
}

TEST_F(QVConfig, SetsAreFoundByNameOrElementNameAndShareOneHandlePerElement) {
    EXPECT_EQ(config.schemaLocation(), "schema.xsd");
    EXPECT_EQ(load(config, "/nonexistent/path.xml"), RC::NO_ERROR);  // a second load is ignored
    const Handle a = open("A");
    for (auto [name, pri] : {std::make_pair("A", "20"), {"B", "30"}, {"A", "20"}}) {  // B takes the handle of Set
        EXPECT_EQ((Opened{open(name), read(a, "PRI")}), std::make_tuple(a, pri)) << name;
    }
    const Handle y = open("Y");
    EXPECT_NE(y, a);
    EXPECT_EQ((Opened{open("X"), read(y, "")}), std::make_tuple(y, "Y"));
    for (const char* unknown : {"nameless", "Z"}) EXPECT_EQ((open(unknown), code), RC::INVALID_CONFIG) << unknown;
    FACE::QV_Config other;  // handles count on across objects and are never reused
    load(other, path.c_str());
    const Handle second = open("O", other);
    EXPECT_GT(second, y);
    for (RC::Value expected : {RC::NO_ERROR, RC::INVALID_CONFIG}) EXPECT_EQ((config.Close(y, code), code), expected);
    EXPECT_GT(open("Y"), second);
}

TEST_F(QVConfig, ReadFillsAtMostTheBufferAndRefusesMissingOrEmptyValues) {
    const Handle h = open("A");
    Size size = -1, n = -1;
    EXPECT_EQ((config.Get_Size(h, "PRI", size, code), size), 2);
    char buf[4] = {'X', 'X', 'X', 'X'};
    config.Read(h, "PRI", buf, 1, n, code);  // nothing past the size given, no terminator
    EXPECT_EQ(std::make_tuple(code, n, std::string(buf, 2)), std::make_tuple(RC::NO_ERROR, 1, "2X"));
    config.Read(h, "PRI", buf, 4, n, code);
    EXPECT_EQ(std::string(buf, 4), std::string("20\0\0", 4));
    const std::tuple<Handle, char*, Size, RC::Value> refused[] = {
        {h, buf, -1, RC::INVALID_PARAM}, {h, nullptr, 4, RC::INVALID_PARAM}, {h + 1000, buf, 4, RC::INVALID_CONFIG}};
    for (const auto& [handle, buffer, length, expected] : refused) {
        config.Read(handle, "PRI", buffer, length, n, code);
        EXPECT_EQ(std::make_tuple(code, n), std::make_tuple(expected, 0)) << length;
    }
    FACE::String::RETURN_CODE rc;
    const std::pair<Handle, FACE::String> sizeless[] = {
        {h + 1000, "PRI"}, {h, "Empty"}, {h, "Absent"}, {h, FACE::String(0u, rc)}};
    for (const auto& [handle, name] : sizeless) {
        size = 77;
        config.Get_Size(handle, name, size, code);
        EXPECT_EQ(std::make_tuple(code, size), std::make_tuple(RC::INVALID_CONFIG, 77)) << name.str();
    }
    EXPECT_EQ(read(h, "Empty") + read(h, "Absent"), "<INVALID_PARAM><INVALID_PARAM>");
}

TEST_F(QVConfig, SeekWalksSetsOfTheSameElementName) {
    const Handle h = open("B");
    const std::tuple<Handle, Whence::Value, int32_t, RC::Value, const char*> steps[] = {  // ..., the PRI landed on
        {h, Whence::FROM_FIRST, 0, RC::NO_ERROR, "20"},
        {h, Whence::FROM_CURRENT, 2, RC::NO_ERROR, "nameless"},  // skips the other element
        {h, Whence::FROM_LAST, 0, RC::NO_ERROR, "40"},
        {h, Whence::FROM_LAST, 1, RC::NO_ERROR, "nameless"},
        {h, Whence::FROM_CURRENT, -1, RC::NO_ERROR, "30"},
        {h, Whence::FROM_LAST, -1, RC::INVALID_PARAM, "30"},  // forwards from the last: nothing there
        {h, Whence::FROM_FIRST, -1, RC::INVALID_PARAM, "30"},
        {h, static_cast<Whence::Value>(3), 0, RC::INVALID_CONFIG, "30"},
        {h + 1000, Whence::FROM_FIRST, 0, RC::INVALID_CONFIG, "30"}};
    for (const auto& [handle, whence, offset, expected, lands] : steps) {
        config.Seek(handle, whence, offset, code);
        EXPECT_EQ(code, expected) << whence << " " << offset;
        EXPECT_EQ(read(h, "PRI"), lands) << whence << " " << offset;
    }
}

TEST_F(QVConfig, WriteReplacesTheFileAtomicallyKeepingItsMode) {
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    // A reader of the old file keeps seeing all of it: the new document
    // arrives by rename, never by rewriting the old file in place.
    const std::string before = boardkit::readFile(path);
    FILE* oldReader = std::fopen(path.c_str(), "rb");
    ASSERT_NE(oldReader, nullptr);
    const Handle h = open("C");
    EXPECT_TRUE(Helpers::Set_String_Parameter(config, h, "PRI", "41", code));
    std::string seen(before.size() + 16, '\0');
    seen.resize(std::fread(&seen[0], 1, seen.size(), oldReader));
    std::fclose(oldReader);
    EXPECT_EQ(seen, before);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    FACE::QV_Config reread;
    load(reread, path.c_str());
    EXPECT_EQ(Read_Config(reread, open("C", reread), "PRI"), "41");
    EXPECT_EQ(Read_Config(reread, open("Y", reread), "Spaced"), "  a b  ");  // whitespace is kept
    const std::tuple<Handle, const char*, Size, RC::Value> refused[] = {
        {h, "Absent", 1, RC::INVALID_PARAM}, {h, "", 1, RC::INVALID_PARAM},
        {h, "PRI", -3, RC::INVALID_PARAM}, {h + 1000, "PRI", 1, RC::INVALID_CONFIG}};
    for (const auto& [handle, parameter, length, expected] : refused) {
        Size written = -1;
        config.Write(handle, parameter, "1", length, written, code);
        EXPECT_EQ(std::make_tuple(code, written), std::make_tuple(expected, 0)) << parameter << " " << length;
    }
}

// Saving fails once the directory is gone: the write is refused, the
// helper lowers its code, and the value stays changed in memory.
TEST_F(QVConfig, HelpersOnlyEverLowerTheCodeAndAFailedSaveKeepsTheChangeInMemory) {
    FACE::QV_Config orphan;
    {
        boardkit::TempDir gone;
        ASSERT_EQ(load(orphan, gone.write("config.xml", kDocument).c_str()), RC::NO_ERROR);
    }
    const Handle h = open("A", orphan);
    Size written = -1;
    orphan.Write(h, "PRI", "99", 2, written, code);
    EXPECT_EQ(std::make_tuple(code, written), std::make_tuple(RC::NO_ACTION, 0));
    code = RC::NO_ERROR;
    EXPECT_FALSE(Helpers::Set_Boolean_Parameter(orphan, h, "Flag", false, code));
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(Read_Config(orphan, h, "PRI") + Read_Config(orphan, h, "Flag"), "99FALSE");
    FACE::String value;
    bool flag = false;
    const Handle a = open("A");  // its code is where the helpers start
    testing::internal::CaptureStdout();
    Helpers::Get_String_Parameter(config, a, "PRI", value, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    Helpers::Get_String_Parameter(config, a, "Absent", value, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(value.str(), "20");  // left as it was
    Helpers::Get_Boolean_Parameter(config, a, "Flag", flag, code);
    EXPECT_EQ(std::make_tuple(flag, code), std::make_tuple(true, RC::INVALID_CONFIG));  // a success does not raise it
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Absent not found\n");
    for (const char* yes : {"TRUE", "true", "True", "1", "0x10", "-1", "7abc"})
        EXPECT_TRUE(Helpers::ParseBoolean(yes)) << yes;
    for (const char* no : {"FALSE", "false", "0", "no", "yes", " true", "", "0x0"})
        EXPECT_FALSE(Helpers::ParseBoolean(no)) << no;
}
