#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"
#include "boardkit/TempDir.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using Handle = FACE::Configuration::HANDLE_TYPE;
using Whence = FACE::Configuration::WHENCE_TYPE;

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

class QVConfigTest : public testing::Test {
protected:
    void SetUp() override {
        path = dir.write("config.xml", kDocument);
        RC::Value code;
        config.Initialize(path.c_str(), code);
        ASSERT_EQ(code, RC::NO_ERROR);
    }

    Handle open(const char* name) {
        Handle h = -1;
        RC::Value code;
        config.Open(name, h, code);
        EXPECT_EQ(code, RC::NO_ERROR) << name;
        return h;
    }

    std::string read(Handle h, const char* parameter) {
        char buf[64];
        FACE::Configuration::BUFFER_SIZE_TYPE n = 0;
        RC::Value code;
        config.Read(h, parameter, buf, sizeof buf, n, code);
        return code == RC::NO_ERROR ? std::string(buf, static_cast<size_t>(n)) : "<" + std::string(RC::Name(code)) + ">";
    }

    boardkit::TempDir dir;
    std::string path;
    FACE::QV_Config config;
};

}  // namespace

TEST(QVConfigLoad, MissingRootAndMalformedDocuments) {
    boardkit::TempDir dir;
    const std::string wrongRoot = dir.write("wrong.xml", "<Other><Set><Name>A</Name></Set></Other>");
    FACE::QV_Config config;
    RC::Value code;
    testing::internal::CaptureStdout();
    config.Initialize(wrongRoot.c_str(), code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Configuration XML - " + wrongRoot +
                  " Error: Unable to locate the QV_Configurations object\n");
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    Handle h;
    config.Open("A", h, code);
    EXPECT_EQ(code, RC::INVALID_MODE);

    for (const char* text : {"", "<QV_Configurations><Set>", "not xml at all", "<?xml?><a></b>"}) {
        FACE::QV_Config broken;
        testing::internal::CaptureStdout();
        broken.Initialize(dir.write("broken.xml", text).c_str(), code);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(code, RC::INVALID_CONFIG) << text;
    }
    FACE::QV_Config missing;
    missing.Initialize(dir.file("absent.xml").c_str(), code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    FACE::String::RETURN_CODE rc;
    missing.Initialize(FACE::String(0u, rc), code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
}

TEST_F(QVConfigTest, SchemaLocationAndSecondInitializeIgnored) {
    EXPECT_EQ(config.schemaLocation(), "schema.xsd");
    RC::Value code;
    config.Initialize("/nonexistent/path.xml", code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(read(open("A"), "PRI"), "20");
}

TEST_F(QVConfigTest, SetsSharingAnElementNameShareOneHandle) {
    const Handle a = open("A");
    EXPECT_EQ(read(a, "PRI"), "20");
    const Handle b = open("B");
    EXPECT_EQ(b, a);
    EXPECT_EQ(read(a, "PRI"), "30");
    EXPECT_EQ(open("A"), a);
    EXPECT_EQ(read(a, "PRI"), "20");
    EXPECT_NE(open("O"), a);
}

TEST_F(QVConfigTest, SetFoundByNameOrElementNameNamelessNever) {
    const Handle byName = open("Y");
    EXPECT_EQ(read(byName, ""), "Y");
    EXPECT_EQ(open("X"), byName);
    Handle h;
    RC::Value code;
    config.Open("nameless", h, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    config.Open("Z", h, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
}

TEST_F(QVConfigTest, HandlesContinueAcrossObjectsAndAreNeverReused) {
    const Handle first = open("O");
    FACE::QV_Config other;
    RC::Value code;
    other.Initialize(path.c_str(), code);
    Handle second = -1;
    other.Open("O", second, code);
    EXPECT_GT(second, first);
    config.Close(first, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    config.Close(first, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_GT(open("O"), second);
}

TEST_F(QVConfigTest, ReadFillsWithoutTerminatorAndSizesDiffer) {
    const Handle h = open("A");
    RC::Value code;
    FACE::Configuration::BUFFER_SIZE_TYPE size = -1;
    config.Get_Size(h, "PRI", size, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(size, 2);

    char one[2] = {'X', 'X'};
    FACE::Configuration::BUFFER_SIZE_TYPE n = -1;
    config.Read(h, "PRI", one, 1, n, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(one[0], '2');
    EXPECT_EQ(one[1], 'X');  // nothing written past the given size

    char four[4] = {'X', 'X', 'X', 'X'};
    config.Read(h, "PRI", four, 4, n, code);
    EXPECT_EQ(std::string(four, 4), std::string("20\0\0", 4));

    config.Read(h, "PRI", four, -1, n, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Read(h, "PRI", nullptr, 4, n, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Read(h + 1000, "PRI", four, 4, n, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(n, 0);
    config.Get_Size(h + 1000, "PRI", size, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
}

TEST_F(QVConfigTest, MissingAndEmptyValuesReportDifferently) {
    const Handle h = open("A");
    RC::Value code;
    FACE::Configuration::BUFFER_SIZE_TYPE size = 77;
    for (const char* name : {"Empty", "Absent"}) {
        config.Get_Size(h, name, size, code);
        EXPECT_EQ(code, RC::INVALID_CONFIG);
        EXPECT_EQ(size, 77);
        EXPECT_EQ(read(h, name), "<INVALID_PARAM>");
    }
    FACE::String::RETURN_CODE rc;
    const FACE::String invalid(0u, rc);
    config.Get_Size(h, invalid, size, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(read(open("Y"), "Spaced"), "  a b  ");

    testing::internal::CaptureStdout();
    EXPECT_EQ(QV_Config_Helpers::Details::Read_Config(config, h, "Empty"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Empty not found\n");
}

TEST_F(QVConfigTest, SeekWalksSetsOfTheSameElementName) {
    const Handle h = open("B");
    RC::Value code;
    config.Seek(h, Whence::FROM_FIRST, 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(read(h, ""), "A");
    config.Seek(h, Whence::FROM_CURRENT, 2, code);  // skips "Other", lands on the nameless set
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(read(h, "PRI"), "nameless");
    EXPECT_EQ(read(h, ""), "<INVALID_PARAM>");
    config.Seek(h, Whence::FROM_LAST, 0, code);
    EXPECT_EQ(read(h, ""), "C");
    config.Seek(h, Whence::FROM_LAST, 1, code);
    EXPECT_EQ(read(h, "PRI"), "nameless");
    config.Seek(h, Whence::FROM_CURRENT, -1, code);
    EXPECT_EQ(read(h, ""), "B");
    config.Seek(h, Whence::FROM_LAST, -1, code);  // forwards from the last: nothing there
    EXPECT_EQ(code, RC::INVALID_PARAM);
    EXPECT_EQ(read(h, ""), "B");
    config.Seek(h, Whence::FROM_FIRST, -1, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Seek(h, static_cast<Whence::Value>(3), 0, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    config.Seek(h + 1000, Whence::FROM_FIRST, 0, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
}

TEST_F(QVConfigTest, WriteReplacesTheFileAtomicallyKeepingItsMode) {
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    // A reader that opened the old file keeps seeing all of it: the new
    // document arrives by rename, never by rewriting the old file in place.
    const std::string before = boardkit::readFile(path);
    FILE* oldReader = std::fopen(path.c_str(), "rb");
    ASSERT_NE(oldReader, nullptr);
    const Handle h = open("C");
    RC::Value code = RC::NO_ERROR;
    EXPECT_TRUE(QV_Config_Helpers::Set_String_Parameter(config, h, "PRI", "41", code));
    EXPECT_EQ(code, RC::NO_ERROR);
    std::string seenByOldReader(before.size() + 16, '\0');
    seenByOldReader.resize(std::fread(&seenByOldReader[0], 1, seenByOldReader.size(), oldReader));
    std::fclose(oldReader);
    EXPECT_EQ(seenByOldReader, before);

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    FACE::QV_Config reread;
    reread.Initialize(path.c_str(), code);
    Handle r = -1;
    reread.Open("C", r, code);
    EXPECT_EQ(QV_Config_Helpers::Details::Read_Config(reread, r, "PRI"), "41");
    reread.Open("Y", r, code);
    EXPECT_EQ(QV_Config_Helpers::Details::Read_Config(reread, r, "Spaced"), "  a b  ");
    EXPECT_EQ(boardkit::readFile(dir.file("config.xml")).find("XXXXXX"), std::string::npos);

    FACE::Configuration::BUFFER_SIZE_TYPE written = -1;
    config.Write(h, "Absent", "1", 1, written, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Write(h, "", "1", 1, written, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Write(h, "PRI", "1", -3, written, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    config.Write(h + 1000, "PRI", "1", 1, written, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(written, 0);
}

// Runs in a child that gives up root first, since root ignores directory
// permissions and the save would succeed.
TEST_F(QVConfigTest, FailedSaveLeavesTheFileAndKeepsTheChangeInMemory) {
    const std::string before = boardkit::readFile(path);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    auto saveInReadOnlyDirectory = [&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            std::exit(3);
        }
        if (::access(dir.path().c_str(), W_OK) == 0) {
            std::exit(4);
        }
        const Handle h = open("A");
        RC::Value code;
        FACE::Configuration::BUFFER_SIZE_TYPE written = -1;
        config.Write(h, "PRI", "99", 2, written, code);
        const bool ok = code == RC::NO_ACTION && written == 0 && read(h, "PRI") == "99";
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(saveInReadOnlyDirectory(), testing::ExitedWithCode(0), "");
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(boardkit::readFile(path), before);
}

TEST(QVConfigSave, DirectoryGoneAfterLoadMeansNoAction) {
    std::string path;
    FACE::QV_Config config;
    {
        boardkit::TempDir dir;
        path = dir.write("config.xml", kDocument);
        RC::Value code;
        config.Initialize(path.c_str(), code);
        ASSERT_EQ(code, RC::NO_ERROR);
    }
    Handle h;
    RC::Value code;
    config.Open("A", h, code);
    code = RC::NO_ERROR;
    EXPECT_FALSE(QV_Config_Helpers::Set_Boolean_Parameter(config, h, "Flag", false, code));
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(QV_Config_Helpers::Details::Read_Config(config, h, "Flag"), "FALSE");
}

TEST_F(QVConfigTest, HelpersOnlyEverLowerTheCode) {
    const Handle h = open("A");
    RC::Value code = RC::NO_ERROR;
    FACE::String value;
    testing::internal::CaptureStdout();
    QV_Config_Helpers::Get_String_Parameter(config, h, "PRI", value, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(value.str(), "20");
    EXPECT_EQ(value.bound(), 2u);
    QV_Config_Helpers::Get_String_Parameter(config, h, "Absent", value, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(value.str(), "20");
    bool flag = false;
    QV_Config_Helpers::Get_Boolean_Parameter(config, h, "Flag", flag, code);
    EXPECT_TRUE(flag);
    EXPECT_EQ(code, RC::INVALID_CONFIG);  // stays lowered
    testing::internal::GetCapturedStdout();
}

TEST(QVConfigHelpers, BooleanRule) {
    using QV_Config_Helpers::ParseBoolean;
    for (const char* yes : {"TRUE", "true", "True", "1", "0x10", "-1", "7abc"}) {
        EXPECT_TRUE(ParseBoolean(yes)) << yes;
    }
    for (const char* no : {"FALSE", "false", "0", "no", "yes", " true", "", "0x0"}) {
        EXPECT_FALSE(ParseBoolean(no)) << no;
    }
}
