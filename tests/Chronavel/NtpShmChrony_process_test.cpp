#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Chronavel/NtpShm.h"
#include "boardkit/NtpSegments.h"
#include "boardkit/SimHost.h"
#include "boardkit/ChildProcess.h"
#include "boardkit/TempDir.h"

// Our segments against a reader nobody here wrote: Debian's chronyd. It runs
// privately: -x never touches the clock, it has no CAP_SYS_TIME to do so
// anyway, and its ports, sockets, pid file and logs are its own.

using boardkit::ChildProcess;
using boardkit::NtpSegmentsGuard;
using boardkit::TempDir;

namespace {

constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr int kRounds = 3;
constexpr long kCapSysTime = 25;

// t + ns, for |ns| under a second.
timespec shifted(timespec t, long ns) {
    t.tv_nsec += ns;
    const long carry = t.tv_nsec < 0 ? -1 : t.tv_nsec >= 1000000000 ? 1 : 0;
    t.tv_sec += carry;
    t.tv_nsec -= carry * 1000000000;
    return t;
}

// Raw offsets by refid from refclocks.log. chronyd 4.3 writes a raw sample as
// "date time refid DP L P raw-offset cooked-offset dispersion" and a filtered
// one with "-" for DP; the header lines never carry a configured refid.
std::map<std::string, std::vector<double>> rawOffsets(const std::string& path) {
    std::map<std::string, std::vector<double>> offsets;
    std::ifstream log(path);
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string date, time, refid, polls, leap, pps, raw;
        if (fields >> date >> time >> refid >> polls >> leap >> pps >> raw && polls != "-" &&
            std::isdigit(static_cast<unsigned char>(line[0]))) {
            offsets[refid].push_back(std::stod(raw));
        }
    }
    return offsets;
}

}  // namespace

// chronyd's offset is the reference's time minus the system clock's, our real
// minus clock: positive when the system clock is slow. refclocks.log prints it
// so; chronyc sources prints the opposite sign (the system clock's offset).
TEST(NtpShmChrony, ChronydTakesOffsetsWithTheirSignAndRefusesUnsynchronisedSamples) {
    const std::string chronydPath = boardkit::chronydPath();
    ASSERT_EQ(0, access(chronydPath.c_str(), X_OK)) << chronydPath << " is missing: run scripts/install-deps.sh";
    // As root, segments of our own: nothing else on the machine sees them.
    if (getuid() == 0) {
        ASSERT_EQ(0, unshare(CLONE_NEWIPC)) << std::strerror(errno);
    }
    const struct {
        const char* refid;
        long offsetNs;  // real - clock
        int leap;
        bool accepted;
    } rows[] = {
        {"GPS", 1500000, 0, true},    // system clock 1.5 ms slow
        {"FAST", -1500000, 0, true},  // system clock 1.5 ms fast
        {"LEAP", 1500000, 3, false},  // leap 3: not synchronised
    };
    constexpr int kRows = sizeof(rows) / sizeof(rows[0]);

    NtpSegmentsGuard guard;
    ntpshm_context context{};
    ntpshm_context_init(context, 1);
    ntpshm_session sessions[kRows];
    TempDir dir;
    // No NTP or command port, and no Unix command socket: its default path is the host chronyd's.
    std::string conf = "port 0\ncmdport 0\nbindcmdaddress /\npidfile " + dir.file("chronyd.pid") + "\nlogdir " +
                       dir.path() + "\nlog refclocks\n";
    for (int i = 0; i < kRows; ++i) {
        sessions[i] = {&context, nullptr};
        ntpshm_link_activate(sessions[i]);
        ASSERT_EQ(context.segments[NtpSegmentsGuard::firstUnit() + i], sessions[i].shm_clock);
        conf += "refclock SHM " + std::to_string(NtpSegmentsGuard::firstUnit() + i) + " refid " +
                rows[i].refid + " poll 0 dpoll 0 noselect\n";
    }

    // Root drops CAP_SYS_TIME from the bounding set; others never had it, and
    // -U lets chronyd start without root.
    std::vector<std::string> argv = {chronydPath, "-U"};
    if (getuid() == 0) {
        argv = {kSetpriv, "--bounding-set", "-sys_time", chronydPath};
    }
    argv.insert(argv.end(), {"-4", "-x", "-d", "-u", "root", "-f", dir.write("chronyd.conf", conf)});
    ChildProcess chronyd(argv);
    ASSERT_TRUE(chronyd.waitForOutput("Disabled control of system clock", std::chrono::seconds(5)))
        << chronyd.output();

    // Fresh samples once a second: chronyd refuses a receive time more than
    // two polls old or in the future. It clears valid on every sample it
    // takes, whether it then keeps it or not.
    auto taken = [&] {
        for (const ntpshm_session& s : sessions) {
            if (s.shm_clock->valid != 0) {
                return false;
            }
        }
        return true;
    };
    for (int round = 0; round < kRounds; ++round) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        for (int i = 0; i < kRows; ++i) {
            const timedelta sample{shifted(now, rows[i].offsetNs), now};
            ntp_write(sessions[i].shm_clock, sample, -20, rows[i].leap);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!taken() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(taken()) << "round " << round << "\n" << chronyd.output();
    }

    std::ifstream proc("/proc/" + std::to_string(chronyd.pid()) + "/status");
    std::string line;
    while (std::getline(proc, line) && line.rfind("CapEff:", 0) != 0) {
    }
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(0u, (std::stoull(line.substr(7), nullptr, 16) >> kCapSysTime) & 1u) << line;

    chronyd.signal(SIGTERM);
    const int status = chronyd.wait(std::chrono::seconds(5));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << chronyd.output();

    const auto offsets = rawOffsets(dir.file("refclocks.log"));
    for (const auto& row : rows) {
        const auto found = offsets.find(row.refid);
        const std::vector<double> raw = found != offsets.end() ? found->second : std::vector<double>{};
        EXPECT_EQ(row.accepted ? kRounds : 0, static_cast<int>(raw.size()))
            << row.refid << "\n" << boardkit::readFile(dir.file("refclocks.log"));
        for (double offset : raw) {
            EXPECT_NEAR(row.offsetNs * 1e-9, offset, 1e-6) << row.refid;
        }
    }
}
