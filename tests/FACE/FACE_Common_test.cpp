#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "FACE/FACE_Common.h"

using FACE::String;
namespace RC = FACE::RETURN_CODE_TYPE;

TEST(ReturnCode, NamesChecksAndTheirLine) {
    EXPECT_EQ(RC::ToString(RC::DATA_OVERFLOW).str(), "DATA_OVERFLOW");
    EXPECT_EQ(RC::ToString(static_cast<RC::Value>(14)).str(), "RC_UNKNOWN");
    EXPECT_EQ(RC::ToString(static_cast<RC::Value>(0xFFFFFFFFu)).str(), "RC_UNKNOWN");

    EXPECT_THROW(FACE::Return_Code_Value_No_Error("f", 1, "m", RC::NO_ACTION), std::runtime_error);
    EXPECT_NO_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m", RC::NO_ACTION));
    EXPECT_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m",
                                                            static_cast<RC::Value>(0xFFFFFFFFu)),
                 std::runtime_error);

    testing::internal::CaptureStdout();
    std::string what;
    try {
        FACE::Return_Code_Value_No_Error_No_Action("main", 121, "Configure() failed",
                                                   RC::INVALID_CONFIG);
    } catch (const std::runtime_error& e) {
        what = e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "main[121]:INVALID_CONFIG Configure() failed\n");
    EXPECT_EQ(what, "main[121]:INVALID_CONFIG Configure() failed");
}

TEST(FaceString, BoundsAreEnforcedAndInvalidStringsRefuseEverything) {
    String::RETURN_CODE rc;
    for (uint32_t bad : {0u, String::UNBOUNDED_VALUE}) {
        String s(bad, rc);
        EXPECT_EQ(rc, String::INVALID_VALUE);
        EXPECT_EQ(s.buffer(), nullptr);
        EXPECT_EQ(s.bound(), 0u);
        EXPECT_EQ(s.append('x'), String::INVALID_VALUE);
    }
    String one(1u, rc);
    EXPECT_EQ(one.append('a'), String::NO_ERROR);
    EXPECT_EQ(one.append('b'), String::INSUFFICIENT_BOUND);

    String abc("abc", rc);  // full at its own length
    EXPECT_EQ(abc.append(String("d")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(abc.append(String("")), String::NO_ERROR);
    EXPECT_EQ(abc[1000], '\0');
    String null(static_cast<const char*>(nullptr), rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_EQ(null.length(), 0u);

    String withNul;
    withNul.append('a');
    withNul.append('\0');
    withNul.append('b');
    EXPECT_EQ(withNul.length(), 3u);
    EXPECT_EQ(withNul[2], 'b');
}

TEST(FaceString, UnmanagedWritesOnlyInsideTheCallerBuffer) {
    char buf[10];
    std::memset(buf, 'X', sizeof buf);
    std::memcpy(buf, "abc", 3);
    String::RETURN_CODE rc;
    String s(buf, 3, 8, rc);
    ASSERT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(buf[3], '\0');
    EXPECT_EQ(s.append(s), String::NO_ERROR);  // overlapping self-append
    EXPECT_STREQ(buf, "abcabc");
    EXPECT_EQ(s.append(String("def")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(s.append(String("de")), String::NO_ERROR);
    EXPECT_EQ(s.append('i'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 10), std::string("abcabcde\0X", 10));
    s.clear();
    EXPECT_EQ(buf[0], '\0');

    char untouched[8];
    std::memset(untouched, 'X', sizeof untouched);
    String tooLong(untouched, 5, 4, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    String nullBuffer(nullptr, 0, 4, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_EQ(std::string(untouched, 8), "XXXXXXXX");
}

TEST(FaceString, ReadOnlyViewNeverWritesTheConstantText) {
    static const char text[] = "view";
    String view(text);
    EXPECT_EQ(view.bound(), 4u);
    EXPECT_EQ(view.append('x'), String::INSUFFICIENT_BOUND);
    view.clear();
    EXPECT_EQ(view.length(), 0u);
    EXPECT_STREQ(view.buffer(), "");
    EXPECT_STREQ(text, "view");
    EXPECT_FALSE(String(static_cast<const char*>(nullptr)).is_valid());
}

TEST(FaceString, CopyAndAssignmentBecomeManagedWithTheSourceBound) {
    char buf[9] = "abc";
    String::RETURN_CODE rc;
    String unmanaged(buf, 3, 8, rc);
    String copy(unmanaged);
    buf[0] = 'z';
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.bound(), 8u);
    EXPECT_EQ(copy.str(), "abc");

    String bounded(2u, rc);
    String unbounded;
    unbounded.append(String("longer than two"));
    bounded = unbounded;
    EXPECT_FALSE(bounded.is_bounded());
    EXPECT_EQ(bounded.str(), "longer than two");

    char target[9] = "old";
    String external(target, 3, 8, rc);
    external = String("new");  // detaches from the caller's buffer
    EXPECT_STREQ(target, "old");
    EXPECT_EQ(external.str(), "new");
    external = String(0u, rc);
    EXPECT_FALSE(external.is_valid());
}
