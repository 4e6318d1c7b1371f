#include "ASPN/FaultHysteresis.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

std::string check(FaultHysteresis& f, int type, const std::string& file, int line, const std::string& text) {
    auto t = static_cast<EventTypes::eEventType>(type);
    std::string out = f.Check(t, file, line, text);
    EXPECT_EQ(type, t) << "the type leaves unchanged";
    return out;
}

}  // namespace

TEST(FaultHysteresis, ActivationLocationPrefixAndHistoryBound) {
    FaultHysteresis f;
    EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));
    for (const auto& [count, capacity] : {std::pair{0, 2000}, {16, 0}}) {
        ASSERT_TRUE(f.OkInitFaultHysteresis(180, count, capacity));
        EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));
    }
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_FALSE(f.OkInitFaultHysteresis(180, -1, 2000));
    EXPECT_FALSE(f.OkInitFaultHysteresis(-1, 0, 0));
    EXPECT_FALSE(f.OkInitFaultHysteresis(0, 0, -1));
    EXPECT_EQ("unit.cpp[311]:abc", check(f, 3, "dir/unit.cpp", 311, "abc")) << "old settings kept";

    EXPECT_EQ("main.cpp[7]:x", check(f, 4, "main.cpp", 7, "x"));
    EXPECT_EQ("main.cpp[7]:x", check(f, 5, "main.cpp", 7, "x"));
    EXPECT_EQ("unit.cpp[1]:t", check(f, 3, "C:\\src\\ASPN\\unit.cpp", 1, "t"));
    EXPECT_EQ("c.cpp[1]:t", check(f, 3, "a\\b/c.cpp", 1, "t"));
    EXPECT_EQ("c.tar.gz[-2]:", check(f, 3, "/a/b\\c.tar.gz", -2, ""));
    EXPECT_EQ("[1]:t", check(f, 3, "dir/", 1, "t"));
    for (int type : {0, 2, 6, -1}) {
        EXPECT_EQ("progress", check(f, type, "/src/a/b.cpp", 99, "progress"));
    }

    // Remembered faults stay within the capacity, also when it shrinks.
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 5));
    for (int i = 0; i < 50; ++i) {
        check(f, 3, "same.cpp", 12, "again");
    }
    EXPECT_EQ(5u, f.historySize());
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2));
    check(f, 3, "same.cpp", 12, "again");
    EXPECT_EQ(2u, f.historySize()) << "a smaller capacity shrinks the history";
}
