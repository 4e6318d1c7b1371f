#include <gtest/gtest.h>

#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/subscriber/Subscriber.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "TssMessages.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using namespace tsstest;
using FACE::TSS::CONNECTION_ID_TYPE;
using FACE::TSS::Listeners::GuidToUid;

namespace {

using QosTexts = std::vector<std::pair<std::string, std::string>>;

QosTexts ReaderQos(const char* durability, const char* reliability) {
    return {{"DurabilityQosPolicy", durability},
            {"LivelinessQosPolicy", "AUTOMATIC_LIVELINESS_QOS"},
            {"ReliabilityQosPolicy", reliability}};
}

int64_t RealtimeNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Connections(const FastRtps& f) {
    return Document({f.set(), Connection("UTCTime", "UTCTime"), Connection("Command", "CommandResponse"),
                     Connection("EventLog", "EventLog"), Connection("Response", "CommandResponse")});
}

struct TransportCase {
    const char* label;
    const char* sender;
    const char* receiver;
    uint32_t domain;
};

void PrintTo(const TransportCase& c, std::ostream* os) { *os << c.label; }

class TSSExchange : public testing::TestWithParam<TransportCase> {};

}  // namespace

namespace {

// One side sends the three message types, the other replies to the command
// from inside its read callback, as the server does.
void Exchange(const TransportCase& tc) {
    // Declared first so that they outlive the readers that call them.
    Collector<idl::UTCTime> utcIn;
    Collector<idl::CommandResponse> cmdIn;
    Collector<idl::EventLog> evIn;
    Collector<idl::CommandResponse> replies;
    std::vector<RC::Value> replyCodes;  // written on B's listener thread, read after replies arrive
    std::mutex replyMutex;
    FastRtps fa;
    fa.domainId = std::to_string(tc.domain);
    fa.useTransport = tc.sender;
    fa.tcpPort = std::to_string(FreeTcpPort());
    FastRtps fb = fa;
    fb.useTransport = tc.receiver;

    // The receiver (the TCP client) comes first: the library's TCP discovery
    // now and then stalls for good when a client joins a server that is
    // already running, which is not what this test is about.
    Service b("Receiver", Connections(fb));
    Service a("Sender", Connections(fa));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);

    const CONNECTION_ID_TYPE utcA = a.connect("UTCTime"), cmdA = a.connect("Command"), evA = a.connect("EventLog"),
                             rspA = a.connect("Response");
    const CONNECTION_ID_TYPE utcB = b.connect("UTCTime"), cmdB = b.connect("Command"), evB = b.connect("EventLog"),
                             rspB = b.connect("Response");
    EXPECT_EQ(std::vector<CONNECTION_ID_TYPE>({utcA, cmdA, evA, rspA}), std::vector<CONNECTION_ID_TYPE>({0, 1, 2, 3}));

    auto utcTsA = Typed<idl::UTCTime>(a.tss);
    auto cmdTsA = Typed<idl::CommandResponse>(a.tss);
    auto evTsA = Typed<idl::EventLog>(a.tss);
    auto utcTsB = Typed<idl::UTCTime>(b.tss);
    auto cmdTsB = Typed<idl::CommandResponse>(b.tss);
    auto evTsB = Typed<idl::EventLog>(b.tss);

