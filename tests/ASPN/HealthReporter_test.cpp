#include "ASPN/HealthReporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

class HealthReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        drain();
        ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(0, 0, 0));
    }
    void TearDown() override {
        drain();
        FaultHysteresis::Instance().OkInitFaultHysteresis(0, 0, 0);
    }

    static std::vector<std::pair<int, std::string>> drain() {
        std::vector<std::pair<int, std::string>> out;
        int type = 0;
        std::string text;
        while (HealthReporter::Instance().Queue().pop_front(type, text, 0ns)) {
            out.emplace_back(type, text);
        }
        return out;
    }

    static void send(int type, const std::string& text, const char* file = "dir/timer.cpp", int line = 40) {
        HealthReporter::Instance().SendEvent(file, line, static_cast<HealthReporter::eEventType>(type), text);
    }
};

}  // namespace

TEST_F(HealthReporterTest, InstanceIsOneObject) {
    EXPECT_EQ(&HealthReporter::Instance(), &HealthReporter::Instance());
}

TEST_F(HealthReporterTest, TypesOutsideZeroToFiveAreQueuedAsZero) {
    for (int type : {0, 1, 2, 3, 4, 5, 6, 9, -1, 1000}) {
        send(type, "t" + std::to_string(type));
    }
    const auto events = drain();
    ASSERT_EQ(10u, events.size());
    const int expected[] = {0, 1, 2, 3, 4, 5, 0, 0, 0, 0};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(expected[i], events[i].first) << events[i].second;
    }
    EXPECT_EQ("t9", events[7].second) << "the text is kept whatever the type";
}

TEST_F(HealthReporterTest, FaultsCarryTheirSourceLocationOnceTheFilterIsConfigured) {
    send(3, "late");
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    send(3, "late");
    send(2, "Chronavel started successfully.", "src/Chronavel/Chronavel.cpp", 300);
    send(4, "boom", "a\\b\\cb.cpp", 710);
    const auto events = drain();
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ(std::make_pair(3, std::string("late")), events[0]);
    EXPECT_EQ(std::make_pair(3, std::string("timer.cpp[40]:late")), events[1]);
    EXPECT_EQ(std::make_pair(2, std::string("Chronavel started successfully.")), events[2]);
    EXPECT_EQ(std::make_pair(4, std::string("cb.cpp[710]:boom")), events[3]);
}

TEST_F(HealthReporterTest, BurstBeyondCapacityLosesTheExcessSilently) {
    for (int i = 0; i < 12; ++i) {
        EXPECT_NO_THROW(send(2, "burst " + std::to_string(i)));
    }
    const auto events = drain();
    ASSERT_EQ(10u, events.size());
    EXPECT_EQ("burst 0", events.front().second);
    EXPECT_EQ("burst 9", events.back().second);
}

TEST_F(HealthReporterTest, NullFileNameThrowsBeforeQueueing) {
    EXPECT_THROW(HealthReporter::Instance().SendEvent(nullptr, 1, EventTypes::eFault, "lost"), std::logic_error);
    EXPECT_TRUE(drain().empty());
}

TEST_F(HealthReporterTest, ConfigEventsBypassTheFilterAndTheCapacity) {
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    for (int i = 0; i < 10; ++i) {
        send(3, "fill");
    }
    const uint32_t id = HealthReporter::Instance().SendConfigEvent("//identity/a");
    const uint32_t same = HealthReporter::Instance().SendConfigEvent("//identity/a");
    const uint32_t other = HealthReporter::Instance().SendConfigEvent("//identity/b");
    EXPECT_EQ(id, same);
    EXPECT_NE(id, other);
    const uint32_t replaced = HealthReporter::Instance().ReplaceConfigEvent("//identity/c", other);
    EXPECT_NE(other, replaced);

    const auto events = drain();
    ASSERT_EQ(13u, events.size());
    EXPECT_EQ(std::make_pair(2, std::string("//identity/a")), events[10]);
    EXPECT_EQ(std::make_pair(2, std::string("//identity/a")), events[11]);
    EXPECT_EQ(std::make_pair(2, std::string("//identity/c")), events[12]);
}
