// The time service's handling of UTCTime messages (newFACEUtcTime) on a
// fake host and an FPGA register image. Input: the settings and the host's
// scripted failures, then up to 64 messages. Each message says per field
// whether it is raw (any bits: doubles with NaN and infinities, any integer)
// or shaped like a receiver's (a time in range, the FPGA counter near the
// time of validity), so that runs get past the PPS settling into the whole
// step schedule.
//
// Every input gets a controller of its own, so an input replays alone. The
// NTP records are in the board's process memory; the units the controller
// attached are detached after each input, and no other attachment may
// remain.
//
// Checked after each message, from the message alone: the fake host's
// clocks are stepped only for a message whose time fields are in range,
// and settimeofday only with a time of validity within the last 5 s of the
// FPGA's time and with the value such a message gives: its GPS time less
// whole leap seconds (less than a day), plus the FPGA time elapsed since
// the time of validity.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "Chronavel/TimeServiceController.h"
#include "FuzzSupport.h"
#include "aspn2_msgs/Messages.h"
#include "boardkit/ScriptedHost.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/ProcessNtpMemory.h"
#include "boardkit/RegisterImage.h"

namespace {

using aspn2_msgs::idl::UTCTime;
using fuzzsupport::fail;
using fuzzsupport::Reader;

constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kGpsEpoch = 315964800;
constexpr int64_t kUtcBase = 1700000000;
constexpr uint64_t kTicksPerSecond = FpgaFace::TICKS_PER_SECOND;

struct Board {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session{image};
    boardkit::ProcessNtpMemory ntp;
};
Board* g_board = nullptr;

// ---- what a message may do, from the rules of the time service ----

bool inRangeNs(double ns) {
    return std::isfinite(ns) && ns >= 0.0 && ns < 1e9;
}

bool timeFieldsInRange(const UTCTime& m) {
    const int32_t tovNsec = m.header().timestamp_valid().nsec();
    return inRangeNs(m.gps_tow_nsec()) && inRangeNs(m.utc_tod_nsec()) && m.gps_week() >= 0 &&
           m.gps_tow_sec() >= 0 && m.gps_tow_sec() < 604800 && m.utc_tod_sec() >= 0 &&
           m.utc_tod_sec() <= 86400 && tovNsec >= 0 && tovNsec < kNsPerSec;
}

// The counter reads as ticks * 10^9 / 58 982 400 - 8 ns.
__int128 fpgaNs(uint64_t ticks) {
    return static_cast<__int128>(ticks) * kNsPerSec / static_cast<__int128>(kTicksPerSecond) - 8;
}

__int128 tovNs(const UTCTime& m) {
    return static_cast<__int128>(m.header().timestamp_valid().sec()) * kNsPerSec +
           m.header().timestamp_valid().nsec();
}

void checkStep(const std::string& arguments, const UTCTime& m, uint64_t ticks) {
    long long sec = 0;
    long usec = 0;
    char tail = 0;
    if (std::sscanf(arguments.c_str(), "%lld.%ld%c", &sec, &usec, &tail) != 2) {
        fail("unreadable settimeofday");
    }
    if (!timeFieldsInRange(m)) {
        fail("the clock was stepped from a message whose time fields are out of range");
    }
    const __int128 elapsed = fpgaNs(ticks) - tovNs(m);
    if (elapsed < 0 || elapsed > 5 * kNsPerSec) {
        fail("the clock was stepped from a time of validity outside the FPGA's last 5 s");
    }
    if (usec < 0 || usec >= 1000000) {
        fail("the clock was stepped with microseconds out of range");
    }
    const __int128 fractionNs = static_cast<__int128>(std::llround(m.gps_tow_nsec())) + elapsed;
    const __int128 wholeUs = static_cast<__int128>(sec) * 1000000 + usec - fractionNs / 1000;
    if (wholeUs % 1000000 != 0) {
        fail("the step's fraction of a second is not the message's plus the elapsed time");
    }
    const __int128 wholeSec = wholeUs / 1000000;
    const int64_t gps = int64_t{m.gps_week()} * 604800 + m.gps_tow_sec() + kGpsEpoch;
    if (wholeSec < gps - 86400 || wholeSec > gps + 1) {
        fail("the step is not the message's GPS time less its leap seconds");
    }
}

void check(const std::vector<std::string>& calls, const UTCTime& m, uint64_t ticks) {
    int steps = 0;
    for (const std::string& call : calls) {
        if (call.rfind("settimeofday ", 0) == 0) {
            if (++steps > 1) {
                fail("one message stepped the clock twice");
            }
            checkStep(call.substr(13), m, ticks);
        } else if (call.rfind("clock_settime ", 0) == 0 && !timeFieldsInRange(m)) {
            fail("a clock was set on a message whose time fields are out of range");
        }
    }
}

// ---- the input ----

// One message of second i, and the FPGA counter it is handled at.
UTCTime message(Reader& in, int i, boardkit::ScriptedHost& host, uint64_t& ticks) {
    const uint8_t shape = in.take<uint8_t>();
    UTCTime m;
    auto& tov = m.header().timestamp_valid();
    if ((shape & 0x01u) != 0) {
        tov.sec(in.take<int64_t>());
        tov.nsec(in.take<int32_t>());
    } else {
        tov.sec(1000 + i);
        tov.nsec(static_cast<int32_t>(in.take<uint32_t>() % kNsPerSec));
    }
    if ((shape & 0x02u) != 0) {
        ticks = in.take<uint64_t>();
    } else {
        // The time of validity plus or minus a few seconds (unsigned: wraps).
        ticks = static_cast<uint64_t>(tov.sec()) * kTicksPerSecond +
                static_cast<uint64_t>(tov.nsec()) * kTicksPerSecond / kNsPerSec +
                static_cast<uint64_t>(int64_t{in.take<int32_t>()});
    }
    int64_t utc = kUtcBase + i;
    if ((shape & 0x04u) != 0) {
        m.gps_week(in.take<int32_t>());
        m.gps_tow_sec(in.take<int32_t>());
        m.utc_tod_sec(in.take<int32_t>());
    } else {
        utc += in.take<int32_t>();
        const int64_t gps = utc - kGpsEpoch + in.take<uint8_t>() % 64;  // leap seconds
        m.gps_week(static_cast<int32_t>(gps / 604800));
        m.gps_tow_sec(static_cast<int32_t>(gps % 604800));
        m.utc_tod_sec(static_cast<int32_t>(utc % 86400));
    }
    if ((shape & 0x08u) != 0) {
        m.gps_tow_nsec(in.take<double>());
        m.utc_tod_nsec(in.take<double>());
    } else {
        double ns = 0.0;
        if ((shape & 0x40u) != 0) {
            ns = static_cast<double>(in.take<uint32_t>() % kNsPerSec);
        } else {
            // Near a whole second, where the PPS settles.
            const int16_t near = in.take<int16_t>();
            ns = near >= 0 ? near : 1e9 + near;
        }
        m.gps_tow_nsec(ns);
        m.utc_tod_nsec((shape & 0x80u) != 0 ? static_cast<double>(in.take<uint32_t>() % kNsPerSec) : ns);
    }
    m.covariance()[0][0] = (shape & 0x10u) != 0 ? in.take<double>() : 1e-16;
    if ((shape & 0x20u) != 0) {
        // A new edge: the PPS on the system clock, as the kernel saw it.
        host.setEdge({static_cast<time_t>(utc), static_cast<long>(in.take<int32_t>()),
                      static_cast<pps_seq_t>(i + 1)});
    }
    m.header().device_id(static_cast<int32_t>(96u << 16));
    return m;
}

// Attachments of the NTP units of the board.
int ntpAttachments() {
    int total = 0;
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        total += std::max(0, g_board->ntp.attachments(static_cast<key_t>(NTPSHM_KEY_BASE + unit)));
    }
    return total;
}

