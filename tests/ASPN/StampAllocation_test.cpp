// Stamping runs for every message the listener threads send: after the first
// use it must not touch the heap.
#include "ASPN/TimeCodeHelper.h"
#include "platform/FPGA.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

#include <gtest/gtest.h>

#include "support/AllocationCounter.h"

namespace {
int* volatile g_escape = nullptr;
}  // namespace

TEST(StampAllocation, SteadyStateStampingDoesNotAllocate) {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session(image);
    aspn2_msgs::idl::header message;
    ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), message);  // first use

    const unsigned long before = testsupport::allocationCount();
    for (int i = 1; i <= 1000; ++i) {
        ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), message);
        ASPN2::setToVandToA_fromFpgaTicks(static_cast<uint64_t>(i) << 50, message);
    }
    EXPECT_EQ(before, testsupport::allocationCount());

    g_escape = new int(1);  // the counter itself works
    delete g_escape;
    EXPECT_EQ(before + 1, testsupport::allocationCount());
}
