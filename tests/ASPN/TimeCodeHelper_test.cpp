#include "ASPN/TimeCodeHelper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

using namespace std::chrono_literals;
using ASPN2::FpgaTime;
using ASPN2::TimeCodeHelper;

namespace {

// floor(ticks * 78125 / 4608) - 8 split toward zero, in 32-bit limbs so that
// it needs no 128-bit type.
FpgaTime reference(uint64_t ticks) {
    const uint64_t pLo = (ticks & 0xFFFFFFFFu) * 78125u;
    const uint64_t pHi = (ticks >> 32) * 78125u + (pLo >> 32);
    const uint64_t qHi = pHi / 4608u;  // quotient = qHi * 2^32 + qLo
    const uint64_t qLo = (((pHi % 4608u) << 32) | (pLo & 0xFFFFFFFFu)) / 4608u;
    const uint64_t mid = ((qHi % 1000000000u) << 32) | qLo;
    int64_t sec = static_cast<int64_t>(((qHi / 1000000000u) << 32) + mid / 1000000000u);
    int64_t nsec = static_cast<int64_t>(mid % 1000000000u) - 8;
    if (nsec < 0 && sec > 0) {
        sec -= 1;
        nsec += 1000000000;
    }
    return FpgaTime{sec, static_cast<int32_t>(nsec)};
}

// The signed 64-bit formula, valid below the overflow limit.
FpgaTime plainFormula(uint64_t ticks) {
    const int64_t ns = static_cast<int64_t>(ticks) * 78125 / 4608 - 8;
    return FpgaTime{ns / 1000000000, static_cast<int32_t>(ns % 1000000000)};
}

// First tick count whose product with 78125 leaves the signed 64-bit range.
constexpr uint64_t kOverflowLimit = (uint64_t{1} << 63) / 78125u + 1;

::testing::AssertionResult sameTime(const FpgaTime& expected, uint64_t ticks) {
    const FpgaTime actual = ASPN2::fpgaTicksToTime(ticks);
    if (actual.sec == expected.sec && actual.nsec == expected.nsec) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << ticks << " ticks gave " << actual.sec << " s " << actual.nsec
                                         << " ns, expected " << expected.sec << " s " << expected.nsec << " ns";
}

class TimeCode : public ::testing::Test {
protected:
    void TearDown() override { TimeCodeHelper::Instance().setLiveMode(); }
};

}  // namespace

TEST(FpgaTicks, WorkedValuesAndTheSigned64BitFormulaBelowTheLimit) {
    EXPECT_TRUE(sameTime({0, 999999992}, 58982400));
    EXPECT_TRUE(sameTime({1, 999999992}, 117964800));
    EXPECT_TRUE(sameTime({0, -8}, 0));
    EXPECT_TRUE(sameTime({0, 8}, 1));  // 16.95 ns truncated, less 8
    EXPECT_TRUE(sameTime({1, 8}, 58982401));

    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t ticks = i < 200 ? static_cast<uint64_t>(i) : rng() % kOverflowLimit;
        ASSERT_TRUE(sameTime(plainFormula(ticks), ticks));
    }
    EXPECT_TRUE(sameTime(plainFormula(kOverflowLimit - 1), kOverflowLimit - 1));
}

TEST(FpgaTicks, ExactAtAndAboveTheOverflowLimit) {
    // The reference agrees with the plain formula where both apply.
    const FpgaTime r = reference(kOverflowLimit - 1), p = plainFormula(kOverflowLimit - 1);
    ASSERT_TRUE(r.sec == p.sec && r.nsec == p.nsec);

    for (uint64_t ticks : {kOverflowLimit, kOverflowLimit + 1, uint64_t{1} << 63,
                           std::numeric_limits<uint64_t>::max()}) {
        EXPECT_TRUE(sameTime(reference(ticks), ticks));
    }
    EXPECT_TRUE(sameTime({312749974122, 951111086}, std::numeric_limits<uint64_t>::max()));
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t ticks = rng();
        ASSERT_TRUE(sameTime(reference(ticks), ticks));
    }
}

