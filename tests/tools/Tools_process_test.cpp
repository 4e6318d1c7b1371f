#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "ASPN/CmdResponse.h"
#include "ASPN/TimeCodeHelper.h"
#include "boardkit/ChildProcess.h"
#include "boardkit/SimHost.h"
#include "boardkit/TimeBase.h"
#include "support/TssTestSupport.h"

using boardkit::ChildProcess;
using testing::HasSubstr;
using namespace std::chrono_literals;
namespace idl = aspn2_msgs::idl;

namespace {
// "{dir}" stands for the test's directory, a tool for its short name.
std::string Expand(const std::string& text, const std::string& dir) {
    return std::regex_replace(text, std::regex("\\{dir\\}"), dir);
}

std::unique_ptr<ChildProcess> Spawn(const std::string& commandLine, const std::string& dir) {
    std::istringstream words(Expand(commandLine, dir));
    std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
    argv[0] = std::map<std::string, std::string>{
        {"source", UTCTIME_SOURCE_PATH}, {"cmd", CHRONAVEL_CMD_PATH}, {"monitor", EVENTLOG_MONITOR_PATH}}.at(argv[0]);
    return std::make_unique<ChildProcess>(argv);
}

int64_t Ns(const idl::timestamp& t) { return t.sec() * 1000000000 + t.nsec(); }
}  // namespace

TEST(Tools, EachRefusalExitsWithItsStatusAndSaysWhy) {
    boardkit::TempDir dir;
    dir.write("good.xml", tsstest::FastRtps(220).document());
    dir.write("nobody.xml", tsstest::FastRtps(221).document());
    dir.write("notxml.xml", "FastRtps = SHM\n");
    dir.write("nofastrtps.xml", tsstest::Document(tsstest::Connection("UTCTime", "UTCTime")));
    dir.write("baddomain.xml", tsstest::FastRtps(999).document());
    const std::tuple<std::string, int, std::string> rows[] = {
        {"source --config {dir}/none.xml", 2,
         "utctime-source: cannot use connections file {dir}/none.xml: No such file or directory\n"},
        {"monitor --config {dir}/notxml.xml", 2,
         "eventlog-monitor: cannot use connections file {dir}/notxml.xml: not an XML document"},
        {"cmd --config {dir}/nofastrtps.xml ping", 2,
         "chronavel-cmd: cannot use connections file {dir}/nofastrtps.xml: no \"FastRtps\" set\n"},
        {"source --config {dir}/baddomain.xml", 2,
         "utctime-source: cannot use connections file {dir}/baddomain.xml: no DDS participant can be made from it"},
        {"source --config {dir}/good.xml --connection GPSTime", 2,
         "utctime-source: no connection \"GPSTime\" in {dir}/good.xml\n"},
        {"cmd --config {dir}/good.xml --response-connection Reply live", 2,
         "chronavel-cmd: no connection \"Reply\" in {dir}/good.xml\n"},
        {"monitor --config {dir}/good.xml --connection FastRtps", 2,
         "eventlog-monitor: no connection \"FastRtps\" in {dir}/good.xml\n"},
        {"source --config {dir}/good.xml --connection EventLog", 2,
         "connection \"EventLog\" carries aspn2_msgs::idl::EventLog, not aspn2_msgs::idl::UTCTime\n"},
        {"source --rate 2", 2, "utctime-source: --config is required (try 'utctime-source --help')\n"},
        {"source --config {dir}/good.xml --rate 0", 2,
         "utctime-source: --rate needs a number from 0.001 to 100, not '0'"},
        {"source --config {dir}/good.xml --offset-after 3", 2, "--offset-after and --offset-ms-after go together"},
        {"source --config {dir}/good.xml --bad 5:2", 2, "--bad needs FROM:TO"},
        {"cmd --config {dir}/good.xml", 2, "chronavel-cmd: expected 1 argument(s)"},
        {"monitor --config {dir}/good.xml --follow", 2,
         "eventlog-monitor: unknown option --follow (try 'eventlog-monitor --help')\n"},
        {"source --help", 0, "Usage: utctime-source --config FILE [options]\n"},
        {"cmd --help", 0, "Usage: chronavel-cmd --config FILE [options] WORD\n"},
        {"monitor --help", 0, "  --count N"},
        {"cmd --config {dir}/nobody.xml --timeout 1 ping", 1,
         "chronavel-cmd: no peer on \"Command\" and \"Response\" within 1 s\n"},
        {"monitor --config {dir}/nobody.xml --count 1 --timeout 1", 1,
         "eventlog-monitor: 0 of 1 event(s) within 1 s\n"}};
    for (const auto& [commandLine, status, says] : rows) {
        auto tool = Spawn(commandLine, dir.path());
        EXPECT_EQ(status, tool->exitCode(60s)) << commandLine << "\n" << tool->output();
        EXPECT_THAT(tool->output(), HasSubstr(Expand(says, dir.path()))) << commandLine;
    }
}

