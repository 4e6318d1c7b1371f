#include "FACE/IOSS.h"

#include <gtest/gtest.h>

using FACE::IOSS::IO_PARAMETER_VALUE_TYPE;

TEST(IO_PARAMETER_VALUE_TYPE, StartsAsAZeroShortAndKeepsAlternativesApart) {
    IO_PARAMETER_VALUE_TYPE v;
    EXPECT_EQ(0, v.descriminator());
    IO_PARAMETER_VALUE_TYPE::RETURN_CODE code = IO_PARAMETER_VALUE_TYPE::INVALID_DISCRIMINATOR;
    int16_t s = 5;
    v.short_value(s, code);
    EXPECT_EQ(IO_PARAMETER_VALUE_TYPE::NO_ERROR, code);
    EXPECT_EQ(0, s);

    v.ulong_value(0xDEADBEEFu);
    EXPECT_EQ(4, v.descriminator());
    v.double_value() = 2.5;  // the modifier switches the alternative
    EXPECT_EQ(7, v.descriminator());

    uint32_t u = 1;
    v.ulong_value(u, code);
    EXPECT_EQ(IO_PARAMETER_VALUE_TYPE::INVALID_DISCRIMINATOR, code);
    EXPECT_EQ(1u, u) << "a refused read leaves the output alone";
    // Separate storage: the earlier alternative survives a switch and back.
    EXPECT_EQ(0xDEADBEEFu, v.ulong_value());
    EXPECT_EQ(4, v.descriminator());
    double d = 0;
    v.double_value(d, code);
    EXPECT_EQ(IO_PARAMETER_VALUE_TYPE::INVALID_DISCRIMINATOR, code);

    v.octet_value(0xFF);
    EXPECT_EQ(11, v.descriminator());
    v.boolean_value(true);
    EXPECT_EQ(10, v.descriminator());
    v.char_value('x');
    EXPECT_EQ(9, v.descriminator());
    v.longdouble_value(1.0L);
    EXPECT_EQ(8, v.descriminator());
    v.longlong_value(-1);
    EXPECT_EQ(2, v.descriminator());
    int64_t ll = 0;
    v.longlong_value(ll, code);
    EXPECT_EQ(IO_PARAMETER_VALUE_TYPE::NO_ERROR, code);
    EXPECT_EQ(-1, ll);
}
