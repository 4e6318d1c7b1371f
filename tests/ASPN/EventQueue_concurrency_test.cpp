#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// Producers against one consumer: every accepted event comes out exactly
// once and in its producer's order.
TEST(EventQueueConcurrency, NothingLostOrDuplicatedBeyondTheCapacityRule) {
    constexpr int kProducers = 4;
    ASPN2::EventQueue q(10, 2, std::chrono::hours(1));
    std::atomic<bool> producing{true};
    std::vector<int> next(kProducers, 0);
    int received = 0;
    int duplicatesOrDisorder = 0;
    std::thread consumer([&] {
        int producer = 0;
        std::string text;
        for (bool last = false; !last;) {
            last = !producing.load();  // the pops after this one see every push
            while (q.pop_front(producer, text, std::chrono::milliseconds(20))) {
                const int i = std::stoi(text);
                duplicatesOrDisorder += i < next[producer] ? 1 : 0;
                next[producer] = i + 1;
                ++received;
            }
        }
    });

    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < 2000; ++i) {
                accepted.fetch_add(q.push_back(p, std::to_string(i)) ? 1 : 0);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    producing.store(false);
    consumer.join();

    EXPECT_EQ(accepted.load(), received);
    EXPECT_GT(received, 0);
    EXPECT_EQ(0, duplicatesOrDisorder);
}
