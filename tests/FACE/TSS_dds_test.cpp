#include <fastrtps/Domain.h>
#include <fastrtps/participant/Participant.h>
#include <unistd.h>

#include <cstring>
#include <tuple>

#include "aspn2_msgs/PubSubTypes.h"
#include "support/TssTestSupport.h"

using namespace tsstest;
using FACE::TSS::Listeners::GuidToUid;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using testing::HasSubstr;
using Bytes = std::vector<uint8_t>;
namespace dds = eprosima::fastdds::dds;

namespace {

std::string With(const char* transport, std::string FastRtps::*field, const char* value) {
    FastRtps f(kDomainLowerCaseUdp, transport);
    f.*field = value;
    return Document(f.set());
}

int64_t RealtimeNs() { return std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); }

std::string Shipped(const FastRtps& f) {
    std::string document = boardkit::readFile(CHRONAVEL_SOURCE_DIR "/config/Connections.xml");
    const std::size_t begin = document.find("<DDS>");
    return document.replace(begin, document.find("</DDS>") + 6 - begin, f.set());
}

// Over the shipped connections, one side sends the three message types and
// the other replies to the command from inside its read callback, as the
// server does. The event's text is far beyond the advertised size of its type.
void Exchange(const std::string& sender) {
    FastRtps fa(sender == "SHM" ? kDomainExchangeShm : sender == "UDP" ? kDomainExchangeUdp : kDomainExchangeTcp,
                sender);
    fa.tcpPort = std::to_string(FreeTcpPort());
    FastRtps fb = fa;
    fb.useTransport = sender == "TCP_Server" ? "TCP_Client" : sender;
    // The receiver (the TCP client) comes first: the library's TCP discovery
    // now and then stalls for good when a client joins a server that is
    // already running, which is not what this test is about.
    Service b("Receiver", Shipped(fb));
    Service a("Sender", Shipped(fa));
    Link<idl::UTCTime> utc(a, b, "UTCTime");
    Link<idl::EventLog> ev(a, b, "EventLog");
    Link<idl::CommandResponse> rsp(b, a, "Response");
    Link<idl::CommandResponse> cmd(a, b, "Command", [&](auto id, auto t, const idl::CommandResponse& m,
                                                         const auto& h, const auto& q, auto& rc) {
        cmd.got.callback()(id, t, m, h, q, rc);
        idl::CommandResponse reply = m;
        reply.command_response(m.command_response() + "_PASS");
        rsp.send(reply);
    });
    ASSERT_TRUE(utc.matched() && ev.matched() && rsp.matched() && cmd.matched());
    std::string text(100000, ' ');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    const idl::UTCTime time = Filled<idl::UTCTime>(1);
    const idl::CommandResponse command = Filled<idl::CommandResponse>(2);
    const idl::EventLog event = Event(3, text);
    const int64_t before = RealtimeNs();
    EXPECT_EQ(std::make_tuple(utc.send(time), cmd.send(command), ev.send(event)),
              std::make_tuple(RC::NO_ERROR, RC::NO_ERROR, RC::NO_ERROR));
    auto check = [&](auto& link, const auto& sent) {
        ASSERT_TRUE(link.got.waitFor(1)) << link.ib;
        const auto d = link.got.deliveries();
        ASSERT_EQ(d.size(), 1u) << link.ib;
        EXPECT_EQ(Leaves(d[0].message), Leaves(sent));
        EXPECT_EQ(d[0].connectionId, link.ib);
        EXPECT_EQ(d[0].header.source_uid, GuidToUid(At(*link.a.tss, link.ia).publisher()->getGuid()));
        EXPECT_EQ(d[0].header.destination_uid, GuidToUid(At(*link.b.tss, link.ib).subscriber()->getGuid()));
        // Stamped when written (1 ms of slack for the library's fixed-point time).
        EXPECT_GE(d[0].header.source_timestamp, before - 1000000) << link.ib;
        EXPECT_LE(d[0].header.source_timestamp, RealtimeNs() + 1000000) << link.ib;
        EXPECT_EQ(d[0].qos, (decltype(d[0].qos){{"DurabilityQosPolicy", "VOLATILE_DURABILITY_QOS"},
                                                 {"LivelinessQosPolicy", "AUTOMATIC_LIVELINESS_QOS"},
                                                 {"ReliabilityQosPolicy", "RELIABLE_RELIABILITY_QOS"}}));
    };
    check(utc, time);
    check(ev, event);
    check(cmd, command);
    idl::CommandResponse reply = command;
    reply.command_response(command.command_response() + "_PASS");
    check(rsp, reply);
}

