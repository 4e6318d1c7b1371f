#ifndef BOARDKIT_SCRIPTEDHOST_H
#define BOARDKIT_SCRIPTEDHOST_H

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/TimeHost.h"

namespace boardkit {

// A host that changes nothing: it records every call as one line and answers
// from a script. Calls are named as the C library names them ("settimeofday",
// "clock_gettime", "clock_settime", "clock_adjtime", "realpath", "open",
// "close", "time_pps_create", "time_pps_getcap", "time_pps_getparams",
// "time_pps_setparams", "time_pps_fetch", "system"). Safe to call from
// several threads.
class ScriptedHost : public platform::TimeHost {
public:
    struct Edge {
        time_t sec;
        long nsec;
        pps_seq_t sequence;
    };

    // The next `times` calls named `call` fail with errno `error`.
    void fail(const std::string& call, int error, int times = 1);
    // What system(command) returns, call after call; the last one repeats.
    // Commands without a script exit with 0.
    void answer(const std::string& command, std::vector<int> statuses);
    // Runs inside system(), before it answers, outside the fake's lock.
    std::function<void(const std::string& command)> onCommand;

    // The assert edge every fetch returns until the next one is set.
    void setEdge(const Edge& edge);
    int ppsCapabilities = PPS_CAPTUREASSERT | PPS_OFFSETASSERT;
    // Off: fetches are neither recorded nor scripted, and touch no heap.
    bool recordFetches = true;
    // CLOCK_REALTIME as clock_gettime reads it; clock_settime on it moves it.
    void setRealtime(const timespec& now);

    // Every call so far, e.g. "settimeofday 1700000000.250000",
    // "clock_settime 3 1700000037.000000000", "system pidof ntpd > /dev/null".
    std::vector<std::string> calls() const;
    // The calls since the last take.
    std::vector<std::string> takeCalls();
    // Only the shell commands, without the "system " prefix.
    std::vector<std::string> commands() const;
    // The parameters of the last time_pps_setparams.
    pps_params_t lastParams() const;
    // Descriptors handed out by open that no close has named since.
    std::set<int> openDescriptors() const;

    int setTimeOfDay(const timeval& tv) override;
    int clockGetTime(clockid_t clock, timespec& ts) override;
    int clockSetTime(clockid_t clock, const timespec& ts) override;
    int clockAdjTime(clockid_t clock, timex& tx) override;
    int resolvePath(const char* path) override;
    int openDevice(const char* path) override;
    int closeDevice(int fd) override;
    int ppsCreate(int fd, pps_handle_t& handle) override;
    int ppsGetCap(pps_handle_t handle, int& mode) override;
    int ppsGetParams(pps_handle_t handle, pps_params_t& params) override;
    int ppsSetParams(pps_handle_t handle, const pps_params_t& params) override;
    int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info,
                 const timespec& timeout) override;
    int runCommand(const char* command) override;

    // Descriptors the fake hands out count up from here.
    static constexpr int kFirstFd = 100;

private:
    // Records the call; -1 with errno set when a failure is scripted for it.
    int record(const char* call, const std::string& arguments);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    size_t m_taken = 0;
    std::map<std::string, std::deque<int>> m_failures;
    std::map<std::string, std::deque<int>> m_statuses;
    Edge m_edge{0, 0, 0};
    timespec m_realtime{1700000000, 0};
    pps_params_t m_params{};
    int m_nextFd = kFirstFd;
    std::set<int> m_open;
};

}  // namespace boardkit

#endif
