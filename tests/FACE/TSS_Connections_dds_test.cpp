#include <fastrtps/participant/Participant.h>

#include <tuple>

#include "support/TssTestSupport.h"

using namespace tsstest;
using testing::HasSubstr;
namespace dds = eprosima::fastdds::dds;

namespace {

// A settings document with one field changed.
std::string With(const char* transport, std::string FastRtps::*field, const char* value) {
    FastRtps f(kDomainLowerCaseUdp, transport);
    f.*field = value;
    return Document(f.set());
}

}  // namespace

TEST(TSSInitialize, RefusedConfigurationsSayWhyAndLeaveEveryOperationUnavailable) {
    QV_TSS unreferenced("Chronavel");
    RC::Value code;
    unreferenced.Initialize("connections.xml", code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    for (auto [config, expected] : {std::make_pair(std::shared_ptr<FACE::QV_Config>(), RC::INVALID_PARAM),
                                    {std::make_shared<FACE::QV_Config>(), RC::NO_ERROR},
                                    {std::make_shared<FACE::QV_Config>(), RC::NOT_AVAILABLE}}) {  // the first is kept
        unreferenced.Set_Reference("", config, 0, code);
        EXPECT_EQ(code, expected);
    }

    const std::tuple<std::string, const char*, RC::Value> cases[] = {  // document, printed, code
        {"", "CFR:4 Configuration ", RC::NOT_AVAILABLE},  // no file
        {Document(Connection("UTCTime", "UTCTime")), "CFR:4 Domain FastRtps was not available\n", RC::NOT_AVAILABLE},
        // Required even when the transport does not use it.
        {With("SHM", &FastRtps::tcpPort, ""), "WARNING - Parameter TcpPort not found\n", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::domainId, "12abc"), "Parameter DomainId", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::domainId, "0x100000000"), "Parameter DomainId", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::domainId, "09"), "Parameter DomainId", RC::INVALID_CONFIG},
        // Beyond 232 the library's port arithmetic overflows and it ends the process.
        {With("UDP", &FastRtps::domainId, "233"), "Parameter DomainId", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::historyDepth, "0"), "Parameter HistoryDepth", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::historyDepth, "5 samples"), "Parameter HistoryDepth", RC::INVALID_CONFIG},
        {With("SHM", &FastRtps::tcpPort, "65536"), "Parameter TcpPort", RC::INVALID_CONFIG},
        // Transport names are compared exactly: "udp" adds no transport,
        // and a participant without one cannot be made.
        {With("SHM", &FastRtps::useTransport, "udp"), "Error creating participant Chronavel\n", RC::INVALID_CONFIG},
        {With("TCP_Server", &FastRtps::tcpAddress, "localhost"), "localhost", RC::INVALID_CONFIG},
        {With("TCP_Client", &FastRtps::tcpAddress, "localhost"), "localhost", RC::INVALID_CONFIG},
    };
    for (const auto& [document, printed, expected] : cases) {
        SCOPED_TRACE(document);
        boardkit::TempDir dir;
        auto tss = std::make_shared<QV_TSS>("Chronavel");
        tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        tss->Initialize(document.empty() ? dir.file("absent.xml").c_str() : dir.write("c.xml", document).c_str(), code);
        EXPECT_THAT(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), HasSubstr(printed));
        EXPECT_EQ(code, expected);
        EXPECT_EQ(tss->participant(), nullptr);
        CONNECTION_ID_TYPE id = 0;
        FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
        tss->Create_Connection("UTCTime", -1, id, size, code);
        std::string codes = RC::Name(code);
        for (auto call : {&QV_TSS::Destroy_Connection, &QV_TSS::Unregister_Sender, &QV_TSS::Unregister_Callback}) {
            codes += std::string(" ") + RC::Name((((*tss).*call)(0, code), code));
        }
        FACE::TSS::Details::QV_TypedTS<idl::UTCTime> typed;
        for (int referenced = 0; referenced < 2; ++referenced) {  // without a service, then on an uninitialized one
            codes += std::string(" ") + RC::Name((typed.Register_Sender(0, code), code));
            typed.Set_Reference("", tss, 0, code);
        }
        EXPECT_EQ(codes, "NOT_AVAILABLE NOT_AVAILABLE NOT_AVAILABLE NOT_AVAILABLE NOT_AVAILABLE NOT_AVAILABLE");
    }
}

