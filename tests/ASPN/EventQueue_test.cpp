#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using ASPN2::EventQueue;
using Clock = std::chrono::steady_clock;

namespace {

// "type:text;" of every event ready now, the first waited for up to timeout.
std::string drain(EventQueue& q, std::chrono::nanoseconds timeout = 0ns) {
    std::string all;
    int type = 0;
    std::string text;
    while (all.size() < 1000 && q.pop_front(type, text, timeout)) {
        all += std::to_string(type) + ":" + text + ";";
        timeout = 0ns;
    }
    return all;
}

}  // namespace

TEST(EventQueue, CapacityCountsQueuedConfigEventsButNotWaitingRepeats) {
    EventQueue q(3, 2, 1h);
    q.push_back_config("cfg");
    EXPECT_TRUE(q.push_back(3, "a"));
    EXPECT_TRUE(q.push_back(4, "b"));
    EXPECT_FALSE(q.push_back(3, "refused"));
    q.push_back_config("accepted when full");
    EXPECT_EQ("2:cfg;3:a;4:b;2:accepted when full;", drain(q));
    EXPECT_EQ(2u, q.size()) << "both configurations wait for their repeat";
    EXPECT_TRUE(q.push_back(3, "c") && q.push_back(3, "d") && q.push_back(3, "e")) << "repeats take no room";
}

TEST(EventQueue, ReplacementRemovesTheOldTextWhereverItWaits) {
    EventQueue q(10, 2, 100ms);
    // Ordinary events (id 0) are never removed.
    q.push_back(3, "ordinary");
    q.push_back_config("new waiting", q.push_back_config("old waiting"));
    q.push_back_config("unrelated", 0);
    EXPECT_EQ("3:ordinary;2:new waiting;2:unrelated;", drain(q));

    const uint32_t repeating = q.push_back_config("old repeating");
    EXPECT_EQ("2:old repeating;", drain(q));
    q.push_back_config("new repeating", repeating);
    std::this_thread::sleep_for(130ms);
    EXPECT_EQ("2:new repeating;2:new waiting;2:unrelated;", drain(q));
}

TEST(EventQueue, RepeatAtFirstPopAfterDueTimeThenRescheduledFromThatPop) {
    const auto period = 200ms;
    EventQueue q(10, 2, period);
    q.push_back_config("fact");
    ASSERT_EQ("2:fact;", drain(q));
    const auto t0 = Clock::now();

    // Popped late, after most of a second period.
    std::this_thread::sleep_until(t0 + period * 8 / 5);
    const auto t1Before = Clock::now();
    EXPECT_EQ("2:fact;", drain(q)) << "exactly one repeat";
    const auto t1 = Clock::now();

    // Due again one period after that pop, not at the missed due time.
    std::this_thread::sleep_until(t1 + period / 2);
    const std::string fromDueTime = drain(q);
    EXPECT_TRUE(fromDueTime.empty() || Clock::now() >= t1Before + period) << fromDueTime;
    std::this_thread::sleep_until(t1 + period + 20ms);
    EXPECT_EQ("2:fact;", drain(q));
}

TEST(EventQueue, PopWaitsForTheTimeOutOrAPush) {
    EventQueue q(10, 2, 1h);
    const auto start = Clock::now();
    EXPECT_EQ("", drain(q, -5s));
    EXPECT_EQ("", drain(q, 200ms));
    EXPECT_GE(Clock::now() - start, 200ms);
    // Woken by a push, also with a time-out too long to add to the clock.
    for (const auto timeout : {std::chrono::nanoseconds(10s), std::chrono::nanoseconds::max()}) {
        std::thread pusher([&q] {
            std::this_thread::sleep_for(50ms);
            q.push_back(4, "wake up");
        });
        EXPECT_EQ("4:wake up;", drain(q, timeout));
        pusher.join();
        ASSERT_LT(Clock::now() - start, 5s) << "not woken by the push";
    }
}