TEST(Tools, UtcTimeSourceStampsEachWholeSecondOfTrueUtc) {
    constexpr int64_t kOffsetNs = -250000;  // --offset-ms -0.25
    tsstest::Collector<idl::UTCTime> got;  // outlives the peer's reader
    tsstest::Service peer("Platform", tsstest::FastRtps(222).document());
    auto typed = tsstest::Typed<idl::UTCTime>(peer, -1, peer.connect("UTCTime"), got.callback());
    auto source = Spawn("source --config {dir}/connections.xml --count 2 --rate 20 --server-id 97 --leap 17 "
                        "--offset-ms -0.25 --noise-ns 1000 --bad 2:2 --wait-reader 30", peer.dir.path());
    ASSERT_EQ(0, source->exitCode(60s)) << source->output();
    ASSERT_TRUE(got.waitFor(2, 20s)) << source->output();
    const boardkit::TimeBase timeBase(20);
    std::vector<int64_t> wholeNs, tovNs;
    for (const auto& d : got.deliveries()) {
        const idl::UTCTime& m = d.message;
        const int64_t tov = Ns(m.header().timestamp_valid());
        SCOPED_TRACE(m.header().seq_num());
        EXPECT_EQ(std::make_tuple(97 << 16, static_cast<int64_t>(wholeNs.size()), m.gps_tow_nsec(), tov),
                  std::make_tuple(m.header().device_id(), m.header().seq_num(), m.utc_tod_nsec(),
                                  Ns(m.header().timestamp_arrival())));
        const char* variance = wholeNs.empty() ? "1e-16" : "1e-10";  // the second is a bad one
        EXPECT_DOUBLE_EQ(std::stod(variance), m.covariance()[0][0]);
        EXPECT_TRUE(m.utc_tod_nsec() >= 0 && m.utc_tod_nsec() < 1e9) << m.utc_tod_nsec();
        EXPECT_TRUE(m.gps_tow_sec() >= 0 && m.gps_tow_sec() < 604800) << m.gps_tow_sec();
        const int64_t utcSec = int64_t{m.gps_week()} * 604800 + m.gps_tow_sec() + 315964800 - 17;
        EXPECT_EQ(utcSec % 86400, m.utc_tod_sec());
        const int64_t utcNs = utcSec * 1000000000 + static_cast<int64_t>(m.utc_tod_nsec());
        // The true second it was sent for, which the noise hides by microseconds.
        const int64_t whole = (utcNs - kOffsetNs + 500000000) / 1000000000 * 1000000000;
        EXPECT_NEAR(static_cast<double>(utcNs - kOffsetNs - whole), 0, 10000);
        // This process reads the host's UTC at boot a little apart from the
        // tool; the FPGA time of the second is the same.
        const auto expected = ASPN2::fpgaTicksToTime(boardkit::TimeBase::ticksAt(timeBase.simAtTrueUtc(whole)));
        EXPECT_NEAR(static_cast<double>(tov - expected.sec * 1000000000 - expected.nsec), 0, 1e6);
        EXPECT_THAT(source->output(), HasSubstr(std::to_string(wholeNs.size() + 1) + " " + boardkit::isoTime(utcNs) +
                                                " offset -0.250000 ms variance " + variance + "\n"));
        wholeNs.push_back(whole);
        tovNs.push_back(tov);
    }
    ASSERT_EQ(2u, wholeNs.size());
    // Whole seconds of simulated time apart, to the tick (16.95 ns).
    EXPECT_GT(wholeNs[1], wholeNs[0]);
    EXPECT_NEAR(static_cast<double>(tovNs[1] - tovNs[0]), static_cast<double>(wholeNs[1] - wholeNs[0]), 17);
}