class TSSExchange : public testing::TestWithParam<std::string> {};

// The real type under its real name, except that whatever bytes it is
// given go on the wire: a faulty or hostile peer.
struct RawType : aspn2_msgs::idl::TopicType<idl::CommandResponse> {
    bool serialize(void* data, SerializedPayload_t* payload) override {
        const Bytes& bytes = *static_cast<const Bytes*>(data);
        if (bytes.size() > payload->max_size) return false;
        std::memcpy(payload->data, bytes.data(), bytes.size());
        payload->length = static_cast<uint32_t>(bytes.size());
        payload->encapsulation = CDR_LE;
        return true;
    }
    std::function<uint32_t()> getSerializedSizeProvider(void* data) override {
        return [data] { return static_cast<uint32_t>(static_cast<const Bytes*>(data)->size()); };
    }
};

}  // namespace

TEST(TSSInitialize, RefusedConfigurationsSayWhyAndLeaveEveryOperationUnavailable) {
    QV_TSS unreferenced("Chronavel");
    RC::Value code;
    EXPECT_EQ((unreferenced.Initialize("connections.xml", code), code), RC::NOT_AVAILABLE);
    for (auto [config, expected] : {std::make_pair(std::shared_ptr<FACE::QV_Config>(), RC::INVALID_PARAM),
                                    {std::make_shared<FACE::QV_Config>(), RC::NO_ERROR},
                                    {std::make_shared<FACE::QV_Config>(), RC::NOT_AVAILABLE}}) {  // the first is kept
        EXPECT_EQ((unreferenced.Set_Reference("", config, 0, code), code), expected);
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
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_THAT(out + testing::internal::GetCapturedStderr(), HasSubstr(printed));
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
    EXPECT_EQ((s.tss->Initialize("other.xml", code), code), RC::NO_ACTION);
    EXPECT_EQ(s.tss->participant(), participant);

    const CONNECTION_ID_TYPE id = s.connect("UTCTime");
    const auto typed = Typed<idl::UTCTime>(s, id, id, [](auto&&...) {});
    const QV_TSS::Connection_t& connection = At(*s.tss, id);
    ASSERT_TRUE(connection.isPublisher() && connection.isSubscriber());
    const auto& pub = connection.publisher()->getAttributes();
    const auto& sub = connection.subscriber()->getAttributes();
    for (const eprosima::fastrtps::TopicAttributes* t : {&pub.topic, &sub.topic}) {
        EXPECT_EQ(t->topicName.to_string() + " " + t->topicDataType.to_string(), "UTCTime aspn2_msgs::idl::UTCTime");
        const auto& limits = t->resourceLimitsQos;  // "010" is octal
        EXPECT_EQ(std::make_tuple(t->historyQos.kind, t->historyQos.depth, limits.max_samples, limits.max_instances,
                                  limits.max_samples_per_instance),
                  std::make_tuple(dds::KEEP_LAST_HISTORY_QOS, 8, 8, 1, 8));
    }
    EXPECT_EQ(std::make_tuple(pub.qos.m_reliability.kind, pub.qos.m_durability.kind, sub.qos.m_durability.kind),
              std::make_tuple(dds::BEST_EFFORT_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS,
                              dds::TRANSIENT_LOCAL_DURABILITY_QOS));
    const auto elements = FACE::TSS::Listeners::ReaderQosElements(sub);  // as readers report it with each sample
    std::string qos;
    for (uint32_t i = 0; i < elements.length(); ++i) qos += elements[i].name.str() + "=" + elements[i].value.str() + ' ';
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
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (const char* name : {"NoPubSub", "NoTopicType", "NotInTheFile", "Bad"})
        EXPECT_EQ(s.connect(name, RC::INVALID_CONFIG), -1);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::AllOf(HasSubstr("WARNING - Parameter PubSubType not found\n"),
                               HasSubstr("WARNING - Parameter TopicType not found\n")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Connection Bad: unknown PubSubType utctimePubSubType\n");
    using Ids = std::pair<CONNECTION_ID_TYPE, CONNECTION_ID_TYPE>;  // braces: in this order
    EXPECT_EQ((Ids{s.connect("UTCTime"), s.connect("Misnamed")}), Ids(0, 1));  // none of the refused took an id
    // A topic type that is not the registered name of its type gets no endpoints.
    auto typed = Typed<idl::UTCTime>(s);
    RC::Value code;
    testing::internal::CaptureStderr();
    EXPECT_EQ((typed->Register_Sender(1, code), code), RC::CONNECTION_CLOSED);
    EXPECT_EQ((typed->Register_Callback(1, [](auto&&...) {}, code), code), RC::CONNECTION_CLOSED);
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
    for (RC::Value expected : {RC::NO_ERROR, RC::NO_ACTION}) {
        EXPECT_EQ(sender(eventLog), expected);
        EXPECT_EQ(reader(command, got.callback()), expected);
    }
    EXPECT_EQ(reader(response, nullptr), RC::INVALID_PARAM);
    EXPECT_FALSE(At(*s.tss, response).isSubscriber());
    EXPECT_EQ(Send(*cmd, command, Filled<idl::CommandResponse>(1)), RC::NOT_AVAILABLE);  // subscriber only
    // Ids outside the 32-bit range must not wrap onto connection 0 or 1.
    for (CONNECTION_ID_TYPE bad : {int64_t{3}, int64_t{-1}, int64_t{1} << 32, (int64_t{1} << 32) + 1}) {
        EXPECT_EQ(std::make_tuple(Send(*ev, bad, Event(1, "x")), sender(bad), reader(bad, got.callback()), unsend(bad),
                                  unread(bad)), std::make_tuple(RC::INVALID_PARAM, RC::INVALID_PARAM, RC::INVALID_PARAM,
                                                                RC::INVALID_PARAM, RC::INVALID_PARAM)) << bad;
    }
    EXPECT_EQ(Send(*ev, eventLog, Event(1, "sent")), RC::NO_ERROR);
    // Unregistering the side that is not there leaves the other in place.
    using Left = std::pair<RC::Value, bool>;  // braces: the call comes first
    EXPECT_EQ((Left{unsend(command), At(*s.tss, command).isSubscriber()}), Left(RC::NO_ERROR, true));
    EXPECT_EQ((Left{unread(command), At(*s.tss, command).isSubscriber()}), Left(RC::NO_ERROR, false));
    EXPECT_EQ(unsend(eventLog), RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(2, "gone")), RC::NOT_AVAILABLE);
    // Destroying keeps the connection usable, and endpoints come back.
    EXPECT_EQ((s.tss->Destroy_Connection(eventLog, code), code), RC::NO_ERROR);
    EXPECT_EQ(sender(eventLog), RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(3, "again")), RC::NO_ERROR);
    EXPECT_EQ(reader(command, got.callback()), RC::NO_ERROR);
}

