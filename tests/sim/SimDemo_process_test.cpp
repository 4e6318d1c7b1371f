// The simulator, the time source and the event monitor as real processes
// on loopback: the whole discipline, what the simulated board saw of it,
// and a clean end with nothing left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "ASPN/TimeCodeHelper.h"
#include "boardkit/Board.h"
#include "boardkit/TimeBase.h"
#include "boardkit/ChildProcess.h"
#include "support/TssTestSupport.h"

using testing::HasSubstr;
using boardkit::ChildProcess;
using namespace std::chrono_literals;
namespace idl = aspn2_msgs::idl;

namespace {

enum Domain : uint32_t { kDomainDemo = 226, kDomainChrony = 227 };

// A simulated board's configuration (written by the board kit), and the
// programs around it. As root, the simulator keeps its NTP segments in an
// IPC namespace of its own.
struct Board {
    Board(uint32_t domain, const std::string& ppsCount) {
        boardkit::ServerSettings settings;
        settings.dds = boardkit::FastRtps(domain, "UDP");
        settings.ppsCount = ppsCount;
        topLevel = files.writeConfiguration(settings);
        connections = files.dir.file("connections.xml");
    }

    std::unique_ptr<ChildProcess> start(std::vector<std::string> argv) {
        return std::make_unique<ChildProcess>(argv);
    }
    std::unique_ptr<ChildProcess> simulator(std::vector<std::string> options) {
        options.insert(options.begin(), CHRONAVEL_SIM_PATH);
        if (privateIpc) {
            options.push_back("--private-ipc");
        }
        options.push_back(topLevel);
        return start(options);
    }

    boardkit::ScriptedBoard files;
    std::string connections;
    std::string topLevel;
    const bool privateIpc = getuid() == 0;
};

int exitStatus(ChildProcess& child) {
    const int status = child.wait(60s);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The lines of text that contain one of the needles, in their order.
std::vector<std::string> linesWith(const std::string& text, const std::vector<std::string>& needles) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        for (const std::string& needle : needles) {
            if (line.find(needle) != std::string::npos) {
                found.push_back(line);
                break;
            }
        }
    }
    return found;
}

