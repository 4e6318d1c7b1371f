#include "ASPN/TimeCodeHelper.h"

namespace ASPN2 {

constexpr int32_t TimeCodeHelper::LiveTimeCode;
constexpr int32_t TimeCodeHelper::SimTimeCode;

TimeCodeHelper& TimeCodeHelper::Instance() {
    static TimeCodeHelper instance;
    return instance;
}

namespace {

constexpr int64_t NsPerSec = 1000000000;
// 10^9 / 58 982 400 reduced.
constexpr int64_t TickNsNum = 78125;
constexpr int64_t TickNsDen = 4608;
// The counter's latch delay.
constexpr int64_t TickOffsetNs = 8;

void splitNs(std::chrono::nanoseconds t, int64_t& sec, int32_t& nsec) {
    sec = t.count() / NsPerSec;
    nsec = static_cast<int32_t>(t.count() % NsPerSec);
}

}  // namespace

FpgaTime fpgaTicksToTime(uint64_t ticks) {
    // Whole seconds of ticks convert without rounding, so only the remainder
    // goes through the product, which then never exceeds 2^43.
    const uint64_t wholeSec = ticks / FpgaTicksPerSecond;
    const int64_t rest = static_cast<int64_t>(ticks % FpgaTicksPerSecond);
    const int64_t fracNs = rest * TickNsNum / TickNsDen - TickOffsetNs;
    FpgaTime t{static_cast<int64_t>(wholeSec), static_cast<int32_t>(fracNs)};
    if (fracNs < 0 && wholeSec > 0) {
        t.sec -= 1;
        t.nsec = static_cast<int32_t>(fracNs + NsPerSec);
    }
    return t;
}

void setToV_fromFpgaTicks(uint64_t ticks, header& hdr) {
    const FpgaTime t = fpgaTicksToTime(ticks);
    hdr.tovSec = t.sec;
    hdr.tovNsec = t.nsec;
    hdr.tovTimeCode = TimeCodeHelper::Instance().getTimeCode();
}

void setToVandToA_fromFpgaTicks(uint64_t ticks, header& hdr) {
    setToV_fromFpgaTicks(ticks, hdr);
    hdr.toaSec = hdr.tovSec;
    hdr.toaNsec = hdr.tovNsec;
    hdr.toaTimeCode = hdr.tovTimeCode;
}

void setToA_fromFpgaTicks(uint64_t ticks, header& hdr) {
    const FpgaTime t = fpgaTicksToTime(ticks);
    hdr.toaSec = t.sec;
    hdr.toaNsec = t.nsec;
    hdr.toaTimeCode = TimeCodeHelper::Instance().getTimeCode();
}

void setToV_fromNSec(std::chrono::nanoseconds t, header& hdr) {
    splitNs(t, hdr.tovSec, hdr.tovNsec);
    hdr.tovTimeCode = TimeCodeHelper::Instance().getTimeCode();
}

void setToVandToA_fromNSec(std::chrono::nanoseconds t, header& hdr) {
    setToV_fromNSec(t, hdr);
    hdr.toaSec = hdr.tovSec;
    hdr.toaNsec = hdr.tovNsec;
    hdr.toaTimeCode = hdr.tovTimeCode;
}

std::chrono::nanoseconds getNSec_fromToA(const header& hdr) {
    // Headers come off the wire: a second count beyond the nanosecond range
    // saturates instead of overflowing.
    int64_t ns = 0;
    if (__builtin_mul_overflow(hdr.toaSec, NsPerSec, &ns) || __builtin_add_overflow(ns, int64_t{hdr.toaNsec}, &ns)) {
        ns = hdr.toaSec < 0 ? INT64_MIN : INT64_MAX;
    }
    return std::chrono::nanoseconds(ns);
}

double deltaTov(const header& a, const header& b) {
    int64_t dSec = 0;
    const double sec = __builtin_sub_overflow(a.tovSec, b.tovSec, &dSec)
                           ? static_cast<double>(a.tovSec) - static_cast<double>(b.tovSec)
                           : static_cast<double>(dSec);
    // Wide enough for any two nanosecond fields, valid or not.
    const int64_t dNsec = int64_t{a.tovNsec} - int64_t{b.tovNsec};
    return sec + static_cast<double>(dNsec) * 1e-9;
}

}  // namespace ASPN2
