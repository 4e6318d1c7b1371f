#include "ASPN/FaultHysteresis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using EventTypes::eEventType;

namespace {

std::string check(FaultHysteresis& f, int type, const std::string& file, int line, const std::string& text,
                  int* typeOut = nullptr) {
    eEventType t = static_cast<eEventType>(type);
    std::string out = f.Check(t, file, line, text);
    if (typeOut != nullptr) {
        *typeOut = t;
    }
    return out;
}

}  // namespace

TEST(FaultHysteresis, InactiveUntilConfiguredWithNonZeroCountAndCapacity) {
    FaultHysteresis f;
    for (int type = 0; type <= 6; ++type) {
        EXPECT_EQ("x", check(f, type, "dir/unit.cpp", 311, "x")) << type;
    }
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 0, 2000));
    EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 0));
    EXPECT_EQ("x", check(f, 3, "dir/unit.cpp", 311, "x"));
    EXPECT_EQ(0u, f.historySize());

    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_EQ("unit.cpp[311]:abc", check(f, 3, "dir/unit.cpp", 311, "abc"));

    // A later successful call replaces the settings, off included.
    ASSERT_TRUE(f.OkInitFaultHysteresis(0, 0, 0));
    EXPECT_EQ("abc", check(f, 3, "dir/unit.cpp", 311, "abc"));
}

TEST(FaultHysteresis, LocationPrefixOnlyForFaultExceptionAndCritical) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    int typeOut = -1;
    EXPECT_EQ("main.cpp[7]:x", check(f, 4, "main.cpp", 7, "x", &typeOut));
    EXPECT_EQ(4, typeOut);
    EXPECT_EQ("main.cpp[7]:x", check(f, 5, "main.cpp", 7, "x", &typeOut));
    EXPECT_EQ(5, typeOut);
    for (int type : {0, 1, 2, 6, -1}) {
        EXPECT_EQ("progress", check(f, type, "/src/a/b.cpp", 99, "progress", &typeOut)) << type;
        EXPECT_EQ(type, typeOut);
    }
    EXPECT_EQ("timer.cpp[40]:late", check(f, 3, "dir/timer.cpp", 40, "late"));
    EXPECT_EQ("t.cpp[-2]:", check(f, 3, "t.cpp", -2, ""));
}

TEST(FaultHysteresis, BaseNameAfterLastSlashOrBackslash) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_EQ("unit.cpp[1]:t", check(f, 3, "/abs/path/to/unit.cpp", 1, "t"));
    EXPECT_EQ("unit.cpp[1]:t", check(f, 3, "C:\\src\\ASPN\\unit.cpp", 1, "t"));
    EXPECT_EQ("c.cpp[1]:t", check(f, 3, "a\\b/c.cpp", 1, "t"));
    EXPECT_EQ("c.tar.gz[1]:t", check(f, 3, "a/b\\c.tar.gz", 1, "t"));
    EXPECT_EQ("[1]:t", check(f, 3, "dir/", 1, "t"));
    EXPECT_EQ("[1]:t", check(f, 3, "", 1, "t"));
}

TEST(FaultHysteresis, NegativeSettingsAreRefusedAndOldSettingsKept) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2000));
    EXPECT_FALSE(f.OkInitFaultHysteresis(180, -1, 2000));
    EXPECT_FALSE(f.OkInitFaultHysteresis(-1, 0, 0));
    EXPECT_FALSE(f.OkInitFaultHysteresis(0, 0, -2000));
    EXPECT_EQ("u.cpp[3]:still on", check(f, 3, "u.cpp", 3, "still on"));

    FaultHysteresis fresh;
    EXPECT_FALSE(fresh.OkInitFaultHysteresis(180, 16, -1));
    EXPECT_EQ("off", check(fresh, 3, "u.cpp", 3, "off"));
}

TEST(FaultHysteresis, RepeatedFaultsStayFaultsAndHistoryIsBounded) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 5));
    for (int i = 0; i < 50; ++i) {
        int typeOut = -1;
        EXPECT_EQ("same.cpp[12]:again", check(f, 3, "same.cpp", 12, "again", &typeOut));
        ASSERT_EQ(3, typeOut) << "occurrence " << i;
    }
    EXPECT_EQ(5u, f.historySize());

    // Only faults are remembered.
    check(f, 4, "same.cpp", 12, "exception");
    check(f, 2, "same.cpp", 12, "progress");
    EXPECT_EQ(5u, f.historySize());

    // A smaller capacity shrinks the history at the next fault.
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2));
    check(f, 3, "same.cpp", 12, "again");
    EXPECT_EQ(2u, f.historySize());
}

TEST(FaultHysteresis, FaultsOlderThanTheWindowAreForgotten) {
    FaultHysteresis f;
    ASSERT_TRUE(f.OkInitFaultHysteresis(1, 16, 100));
    check(f, 3, "w.cpp", 1, "a");
    check(f, 3, "w.cpp", 2, "b");
    EXPECT_EQ(2u, f.historySize());
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    check(f, 3, "w.cpp", 3, "c");
    EXPECT_EQ(1u, f.historySize());

    // Window 0 keeps everything up to the capacity.
    ASSERT_TRUE(f.OkInitFaultHysteresis(0, 16, 100));
    check(f, 3, "w.cpp", 4, "d");
    EXPECT_EQ(2u, f.historySize());
}
