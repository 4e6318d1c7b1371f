// Counts every heap allocation of this test program: the register paths
// that time-stamp messages must not allocate.
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

void* countedAllocation(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
}  // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return countedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace block = testsupport::fpgablock;

TEST(FpgaAllocation, TheCounterSeesAnAllocation) {
    volatile std::size_t n = 16;
    const unsigned long before = g_allocations.load();
    std::vector<int> v(n);
    v[n - 1] = 3;
    volatile int sink = v[n - 1];
    (void)sink;
    EXPECT_GT(g_allocations.load(), before);
}

TEST(FpgaAllocation, RegisterReadsAndWritesDoNotAllocate) {
    testsupport::RegisterImage image;
    testsupport::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    image.poke(block::kTimestamp, 0x80, 64, 1000);

    uint64_t sum = 0;
    const unsigned long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i) {
        sum += fpga.fpga_get_SystemCount();
        sum += fpga.getPulseTimestampRaw(i % 8);
        sum += fpga.getUARTDataTimestampRaw(static_cast<uint32_t>(i % 4));
        fpga.fpga_set_periph_control(i % 16, static_cast<uint32_t>(i));
        sum += fpga.fpga_get_periph_control(i % 16);
        fpga.setUartDelay(static_cast<uint32_t>(i % 4), 115200.0, 10.0, 2.0);
        fpga.fpga_set_ppsSlave_control(8, 1);
        sum += fpga.fpga_pulsegen_adjust_Int_phase(0, 3);
        sum += fpga.getAndClearPtfeStatus(1);
        fpga.setPtfeDefaultNcoRate(1, static_cast<uint64_t>(i));
    }
    const unsigned long allocations = g_allocations.load() - before;
    EXPECT_EQ(0u, allocations);
    EXPECT_GE(sum, 1000u * 1000u);
}
