#include "FACE/QV_Devmem.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "FACE/QV_Config.h"
#include "support/RegisterImage.h"
#include "support/TempDir.h"

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE;
using FACE::IOSS::IO_PARAMETER_TYPE;
using FACE::IOSS::QV_Devmem;
using testsupport::RegisterImage;
namespace RC = FACE::RETURN_CODE_TYPE;
typedef FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE ReadPayload;

namespace {

// Mappings of path in this process, from the kernel's own table.
int mappingsOf(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) {
        count += line.size() > path.size() && line.substr(line.size() - path.size()) == path;
    }
    return count;
}

IO_PARAMETER_TYPE param(uint16_t id, uint32_t value) {
    IO_PARAMETER_TYPE p;
    p.id = id;
    p.value.ulong_value(value);
    return p;
}

uint32_t ulongOf(const IO_PARAMETER_TYPE& p) {
    uint32_t value = 0xBADu;
    FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE code;
    p.value.ulong_value(value, code);
    return value;
}

std::shared_ptr<QV_Devmem> serviceOn(const std::string& device, const std::string& ioDevices) {
    auto service = std::make_shared<QV_Devmem>(device);
    RC::Value code = RC::NO_ERROR;
    service->Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(ioDevices.c_str(), code);
    EXPECT_EQ(RC::NO_ERROR, code);
    return service;
}

class Devmem : public ::testing::Test {
protected:
    static testsupport::FpgaImageContents windows() {
        testsupport::FpgaImageContents contents;
        contents.blocks = {{"Window", 0x3010, 0x20}, {"Wide", 0x5000, 0x40}};
        return contents;
    }

    CONNECTION_HANDLE_TYPE open(const char* name) {
        CONNECTION_HANDLE_TYPE handle = 99;
        service->Open_Connection(name, -1, handle, code);
        EXPECT_EQ(RC::NO_ERROR, code) << name;
        return handle;
    }
    RC::Value read(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, ReadPayload& p) {
        p.offset = offset;
        p.width = width;
        service->Read(h, -1, p, code);
        return code;
    }
    RC::Value write(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, uint64_t value) {
        FACE::IOSS::Devmem::IO_Service::WRITE_PAYLOAD_TYPE p;
        p.offset = offset;
        p.width = width;
        p.value = value;
        service->Write(h, -1, p, code);
        return code;
    }

    RegisterImage image{windows()};
    std::shared_ptr<QV_Devmem> service = image.makeService();
    RC::Value code = RC::NOT_AVAILABLE;
};

}  // namespace

