#include "ASPN/HealthReporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

TEST(HealthReporter, TypesClampedAfterTheFilterFullQueueDropsConfigEventsAlwaysTaken) {
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    for (int type : {0, 2, 3, 5, 6, 9, -1}) {
        reporter.SendEvent("dir/timer.cpp", 40, static_cast<EventTypes::eEventType>(type), "t");
    }
    for (int i = 0; i < 5; ++i) {  // two past the capacity
        reporter.SendEvent("a.cpp", 1, EventTypes::eStatus, std::to_string(i));
    }
    EXPECT_THROW(reporter.SendEvent(nullptr, 1, EventTypes::eFault, "x"), std::logic_error);
    reporter.SendConfigEvent("//identity/a");
    reporter.ReplaceConfigEvent("//identity/c", reporter.SendConfigEvent("//identity/b"));

    std::string all;
    int type = 0;
    std::string text;
    while (reporter.Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
        all += std::to_string(type) + ":" + text + ";";
    }
    EXPECT_EQ("0:t;2:t;3:timer.cpp[40]:t;5:timer.cpp[40]:t;0:t;0:t;0:t;2:0;2:1;2:2;2://identity/a;2://identity/c;", all);
}