bool unitsLeft(const bool (&before)[NTPSHM_UNITS]) {
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        if (!before[unit] && shmget(boardkit::NtpSegmentsGuard::key(unit), 0, 0) != -1) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(SimDemo, TheWholeScheduleOnTheSimulatedBoard) {
    boardkit::NtpSegmentsGuard guard;
    bool existed[NTPSHM_UNITS];
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        existed[unit] = shmget(boardkit::NtpSegmentsGuard::key(unit), 0, 0) != -1;
    }
    Board run(kDomainDemo, "1");
    const std::string rate = "8";  // the schedule in a few seconds

    // The test reads the source's messages too, for their exact time stamps.
    tsstest::Service peer("Peer", tsstest::FastRtps(kDomainDemo, "UDP").document());
    tsstest::Collector<idl::UTCTime> sent;
    auto reader = tsstest::Typed<idl::UTCTime>(peer, -1, peer.connect("UTCTime"), sent.callback());

    auto monitor = run.start({EVENTLOG_MONITOR_PATH, "--config", run.connections});
    auto simulator = run.simulator({"--rate", rate, "--clock-error", "2.5"});
    ASSERT_TRUE(simulator->waitForOutput("sim: FPGA Peripheral_Interface word 0x8", 30s)) << simulator->output();
    // Both readers, the simulator's and this test's: either alone would let
    // the source start while the other still misses the first messages.
    auto source = run.start({UTCTIME_SOURCE_PATH, "--config", run.connections, "--rate", rate, "--count", "55",
                             "--wait-reader", "20", "--readers", "2", "--quiet"});
    EXPECT_EQ(0, exitStatus(*source)) << source->output();
    ASSERT_TRUE(simulator->waitForOutput("sim: $ pmc ", 20s)) << simulator->output();

    simulator->signal(SIGTERM);
    EXPECT_EQ(0, exitStatus(*simulator)) << simulator->output();
    const std::string out = simulator->output();
    EXPECT_THAT(out, HasSubstr("has exited. Signal: 15"));
    ASSERT_TRUE(monitor->waitForOutput("stopped successfully.", 10s)) << monitor->output();
    monitor->signal(SIGTERM);
    EXPECT_EQ(0, exitStatus(*monitor));

    // The health events, in the order of the schedule.
    const std::vector<std::string> milestones = {"started successfully.", "Bulk clock move successful",
                                                 "1PPS interrupt has been enabled", "NTP daemon has been started",
                                                 "priority has been changed", "Set PHC clock time to",
                                                 "PPS Slave has been enabled", "PTP daemon has been started",
                                                 "stopped successfully."};
    const std::vector<std::string> events = linesWith(monitor->output(), milestones);
    ASSERT_EQ(milestones.size(), events.size()) << monitor->output();
    for (size_t i = 0; i < milestones.size(); ++i) {
        EXPECT_THAT(events[i], HasSubstr(milestones[i]));
    }

    // What the board saw: the FPGA words and the daemon commands, in order.
    EXPECT_THAT(linesWith(out, {"sim: FPGA P", "sim: $"}),
                testing::ElementsAre(
                    "sim: FPGA Peripheral_Interface word 0x8 (index 2) = 0x5",
                    "sim: FPGA Peripheral_Interface word 0xC (index 3) = 0x1",
                    "sim: $ pidof ntpd > /dev/null -> exit 1", "sim: $ /etc/init.d/S49ntp start -> exit 0",
                    "sim: $ chrt -f -p 33 `pidof ntpd` -> exit 0",
                    "sim: FPGA PpsSlave_Interface word 0x20 (index 8) = 0x0",
                    "sim: FPGA PpsSlave_Interface word 0x0 (index 0) = 0x1",
                    "sim: FPGA PtpClock_Interface word 0x8 (index 2) = 0x3",
                    "sim: $ pidof ptp4l > /dev/null -> exit 1",
                    "sim: $ ptp4l -f /opt/quorvane/config/linuxptp.cfg & -> exit 0",
                    HasSubstr("sim: $ pmc -u -b 0 \"set GRANDMASTER_SETTINGS_NP clockClass 248 "),
                    "sim: FPGA Peripheral_Interface word 0xC (index 3) = 0x0"));

    // The clock step: the UTC of the settling message plus the FPGA time
    // elapsed since its time of validity, to the microsecond below.
    std::smatch step;
    ASSERT_TRUE(std::regex_search(out, step, std::regex(R"(stepped by [-+.0-9]+ s to \S+ \((\d+)\.(\d{9})\); )"
                                                        R"(FPGA counter last read at (\d+) ticks)")))
        << out;
    const int64_t steppedTo = std::stoll(step[1]) * 1000000000 + std::stoll(step[2]);
    const uint64_t counter = std::stoull(step[3]);
    bool matched = false;
    for (const auto& d : sent.deliveries()) {
        const idl::UTCTime& m = d.message;
        const int64_t utc = (int64_t{m.gps_week()} * 604800 + m.gps_tow_sec() + 315964800 - 18) * 1000000000 +
                            std::llround(m.gps_tow_nsec());
        const ASPN2::FpgaTime now = ASPN2::fpgaTicksToTime(counter);
        const int64_t elapsed = (now.sec - m.header().timestamp_valid().sec()) * 1000000000 +
                                (now.nsec - m.header().timestamp_valid().nsec());
        const int64_t ideal = utc + elapsed;
        if (elapsed >= 0 && elapsed < 1000000000) {
            matched = true;
            const int64_t tick = 17;  // 10^9 / 58 982 400 ns, rounded up
            EXPECT_LE(steppedTo, ideal + tick);
            EXPECT_GT(steppedTo, ideal - 1000 - tick) << "more than the microsecond the clock cannot take";
        }
    }
    EXPECT_TRUE(matched) << "no message within a second before the counter read";

    // The PHC: UTC plus the configured 37 s, less what passed between
    // reading the clock and setting the PHC.
    std::smatch phc;
    ASSERT_TRUE(std::regex_search(out, phc, std::regex(R"(PHC set to \S+, \+(\d+\.\d+) s from the system clock)")));
    EXPECT_NEAR(37.0, std::stod(phc[1]), 0.01);

    // Nothing left behind.
    std::smatch image;
    ASSERT_TRUE(std::regex_search(out, image, std::regex(R"(FPGA register image (/tmp/chronavel-sim-\w+)/)")));
    EXPECT_NE(0, access(image[1].str().c_str(), F_OK)) << image[1] << " is still there";
    EXPECT_FALSE(!run.privateIpc && unitsLeft(existed)) << "the simulator left NTP segments";
}

