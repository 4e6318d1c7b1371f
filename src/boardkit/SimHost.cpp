#include "boardkit/SimHost.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

namespace boardkit {
namespace {

constexpr int64_t kNsPerSec = 1000000000;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

int64_t nsOf(const timespec& ts) {
    return int64_t{ts.tv_sec} * kNsPerSec + ts.tv_nsec;
}

timespec timespecOf(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(floorDiv(ns, kNsPerSec));
    ts.tv_nsec = static_cast<long>(ns - floorDiv(ns, kNsPerSec) * kNsPerSec);
    return ts;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    return text;
}

int freeLoopbackUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return bound ? ntohs(address.sin_port) : -1;
}

}  // namespace

void report(const std::string& text) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::cout << "sim: " << text << std::endl;
}

std::string isoTime(int64_t utcNs) {
    const timespec ts = timespecOf(utcNs);
    tm parts{};
    const time_t seconds = ts.tv_sec;
    if (gmtime_r(&seconds, &parts) == nullptr) {
        return std::to_string(utcNs) + " ns";
    }
    char date[32];
    std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &parts);
    return format("%s.%09ldZ", date, static_cast<long>(ts.tv_nsec));
}

std::string chronydPath() {
    const char* chosen = std::getenv("CHRONAVEL_CHRONYD");
    return chosen != nullptr && *chosen != '\0' ? chosen : CHRONAVEL_CHRONYD_PATH;
}

SimHost::SimHost(const TimeBase& time, SimOptions options)
    : m_time(time),
      m_options(std::move(options)),
      m_firstSecond(floorDiv(time.trueUtcNs(), kNsPerSec)),
      m_systemOffsetNs(time.trueUtcAt(0) + m_options.clockErrorNs),
      m_phcOffsetNs(time.trueUtcAt(0) + m_options.phcErrorNs) {
    report("system clock starts at " + isoTime(m_time.nowNs() + m_systemOffsetNs) +
           format(", %+.9f s from true UTC", static_cast<double>(m_options.clockErrorNs) / 1e9));
}

SimHost::~SimHost() {
    stopChronyd();
}

int SimHost::fail(int error) const {
    errno = error;
    return -1;
}

SimHost::Device SimHost::deviceOf(int fd) const {
    if (fd >= 0 && fd == m_ppsFd) {
        return kPps;
    }
    return std::find(m_phcFds.begin(), m_phcFds.end(), fd) != m_phcFds.end() ? kPhc : kNone;
}

bool SimHost::isPhc(clockid_t clock) const {
    for (int fd : m_phcFds) {
        if (platform::phcClockId(fd) == clock) {
            return true;
        }
    }
    return false;
}

// ---- clocks ----

int SimHost::setTimeOfDay(const timeval& tv) {
    timespec ts{};
    ts.tv_sec = tv.tv_sec;
    ts.tv_nsec = static_cast<long>(tv.tv_usec) * 1000;
    return clockSetTime(CLOCK_REALTIME, ts);
}

int SimHost::clockGetTime(clockid_t clock, timespec& ts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = m_time.nowNs();
    if (clock == CLOCK_REALTIME) {
        ts = timespecOf(now + m_systemOffsetNs);
    } else if (isPhc(clock)) {
        ts = timespecOf(now + m_phcOffsetNs);
    } else {
        return fail(EINVAL);
    }
    return 0;
}

int SimHost::clockSetTime(clockid_t clock, const timespec& ts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = m_time.nowNs();
    const int64_t to = nsOf(ts);
    if (clock == CLOCK_REALTIME) {
        const int64_t by = to - (now + m_systemOffsetNs);
        m_systemOffsetNs = to - now;
        const int64_t read = m_lastCounterRead.load();
        report("system clock stepped by " + format("%+.9f s", static_cast<double>(by) / 1e9) + " to " +
               isoTime(to) + format(" (%" PRId64 ".%09" PRId64 "); FPGA counter last read at %" PRIu64
                                    " ticks, true UTC ",
                                    floorDiv(to, kNsPerSec), to - floorDiv(to, kNsPerSec) * kNsPerSec,
                                    TimeBase::ticksAt(read)) +
               isoTime(m_time.trueUtcAt(read)));
    } else if (isPhc(clock)) {
        m_phcOffsetNs = to - now;
        report("PHC set to " + isoTime(to) +
               format(", %+.9f s from the system clock", static_cast<double>(m_phcOffsetNs - m_systemOffsetNs) / 1e9));
    } else {
        return fail(EINVAL);
    }
    return 0;
}

