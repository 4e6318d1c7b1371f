// utctime-source: a simulated GNSS receiver. At each whole second of the
// simulation's true UTC it publishes one UTCTime message stamped with the
// FPGA time of that second, so that a simulated FPGA counting the same
// simulated time agrees with it to the tick.

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "ASPN/TimeCodeHelper.h"
#include "aspn2_msgs/Messages.h"
#include "boardkit/TimeBase.h"
#include "tools/ToolSupport.h"

namespace {

constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kGpsEpochUtc = 315964800;  // 1980-01-06T00:00:00Z
constexpr int64_t kSecondsPerWeek = 604800;
constexpr int64_t kSecondsPerDay = 86400;
// Far above the server's (100 ns)^2, so it neither counts nor resets.
constexpr double kBadVariance = 1e-10;

const tools::Usage kUsage{
    "utctime-source",
    "--config FILE [options]",
    "Publishes a UTCTime message at every whole second of the simulation's true UTC (host UTC\n"
    "at boot plus the host's monotonic time times --rate), stamped with the FPGA time of that\n"
    "second. Runs until --count messages are sent, or until SIGINT or SIGTERM (exit status 0).",
    {{"config", "FILE", "the connections file (required)"},
     {"connection", "NAME", "the connection to publish on (default UTCTime)"},
     {"server-id", "N", "the sending server's id, bits 16-23 of the device id (default 96)"},
     {"rate", "R", "simulated seconds per real second, 0.001 to 100 (default 1);\n"
                     "the simulator must run at the same rate"},
     {"count", "N", "stop after N messages (default: until SIGINT or SIGTERM)"},
     {"leap", "N", "GPS minus UTC in seconds (default 18)"},
     {"offset-ms", "X", "the messages tell true UTC plus X milliseconds (default 0)"},
     {"offset-after", "N", "from message N on (counted from 1), use --offset-ms-after instead"},
     {"offset-ms-after", "Y", "the offset from message --offset-after on, in milliseconds"},
     {"noise-ns", "X", "standard deviation of a Gaussian noise on the nanoseconds (default 0)"},
     {"seed", "N", "seed of the noise (default 1)"},
     {"variance", "V", "time variance in s^2, covariance[0][0] (default 1e-16)"},
     {"bad", "FROM:TO", "messages FROM to TO (counted from 1) carry a bad variance of 1e-10 s^2"},
     {"wait-reader", "SECONDS", "first wait up to SECONDS for the readers to match (default 0)"},
     {"readers", "N", "with --wait-reader: how many readers to wait for (default 1)"},
     {"quiet", nullptr, "print nothing per message"}},
    0};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// Civil date from days since 1970 (H. Hinnant's algorithm): no time_t, so
// years past 2038 print on a 32-bit host too.
std::string iso8601(int64_t utcNs) {
    const int64_t sec = floorDiv(utcNs, kNsPerSec);
    const int64_t days = floorDiv(sec, kSecondsPerDay);
    const int64_t tod = sec - days * kSecondsPerDay;
    const int64_t z = days + 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02" PRId64 ":%02" PRId64
                  ":%02" PRId64 ".%09" PRId64 "Z",
                  year, month, day, tod / 3600, tod / 60 % 60, tod % 60, utcNs - sec * kNsPerSec);
    return text;
}

struct Settings {
    int32_t serverId;
    int64_t leap;
    int64_t offsetNs;
    int64_t offsetAfter;  // 0: never
    int64_t offsetAfterNs;
    double variance;
    int64_t badFrom;  // 0: none
    int64_t badTo;
};

// A message telling UTC utcNs, valid at the FPGA time ticks.
aspn2_msgs::idl::UTCTime makeMessage(const Settings& s, int64_t seq, int64_t utcNs, double variance,
                                     uint64_t ticks) {
    aspn2_msgs::idl::UTCTime m;
    const int64_t utcSec = floorDiv(utcNs, kNsPerSec);
    const double nsec = static_cast<double>(utcNs - utcSec * kNsPerSec);
    const int64_t gpsSec = utcSec - kGpsEpochUtc + s.leap;
    m.header().seq_num(seq);
    m.header().device_id(static_cast<int32_t>(static_cast<uint32_t>(s.serverId) << 16));
    ASPN2::setToVandToA_fromFpgaTicks(ticks, m.header());
    m.gps_week(static_cast<int32_t>(floorDiv(gpsSec, kSecondsPerWeek)));
    m.gps_tow_sec(static_cast<int32_t>(gpsSec - floorDiv(gpsSec, kSecondsPerWeek) * kSecondsPerWeek));
    m.gps_tow_nsec(nsec);
    m.utc_tod_sec(static_cast<int32_t>(utcSec - floorDiv(utcSec, kSecondsPerDay) * kSecondsPerDay));
    m.utc_tod_nsec(nsec);
    m.covariance()[0][0] = variance;
    return m;
}

