#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "FACE/FACE_Common.h"

using FACE::String;
namespace RC = FACE::RETURN_CODE_TYPE;

TEST(ReturnCode, NamesAndUnknownValues) {
    EXPECT_EQ(RC::ToString(RC::NO_ERROR).str(), "NO_ERROR");
    EXPECT_EQ(RC::ToString(RC::IN_PROGRESS).str(), "IN_PROGRESS");
    EXPECT_EQ(RC::ToString(RC::DATA_OVERFLOW).str(), "DATA_OVERFLOW");
    EXPECT_EQ(RC::ToString(static_cast<RC::Value>(14)).str(), "RC_UNKNOWN");
    EXPECT_EQ(RC::ToString(static_cast<RC::Value>(0xFFFFFFFFu)).str(), "RC_UNKNOWN");
    const String name = RC::ToString(RC::INVALID_CONFIG);
    EXPECT_TRUE(name.is_managed());
    EXPECT_TRUE(name.is_valid());
}

TEST(ReturnCode, ChecksPrintThenThrowTheSameText) {
    EXPECT_NO_THROW(FACE::Return_Code_Value_No_Error("f", 1, "m", RC::NO_ERROR));
    EXPECT_THROW(FACE::Return_Code_Value_No_Error("f", 1, "m", RC::NO_ACTION), std::runtime_error);
    EXPECT_NO_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m", RC::NO_ACTION));
    EXPECT_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m", RC::NOT_AVAILABLE),
                 std::runtime_error);
    EXPECT_THROW(FACE::Return_Code_Value_No_Error_No_Action(
                     "f", 1, "m", static_cast<RC::Value>(0xFFFFFFFFu)),
                 std::runtime_error);

    testing::internal::CaptureStdout();
    std::string what;
    try {
        FACE::Return_Code_Value_No_Error_No_Action("main", 121, "Configure() failed",
                                                   RC::INVALID_CONFIG);
    } catch (const std::runtime_error& e) {
        what = e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "main[121]:INVALID_CONFIG Configure() failed\n");
    EXPECT_EQ(what, "main[121]:INVALID_CONFIG Configure() failed");
}

