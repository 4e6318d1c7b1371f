#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using ASPN2::EventQueue;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kConfigType = 2;

struct Popped {
    bool ok = false;
    int type = -1;
    std::string text;
};

Popped pop(EventQueue& q, std::chrono::nanoseconds timeout = 0ns) {
    Popped p;
    p.ok = q.pop_front(p.type, p.text, timeout);
    return p;
}

}  // namespace

TEST(EventQueue, CapacityCountsOrdinaryAndConfigEventsButNotRepeats) {
    EventQueue q(10, kConfigType, 1h);
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(q.push_back(3, "e" + std::to_string(i))) << i;
    }
    EXPECT_FALSE(q.push_back(3, "eleventh"));
    EXPECT_EQ(10u, q.size());

    EXPECT_EQ("e0", pop(q).text);
    EXPECT_TRUE(q.push_back(3, "after pop"));
    EXPECT_FALSE(q.push_back(3, "full again"));

    // A configuration event waiting to be published takes a slot...
    EventQueue c(3, kConfigType, 1h);
    c.push_back_config("cfg");
    EXPECT_TRUE(c.push_back(4, "a"));
    EXPECT_TRUE(c.push_back(4, "b"));
    EXPECT_FALSE(c.push_back(4, "c"));
    // ...but once published and waiting for its repeat it does not.
    Popped first = pop(c);
    EXPECT_EQ("cfg", first.text);
    EXPECT_EQ(kConfigType, first.type);
    EXPECT_TRUE(c.push_back(4, "c"));
    EXPECT_EQ(4u, c.size());  // a, b, c and the waiting repeat
}

TEST(EventQueue, ConfigEventsAreAcceptedWhenFullAndKeepArrivalOrder) {
    EventQueue q(2, kConfigType, 1h);
    ASSERT_TRUE(q.push_back(3, "one"));
    ASSERT_TRUE(q.push_back(5, "two"));
    const uint32_t id = q.push_back_config("identity");
    EXPECT_EQ(EventQueue::configId("identity"), id);
    EXPECT_EQ(3u, q.size());

    Popped a = pop(q), b = pop(q), c = pop(q);
    EXPECT_EQ("one", a.text);
    EXPECT_EQ(3, a.type);
    EXPECT_EQ("two", b.text);
    EXPECT_EQ(5, b.type);
    EXPECT_EQ("identity", c.text);
    EXPECT_EQ(kConfigType, c.type);
    EXPECT_FALSE(pop(q).ok);
    EXPECT_EQ(1u, q.size());  // the repeat
}

