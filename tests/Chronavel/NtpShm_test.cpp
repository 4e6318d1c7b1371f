#include "Chronavel/NtpShm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "boardkit/NtpSegments.h"
#include "boardkit/ProcessNtpMemory.h"

using testing::HasSubstr;
using boardkit::NtpSegmentsGuard;

TEST(NtpShm, LinksTheLowestFreeUnitResetsItAndWritesEverySampleField) {
    boardkit::ProcessNtpMemory memory;
    const int first = NtpSegmentsGuard::firstUnit();
    ntpshm_context context{};
    context.memory = &memory;
    testing::internal::CaptureStdout();
    ntpshm_context_init(context, 0);
    const std::string attachOutput = testing::internal::GetCapturedStdout();
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        EXPECT_EQ(unit >= first, context.segments[unit] != nullptr) << unit;
        EXPECT_EQ(unit >= first, attachOutput.find("succeeded, segment " + std::to_string(unit) + "\n") !=
                                     std::string::npos)
            << attachOutput;
    }
    EXPECT_EQ(std::string::npos, attachOutput.find("fail")) << attachOutput;

    // Whatever an earlier user left is wiped when the unit is linked.
    std::memset(context.segments[first], 0x5A, sizeof(shmTime));
    ntpshm_session a{&context, nullptr};
    ntpshm_session b{&context, nullptr};
    ntpshm_link_activate(a);
    ntpshm_link_activate(b);
    ASSERT_EQ(context.segments[first], a.shm_clock);
    EXPECT_EQ(context.segments[first + 1], b.shm_clock);
    const shmTime& s = *a.shm_clock;
    EXPECT_EQ(std::make_tuple(1, 3, -1, 3, 0, 0, 0u, 0),
              std::make_tuple(s.mode, s.leap, s.precision, s.nsamples, s.count, s.valid, s.clockTimeStampNSec,
                              s.dummy[7]));

    const timedelta sample{{1700000000, 250000999}, {1699999999, 999999500}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, ntpshm_put(a, a.shm_clock, sample, 0, 1e-14));
    EXPECT_EQ("NTP: ntpshm_put(Quorvane -20)  1700000000.250000999 @  1699999999.999999500\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::make_tuple(2, 1, 0, -20), std::make_tuple(s.count, s.valid, s.leap, s.precision));
    EXPECT_EQ(std::make_tuple(1700000000, 250000, 250000999u, 1699999999, 999999, 999999500u),
              std::make_tuple(s.clockTimeStampSec, s.clockTimeStampUSec, s.clockTimeStampNSec, s.receiveTimeStampSec,
                              s.receiveTimeStampUSec, s.receiveTimeStampNSec));
    // Quiet: the same write, no line; without a segment, a line and nothing written.
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, ntpshm_put(a, a.shm_clock, sample, 1, 1e-6));
    EXPECT_EQ(0, ntpshm_put(a, nullptr, sample, 1, 1e-6));
    EXPECT_EQ("NTP:PPS: missing shm\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::make_tuple(4, -9), std::make_tuple(s.count, s.precision));
    ntp_write(a.shm_clock, sample, -9, 1);  // a sample may announce a leap second
    EXPECT_EQ(1, s.leap);

    // A released unit is the next one taken; with every unit taken, none is.
    ntpshm_link_deactivate(a);
    EXPECT_EQ(nullptr, a.shm_clock);
    ntpshm_link_activate(a);
    EXPECT_EQ(context.segments[first], a.shm_clock);
    ntpshm_session rest{&context, nullptr};
    for (int unit = first + 2; unit < NTPSHM_UNITS; ++unit) {
        ntpshm_link_activate(rest);
    }
    testing::internal::CaptureStdout();
    ntpshm_link_activate(rest);
    EXPECT_EQ("NTP: ntpshm_alloc() failed\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(nullptr, rest.shm_clock);

    // Attaching again, quietly, replaces the attachments instead of adding some.
    const int attached = memory.attachments(NtpSegmentsGuard::key(first));
    testing::internal::CaptureStdout();
    ntpshm_context_init(context, 1);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(attached, memory.attachments(NtpSegmentsGuard::key(first)));
    EXPECT_FALSE(context.inUse[first]);
}

TEST(NtpShm, WithoutRootUnitsZeroAndOneAreLeftAloneAndUnitTwoIsLinked) {
    if (getuid() != 0) {
        GTEST_SKIP() << "already not root: the test above covers this";
    }
    boardkit::ProcessNtpMemory memory;
    // The exit code is the unit linked (+30 if unit 0 or 1 was attached);
    // what the child prints is matched below.
    auto child = [&] {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            std::exit(10);
        }
        ntpshm_context context{};
        context.memory = &memory;
        ntpshm_context_init(context, 0);
        ntpshm_session session{&context, nullptr};
        ntpshm_link_activate(session);
        const int offset = context.segments[0] == nullptr && context.segments[1] == nullptr ? 0 : 30;
        for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
            if (session.shm_clock == context.segments[unit] && session.shm_clock != nullptr) {
                std::exit(unit + offset);
            }
        }
        std::exit(20);
    };
    EXPECT_EXIT(child(), testing::ExitedWithCode(2), Not(testing::ContainsRegex("segment [01]\n|fail")));
}

TEST(NtpShmFormat, PrecisionFromVariance) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double variance;
        int precision;
    } rows[] = {
        {0.0, -1},   {-1.0, -1},   {std::nan(""), -1}, {-inf, -1},
        {1.0, 0},    {4.0, 1},     {0.25, -1},         {1e-6, -9},
        {1e-14, -20}, {5e-324, -20}, {1e30, 32},        {inf, 32},
        {std::numeric_limits<double>::max(), 32},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.precision, squareErrorToPrecision(row.variance)) << row.variance;
    }
}

TEST(NtpShmFormat, TimespecTextCarriesTheSignAndTheMagnitudes) {
    const struct {
        timespec ts;
        const char* text;
    } rows[] = {
        {{1, 5}, " 1.000000005"}, {{-1, 5}, "-1.000000005"}, {{1, -5}, "-1.000000005"}, {{0, 0}, " 0.000000000"},
        {{1700000000, 999999999}, " 1700000000.999999999"},
        {{std::numeric_limits<time_t>::min(), 0},
         sizeof(time_t) == 8 ? "-9223372036854775808.000000000" : "-2147483648.000000000"},
    };
    for (const auto& row : rows) {
        char buffer[40];
        EXPECT_EQ(static_cast<int>(std::strlen(row.text)), timespec_str(row.ts, buffer, sizeof(buffer)));
        EXPECT_STREQ(row.text, buffer);
    }
    char small[8];
    timespec_str({1700000000, 1}, small, sizeof(small));
    EXPECT_STREQ(" 170000", small);
}