int SimHost::clockAdjTime(clockid_t clock, timex& /*tx*/) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return clock == CLOCK_REALTIME || isPhc(clock) ? 0 : fail(EINVAL);
}

// ---- devices ----

int SimHost::resolvePath(const char* path) {
    const std::string name = path != nullptr ? path : "";
    return name == "/dev/pps0" || name.rfind("/dev/ptp", 0) == 0 ? 0 : fail(ENOENT);
}

int SimHost::openDevice(const char* path) {
    if (resolvePath(path) != 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const int fd = m_nextFd++;
    if (std::string(path) == "/dev/pps0") {
        m_ppsFd = fd;
    } else {
        m_phcFds.push_back(fd);
    }
    return fd;
}

int SimHost::closeDevice(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fd == m_ppsFd) {
        m_ppsFd = -1;
        return 0;
    }
    const auto phc = std::find(m_phcFds.begin(), m_phcFds.end(), fd);
    if (phc == m_phcFds.end()) {
        return fail(EBADF);
    }
    m_phcFds.erase(phc);
    return 0;
}

int SimHost::ppsCreate(int fd, pps_handle_t& handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (deviceOf(fd) != kPps) {
        return fail(EOPNOTSUPP);
    }
    handle = fd;
    return 0;
}

int SimHost::ppsGetCap(pps_handle_t handle, int& mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (deviceOf(handle) != kPps) {
        return fail(EBADF);
    }
    mode = PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC;
    return 0;
}

int SimHost::ppsGetParams(pps_handle_t handle, pps_params_t& params) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (deviceOf(handle) != kPps) {
        return fail(EBADF);
    }
    params = pps_params_t{};
    params.api_version = PPS_API_VERS;
    params.mode = PPS_TSFMT_TSPEC;
    return 0;
}

int SimHost::ppsSetParams(pps_handle_t handle, const pps_params_t& /*params*/) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return deviceOf(handle) == kPps ? 0 : fail(EBADF);
}

int SimHost::ppsFetch(pps_handle_t handle, int /*tsformat*/, pps_info_t& info, const timespec& /*timeout*/) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (deviceOf(handle) != kPps) {
        return fail(EBADF);
    }
    // The receiver's PPS asserts at every second of true UTC; the kernel
    // stamps it with the system clock.
    int64_t edges = floorDiv(m_time.trueUtcNs(), kNsPerSec) - m_firstSecond;
    if (m_options.ppsStopAfter >= 0) {
        edges = std::min(edges, m_options.ppsStopAfter);
    }
    info = pps_info_t{};
    if (edges > 0) {
        const int64_t edgeSim = m_time.simAtTrueUtc((m_firstSecond + edges) * kNsPerSec);
        info.assert_sequence = static_cast<pps_seq_t>(edges);
        info.assert_tu.tspec = timespecOf(edgeSim + m_systemOffsetNs);
    }
    return 0;
}

// ---- daemons ----

int SimHost::runCommand(const char* command) {
    const std::string text = command != nullptr ? command : "";
    int status = 0;
    bool failed = false;
    for (const std::string& failing : m_options.failing) {
        failed = failed || (!failing.empty() && text.find(failing) != std::string::npos);
    }
    if (failed) {
        status = 1 << 8;
    } else {
        status = daemonCommand(text);
    }
    report("$ " + text + format(" -> exit %d%s", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                                failed ? " (made to fail)" : ""));
    return status;
}

