#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using ASPN2::EventQueue;
using Clock = std::chrono::steady_clock;

namespace {

// Text of the next event, or "-" when none comes within timeout.
std::string pop(EventQueue& q, std::chrono::nanoseconds timeout = 0ns, int* type = nullptr) {
    int t = -1;
    std::string text;
    if (!q.pop_front(t, text, timeout)) {
        return "-";
    }
    if (type != nullptr) {
        *type = t;
    }
    return text;
}

}  // namespace

TEST(EventQueue, CapacityCountsQueuedConfigEventsButNotWaitingRepeats) {
    EventQueue q(3, 2, 1h);
    EXPECT_EQ(EventQueue::configId("cfg"), q.push_back_config("cfg"));
    EXPECT_TRUE(q.push_back(3, "a"));
    EXPECT_TRUE(q.push_back(4, "b"));
    EXPECT_FALSE(q.push_back(3, "refused"));
    q.push_back_config("accepted when full");
    EXPECT_EQ(4u, q.size());

    int type = -1;
    EXPECT_EQ("cfg", pop(q, 0ns, &type));
    EXPECT_EQ(2, type) << "configuration events carry the queue's type";
    EXPECT_EQ(4u, q.size()) << "the popped configuration waits for its repeat";
    EXPECT_FALSE(q.push_back(3, "still full"));
    EXPECT_EQ("a", pop(q, 0ns, &type));
    EXPECT_EQ(3, type);
    EXPECT_TRUE(q.push_back(3, "c"));
    EXPECT_EQ("b", pop(q));
    EXPECT_EQ("accepted when full", pop(q));
    EXPECT_EQ("c", pop(q));
    EXPECT_EQ("-", pop(q));
    EXPECT_EQ(2u, q.size());
}

TEST(EventQueue, ReplacementRemovesTheOldTextWhereverItWaits) {
    const auto period = 100ms;
    EventQueue q(10, 2, period);
    EXPECT_EQ(q.push_back_config("same"), q.push_back_config("same"));
    pop(q), pop(q);

    // Waiting to be published; ordinary events (id 0) and unknown ids are
    // never removed.
    q.push_back(3, "ordinary");
    const uint32_t waiting = q.push_back_config("old waiting");
    q.push_back_config("new waiting", waiting);
    q.push_back_config("unrelated", 0);
    q.push_back_config("unrelated too", 12345u);
    EXPECT_EQ("ordinary", pop(q));
    EXPECT_EQ("new waiting", pop(q));
    EXPECT_EQ("unrelated", pop(q));
    EXPECT_EQ("unrelated too", pop(q));

    // Waiting to be repeated.
    const uint32_t repeating = q.push_back_config("old repeating");
    EXPECT_EQ("old repeating", pop(q));
    q.push_back_config("new repeating", repeating);
    EXPECT_EQ("new repeating", pop(q));
    std::this_thread::sleep_for(period + 30ms);
    std::string all;
    for (std::string t = pop(q); t != "-" && all.size() < 1000; t = pop(q)) {
        all += t + ";";
    }
    EXPECT_EQ(std::string::npos, all.find("old")) << all;
    EXPECT_NE(std::string::npos, all.find("new repeating")) << all;
}

TEST(EventQueue, RepeatAtFirstPopAfterDueTimeThenRescheduledFromThatPop) {
    const auto period = 200ms;
    EventQueue q(10, 2, period);
    q.push_back_config("fact");
    ASSERT_EQ("fact", pop(q));
    const auto t0 = Clock::now();

    std::this_thread::sleep_until(t0 + period / 2);
    const std::string early = pop(q);
    if (Clock::now() < t0 + period) {
        EXPECT_EQ("-", early);
    }

    // Popped late, after most of a second period.
    std::this_thread::sleep_until(t0 + period * 8 / 5);
    q.push_back(3, "queued first");
    EXPECT_EQ("queued first", pop(q));
    const auto t1Before = Clock::now();
    EXPECT_EQ("fact", pop(q));
    const auto t1 = Clock::now();
    EXPECT_EQ("-", pop(q)) << "exactly one repeat";

    // Due again one period after that pop, not after the missed due time.
    std::this_thread::sleep_until(t1 + period / 2);
    ASSERT_GT(Clock::now(), t0 + 2 * period);
    const std::string fromDueTime = pop(q);
    if (Clock::now() < t1Before + period) {
        EXPECT_EQ("-", fromDueTime);
    }
    std::this_thread::sleep_until(t1 + period + 20ms);
    EXPECT_EQ("fact", pop(q));
}

TEST(EventQueue, PopWaitsForTheTimeOutOrAPush) {
    EventQueue q(10, 2, 1h);
    auto start = Clock::now();
    EXPECT_EQ("-", pop(q, 200ms));
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_LT(Clock::now() - start, 2s);

    start = Clock::now();
    EXPECT_EQ("-", pop(q, -5s));
    EXPECT_LT(Clock::now() - start, 100ms);

    // Woken by a push, also with a time-out too long to add to the clock.
    for (const auto timeout : {std::chrono::nanoseconds(10s), std::chrono::nanoseconds::max()}) {
        std::thread pusher([&q] {
            std::this_thread::sleep_for(50ms);
            q.push_back(4, "wake up");
        });
        start = Clock::now();
        EXPECT_EQ("wake up", pop(q, timeout));
        EXPECT_LT(Clock::now() - start, 5s);
        pusher.join();
    }
}