TEST(EventQueue, ConfigIdsFollowTheText) {
    EventQueue q(10, kConfigType, 1h);
    const uint32_t a = q.push_back_config("product text");
    const uint32_t b = q.push_back_config("product text");
    const uint32_t c = q.push_back_config("identity text");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(EventQueue, ReplacementRemovesAConfigWaitingToBePublished) {
    EventQueue q(10, kConfigType, 1h);
    q.push_back(3, "before");
    const uint32_t oldId = q.push_back_config("old");
    q.push_back(3, "between");
    const uint32_t newId = q.push_back_config("new", oldId);
    EXPECT_NE(oldId, newId);
    EXPECT_EQ(3u, q.size());

    EXPECT_EQ("before", pop(q).text);
    EXPECT_EQ("between", pop(q).text);
    EXPECT_EQ("new", pop(q).text);
    EXPECT_FALSE(pop(q).ok);
}

TEST(EventQueue, ReplacementRemovesAConfigWaitingToRepeat) {
    const auto period = 150ms;
    EventQueue q(10, kConfigType, period);
    const uint32_t oldId = q.push_back_config("old");
    ASSERT_EQ("old", pop(q).text);
    ASSERT_EQ(1u, q.size());

    q.push_back_config("new", oldId);
    EXPECT_EQ(1u, q.size());
    EXPECT_EQ("new", pop(q).text);

    std::this_thread::sleep_for(period + 50ms);
    Popped again = pop(q);
    EXPECT_EQ("new", again.text);
    EXPECT_FALSE(pop(q).ok) << "the replaced text must not come back";
}

TEST(EventQueue, ReplacementNeverRemovesOrdinaryEvents) {
    EventQueue q(10, kConfigType, 1h);
    q.push_back(3, "ordinary events carry id 0");
    q.push_back_config("cfg", 0);
    EXPECT_EQ(2u, q.size());
    EXPECT_EQ("ordinary events carry id 0", pop(q).text);
    // An unknown id removes nothing.
    q.push_back_config("other", 12345u);
    EXPECT_EQ("cfg", pop(q).text);
    EXPECT_EQ("other", pop(q).text);
}

TEST(EventQueue, ConfigRepeatsAtFirstPopAfterDueTimeAndIsRescheduledFromThatPop) {
    const auto period = 200ms;
    EventQueue q(10, kConfigType, period);
    const uint32_t id = q.push_back_config("standing fact");

    const auto t0Before = Clock::now();
    ASSERT_EQ("standing fact", pop(q).text);
    const auto t0After = Clock::now();

    // Not yet due.
    std::this_thread::sleep_until(t0After + period / 2);
    {
        const Popped p = pop(q);
        if (Clock::now() < t0Before + period) {
            EXPECT_FALSE(p.ok);
        }
    }

    // Late by most of a period: still exactly one repeat, same text and type.
    std::this_thread::sleep_until(t0After + period * 8 / 5);
    const auto t1Before = Clock::now();
    const Popped again = pop(q);
    const auto t1After = Clock::now();
    ASSERT_TRUE(again.ok);
    EXPECT_EQ("standing fact", again.text);
    EXPECT_EQ(kConfigType, again.type);
    EXPECT_FALSE(pop(q).ok);

    // Scheduled from the late pop, not from the missed due time.
    std::this_thread::sleep_until(t1After + period / 2);
    ASSERT_GT(Clock::now(), t0After + 2 * period);
    {
        const Popped p = pop(q);
        if (Clock::now() < t1Before + period) {
            EXPECT_FALSE(p.ok) << "repeat scheduled from the original due time";
        }
    }
    std::this_thread::sleep_until(t1After + period + 20ms);
    EXPECT_EQ("standing fact", pop(q).text);

    // The id still names it.
    q.push_back_config("changed fact", id);
    EXPECT_EQ("changed fact", pop(q).text);
    EXPECT_EQ(1u, q.size());
}

TEST(EventQueue, DueRepeatsJoinBehindQueuedEvents) {
    const auto period = 50ms;
    EventQueue q(10, kConfigType, period);
    q.push_back_config("cfg");
    ASSERT_EQ("cfg", pop(q).text);
    q.push_back(3, "first");
    std::this_thread::sleep_for(period + 20ms);
    EXPECT_EQ("first", pop(q).text);
    EXPECT_EQ("cfg", pop(q).text);
}

TEST(EventQueue, PopTimesOutOnEmptyQueue) {
    EventQueue q(10, kConfigType, 1h);
    const auto start = Clock::now();
    EXPECT_FALSE(pop(q, 200ms).ok);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 2s);

    // Zero and negative time-outs do not wait.
    const auto start2 = Clock::now();
    EXPECT_FALSE(pop(q, 0ns).ok);
    EXPECT_FALSE(pop(q, -5s).ok);
    EXPECT_LT(Clock::now() - start2, 100ms);
}

TEST(EventQueue, PushWakesAWaitingPop) {
    EventQueue q(10, kConfigType, 1h);
    std::thread pusher([&q] {
        std::this_thread::sleep_for(50ms);
        q.push_back(4, "wake up");
    });
    const auto start = Clock::now();
    const Popped p = pop(q, 10s);
    const auto waited = Clock::now() - start;
    pusher.join();
    EXPECT_TRUE(p.ok);
    EXPECT_EQ("wake up", p.text);
    EXPECT_LT(waited, 5s);
}

TEST(EventQueue, EndlessTimeOutStillWaitsForAnEvent) {
    EventQueue q(10, kConfigType, 1h);
    std::thread pusher([&q] {
        std::this_thread::sleep_for(50ms);
        q.push_back_config("late config");
    });
    const Popped p = pop(q, std::chrono::nanoseconds::max());
    pusher.join();
    EXPECT_TRUE(p.ok);
    EXPECT_EQ("late config", p.text);
}
