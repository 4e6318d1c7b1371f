// Stamping runs for every message the listener threads send: after the first
// use it must not touch the heap. Counts every allocation of this program.
#include "ASPN/TimeCodeHelper.h"
#include "platform/FPGA.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<unsigned long> g_allocations{0};
int* volatile g_escape = nullptr;
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

TEST(StampAllocation, SteadyStateStampingDoesNotAllocate) {
    testsupport::RegisterImage image;
    testsupport::FpgaSession session(image);
    aspn2_msgs::idl::header message;
    ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), message);  // first use

    const unsigned long before = g_allocations.load();
    for (int i = 1; i <= 1000; ++i) {
        ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), message);
        ASPN2::setToVandToA_fromFpgaTicks(static_cast<uint64_t>(i) << 50, message);
    }
    EXPECT_EQ(before, g_allocations.load());

    g_escape = new int(1);  // the counter itself works
    delete g_escape;
    EXPECT_EQ(before + 1, g_allocations.load());
}
