#include "ASPN/CmdResponse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

// Threads building commands and responses from one builder, while another
// resets its device id: each sequence and the command identifiers run
// 0..n-1 with no number used twice.
TEST(CmdResponseConcurrency, NoSequenceNumberOrIdentifierRepeats) {
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    ASPN2::CmdResponse builder(ASPN2::DeviceIdFactory(3, 44));

    std::vector<std::vector<int64_t>> commandSeqs(kThreads), responseSeqs(kThreads);
    std::vector<std::vector<int32_t>> identifiers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto cmd = builder.makeCommand("BITSERVER_PING");
                commandSeqs[t].push_back(cmd.header().seq_num());
                identifiers[t].push_back(cmd.command_identifier());
                responseSeqs[t].push_back(builder.makeResponse(cmd, true).header().seq_num());
            }
        });
    }
    std::thread resetter([&] {
        for (int i = 0; i < 200; ++i) {
            builder.reset(ASPN2::DeviceIdFactory(static_cast<uint8_t>(1 + i % 3), 44));
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    resetter.join();

    auto expectZeroToN = [](std::vector<std::vector<int64_t>> perThread, const char* what) {
        std::vector<int64_t> all;
        for (auto& v : perThread) {
            EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << what << " must grow within a thread";
            all.insert(all.end(), v.begin(), v.end());
        }
        std::sort(all.begin(), all.end());
        ASSERT_EQ(static_cast<size_t>(kThreads * kEach), all.size());
        for (size_t i = 0; i < all.size(); ++i) {
            ASSERT_EQ(static_cast<int64_t>(i), all[i]) << what;
        }
    };
    expectZeroToN(commandSeqs, "command seq_num");
    expectZeroToN(responseSeqs, "response seq_num");
    std::vector<std::vector<int64_t>> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        ids[t].assign(identifiers[t].begin(), identifiers[t].end());
    }
    expectZeroToN(ids, "command_identifier");
}
