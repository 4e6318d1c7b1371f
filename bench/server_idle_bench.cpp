// What a started server costs while nothing arrives: resident memory and
// CPU time, beside the baseline of a bare participant of the same transport
// service with the same four endpoints (EventLog writer, Command reader,
// Response writer, UTCTime reader) and the same settings, and of the server
// secured with the demonstration PKI (DDS Security). Each runs in a
// child process of its own (this program again, with --child), so the two
// share no heap; this parent samples /proc/<child> over the window, which
// starts a little after start-up. CPU is given as a share of one core, from
// /proc/<pid>/stat (clock ticks, every thread that ever ran) and from the
// live threads' schedstat (nanoseconds).
//
// Expected activity of an idle server: its health reporter wakes every
// 500 ms, and its configuration events are published again every 300 s.
//
//   server_idle_bench [window in s, default 30] [SHM|UDP, default SHM]
//
// Run it in a private IPC namespace (unshare -i): the server creates the NTP
// segments, and those that were not there before are removed again.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ServerOnFakePlatform.h"
#include "boardkit/UtcMessages.h"
#include "boardkit/DdsPeer.h"

namespace {

constexpr uint32_t kDomain = 232;
constexpr int kSettleSeconds = 2;  // start-up publications are over by then

// ---- child: the server, or the bare participant, until SIGTERM ----

int child(const std::string& role, const std::string& transport, int readyFd, const std::string& pki) {
    // Blocked before any thread starts, so that every thread inherits it.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    int received = 0;
    boardkit::NtpSegmentsGuard segments;
    const boardkit::FastRtps dds =
        benchsupport::Secured(benchsupport::Dds(kDomain, transport), role == "secured" ? pki : "", "server");
    if (role != "bare") {
        benchsupport::ServerOnFakePlatform server(dds);
        const std::string failed = server.start();
        if (!failed.empty() || write(readyFd, "R", 1) != 1) {
            std::fprintf(stderr, "server_idle_bench: %s failed\n", failed.empty() ? "ready" : failed.c_str());
            return 1;
        }
        return sigwait(&term, &received);
    }
    namespace idl = aspn2_msgs::idl;
    boardkit::Service bare("Bare", dds.document());
    const auto eventLog = bare.connect("EventLog"), command = bare.connect("Command"),
               response = bare.connect("Response"), utcTime = bare.connect("UTCTime");
    const auto ignore = [](auto, auto, const auto&, const auto&, const auto&, auto&) {};
    const auto events = boardkit::Typed<idl::EventLog>(bare, eventLog);
    const auto commands = boardkit::Typed<idl::CommandResponse>(bare, response, command, ignore);
    const auto times = boardkit::Typed<idl::UTCTime>(bare, -1, utcTime, ignore);
    if (bare.initialized != boardkit::RC::NO_ERROR || write(readyFd, "R", 1) != 1) {
        std::fprintf(stderr, "server_idle_bench: the bare participant failed\n");
        return 1;
    }
    return sigwait(&term, &received);
}

// ---- parent ----

// A field of /proc/<pid>/status in kB.
long statusKb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

// utime + stime of the whole process in seconds, at clock-tick resolution.
double statCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));  // after the command name
    std::string skip;
    for (int i = 3; i < 14; ++i) {
        fields >> skip;
    }
    unsigned long long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Time on the CPU of the live threads, in nanoseconds: finer than ticks.
double schedCpuSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ns = 0;
    if (DIR* dir = opendir(tasks.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
            double onCpu = 0;
            if (entry->d_name[0] != '.' && in >> onCpu) {
                ns += onCpu;
            }
        }
        closedir(dir);
    }
    return ns / 1e9;
}

struct Idle {
    long rssKb = 0, peakRssKb = 0, anonKb = 0, fileKb = 0, shmemKb = 0;
    double statCpu = 0, schedCpu = 0;  // CPU seconds per second of the window
    double startupCpu = 0;              // CPU seconds before it
    int threads = 0;
};

