#include "boardkit/TimeBase.h"

#include <cmath>
#include <ctime>

namespace boardkit {
namespace {

int64_t clockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

}  // namespace

TimeBase::TimeBase(double rate) : m_rate(rate > 0 && std::isfinite(rate) ? rate : 1.0) {
    // UTC at boot, read between two monotonic readings to halve the error.
    const int64_t before = clockNs(CLOCK_MONOTONIC);
    const int64_t utc = clockNs(CLOCK_REALTIME);
    const int64_t after = clockNs(CLOCK_MONOTONIC);
    m_bootUtcNs = utc - (before + (after - before) / 2);
}

int64_t TimeBase::nowNs() const {
    const int64_t mono = clockNs(CLOCK_MONOTONIC);
    return m_rate == 1.0 ? mono : static_cast<int64_t>(std::llround(static_cast<double>(mono) * m_rate));
}

uint64_t TimeBase::ticksAt(int64_t simNs) {
    if (simNs <= 0) {
        return 0;
    }
    const uint64_t ns = static_cast<uint64_t>(simNs);
    // Whole seconds apart, so that the product never overflows.
    return ns / 1000000000u * kTicksPerSecond + ns % 1000000000u * 4608u / 78125u;
}

int64_t TimeBase::hostMonotonicAt(int64_t simNs) const {
    return m_rate == 1.0 ? simNs : static_cast<int64_t>(std::llround(static_cast<double>(simNs) / m_rate));
}

}  // namespace boardkit