int run(const tools::Options& o) {
    const std::string config = o.required("config");
    Settings s{};
    s.serverId = static_cast<int32_t>(o.integer("server-id", 96, 0, 255));
    s.leap = o.integer("leap", 18, 0, 1000);
    s.offsetNs = std::llround(o.number("offset-ms", 0, -1e9, 1e9) * 1e6);
    if (o.has("offset-after") != o.has("offset-ms-after")) {
        o.fail("--offset-after and --offset-ms-after go together");
    }
    s.offsetAfter = o.integer("offset-after", 0, 1, INT64_MAX);
    s.offsetAfterNs = std::llround(o.number("offset-ms-after", 0, -1e9, 1e9) * 1e6);
    s.variance = o.number("variance", 1e-16, 0, 1e9);
    if (o.has("bad")) {
        const std::string bad = o.text("bad", "");
        const std::size_t colon = bad.find(':');
        if (colon == std::string::npos || !tools::parseInteger(bad.substr(0, colon), s.badFrom) ||
            !tools::parseInteger(bad.substr(colon + 1), s.badTo) || s.badFrom < 1 || s.badTo < s.badFrom) {
            o.fail("--bad needs FROM:TO with 1 <= FROM <= TO, not '" + bad + "'");
        }
    }
    const int64_t count = o.integer("count", 0, 1, INT64_MAX);
    const double noiseNs = o.number("noise-ns", 0, 0, 1e9);
    std::mt19937_64 random(static_cast<uint64_t>(o.integer("seed", 1, 0, INT64_MAX)));
    std::normal_distribution<double> noise(0.0, noiseNs > 0 ? noiseNs : 1.0);
    const bool quiet = o.has("quiet");
    const boardkit::TimeBase timeBase(o.number("rate", 1, 0.001, 100));

    tools::Transport transport("utctime-source", config);
    tools::Writer<aspn2_msgs::idl::UTCTime> writer(transport, o.text("connection", "UTCTime"));
    const auto readerDeadline = tools::deadlineAfter(o.number("wait-reader", 0, 0, 1e6));
    const int64_t readers = o.integer("readers", 1, 1, 1000);
    if (o.has("wait-reader") &&
        tools::waitUntil([&] { return writer.readers() >= readers; }, readerDeadline) == tools::Waited::kTimedOut) {
        std::fprintf(stderr, "utctime-source: %d of %lld readers matched; sending anyway\n",
                     static_cast<int>(writer.readers()), static_cast<long long>(readers));
    }

    int64_t second = floorDiv(timeBase.trueUtcNs(), kNsPerSec) + 1;
    for (int64_t n = 1; count == 0 || n <= count; ++n) {
        const int64_t simNs = timeBase.simAtTrueUtc(second * kNsPerSec);
        if (!tools::sleepUntilMonotonic(timeBase.hostMonotonicAt(simNs))) {
            break;
        }
        const int64_t offsetNs = s.offsetAfter != 0 && n >= s.offsetAfter ? s.offsetAfterNs : s.offsetNs;
        const int64_t utcNs = second * kNsPerSec + offsetNs + (noiseNs > 0 ? std::llround(noise(random)) : 0);
        const double variance = n >= s.badFrom && n <= s.badTo && s.badFrom != 0 ? kBadVariance : s.variance;
        writer.send(makeMessage(s, n - 1, utcNs, variance, boardkit::TimeBase::ticksAt(simNs)));
        if (!quiet) {
            std::printf("%" PRId64 " %s offset %+.6f ms variance %g\n", n, iso8601(utcNs).c_str(),
                        static_cast<double>(offsetNs) / 1e6, variance);
            std::fflush(stdout);
        }
        // After a stall the seconds gone by are skipped, but the latest one
        // still goes out, late, as a receiver's message would.
        second = std::max(second + 1, floorDiv(timeBase.trueUtcNs(), kNsPerSec));
    }
    // Reliable readers get the last messages before the participant goes.
    writer.flush(3.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::run(kUsage, argc, argv, run); }
