// The register paths that time-stamp messages must not allocate.
#include <gtest/gtest.h>

#include <vector>

#include "platform/FPGA.h"
#include "support/AllocationCounter.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

TEST(FpgaAllocation, RegisterReadsAndWritesDoNotAllocate) {
    uint64_t before = testsupport::allocationCount();
    volatile std::size_t n = 16;  // the counter does see allocations
    std::vector<int> v(n);
    EXPECT_GT(testsupport::allocationCount(), before);

    boardkit::RegisterImage image;
    boardkit::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    image.poke(boardkit::fpgablock::kTimestamp, 0x80, 64, 1000);
    uint64_t sum = 0;
    before = testsupport::allocationCount();
    for (int i = 0; i < 1000; ++i) {
        sum += fpga.fpga_get_SystemCount() + fpga.fpga_pulsegen_adjust_Int_phase(0, 3);
        fpga.fpga_set_periph_control(i % 16, static_cast<uint32_t>(i));
        fpga.setUartDelay(i % 4u, 115200.0, 10.0, 2.0);
    }
    EXPECT_EQ(0u, testsupport::allocationCount() - before);
    EXPECT_GE(sum, 1000u * 1000u) << "the loop read the counter";
}
