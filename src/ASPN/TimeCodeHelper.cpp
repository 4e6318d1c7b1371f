#include "ASPN/TimeCodeHelper.h"

namespace ASPN2 {

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

// One time stamp of a header, whichever header form holds it: the fields
// to write, or their values.
struct Stamp {
    int64_t& sec;
    int32_t& nsec;
    int32_t& code;
};
struct StampValue {
    int64_t sec;
    int32_t nsec;
    int32_t code;
};

Stamp tov(header& h) { return {h.tovSec, h.tovNsec, h.tovTimeCode}; }
Stamp toa(header& h) { return {h.toaSec, h.toaNsec, h.toaTimeCode}; }
StampValue tov(const header& h) { return {h.tovSec, h.tovNsec, h.tovTimeCode}; }
StampValue toa(const header& h) { return {h.toaSec, h.toaNsec, h.toaTimeCode}; }

Stamp stampOf(aspn2_msgs::idl::timestamp& ts) { return {ts.sec(), ts.nsec(), ts.time_code()}; }
StampValue valueOf(const aspn2_msgs::idl::timestamp& ts) { return {ts.sec(), ts.nsec(), ts.time_code()}; }
Stamp tov(MsgHeader& h) { return stampOf(h.timestamp_valid()); }
Stamp toa(MsgHeader& h) { return stampOf(h.timestamp_arrival()); }
StampValue tov(const MsgHeader& h) { return valueOf(h.timestamp_valid()); }
StampValue toa(const MsgHeader& h) { return valueOf(h.timestamp_arrival()); }

void setSeqAndDevice(const MsgHeader& from, header& to) {
    to.seq_num = static_cast<uint64_t>(from.seq_num());
    to.device_id = from.device_id();
}
void setSeqAndDevice(const header& from, MsgHeader& to) {
    to.seq_num(static_cast<int64_t>(from.seq_num));
    to.device_id(from.device_id);
}

void copyStamp(const StampValue& from, const Stamp& to) {
    to.sec = from.sec;
    to.nsec = from.nsec;
    to.code = from.code;
}

StampValue valueFromTicks(uint64_t ticks) {
    const FpgaTime t = fpgaTicksToTime(ticks);
    return {t.sec, t.nsec, TimeCodeHelper::Instance().getTimeCode()};
}

StampValue valueFromNs(std::chrono::nanoseconds t) {
    return {t.count() / NsPerSec, static_cast<int32_t>(t.count() % NsPerSec),
            TimeCodeHelper::Instance().getTimeCode()};
}

// Headers come off the wire: a second count beyond the nanosecond range
// saturates instead of overflowing.
std::chrono::nanoseconds stampToNs(const StampValue& s) {
    int64_t ns = 0;
    if (__builtin_mul_overflow(s.sec, NsPerSec, &ns) || __builtin_add_overflow(ns, int64_t{s.nsec}, &ns)) {
        ns = s.sec < 0 ? INT64_MIN : INT64_MAX;
    }
    return std::chrono::nanoseconds(ns);
}

double stampDelta(const StampValue& a, const StampValue& b) {
    int64_t dSec = 0;
    const double sec = __builtin_sub_overflow(a.sec, b.sec, &dSec)
                           ? static_cast<double>(a.sec) - static_cast<double>(b.sec)
                           : static_cast<double>(dSec);
    // Wide enough for any two nanosecond fields, valid or not.
    const int64_t dNsec = int64_t{a.nsec} - int64_t{b.nsec};
    return sec + static_cast<double>(dNsec) * 1e-9;
}

// Both stamps written from the one value in registers: reading the first
// stamp back would stall on its just-written, narrower fields.
template <class H>
void setBoth(const StampValue& v, H& hdr) {
    copyStamp(v, tov(hdr));
    copyStamp(v, toa(hdr));
}

template <class From, class To>
void copyStamps(const From& from, To& to) {
    copyStamp(tov(from), tov(to));
    copyStamp(toa(from), toa(to));
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

void setToV_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr) { copyStamp(valueFromTicks(ticks), tov(hdr)); }
void setToVandToA_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr) { setBoth(valueFromTicks(ticks), hdr); }
void setToA_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr) { copyStamp(valueFromTicks(ticks), toa(hdr)); }
void setToV_fromNSec(std::chrono::nanoseconds t, MsgHeader& hdr) { copyStamp(valueFromNs(t), tov(hdr)); }
void setToVandToA_fromNSec(std::chrono::nanoseconds t, MsgHeader& hdr) { setBoth(valueFromNs(t), hdr); }
std::chrono::nanoseconds getNSec_fromToA(const MsgHeader& hdr) { return stampToNs(toa(hdr)); }
double deltaTov(const MsgHeader& a, const MsgHeader& b) { return stampDelta(tov(a), tov(b)); }

void setToVandToA_fromTo(const MsgHeader& from, header& to) { copyStamps(from, to); }
void setToVandToA_fromTo(const header& from, MsgHeader& to) { copyStamps(from, to); }

void copyHeader_fromTo(const MsgHeader& from, header& to) {
    copyStamps(from, to);
    setSeqAndDevice(from, to);
}

void copyHeader_fromTo(const header& from, MsgHeader& to) {
    copyStamps(from, to);
    setSeqAndDevice(from, to);
}

void setToV_fromFpgaTicks(uint64_t ticks, header& hdr) { copyStamp(valueFromTicks(ticks), tov(hdr)); }
void setToVandToA_fromFpgaTicks(uint64_t ticks, header& hdr) { setBoth(valueFromTicks(ticks), hdr); }
void setToA_fromFpgaTicks(uint64_t ticks, header& hdr) { copyStamp(valueFromTicks(ticks), toa(hdr)); }
void setToV_fromNSec(std::chrono::nanoseconds t, header& hdr) { copyStamp(valueFromNs(t), tov(hdr)); }
void setToVandToA_fromNSec(std::chrono::nanoseconds t, header& hdr) { setBoth(valueFromNs(t), hdr); }
std::chrono::nanoseconds getNSec_fromToA(const header& hdr) { return stampToNs(toa(hdr)); }
double deltaTov(const header& a, const header& b) { return stampDelta(tov(a), tov(b)); }

}  // namespace ASPN2
