#include <fastrtps/Domain.h>
#include <unistd.h>

#include <cstring>

#include "aspn2_msgs/PubSubTypes.h"
#include "support/TssTestSupport.h"

using namespace tsstest;
using FACE::TSS::Listeners::GuidToUid;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using Bytes = std::vector<uint8_t>;

namespace {

int64_t RealtimeNs() { return std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); }

// The connections of the shipped file, with the participant's settings replaced.
std::string Shipped(const FastRtps& f) {
    std::string document = boardkit::readFile(CHRONAVEL_SOURCE_DIR "/config/Connections.xml");
    const std::size_t begin = document.find("<DDS>");
    return document.replace(begin, document.find("</DDS>") + 6 - begin, f.set());
}

// Over the shipped connections, one side sends the three message types and
// the other replies to the command from inside its read callback, as the
// server does. The event's text is far beyond the advertised size of its type.
void Exchange(const std::string& sender) {
    std::atomic<RC::Value> replyCode{RC::NOT_AVAILABLE};
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
        replyCode = rsp.send(reply);
    });
    ASSERT_TRUE(utc.matched() && ev.matched() && rsp.matched() && cmd.matched());

    std::string text(100000, ' ');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    const idl::UTCTime time = Sample<idl::UTCTime>(1);
    const idl::CommandResponse command = Sample<idl::CommandResponse>(2);
    const idl::EventLog event = Event(3, text);
    const int64_t before = RealtimeNs();
    EXPECT_EQ(std::make_tuple(utc.send(time), cmd.send(command), ev.send(event)),
              std::make_tuple(RC::NO_ERROR, RC::NO_ERROR, RC::NO_ERROR));
    auto check = [&](auto& link, const auto& sent) {
        ASSERT_TRUE(link.got.waitFor(1)) << link.ib;
        const auto d = link.got.deliveries();
        ASSERT_EQ(d.size(), 1u) << link.ib;
        ExpectSame(d[0].message, sent);
        EXPECT_EQ(d[0].connectionId, link.ib);
        EXPECT_EQ(d[0].transactionId, 1);  // the writer's first sequence number
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
    EXPECT_EQ(replyCode.load(), RC::NO_ERROR);
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

    idl::CommandResponse good = Sample<idl::CommandResponse>(11);
    good.command_response("QUERY_VERSIONING");
    aspn2_msgs::idl::CommandResponsePubSubType type;
    SerializedPayload_t payload(type.m_typeSize);
    ASSERT_TRUE(type.serialize(&good, &payload));
    const Bytes valid(payload.data, payload.data + payload.length);
    ASSERT_EQ(valid.size(), 4u + 56u + 4u + 17u);  // the string's length is at 60
    auto withLength = [&](uint32_t length) {
        Bytes bytes = valid;
        std::memcpy(&bytes[60], &length, sizeof length);  // little-endian host, CDR_LE payload
        return bytes;
    };
    Bytes otherEncoding = valid;
    otherEncoding[1] = 0x02;  // parameter-list encapsulation
    // Truncated, a string far longer than the payload, a string just past
    // its end, a foreign encoding and the encapsulation alone.
    for (Bytes bad : {Bytes(valid.begin(), valid.begin() + 30), withLength(0x7FFFFFF0u), withLength(40u),
                      otherEncoding, Bytes(valid.begin(), valid.begin() + 4)}) {
        ASSERT_TRUE(writer->write(&bad));
    }
    testing::internal::CaptureStderr();
    for (int n = 0; n < 4; ++n) {
        Bytes copy = valid;
        EXPECT_TRUE(writer->write(&copy));
    }
    const bool arrived = got.waitFor(2);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(arrived);
    EXPECT_THAT(err, testing::HasSubstr("Participant Chronavel read callback of connection " + std::to_string(id) +
                                        " failed: first sample refused\n"));
    EXPECT_THAT(err, testing::HasSubstr("failed: unknown exception"));
    const auto d = got.deliveries();
    ASSERT_EQ(d.size(), 2u);
    ExpectSame(d[0].message, good);
    EXPECT_EQ(d[0].transactionId, 8);  // the five before the first valid one were taken and dropped
    EXPECT_EQ(d[1].transactionId, 9);
}
