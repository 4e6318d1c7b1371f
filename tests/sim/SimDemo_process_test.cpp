// The simulator, the time source and the event monitor as real processes
// on loopback: the whole discipline, what the simulated board saw of it,
// and a clean end with nothing left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <regex>

#include "ASPN/TimeCodeHelper.h"
#include "boardkit/Board.h"
#include "boardkit/ChildProcess.h"
#include "support/TssTestSupport.h"

using boardkit::ChildProcess;
using testing::HasSubstr;
using namespace std::chrono_literals;
namespace idl = aspn2_msgs::idl;

namespace {
// The lines of text in which the regular expression matches, in their order.
std::vector<std::string> linesWith(const std::string& text, const std::string& pattern) {
    const std::regex line("[^\n]*(" + pattern + ")[^\n]*");
    return {std::sregex_token_iterator(text.begin(), text.end(), line), std::sregex_token_iterator()};
}

std::vector<int> ntpUnits() {
    std::vector<int> units;
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        if (shmget(boardkit::NtpSegmentsGuard::key(unit), 0, 0) != -1) units.push_back(unit);
    }
    return units;
}
}  // namespace

// At 8x; and at real time, for a real NTP daemon: chronyd, reading the
// segment the server feeds, sees the source's shift after the clock was stepped.
class SimDemo : public testing::TestWithParam<bool> {};

