// Counts every heap allocation of this test program: the register paths
// that time-stamp messages must not allocate. (The array and nothrow forms
// of operator new end in this one.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/FPGA.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

namespace {
std::atomic<unsigned long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(FpgaAllocation, RegisterReadsAndWritesDoNotAllocate) {
    unsigned long before = g_allocations.load();
    volatile std::size_t n = 16;  // the counter does see allocations
    std::vector<int> v(n);
    EXPECT_GT(g_allocations.load(), before);

    testsupport::RegisterImage image;
    testsupport::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    image.poke(testsupport::fpgablock::kTimestamp, 0x80, 64, 1000);
    uint64_t sum = 0;
    before = g_allocations.load();
    for (int i = 0; i < 1000; ++i) {
        sum += fpga.fpga_get_SystemCount() + fpga.fpga_pulsegen_adjust_Int_phase(0, 3);
        fpga.fpga_set_periph_control(i % 16, static_cast<uint32_t>(i));
        fpga.setUartDelay(i % 4u, 115200.0, 10.0, 2.0);
    }
    EXPECT_EQ(0u, g_allocations.load() - before);
    EXPECT_GE(sum, 1000u * 1000u) << "the loop read the counter";
}
