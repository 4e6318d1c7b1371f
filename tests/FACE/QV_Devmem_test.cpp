#include "FACE/QV_Devmem.h"

#include <gtest/gtest.h>

#include "FACE/MemoryMap.h"
#include "FACE/QV_Config.h"
#include "boardkit/RegisterImage.h"
#include "boardkit/TempDir.h"

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::MemoryMap;
namespace RC = FACE::RETURN_CODE_TYPE;

namespace {

std::pair<RC::Value, RC::Value> Both(RC::Value code) { return {code, code}; }

FACE::IOSS::IO_PARAMETER_TYPE Param(uint16_t id, uint32_t value) {
    FACE::IOSS::IO_PARAMETER_TYPE p;
    p.id = id;
    p.value.ulong_value(value);
    return p;
}

const std::string kWindow = boardkit::fpgablock::ptfe(1);  // 0x400 bytes at 0x43C50400, not on a page boundary

class Devmem : public ::testing::Test {
protected:
    RC::Value read(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width) {
        p.offset = offset;
        p.width = width;
        return service->Read(h, -1, p, code), code;
    }
    RC::Value write(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, uint64_t value) {
        return service->Write(h, -1, {offset, width, value}, code), code;
    }
    std::pair<RC::Value, RC::Value> access(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width) {
        return {read(h, offset, width), write(h, offset, width, ~0ull)};
    }
    RC::Value configure(const FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& parameters) {
        return service->Configure_Connection_Parameters(h, -1, parameters, code), code;
    }
    CONNECTION_HANDLE_TYPE open(const std::string& name) {
        CONNECTION_HANDLE_TYPE handle = 99;
        service->Open_Connection(name.c_str(), -1, handle, code);
        EXPECT_EQ(RC::NO_ERROR, code) << name;
        return handle;
    }

    boardkit::RegisterImage image;
    std::shared_ptr<FACE::IOSS::QV_Devmem> service = image.makeService();
    RC::Value code = RC::NOT_AVAILABLE;
    const CONNECTION_HANDLE_TYPE h = open(kWindow);
    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE p;
};

}  // namespace

TEST_F(Devmem, MappingsCoverWholePagesAroundTheWindow) {
    EXPECT_EQ(2u, MemoryMap(0x1000, 0x1000, image.imagePath()).pageCount());  // ending on a page boundary too
    // 0x10 + 0xFFFFFFF0 wraps to 0 in 32 bits: a one-page mapping for a 4 GiB window.
    EXPECT_THROW(MemoryMap(0x3010, 0xFFFFFFF0u, image.imagePath()), std::runtime_error);
    EXPECT_THROW(MemoryMap(0, 0x10, "/dev/null"), std::runtime_error);  // no mmap
}

TEST_F(Devmem, AccessesTouchExactlyTheirAlignedBytesInsideTheWindow) {
    const uint64_t pattern = 0x8877665544332211ull, fill = 0xAAAAAAAAAAAAAAAAull;
    for (uint8_t width : {8, 16, 32, 64}) {
        const uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
        for (uint32_t at : {0x8u, 0x10u, 0x18u}) image.poke(kWindow, at, 64, fill);
        ASSERT_EQ(RC::NO_ERROR, write(h, 0x10, width, pattern));
        EXPECT_EQ((pattern & mask) | (fill & ~mask), image.peek(kWindow, 0x10, 64)) << int(width);
        EXPECT_EQ(std::make_tuple(fill, fill),
                  std::make_tuple(image.peek(kWindow, 0x8, 64), image.peek(kWindow, 0x18, 64)));
        p.value = ~0ull;
        ASSERT_EQ(RC::NO_ERROR, read(h, 0x10, width));
        EXPECT_EQ(pattern & mask, p.value) << int(width);
    }
    EXPECT_EQ(std::make_tuple(RC::NO_ERROR, RC::NO_ERROR, RC::NO_ERROR),
              std::make_tuple(read(h, 0x3F8, 64), read(h, 0x3FC, 32), read(h, 0x3FF, 8)));
    // Past the end, odd widths, misaligned, and ends that wrap in 32 bits.
    const std::pair<uint32_t, uint8_t> refused[] = {
        {0x3FD, 32}, {0x400, 8}, {0x3FC, 64},       {0, 24},          {0, 0},           {1, 16},
        {2, 32},     {4, 64},    {0xFFFFFFFEu, 32}, {0xFFFFFFFFu, 8}, {0xFFFFFFF8u, 64}};
    for (const auto& [offset, width] : refused) EXPECT_EQ(Both(RC::NO_ACTION), access(h, offset, width)) << offset;
    EXPECT_EQ(0u, image.peek(kWindow, 0x400, 64) | image.peek(kWindow, 0, 64));
    for (CONNECTION_HANDLE_TYPE bad : {-1ll, 1ll << 40}) EXPECT_EQ(Both(RC::INVALID_PARAM), access(bad, 0, 8));
}

