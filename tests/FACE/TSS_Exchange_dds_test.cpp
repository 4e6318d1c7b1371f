#include <unistd.h>

#include "support/TssTestSupport.h"

using namespace tsstest;
using FACE::TSS::Listeners::GuidToUid;

namespace {

using QosTexts = std::vector<std::pair<std::string, std::string>>;

QosTexts ReaderQos(const char* durability) {
    return {{"DurabilityQosPolicy", durability},
            {"LivelinessQosPolicy", "AUTOMATIC_LIVELINESS_QOS"},
            {"ReliabilityQosPolicy", "RELIABLE_RELIABILITY_QOS"}};
}

int64_t RealtimeNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct TransportCase {
    const char* sender;
    const char* receiver;
    uint32_t domain;
};

void PrintTo(const TransportCase& c, std::ostream* os) { *os << c.sender; }

class TSSExchange : public testing::TestWithParam<TransportCase> {};

// The connections of the shipped file, with the participant's settings replaced.
std::string Shipped(const FastRtps& f) {
    std::string document = boardkit::readFile(CHRONAVEL_SOURCE_DIR "/config/Connections.xml");
    const std::size_t begin = document.find("<DDS>");
    return document.replace(begin, document.find("</DDS>") + 6 - begin, f.set());
}

// Over the shipped connections, one side sends the three message types and
// the other replies to the command from inside its read callback, as the
// server does. The event's text is far beyond the advertised size of its type.
void Exchange(const TransportCase& tc) {
    Collector<idl::CommandResponse> commands;  // outlives the reader that calls it
    auto collect = commands.callback();
    std::atomic<RC::Value> replyCode{RC::NOT_AVAILABLE};
    FastRtps fa(tc.domain, tc.sender);
    fa.tcpPort = std::to_string(FreeTcpPort());
    FastRtps fb = fa;
    fb.useTransport = tc.receiver;

    // The receiver (the TCP client) comes first: the library's TCP discovery
    // now and then stalls for good when a client joins a server that is
    // already running, which is not what this test is about.
    Service b("Receiver", Shipped(fb));
    Service a("Sender", Shipped(fa));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);
    Link<idl::UTCTime> utc(a, b, "UTCTime");
    Link<idl::EventLog> ev(a, b, "EventLog");
    Link<idl::CommandResponse> rsp(b, a, "Response");
    Link<idl::CommandResponse> cmd(a, b, "Command", [&, collect](auto id, auto t, const idl::CommandResponse& m,
                                                                  const auto& h, const auto& q, auto& rc) {
        collect(id, t, m, h, q, rc);
        idl::CommandResponse reply = m;
        reply.command_response(m.command_response() + "_PASS");
        replyCode = rsp.send(reply);
    });
    ASSERT_TRUE(utc.matched() && ev.matched() && rsp.matched() && cmd.matched());

    std::string text(100000, ' ');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    const idl::UTCTime time = Sample<idl::UTCTime>(1);
    const idl::CommandResponse command = Sample<idl::CommandResponse>(2);
    const idl::EventLog event = Event(3, text);
    const int64_t before = RealtimeNs();
    EXPECT_EQ(utc.send(time), RC::NO_ERROR);
    EXPECT_EQ(cmd.send(command), RC::NO_ERROR);
    EXPECT_EQ(ev.send(event), RC::NO_ERROR);

    auto check = [&](auto& link, auto& in, const auto& sent) {
        ASSERT_TRUE(in.waitFor(1)) << link.ib;
        const auto d = in.deliveries();
        ASSERT_EQ(d.size(), 1u) << link.ib;
        ExpectSame(d[0].message, sent);
        EXPECT_EQ(d[0].connectionId, link.ib);
        EXPECT_EQ(d[0].transactionId, 1);  // the writer's first sequence number
        EXPECT_EQ(d[0].header.source_uid, GuidToUid(At(*link.a.tss, link.ia).publisher()->getGuid()));
        EXPECT_EQ(d[0].header.destination_uid, GuidToUid(At(*link.b.tss, link.ib).subscriber()->getGuid()));
        // The writer stamps the sample when it is written (1 ms of slack
        // for the library's fixed-point time).
        EXPECT_GE(d[0].header.source_timestamp, before - 1000000) << link.ib;
        EXPECT_LE(d[0].header.source_timestamp, RealtimeNs() + 1000000) << link.ib;
        EXPECT_EQ(d[0].qos, ReaderQos("VOLATILE_DURABILITY_QOS"));
    };
    check(utc, utc.got, time);
    check(ev, ev.got, event);
    check(cmd, commands, command);
    idl::CommandResponse reply = command;
    reply.command_response(command.command_response() + "_PASS");
    check(rsp, rsp.got, reply);
    EXPECT_EQ(replyCode.load(), RC::NO_ERROR);
}

}  // namespace