TEST_F(TimeCode, StampsCarryTheTimeCodeOfTheirMoment) {
    aspn2_msgs::idl::header m;
    m.seq_num(-3);
    m.device_id(0x032C0100);
    ASPN2::setToVandToA_fromFpgaTicks(58982400, m);
    EXPECT_EQ(0, m.timestamp_valid().sec());
    EXPECT_EQ(999999992, m.timestamp_valid().nsec());
    EXPECT_EQ(100, m.timestamp_valid().time_code());
    EXPECT_EQ(999999992, m.timestamp_arrival().nsec());
    EXPECT_EQ(100, m.timestamp_arrival().time_code());
    EXPECT_EQ(-3, m.seq_num());
    EXPECT_EQ(0x032C0100, m.device_id());

    TimeCodeHelper::Instance().setSimMode();
    ASPN2::setToA_fromFpgaTicks(117964800, m);
    EXPECT_EQ(1, m.timestamp_arrival().sec());
    EXPECT_EQ(101, m.timestamp_arrival().time_code());
    EXPECT_EQ(100, m.timestamp_valid().time_code()) << "ToV untouched by setToA";

    TimeCodeHelper::Instance().setLiveMode();
    ASPN2::header h;
    ASPN2::setToVandToA_fromFpgaTicks(117964800, h);
    ASPN2::setToV_fromFpgaTicks(0, h);
    EXPECT_EQ(-8, h.tovNsec);
    EXPECT_EQ(100, h.tovTimeCode);
    EXPECT_EQ(1, h.toaSec) << "ToA untouched by setToV";
}

TEST_F(TimeCode, NanosecondStampsAndDifferences) {
    aspn2_msgs::idl::header m;
    ASPN2::setToVandToA_fromNSec(-2000000001ns, m);
    EXPECT_EQ(-2, m.timestamp_valid().sec());
    EXPECT_EQ(-1, m.timestamp_valid().nsec());
    ASPN2::setToV_fromNSec(3s, m);
    EXPECT_EQ(-2000000001ns, ASPN2::getNSec_fromToA(m));

    ASPN2::header a, b;
    a.tovSec = 5, a.tovNsec = 100;
    b.tovSec = 4, b.tovNsec = 999999900;
    EXPECT_NEAR(2e-7, ASPN2::deltaTov(a, b), 1e-15);
    EXPECT_NEAR(-2e-7, ASPN2::deltaTov(b, a), 1e-15);

    // Hostile values saturate or stay finite instead of overflowing.
    a.toaSec = std::numeric_limits<int64_t>::max();
    b.toaSec = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(std::chrono::nanoseconds::max(), ASPN2::getNSec_fromToA(a));
    EXPECT_EQ(std::chrono::nanoseconds::min(), ASPN2::getNSec_fromToA(b));
    a.tovSec = a.toaSec, a.tovNsec = std::numeric_limits<int32_t>::max();
    b.tovSec = b.toaSec, b.tovNsec = std::numeric_limits<int32_t>::min();
    EXPECT_TRUE(std::isfinite(ASPN2::deltaTov(a, b)));
    EXPECT_GT(ASPN2::deltaTov(a, b), 1.8e19);
}

TEST(HeaderCopy, ThereAndBackAndStampsOnly) {
    aspn2_msgs::idl::header original;
    original.seq_num(-3);  // must survive the unsigned plain form
    original.timestamp_arrival().sec(11), original.timestamp_arrival().nsec(12);
    original.timestamp_arrival().time_code(13);
    original.timestamp_valid().sec(21), original.timestamp_valid().nsec(22);
    original.timestamp_valid().time_code(23);
    original.device_id(static_cast<int32_t>(0x812C0205u));

    ASPN2::header plain;
    ASPN2::copyHeader_fromTo(original, plain);
    EXPECT_EQ(11, plain.toaSec);
    EXPECT_EQ(23, plain.tovTimeCode);
    aspn2_msgs::idl::header back;
    ASPN2::copyHeader_fromTo(plain, back);
    EXPECT_EQ(original.seq_num(), back.seq_num());
    EXPECT_EQ(original.device_id(), back.device_id());
    const auto same = [](const aspn2_msgs::idl::timestamp& x, const aspn2_msgs::idl::timestamp& y) {
        return x.sec() == y.sec() && x.nsec() == y.nsec() && x.time_code() == y.time_code();
    };
    EXPECT_TRUE(same(original.timestamp_arrival(), back.timestamp_arrival()));
    EXPECT_TRUE(same(original.timestamp_valid(), back.timestamp_valid()));

    ASPN2::header stampsOnly;
    stampsOnly.seq_num = 99, stampsOnly.device_id = 7;
    ASPN2::setToVandToA_fromTo(original, stampsOnly);
    EXPECT_EQ(99u, stampsOnly.seq_num);
    EXPECT_EQ(7, stampsOnly.device_id);
    EXPECT_EQ(12, stampsOnly.toaNsec);
    aspn2_msgs::idl::header target;
    ASPN2::setToVandToA_fromTo(stampsOnly, target);
    EXPECT_EQ(0, target.seq_num());
    EXPECT_EQ(0, target.device_id());
    EXPECT_EQ(22, target.timestamp_valid().nsec());
    EXPECT_EQ(13, target.timestamp_arrival().time_code());
}
