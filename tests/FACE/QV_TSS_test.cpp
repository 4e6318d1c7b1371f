#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/participant/Participant.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "TssTestSupport.h"
#include "support/TempDir.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using FACE::TSS::QV_TSS;
using testing::HasSubstr;
using tsstest::Document;
using tsstest::FastRtps;
using tsstest::Service;

namespace {

FastRtps Shm(uint32_t domain) {
    FastRtps f;
    f.domainId = std::to_string(domain);
    return f;
}

struct Captured {
    std::string out;
    std::string err;
};

// Runs Initialize on a fresh service over the document and captures what it
// prints.
Captured InitializeCapturing(const std::string& document, RC::Value& code, std::shared_ptr<QV_TSS>* keep = nullptr) {
    testsupport::TempDir dir;
    const std::string path = dir.write("connections.xml", document);
    auto tss = std::make_shared<QV_TSS>("Chronavel");
    RC::Value ignored;
    tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, ignored);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tss->Initialize(path.c_str(), code);
    Captured c{testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    EXPECT_EQ(tss->initialized(), code == RC::NO_ERROR);
    if (keep != nullptr) {
        *keep = tss;
    }
    return c;
}

}  // namespace

TEST(QVTSSReference, OnlyTheFirstConfigurationIsKept) {
    testsupport::TempDir dir;
    const std::string path = dir.write("c.xml", Document({Shm(tsstest::kDomainInitialize).set()}));
    auto first = std::make_shared<FACE::QV_Config>();
    RC::Value code;
    first->Initialize(path.c_str(), code);
    ASSERT_EQ(code, RC::NO_ERROR);

    QV_TSS tss("Chronavel");
    tss.Set_Reference("", nullptr, 0, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    tss.Set_Reference("", first, 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    tss.Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);

    // The first configuration already holds its document and ignores the
    // name; the second would have failed on it.
    tss.Initialize("no-such-file.xml", code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_TRUE(tss.initialized());
}

TEST(QVTSSInitialize, WithoutConfigurationNothingHappensAndNothingIsPrinted) {
    QV_TSS tss("Chronavel");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    RC::Value code = RC::NO_ERROR;
    tss.Initialize("connections.xml", code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    EXPECT_FALSE(tss.initialized());
}

TEST(QVTSSInitialize, UnreadableFileOrMissingSetGiveTheirCfrLines) {
    QV_TSS tss("Chronavel");
    RC::Value code;
    tss.Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
    testing::internal::CaptureStdout();
    tss.Initialize("/nonexistent/connections.xml", code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CFR:4 Configuration /nonexistent/connections.xml was not available\n");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);

    const Captured c = InitializeCapturing(Document({tsstest::Connection("UTCTime", "UTCTime")}), code);
    EXPECT_EQ(c.out, "CFR:4 Domain FastRtps was not available\n");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
}

TEST(QVTSSInitialize, EveryMissingEntryIsReportedAndNoParticipantIsMade) {
    RC::Value code;
    // TcpPort is required even when the transport does not use it.
    const std::string withoutPortAndDepth = Document({tsstest::Set(
        "FastRtps", {{"DomainId", "140"}, {"UseBestEffort", "false"}, {"BackFillHistory", "false"},
                     {"UseTransport", "SHM"}, {"TcpAddress", "127.0.0.1"}, {"TcpPort", ""}})});
    const Captured c = InitializeCapturing(withoutPortAndDepth, code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_EQ(c.out,
              "WARNING - Parameter HistoryDepth not found\n"
              "WARNING - Parameter TcpPort not found\n");
}

TEST(QVTSSInitialize, MalformedNumbersAreRefused) {
    struct Case {
        const char* parameter;
        std::string FastRtps::*field;
        const char* value;
    };
    const Case cases[] = {
        {"DomainId", &FastRtps::domainId, "12abc"},     {"DomainId", &FastRtps::domainId, "-1"},
        {"DomainId", &FastRtps::domainId, "0x100000000"}, {"DomainId", &FastRtps::domainId, "09"},
        {"HistoryDepth", &FastRtps::historyDepth, "0"}, {"HistoryDepth", &FastRtps::historyDepth, "-3"},
        {"HistoryDepth", &FastRtps::historyDepth, "5 samples"}, {"TcpPort", &FastRtps::tcpPort, "65536"},
        {"TcpPort", &FastRtps::tcpPort, "port"},
    };
    for (const Case& c : cases) {
        FastRtps f = Shm(tsstest::kDomainInitialize);
        f.*(c.field) = c.value;
        RC::Value code;
        const Captured printed = InitializeCapturing(Document({f.set()}), code);
        EXPECT_EQ(code, RC::INVALID_CONFIG) << c.parameter << "=" << c.value;
        EXPECT_THAT(printed.out, HasSubstr(std::string("Parameter ") + c.parameter)) << c.value;
    }
}

TEST(QVTSSInitialize, NumbersTakeBasePrefixesAndBooleansTheConfigurationRule) {
    FastRtps f;
    f.domainId = "0x10";
    f.historyDepth = "010";  // octal
    f.useBestEffort = "TRUE";
    f.backFillHistory = "1";
    f.tcpPort = " 0x1F90 ";
    Service s("Chronavel", Document({f.set()}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    EXPECT_EQ(s.tss->participant()->getAttributes().domainId, 16u);
    const auto& settings = s.tss->settings();
    EXPECT_EQ(settings.domainId, 16u);
    EXPECT_EQ(settings.historyDepth, 8);
    EXPECT_TRUE(settings.useBestEffort);
    EXPECT_TRUE(settings.backFillHistory);
    EXPECT_EQ(settings.tcpPort, 8080);
    EXPECT_EQ(settings.transport, "SHM");
}

TEST(QVTSSInitialize, SecondInitializeKeepsTheFirstParticipant) {
    Service s("Chronavel", Document({Shm(tsstest::kDomainSecondInitialize).set()}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    eprosima::fastrtps::Participant* first = s.tss->participant();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getAttributes().rtps.getName(), std::string("Chronavel"));
    RC::Value code;
    s.tss->Initialize("other.xml", code);
    EXPECT_EQ(code, RC::NO_ACTION);
    EXPECT_EQ(s.tss->participant(), first);
}

TEST(QVTSSInitialize, LowerCaseTransportGivesNoParticipantAndLeavesTheServiceUninitialized) {
    // Names are compared exactly, so "udp" adds no transport, and a
    // participant without any transport cannot be made.
    FastRtps f = Shm(tsstest::kDomainLowerCaseUdp);
    f.useTransport = "udp";
    RC::Value code;
    std::shared_ptr<QV_TSS> tss;
    const Captured c = InitializeCapturing(Document({f.set()}), code, &tss);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
    EXPECT_THAT(c.err, HasSubstr("Error creating participant Chronavel\n"));
    EXPECT_FALSE(tss->initialized());
    EXPECT_EQ(tss->participant(), nullptr);
    EXPECT_EQ(tss->settings().transport, "udp");

    FACE::TSS::CONNECTION_ID_TYPE id = 0;
    FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
    tss->Create_Connection("UTCTime", -1, id, size, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
}

TEST(QVTSSInitialize, DomainWithoutPortsIsRefusedBeforeTheLibrarySeesIt) {
    // Beyond 232 the library's port arithmetic overflows and it ends the
    // whole process; the service must refuse such a domain instead.
    for (const char* transport : {"SHM", "UDP", "TCP_Server"}) {
        FastRtps f = Shm(233);
        f.useTransport = transport;
        RC::Value code;
        const Captured c = InitializeCapturing(Document({f.set()}), code);
        EXPECT_EQ(code, RC::INVALID_CONFIG) << transport;
        EXPECT_THAT(c.out, HasSubstr("Parameter DomainId")) << transport;
    }
    FastRtps highest = Shm(232);
    Service s("Chronavel", Document({highest.set()}));
    EXPECT_EQ(s.initialized, RC::NO_ERROR);
}

TEST(QVTSSInitialize, TcpTransportWithAnAddressThatIsNoAddressIsRefused) {
    for (const char* transport : {"TCP_Server", "TCP_Client"}) {
        FastRtps f = Shm(tsstest::kDomainInitialize);
        f.useTransport = transport;
        f.tcpAddress = "localhost";
        RC::Value code;
        const Captured c = InitializeCapturing(Document({f.set()}), code);
        EXPECT_EQ(code, RC::INVALID_CONFIG) << transport;
        EXPECT_THAT(c.err, HasSubstr("localhost")) << transport;
    }
}

TEST(QVTSSConnectionsBeforeInitialize, EverythingAnswersNotAvailable) {
    QV_TSS tss("Chronavel");
    RC::Value code;
    FACE::TSS::CONNECTION_ID_TYPE id = 5;
    FACE::TSS::MESSAGE_SIZE_TYPE size = 77;
    tss.Create_Connection("UTCTime", -1, id, size, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(size, 77);
    tss.Destroy_Connection(0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    tss.Unregister_Sender(0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    tss.Unregister_Callback(0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
}

TEST(QVTSSConnectionIds, UnknownIdsAreInvalidAndNeverWrapOntoRealOnes) {
    EXPECT_EQ(QV_TSS::ConnectionKey(0), 0u);
    EXPECT_EQ(QV_TSS::ConnectionKey(3), 3u);
    EXPECT_EQ(QV_TSS::ConnectionKey(-1), QV_TSS::kNoConnection);
    EXPECT_EQ(QV_TSS::ConnectionKey(INT64_MIN), QV_TSS::kNoConnection);
    EXPECT_EQ(QV_TSS::ConnectionKey(4294967296LL), QV_TSS::kNoConnection);
    EXPECT_EQ(QV_TSS::ConnectionKey(4294967296LL + 2), QV_TSS::kNoConnection);

    Service s("Chronavel", Document({Shm(tsstest::kDomainInitialize).set()}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    EXPECT_THROW(s.tss->connectionMap_mutex_at(0), std::out_of_range);
    for (FACE::TSS::CONNECTION_ID_TYPE id : {int64_t{-1}, int64_t{0}, int64_t{4294967296LL}}) {
        RC::Value code;
        s.tss->Unregister_Sender(id, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << id;
        s.tss->Unregister_Callback(id, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << id;
        // Connections are never destroyed before the service, whatever the id.
        s.tss->Destroy_Connection(id, code);
        EXPECT_EQ(code, RC::NO_ERROR) << id;
    }
}