TEST_P(TSSExchange, EveryFieldHeaderAndQosArriveIntactBothWays) {
    if (GetParam() != "TCP_Server") {
        return Exchange(GetParam());
    }
    // A TCP client looks for its server among the first four participants
    // of the server's process only. In a process of its own the server is
    // the first, so the exchange runs in a fresh copy of this program.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);  // the copy's failures go where the death test shows them
            Exchange(GetParam());
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Transports, TSSExchange, testing::Values("SHM", "UDP", "TCP_Server"),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(TSSGuidToUid, EntityIdIsReadBigEndianAndNeverNegative) {
    eprosima::fastrtps::rtps::GUID_t guid;
    guid.guidPrefix.value[11] = 0x55;
    const eprosima::fastrtps::rtps::octet id[4] = {0xFF, 0xEE, 0xDD, 0xC2};
    std::copy(id, id + 4, guid.entityId.value);
    EXPECT_EQ(GuidToUid(guid), int64_t{0xFFEEDDC2});
}

// Neither undecodable samples nor callbacks that throw (which must not unwind
// into the library's receive thread) stop the samples behind them.
TEST(TSSBadInput, UndecodablePayloadsAndThrowingCallbacksStopNothing) {
    RawType raw;  // outlives the peer's participant, as does its listener
    FACE::TSS::Listeners::PublisherListenerBase peerListener("Peer");
    Collector<idl::CommandResponse> got;
    std::atomic<int> calls{0};
    FastRtps f(kDomainCorrupted, "UDP");
    f.historyDepth = "20";
    Service s("Chronavel", f), peer("Peer", f);
    const CONNECTION_ID_TYPE id = s.connect("Command");
    const auto in = Typed<idl::CommandResponse>(s, -1, id, [&](auto c, auto t, const auto& m, const auto& h,
                                                                const auto& q, auto& rc) {
        if (++calls == 1) throw std::runtime_error("first sample refused");
        if (calls == 2) throw 42;
        got.callback()(c, t, m, h, q, rc);
    });
    ASSERT_TRUE(eprosima::fastrtps::Domain::registerType(peer.tss->participant(), &raw));
    eprosima::fastrtps::Publisher* writer = eprosima::fastrtps::Domain::createPublisher(
        peer.tss->participant(),
        FACE::TSS::Details::MakePublisherAttributes(peer.tss->settings(), "Command", raw.getName()), &peerListener);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&] { return peerListener.matched() > 0 && At(*s.tss, id).subscriberListener()->matched() > 0; }));
    idl::CommandResponse good = Filled<idl::CommandResponse>(11);
    good.command_response("QUERY_VERSIONING");
    aspn2_msgs::idl::CommandResponsePubSubType type;
    SerializedPayload_t payload(type.m_typeSize);
    ASSERT_TRUE(type.serialize(&good, &payload));
    const Bytes valid(payload.data, payload.data + payload.length);
    ASSERT_EQ(valid.size(), 4u + 56u + 4u + 17u);
    auto patched = [&](std::size_t at, Bytes bytes) {  // little-endian, as the CDR_LE payload
        Bytes p = valid;
        std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<std::ptrdiff_t>(at));
        return p;
    };
    // Truncated, a string (its length is at 60) far longer than the payload
    // or just past its end, a parameter-list encoding, the encapsulation
    // alone, and then four good ones.
    std::vector<Bytes> payloads = {Bytes(valid.begin(), valid.begin() + 30), patched(60, {0xF0, 0xFF, 0xFF, 0x7F}),
                                   patched(60, {40, 0, 0, 0}), patched(1, {0x02}),
                                   Bytes(valid.begin(), valid.begin() + 4), valid, valid, valid, valid};
    testing::internal::CaptureStderr();
    for (Bytes& p : payloads) EXPECT_TRUE(writer->write(&p));
    const bool arrived = got.waitFor(2);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(arrived);
    EXPECT_THAT(err, HasSubstr("Participant Chronavel read callback of connection " + std::to_string(id) +
                                        " failed: first sample refused\n"));
    EXPECT_THAT(err, HasSubstr("failed: unknown exception"));
    const auto d = got.deliveries();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(Leaves(d[0].message), Leaves(good));
    EXPECT_EQ(d[0].transactionId, 8);  // the five before the first valid one were taken and dropped
    EXPECT_EQ(d[1].transactionId, 9);
}
