#include "ASPN/CmdResponse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

// Threads building commands and responses from one builder while another
// resets its device id: each counter hands out 0..n-1, every number once,
// growing within each thread.
TEST(CmdResponseConcurrency, NoSequenceNumberOrIdentifierRepeats) {
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    ASPN2::CmdResponse builder(ASPN2::DeviceIdFactory(3, 44));

    // Per thread: command seq_num, command_identifier, response seq_num.
    std::vector<std::vector<int64_t>> numbers[3];
    for (auto& n : numbers) {
        n.resize(kThreads);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto cmd = builder.makeCommand("BITSERVER_PING");
                numbers[0][t].push_back(cmd.header().seq_num());
                numbers[1][t].push_back(cmd.command_identifier());
                numbers[2][t].push_back(builder.makeResponse(cmd, true).header().seq_num());
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            builder.reset(ASPN2::DeviceIdFactory(static_cast<uint8_t>(1 + i % 3), 44));
        }
    });
    for (auto& t : threads) {
        t.join();
    }

    for (const auto& perThread : numbers) {
        std::vector<int64_t> all;
        for (const auto& v : perThread) {
            EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
            all.insert(all.end(), v.begin(), v.end());
        }
        std::sort(all.begin(), all.end());
        std::vector<int64_t> expected(kThreads * kEach);
        for (size_t i = 0; i < expected.size(); ++i) {
            expected[i] = static_cast<int64_t>(i);
        }
        EXPECT_EQ(expected, all);
    }
}