bool measure(const char* role, const std::string& transport, int seconds, Idle& idle, const std::string& pki) {
    int ready[2];
    if (pipe(ready) != 0) {
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        const int devNull = open("/dev/null", O_WRONLY);  // the server's banner
        dup2(devNull, STDOUT_FILENO);
        execl("/proc/self/exe", "server_idle_bench", "--child", role, transport.c_str(), std::to_string(ready[1]).c_str(),
              pki.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    char mark = 0;
    const bool started = pid > 0 && poll(&wait, 1, 60000) == 1 && read(ready[0], &mark, 1) == 1;
    close(ready[0]);
    if (started) {
        std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
        idle.startupCpu = statCpuSeconds(pid);
        const double stat0 = idle.startupCpu, sched0 = schedCpuSeconds(pid);
        const auto start = std::chrono::steady_clock::now();
        for (int s = 0; s < seconds; ++s) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            idle.peakRssKb = std::max(idle.peakRssKb, statusKb(pid, "VmRSS"));
        }
        const double window = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        idle.statCpu = (statCpuSeconds(pid) - stat0) / window;
        idle.schedCpu = (schedCpuSeconds(pid) - sched0) / window;
        idle.rssKb = statusKb(pid, "VmRSS");
        idle.anonKb = statusKb(pid, "RssAnon");
        idle.fileKb = statusKb(pid, "RssFile");
        idle.shmemKb = statusKb(pid, "RssShmem");
        idle.threads = static_cast<int>(statusKb(pid, "Threads"));
    }
    int status = 0;
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    const bool ok = started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        std::fprintf(stderr, "server_idle_bench: the %s child failed\n", role);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--child") {
        return child(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const std::string transport = argc > 2 ? argv[2] : "SHM";
    if (seconds < 1 || (transport != "SHM" && transport != "UDP")) {
        std::fprintf(stderr, "usage: server_idle_bench [window in s >= 1] [SHM|UDP]\n");
        return 1;
    }
    // One after the other, on the same domain, so that neither discovers the other.
    boardkit::TempDir pki("chronavel-bench-pki");
    benchsupport::MakeDemoPki(pki.path());
    Idle bare, server, secured;
    if (!measure("bare", transport, seconds, bare, "") || !measure("server", transport, seconds, server, "") ||
        !measure("secured", transport, seconds, secured, pki.path())) {
        return 1;
    }
    std::printf("Idle over %d s (after %d s of start-up), %s, each in its own process\n", seconds, kSettleSeconds,
                transport.c_str());
    std::printf("%-28s %9s %9s %9s %9s %9s %8s %10s %10s %11s\n", "", "VmRSS kB", "peak kB", "anon kB", "file kB",
                "shmem kB", "threads", "CPU % stat", "CPU % task", "CPU s before");
    for (const auto& [label, idle] : {std::pair<const char*, const Idle&>{"bare participant (baseline)", bare},
                                      {"server", server},
                                      {"server, DDS Security", secured}}) {
        std::printf("%-28s %9ld %9ld %9ld %9ld %9ld %8d %10.3f %10.4f %11.3f\n", label, idle.rssKb, idle.peakRssKb,
                    idle.anonKb, idle.fileKb, idle.shmemKb, idle.threads, 100.0 * idle.statCpu,
                    100.0 * idle.schedCpu, idle.startupCpu);
    }
    std::printf("server / bare: VmRSS %.3f, CPU time %.2f\n",
                static_cast<double>(server.rssKb) / static_cast<double>(bare.rssKb),
                bare.schedCpu > 0 ? server.schedCpu / bare.schedCpu : 0.0);
    std::printf("secured / unsecured server: VmRSS %.3f, CPU time %.2f; secured CPU %.3f %% of a core\n",
                static_cast<double>(secured.rssKb) / static_cast<double>(server.rssKb),
                server.schedCpu > 0 ? secured.schedCpu / server.schedCpu : 0.0, 100.0 * secured.schedCpu);
    return 0;
}
