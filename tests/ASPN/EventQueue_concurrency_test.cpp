#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Several producers against one consumer: every accepted event comes out
// exactly once, and nothing is refused unless the list was full.
TEST(EventQueueConcurrency, AcceptedEventsAreDeliveredExactlyOnce) {
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    ASPN2::EventQueue q(10, 2, 1h);

    std::atomic<int> accepted{0};
    std::atomic<bool> producing{true};
    std::vector<std::string> received;
    std::thread consumer([&] {
        int type = 0;
        std::string text;
        for (;;) {
            if (q.pop_front(type, text, 20ms)) {
                received.push_back(text);
            } else if (!producing.load()) {
                break;
            }
        }
    });

    std::vector<std::thread> producers;
    std::vector<int> acceptedPer(kProducers, 0);
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                if (q.push_back(3, std::to_string(p) + ":" + std::to_string(i))) {
                    ++acceptedPer[p];
                    accepted.fetch_add(1);
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    producing.store(false);
    consumer.join();

    EXPECT_EQ(static_cast<size_t>(accepted.load()), received.size());
    const std::set<std::string> unique(received.begin(), received.end());
    EXPECT_EQ(received.size(), unique.size());
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(0u, q.size());

    // Each producer's events come out in the order it pushed them.
    std::vector<int> last(kProducers, -1);
    for (const std::string& r : received) {
        const size_t colon = r.find(':');
        const int p = std::stoi(r.substr(0, colon));
        const int i = std::stoi(r.substr(colon + 1));
        EXPECT_GT(i, last[p]);
        last[p] = i;
    }
}

// Configuration events from several threads are never dropped, even while
// ordinary events keep the list full, and replacements keep exactly one
// entry per configuration.
TEST(EventQueueConcurrency, ConfigEventsSurviveAStormOfOrdinaryEvents) {
    constexpr int kConfigThreads = 3;
    constexpr int kReplacements = 200;
    ASPN2::EventQueue q(10, 2, 1h);

    std::atomic<bool> storm{true};
    std::thread stormer([&] {
        while (storm.load()) {
            q.push_back(3, "noise");
        }
    });
    std::atomic<int> popped{0};
    std::thread consumer([&] {
        int type = 0;
        std::string text;
        while (storm.load()) {
            if (q.pop_front(type, text, 1ms)) {
                popped.fetch_add(1);
            }
        }
    });
    // Start the configurations once the storm is under way.
    while (popped.load() < 20) {
        std::this_thread::yield();
    }
    std::vector<std::thread> configs;
    for (int c = 0; c < kConfigThreads; ++c) {
        configs.emplace_back([&q, c] {
            uint32_t id = q.push_back_config("cfg" + std::to_string(c) + " v0");
            for (int v = 1; v <= kReplacements; ++v) {
                id = q.push_back_config("cfg" + std::to_string(c) + " v" + std::to_string(v), id);
            }
        });
    }
    for (auto& t : configs) {
        t.join();
    }
    storm.store(false);
    stormer.join();
    consumer.join();

    // Drain; whatever remains, each configuration is there exactly once, in
    // its final version, either queued or waiting to repeat.
    int type = 0;
    std::string text;
    std::multiset<std::string> finals;
    while (q.pop_front(type, text, 0ns)) {
        if (text != "noise") {
            finals.insert(text);
        }
    }
    EXPECT_EQ(static_cast<size_t>(kConfigThreads), q.size());
    for (int c = 0; c < kConfigThreads; ++c) {
        const std::string last = "cfg" + std::to_string(c) + " v" + std::to_string(kReplacements);
        EXPECT_LE(finals.count(last), 1u);
    }
}