int SimHost::daemonCommand(const std::string& command) {
    const int ok = 0;
    const int no = 1 << 8;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (command == "pidof ntpd > /dev/null") {
        return m_ntpdRunning ? ok : no;
    }
    if (command == "/etc/init.d/S49ntp start") {
        if (!m_ntpdRunning && m_options.chronyd) {
            startChronyd();
        }
        m_ntpdRunning = true;
        return ok;
    }
    if (command == "/etc/init.d/S49ntp stop") {
        stopChronyd();
        m_ntpdRunning = false;
        return ok;
    }
    if (command.rfind("chrt -f -p 33 ", 0) == 0) {
        return m_ntpdRunning ? ok : no;
    }
    if (command == "pidof ptp4l > /dev/null") {
        return m_ptp4lRunning ? ok : no;
    }
    if (command.rfind("ptp4l -f ", 0) == 0) {
        m_ptp4lRunning = true;
        return ok;
    }
    if (command.rfind("pmc ", 0) == 0) {
        return m_ptp4lRunning ? ok : no;
    }
    if (command == "kill $(pidof ptp4l)" || command == "kill -9 $(pidof ptp4l)") {
        const bool was = m_ptp4lRunning;
        m_ptp4lRunning = false;
        return was ? ok : no;
    }
    return 127 << 8;  // what the shell says of a command it cannot find
}

void SimHost::startChronyd() {
    char dir[] = "/tmp/chronavel-sim-chrony-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        report(std::string("cannot start chronyd: ") + std::strerror(errno));
        return;
    }
    m_chronydDir = dir;
    const int port = freeLoopbackUdpPort();
    const std::string conf = m_chronydDir + "/chronyd.conf";
    std::ofstream(conf) << "port 0\ncmdport " << port << "\nbindcmdaddress 127.0.0.1\nbindcmdaddress /\n"
                        << "pidfile " << m_chronydDir << "/chronyd.pid\nlogdir " << m_chronydDir
                        << "\nlog refclocks tracking\nrefclock SHM " << m_options.chronydUnit
                        << " refid SIM poll 0 dpoll 0\n";
    const std::string log = m_chronydDir + "/chronyd.out";
    // chronyd -x never sets the clock; without CAP_SYS_TIME it could not.
    const std::string chronyd = chronydPath();
    std::vector<std::string> argv;
    if (getuid() == 0) {
        argv = {kSetpriv, "--bounding-set", "-sys_time", chronyd, "-4", "-x", "-d", "-u", "root", "-f", conf};
    } else {
        argv = {chronyd, "-U", "-4", "-x", "-d", "-f", conf};
    }
    try {
        // chronyd ends with the simulator, however the simulator ends.
        m_chronyd = std::make_unique<ChildProcess>(argv, ChildOptions{log, {}, true});
    } catch (const std::system_error& e) {
        report(std::string("cannot start chronyd: ") + std::strerror(e.code().value()));
        return;
    }
    const int pid = static_cast<int>(m_chronyd->pid());
    // chronyc lies beside chronyd, in bin rather than sbin.
    std::string chronyc = chronyd.substr(0, chronyd.rfind("/sbin/chronyd")) + "/bin/chronyc";
    if (access(chronyc.c_str(), X_OK) != 0) {
        chronyc = "chronyc";
    }
    report(format("chronyd started (pid %d) on NTP shared-memory unit %d; ask it with: %s -h 127.0.0.1 "
                  "-p %d -n sources; its logs: %s",
                  pid, m_options.chronydUnit, chronyc.c_str(), port, m_chronydDir.c_str()));
}

void SimHost::stopChronyd() {
    if (m_chronyd) {
        m_chronyd->stop(std::chrono::seconds(5));
        report(format("chronyd (pid %d) stopped", static_cast<int>(m_chronyd->pid())));
        m_chronyd.reset();
    }
    if (!m_chronydDir.empty()) {
        const std::string dir = m_chronydDir;
        m_chronydDir.clear();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
}

}  // namespace boardkit
