// The hand-over of UTCTime messages to the time service's thread: order,
// the bound and its report, and stopping.
#include "Chronavel/TimeIntake.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/Gate.h"

namespace {

using testing::ElementsAre;

aspn2_msgs::idl::UTCTime numbered(int n) {
    aspn2_msgs::idl::UTCTime m;
    m.header().seq_num(n);
    return m;
}

// A handler that holds messages 1 and 8 until the test opens their gates.
struct Intake {
    testsupport::Gate gate, gate8;
    std::mutex mutex;
    std::vector<int> handled;
    std::atomic<int> overflows{0};
    TimeIntake intake{[this](const aspn2_msgs::idl::UTCTime& m) {
                          if (m.header().seq_num() == 1) {
                              gate.enter();
                          } else if (m.header().seq_num() == 8) {
                              gate8.enter();
                          }
                          std::lock_guard<std::mutex> lock(mutex);
                          handled.push_back(static_cast<int>(m.header().seq_num()));
                      },
                      [this] { ++overflows; }};
    std::vector<int> seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return handled;
    }
};

TEST(TimeIntake, HandsOverInOrderAndDropsTheOldestWaitingOncePerEpisode) {
    Intake t;
    EXPECT_FALSE(t.intake.offer(numbered(0))) << "nothing is taken before the thread runs";
    t.intake.start();
    ASSERT_TRUE(t.intake.offer(numbered(1)));
    ASSERT_TRUE(t.gate.waitEntered(std::chrono::seconds(10)));
    // 1 is being handled; 2 to 5 fill the hand-over; 6 and 7 push out 2 and 3.
    for (int n = 2; n <= 7; ++n) {
        t.intake.offer(numbered(n));
    }
    EXPECT_EQ(1, t.overflows.load()) << "one report for the episode";
    t.gate.open();
    t.intake.awaitIdle();
    EXPECT_THAT(t.seen(), ElementsAre(1, 4, 5, 6, 7));

    // An empty hand-over ended the episode: the next loss is told again.
    t.intake.offer(numbered(8));
    ASSERT_TRUE(t.gate8.waitEntered(std::chrono::seconds(10)));
    for (int n = 9; n <= 13; ++n) {
        t.intake.offer(numbered(n));
    }
    EXPECT_EQ(2, t.overflows.load());
    t.gate8.open();
    t.intake.awaitIdle();
    EXPECT_THAT(t.seen(), ElementsAre(1, 4, 5, 6, 7, 8, 10, 11, 12, 13));
}

TEST(TimeIntake, StopWaitsForTheMessageInHandDropsTheWaitingAndTakesNoMore) {
    Intake t;
    t.intake.start();
    t.intake.offer(numbered(1));
    ASSERT_TRUE(t.gate.waitEntered(std::chrono::seconds(10)));
    t.intake.offer(numbered(2));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        t.intake.stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(stopped.load()) << "stop returned while 1 was in hand";
    t.gate.open();
    stopper.join();
    EXPECT_THAT(t.seen(), ElementsAre(1));
    EXPECT_FALSE(t.intake.offer(numbered(3)));

    t.intake.start();  // a reconnect starts it again
    t.intake.offer(numbered(4));
    t.intake.awaitIdle();
    EXPECT_THAT(t.seen(), ElementsAre(1, 4));
}

}  // namespace
