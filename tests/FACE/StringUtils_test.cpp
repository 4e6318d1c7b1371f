#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FACE/StringUtils.h"

using Strings = std::vector<std::string>;

TEST(StringUtils, TrimRemovesExactlyTheSixWhitespaceCharacters) {
    EXPECT_EQ(StringUtils::trim(" \t abc \r\n"), "abc");
    EXPECT_EQ(StringUtils::trim("\v\f"), "");
    EXPECT_EQ(StringUtils::trim(""), "");
    EXPECT_EQ(StringUtils::trim("\xC2\xA0" "a"), "\xC2\xA0" "a");  // non-breaking space stays
    EXPECT_EQ(StringUtils::ltrim("  a b  "), "a b  ");
    EXPECT_EQ(StringUtils::rtrim("  a b  "), "  a b");
}

TEST(StringUtils, SplitKeepsEmptyTokensButNoTrailingOne) {
    EXPECT_EQ(StringUtils::split("x,y,,z", ','), (Strings{"x", "y", "", "z"}));
    EXPECT_EQ(StringUtils::split("x,y,", ','), (Strings{"x", "y"}));
    EXPECT_EQ(StringUtils::split(",", ','), (Strings{""}));
    EXPECT_EQ(StringUtils::split("", ','), Strings{});
    EXPECT_EQ(StringUtils::join({"x", "y", "z"}, ','), "x,y,z");
    EXPECT_EQ(StringUtils::join({"x"}, ','), "x");
    EXPECT_EQ(StringUtils::join({}, ','), "");
}

TEST(StringUtils, ChunksAppendAndKeepTheRest) {
    EXPECT_EQ(StringUtils::splitToChunks("abcdefg", 3), (Strings{"abc", "def", "g"}));
    EXPECT_EQ(StringUtils::splitToChunks("abcdefg", 10), (Strings{"abcdefg"}));
    Strings out{"keep"};
    StringUtils::splitToChunks("abcd", 2, out);
    EXPECT_EQ(out, (Strings{"keep", "ab", "cd"}));
    StringUtils::splitToChunks("", 2, out);
    EXPECT_EQ(out.size(), 3u);
    EXPECT_EQ(StringUtils::splitToChunks("abc", 0), (Strings{"abc"}));
}

TEST(StringUtils, ReplaceAndProtectedCopy) {
    char text[] = "a-b_c-d";
    StringUtils::cstr_replace(text, "-_", ' ');
    EXPECT_STREQ(text, "a b c d");
    char same[] = "aXa";
    StringUtils::cstr_replace(same, "aX", 'a');  // replacement in the set must terminate
    EXPECT_STREQ(same, "aaa");

    char dest[8];
    std::memset(dest, 'Z', sizeof dest);
    StringUtils::strncpy_prot(dest, "abcdef", 4);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(dest[4], 'Z');
    StringUtils::strncpy_prot(dest, "ab", 8);
    EXPECT_EQ(std::string(dest, 8), std::string("ab\0\0\0\0\0\0", 8));
}
