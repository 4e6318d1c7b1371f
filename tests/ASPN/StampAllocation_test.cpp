// Stamping runs for every message sent from the listener threads: after the
// first use it must not touch the heap. Every allocation of this test
// program is counted.
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

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

TEST(StampAllocation, SteadyStateStampingDoesNotAllocate) {
    testsupport::RegisterImage image;
    testsupport::FpgaSession session(image);
    FpgaFace& face = FpgaFace::Instance();
    aspn2_msgs::idl::header message;
    ASPN2::header plain;
    ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), message);  // first use

    const unsigned long before = g_allocations.load();
    for (int i = 1; i <= 1000; ++i) {
        ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), message);
        ASPN2::setToA_fromFpgaTicks(static_cast<uint64_t>(i) << 40, message);
        ASPN2::setToVandToA_fromFpgaTicks(static_cast<uint64_t>(i) << 50, plain);
        ASPN2::copyHeader_fromTo(plain, message);
    }
    EXPECT_EQ(before, g_allocations.load());
    EXPECT_NE(0, message.timestamp_valid().sec()) << "the loop really stamped";

    g_escape = new int(1);  // the counter itself works
    delete g_escape;
    EXPECT_EQ(before + 1, g_allocations.load());
}
