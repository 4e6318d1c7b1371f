#include "FACE/QV_Devmem.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "FACE/MemoryMap.h"
#include "FACE/QV_Config.h"
#include "boardkit/RegisterImage.h"
#include "boardkit/TempDir.h"

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE;
using FACE::IOSS::MemoryMap;
using FACE::IOSS::QV_Devmem;
namespace RC = FACE::RETURN_CODE_TYPE;

namespace {

FACE::IOSS::IO_PARAMETER_TYPE param(uint16_t id, uint32_t value) {
    FACE::IOSS::IO_PARAMETER_TYPE p;
    p.id = id;
    p.value.ulong_value(value);
    return p;
}

// The window: 0x400 bytes at 0x43C50400, not on a page boundary.
const std::string kWindow = boardkit::fpgablock::ptfe(1);

class Devmem : public ::testing::Test {
protected:
    CONNECTION_HANDLE_TYPE open(const std::string& name) {
        CONNECTION_HANDLE_TYPE handle = 99;
        service->Open_Connection(name.c_str(), -1, handle, code);
        EXPECT_EQ(RC::NO_ERROR, code) << name;
        return handle;
    }
    RC::Value read(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width) {
        p.offset = offset;
        p.width = width;
        service->Read(h, -1, p, code);
        return code;
    }
    RC::Value write(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, uint64_t value) {
        service->Write(h, -1, {offset, width, value}, code);
        return code;
    }

    boardkit::RegisterImage image;
    std::shared_ptr<QV_Devmem> service = image.makeService();
    RC::Value code = RC::NOT_AVAILABLE;
    const CONNECTION_HANDLE_TYPE h = open(kWindow);
    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE p;
};

}  // namespace

TEST_F(Devmem, MappingsCoverWholePagesAroundTheWindow) {
    image.pokeAt(0x3000, 8, 0x11);
    image.pokeAt(0x3010, 8, 0x22);
    MemoryMap window(0x3010, 0x20, image.imagePath());
    EXPECT_EQ(0x22, window.getPointerToBase()[0]);
    EXPECT_EQ(0x11, window.getPointerToBase()[-0x10]) << "the mapping starts at file offset 0x3000";
    // Ending exactly on a page boundary still takes one more page.
    EXPECT_EQ(2u, MemoryMap(0x1000, 0x1000, image.imagePath()).pageCount());
    // 0x10 + 0xFFFFFFF0 wraps to 0 in 32 bits: a one-page mapping for a 4 GiB window.
    EXPECT_THROW(MemoryMap(0x3010, 0xFFFFFFF0u, image.imagePath()), std::runtime_error);
    EXPECT_THROW(MemoryMap(0, 0x10, "/dev/null"), std::runtime_error);  // no mmap
}

TEST_F(Devmem, AccessesMustLieWhollyInsideTheWindowAndBeAligned) {
    image.poke(kWindow, 0x3FC, 32, 0xDEADBEEFu);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0x3FC, 32));
    EXPECT_EQ(0xDEADBEEFu, p.value);
    EXPECT_EQ(RC::NO_ERROR, read(h, 0x3F8, 64));
    EXPECT_EQ(RC::NO_ERROR, read(h, 0x3FF, 8));
    // Past the end, odd widths, misaligned, and ends that wrap in 32 bits.
    const std::pair<uint32_t, uint8_t> refused[] = {
        {0x3FD, 32}, {0x400, 8}, {0x3FC, 64},       {0, 24},          {0, 0},           {1, 16},
        {2, 32},     {4, 64},    {0xFFFFFFFEu, 32}, {0xFFFFFFFFu, 8}, {0xFFFFFFF8u, 64}};
    for (const auto& [offset, width] : refused) {
        EXPECT_EQ(RC::NO_ACTION, read(h, offset, width)) << offset << "/" << int(width);
        EXPECT_EQ(RC::NO_ACTION, write(h, offset, width, ~0ull));
    }
    EXPECT_EQ(0u, image.peek(kWindow, 0x400, 64));
    EXPECT_EQ(0u, image.peek(kWindow, 0, 64));
    for (CONNECTION_HANDLE_TYPE bad : {-1ll, 1ll << 40}) {
        EXPECT_EQ(RC::INVALID_PARAM, read(bad, 0, 8));
        EXPECT_EQ(RC::INVALID_PARAM, write(bad, 0, 8, 0));
    }
}