void drainEvents() {
    int type = 0;
    std::string text;
    while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
    }
}

// One input on a controller of its own.
void run(const uint8_t* data, size_t size) {
    Reader in(data, size);
    boardkit::ScriptedHost host;
    const uint8_t flags = in.take<uint8_t>();
    if ((flags & 0x01u) != 0) {
        host.fail("settimeofday", EPERM, 1 + in.take<uint8_t>() % 4);
    }
    if ((flags & 0x02u) != 0) {
        host.fail("time_pps_fetch", EIO, 1 + in.take<uint8_t>() % 8);
    }
    if ((flags & 0x04u) != 0) {
        const uint8_t which = in.take<uint8_t>();
        host.fail((which & 1u) != 0 ? "open" : "clock_settime", ENOENT, 1 + (which >> 1) % 4);
    }
    if ((flags & 0x08u) != 0) {
        // Which daemons run already, and which commands fail.
        const uint8_t s = in.take<uint8_t>();
        host.answer("pidof ntpd > /dev/null", {(s & 1u) != 0 ? 0 : 256});
        host.answer("pidof ptp4l > /dev/null", {(s & 2u) != 0 ? 0 : 256});
        host.answer("/etc/init.d/S49ntp start", {(s & 4u) != 0 ? 256 : 0});
        host.answer("ptp4l -f /opt/quorvane/config/linuxptp.cfg &", {(s & 8u) != 0 ? 256 : 0});
    }

    TimeServiceController controller("Chronavel", host, FpgaFace::Instance(), g_board->ntp);
    controller.doDebug((flags >> 4) & 1);
    controller.doQuiet(((flags >> 5) & 1) != 0 ? 0 : 1);
    controller.ppsCountRequiredWithinThreshold = in.take<uint8_t>() % 4;
    controller.ppsSettledErrorThreshold = (flags & 0x40u) != 0 ? in.take<double>() : 1000.0;
    const double utc2tai = (flags & 0x80u) != 0 ? in.take<double>() : 37.0;
    const uint8_t device = in.take<uint8_t>();
    controller.initialize(device >> 1, (device & 1u) != 0 ? "CLOCK_REALTIME" : "/dev/ptp0", utc2tai);
    if (controller.getNtpSession().shm_clock == nullptr) {
        fail("initialisation linked no NTP segment");
    }
    host.takeCalls();
    drainEvents();

    // Enough for the whole schedule: settling, then steps 0 to 47.
    for (int i = 0; i < 64 && !in.done(); ++i) {
        uint64_t ticks = 0;
        const UTCTime m = message(in, i, host, ticks);
        g_board->image.poke(boardkit::fpgablock::kTimestamp, boardkit::fpgablock::kSystemCountOffset, 64, ticks);
        controller.newFACEUtcTime(m);
        check(host.takeCalls(), m, ticks);
        drainEvents();
    }
    // The server keeps its units attached until it ends; here a controller
    // lives for one input.
    if (const ntpshm_context* context = controller.getNtpSession().context) {
        for (shmTime* segment : context->segments) {
            if (segment != nullptr) {
                g_board->ntp.detach(segment);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The fault filter stays off: its history of recent faults would make an
    // input's path depend on the inputs before it, and on the clock.
    g_board = new Board();
    std::atexit([] {
        delete g_board;
        g_board = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run(data, size);
    if (ntpAttachments() != 0) {
        fail("the NTP units are attached more often than the controller knows");
    }
    return 0;
}
