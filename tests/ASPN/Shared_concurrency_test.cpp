// What the listener threads share without locks of their own: the started
// FPGA facade, one command builder and the event queue. Run under
// ThreadSanitizer too.
#include "ASPN/CmdResponse.h"
#include "ASPN/EventQueue.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <tuple>
#include <thread>

// No counter hands out a number twice, every accepted event comes out
// exactly once and in its producer's order, and each thread's control
// registers hold what it wrote last.
TEST(SharedConcurrency, BuilderQueueAndRegistersLoseOrRepeatNothing) {
    constexpr int kThreads = 4, kEach = 1000;
    boardkit::FpgaImageContents contents;
    contents.systemCount = 0x1122334455667788ull;
    boardkit::RegisterImage image(contents);
    boardkit::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    ASPN2::CmdResponse builder(ASPN2::DeviceIdFactory(3, 44));
    ASPN2::EventQueue q(10, 2, std::chrono::hours(1));
    std::vector<int64_t> numbers[3][kThreads];  // command seq_num, command_identifier, response seq_num
    std::atomic<int> accepted{0}, producing{kThreads}, wrongCounts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto cmd = builder.makeCommand("BITSERVER_PING");
                numbers[0][t].push_back(cmd.header().seq_num());
                numbers[1][t].push_back(cmd.command_identifier());
                numbers[2][t].push_back(builder.makeResponse(cmd, true).header().seq_num());
                accepted += q.push_back(t, std::to_string(i)) ? 1 : 0;
                wrongCounts += fpga.fpga_get_SystemCount() != contents.systemCount;
                fpga.fpga_set_periph_control(t, static_cast<uint32_t>(i));  // each thread its own registers
                fpga.fpga_set_ptpClock_control(t, fpga.fpga_get_periph_control(t));
            }
            --producing;
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) builder.reset(ASPN2::DeviceIdFactory(static_cast<uint8_t>(1 + i % 3), 44));
    });
    int received = 0, disorder = 0, producer = 0;
    std::vector<int> next(kThreads, 0);
    std::string text;
    for (bool last = false; !last;) {
        last = producing.load() == 0;  // the pops after this one see every push
        while (q.pop_front(producer, text, std::chrono::milliseconds(20))) {
            const int i = std::stoi(text);
            disorder += i < next[producer] ? 1 : 0;
            next[producer] = i + 1;
            ++received;
        }
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::make_tuple(accepted.load(), 0, 0), std::make_tuple(received, disorder, wrongCounts.load()));
    for (const auto& perThread : numbers) {
        std::set<int64_t> distinct;
        for (const auto& v : perThread) distinct.insert(v.begin(), v.end());
        EXPECT_EQ(static_cast<size_t>(kThreads * kEach), distinct.size());
    }
    for (uint32_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(uint32_t{kEach - 1}, image.peek(boardkit::fpgablock::kPtpClock, 4 * t));
    }
}
