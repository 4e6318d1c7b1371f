#include "FACE/MemoryMap.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/RegisterImage.h"
#include "support/TempDir.h"

using FACE::IOSS::MemoryMap;

namespace {
std::string failureOf(uint32_t base, uint32_t size, const std::string& device) {
    try {
        MemoryMap map(base, size, device);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}
}  // namespace

TEST(MemoryMap, MapsWholePagesAroundTheWindow) {
    testsupport::FpgaImageContents contents;
    contents.blocks = {{"Window", 0x3010, 0x20}, {"Page", 0x1000, 0x1000}};
    testsupport::RegisterImage image(contents);
    image.pokeAt(0x3000, 8, 0x11);
    image.pokeAt(0x3010, 8, 0x22);

    MemoryMap window(0x3010, 0x20, image.imagePath());
    EXPECT_EQ(0x10u, window.offsetInPage());
    EXPECT_EQ(1u, window.pageCount());
    EXPECT_EQ(4096u, window.length());
    EXPECT_EQ(0x22, window.getPointerToBase()[0]);
    EXPECT_EQ(0x11, window.getPointerToBase()[-0x10]) << "the mapping starts at file offset 0x3000";

    // Ending exactly on a page boundary still takes one more page.
    MemoryMap page(0x1000, 0x1000, image.imagePath());
    EXPECT_EQ(2u, page.pageCount());
    EXPECT_EQ(8192u, page.length());
}

TEST(MemoryMap, FailuresThrowTheirTextsAndAMissingDeviceIsRetried) {
    testsupport::TempDir dir;
    const std::string device = dir.write("mem.img", std::string(4096, 'x'));
    // 0x10 + 0xFFFFFFF0 wraps to 0 in 32 bits: a one-page mapping for a 4 GiB window.
    EXPECT_EQ("Unable to map memory space.", failureOf(0x3010, 0xFFFFFFF0u, device));
    EXPECT_EQ("Unable to map memory space.", failureOf(0, 0x10, "/dev/null"));  // no mmap

    const std::string late = dir.file("late.img");
    EXPECT_EQ("Unable to open " + late + " file descriptor.", failureOf(0, 0x10, late));
    dir.write("late.img", std::string(4096, 'y'));
    MemoryMap map(0, 0x10, late);
    EXPECT_EQ('y', static_cast<char>(map.getPointerToBase()[0]));
}