    RC::Value code;
    utcTsA->Register_Sender(utcA, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    cmdTsA->Register_Sender(cmdA, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    evTsA->Register_Sender(evA, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    cmdTsA->Register_Callback(rspA, replies.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    cmdTsB->Register_Sender(rspB, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    utcTsB->Register_Callback(utcB, utcIn.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    evTsB->Register_Callback(evB, evIn.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    auto collect = cmdIn.callback();
    FACE::TSS::Details::QV_TypedTS<idl::CommandResponse>* responder = cmdTsB.get();
    cmdTsB->Register_Callback(
        cmdB,
        [&, responder, collect](CONNECTION_ID_TYPE id, FACE::TSS::TRANSACTION_ID_TYPE t, const idl::CommandResponse& m,
                                const FACE::TSS::HEADER_TYPE& h, const FACE::TSS::QoS_EVENT_TYPE& q, RC::Value& rc) {
            collect(id, t, m, h, q, rc);
            idl::CommandResponse reply = MakeCommand(m.command_identifier() + 100, m.command_response() + "_PASS");
            FACE::TSS::TRANSACTION_ID_TYPE transaction = 0;
            RC::Value sent = RC::NOT_AVAILABLE;
            responder->Send_Message(rspB, -1, transaction, reply, sent);
            std::lock_guard<std::mutex> lock(replyMutex);
            replyCodes.push_back(sent);
        },
        code);
    ASSERT_EQ(code, RC::NO_ERROR);

    ASSERT_TRUE(WaitMatched(*a.tss, utcA, *b.tss, utcB));
    ASSERT_TRUE(WaitMatched(*a.tss, cmdA, *b.tss, cmdB));
    ASSERT_TRUE(WaitMatched(*a.tss, evA, *b.tss, evB));
    ASSERT_TRUE(WaitMatched(*b.tss, rspB, *a.tss, rspA));

    const idl::UTCTime utc = MakeUtc(1);
    const idl::CommandResponse cmd = MakeCommand(2, "BITSERVER_PING");
    const idl::EventLog ev = MakeEvent(3, "Chronavel: PPS settled, clock stepped");
    FACE::TSS::TRANSACTION_ID_TYPE transaction = 42;
    const int64_t before = RealtimeNs();
    utcTsA->Send_Message(utcA, -1, transaction, utc, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    cmdTsA->Send_Message(cmdA, -1, transaction, cmd, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    evTsA->Send_Message(evA, -1, transaction, ev, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    const int64_t after = RealtimeNs();
    EXPECT_EQ(transaction, 42);

    ASSERT_TRUE(utcIn.waitFor(1));
    ASSERT_TRUE(cmdIn.waitFor(1));
    ASSERT_TRUE(evIn.waitFor(1));
    ASSERT_TRUE(replies.waitFor(1));

    const QosTexts expectedQos = ReaderQos("VOLATILE_DURABILITY_QOS", "RELIABLE_RELIABILITY_QOS");
    auto checkHeader = [&](const FACE::TSS::HEADER_TYPE& h, CONNECTION_ID_TYPE writer, CONNECTION_ID_TYPE reader) {
        EXPECT_EQ(h.source_uid, GuidToUid(At(*a.tss, writer).publisher()->getGuid()));
        EXPECT_EQ(h.destination_uid, GuidToUid(At(*b.tss, reader).subscriber()->getGuid()));
        EXPECT_NE(h.source_uid, h.destination_uid);
        // The writer stamps the sample when it is written (1 ms of slack
        // for the library's fixed-point time).
        EXPECT_GE(h.source_timestamp, before - 1000000);
        EXPECT_LE(h.source_timestamp, after + 1000000);
    };

    const auto u = utcIn.deliveries();
    ASSERT_EQ(u.size(), 1u);
    ExpectSame(u[0].message, utc);
    EXPECT_EQ(u[0].connectionId, utcB);
    EXPECT_EQ(u[0].transactionId, 1);  // the writer's first sequence number
    checkHeader(u[0].header, utcA, utcB);
    EXPECT_EQ(u[0].qos, expectedQos);

    const auto c = cmdIn.deliveries();
    ASSERT_EQ(c.size(), 1u);
    ExpectSame(c[0].message, cmd);
    EXPECT_EQ(c[0].connectionId, cmdB);
    EXPECT_EQ(c[0].transactionId, 1);
    checkHeader(c[0].header, cmdA, cmdB);
    EXPECT_EQ(c[0].qos, expectedQos);

    const auto e = evIn.deliveries();
    ASSERT_EQ(e.size(), 1u);
    ExpectSame(e[0].message, ev);
    EXPECT_EQ(e[0].connectionId, evB);
    checkHeader(e[0].header, evA, evB);
    EXPECT_EQ(e[0].qos, expectedQos);

    const auto r = replies.deliveries();
    ASSERT_EQ(r.size(), 1u);
    ExpectSame(r[0].message, MakeCommand(cmd.command_identifier() + 100, "BITSERVER_PING_PASS"));
    EXPECT_EQ(r[0].connectionId, rspA);
    EXPECT_EQ(r[0].header.source_uid, GuidToUid(At(*b.tss, rspB).publisher()->getGuid()));
    {
        std::lock_guard<std::mutex> lock(replyMutex);
        EXPECT_EQ(replyCodes, std::vector<RC::Value>{RC::NO_ERROR});
    }

    // The responder must not be called once this scope starts to unwind.
    b.tss->Unregister_Callback(cmdB, code);
    EXPECT_EQ(code, RC::NO_ERROR);
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
            Exchange(tc);
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Transports, TSSExchange,
                         testing::Values(TransportCase{"SHM", "SHM", "SHM", kDomainExchangeShm},
                                         TransportCase{"UDP", "UDP", "UDP", kDomainExchangeUdp},
                                         TransportCase{"TCP", "TCP_Server", "TCP_Client", kDomainExchangeTcp}),
                         [](const testing::TestParamInfo<TransportCase>& info) { return info.param.label; });

TEST(TSSHistory, LateBackFillReaderGetsTheLastSamplesAndVolatileOneNone) {
    Collector<idl::EventLog> late;
    Collector<idl::EventLog> current;
    FastRtps f;
    f.domainId = std::to_string(kDomainBackFill);
    f.historyDepth = "3";
    Service writer("Writer", Document({f.set(), Connection("EventLog", "EventLog")}));
    f.backFillHistory = "true";
    Service backFill("BackFill", Document({f.set(), Connection("EventLog", "EventLog")}));
    f.backFillHistory = "false";
    Service fresh("Fresh", Document({f.set(), Connection("EventLog", "EventLog")}));
    ASSERT_EQ(writer.initialized, RC::NO_ERROR);
    ASSERT_EQ(backFill.initialized, RC::NO_ERROR);
    ASSERT_EQ(fresh.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE w = writer.connect("EventLog"), bf = backFill.connect("EventLog"),
                             fr = fresh.connect("EventLog");

    auto out = Typed<idl::EventLog>(writer.tss);
    RC::Value code;
    out->Register_Sender(w, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    for (int i = 1; i <= 5; ++i) {
        out->Send_Message(w, -1, t, MakeEvent(i, "event " + std::to_string(i)), code);
        ASSERT_EQ(code, RC::NO_ERROR);
    }

    auto inBackFill = Typed<idl::EventLog>(backFill.tss);
    auto inFresh = Typed<idl::EventLog>(fresh.tss);
    inBackFill->Register_Callback(bf, late.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    inFresh->Register_Callback(fr, current.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ASSERT_TRUE(WaitMatched(*writer.tss, w, *backFill.tss, bf));
    ASSERT_TRUE(WaitMatched(*writer.tss, w, *fresh.tss, fr));
    ASSERT_TRUE(WaitUntil([&] { return At(*writer.tss, w).publisherListener()->matched() == 2; }));

    // The back-filled history comes first; a sample written after that
    // shows what the volatile reader gets: that sample and nothing before.
    ASSERT_TRUE(late.waitFor(3));
    out->Send_Message(w, -1, t, MakeEvent(6, "event 6"), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ASSERT_TRUE(late.waitFor(4));
    ASSERT_TRUE(current.waitFor(1));

    std::vector<std::string> lateTexts;
    for (const auto& d : late.deliveries()) {
        lateTexts.push_back(d.message.eventlog());
        EXPECT_EQ(d.qos, ReaderQos("TRANSIENT_LOCAL_DURABILITY_QOS", "RELIABLE_RELIABILITY_QOS"));
    }
    EXPECT_EQ(lateTexts, (std::vector<std::string>{"event 3", "event 4", "event 5", "event 6"}));
    EXPECT_EQ(late.deliveries().front().transactionId, 3);

    const auto fresh_ = current.deliveries();
    ASSERT_EQ(fresh_.size(), 1u);
    EXPECT_EQ(fresh_[0].message.eventlog(), "event 6");
    EXPECT_EQ(fresh_[0].transactionId, 6);
    EXPECT_EQ(fresh_[0].qos, ReaderQos("VOLATILE_DURABILITY_QOS", "RELIABLE_RELIABILITY_QOS"));
}

TEST(TSSHistory, BestEffortEndpointsExchangeAndSayTheyAreBestEffort) {
    Collector<idl::UTCTime> got;
    FastRtps f;
    f.domainId = std::to_string(kDomainBestEffort);
    f.useBestEffort = "TRUE";
    f.useTransport = "UDP";
    Service a("A", Document({f.set(), Connection("UTCTime", "UTCTime")}));
    Service b("B", Document({f.set(), Connection("UTCTime", "UTCTime")}));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE ia = a.connect("UTCTime"), ib = b.connect("UTCTime");
    auto out = Typed<idl::UTCTime>(a.tss);
    auto in = Typed<idl::UTCTime>(b.tss);
    RC::Value code;
    out->Register_Sender(ia, code);
    in->Register_Callback(ib, got.callback(), code);
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));
    // Best effort may lose a sample on the way; keep sending until one is in.
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    ASSERT_TRUE(WaitUntil([&] {
        out->Send_Message(ia, -1, t, MakeUtc(9), code);
        return got.waitFor(1, std::chrono::milliseconds(50));
    }));
    const auto d = got.deliveries();
    ExpectSame(d[0].message, MakeUtc(9));
    EXPECT_EQ(d[0].qos, ReaderQos("VOLATILE_DURABILITY_QOS", "BEST_EFFORT_RELIABILITY_QOS"));
}