TEST_F(Devmem, OneMappingPerNameResizedOnlyWhileClosed) {
    EXPECT_EQ(h, open(kWindow));
    EXPECT_EQ(1, image.mappings());
    EXPECT_EQ(RC::NO_ACTION, configure({Param(1, 0x100)})) << "not while mapped";
    service->Close_Connection(h, code);
    EXPECT_EQ(0, image.mappings());
    EXPECT_EQ(Both(RC::CONNECTION_CLOSED), access(h, 0, 8));
    // An unknown id or a value of another type changes nothing; of two
    // good sizes the later wins, at the next open.
    FACE::IOSS::IO_PARAMETER_TYPE wrongType = Param(1, 0);
    wrongType.value.ulonglong_value(0x102);
    EXPECT_EQ(RC::INVALID_PARAM, configure({Param(0, 0x3000), Param(7, 1)}));
    EXPECT_EQ(RC::INVALID_PARAM, configure({Param(0, 0x3000), wrongType}));
    EXPECT_EQ(RC::NO_ERROR, configure({Param(1, 8), Param(1, 0x102)}));
    EXPECT_EQ(h, open(kWindow));
    image.poke(kWindow, 0xFC, 32, 0x600DF00Du);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0xFC, 32));
    EXPECT_EQ(0x600DF00Du, p.value);
    // Aligned accesses that start inside a window of odd size, the second ending past it.
    EXPECT_EQ(std::make_tuple(RC::NO_ERROR, RC::NO_ACTION), std::make_tuple(read(h, 0x100, 16), read(h, 0x100, 32)));
    service.reset();
    EXPECT_EQ(0, image.mappings());
}

TEST_F(Devmem, MalformedWindowsAreRefusedAndAnUnopenableDeviceFailsItsConnections) {
    boardkit::TempDir dir;
    const std::string xml = dir.write("io.xml", R"(<QV_Configurations>
  <IODevice><Name>NoSize</Name><Parameters><BaseAddress>0x1000</BaseAddress></Parameters></IODevice>
  <IODevice><Name>Junk</Name><Parameters><BaseAddress>0x10zz</BaseAddress><Size>16</Size></Parameters></IODevice>
  <IODevice><Name>Negative</Name><Parameters><BaseAddress>-4096</BaseAddress><Size>16</Size></Parameters></IODevice>
  <IODevice><Name>Good</Name><Parameters><BaseAddress> 010020 </BaseAddress><Size>8</Size></Parameters></IODevice>
</QV_Configurations>)");
    service = std::make_shared<FACE::IOSS::QV_Devmem>(dir.file("no-such-device"));
    service->Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(xml.c_str(), code);
    for (const char* name : {"Unknown", "NoSize", "Junk", "Negative"}) {
        CONNECTION_HANDLE_TYPE handle = 5;
        service->Open_Connection(name, -1, handle, code);
        EXPECT_EQ(std::make_pair(RC::INVALID_CONFIG, CONNECTION_HANDLE_TYPE{-1}), std::make_pair(code, handle)) << name;
    }
    EXPECT_EQ(0, open("Good")) << "refused names took no table slot";
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    EXPECT_EQ(4u, (service->Get_Connection_Status(0, status, code), status.state));
    EXPECT_EQ(Both(RC::INVALID_MODE), access(0, 0, 32));
}
