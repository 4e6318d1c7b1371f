// The operator tools as real processes: how each refuses what it cannot
// use, and one exchange each with a DDS peer played by the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ASPN/CmdResponse.h"
#include "ASPN/TimeCodeHelper.h"
#include "boardkit/TimeBase.h"
#include "boardkit/ChildProcess.h"
#include "support/TssTestSupport.h"

using testing::HasSubstr;
using boardkit::ChildProcess;
using namespace std::chrono_literals;
namespace idl = aspn2_msgs::idl;

namespace {

enum Domain : uint32_t {
    kDomainRefusals = 220,
    kDomainNobody = 221,
    kDomainUtc = 222,
    kDomainEvents = 223,
    kDomainCmd = 224,
};

std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv) {
    return std::make_unique<ChildProcess>(argv);
}

int ExitStatus(ChildProcess& child) {
    const int status = child.wait(60s);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int64_t Ns(const idl::timestamp& t) { return t.sec() * 1000000000 + t.nsec(); }

// ---- refusals ----

struct Refusal {
    const char* name;
    std::vector<std::string> argv;  // "{dir}" stands for the test's directory
    int status;
    std::string output;  // a part of what the tool prints
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

std::string Expand(std::string text, const std::string& dir) {
    for (std::size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}")) {
        text.replace(at, 5, dir);
    }
    return text;
}

class ToolsRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(ToolsRefusal, ExitsWithItsStatusAndSaysWhy) {
    boardkit::TempDir dir;
    tsstest::FastRtps badDomain(kDomainRefusals);
    badDomain.domainId = "999";
    dir.write("good.xml", tsstest::FastRtps(kDomainRefusals).document());
    dir.write("nobody.xml", tsstest::FastRtps(kDomainNobody).document());
    dir.write("notxml.xml", "FastRtps = SHM\n");
    dir.write("nofastrtps.xml", tsstest::Document(tsstest::Connection("UTCTime", "UTCTime")));
    dir.write("baddomain.xml", badDomain.document());
    std::vector<std::string> argv;
    for (const std::string& arg : GetParam().argv) {
        argv.push_back(Expand(arg, dir.path()));
    }
    auto tool = Spawn(argv);
    EXPECT_EQ(GetParam().status, ExitStatus(*tool)) << tool->output();
    EXPECT_THAT(tool->output(), HasSubstr(Expand(GetParam().output, dir.path())));
}

const std::string kSource = UTCTIME_SOURCE_PATH;
const std::string kCmd = CHRONAVEL_CMD_PATH;
const std::string kMonitor = EVENTLOG_MONITOR_PATH;

INSTANTIATE_TEST_SUITE_P(
    Table, ToolsRefusal,
    testing::Values(
        Refusal{"MissingFile", {kSource, "--config", "{dir}/none.xml"}, 2,
                "utctime-source: cannot use connections file {dir}/none.xml: No such file or directory\n"},
        Refusal{"NotXml", {kMonitor, "--config", "{dir}/notxml.xml"}, 2,
                "eventlog-monitor: cannot use connections file {dir}/notxml.xml: not an XML document"},
        Refusal{"NoFastRtpsSet", {kCmd, "--config", "{dir}/nofastrtps.xml", "ping"}, 2,
                "chronavel-cmd: cannot use connections file {dir}/nofastrtps.xml: no \"FastRtps\" set\n"},
        Refusal{"BadDomain", {kSource, "--config", "{dir}/baddomain.xml"}, 2,
                "utctime-source: cannot use connections file {dir}/baddomain.xml: its \"FastRtps\" set"},
        Refusal{"UnknownConnection", {kSource, "--config", "{dir}/good.xml", "--connection", "GPSTime"}, 2,
                "utctime-source: no connection \"GPSTime\" in {dir}/good.xml\n"},
        Refusal{"UnknownResponseConnection",
                {kCmd, "--config", "{dir}/good.xml", "--response-connection", "Reply", "live"}, 2,
                "chronavel-cmd: no connection \"Reply\" in {dir}/good.xml\n"},
        Refusal{"ParticipantSetIsNoConnection", {kMonitor, "--config", "{dir}/good.xml", "--connection", "FastRtps"},
                2, "eventlog-monitor: no connection \"FastRtps\" in {dir}/good.xml\n"},
        Refusal{"ConnectionOfAnotherType", {kSource, "--config", "{dir}/good.xml", "--connection", "EventLog"}, 2,
                "connection \"EventLog\" carries aspn2_msgs::idl::EventLog, not aspn2_msgs::idl::UTCTime\n"},
        Refusal{"NoConfig", {kSource, "--rate", "2"}, 2,
                "utctime-source: --config is required (try 'utctime-source --help')\n"},
        Refusal{"RateOutOfRange", {kSource, "--config", "{dir}/good.xml", "--rate", "0"}, 2,
                "utctime-source: --rate needs a number from 0.001 to 100, not '0'"},
        Refusal{"OffsetAfterAlone", {kSource, "--config", "{dir}/good.xml", "--offset-after", "3"}, 2,
                "--offset-after and --offset-ms-after go together"},
        Refusal{"BadRange", {kSource, "--config", "{dir}/good.xml", "--bad", "5:2"}, 2, "--bad needs FROM:TO"},
        Refusal{"NoWord", {kCmd, "--config", "{dir}/good.xml"}, 2, "chronavel-cmd: expected 1 argument(s)"},
        Refusal{"UnknownOption", {kMonitor, "--config", "{dir}/good.xml", "--follow"}, 2,
                "eventlog-monitor: unknown option --follow (try 'eventlog-monitor --help')\n"},
        Refusal{"SourceHelp", {kSource, "--help"}, 0, "Usage: utctime-source --config FILE [options]\n"},
        Refusal{"CmdHelp", {kCmd, "--help"}, 0, "Usage: chronavel-cmd --config FILE [options] WORD\n"},
        Refusal{"MonitorHelp", {kMonitor, "--help"}, 0, "  --count N"},
        Refusal{"NoServer", {kCmd, "--config", "{dir}/nobody.xml", "--timeout", "1", "ping"}, 1,
                "chronavel-cmd: no peer on \"Command\" and \"Response\" within 1 s\n"},
        Refusal{"NoEvent", {kMonitor, "--config", "{dir}/nobody.xml", "--count", "1", "--timeout", "1"}, 1,
                "eventlog-monitor: 0 of 1 event(s) within 1 s\n"}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

// ---- exchanges ----

TEST(ToolsExchange, UtcTimeSourceStampsEachWholeSecondOfTrueUtc) {
    constexpr int64_t kOffsetNs = -250000;  // --offset-ms -0.25
    tsstest::Collector<idl::UTCTime> got;  // outlives the peer's reader
    tsstest::Service peer("Platform", tsstest::FastRtps(kDomainUtc).document());
    auto typed = tsstest::Typed<idl::UTCTime>(peer, -1, peer.connect("UTCTime"), got.callback());
    const boardkit::TimeBase timeBase(20);
    auto source = Spawn({kSource, "--config", peer.dir.file("connections.xml"), "--count", "2", "--rate", "20",
                         "--server-id", "97", "--leap", "17", "--offset-ms", "-0.25", "--noise-ns", "1000",
                         "--bad", "2:2", "--wait-reader", "30"});
    ASSERT_EQ(0, ExitStatus(*source)) << source->output();
    ASSERT_TRUE(got.waitFor(2, 20s)) << source->output();

    std::vector<int64_t> wholeNs;
    std::vector<int64_t> tovNs;
    for (const auto& d : got.deliveries()) {
        const idl::UTCTime& m = d.message;
        SCOPED_TRACE(m.header().seq_num());
        EXPECT_EQ(97 << 16, m.header().device_id());
        EXPECT_EQ(static_cast<int64_t>(wholeNs.size()), m.header().seq_num());
        const char* variance = wholeNs.empty() ? "1e-16" : "1e-10";  // the second is a bad one
        EXPECT_DOUBLE_EQ(std::stod(variance), m.covariance()[0][0]);
        EXPECT_EQ(m.gps_tow_nsec(), m.utc_tod_nsec());
        EXPECT_TRUE(m.utc_tod_nsec() >= 0 && m.utc_tod_nsec() < 1e9) << m.utc_tod_nsec();
        EXPECT_TRUE(m.gps_tow_sec() >= 0 && m.gps_tow_sec() < 604800) << m.gps_tow_sec();
        const int64_t utcSec = int64_t{m.gps_week()} * 604800 + m.gps_tow_sec() + 315964800 - 17;
        EXPECT_EQ(utcSec % 86400, m.utc_tod_sec());
        const int64_t utcNs = utcSec * 1000000000 + static_cast<int64_t>(m.utc_tod_nsec());
        // The true second the message was sent for, which the noise hides
        // by microseconds at most.
        const int64_t whole = (utcNs - kOffsetNs + 500000000) / 1000000000 * 1000000000;
        EXPECT_NEAR(static_cast<double>(utcNs - kOffsetNs - whole), 0, 10000);
        EXPECT_EQ(Ns(m.header().timestamp_valid()), Ns(m.header().timestamp_arrival()));
        // This process reads the host's UTC at boot a little apart from
        // the tool; the FPGA time of the second is the same.
        const ASPN2::FpgaTime expected = ASPN2::fpgaTicksToTime(boardkit::TimeBase::ticksAt(timeBase.simAtTrueUtc(whole)));
        const int64_t expectedNs = expected.sec * 1000000000 + expected.nsec;
        EXPECT_NEAR(static_cast<double>(Ns(m.header().timestamp_valid()) - expectedNs), 0, 1e6);
        // What the tool prints for it.
        const time_t sec = static_cast<time_t>(utcSec);
        char iso[64];
        std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", std::gmtime(&sec));
        char line[160];
        std::snprintf(line, sizeof line, "%lld %s.%09lld", static_cast<long long>(wholeNs.size() + 1), iso,
                      static_cast<long long>(utcNs - utcSec * 1000000000));
        EXPECT_THAT(source->output(),
                    HasSubstr(std::string(line) + "Z offset -0.250000 ms variance " + variance + "\n"));
        wholeNs.push_back(whole);
        tovNs.push_back(Ns(m.header().timestamp_valid()));
    }
    ASSERT_EQ(2u, wholeNs.size());
    // Whole seconds of simulated time apart, to the tick (16.95 ns).
    EXPECT_GT(wholeNs[1], wholeNs[0]);
    EXPECT_NEAR(static_cast<double>(tovNs[1] - tovNs[0]), static_cast<double>(wholeNs[1] - wholeNs[0]), 17);
}

TEST(ToolsExchange, EventLogMonitorPrintsEachEventOnOneLine) {
    tsstest::Service peer("Platform", tsstest::FastRtps(kDomainEvents).document());
    const auto out = peer.connect("EventLog");
    auto typed = tsstest::Typed<idl::EventLog>(peer, out);
    const std::string config = peer.dir.file("connections.xml");
    auto text = Spawn({kMonitor, "--config", config, "--count", "1", "--timeout", "60"});
    auto json = Spawn({kMonitor, "--config", config, "--count", "1", "--json"});
    const auto& writer = tsstest::At(*peer.tss, out);
    ASSERT_TRUE(tsstest::WaitUntil([&] { return writer.publisherListener()->matched() == 2; }, 30s));

    idl::EventLog event = tsstest::Event(1, "PHC \"ptp0\" set\nC:\\dir\tx");
    event.header().device_id(44 << 16 | 1 << 8);
    event.header().seq_num(7);
    event.header().timestamp_valid().sec(12);
    event.header().timestamp_valid().nsec(-8);  // the FPGA counter's first ticks
    event.event_log_type(idl::EVENT_LOG_TYPE_FAULT);
    ASSERT_EQ(FACE::RETURN_CODE_TYPE::NO_ERROR, tsstest::Send(*typed, out, event));

    EXPECT_EQ(0, ExitStatus(*text)) << text->output();
    EXPECT_EQ("11.999999992 Chronavel FAULT 7 PHC \"ptp0\" set\\nC:\\\\dir\\tx\n", text->output());
    EXPECT_EQ(0, ExitStatus(*json)) << json->output();
    EXPECT_EQ("{\"tov\":\"11.999999992\",\"server\":\"Chronavel\",\"server_id\":44,\"type\":\"FAULT\",\"seq\":7,"
              "\"text\":\"PHC \\\"ptp0\\\" set\\nC:\\\\dir\\tx\"}\n",
              json->output());
}

// The test answers as the server would, after replies that are not for
// the tool: to another command, to another device, and a command.
TEST(ToolsExchange, ChronavelCmdTakesOnlyTheReplyToItsOwnCommand) {
    struct Row {
        const char* word;
        const char* sent;
        const char* output;
    };
    const Row rows[] = {{"ping", "BITSERVER_PING", "Chronavel\n"},
                        {"zeroize", "START_ZEROIZE", "START_ZEROIZE sent; no reply is expected\n"}};
    // What the peer's reader uses outlives the peer.
    ASPN2::CmdResponse builder{ASPN2::DeviceIdFactory(uint8_t{0}, uint8_t{44})};
    FACE::TSS::Details::QV_TypedTS<idl::CommandResponse>* replies = nullptr;
    tsstest::Collector<idl::CommandResponse> commands;
    const auto onCommand = commands.callback();
    tsstest::Service peer("Chronavel", tsstest::FastRtps(kDomainCmd).document());
    const auto responseOut = peer.connect("Response");
    auto typed = tsstest::Typed<idl::CommandResponse>(
        peer, responseOut, peer.connect("Command"),
        [&](FACE::TSS::CONNECTION_ID_TYPE id, FACE::TSS::TRANSACTION_ID_TYPE t, const idl::CommandResponse& command,
            const FACE::TSS::HEADER_TYPE& h, const FACE::TSS::QoS_EVENT_TYPE& q, FACE::RETURN_CODE_TYPE::Value& c) {
            onCommand(id, t, command, h, q, c);
            if (command.command_response() != "BITSERVER_PING") {
                return;
            }
            idl::CommandResponse otherCommand = builder.makeResponse(command, std::string("other command"));
            otherCommand.command_identifier(command.command_identifier() + 1);
            idl::CommandResponse otherDevice = builder.makeResponse(command, std::string("other device"));
            otherDevice.commanded_device_id(command.header().device_id() + 1);
            idl::CommandResponse notReply = builder.makeResponse(command, std::string("a command"));
            notReply.command_response_type(idl::COMMAND_RESPONSE_TYPE_COMMAND);
            for (const auto& m : {otherCommand, otherDevice, notReply, builder.makeResponse(command, "Chronavel")}) {
                tsstest::Send(*replies, responseOut, m);
            }
        });
    replies = typed.get();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word);
        auto cmd = Spawn({kCmd, "--config", peer.dir.file("connections.xml"), "--timeout", "30", row.word});
        EXPECT_EQ(0, ExitStatus(*cmd)) << cmd->output();
        EXPECT_EQ(row.output, cmd->output());
    }
    ASSERT_TRUE(commands.waitFor(2, 20s));
    const auto received = commands.deliveries();
    for (std::size_t i = 0; i < 2; ++i) {
        const idl::CommandResponse& command = received[i].message;
        EXPECT_EQ(rows[i].sent, command.command_response());
        EXPECT_EQ(idl::COMMAND_RESPONSE_TYPE_COMMAND, command.command_response_type());
        EXPECT_NE(44, (command.header().device_id() >> 16) & 0xff);
    }
}

}  // namespace
