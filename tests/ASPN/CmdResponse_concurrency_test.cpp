#include "ASPN/CmdResponse.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

// Threads building commands and responses from one builder while another
// resets its device id: no counter hands out a number twice.
TEST(CmdResponseConcurrency, NoSequenceNumberOrIdentifierRepeats) {
    constexpr int kThreads = 4, kEach = 500;
    ASPN2::CmdResponse builder(ASPN2::DeviceIdFactory(3, 44));

    // Command seq_num, command_identifier and response seq_num, per thread.
    std::vector<int64_t> numbers[3][kThreads];
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
        std::set<int64_t> distinct;
        for (const auto& v : perThread) {
            distinct.insert(v.begin(), v.end());
        }
        EXPECT_EQ(static_cast<size_t>(kThreads * kEach), distinct.size());
    }
}