TEST(DevmemSetup, ConfigurationIsTakenOnceAndNeededForEverything) {
    testsupport::TempDir dir;
    QV_Devmem service;
    RC::Value code = RC::NO_ERROR;
    service.Initialize("io.xml", code);
    EXPECT_EQ(RC::INVALID_CONFIG, code) << "no configuration held";
    CONNECTION_HANDLE_TYPE handle = 7;
    service.Open_Connection("A", -1, handle, code);
    EXPECT_EQ(RC::INVALID_CONFIG, code);
    EXPECT_EQ(-1, handle);

    service.Set_Reference("io", nullptr, 0, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);
    auto first = std::make_shared<FACE::QV_Config>();
    service.Set_Reference("io", first, 0, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    FACE::Configuration_Injectable::Injectable& injectable = service;  // the other base
    injectable.Set_Reference("io", std::make_shared<FACE::QV_Config>(), 1, code);
    EXPECT_EQ(RC::NOT_AVAILABLE, code);
    EXPECT_EQ(2, first.use_count()) << "the first configuration stays";

    service.Initialize(dir.file("missing.xml").c_str(), code);
    EXPECT_EQ(RC::INVALID_CONFIG, code);
    const std::string file = dir.write("io.xml", RegisterImage::ioDevicesXml({{"A", 0, 4}}));
    service.Initialize(file.c_str(), code);
    EXPECT_EQ(RC::NO_ERROR, code);
    service.Initialize(file.c_str(), code);
    EXPECT_EQ(RC::NO_ACTION, code);
}

TEST(DevmemSetup, MissingOrMalformedWindowsAddNoConnection) {
    testsupport::TempDir dir;
    auto set = [](const char* name, const char* params) {
        return std::string("<IODevice><Name>") + name + "</Name><Parameters>" + params +
               "</Parameters></IODevice>";
    };
    const std::string xml = "<QV_Configurations>" +
                            set("NoSize", "<BaseAddress>0x1000</BaseAddress>") +
                            set("Junk", "<BaseAddress>0x10zz</BaseAddress><Size>16</Size>") +
                            set("Negative", "<BaseAddress>-4096</BaseAddress><Size>16</Size>") +
                            set("Good", "<BaseAddress> 010000 </BaseAddress><Size>0x10</Size>") +
                            "</QV_Configurations>";
    auto service =
        serviceOn(dir.write("mem.img", std::string(3 * 4096, '\0')), dir.write("io.xml", xml));
    RC::Value code = RC::NO_ERROR;
    CONNECTION_HANDLE_TYPE handle = 5;
    for (const char* name : {"Unknown", "NoSize", "Junk", "Negative"}) {
        service->Open_Connection(name, -1, handle, code);
        EXPECT_EQ(RC::INVALID_CONFIG, code) << name;
        EXPECT_EQ(-1, handle) << name;
    }
    service->Open_Connection("Good", -1, handle, code);
    EXPECT_EQ(0, handle) << "refused names took no table slot";
    IO_PARAMETER_TRANSACTION_TYPE query{param(0, 0)};
    service->Get_Connection_Configuration(handle, -1, query, code);
    EXPECT_EQ(010000u, ulongOf(query[0])) << "octal, blanks around";
}

TEST_F(Devmem, SameNameSameHandleOneMappingUntilDestroyed) {
    image.pokeAt(0x3010, 32, 0xA5A55A5Au);
    const CONNECTION_HANDLE_TYPE h = open("Window");
    EXPECT_EQ(h, open("Window"));
    EXPECT_EQ(1, mappingsOf(image.imagePath()));
    EXPECT_EQ(1, open("Wide"));
    ReadPayload p;
    p.reserved = 77;
    ASSERT_EQ(RC::NO_ERROR, read(h, 0, 32, p));
    EXPECT_EQ(0xA5A55A5Au, p.value) << "offset 0 is the base address";
    EXPECT_EQ(0, p.reserved);
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    service->Get_Connection_Status(h, status, code);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(QV_Devmem::MAPPED, status.state);
    service.reset();
    EXPECT_EQ(0, mappingsOf(image.imagePath()));
}

TEST_F(Devmem, AccessesMustLieWhollyInsideTheWindowAndBeAligned) {
    const CONNECTION_HANDLE_TYPE h = open("Window");  // 0x20 bytes at 0x3010
    image.pokeAt(0x3010 + 0x1C, 32, 0xDEADBEEFu);
    ReadPayload p;
    ASSERT_EQ(RC::NO_ERROR, read(h, 0x1C, 32, p));
    EXPECT_EQ(0xDEADBEEFu, p.value);
    EXPECT_EQ(RC::NO_ERROR, read(h, 0x18, 64, p));
    EXPECT_EQ(RC::NO_ERROR, read(h, 0x1F, 8, p));

    p.value = 0x5555;
    p.reserved = 9;
    const struct {
        uint32_t offset;
        uint8_t width;
    } refused[] = {{0x1D, 32},
                   {0x20, 8},
                   {0x1C, 64},
                   {0, 24},
                   {0, 0},
                   {1, 16},
                   {2, 32},
                   {4, 64},
                   // offset + n wraps in 32 bits
                   {0xFFFFFFFEu, 32},
                   {0xFFFFFFFCu, 32},
                   {0xFFFFFFFFu, 8},
                   {0xFFFFFFF8u, 64}};
    for (const auto& r : refused) {
        EXPECT_EQ(RC::NO_ACTION, read(h, r.offset, r.width, p)) << r.offset << "/" << int(r.width);
        EXPECT_EQ(RC::NO_ACTION, write(h, r.offset, r.width, ~0ull));
    }
    EXPECT_EQ(0x5555u, p.value) << "a refused read leaves the payload alone";
    EXPECT_EQ(9, p.reserved);
    EXPECT_EQ(0u, image.peekAt(0x3010 + 0x20, 64));
    EXPECT_EQ(0u, image.peekAt(0x3010, 64));
}

TEST_F(Devmem, EachWidthTouchesExactlyItsBytes) {
    const CONNECTION_HANDLE_TYPE h = open("Wide");
    const uint64_t pattern = 0x8877665544332211ull;
    for (uint8_t width : {8, 16, 32, 64}) {
        const unsigned n = width / 8u;
        for (uint32_t i = 0; i < 0x20; i += 8) {
            image.pokeAt(0x5000 + i, 64, 0xAAAAAAAAAAAAAAAAull);
        }
        ASSERT_EQ(RC::NO_ERROR, write(h, 0x10, width, pattern));
        for (unsigned b = 0; b < 0x20; ++b) {
            const bool inside = b >= 0x10 && b < 0x10 + n;
            EXPECT_EQ(inside ? (pattern >> (8 * (b - 0x10))) & 0xFF : 0xAA,
                      image.peekAt(0x5000 + b, 8))
                << "width " << int(width) << " byte " << b;
        }
        ReadPayload p;
        p.value = ~0ull;
        ASSERT_EQ(RC::NO_ERROR, read(h, 0x10, width, p));
        EXPECT_EQ(n == 8 ? pattern : pattern & ((1ull << (8 * n)) - 1), p.value) << int(width);
    }
}

TEST_F(Devmem, ParametersChangeOnlyWhileClosedAndReopeningRemaps) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    service->Configure_Connection_Parameters(h, -1, {param(1, 0x100)}, code);
    EXPECT_EQ(RC::NO_ACTION, code);
    service->Close_Connection(h, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, mappingsOf(image.imagePath()));
    ReadPayload p;
    EXPECT_EQ(RC::CONNECTION_CLOSED, read(h, 0, 8, p));
    EXPECT_EQ(RC::CONNECTION_CLOSED, write(h, 0, 8, 0));
    service->Close_Connection(h, code);
    EXPECT_EQ(RC::CONNECTION_CLOSED, code);

    // Bad walks change nothing: an unknown id, a value of another type.
    IO_PARAMETER_TYPE wrongType = param(0, 0);
    wrongType.value.ulonglong_value(0x4000);
    for (const IO_PARAMETER_TRANSACTION_TYPE& bad :
         {IO_PARAMETER_TRANSACTION_TYPE{param(1, 0x100), param(7, 1)},
          IO_PARAMETER_TRANSACTION_TYPE{param(1, 0x100), wrongType}}) {
        service->Configure_Connection_Parameters(h, -1, bad, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
    }
    IO_PARAMETER_TYPE other;
    other.id = 5;
    other.value.short_value(-3);
    IO_PARAMETER_TRANSACTION_TYPE query{param(0, 0), other, param(1, 0)};
    service->Get_Connection_Configuration(h, -1, query, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);
    EXPECT_EQ(0x3010u, ulongOf(query[0]));
    EXPECT_EQ(0x20u, ulongOf(query[2]));
    EXPECT_EQ(0xBADu, ulongOf(query[1])) << "unknown ids are left alone";

    // A good walk (the later size wins) takes effect at the next open.
    service->Configure_Connection_Parameters(
        h, -1, {param(0, 0x2000), param(1, 8), param(1, 0x100)}, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(h, open("Window"));
    EXPECT_EQ(1, mappingsOf(image.imagePath()));
    image.pokeAt(0x2000 + 0xFC, 32, 0x600DF00Du);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0xFC, 32, p));
    EXPECT_EQ(0x600DF00Du, p.value);
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x100, 8, p));
}

