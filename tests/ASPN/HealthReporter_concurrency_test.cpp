#include "ASPN/HealthReporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Rounds of concurrent senders that together stay below the capacity, each
// round drained before the next: nothing may be lost, and every fault
// arrives with its own location in front.
TEST(HealthReporterConcurrency, ConcurrentSendersWithinCapacityLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kPerRound = 2;  // 4 x 2 < 10
    constexpr int kRounds = 150;
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 50));

    std::mutex m;
    std::condition_variable cv;
    int drainedRounds = 0;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            const std::string file = "dir" + std::to_string(t) + "/sender.cpp";
            for (int r = 0; r < kRounds; ++r) {
                for (int i = 0; i < kPerRound; ++i) {
                    const auto type = i == 0 ? EventTypes::eFault : EventTypes::eStatus;
                    reporter.SendEvent(file.c_str(), t, type, std::to_string(t) + "/" + std::to_string(r) + "/" +
                                                                  std::to_string(i));
                }
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return drainedRounds > r; });
            }
        });
    }

    std::set<std::string> received;
    int type = 0;
    std::string text;
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kThreads * kPerRound && reporter.Queue().pop_front(type, text, 5s); ++i) {
            const bool located = text.rfind("sender.cpp[", 0) == 0;
            EXPECT_EQ(type == EventTypes::eFault, located) << text;
            EXPECT_TRUE(received.insert(text).second) << text;
        }
        {
            std::lock_guard<std::mutex> lock(m);
            drainedRounds = r + 1;
        }
        cv.notify_all();
    }
    for (auto& s : senders) {
        s.join();
    }
    FaultHysteresis::Instance().OkInitFaultHysteresis(0, 0, 0);
    EXPECT_EQ(static_cast<size_t>(kThreads * kPerRound * kRounds), received.size());
    EXPECT_FALSE(reporter.Queue().pop_front(type, text, 0ns));
}