// Numbers take base prefixes, up to the highest domain with ports; the
// settings reach the endpoints, and a second Initialize changes nothing.
TEST(TSSInitialize, AcceptedSettingsReachTheParticipantAndItsEndpoints) {
    FastRtps f(0);
    std::tie(f.domainId, f.historyDepth, f.useBestEffort, f.backFillHistory, f.tcpPort) =
        std::make_tuple("0xE8", "010", "TRUE", "1", " 0x1F90 ");  // 232, octal 8
    Service s("Chronavel", f);
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    eprosima::fastrtps::Participant* participant = s.tss->participant();
    EXPECT_EQ(participant->getAttributes().domainId, 232u);
    EXPECT_EQ(s.tss->settings().tcpPort, 8080);
    RC::Value code;
    s.tss->Initialize("other.xml", code);
    EXPECT_EQ(code, RC::NO_ACTION);
    EXPECT_EQ(s.tss->participant(), participant);

    const CONNECTION_ID_TYPE id = s.connect("UTCTime");
    const auto typed = Typed<idl::UTCTime>(s, id, id, [](auto&&...) {});
    const QV_TSS::Connection_t& connection = At(*s.tss, id);
    ASSERT_TRUE(connection.isPublisher() && connection.isSubscriber());
    const auto& pub = connection.publisher()->getAttributes();
    const auto& sub = connection.subscriber()->getAttributes();
    for (const eprosima::fastrtps::TopicAttributes* t : {&pub.topic, &sub.topic}) {
        EXPECT_EQ(t->topicName.to_string() + " " + t->topicDataType.to_string(), "UTCTime aspn2_msgs::idl::UTCTime");
        EXPECT_EQ(t->historyQos.kind, dds::KEEP_LAST_HISTORY_QOS);
        EXPECT_EQ(t->historyQos.depth, 8);  // "010" is octal
        EXPECT_EQ(t->resourceLimitsQos.max_samples, 8);
        EXPECT_EQ(t->resourceLimitsQos.max_instances, 1);
        EXPECT_EQ(t->resourceLimitsQos.max_samples_per_instance, 8);
    }
    EXPECT_EQ(std::make_tuple(pub.qos.m_reliability.kind, pub.qos.m_durability.kind, sub.qos.m_durability.kind),
              std::make_tuple(dds::BEST_EFFORT_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS,
                              dds::TRANSIENT_LOCAL_DURABILITY_QOS));
    const auto elements = FACE::TSS::Listeners::ReaderQosElements(sub);  // as readers report it with each sample
    std::string qos;
    for (uint32_t i = 0; i < elements.length(); ++i) qos += elements[i].name.str() + "=" + elements[i].value.str() + " ";
    EXPECT_EQ(qos, "DurabilityQosPolicy=TRANSIENT_LOCAL_DURABILITY_QOS LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS "
                   "ReliabilityQosPolicy=BEST_EFFORT_RELIABILITY_QOS ");
}