TEST_P(SimDemo, TheWholeScheduleOnTheSimulatedBoard) {
    const bool chronyd = GetParam();
    const std::string rate = chronyd ? "1" : "8";
    const uint32_t domain = chronyd ? 227 : 226;
    ASSERT_TRUE(!chronyd || access(boardkit::chronydPath().c_str(), X_OK) == 0) << boardkit::chronydPath();
    boardkit::NtpSegmentsGuard guard;
    const std::vector<int> unitsBefore = ntpUnits();
    boardkit::ScriptedBoard files;
    boardkit::ServerSettings settings;
    settings.dds = boardkit::FastRtps(domain, "UDP");
    // The monitor may match after the first events (under emulation, on a busy machine): it is sent them late.
    settings.dds.backFillHistory = "true";
    settings.dds.historyDepth = "20";
    settings.ppsCount = "0";
    const std::string topLevel = files.writeConfiguration(settings);
    const bool privateIpc = getuid() == 0;  // then its NTP segments are in an IPC namespace of its own
    const std::string conn = files.dir.file("connections.xml");
    // The test reads the source's messages too, for their exact time stamps.
    tsstest::Service peer("Peer", tsstest::FastRtps(domain, "UDP").document());
    tsstest::Collector<idl::UTCTime> sent;
    auto reader = tsstest::Typed<idl::UTCTime>(peer, -1, peer.connect("UTCTime"), sent.callback());
    auto monitor = std::make_unique<ChildProcess>(std::vector<std::string>{EVENTLOG_MONITOR_PATH, "--config", conn});
    std::vector<std::string> simArgs = {CHRONAVEL_SIM_PATH, "--rate", rate, "--clock-error", "2.5", topLevel};
    if (privateIpc) simArgs.insert(simArgs.end() - 1, "--private-ipc");
    if (chronyd) simArgs.insert(simArgs.end() - 1, "--chronyd");
    auto simulator = std::make_unique<ChildProcess>(simArgs);
    ASSERT_TRUE(simulator->waitForOutput("sim: FPGA Peripheral_Interface word 0x8", 30s)) << simulator->output();
    // Two readers, the simulator's and this test's, before the source starts.
    // Step at message 1, chronyd from 19, samples from 23, +1.5 ms from 27, pmc at 48.
    ChildProcess source({UTCTIME_SOURCE_PATH, "--config", conn, "--rate", rate, "--count", "50", "--offset-after",
                         "27", "--offset-ms-after", "1.5", "--wait-reader", "20", "--readers", "2", "--quiet"});
    ASSERT_TRUE(simulator->waitForOutput("sim: $ pmc ", 120s)) << simulator->output();
    EXPECT_EQ(0, source.exitCode(60s)) << source.output();
    std::smatch logs;
    std::string chronyLogs;
    std::vector<double> offsets;  // chronyd's raw samples, once the shifted seconds show
    if (chronyd && std::regex_search(simulator->output(), logs, std::regex(R"(its logs: (\S+))"))) {
        chronyLogs = logs[1];
        const std::regex sample(R"((^|\n) *\S+ +\S+ +SIM +\d+ +\S+ +\S+ +(\S+))");
        tsstest::WaitUntil([&] {
            const std::string log = boardkit::readFile(chronyLogs + "/refclocks.log");
            offsets.clear();
            for (std::sregex_iterator it(log.begin(), log.end(), sample), end; it != end; ++it) {
                offsets.push_back(std::stod((*it)[2]));
            }
            return offsets.size() >= 8 && offsets.back() - offsets.front() > 1e-3;
        }, 30s);
    }
    EXPECT_EQ(0, simulator->stop(60s)) << simulator->output();
    const std::string out = simulator->output();
    EXPECT_THAT(out, HasSubstr("has exited. Signal: 15"));
    ASSERT_TRUE(monitor->waitForOutput("stopped successfully.", 10s)) << monitor->output();
    EXPECT_EQ(0, monitor->stop(60s));
    // chrony's offset is the reference minus the system clock: before the shift it
    // depends on the machine (the step is judged below), the shift itself is exact.
    if (chronyd) {
        ASSERT_GE(offsets.size(), 8u) << out;
        EXPECT_NEAR(1.5e-3, offsets.back() - offsets.front(), 50e-6);
        EXPECT_NE(0, access(chronyLogs.c_str(), F_OK)) << "the simulator left chronyd's directory";
        EXPECT_THAT(out, HasSubstr("chronyd (pid"));
    }
    // The health events, in the order of the schedule.
    const std::string milestones = "started successfully\\.|Bulk clock move successful|1PPS interrupt has been enabled|"
                                   "NTP daemon has been started|priority has been changed|Set PHC clock time to|"
                                   "PPS Slave has been enabled|PTP daemon has been started|stopped successfully\\.";
    std::string events;
    for (const std::string& line : linesWith(monitor->output(), milestones)) events += line + "\n";
    const std::string inOrder = std::regex_replace(milestones, std::regex("\\|"), "[^\\n]*\n[^\\n]*");
    EXPECT_TRUE(std::regex_match(events, std::regex("[^\\n]*" + inOrder + "[^\\n]*\n"))) << monitor->output();
    // What the board saw: the FPGA words and the daemon commands, in order.
    EXPECT_THAT(linesWith(out, "sim: FPGA P|sim: \\$"),
                testing::ElementsAre(
                    "sim: FPGA Peripheral_Interface word 0x8 (index 2) = 0x5",
                    "sim: FPGA Peripheral_Interface word 0xC (index 3) = 0x1",
                    "sim: $ pidof ntpd > /dev/null -> exit 1", "sim: $ /etc/init.d/S49ntp start -> exit 0",
                    "sim: $ chrt -f -p 33 `pidof ntpd` -> exit 0",
                    "sim: FPGA PpsSlave_Interface word 0x20 (index 8) = 0x0",
                    "sim: FPGA PpsSlave_Interface word 0x0 (index 0) = 0x1",
                    "sim: FPGA PtpClock_Interface word 0x8 (index 2) = 0x3", "sim: $ pidof ptp4l > /dev/null -> exit 1",
                    "sim: $ ptp4l -f /opt/quorvane/config/linuxptp.cfg & -> exit 0",
                    HasSubstr("sim: $ pmc -u -b 0 \"set GRANDMASTER_SETTINGS_NP clockClass 248 "),
                    "sim: FPGA Peripheral_Interface word 0xC (index 3) = 0x0"));
    // The clock step: the UTC of the settling message plus the FPGA time
    // elapsed since its time of validity, to the microsecond below.
    std::smatch step, phc, image;
    ASSERT_TRUE(std::regex_search(
        out, step, std::regex(R"(stepped by \S+ s to \S+ \((\d+)\.(\d{9})\); FPGA counter last read at (\d+) ticks)")));
    const int64_t steppedTo = std::stoll(step[1]) * 1000000000 + std::stoll(step[2]);
    const ASPN2::FpgaTime read = ASPN2::fpgaTicksToTime(std::stoull(step[3]));
    int matched = 0;
    for (const auto& d : sent.deliveries()) {
        const idl::UTCTime& m = d.message;
        const auto& tov = m.header().timestamp_valid();
        const int64_t elapsed = (read.sec - tov.sec()) * 1000000000 + (read.nsec - tov.nsec());
        const int64_t ideal = (int64_t{m.gps_week()} * 604800 + m.gps_tow_sec() + 315964800 - 18) * 1000000000 +
                              std::llround(m.gps_tow_nsec()) + elapsed;
        if (elapsed >= 0 && elapsed < 1000000000) {
            ++matched;
            EXPECT_LE(steppedTo, ideal + 17);  // a tick: 10^9 / 58 982 400 ns, rounded up
            EXPECT_GT(steppedTo, ideal - 1000 - 17) << "more than the microsecond the clock cannot take";
        }
    }
    EXPECT_GT(matched, 0) << "no message within a second before the counter read";
    // The PHC: UTC plus the configured 37 s, less what passed between
    // reading the clock and setting the PHC.
    ASSERT_TRUE(std::regex_search(out, phc, std::regex(R"(PHC set to \S+, \+(\d+\.\d+) s from the system clock)")));
    EXPECT_NEAR(37.0, std::stod(phc[1]), 0.01);
    ASSERT_TRUE(std::regex_search(out, image, std::regex(R"(FPGA register image (/tmp/chronavel-sim-\w+)/)")));
    EXPECT_NE(0, access(image[1].str().c_str(), F_OK)) << image[1] << " is still there";
    EXPECT_TRUE(privateIpc || ntpUnits() == unitsBefore) << "the simulator left NTP segments";
}

INSTANTIATE_TEST_SUITE_P(Sim, SimDemo, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Chronyd" : "Rate8"; });
