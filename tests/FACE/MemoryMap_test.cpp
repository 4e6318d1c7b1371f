#include "FACE/MemoryMap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "support/RegisterImage.h"
#include "support/TempDir.h"

using FACE::IOSS::MemoryDeviceFileDescriptor;
using FACE::IOSS::MemoryMap;
using testsupport::RegisterImage;

namespace {

std::string blankDevice(testsupport::TempDir& dir) {
    const std::string path = dir.write("mem.img", std::string(4 * 4096, '\0'));
    return path;
}

}  // namespace

TEST(MemoryMap, UnalignedBaseMapsItsPageAndPointsInsideIt) {
    testsupport::FpgaImageSpec spec;
    spec.blocks = {{"Window", 0x3010, 0x20}};
    RegisterImage image(spec);
    image.pokeAt(0x3000, 32, 0x11111111u);
    image.pokeAt(0x3010, 32, 0xCAFEF00Du);

    MemoryMap map(0x3010, 0x20, image.imagePath());
    EXPECT_EQ(0x10u, map.offsetInPage());
    EXPECT_EQ(1u, map.pageCount());
    EXPECT_EQ(4096u, map.length());
    uint32_t atBase = 0;
    uint32_t atPageStart = 0;
    std::memcpy(&atBase, map.getPointerToBase(), 4);
    std::memcpy(&atPageStart, map.getPointerToBase() - 0x10, 4);
    EXPECT_EQ(0xCAFEF00Du, atBase);
    EXPECT_EQ(0x11111111u, atPageStart);
}

TEST(MemoryMap, WindowEndingOnAPageBoundaryGetsAnExtraPage) {
    testsupport::TempDir dir;
    const std::string device = blankDevice(dir);
    MemoryMap map(0x1000, 0x1000, device);
    EXPECT_EQ(0u, map.offsetInPage());
    EXPECT_EQ(2u, map.pageCount());
    EXPECT_EQ(2u * 4096u, map.length());
}

TEST(MemoryMap, WindowNear4GiBIsRefusedInsteadOfWrappingToAShortMapping) {
    testsupport::TempDir dir;
    const std::string device = blankDevice(dir);
    // 0x10 + 0xFFFFFFF0 wraps to 0 in 32 bits: one page would be mapped for a
    // window that claims 4 GiB.
    try {
        MemoryMap map(0x3010, 0xFFFFFFF0u, device);
        FAIL() << "a 4 GiB window was mapped";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Unable to map memory space.", e.what());
    }
}

TEST(MemoryMap, DeviceThatCannotBeMappedOrOpenedThrowsAndIsRetried) {
    // /dev/null opens read-write but refuses mmap.
    try {
        MemoryMap map(0, 0x10, "/dev/null");
        FAIL() << "mapping /dev/null succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Unable to map memory space.", e.what());
    }

    testsupport::TempDir dir;
    const std::string late = dir.file("appears-later.img");
    try {
        MemoryMap map(0, 0x10, late);
        FAIL() << "a missing device was mapped";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ("Unable to open " + late + " file descriptor.", std::string(e.what()));
    }
    // The failed open kept nothing, so the device is tried again.
    dir.write("appears-later.img", std::string(4096, 'x'));
    MemoryMap map(0, 0x10, late);
    EXPECT_EQ('x', static_cast<char>(map.getPointerToBase()[0]));
}

TEST(MemoryMap, OneDescriptorPerDeviceSharedByItsMappings) {
    testsupport::TempDir dir;
    const std::string a = dir.write("a.img", std::string(4096, '\0'));
    const std::string b = dir.write("b.img", std::string(4096, '\0'));
    MemoryDeviceFileDescriptor& first = MemoryDeviceFileDescriptor::Instance(a);
    EXPECT_EQ(&first, &MemoryDeviceFileDescriptor::Instance(a));
    EXPECT_NE(&first, &MemoryDeviceFileDescriptor::Instance(b));
    EXPECT_EQ(4096u, first.pageSize());
    EXPECT_GE(first.fileDescriptor(), 0);
}

TEST(MemoryMap, PhysicalAddressAbove2GiBReachesTheRightFileOffset) {
    // Sparse: only the written page takes space.
    testsupport::FpgaImageSpec spec;
    spec.blocks = {{"High", 0x80001008u, 0x10}};
    RegisterImage image(spec);
    image.pokeAt(0x80001008u, 64, 0x0123456789ABCDEFull);
    MemoryMap map(0x80001008u, 0x10, image.imagePath());
    uint64_t value = 0;
    std::memcpy(&value, map.getPointerToBase(), 8);
    EXPECT_EQ(0x0123456789ABCDEFull, value);
}
