#include "ASPN/TimeCodeHelper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <utility>

using namespace std::chrono_literals;
using ASPN2::TimeCodeHelper;
using Time = std::pair<int64_t, int32_t>;  // seconds, nanoseconds

namespace {

// First tick count whose product with 78125 leaves the signed 64-bit range.
constexpr uint64_t kOverflowLimit = (uint64_t{1} << 63) / 78125u + 1;

// Every field of a header.
auto fields(const aspn2_msgs::idl::header& h) {
    const auto &a = h.timestamp_arrival(), &v = h.timestamp_valid();
    return std::make_tuple(h.seq_num(), h.device_id(), a.sec(), a.nsec(), a.time_code(), v.sec(), v.nsec(),
                           v.time_code());
}

}  // namespace

TEST(FpgaTicks, PlainFormulaBelowTheOverflowLimitExactAbove) {
    const auto converted = [](uint64_t ticks) {
        const ASPN2::FpgaTime t = ASPN2::fpgaTicksToTime(ticks);
        return Time(t.sec, t.nsec);
    };
    // Exact values, worked out with unbounded integers.
    const std::pair<uint64_t, Time> cases[] = {
        {0, {0, -8}}, {58982400, {0, 999999992}}, {117964800, {1, 999999992}},
        {kOverflowLimit, {2001599, 834386893}}, {kOverflowLimit + 1, {2001599, 834386910}},
        {uint64_t{1} << 63, {156374987061, 475555547}}, {0x0123456789ABCDEF, {1389999884, 990893801}},
        {58982400 * uint64_t{10000000000}, {9999999999, 999999992}},
        {std::numeric_limits<uint64_t>::max(), {312749974122, 951111086}}};
    for (const auto& [ticks, time] : cases) {
        EXPECT_EQ(time, converted(ticks)) << ticks;
    }
    std::mt19937_64 rng(20240611);
    for (uint64_t i = 0; i < 20000; ++i) {
        const uint64_t ticks = i < 100 ? kOverflowLimit - 1 - i : rng() % kOverflowLimit;
        const int64_t ns = static_cast<int64_t>(ticks) * 78125 / 4608 - 8;
        ASSERT_EQ(Time(ns / 1000000000, static_cast<int32_t>(ns % 1000000000)), converted(ticks)) << ticks;
    }
}

TEST(TimeCode, NanosecondStampsAndDifferencesSaturateOnHostileValues) {
    ASPN2::header a, b;
    ASPN2::setToVandToA_fromNSec(-2000000001ns, a);
    ASPN2::setToV_fromNSec(5s + 100ns, a);
    ASPN2::setToVandToA_fromNSec(4s + 999999900ns, b);
    EXPECT_EQ(-2000000001ns, ASPN2::getNSec_fromToA(a));
    EXPECT_NEAR(2e-7, ASPN2::deltaTov(a, b), 1e-15);

    a.toaSec = a.tovSec = std::numeric_limits<int64_t>::max();
    b.toaSec = b.tovSec = std::numeric_limits<int64_t>::min();
    a.tovNsec = std::numeric_limits<int32_t>::max();
    b.tovNsec = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(std::chrono::nanoseconds::max(), ASPN2::getNSec_fromToA(a));
    EXPECT_EQ(std::chrono::nanoseconds::min(), ASPN2::getNSec_fromToA(b));
    EXPECT_GT(ASPN2::deltaTov(a, b), 1.8e19);
    EXPECT_TRUE(std::isfinite(ASPN2::deltaTov(a, b)));
}

TEST(TimeCode, StampsCarryTheirTimeCodeAndCopiesKeepEveryField) {
    aspn2_msgs::idl::header original;
    original.seq_num(-3);  // must survive the unsigned plain form
    original.device_id(static_cast<int32_t>(0x812C0205u));
    ASPN2::setToVandToA_fromFpgaTicks(117964800, original);
    TimeCodeHelper::Instance().setSimMode();
    ASPN2::setToV_fromFpgaTicks(0, original);
    TimeCodeHelper::Instance().setLiveMode();
    EXPECT_EQ(std::make_tuple(-3, static_cast<int32_t>(0x812C0205u), 1, 999999992, 100, 0, -8, 101), fields(original));

    ASPN2::header plain;
    ASPN2::setToVandToA_fromTo(original, plain);
    EXPECT_EQ(0, plain.device_id) << "stamps only";
    ASPN2::copyHeader_fromTo(original, plain);
    EXPECT_EQ(std::make_tuple(1, 100, 0, 101),
              std::make_tuple(plain.toaSec, plain.toaTimeCode, plain.tovSec, plain.tovTimeCode));
    aspn2_msgs::idl::header back;
    ASPN2::copyHeader_fromTo(plain, back);
    EXPECT_EQ(fields(original), fields(back));
}
