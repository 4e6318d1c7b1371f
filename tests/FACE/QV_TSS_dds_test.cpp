#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/utils/IPLocator.h>

#include "support/TssTestSupport.h"

using namespace tsstest;
using testing::HasSubstr;

namespace {

// Runs Initialize on a fresh service over the document and returns what it
// printed on both streams.
std::string InitializeCapturing(const std::string& document, RC::Value& code, std::shared_ptr<QV_TSS>& tss) {
    boardkit::TempDir dir;
    tss = std::make_shared<QV_TSS>("Chronavel");
    tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tss->Initialize(dir.write("connections.xml", document).c_str(), code);
    const std::string out = testing::internal::GetCapturedStdout();
    return out + testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(QVTSSInitialize, WithoutConfigurationNothingWorksAndCfrLinesSayWhatIsMissing) {
    QV_TSS tss("Chronavel");
    RC::Value code;
    testing::internal::CaptureStdout();
    tss.Initialize("connections.xml", code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    tss.Set_Reference("", nullptr, 0, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    tss.Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    tss.Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);  // the first one is kept
    testing::internal::CaptureStdout();
    tss.Initialize("/nonexistent/connections.xml", code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CFR:4 Configuration /nonexistent/connections.xml was not available\n");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    for (auto call : {&QV_TSS::Destroy_Connection, &QV_TSS::Unregister_Sender, &QV_TSS::Unregister_Callback}) {
        code = RC::NO_ERROR;
        (tss.*call)(0, code);
        EXPECT_EQ(code, RC::NOT_AVAILABLE);
    }

    std::shared_ptr<QV_TSS> other;
    const std::string printed = InitializeCapturing(Document(Connection("UTCTime", "UTCTime")), code, other);
    EXPECT_EQ(printed, "CFR:4 Domain FastRtps was not available\n");
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
}

TEST(QVTSSInitialize, RefusedSettingsSayWhyAndLeaveTheServiceUninitialized) {
    struct Case {
        const char* transport;
        std::string FastRtps::*field;
        const char* value;
        const char* printed;
    };
    const Case cases[] = {
        // Required even when the transport does not use it.
        {"SHM", &FastRtps::tcpPort, "", "WARNING - Parameter TcpPort not found\n"},
        {"SHM", &FastRtps::domainId, "12abc", "Parameter DomainId"},
        {"SHM", &FastRtps::domainId, "-1", "Parameter DomainId"},
        {"SHM", &FastRtps::domainId, "0x100000000", "Parameter DomainId"},
        {"SHM", &FastRtps::domainId, "09", "Parameter DomainId"},
        // Beyond 232 the library's port arithmetic overflows and it ends
        // the whole process.
        {"UDP", &FastRtps::domainId, "233", "Parameter DomainId"},
        {"SHM", &FastRtps::historyDepth, "0", "Parameter HistoryDepth"},
        {"SHM", &FastRtps::historyDepth, "5 samples", "Parameter HistoryDepth"},
        {"SHM", &FastRtps::tcpPort, "65536", "Parameter TcpPort"},
        // Transport names are compared exactly: "udp" adds no transport,
        // and a participant without one cannot be made.
        {"SHM", &FastRtps::useTransport, "udp", "Error creating participant Chronavel\n"},
        {"TCP_Server", &FastRtps::tcpAddress, "localhost", "localhost"},
        {"TCP_Client", &FastRtps::tcpAddress, "localhost", "localhost"},
    };
    for (const Case& c : cases) {
        FastRtps f(kDomainLowerCaseUdp, c.transport);
        f.*(c.field) = c.value;
        RC::Value code;
        std::shared_ptr<QV_TSS> tss;
        EXPECT_THAT(InitializeCapturing(Document(f.set()), code, tss), HasSubstr(c.printed)) << c.value;
        EXPECT_EQ(code, RC::INVALID_CONFIG) << c.value;
        EXPECT_FALSE(tss->initialized()) << c.value;
        EXPECT_EQ(tss->participant(), nullptr) << c.value;
        CONNECTION_ID_TYPE id = 0;
        FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
        tss->Create_Connection("UTCTime", -1, id, size, code);
        EXPECT_EQ(code, RC::NOT_AVAILABLE) << c.value;
        FACE::TSS::Details::QV_TypedTS<idl::UTCTime> typed;
        typed.Register_Sender(0, code);
        EXPECT_EQ(code, RC::NOT_AVAILABLE) << c.value;  // no service yet
        typed.Set_Reference("", tss, 0, code);
        typed.Register_Sender(0, code);
        EXPECT_EQ(code, RC::NOT_AVAILABLE) << c.value;  // an uninitialized one
    }
}

TEST(QVTSSInitialize, NumbersTakeBasePrefixesUpToTheHighestDomain) {
    FastRtps f(0);
    f.domainId = "0xE8";  // 232, the highest domain with ports
    f.historyDepth = "010";  // octal
    f.useBestEffort = "TRUE";
    f.backFillHistory = "1";
    f.tcpPort = " 0x1F90 ";
    Service s("Chronavel", Document(f.set()));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    eprosima::fastrtps::Participant* participant = s.tss->participant();
    EXPECT_EQ(participant->getAttributes().domainId, 232u);
    const auto& settings = s.tss->settings();
    EXPECT_EQ(settings.historyDepth, 8);
    EXPECT_TRUE(settings.useBestEffort);
    EXPECT_TRUE(settings.backFillHistory);
    EXPECT_EQ(settings.tcpPort, 8080);

    RC::Value code;
    s.tss->Initialize("other.xml", code);
    EXPECT_EQ(code, RC::NO_ACTION);
    EXPECT_EQ(s.tss->participant(), participant);
}
