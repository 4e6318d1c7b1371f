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

// Reference conversion in 128-bit arithmetic built from 32-bit limbs, so it
// runs on targets without a native 128-bit type: floor(ticks * 78125 / 4608) - 8,
// then split toward zero.
FpgaTime reference(uint64_t ticks) {
    const uint64_t lo = ticks & 0xFFFFFFFFu;
    const uint64_t hi = ticks >> 32;
    // product = hi * 78125 * 2^32 + lo * 78125
    const uint64_t pLo = lo * 78125u;
    const uint64_t pHi = hi * 78125u + (pLo >> 32);
    // Long division of (pHi : pLo & 0xFFFFFFFF) by 4608, 32 bits at a time.
    const uint64_t qHi = pHi / 4608u;
    const uint64_t rHi = pHi % 4608u;
    const uint64_t qLo = ((rHi << 32) | (pLo & 0xFFFFFFFFu)) / 4608u;
    // quotient = qHi * 2^32 + qLo, at most about 3.2e20 nanoseconds; split by
    // 10^9 the same way.
    const uint64_t billion = 1000000000u;
    const uint64_t sHi = qHi / billion;
    const uint64_t remHi = qHi % billion;
    const uint64_t mid = (remHi << 32) | qLo;  // remHi < 2^30, fits
    const uint64_t sec = (sHi << 32) + mid / billion;
    int64_t nsec = static_cast<int64_t>(mid % billion) - 8;
    int64_t s = static_cast<int64_t>(sec);
    if (nsec < 0 && s > 0) {
        s -= 1;
        nsec += 1000000000;
    }
    return FpgaTime{s, static_cast<int32_t>(nsec)};
}

// The plain signed 64-bit formula, valid below the overflow limit.
FpgaTime plainFormula(uint64_t ticks) {
    const int64_t ns = static_cast<int64_t>(ticks) * 78125 / 4608 - 8;
    return FpgaTime{ns / 1000000000, static_cast<int32_t>(ns % 1000000000)};
}

void expectEq(const FpgaTime& expected, const FpgaTime& actual, uint64_t ticks) {
    EXPECT_EQ(expected.sec, actual.sec) << "ticks " << ticks;
    EXPECT_EQ(expected.nsec, actual.nsec) << "ticks " << ticks;
}

// First tick count whose product with 78125 leaves the signed 64-bit range.
constexpr uint64_t kOverflowLimit = (uint64_t{1} << 63) / 78125u + 1;

class TimeCode : public ::testing::Test {
protected:
    void TearDown() override { TimeCodeHelper::Instance().setLiveMode(); }
};

}  // namespace

TEST(FpgaTicks, WorkedValues) {
    expectEq({0, 999999992}, ASPN2::fpgaTicksToTime(58982400), 58982400);
    expectEq({1, 999999992}, ASPN2::fpgaTicksToTime(117964800), 117964800);
    expectEq({0, -8}, ASPN2::fpgaTicksToTime(0), 0);
    // One tick is 16.95 ns: truncated to 16, less the 8 ns.
    expectEq({0, 8}, ASPN2::fpgaTicksToTime(1), 1);
    expectEq({1, 8}, ASPN2::fpgaTicksToTime(58982401), 58982401);
    expectEq({0, 999999975}, ASPN2::fpgaTicksToTime(58982399), 58982399);
}

TEST(FpgaTicks, IdenticalToTheSigned64BitFormulaBelowTheLimit) {
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t ticks = rng() % kOverflowLimit;
        expectEq(plainFormula(ticks), ASPN2::fpgaTicksToTime(ticks), ticks);
    }
    for (uint64_t ticks = 0; ticks < 200; ++ticks) {
        expectEq(plainFormula(ticks), ASPN2::fpgaTicksToTime(ticks), ticks);
    }
    for (uint64_t k = 1; k < 50; ++k) {
        for (uint64_t ticks : {k * 58982400 - 1, k * 58982400, k * 58982400 + 1}) {
            expectEq(plainFormula(ticks), ASPN2::fpgaTicksToTime(ticks), ticks);
        }
    }
    expectEq(plainFormula(kOverflowLimit - 1), ASPN2::fpgaTicksToTime(kOverflowLimit - 1), kOverflowLimit - 1);
}

TEST(FpgaTicks, ExactAtAndAboveTheOverflowLimit) {
    // The reference itself agrees with the plain formula where both apply.
    expectEq(plainFormula(kOverflowLimit - 1), reference(kOverflowLimit - 1), kOverflowLimit - 1);

    for (uint64_t ticks : {kOverflowLimit, kOverflowLimit + 1, kOverflowLimit * 2, uint64_t{1} << 62,
                           uint64_t{1} << 63, std::numeric_limits<uint64_t>::max() - 1,
                           std::numeric_limits<uint64_t>::max()}) {
        const FpgaTime t = ASPN2::fpgaTicksToTime(ticks);
        expectEq(reference(ticks), t, ticks);
        EXPECT_GE(t.nsec, 0);
        EXPECT_LT(t.nsec, 1000000000);
    }
    // 2^64 - 1 ticks: 312 749 974 122 s and some.
    EXPECT_EQ(int64_t{312749974122}, ASPN2::fpgaTicksToTime(std::numeric_limits<uint64_t>::max()).sec);

    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t ticks = rng();
        expectEq(reference(ticks), ASPN2::fpgaTicksToTime(ticks), ticks);
    }
    // Time keeps moving forward across the limit.
    const FpgaTime before = ASPN2::fpgaTicksToTime(kOverflowLimit - 1);
    const FpgaTime after = ASPN2::fpgaTicksToTime(kOverflowLimit);
    EXPECT_TRUE(after.sec > before.sec || (after.sec == before.sec && after.nsec > before.nsec));
}

