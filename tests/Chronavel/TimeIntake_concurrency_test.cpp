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

using testing::ElementsAre;
using namespace std::chrono_literals;

// Messages 1 and 8 are held until the test opens their gates.
struct IntakeRig {
    testsupport::Gate gate1, gate8;
    std::mutex mutex;
    std::vector<int> handled;
    std::atomic<int> overflows{0};
    TimeIntake intake{[this](const aspn2_msgs::idl::UTCTime& m) {
                          const int n = static_cast<int>(m.header().seq_num());
                          if (n == 1 || n == 8) {
                              (n == 1 ? gate1 : gate8).enter();
                          }
                          std::lock_guard<std::mutex> lock(mutex);
                          handled.push_back(n);
                      },
                      [this] { ++overflows; }};
    bool offer(int from, int to) {
        bool taken = true;
        for (int n = from; n <= to; ++n) {
            aspn2_msgs::idl::UTCTime m;
            m.header().seq_num(n);
            taken = intake.offer(m) && taken;
        }
        return taken;
    }
    std::vector<int> seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return handled;
    }
};

TEST(TimeIntake, HandsOverInOrderAndDropsTheOldestWaitingOncePerEpisode) {
    IntakeRig t;
    EXPECT_FALSE(t.offer(0, 0)) << "nothing is taken before the thread runs";
    t.intake.start();
    t.offer(1, 1);
    ASSERT_TRUE(t.gate1.waitEntered(10s));
    t.offer(2, 7);  // 1 in hand; 2 to 5 wait; 6 and 7 push out 2 and 3
    EXPECT_EQ(1, t.overflows.load());
    t.gate1.open();
    t.intake.awaitIdle();
    // The hand-over ran empty, which ends the episode: the next loss is told.
    t.offer(8, 8);
    ASSERT_TRUE(t.gate8.waitEntered(10s));
    t.offer(9, 13);
    EXPECT_EQ(2, t.overflows.load());
    t.gate8.open();
    t.intake.awaitIdle();
    EXPECT_THAT(t.seen(), ElementsAre(1, 4, 5, 6, 7, 8, 10, 11, 12, 13));
}

TEST(TimeIntake, StopWaitsForTheMessageInHandDropsTheWaitingAndTakesNoMore) {
    IntakeRig t;
    t.intake.start();
    t.offer(1, 2);
    ASSERT_TRUE(t.gate1.waitEntered(10s));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        t.intake.stop();
        stopped = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(stopped.load()) << "stop returned while 1 was in hand";
    t.gate1.open();
    stopper.join();
    EXPECT_FALSE(t.offer(3, 3));
    t.intake.start();  // a reconnect starts it again
    t.offer(4, 4);
    t.intake.awaitIdle();
    EXPECT_THAT(t.seen(), ElementsAre(1, 4));
}
