#ifndef BOARDKIT_TIMEBASE_H
#define BOARDKIT_TIMEBASE_H

#include <cstdint>

namespace boardkit {

// The time of a simulation, shared by every process of it that uses the
// same rate: simulated time is the host's monotonic clock (time since boot)
// times `rate`, and true UTC is the host's UTC at boot plus simulated time.
// Boot is the one instant all processes agree on without talking, so a time
// source in another process stamps its messages in the same FPGA time and
// runs on the same true UTC. At rate 1 true UTC is the host's own clock;
// faster, it runs ahead of it by (rate - 1) times the host's uptime.
class TimeBase {
public:
    static constexpr uint64_t kTicksPerSecond = 58982400;

    explicit TimeBase(double rate = 1.0);

    double rate() const { return m_rate; }
    // Simulated nanoseconds since the host booted.
    int64_t nowNs() const;
    int64_t trueUtcNs() const { return trueUtcAt(nowNs()); }
    int64_t trueUtcAt(int64_t simNs) const { return m_bootUtcNs + simNs; }
    int64_t simAtTrueUtc(int64_t utcNs) const { return utcNs - m_bootUtcNs; }

    // The FPGA counter at a simulated time; exact, whole ticks.
    static uint64_t ticksAt(int64_t simNs);
    uint64_t ticksNow() const { return ticksAt(nowNs()); }

    // Host monotonic nanoseconds at which simulated time reaches simNs.
    int64_t hostMonotonicAt(int64_t simNs) const;

private:
    double m_rate;
    int64_t m_bootUtcNs;
};

}  // namespace boardkit

#endif
