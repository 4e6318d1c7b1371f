#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/FPGA.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

// Once started, the facade and the IO service are read-only: threads that
// stamp messages and threads that drive control registers share them
// without locks.
TEST(FpgaConcurrency, RegisterAccessesFromSeveralThreadsShareNoMutableState) {
    boardkit::FpgaImageContents contents;
    contents.systemCount = 0x1122334455667788ull;
    boardkit::RegisterImage image(contents);
    boardkit::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    constexpr int kRounds = 2000;
    std::atomic<int> wrongCounts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&fpga, &wrongCounts, t] {
            for (int i = 0; i < kRounds; ++i) {
                wrongCounts += fpga.fpga_get_SystemCount() != 0x1122334455667788ull;
                // Each thread owns its own registers.
                fpga.fpga_set_periph_control(t, static_cast<uint32_t>(i));
                fpga.fpga_set_ptpClock_control(t, fpga.fpga_get_periph_control(t));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, wrongCounts.load());
    for (uint32_t t = 0; t < 4; ++t) {
        EXPECT_EQ(uint32_t{kRounds - 1}, image.peek(boardkit::fpgablock::kPtpClock, 4 * t));
    }
}