TEST(TSSCreateConnection, MissingOrUnknownConfigurationCreatesNothing) {
    Service s("Chronavel",
              Document(FastRtps(kDomainConnections).set() + Connection("UTCTime", "UTCTime") +
                       Set("NoPubSub", {{"TopicType", "aspn2_msgs::idl::UTCTime"}}) +
                       Set("NoTopicType", {{"PubSubType", "UTCTimePubSubType"}}) +
                       Set("Bad", {{"TopicType", "aspn2_msgs::idl::UTCTime"}, {"PubSubType", "utctimePubSubType"}}) +
                       Set("Misnamed", {{"TopicType", "aspn2_msgs::idl::UtcTime"},
                                        {"PubSubType", "UTCTimePubSubType"}})));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (const char* name : {"NoPubSub", "NoTopicType", "NotInTheFile", "Bad"}) {
        EXPECT_EQ(s.connect(name, RC::INVALID_CONFIG), -1);
    }
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::AllOf(HasSubstr("WARNING - Parameter PubSubType not found\n"),
                               HasSubstr("WARNING - Parameter TopicType not found\n")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Connection Bad: unknown PubSubType utctimePubSubType\n");
    EXPECT_EQ(s.connect("UTCTime"), 0);  // none of the refused ones took an id
    EXPECT_EQ(s.connect("Misnamed"), 1);

    // A topic type that is not the registered name of its type gets no endpoints.
    auto typed = Typed<idl::UTCTime>(s);
    RC::Value code;
    testing::internal::CaptureStderr();
    typed->Register_Sender(1, code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    typed->Register_Callback(1, [](auto&&...) {}, code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::AllOf(HasSubstr("Participant Chronavel error creating publisher for topic: Misnamed\n"),
                               HasSubstr("Participant Chronavel error creating subscriber for topic: Misnamed\n")));
    EXPECT_FALSE(At(*s.tss, 1).isPublisher() || At(*s.tss, 1).isSubscriber());
}

TEST(TSSTypedTS, ReturnCodesOfEveryOperation) {
    Collector<idl::CommandResponse> got;
    Service s("Chronavel", FastRtps(kDomainTypedCodes));
    const CONNECTION_ID_TYPE eventLog = 0, command = 1, response = 2;
    const char* names[] = {"EventLog", "Command", "Response"};
    for (CONNECTION_ID_TYPE id : {eventLog, command, response, command}) EXPECT_EQ(s.connect(names[id]), id);
    auto ev = std::make_shared<FACE::TSS::Details::QV_TypedTS<idl::EventLog>>();
    auto cmd = Typed<idl::CommandResponse>(s);
    RC::Value code;
    // Each operation, as the code it returns.
    auto reference = [&](std::shared_ptr<FACE::TSS::Base> r) { return ev->Set_Reference("", r, 0, code), code; };
    auto sender = [&](CONNECTION_ID_TYPE id) { return ev->Register_Sender(id, code), code; };
    auto reader = [&](CONNECTION_ID_TYPE id, FACE::TSS::Read_Callback<idl::CommandResponse> callback) {
        return cmd->Register_Callback(id, callback, code), code;
    };
    auto unsend = [&](CONNECTION_ID_TYPE id) { return s.tss->Unregister_Sender(id, code), code; };
    auto unread = [&](CONNECTION_ID_TYPE id) { return s.tss->Unregister_Callback(id, code), code; };
    EXPECT_EQ(reference(nullptr), RC::INVALID_PARAM);
    EXPECT_EQ(reference(s.tss), RC::NO_ERROR);
    EXPECT_EQ(reference(std::make_shared<QV_TSS>("Other")), RC::NOT_AVAILABLE);  // the first one is kept
    EXPECT_EQ(sender(eventLog), RC::NO_ERROR);
    EXPECT_EQ(sender(eventLog), RC::NO_ACTION);
    EXPECT_EQ(reader(command, got.callback()), RC::NO_ERROR);
    EXPECT_EQ(reader(command, got.callback()), RC::NO_ACTION);
    EXPECT_EQ(reader(response, nullptr), RC::INVALID_PARAM);
    EXPECT_FALSE(At(*s.tss, response).isSubscriber());
    EXPECT_EQ(Send(*cmd, command, Sample<idl::CommandResponse>(1)), RC::NOT_AVAILABLE);  // subscriber only
    // Ids outside the 32-bit range must not wrap onto connection 0 or 1.
    for (CONNECTION_ID_TYPE bad : {int64_t{3}, int64_t{-1}, int64_t{1} << 32, (int64_t{1} << 32) + 1}) {
        EXPECT_EQ(Send(*ev, bad, Event(1, "x")), RC::INVALID_PARAM) << bad;
        EXPECT_EQ(sender(bad), RC::INVALID_PARAM) << bad;
        EXPECT_EQ(reader(bad, got.callback()), RC::INVALID_PARAM) << bad;
        EXPECT_EQ(unsend(bad), RC::INVALID_PARAM) << bad;
        EXPECT_EQ(unread(bad), RC::INVALID_PARAM) << bad;
    }
    EXPECT_EQ(Send(*ev, eventLog, Event(1, "sent")), RC::NO_ERROR);
    // Unregistering the side that is not there leaves the other in place.
    EXPECT_EQ(unsend(command), RC::NO_ERROR);
    EXPECT_TRUE(At(*s.tss, command).isSubscriber());
    EXPECT_EQ(unread(command), RC::NO_ERROR);
    EXPECT_FALSE(At(*s.tss, command).isSubscriber());
    EXPECT_EQ(unsend(eventLog), RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(2, "gone")), RC::NOT_AVAILABLE);
    // Destroying keeps the connection usable, and endpoints come back.
    s.tss->Destroy_Connection(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(sender(eventLog), RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(3, "again")), RC::NO_ERROR);
    EXPECT_EQ(reader(command, got.callback()), RC::NO_ERROR);
}