TEST_F(TimeCode, StampsCarryTheCurrentTimeCode) {
    ASPN2::header h;
    ASPN2::setToVandToA_fromFpgaTicks(58982400, h);
    EXPECT_EQ(100, h.tovTimeCode);
    EXPECT_EQ(100, h.toaTimeCode);
    EXPECT_EQ(0, h.tovSec);
    EXPECT_EQ(999999992, h.tovNsec);
    EXPECT_EQ(0, h.toaSec);
    EXPECT_EQ(999999992, h.toaNsec);

    TimeCodeHelper::Instance().setSimMode();
    EXPECT_EQ(101, TimeCodeHelper::Instance().getTimeCode());
    ASPN2::setToA_fromFpgaTicks(117964800, h);
    EXPECT_EQ(101, h.toaTimeCode);
    EXPECT_EQ(1, h.toaSec);
    EXPECT_EQ(100, h.tovTimeCode) << "ToV untouched by setToA";
    EXPECT_EQ(0, h.tovSec);

    TimeCodeHelper::Instance().setLiveMode();
    ASPN2::setToV_fromFpgaTicks(0, h);
    EXPECT_EQ(100, h.tovTimeCode);
    EXPECT_EQ(0, h.tovSec);
    EXPECT_EQ(-8, h.tovNsec);
    EXPECT_EQ(101, h.toaTimeCode) << "ToA untouched by setToV";
}

TEST_F(TimeCode, NanosecondStampsAndBack) {
    ASPN2::header h;
    h.seq_num = 77;
    h.device_id = 0x032C0100;
    ASPN2::setToVandToA_fromNSec(5000000100ns, h);
    EXPECT_EQ(5, h.tovSec);
    EXPECT_EQ(100, h.tovNsec);
    EXPECT_EQ(5, h.toaSec);
    EXPECT_EQ(100, h.toaNsec);
    EXPECT_EQ(100, h.toaTimeCode);
    EXPECT_EQ(77u, h.seq_num);
    EXPECT_EQ(0x032C0100, h.device_id);
    EXPECT_EQ(5000000100ns, ASPN2::getNSec_fromToA(h));

    ASPN2::setToV_fromNSec(-1500000000ns, h);
    EXPECT_EQ(-1, h.tovSec);
    EXPECT_EQ(-500000000, h.tovNsec);
    EXPECT_EQ(5, h.toaSec) << "ToA untouched by setToV";

    // Hostile header values saturate rather than overflow.
    h.toaSec = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(std::chrono::nanoseconds::max(), ASPN2::getNSec_fromToA(h));
    h.toaSec = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(std::chrono::nanoseconds::min(), ASPN2::getNSec_fromToA(h));
}

TEST(DeltaTov, SecondsBetweenTimesOfValidity) {
    ASPN2::header a, b;
    a.tovSec = 5;
    a.tovNsec = 100;
    b.tovSec = 4;
    b.tovNsec = 999999900;
    EXPECT_NEAR(2e-7, ASPN2::deltaTov(a, b), 1e-15);
    EXPECT_NEAR(-2e-7, ASPN2::deltaTov(b, a), 1e-15);
    EXPECT_EQ(0.0, ASPN2::deltaTov(a, a));

    // Far-apart or malformed stamps give a finite, sensible answer.
    a.tovSec = std::numeric_limits<int64_t>::max();
    b.tovSec = std::numeric_limits<int64_t>::min();
    a.tovNsec = std::numeric_limits<int32_t>::max();
    b.tovNsec = std::numeric_limits<int32_t>::min();
    const double d = ASPN2::deltaTov(a, b);
    EXPECT_TRUE(std::isfinite(d));
    EXPECT_GT(d, 1.8e19);
}

