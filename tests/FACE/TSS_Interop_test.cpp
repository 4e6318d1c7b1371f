#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TssMessages.h"
#include "support/ChildProcess.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using namespace tsstest;
using FACE::TSS::CONNECTION_ID_TYPE;

#ifndef CHRONAVEL_CYCLONE_PEER

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    GTEST_SKIP() << "Cyclone DDS was not found when the build was configured; the interoperability "
                    "test with a second DDS implementation did not run";
}

#else

namespace {

// Keeps the peer on the loopback interface; without it Cyclone would pick
// a network interface of its own.
const char kLoopbackOnly[] =
    "<CycloneDDS><Domain Id=\"any\"><General>"
    "<Interfaces><NetworkInterface name=\"lo\" multicast=\"true\"/></Interfaces>"
    "<AllowMulticast>spdp</AllowMulticast>"
    "</General></Domain></CycloneDDS>";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// The peer's line for a header, as the peer prints it.
std::string HeaderText(const idl::header& h) {
    return Format(" seq_num=%" PRId64 " arrival=%" PRId64 ",%" PRId32 ",%" PRId32 " valid=%" PRId64 ",%" PRId32
                  ",%" PRId32 " device_id=%" PRId32,
                  h.seq_num(), h.timestamp_arrival().sec(), h.timestamp_arrival().nsec(),
                  h.timestamp_arrival().time_code(), h.timestamp_valid().sec(), h.timestamp_valid().nsec(),
                  h.timestamp_valid().time_code(), h.device_id());
}

std::string Text(const char* name, const std::string& text) {
    return " " + std::string(name) + "=" + std::to_string(text.size()) + ":" + text;
}

std::string Line(const idl::UTCTime& m) {
    const auto& c = m.covariance();
    return "UTCTime" + HeaderText(m.header()) +
           Format(" gps_tow_sec=%" PRId32 " gps_tow_nsec=%.17g gps_week=%" PRId32 " utc_tod_sec=%" PRId32
                  " utc_tod_nsec=%.17g a1=%.17g covariance=%.17g,%.17g,%.17g,%.17g",
                  m.gps_tow_sec(), m.gps_tow_nsec(), m.gps_week(), m.utc_tod_sec(), m.utc_tod_nsec(), m.a1(),
                  c[0][0], c[0][1], c[1][0], c[1][1]) +
           "\n";
}

std::string Line(const idl::CommandResponse& m) {
    return "CommandResponse" + HeaderText(m.header()) +
           Format(" commanded_device_id=%" PRId32 " command_identifier=%" PRId32 " command_response_type=%d",
                  m.commanded_device_id(), m.command_identifier(), static_cast<int>(m.command_response_type())) +
           Text("command_response", m.command_response()) + "\n";
}

std::string Line(const idl::EventLog& m) {
    return "EventLog" + HeaderText(m.header()) +
           Format(" event_log_type=%d", static_cast<int>(m.event_log_type())) + Text("eventlog", m.eventlog()) +
           "\n";
}

// What the peer answers: integers plus one, doubles doubled, enums moved to
// a neighbour, strings prefixed.
idl::header Bumped(idl::header h) {
    h.seq_num(h.seq_num() + 1);
    for (idl::timestamp* t : {&h.timestamp_arrival(), &h.timestamp_valid()}) {
        t->sec(t->sec() + 1);
        t->nsec(t->nsec() + 1);
        t->time_code(t->time_code() + 1);
    }
    h.device_id(h.device_id() + 1);
    return h;
}

template <typename E>
E Neighbour(E value) {
    return static_cast<E>(value == 0 ? 1 : value - 1);
}

idl::UTCTime Answer(idl::UTCTime m) {
    m.header(Bumped(m.header()));
    m.gps_tow_sec(m.gps_tow_sec() + 1);
    m.gps_tow_nsec(m.gps_tow_nsec() * 2);
    m.gps_week(m.gps_week() + 1);
    m.utc_tod_sec(m.utc_tod_sec() + 1);
    m.utc_tod_nsec(m.utc_tod_nsec() * 2);
    m.a1(m.a1() * 2);
    for (auto& row : m.covariance()) {
        for (double& v : row) {
            v *= 2;
        }
    }
    return m;
}

idl::CommandResponse Answer(idl::CommandResponse m) {
    m.header(Bumped(m.header()));
    m.commanded_device_id(m.commanded_device_id() + 1);
    m.command_identifier(m.command_identifier() + 1);
    m.command_response_type(Neighbour(m.command_response_type()));
    m.command_response("cyclone:" + m.command_response());
    return m;
}

idl::EventLog Answer(idl::EventLog m) {
    m.header(Bumped(m.header()));
    m.event_log_type(Neighbour(m.event_log_type()));
    m.eventlog("cyclone:" + m.eventlog());
    return m;
}

}  // namespace

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    Collector<idl::UTCTime> utcBack;
    Collector<idl::CommandResponse> cmdBack;
    Collector<idl::EventLog> evBack;
    FastRtps f;
    f.domainId = std::to_string(kDomainCycloneUdp);
    f.useTransport = "UDP";
    f.historyDepth = "10";
    Service s("Chronavel",
              Document({f.set(), Connection("UTCTimeToPeer", "UTCTime"), Connection("CommandToPeer", "CommandResponse"),
                        Connection("EventLogToPeer", "EventLog"), Connection("UTCTimeFromPeer", "UTCTime"),
                        Connection("CommandFromPeer", "CommandResponse"), Connection("EventLogFromPeer", "EventLog")}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE utcOut = s.connect("UTCTimeToPeer"), cmdOut = s.connect("CommandToPeer"),
                             evOut = s.connect("EventLogToPeer"), utcIn = s.connect("UTCTimeFromPeer"),
                             cmdIn = s.connect("CommandFromPeer"), evIn = s.connect("EventLogFromPeer");
    auto utc = Typed<idl::UTCTime>(s.tss);
    auto cmd = Typed<idl::CommandResponse>(s.tss);
    auto ev = Typed<idl::EventLog>(s.tss);
    RC::Value code;
    utc->Register_Sender(utcOut, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    cmd->Register_Sender(cmdOut, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ev->Register_Sender(evOut, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    utc->Register_Callback(utcIn, utcBack.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    cmd->Register_Callback(cmdIn, cmdBack.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ev->Register_Callback(evIn, evBack.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);

    ASSERT_EQ(::setenv("CYCLONEDDS_URI", kLoopbackOnly, 1), 0);
    testsupport::ChildProcess peer({CHRONAVEL_CYCLONE_PEER, std::to_string(kDomainCycloneUdp)});
    ASSERT_TRUE(peer.waitForOutput("READY\n", std::chrono::seconds(20))) << peer.output();

    // Both ends must have matched before anything is written: a volatile
    // reader drops what was written before it knew the writer.
    for (const char* topic : {"UTCTimeToPeer", "CommandToPeer", "EventLogToPeer"}) {
        ASSERT_TRUE(peer.waitForOutput(std::string("MATCHED ") + topic + "\n", std::chrono::seconds(20)))
            << peer.output();
    }
    for (CONNECTION_ID_TYPE id : {utcOut, cmdOut, evOut}) {
        ASSERT_TRUE(WaitUntil([&] { return At(*s.tss, id).publisherListener()->matched() > 0; })) << id;
    }
    for (CONNECTION_ID_TYPE id : {utcIn, cmdIn, evIn}) {
        ASSERT_TRUE(WaitUntil([&] { return At(*s.tss, id).subscriberListener()->matched() > 0; })) << id;
    }

    const idl::UTCTime utcSent = MakeUtc(21);
    const idl::CommandResponse cmdSent = MakeCommand(22, "BITSERVER_PING,extra");
    const idl::EventLog evSent = MakeEvent(23, std::string(300, 'x') + " beyond the advertised size");
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    utc->Send_Message(utcOut, -1, t, utcSent, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    cmd->Send_Message(cmdOut, -1, t, cmdSent, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Send_Message(evOut, -1, t, evSent, code);
    EXPECT_EQ(code, RC::NO_ERROR);

    // Fast DDS to Cyclone: the peer decodes every field where it was put.
    for (const std::string& line : {Line(utcSent), Line(cmdSent), Line(evSent)}) {
        EXPECT_TRUE(peer.waitForOutput(line, std::chrono::seconds(20))) << "expected:\n" << line << "got:\n"
                                                                        << peer.output();
    }

    // Cyclone to Fast DDS: the answers arrive, field by field.
    ASSERT_TRUE(utcBack.waitFor(1)) << peer.output();
    ASSERT_TRUE(cmdBack.waitFor(1)) << peer.output();
    ASSERT_TRUE(evBack.waitFor(1)) << peer.output();
    ExpectSame(utcBack.deliveries()[0].message, Answer(utcSent));
    ExpectSame(cmdBack.deliveries()[0].message, Answer(cmdSent));
    ExpectSame(evBack.deliveries()[0].message, Answer(evSent));
    EXPECT_EQ(evBack.deliveries()[0].qos.size(), 3u);
    EXPECT_EQ(peer.output().find("FAILED"), std::string::npos) << peer.output();

    peer.signal(SIGTERM);
    const int status = peer.wait(std::chrono::seconds(20));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << peer.output();
}

#endif
