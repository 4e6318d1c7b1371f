#include "ASPN/FaultHysteresis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

std::string check(FaultHysteresis& f, int type, const std::string& file, int line, const std::string& text) {
    auto t = static_cast<EventTypes::eEventType>(type);
    std::string out = f.Check(t, file, line, text);
    EXPECT_EQ(type, t) << "the type leaves unchanged";
    return out;
}

}  // namespace

TEST(FaultHysteresis, ActiveOnlyWithNonZeroCountAndCapacityAndNeverWithNegatives) {
    FaultHysteresis f;
    for (int type = 0; type <= 6; ++type) {
        EXPECT_EQ("x", check(f, type, "dir/unit.cpp", 311, "x"));
    }
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 0, 2000));
    EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 0));
    EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));

    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_EQ("unit.cpp[311]:abc", check(f, 3, "dir/unit.cpp", 311, "abc"));
    EXPECT_FALSE(f.OkInitFaultHysteresis(180, -1, 2000));
    EXPECT_FALSE(f.OkInitFaultHysteresis(-1, 0, 0));
    EXPECT_FALSE(f.OkInitFaultHysteresis(0, 0, -1));
    EXPECT_EQ("unit.cpp[311]:abc", check(f, 3, "dir/unit.cpp", 311, "abc")) << "old settings kept";

    ASSERT_TRUE(f.OkInitFaultHysteresis(0, 0, 0));
    EXPECT_EQ("abc", check(f, 3, "dir/unit.cpp", 311, "abc"));
}

TEST(FaultHysteresis, LocationPrefixForTypesThreeToFive) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_EQ("main.cpp[7]:x", check(f, 4, "main.cpp", 7, "x"));
    EXPECT_EQ("main.cpp[7]:x", check(f, 5, "main.cpp", 7, "x"));
    EXPECT_EQ("unit.cpp[1]:t", check(f, 3, "C:\\src\\ASPN\\unit.cpp", 1, "t"));
    EXPECT_EQ("c.cpp[1]:t", check(f, 3, "a\\b/c.cpp", 1, "t"));
    EXPECT_EQ("c.tar.gz[-2]:", check(f, 3, "/a/b\\c.tar.gz", -2, ""));
    EXPECT_EQ("[1]:t", check(f, 3, "dir/", 1, "t"));
    for (int type : {0, 1, 2, 6, -1}) {
        EXPECT_EQ("progress", check(f, type, "/src/a/b.cpp", 99, "progress"));
    }
}

TEST(FaultHysteresis, FaultHistoryIsBoundedByCapacityAndWindow) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(1, 16, 5));
    for (int type : {2, 4, 5}) {
        check(f, type, "same.cpp", 12, "only faults are remembered");
    }
    EXPECT_EQ(0u, f.historySize());
    for (int i = 0; i < 50; ++i) {
        check(f, 3, "same.cpp", 12, "again");
    }
    EXPECT_EQ(5u, f.historySize());
    ASSERT_TRUE(f.OkInitFaultHysteresis(1, 16, 2));
    check(f, 3, "same.cpp", 12, "again");
    EXPECT_EQ(2u, f.historySize()) << "a smaller capacity shrinks the history";

    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    check(f, 3, "w.cpp", 3, "c");
    EXPECT_EQ(1u, f.historySize()) << "faults older than the window are forgotten";
}