TEST_P(TSSExchange, EveryFieldHeaderAndQosArriveIntactBothWays) {
    const TransportCase& tc = GetParam();
    if (std::string(tc.sender) != "TCP_Server") {
        Exchange(tc);
        return;
    }
    // A TCP client looks for its server among the first four participants
    // of the server's process only. In a process of its own the server is
    // the first, so the exchange runs in a fresh copy of this program.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The copy's failures go where the death test shows them.
            dup2(STDERR_FILENO, STDOUT_FILENO);
            Exchange(tc);
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Transports, TSSExchange,
                         testing::Values(TransportCase{"SHM", "SHM", kDomainExchangeShm},
                                         TransportCase{"UDP", "UDP", kDomainExchangeUdp},
                                         TransportCase{"TCP_Server", "TCP_Client", kDomainExchangeTcp}),
                         [](const testing::TestParamInfo<TransportCase>& info) { return info.param.sender; });

// Writers keep their last samples for late readers, but only readers that
// ask for back-fill get them.
TEST(TSSHistory, LateBackFillReaderGetsTheLastSamplesAndVolatileOneNone) {
    Collector<idl::EventLog> late;
    Collector<idl::EventLog> current;
    FastRtps f(kDomainBackFill);
    f.historyDepth = "3";
    Service writer("Writer", f);
    f.backFillHistory = "true";
    Service backFill("BackFill", f);
    f.backFillHistory = "false";
    Service fresh("Fresh", f);
    const CONNECTION_ID_TYPE id = writer.connect("EventLog");
    ASSERT_EQ(backFill.connect("EventLog"), id);
    ASSERT_EQ(fresh.connect("EventLog"), id);
    const auto out = Typed<idl::EventLog>(writer, id);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(Send(*out, id, Event(i, "event " + std::to_string(i))), RC::NO_ERROR);
    }
    const auto inBackFill = Typed<idl::EventLog>(backFill, -1, id, late.callback());
    const auto inFresh = Typed<idl::EventLog>(fresh, -1, id, current.callback());
    ASSERT_TRUE(WaitMatched(*writer.tss, id, *fresh.tss, id));
    ASSERT_TRUE(WaitUntil([&] { return At(*writer.tss, id).publisherListener()->matched() == 2; }));

    // The back-filled history comes first; a sample written after that
    // shows what the volatile reader gets: that sample and nothing before.
    ASSERT_TRUE(late.waitFor(3));
    ASSERT_EQ(Send(*out, id, Event(6, "event 6")), RC::NO_ERROR);
    ASSERT_TRUE(late.waitFor(4));
    ASSERT_TRUE(current.waitFor(1));
    std::vector<std::string> lateTexts;
    for (const auto& d : late.deliveries()) {
        lateTexts.push_back(d.message.eventlog());
        EXPECT_EQ(d.qos, ReaderQos("TRANSIENT_LOCAL_DURABILITY_QOS"));
    }
    EXPECT_EQ(lateTexts, (std::vector<std::string>{"event 3", "event 4", "event 5", "event 6"}));
    EXPECT_EQ(late.deliveries().front().transactionId, 3);
    const auto d = current.deliveries();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].message.eventlog(), "event 6");
    EXPECT_EQ(d[0].transactionId, 6);
}

TEST(TSSGuidToUid, EntityIdIsReadBigEndianAndNeverNegative) {
    eprosima::fastrtps::rtps::GUID_t guid;
    guid.guidPrefix.value[11] = 0x55;
    const eprosima::fastrtps::rtps::octet id[4] = {0xFF, 0xEE, 0xDD, 0xC2};
    std::copy(id, id + 4, guid.entityId.value);
    EXPECT_EQ(GuidToUid(guid), int64_t{0xFFEEDDC2});
}
