#include "boardkit/ScriptedHost.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace boardkit {
namespace {

std::string timeText(long long sec, long fraction, int digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%lld.%0*ld", sec, digits, fraction);
    return text;
}

}  // namespace

void ScriptedHost::fail(const std::string& call, int error, int times) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < times; ++i) {
        m_failures[call].push_back(error);
    }
}

void ScriptedHost::answer(const std::string& command, std::vector<int> statuses) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses[command] = std::deque<int>(statuses.begin(), statuses.end());
}

void ScriptedHost::setEdge(const Edge& edge) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_edge = edge;
}

void ScriptedHost::setRealtime(const timespec& now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_realtime = now;
}

std::vector<std::string> ScriptedHost::calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<std::string> ScriptedHost::takeCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> taken(m_calls.begin() + static_cast<long>(m_taken), m_calls.end());
    m_taken = m_calls.size();
    return taken;
}

std::vector<std::string> ScriptedHost::commands() const {
    std::vector<std::string> result;
    for (const std::string& call : calls()) {
        if (call.rfind("system ", 0) == 0) {
            result.push_back(call.substr(7));
        }
    }
    return result;
}

pps_params_t ScriptedHost::lastParams() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_params;
}

std::set<int> ScriptedHost::openDescriptors() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

int ScriptedHost::record(const char* call, const std::string& arguments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(arguments.empty() ? std::string(call) : std::string(call) + " " + arguments);
    auto failure = m_failures.find(call);
    if (failure != m_failures.end() && !failure->second.empty()) {
        const int error = failure->second.front();
        failure->second.pop_front();
        if (error != 0) {
            errno = error;
            return -1;
        }
    }
    return 0;
}

int ScriptedHost::setTimeOfDay(const timeval& tv) {
    return record("settimeofday", timeText(tv.tv_sec, static_cast<long>(tv.tv_usec), 6));
}

int ScriptedHost::clockGetTime(clockid_t clock, timespec& ts) {
    if (record("clock_gettime", std::to_string(clock)) != 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ts = clock == CLOCK_REALTIME ? m_realtime : timespec{0, 0};
    return 0;
}

int ScriptedHost::clockSetTime(clockid_t clock, const timespec& ts) {
    if (record("clock_settime", std::to_string(clock) + " " + timeText(ts.tv_sec, ts.tv_nsec, 9)) != 0) {
        return -1;
    }
    if (clock == CLOCK_REALTIME) {
        setRealtime(ts);
    }
    return 0;
}

int ScriptedHost::clockAdjTime(clockid_t clock, timex& tx) {
    return record("clock_adjtime", std::to_string(clock) + " mode " + std::to_string(tx.modes));
}

int ScriptedHost::resolvePath(const char* path) {
    return record("realpath", path);
}

int ScriptedHost::openDevice(const char* path) {
    if (record("open", path) != 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.insert(m_nextFd);
    return m_nextFd++;
}

int ScriptedHost::closeDevice(int fd) {
    // A failed close still releases the descriptor, as on Linux.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.erase(fd);
    }
    return record("close", std::to_string(fd));
}

int ScriptedHost::ppsCreate(int fd, pps_handle_t& handle) {
    if (record("time_pps_create", std::to_string(fd)) != 0) {
        return -1;
    }
    handle = fd;
    return 0;
}

int ScriptedHost::ppsGetCap(pps_handle_t handle, int& mode) {
    if (record("time_pps_getcap", std::to_string(handle)) != 0) {
        return -1;
    }
    mode = ppsCapabilities;
    return 0;
}

int ScriptedHost::ppsGetParams(pps_handle_t handle, pps_params_t& params) {
    if (record("time_pps_getparams", std::to_string(handle)) != 0) {
        return -1;
    }
    // What a device left with a non-zero offset would report.
    params = pps_params_t{};
    params.api_version = PPS_API_VERS;
    params.mode = PPS_TSFMT_TSPEC;
    params.assert_off_tu.tspec = timespec{0, 7};
    return 0;
}

int ScriptedHost::ppsSetParams(pps_handle_t handle, const pps_params_t& params) {
    if (record("time_pps_setparams", std::to_string(handle)) != 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params = params;
    return 0;
}

int ScriptedHost::ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info,
                           const timespec& timeout) {
    if (tsformat != PPS_TSFMT_TSPEC || timeout.tv_sec != 0 || timeout.tv_nsec != 0) {
        record("time_pps_fetch", "unexpected format or timeout");
        errno = EINVAL;
        return -1;
    }
    if (recordFetches && record("time_pps_fetch", std::to_string(handle)) != 0) {
        return -1;
    }
    if (handle < kFirstFd) {  // never handed out by this fake
        errno = EBADF;
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    info = pps_info_t{};
    info.assert_sequence = m_edge.sequence;
    info.assert_tu.tspec = timespec{m_edge.sec, m_edge.nsec};
    return 0;
}

int ScriptedHost::runCommand(const char* command) {
    record("system", command);
    if (onCommand) {
        onCommand(command);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto script = m_statuses.find(command);
    if (script == m_statuses.end() || script->second.empty()) {
        return 0;
    }
    const int status = script->second.front();
    if (script->second.size() > 1) {
        script->second.pop_front();
    }
    return status;
}

}  // namespace boardkit