TEST(FaceString, BoundedConstructorRejectsZeroAndUnbounded) {
    String::RETURN_CODE rc;
    String zero(0u, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_FALSE(zero.is_valid());
    EXPECT_EQ(zero.buffer(), nullptr);
    EXPECT_EQ(zero.bound(), 0u);
    EXPECT_EQ(zero.append('x'), String::INVALID_VALUE);

    String all(String::UNBOUNDED_VALUE, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_FALSE(all.is_valid());

    String one(1u, rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_TRUE(one.is_bounded());
    EXPECT_EQ(one.append('a'), String::NO_ERROR);
    EXPECT_EQ(one.append('b'), String::INSUFFICIENT_BOUND);
    EXPECT_STREQ(one.buffer(), "a");
}

TEST(FaceString, TextConstructorIsFullAtItsOwnLength) {
    String::RETURN_CODE rc;
    String abc("abc", rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(abc.bound(), 3u);
    EXPECT_EQ(abc.append(String("d")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(abc.append(String("")), String::NO_ERROR);
    EXPECT_STREQ(abc.buffer(), "abc");
    EXPECT_EQ(abc[1000], '\0');
    EXPECT_EQ(abc[2], 'c');

    String null(static_cast<const char*>(nullptr), rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_FALSE(null.is_valid());
    EXPECT_EQ(null.length(), 0u);
    EXPECT_EQ(null.capacity(), 0u);
}

TEST(FaceString, UnmanagedWritesIntoCallerBufferWithinBound) {
    char buf[9];
    std::memset(buf, 'X', sizeof buf);
    std::memcpy(buf, "abc", 3);
    String::RETURN_CODE rc;
    String s(buf, 3, 8, rc);
    ASSERT_EQ(rc, String::NO_ERROR);
    EXPECT_FALSE(s.is_managed());
    EXPECT_EQ(buf[3], '\0');
    EXPECT_EQ(s.capacity(), 8u);
    EXPECT_EQ(s.append(String("de")), String::NO_ERROR);
    EXPECT_EQ(s.append(s), String::INSUFFICIENT_BOUND);  // 5 + 5 > 8
    EXPECT_EQ(s.append(String("fgh")), String::NO_ERROR);
    EXPECT_EQ(s.append('i'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");
    EXPECT_EQ(buf[8], '\0');
    EXPECT_EQ(s.buffer(), buf);

    s.clear();
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST(FaceString, UnmanagedSelfAppendCopiesTheOriginalCharacters) {
    char buf[9] = "abc";
    String::RETURN_CODE rc;
    String s(buf, 3, 8, rc);
    EXPECT_EQ(s.append(s), String::NO_ERROR);
    EXPECT_STREQ(buf, "abcabc");
}

TEST(FaceString, UnmanagedRefusesBadArgumentsAndWritesNothing) {
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    String::RETURN_CODE rc;
    String tooLong(buf, 5, 4, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_FALSE(tooLong.is_valid());
    EXPECT_EQ(std::string(buf, 8), "XXXXXXXX");

    String nullBuf(nullptr, 0, 4, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    String zeroBound(buf, 0, 0, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    EXPECT_EQ(std::string(buf, 8), "XXXXXXXX");
}

TEST(FaceString, ReadOnlyViewNeverWritesTheConstantText) {
    static const char text[] = "view";
    String view(text);
    EXPECT_TRUE(view.is_valid());
    EXPECT_FALSE(view.is_managed());
    EXPECT_EQ(view.length(), 4u);
    EXPECT_EQ(view.bound(), 4u);
    EXPECT_EQ(view.append('x'), String::INSUFFICIENT_BOUND);
    view.clear();
    EXPECT_EQ(view.length(), 0u);
    EXPECT_STREQ(view.buffer(), "");
    EXPECT_STREQ(text, "view");

    String empty("");
    EXPECT_EQ(empty.append('x'), String::INSUFFICIENT_BOUND);
    String null(static_cast<const char*>(nullptr));
    EXPECT_FALSE(null.is_valid());
}

TEST(FaceString, CopyAndAssignmentBecomeManagedWithTheSourceBound) {
    char buf[9] = "abc";
    String::RETURN_CODE rc;
    String unmanaged(buf, 3, 8, rc);
    String copy(unmanaged);
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.bound(), 8u);
    buf[0] = 'z';
    EXPECT_STREQ(copy.buffer(), "abc");

    String bounded(2u, rc);
    String unbounded;
    ASSERT_EQ(unbounded.append(String("longer than two")), String::NO_ERROR);
    bounded = unbounded;
    EXPECT_FALSE(bounded.is_bounded());
    EXPECT_EQ(bounded.str(), "longer than two");

    // Assigning to an unmanaged target detaches it from its buffer.
    char target[9] = "old";
    String external(target, 3, 8, rc);
    external = String("new");
    EXPECT_TRUE(external.is_managed());
    EXPECT_STREQ(target, "old");
    EXPECT_EQ(external.str(), "new");

    String invalid(0u, rc);
    String invalidCopy(invalid);
    EXPECT_FALSE(invalidCopy.is_valid());
    external = invalid;
    EXPECT_FALSE(external.is_valid());
    EXPECT_EQ(external.buffer(), nullptr);
}

TEST(FaceString, NulCharacterCountsInLength) {
    String s;
    EXPECT_EQ(s.append('a'), String::NO_ERROR);
    EXPECT_EQ(s.append('\0'), String::NO_ERROR);
    EXPECT_EQ(s.append('b'), String::NO_ERROR);
    EXPECT_EQ(s.length(), 3u);
    EXPECT_EQ(s[2], 'b');
    EXPECT_EQ(s[3], '\0');
}