TEST(Tools, EventLogMonitorPrintsEachEventOnOneLine) {
    tsstest::Service peer("Platform", tsstest::FastRtps(223).document());
    const auto out = peer.connect("EventLog");
    auto typed = tsstest::Typed<idl::EventLog>(peer, out);
    auto text = Spawn("monitor --config {dir}/connections.xml --count 1 --timeout 60", peer.dir.path());
    auto json = Spawn("monitor --config {dir}/connections.xml --count 1 --json", peer.dir.path());
    const auto bothMatched = [&] { return tsstest::At(*peer.tss, out).publisherListener()->matched() == 2; };
    ASSERT_TRUE(tsstest::WaitUntil(bothMatched, 30s));
    idl::EventLog event = tsstest::Event(1, "PHC \"ptp0\" set\nC:\\dir\tx");
    event.header().device_id(44 << 16 | 1 << 8);
    event.header().seq_num(7);
    event.header().timestamp_valid().sec(12);
    event.header().timestamp_valid().nsec(-8);  // the FPGA counter's first ticks
    event.event_log_type(idl::EVENT_LOG_TYPE_FAULT);
    ASSERT_EQ(FACE::RETURN_CODE_TYPE::NO_ERROR, tsstest::Send(*typed, out, event));
    EXPECT_EQ(0, text->exitCode(60s)) << text->output();
    EXPECT_EQ("11.999999992 Chronavel FAULT 7 PHC \"ptp0\" set\\nC:\\\\dir\\tx\n", text->output());
    EXPECT_EQ(0, json->exitCode(60s)) << json->output();
    EXPECT_EQ("{\"tov\":\"11.999999992\",\"server\":\"Chronavel\",\"server_id\":44,\"type\":\"FAULT\",\"seq\":7,"
              "\"text\":\"PHC \\\"ptp0\\\" set\\nC:\\\\dir\\tx\"}\n",
              json->output());
}

// The test answers as the server would, after replies that are not for
// the tool: to another command, to another device, and a command.
TEST(Tools, ChronavelCmdTakesOnlyTheReplyToItsOwnCommand) {
    ASPN2::CmdResponse builder{ASPN2::DeviceIdFactory(uint8_t{0}, uint8_t{44})};
    tsstest::Collector<idl::CommandResponse> commands;  // outlives the peer
    const auto onCommand = commands.callback();
    tsstest::Service peer("Chronavel", tsstest::FastRtps(224).document());
    const auto responseOut = peer.connect("Response");
    FACE::TSS::Details::QV_TypedTS<idl::CommandResponse>* replies = nullptr;
    auto typed = tsstest::Typed<idl::CommandResponse>(
        peer, responseOut, peer.connect("Command"),
        [&](auto id, auto t, const idl::CommandResponse& command, const auto& h, const auto& q, auto& c) {
            onCommand(id, t, command, h, q, c);
            if (command.command_response() != "BITSERVER_PING") return;
            auto otherCommand = builder.makeResponse(command, std::string("other command"));
            otherCommand.command_identifier(command.command_identifier() + 1);
            auto otherDevice = builder.makeResponse(command, std::string("other device"));
            otherDevice.commanded_device_id(command.header().device_id() + 1);
            auto notReply = builder.makeResponse(command, std::string("a command"));
            notReply.command_response_type(idl::COMMAND_RESPONSE_TYPE_COMMAND);
            for (const auto& m : {otherCommand, otherDevice, notReply, builder.makeResponse(command, "Chronavel")}) {
                tsstest::Send(*replies, responseOut, m);
            }
        });
    replies = typed.get();
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"ping", "BITSERVER_PING", "Chronavel\n"},
        {"zeroize", "START_ZEROIZE", "START_ZEROIZE sent; no reply is expected\n"}};
    for (const auto& [word, sent, says] : rows) {
        auto cmd = Spawn("cmd --config {dir}/connections.xml --timeout 30 " + word, peer.dir.path());
        EXPECT_EQ(0, cmd->exitCode(60s)) << cmd->output();
        EXPECT_EQ(says, cmd->output());
    }
    ASSERT_TRUE(commands.waitFor(2, 20s));
    const auto received = commands.deliveries();
    for (std::size_t i = 0; i < 2; ++i) {
        const idl::CommandResponse& command = received[i].message;
        EXPECT_EQ(std::get<1>(rows[i]), command.command_response());
        EXPECT_EQ(idl::COMMAND_RESPONSE_TYPE_COMMAND, command.command_response_type());
        EXPECT_NE(44, (command.header().device_id() >> 16) & 0xff);
    }
}