TEST_F(Devmem, EachWidthTouchesExactlyItsBytes) {
    const uint64_t pattern = 0x8877665544332211ull;
    for (uint8_t width : {8, 16, 32, 64}) {
        const unsigned n = width / 8u;
        for (uint32_t i = 0; i < 0x20; i += 8) image.poke(kWindow, i, 64, 0xAAAAAAAAAAAAAAAAull);
        ASSERT_EQ(RC::NO_ERROR, write(h, 0x10, width, pattern));
        for (uint32_t b = 0; b < 0x20; ++b) {
            const bool inside = b >= 0x10 && b < 0x10 + n;
            EXPECT_EQ(inside ? (pattern >> (8 * (b - 0x10))) & 0xFF : 0xAA,
                      image.peek(kWindow, b, 8))
                << "width " << int(width) << " byte " << b;
        }
        p.value = ~0ull;
        ASSERT_EQ(RC::NO_ERROR, read(h, 0x10, width));
        EXPECT_EQ(n == 8 ? pattern : pattern & ((1ull << (8 * n)) - 1), p.value) << int(width);
    }
}

TEST_F(Devmem, OneMappingPerNameRemappedOnlyWhenReopened) {
    EXPECT_EQ(h, open(kWindow));
    EXPECT_EQ(1, image.mappings());
    service->Configure_Connection_Parameters(h, -1, {param(1, 0x100)}, code);
    EXPECT_EQ(RC::NO_ACTION, code) << "not while mapped";
    service->Close_Connection(h, code);
    EXPECT_EQ(0, image.mappings());
    EXPECT_EQ(RC::CONNECTION_CLOSED, read(h, 0, 8));
    EXPECT_EQ(RC::CONNECTION_CLOSED, write(h, 0, 8, 0));

    // Walks with an unknown id or a value of another type change nothing; a
    // good one (the later size wins) takes effect at the next open.
    FACE::IOSS::IO_PARAMETER_TYPE wrongType = param(1, 0);
    wrongType.value.ulonglong_value(0x100);
    for (const IO_PARAMETER_TRANSACTION_TYPE& bad :
         {IO_PARAMETER_TRANSACTION_TYPE{param(0, 0x3000), param(7, 1)},
          IO_PARAMETER_TRANSACTION_TYPE{param(0, 0x3000), wrongType}}) {
        service->Configure_Connection_Parameters(h, -1, bad, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
    }
    service->Configure_Connection_Parameters(h, -1, {param(1, 8), param(1, 0x100)}, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(h, open(kWindow));
    EXPECT_EQ(1, image.mappings());
    image.poke(kWindow, 0xFC, 32, 0x600DF00Du);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0xFC, 32));
    EXPECT_EQ(0x600DF00Du, p.value);
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x100, 8));
    service.reset();
    EXPECT_EQ(0, image.mappings());
}

TEST_F(Devmem, MalformedWindowsAreRefusedAndAnUnopenableDeviceFailsItsConnections) {
    boardkit::TempDir dir;
    const std::string xml = dir.write("io.xml", R"(<QV_Configurations>
  <IODevice><Name>NoSize</Name><Parameters><BaseAddress>0x1000</BaseAddress></Parameters></IODevice>
  <IODevice><Name>Junk</Name><Parameters><BaseAddress>0x10zz</BaseAddress><Size>16</Size>
  </Parameters></IODevice>
  <IODevice><Name>Negative</Name><Parameters><BaseAddress>-4096</BaseAddress><Size>16</Size>
  </Parameters></IODevice>
  <IODevice><Name>Good</Name><Parameters><BaseAddress> 010020 </BaseAddress><Size>8</Size>
  </Parameters></IODevice>
</QV_Configurations>)");
    service = std::make_shared<QV_Devmem>(dir.file("no-such-device"));
    service->Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(xml.c_str(), code);
    CONNECTION_HANDLE_TYPE handle = 5;
    for (const char* name : {"Unknown", "NoSize", "Junk", "Negative"}) {
        service->Open_Connection(name, -1, handle, code);
        EXPECT_EQ(RC::INVALID_CONFIG, code) << name;
        EXPECT_EQ(-1, handle) << name;
    }
    EXPECT_EQ(0, open("Good")) << "refused names took no table slot";
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    service->Get_Connection_Status(0, status, code);
    EXPECT_EQ(4u, status.state);
    EXPECT_EQ(RC::INVALID_MODE, read(0, 0, 32));
    EXPECT_EQ(RC::INVALID_MODE, write(0, 0, 32, 1));
}