TEST_F(Devmem, HandlesOutsideTheTableAreRefused) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    IO_PARAMETER_TRANSACTION_TYPE params{param(1, 4)};
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    FACE::IOSS::BUS_STATUS_TYPE bus = 3;
    for (CONNECTION_HANDLE_TYPE bad :
         {CONNECTION_HANDLE_TYPE{-1}, h + 1, h + (CONNECTION_HANDLE_TYPE{1} << 40)}) {
        ReadPayload p;
        EXPECT_EQ(RC::INVALID_PARAM, read(bad, 0, 8, p));
        EXPECT_EQ(RC::INVALID_PARAM, write(bad, 0, 8, 0));
        const RC::Value expectations[] = {RC::INVALID_PARAM, RC::INVALID_PARAM, RC::INVALID_PARAM,
                                          RC::INVALID_PARAM, RC::INVALID_PARAM, RC::INVALID_PARAM,
                                          RC::INVALID_PARAM, RC::NO_ACTION,     RC::NO_ACTION};
        RC::Value got[9];
        service->Close_Connection(bad, got[0]);
        service->Configure_Connection_Parameters(bad, -1, params, got[1]);
        service->Get_Connection_Configuration(bad, -1, params, got[2]);
        service->Get_Connection_Status(bad, status, got[3]);
        service->Get_Bus_Status(bad, bus, got[4]);
        service->Register_Notification_Event(bad, nullptr, got[5]);
        service->Unregister_Notification_Event(bad, got[6]);
        service->Configure_Bus_Parameters(bad, -1, params, got[7]);
        service->Get_Bus_Configuration(bad, -1, params, got[8]);
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(expectations[i], got[i]) << "operation " << i << " handle " << bad;
        }
    }
    service->Get_Bus_Status(h, bus, code);
    EXPECT_EQ(0, bus);
    service->Register_Notification_Event(h, nullptr, code);
    EXPECT_EQ(RC::NO_ACTION, code) << "notifications are not offered";
    service->Close_Connection(h, code);
    service->Register_Notification_Event(h, nullptr, code);
    EXPECT_EQ(RC::CONNECTION_CLOSED, code);
}

TEST(DevmemDevice, AnUnopenableDeviceLeavesAnOpenConnectionInTheFailedState) {
    RegisterImage image;
    testsupport::TempDir dir;
    auto service = serviceOn(dir.file("no-such-device"), image.ioDevicesPath());
    CONNECTION_HANDLE_TYPE h = -1;
    RC::Value code = RC::NOT_AVAILABLE;
    service->Open_Connection(testsupport::fpgablock::kTimestamp, -1, h, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, h);
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    service->Get_Connection_Status(h, status, code);
    EXPECT_EQ(QV_Devmem::FAILED, status.state);
    ReadPayload p;
    p.width = 32;
    service->Read(h, -1, p, code);
    EXPECT_EQ(RC::INVALID_MODE, code);
    service->Write(h, -1, {0, 32, 1}, code);
    EXPECT_EQ(RC::INVALID_MODE, code);
}