// A real NTP daemon on the simulated board: chronyd, reading the segment the
// server feeds, sees the time source's shift once the clock was stepped.
TEST(SimChrony, ChronydSeesTheSourceShiftAfterTheStep) {
    ASSERT_EQ(0, access(boardkit::chronydPath().c_str(), X_OK))
        << boardkit::chronydPath() << " is missing: run scripts/install-deps.sh";
    boardkit::NtpSegmentsGuard guard;
    Board run(kDomainChrony, "0");
    auto simulator = run.simulator({"--chronyd"});
    ASSERT_TRUE(simulator->waitForOutput("sim: FPGA Peripheral_Interface word 0x8", 30s)) << simulator->output();
    // Step at message 1, chronyd from 19, samples from 23; +1.5 ms from 27.
    auto source = run.start({UTCTIME_SOURCE_PATH, "--config", run.connections, "--count", "34", "--offset-after",
                             "27", "--offset-ms-after", "1.5", "--wait-reader", "20", "--quiet"});
    ASSERT_TRUE(simulator->waitForOutput("its logs: ", 60s)) << simulator->output();
    EXPECT_EQ(0, exitStatus(*source)) << source->output();

    std::smatch logs;
    const std::string out = simulator->output();
    ASSERT_TRUE(std::regex_search(out, logs, std::regex(R"(its logs: (\S+))"))) << out;
    // chronyd's raw samples, until the shifted seconds (from 27) show.
    std::vector<double> offsets;
    tsstest::WaitUntil([&] {
        offsets.clear();
        std::ifstream log(logs[1].str() + "/refclocks.log");
        for (std::string line; std::getline(log, line);) {
            std::istringstream fields(line);
            std::string date, time, refid, polls, leap, pps, raw;
            if (fields >> date >> time >> refid >> polls >> leap >> pps >> raw && refid == "SIM" && polls != "-") {
                offsets.push_back(std::stod(raw));
            }
        }
        return offsets.size() >= 8 && offsets.back() - offsets.front() > 1e-3;
    }, 30s);
    simulator->signal(SIGTERM);
    EXPECT_EQ(0, exitStatus(*simulator)) << simulator->output();
    EXPECT_THAT(simulator->output(), HasSubstr("chronyd (pid"));

    // chrony's offset is the reference minus the system clock. Before the
    // shift it is what the simulated clock lost between reading the FPGA
    // counter and being set, which depends on the machine (tens of
    // microseconds natively, milliseconds under emulation) and is judged in
    // SimDemo from the simulator's own figures; the shift itself is exact.
    ASSERT_GE(offsets.size(), 8u) << out;
    EXPECT_NEAR(1.5e-3, offsets.back() - offsets.front(), 50e-6);
    EXPECT_NE(0, access(logs[1].str().c_str(), F_OK)) << "the simulator left chronyd's directory";
}
