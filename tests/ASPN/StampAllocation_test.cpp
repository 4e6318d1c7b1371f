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
    testsupport::FpgaImageContents contents;
    contents.systemCount = 123456789;
    testsupport::RegisterImage image(contents);
    testsupport::FpgaSession session(image);
    FpgaFace& face = FpgaFace::Instance();

    aspn2_msgs::idl::header message;
    ASPN2::header plain;
    ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), message);  // first use

    const unsigned long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i) {
        ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), message);
        ASPN2::setToA_fromFpgaTicks(static_cast<uint64_t>(i) << 40, message);
        ASPN2::setToVandToA_fromFpgaTicks(static_cast<uint64_t>(i), plain);
        ASPN2::copyHeader_fromTo(plain, message);
    }
    const unsigned long after = g_allocations.load();
    EXPECT_EQ(before, after);
    EXPECT_EQ(0, message.timestamp_valid().sec()) << "the loop really stamped";
    EXPECT_EQ(2, ASPN2::fpgaTicksToTime(123456789).sec);

    // The counter itself works.
    const unsigned long probe = g_allocations.load();
    g_escape = new int(1);
    delete g_escape;
    EXPECT_GT(g_allocations.load(), probe);
}
