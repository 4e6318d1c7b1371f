// FACE strings, return codes and the string utilities.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "FACE/FACE_Common.h"
#include "FACE/StringUtils.h"

using FACE::String;
namespace RC = FACE::RETURN_CODE_TYPE;
using Strings = std::vector<std::string>;

TEST(ReturnCode, NamesAndChecksThatThrowWithFileAndLine) {
    EXPECT_EQ(RC::ToString(RC::DATA_OVERFLOW).str() + " " + RC::Name(static_cast<RC::Value>(14)),
              "DATA_OVERFLOW RC_UNKNOWN");
    EXPECT_THROW(FACE::Return_Code_Value_No_Error("f", 1, "m", RC::NO_ACTION), std::runtime_error);
    EXPECT_NO_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m", RC::NO_ACTION));
    testing::internal::CaptureStdout();
    try {
        FACE::Return_Code_Value_No_Error_No_Action("main", 121, "Configure() failed", RC::INVALID_CONFIG);
        ADD_FAILURE() << "INVALID_CONFIG passed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "main[121]:INVALID_CONFIG Configure() failed");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "main[121]:INVALID_CONFIG Configure() failed\n");
}

TEST(FaceString, AppendsStopAtTheBoundAndInvalidStringsRefuseEverything) {
    String::RETURN_CODE rc;
    for (uint32_t bad : {0u, String::UNBOUNDED_VALUE}) {
        String s(bad, rc);
        EXPECT_EQ(rc, String::INVALID_VALUE);
        EXPECT_EQ(s.buffer(), nullptr);
        EXPECT_EQ(s.append('x'), String::INVALID_VALUE);
    }
    String(static_cast<const char*>(nullptr), rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    String one(1u, rc);
    EXPECT_EQ(one.append('a'), String::NO_ERROR);
    EXPECT_EQ(one.append('b'), String::INSUFFICIENT_BOUND);
    String abc("abc", rc);  // full at its own length
    EXPECT_EQ(abc.append(String("d")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(abc.append(String("")), String::NO_ERROR);
    EXPECT_EQ(abc[1000], '\0');
    String withNul;  // the length is counted, not found by a terminator
    withNul.append('\0');
    withNul.append('b');
    EXPECT_EQ(withNul.str(), std::string("\0b", 2));

    static const char text[] = "view";
    String view(text);  // read-only: the constant text is never written
    view.clear();
    EXPECT_STREQ(view.buffer(), "");
    EXPECT_EQ(view.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_STREQ(text, "view");
    EXPECT_FALSE(String(static_cast<const char*>(nullptr)).is_valid());
}

TEST(FaceString, CallerBuffersAreWrittenOnlyInsideTheBoundAndCopiesDetach) {
    char buf[11] = "abcXXXXXXX";
    String::RETURN_CODE rc;
    String(buf, 9, 8, rc);  // longer than its bound: refused, nothing written
    EXPECT_EQ(rc, String::INVALID_VALUE);
    String(nullptr, 0, 8, rc);
    EXPECT_EQ(rc, String::INVALID_VALUE);
    String s(buf, 3, 8, rc);
    ASSERT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(buf[3], '\0');
    EXPECT_EQ(s.append(s), String::NO_ERROR);  // overlapping self-append
    EXPECT_EQ(s.append(String("def")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(s.append(String("de")), String::NO_ERROR);
    EXPECT_EQ(s.append('i'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 10), std::string("abcabcde\0X", 10));
    const String copy(s);  // managed, with the source's bound
    s.clear();
    EXPECT_EQ(buf[0], '\0');
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.str() + " " + std::to_string(copy.bound()), "abcabcde 8");

    char target[9] = "old";
    String external(target, 3, 8, rc);
    external = String("new");
    EXPECT_STREQ(target, "old");
    EXPECT_EQ(external.str(), "new");
    String unbounded;
    unbounded.append(String("longer than two"));
    String bounded(2u, rc);
    bounded = unbounded;  // takes the source's bound
    EXPECT_FALSE(bounded.is_bounded());
    EXPECT_EQ(bounded.str(), "longer than two");
    bounded = String(0u, rc);
    EXPECT_FALSE(bounded.is_valid());
}

TEST(StringUtils, TrimSplitJoinChunksReplaceAndCopy) {
    EXPECT_EQ(StringUtils::trim(" \t\v\f abc \r\n") + StringUtils::trim(" \v\f"), "abc");
    EXPECT_EQ(StringUtils::trim("\xC2\xA0" "a"), "\xC2\xA0" "a");  // ASCII whitespace only
    EXPECT_EQ(StringUtils::ltrim("  a b  ") + "|" + StringUtils::rtrim("  a b  "), "a b  |  a b");
    EXPECT_EQ(StringUtils::split("x,y,,z,", ','), (Strings{"x", "y", "", "z"}));  // no trailing empty token
    EXPECT_EQ(StringUtils::split(",", ','), Strings{""});
    EXPECT_EQ(StringUtils::join({"x", "y", "z"}, ',') + StringUtils::join({}, ','), "x,y,z");
    Strings chunks{"keep"};  // appended to what is there
    StringUtils::splitToChunks("abcdefg", 3, chunks);
    StringUtils::splitToChunks("", 3, chunks);
    EXPECT_EQ(chunks, (Strings{"keep", "abc", "def", "g"}));
    EXPECT_EQ(StringUtils::splitToChunks("abc", 0), Strings{"abc"});

    char text[] = "a-b_c-aX";
    StringUtils::cstr_replace(text, "-_X", 'X');  // the replacement in the set must still end
    EXPECT_STREQ(text, "aXbXcXaX");
    char dest[8] = "ZZZZZZZ";
    StringUtils::strncpy_prot(dest, "abcdef", 4);
    EXPECT_EQ(std::string(dest, 5), std::string("abc\0Z", 5));
    StringUtils::strncpy_prot(dest, "ab", 8);
    EXPECT_EQ(std::string(dest, 8), std::string("ab\0\0\0\0\0\0", 8));
}
