#include "ASPN/HealthReporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

class HealthReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        drain();
        ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(0, 0, 0));
    }
    void TearDown() override { FaultHysteresis::Instance().OkInitFaultHysteresis(0, 0, 0); }

    // "type:text" of every queued event.
    static std::vector<std::string> drain() {
        std::vector<std::string> out;
        int type = 0;
        std::string text;
        while (HealthReporter::Instance().Queue().pop_front(type, text, 0ns)) {
            out.push_back(std::to_string(type) + ":" + text);
        }
        return out;
    }

    static void send(int type, const std::string& text, const char* file = "dir/timer.cpp", int line = 40) {
        HealthReporter::Instance().SendEvent(file, line, static_cast<HealthReporter::eEventType>(type), text);
    }
};

}  // namespace

TEST_F(HealthReporterTest, TypesAreClampedAndFaultsGetTheirLocationOnceFiltered) {
    for (int type : {0, 2, 5, 6, 9, -1}) {
        send(type, "t");
    }
    send(3, "late");
    EXPECT_EQ((std::vector<std::string>{"0:t", "2:t", "5:t", "0:t", "0:t", "0:t", "3:late"}), drain());

    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    send(3, "late");
    send(9, "late");
    send(2, "Chronavel started successfully.", "src/Chronavel/Chronavel.cpp", 300);
    send(4, "boom", "a\\b\\cb.cpp", 710);
    EXPECT_EQ((std::vector<std::string>{"3:timer.cpp[40]:late", "0:late", "2:Chronavel started successfully.",
                                        "4:cb.cpp[710]:boom"}),
              drain());
}

TEST_F(HealthReporterTest, FullQueueDropsSilentlyAndNullFileThrows) {
    for (int i = 0; i < 12; ++i) {
        EXPECT_NO_THROW(send(2, std::to_string(i)));
    }
    const auto events = drain();
    ASSERT_EQ(10u, events.size());
    EXPECT_EQ("2:9", events.back());

    EXPECT_THROW(HealthReporter::Instance().SendEvent(nullptr, 1, EventTypes::eFault, "x"), std::logic_error);
    EXPECT_TRUE(drain().empty());
}

TEST_F(HealthReporterTest, ConfigEventsBypassFilterAndCapacityAndCanBeReplaced) {
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    for (int i = 0; i < 10; ++i) {
        send(3, "fill");
    }
    const uint32_t a = reporter.SendConfigEvent("//identity/a");
    const uint32_t b = reporter.SendConfigEvent("//identity/b");
    EXPECT_NE(a, b);
    EXPECT_EQ(a, reporter.SendConfigEvent("//identity/a"));
    EXPECT_NE(b, reporter.ReplaceConfigEvent("//identity/c", b));

    const auto events = drain();
    ASSERT_EQ(13u, events.size());
    EXPECT_EQ("2://identity/a", events[10]);
    EXPECT_EQ("2://identity/a", events[11]);
    EXPECT_EQ("2://identity/c", events[12]);
}
