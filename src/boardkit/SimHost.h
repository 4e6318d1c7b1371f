#ifndef BOARDKIT_SIMHOST_H
#define BOARDKIT_SIMHOST_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TimeHost.h"
#include "boardkit/ChildProcess.h"
#include "boardkit/TimeBase.h"

namespace boardkit {

// One line on standard output, "sim: " first, whole even when several
// threads report at once.
void report(const std::string& text);
// "2026-12-06T22:40:01.123456789Z"
std::string isoTime(int64_t utcNs);
// The chronyd that stands for ntpd: $CHRONAVEL_CHRONYD, or the one found when
// the build was configured (scripts/fetch-chronyd.sh unpacks one privately).
std::string chronydPath();

struct SimOptions {
    int64_t clockErrorNs = 0;  // the system clock at start, against true UTC
    int64_t phcErrorNs = 0;    // the PHC at start, against true TAI - 37 s
    int64_t ppsStopAfter = -1;  // edges, counted from start; -1: never stops
    // Daemon commands containing one of these texts fail (exit status 1).
    std::vector<std::string> failing;
    // A real chronyd -x, without the right to set the clock, stands for ntpd
    // and reads this NTP shared-memory unit.
    bool chronyd = false;
    int chronydUnit = 0;
};

// The board's clocks, PPS and shell, simulated: the system clock and the
// PHC are offsets over simulated time, the PPS asserts at every second of
// true UTC (stamped by the system clock), and the daemon commands act on a
// model of the daemons. Every step and setting is reported, none reaches
// the host.
class SimHost final : public platform::TimeHost {
public:
    SimHost(const TimeBase& time, SimOptions options);
    ~SimHost() override;
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    // The simulated FPGA tells when its counter was read: a clock step is
    // reported against the true UTC of that moment.
    void counterRead(int64_t simNs) { m_lastCounterRead.store(simNs); }

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
    int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info, const timespec& timeout) override;
    int runCommand(const char* command) override;

private:
    enum Device { kNone, kPps, kPhc };
    Device deviceOf(int fd) const;
    bool isPhc(clockid_t clock) const;
    int fail(int error) const;
    int daemonCommand(const std::string& command);
    void startChronyd();
    void stopChronyd();

    const TimeBase& m_time;
    const SimOptions m_options;
    const int64_t m_firstSecond;  // true UTC second at start; edges count from it
    std::atomic<int64_t> m_lastCounterRead{0};

    mutable std::mutex m_mutex;
    int64_t m_systemOffsetNs;  // system clock = simulated time + offset
    int64_t m_phcOffsetNs;
    int m_nextFd = 10000;
    int m_ppsFd = -1;
    std::vector<int> m_phcFds;
    bool m_ntpdRunning = false;
    bool m_ptp4lRunning = false;
    std::unique_ptr<ChildProcess> m_chronyd;
    std::string m_chronydDir;
};

}  // namespace boardkit

#endif
