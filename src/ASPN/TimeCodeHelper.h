#ifndef ASPN_TIMECODEHELPER_H
#define ASPN_TIMECODEHELPER_H

#include <atomic>
#include <chrono>
#include <cstdint>

#include "aspn2_msgs/Messages.h"

namespace ASPN2 {

// The time code stamped into every header: live or simulation. Read by every
// thread that stamps messages, switched by the command handler.
class TimeCodeHelper {
public:
    static constexpr int32_t LiveTimeCode = 100;
    static constexpr int32_t SimTimeCode = 101;

    static TimeCodeHelper& Instance();

    TimeCodeHelper(const TimeCodeHelper&) = delete;
    TimeCodeHelper& operator=(const TimeCodeHelper&) = delete;

    void setLiveMode() { m_timeCode.store(LiveTimeCode); }
    void setSimMode() { m_timeCode.store(SimTimeCode); }
    int getTimeCode() const { return m_timeCode.load(); }

private:
    TimeCodeHelper() = default;
    std::atomic<int32_t> m_timeCode{LiveTimeCode};
};

// Plain in-memory form of a message header.
struct header {
    uint64_t seq_num = 0;
    int64_t toaSec = 0;
    int32_t toaNsec = 0;
    int32_t toaTimeCode = 0;
    int64_t tovSec = 0;
    int32_t tovNsec = 0;
    int32_t tovTimeCode = 0;
    int32_t device_id = 0;
};

// FPGA time: seconds and nanoseconds, both truncated toward zero, so the
// nanoseconds are negative only below the counter's first 8 ns.
struct FpgaTime {
    int64_t sec;
    int32_t nsec;
};

constexpr uint64_t FpgaTicksPerSecond = 58982400;

// ticks * 10^9 / 58 982 400 - 8 ns, exact for every 64-bit tick count.
FpgaTime fpgaTicksToTime(uint64_t ticks);

// Stamps: ToV is the time of validity (timestamp_valid), ToA the time of
// arrival (timestamp_arrival). Stamps taken from ticks or nanoseconds carry
// the time code current at that moment.
using MsgHeader = aspn2_msgs::idl::header;

void setToV_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr);
void setToVandToA_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr);
void setToA_fromFpgaTicks(uint64_t ticks, MsgHeader& hdr);
void setToV_fromFpgaTicks(uint64_t ticks, header& hdr);
void setToVandToA_fromFpgaTicks(uint64_t ticks, header& hdr);
void setToA_fromFpgaTicks(uint64_t ticks, header& hdr);

void setToV_fromNSec(std::chrono::nanoseconds t, MsgHeader& hdr);
void setToVandToA_fromNSec(std::chrono::nanoseconds t, MsgHeader& hdr);
std::chrono::nanoseconds getNSec_fromToA(const MsgHeader& hdr);
void setToV_fromNSec(std::chrono::nanoseconds t, header& hdr);
void setToVandToA_fromNSec(std::chrono::nanoseconds t, header& hdr);
std::chrono::nanoseconds getNSec_fromToA(const header& hdr);

// Seconds by which a's time of validity is later than b's.
double deltaTov(const MsgHeader& a, const MsgHeader& b);
double deltaTov(const header& a, const header& b);

// Both stamps; sequence number and device id untouched.
void setToVandToA_fromTo(const MsgHeader& from, header& to);
void setToVandToA_fromTo(const header& from, MsgHeader& to);
// Both stamps, sequence number and device id.
void copyHeader_fromTo(const MsgHeader& from, header& to);
void copyHeader_fromTo(const header& from, MsgHeader& to);

}  // namespace ASPN2

#endif
