#include "ASPN/HealthReporter.h"
#include "ASPN/TimeCodeHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Rounds of concurrent senders that together stay below the queue's
// capacity, each round drained before the next: nothing may be lost, and
// every fault arrives with its own location in front.
TEST(HealthReporterConcurrency, ConcurrentSendersWithinCapacityLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kPerRound = 2;  // 4 x 2 < 10
    constexpr int kRounds = 150;
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 50));
    {
        int type = 0;
        std::string text;
        while (reporter.Queue().pop_front(type, text, 0ns)) {
        }
    }

    std::mutex m;
    std::condition_variable cv;
    int drainedRounds = 0;

    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            const std::string file = "dir" + std::to_string(t) + "/sender.cpp";
            for (int r = 0; r < kRounds; ++r) {
                for (int i = 0; i < kPerRound; ++i) {
                    const int type = (i % 2 == 0) ? EventTypes::eFault : EventTypes::eStatus;
                    reporter.SendEvent(file.c_str(), t, static_cast<HealthReporter::eEventType>(type),
                                       std::to_string(t) + "/" + std::to_string(r) + "/" + std::to_string(i));
                }
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return drainedRounds > r; });
            }
        });
    }

    std::vector<std::pair<int, std::string>> received;
    for (int r = 0; r < kRounds; ++r) {
        const size_t target = static_cast<size_t>((r + 1) * kThreads * kPerRound);
        int type = 0;
        std::string text;
        while (received.size() < target && reporter.Queue().pop_front(type, text, 5s)) {
            received.emplace_back(type, text);
        }
        ASSERT_EQ(target, received.size()) << "round " << r;
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

    std::set<std::string> unique;
    for (const auto& [type, text] : received) {
        EXPECT_TRUE(unique.insert(text).second) << text;
        if (type == EventTypes::eFault) {
            EXPECT_EQ(0u, text.find("sender.cpp[")) << text;
        } else {
            EXPECT_EQ(EventTypes::eStatus, type);
            EXPECT_EQ(std::string::npos, text.find('[')) << text;
        }
    }
    EXPECT_LE(FaultHysteresis::Instance().historySize(), 50u);
}

// Stamps taken while the mode flips carry one whole code, the same in both
// stamps of a header.
TEST(TimeCodeConcurrency, StampsNeverMixCodes) {
    std::atomic<bool> run{true};
    std::thread flipper([&] {
        while (run.load()) {
            ASPN2::TimeCodeHelper::Instance().setSimMode();
            ASPN2::TimeCodeHelper::Instance().setLiveMode();
        }
    });
    std::vector<std::thread> stampers;
    std::atomic<int> bad{0};
    for (int t = 0; t < 3; ++t) {
        stampers.emplace_back([&] {
            for (uint64_t i = 0; i < 20000; ++i) {
                ASPN2::header h;
                ASPN2::setToVandToA_fromFpgaTicks(i * 1000, h);
                if ((h.tovTimeCode != 100 && h.tovTimeCode != 101) || h.toaTimeCode != h.tovTimeCode) {
                    bad.fetch_add(1);
                }
            }
        });
    }
    for (auto& s : stampers) {
        s.join();
    }
    run.store(false);
    flipper.join();
    ASPN2::TimeCodeHelper::Instance().setLiveMode();
    EXPECT_EQ(0, bad.load());
}