namespace {

aspn2_msgs::idl::header distinctHeader() {
    aspn2_msgs::idl::header h;
    h.seq_num(-3);  // a signed wire value that must survive the unsigned copy
    h.timestamp_arrival().sec(11);
    h.timestamp_arrival().nsec(12);
    h.timestamp_arrival().time_code(13);
    h.timestamp_valid().sec(21);
    h.timestamp_valid().nsec(22);
    h.timestamp_valid().time_code(23);
    h.device_id(static_cast<int32_t>(0x812C0205u));
    return h;
}

void expectSameHeader(const aspn2_msgs::idl::header& a, const aspn2_msgs::idl::header& b) {
    EXPECT_EQ(a.seq_num(), b.seq_num());
    EXPECT_EQ(a.timestamp_arrival().sec(), b.timestamp_arrival().sec());
    EXPECT_EQ(a.timestamp_arrival().nsec(), b.timestamp_arrival().nsec());
    EXPECT_EQ(a.timestamp_arrival().time_code(), b.timestamp_arrival().time_code());
    EXPECT_EQ(a.timestamp_valid().sec(), b.timestamp_valid().sec());
    EXPECT_EQ(a.timestamp_valid().nsec(), b.timestamp_valid().nsec());
    EXPECT_EQ(a.timestamp_valid().time_code(), b.timestamp_valid().time_code());
    EXPECT_EQ(a.device_id(), b.device_id());
}

}  // namespace

TEST_F(TimeCode, MessageHeaderStampsMatchThePlainForm) {
    aspn2_msgs::idl::header m = distinctHeader();
    ASPN2::setToVandToA_fromFpgaTicks(117964800, m);
    EXPECT_EQ(1, m.timestamp_valid().sec());
    EXPECT_EQ(999999992, m.timestamp_valid().nsec());
    EXPECT_EQ(100, m.timestamp_valid().time_code());
    EXPECT_EQ(1, m.timestamp_arrival().sec());
    EXPECT_EQ(999999992, m.timestamp_arrival().nsec());
    EXPECT_EQ(100, m.timestamp_arrival().time_code());
    EXPECT_EQ(-3, m.seq_num());
    EXPECT_EQ(static_cast<int32_t>(0x812C0205u), m.device_id());

    TimeCodeHelper::Instance().setSimMode();
    ASPN2::setToA_fromFpgaTicks(0, m);
    EXPECT_EQ(0, m.timestamp_arrival().sec());
    EXPECT_EQ(-8, m.timestamp_arrival().nsec());
    EXPECT_EQ(101, m.timestamp_arrival().time_code());
    EXPECT_EQ(100, m.timestamp_valid().time_code());
    ASPN2::setToV_fromFpgaTicks(58982400, m);
    EXPECT_EQ(0, m.timestamp_valid().sec());
    EXPECT_EQ(101, m.timestamp_valid().time_code());
    EXPECT_EQ(-8, m.timestamp_arrival().nsec()) << "ToA untouched by setToV";

    ASPN2::setToVandToA_fromNSec(-2000000001ns, m);
    EXPECT_EQ(-2, m.timestamp_valid().sec());
    EXPECT_EQ(-1, m.timestamp_valid().nsec());
    EXPECT_EQ(-2000000001ns, ASPN2::getNSec_fromToA(m));
    ASPN2::setToV_fromNSec(3s, m);
    EXPECT_EQ(-2000000001ns, ASPN2::getNSec_fromToA(m));

    aspn2_msgs::idl::header a, b;
    a.timestamp_valid().sec(5);
    a.timestamp_valid().nsec(100);
    b.timestamp_valid().sec(4);
    b.timestamp_valid().nsec(999999900);
    EXPECT_NEAR(2e-7, ASPN2::deltaTov(a, b), 1e-15);
}

TEST(HeaderCopy, ThereAndBackReproducesEveryField) {
    const aspn2_msgs::idl::header original = distinctHeader();
    ASPN2::header plain;
    ASPN2::copyHeader_fromTo(original, plain);
    EXPECT_EQ(11, plain.toaSec);
    EXPECT_EQ(12, plain.toaNsec);
    EXPECT_EQ(13, plain.toaTimeCode);
    EXPECT_EQ(21, plain.tovSec);
    EXPECT_EQ(22, plain.tovNsec);
    EXPECT_EQ(23, plain.tovTimeCode);
    EXPECT_EQ(static_cast<int32_t>(0x812C0205u), plain.device_id);

    aspn2_msgs::idl::header back;
    ASPN2::copyHeader_fromTo(plain, back);
    expectSameHeader(original, back);
}

TEST(HeaderCopy, StampCopyLeavesSequenceAndDeviceAlone) {
    const aspn2_msgs::idl::header source = distinctHeader();
    ASPN2::header plain;
    plain.seq_num = 99;
    plain.device_id = 7;
    ASPN2::setToVandToA_fromTo(source, plain);
    EXPECT_EQ(99u, plain.seq_num);
    EXPECT_EQ(7, plain.device_id);
    EXPECT_EQ(11, plain.toaSec);
    EXPECT_EQ(23, plain.tovTimeCode);

    aspn2_msgs::idl::header target;
    target.seq_num(5);
    target.device_id(6);
    ASPN2::setToVandToA_fromTo(plain, target);
    EXPECT_EQ(5, target.seq_num());
    EXPECT_EQ(6, target.device_id());
    EXPECT_EQ(12, target.timestamp_arrival().nsec());
    EXPECT_EQ(22, target.timestamp_valid().nsec());
    EXPECT_EQ(13, target.timestamp_arrival().time_code());
}
