#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Producers against one consumer, with configuration events replaced all
// the while: every accepted event comes out exactly once and in its
// producer's order, and each configuration is left exactly once.
TEST(EventQueueConcurrency, NothingLostOrDuplicatedBeyondTheCapacityRule) {
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    constexpr int kConfigs = 2;
    ASPN2::EventQueue q(10, 2, 1h);

    std::atomic<bool> producing{true};
    std::vector<int> next(kProducers, 0);
    int received = 0;
    int duplicatesOrDisorder = 0;
    std::thread consumer([&] {
        int type = 0;
        std::string text;
        for (;;) {
            // Only a pop that started after the producers finished may end it.
            const bool finished = !producing.load();
            if (!q.pop_front(type, text, 20ms)) {
                if (finished) {
                    break;
                }
                continue;
            }
            if (type == 2) {
                continue;
            }
            const size_t colon = text.find(':');
            const int p = std::stoi(text.substr(0, colon));
            const int i = std::stoi(text.substr(colon + 1));
            duplicatesOrDisorder += i < next[p] ? 1 : 0;
            next[p] = i + 1;
            ++received;
        }
    });

    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                if (q.push_back(3, std::to_string(p) + ":" + std::to_string(i))) {
                    accepted.fetch_add(1);
                }
            }
        });
    }
    for (int c = 0; c < kConfigs; ++c) {
        threads.emplace_back([&q, c] {
            uint32_t id = q.push_back_config("cfg" + std::to_string(c));
            for (int v = 1; v <= 300; ++v) {
                id = q.push_back_config("cfg" + std::to_string(c) + " v" + std::to_string(v), id);
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
    EXPECT_EQ(static_cast<size_t>(kConfigs), q.size()) << "one entry per configuration, waiting to repeat";
}
