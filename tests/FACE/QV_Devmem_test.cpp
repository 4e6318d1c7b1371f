#include "FACE/QV_Devmem.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "FACE/QV_Config.h"
#include "support/RegisterImage.h"
#include "support/TempDir.h"

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::CONNECTION_STATUS_TYPE;
using FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE;
using FACE::IOSS::IO_PARAMETER_TYPE;
using FACE::IOSS::QV_Devmem;
using testsupport::RegisterImage;
namespace RC = FACE::RETURN_CODE_TYPE;

typedef FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE ReadPayload;
typedef FACE::IOSS::Devmem::IO_Service::WRITE_PAYLOAD_TYPE WritePayload;

namespace {

// Mappings of path in this process, counted from the kernel's own table.
int mappingsOf(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) {
        if (line.size() >= path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0) {
            ++count;
        }
    }
    return count;
}

testsupport::FpgaImageSpec windows() {
    testsupport::FpgaImageSpec spec;
    spec.blocks = {{"Window", 0x3010, 0x20}, {"Page", 0x1000, 0x1000}, {"Wide", 0x5000, 0x40}};
    return spec;
}

IO_PARAMETER_TYPE ulongParameter(uint16_t id, uint32_t value) {
    IO_PARAMETER_TYPE p;
    p.id = id;
    p.value.ulong_value(value);
    return p;
}

class QV_DevmemTest : public ::testing::Test {
protected:
    QV_DevmemTest() : image(windows()), service(image.makeService()) {}

    CONNECTION_HANDLE_TYPE open(const char* name) {
        CONNECTION_HANDLE_TYPE handle = 99;
        RC::Value code = RC::NOT_AVAILABLE;
        service->Open_Connection(name, -1, handle, code);
        EXPECT_EQ(RC::NO_ERROR, code) << name;
        return handle;
    }

    RC::Value read(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, ReadPayload& p) {
        p.offset = offset;
        p.width = width;
        RC::Value code = RC::NOT_AVAILABLE;
        service->Read(h, -1, p, code);
        return code;
    }

    RC::Value write(CONNECTION_HANDLE_TYPE h, uint32_t offset, uint8_t width, uint64_t value) {
        WritePayload p;
        p.offset = offset;
        p.width = width;
        p.value = value;
        RC::Value code = RC::NOT_AVAILABLE;
        service->Write(h, -1, p, code);
        return code;
    }

    RegisterImage image;
    std::shared_ptr<QV_Devmem> service;
};

}  // namespace

TEST(QV_DevmemSetup, ReferenceIsTakenOnceAndInitializeNeedsAReadableFile) {
    testsupport::TempDir dir;
    QV_Devmem service;
    RC::Value code = RC::NO_ERROR;
    service.Set_Reference("io", nullptr, 0, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);

    auto first = std::make_shared<FACE::QV_Config>();
    service.Set_Reference("io", first, 0, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    // Through the other base: the same code, and the first reference stays.
    FACE::Configuration_Injectable::Injectable& injectable = service;
    injectable.Set_Reference("io", std::make_shared<FACE::QV_Config>(), 1, code);
    EXPECT_EQ(RC::NOT_AVAILABLE, code);
    EXPECT_EQ(2, first.use_count());

    service.Initialize(dir.file("missing.xml").c_str(), code);
    EXPECT_EQ(RC::INVALID_CONFIG, code);
    const std::string file = dir.write("io.xml", RegisterImage::ioDevicesXml({{"A", 0, 4}}));
    service.Initialize(file.c_str(), code);
    EXPECT_EQ(RC::NO_ERROR, code);
    service.Initialize(file.c_str(), code);
    EXPECT_EQ(RC::NO_ACTION, code);
}

TEST(QV_DevmemSetup, WithoutAConfigurationNothingCanBeOpened) {
    QV_Devmem service;
    RC::Value code = RC::NO_ERROR;
    service.Initialize("whatever.xml", code);
    EXPECT_EQ(RC::INVALID_CONFIG, code);
    CONNECTION_HANDLE_TYPE handle = 7;
    service.Open_Connection("A", -1, handle, code);
    EXPECT_EQ(RC::INVALID_CONFIG, code);
    EXPECT_EQ(-1, handle);
}

TEST(QV_DevmemSetup, BadOrMissingWindowConfigurationAddsNoConnection) {
    testsupport::TempDir dir;
    const std::string xml =
        "<QV_Configurations>"
        "<IODevice><Name>NoSize</Name><Parameters><BaseAddress>0x1000</BaseAddress>"
        "</Parameters></IODevice>"
        "<IODevice><Name>Junk</Name><Parameters><BaseAddress>0x1000zz</BaseAddress>"
        "<Size>16</Size></Parameters></IODevice>"
        "<IODevice><Name>Negative</Name><Parameters><BaseAddress>-4096</BaseAddress>"
        "<Size>16</Size></Parameters></IODevice>"
        "<IODevice><Name>Good</Name><Parameters><BaseAddress> 010000 </BaseAddress>"
        "<Size>0x10</Size></Parameters></IODevice>"
        "</QV_Configurations>";
    const std::string image = dir.write("mem.img", std::string(3 * 4096, '\0'));
    QV_Devmem service(image);
    RC::Value code = RC::NO_ERROR;
    service.Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service.Initialize(dir.write("io.xml", xml).c_str(), code);
    ASSERT_EQ(RC::NO_ERROR, code);

    for (const char* name : {"Unknown", "NoSize", "Junk", "Negative"}) {
        CONNECTION_HANDLE_TYPE handle = 5;
        service.Open_Connection(name, -1, handle, code);
        EXPECT_EQ(RC::INVALID_CONFIG, code) << name;
        EXPECT_EQ(-1, handle) << name;
    }
    // None of the refused names took a table slot. Octal and blanks are read
    // as numbers are.
    CONNECTION_HANDLE_TYPE handle = 5;
    service.Open_Connection("Good", -1, handle, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, handle);
    IO_PARAMETER_TRANSACTION_TYPE query{ulongParameter(0, 0), ulongParameter(1, 0)};
    service.Get_Connection_Configuration(handle, -1, query, code);
    uint32_t base = 0;
    FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE valueCode;
    query[0].value.ulong_value(base, valueCode);
    EXPECT_EQ(010000u, base);
}

TEST_F(QV_DevmemTest, SameNameGivesTheSameHandleAndOneMapping) {
    const CONNECTION_HANDLE_TYPE first = open("Window");
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, mappingsOf(image.imagePath()));
    EXPECT_EQ(first, open("Window"));
    EXPECT_EQ(1, mappingsOf(image.imagePath()));
    EXPECT_EQ(1, open("Page"));

    CONNECTION_STATUS_TYPE status;
    RC::Value code = RC::NO_ERROR;
    service->Get_Connection_Status(first, status, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(QV_Devmem::MAPPED, status.state);

    service.reset();  // the destructor removes every mapping
    EXPECT_EQ(0, mappingsOf(image.imagePath()));
}

TEST_F(QV_DevmemTest, OffsetZeroIsTheWindowsBaseAddress) {
    image.pokeAt(0x3010, 32, 0xA5A55A5Au);
    image.pokeAt(0x3000, 32, 0x12345678u);
    const CONNECTION_HANDLE_TYPE h = open("Window");
    ReadPayload p;
    p.reserved = 77;
    ASSERT_EQ(RC::NO_ERROR, read(h, 0, 32, p));
    EXPECT_EQ(0xA5A55A5Au, p.value);
    EXPECT_EQ(0, p.reserved);
}

TEST_F(QV_DevmemTest, AccessesEndAtTheWindowsEdge) {
    const CONNECTION_HANDLE_TYPE h = open("Window");  // 0x20 bytes
    image.pokeAt(0x3010 + 0x1C, 32, 0xDEADBEEFu);
    ReadPayload p;
    ASSERT_EQ(RC::NO_ERROR, read(h, 0x1C, 32, p));
    EXPECT_EQ(0xDEADBEEFu, p.value);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0x18, 64, p));
    ASSERT_EQ(RC::NO_ERROR, read(h, 0x1F, 8, p));

    p.value = 0x5555;
    p.reserved = 9;
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x1D, 32, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x20, 8, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x1C, 64, p));
    EXPECT_EQ(0x5555u, p.value);
    EXPECT_EQ(9, p.reserved);

    EXPECT_EQ(RC::NO_ACTION, write(h, 0x20, 8, 0xFF));
    EXPECT_EQ(RC::NO_ACTION, write(h, 0x1C, 64, ~0ull));
    EXPECT_EQ(0u, image.peekAt(0x3010 + 0x20, 64));
}

TEST_F(QV_DevmemTest, OffsetsThatWouldWrapThe32BitSumAreRefused) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    ReadPayload p;
    p.value = 0x1234;
    EXPECT_EQ(RC::NO_ACTION, read(h, 0xFFFFFFFEu, 32, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0xFFFFFFFCu, 64, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0xFFFFFFFFu, 8, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0xFFFFFFFCu, 32, p));
    EXPECT_EQ(0x1234u, p.value);
    EXPECT_EQ(RC::NO_ACTION, write(h, 0xFFFFFFFEu, 32, 1));
    EXPECT_EQ(RC::NO_ACTION, write(h, 0xFFFFFFF8u, 64, 1));
}

TEST_F(QV_DevmemTest, MisalignedAccessesAndUnknownWidthsAreRefused) {
    const CONNECTION_HANDLE_TYPE h = open("Wide");
    ReadPayload p;
    p.value = 0x77;
    EXPECT_EQ(RC::NO_ACTION, read(h, 0, 24, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 0, 0, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 1, 16, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 2, 32, p));
    EXPECT_EQ(RC::NO_ACTION, read(h, 4, 64, p));
    EXPECT_EQ(0x77u, p.value);
    EXPECT_EQ(RC::NO_ACTION, write(h, 0, 24, ~0ull));
    EXPECT_EQ(RC::NO_ACTION, write(h, 4, 64, ~0ull));
    EXPECT_EQ(0u, image.peekAt(0x5000, 64));
    EXPECT_EQ(0u, image.peekAt(0x5008, 64));
}

TEST_F(QV_DevmemTest, EachWidthTouchesExactlyItsBytes) {
    const CONNECTION_HANDLE_TYPE h = open("Wide");
    const uint64_t pattern = 0x8877665544332211ull;
    for (uint8_t width : {8, 16, 32, 64}) {
        const unsigned n = width / 8u;
        for (uint32_t i = 0; i < 0x20; i += 8) {
            image.pokeAt(0x5000 + i, 64, 0xAAAAAAAAAAAAAAAAull);
        }
        ASSERT_EQ(RC::NO_ERROR, write(h, 0x10, width, pattern)) << int(width);
        for (unsigned b = 0; b < 0x20; ++b) {
            const uint64_t expected =
                (b >= 0x10 && b < 0x10 + n) ? ((pattern >> (8 * (b - 0x10))) & 0xFF) : 0xAA;
            EXPECT_EQ(expected, image.peekAt(0x5000 + b, 8))
                << "width " << int(width) << " byte " << b;
        }
        ReadPayload p;
        p.value = ~0ull;
        ASSERT_EQ(RC::NO_ERROR, read(h, 0x10, width, p));
        const uint64_t mask = n == 8 ? ~0ull : ((1ull << (8 * n)) - 1);
        EXPECT_EQ(pattern & mask, p.value) << "width " << int(width) << " is zero-extended";
    }
}

TEST_F(QV_DevmemTest, ReopeningAfterReconfigurationMapsTheNewWindow) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    RC::Value code = RC::NO_ERROR;
    const IO_PARAMETER_TRANSACTION_TYPE bigger{ulongParameter(1, 0x100)};
    service->Configure_Connection_Parameters(h, -1, bigger, code);
    EXPECT_EQ(RC::NO_ACTION, code) << "parameters change only while closed";

    service->Close_Connection(h, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, mappingsOf(image.imagePath()));
    ReadPayload p;
    EXPECT_EQ(RC::CONNECTION_CLOSED, read(h, 0, 8, p));
    EXPECT_EQ(RC::CONNECTION_CLOSED, write(h, 0, 8, 0));
    service->Close_Connection(h, code);
    EXPECT_EQ(RC::CONNECTION_CLOSED, code);
    CONNECTION_STATUS_TYPE status;
    service->Get_Connection_Status(h, status, code);
    EXPECT_EQ(RC::CONNECTION_CLOSED, code);

    service->Configure_Connection_Parameters(h, -1, bigger, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(h, open("Window"));
    EXPECT_EQ(1, mappingsOf(image.imagePath()));
    image.pokeAt(0x3010 + 0xFC, 32, 0x600DF00Du);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0xFC, 32, p));
    EXPECT_EQ(0x600DF00Du, p.value);
    EXPECT_EQ(RC::NO_ACTION, read(h, 0x100, 8, p));

    // Moving the base takes effect the same way.
    service->Close_Connection(h, code);
    service->Configure_Connection_Parameters(h, -1, {ulongParameter(0, 0x2000)}, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    open("Window");
    image.pokeAt(0x2000, 32, 0xB0B0B0B0u);
    ASSERT_EQ(RC::NO_ERROR, read(h, 0, 32, p));
    EXPECT_EQ(0xB0B0B0B0u, p.value);
}

TEST_F(QV_DevmemTest, ParameterWalksWithBadEntriesChangeNothing) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    RC::Value code = RC::NO_ERROR;
    service->Close_Connection(h, code);

    service->Configure_Connection_Parameters(
        h, -1, {ulongParameter(1, 0x100), ulongParameter(7, 1)}, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);
    IO_PARAMETER_TYPE wrongType;
    wrongType.id = 0;
    wrongType.value.ulonglong_value(0x4000);
    service->Configure_Connection_Parameters(h, -1, {ulongParameter(1, 0x100), wrongType}, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);
    IO_PARAMETER_TRANSACTION_TYPE invalid{ulongParameter(1, 0x100)};
    invalid.invalidate();
    service->Configure_Connection_Parameters(h, -1, invalid, code);
    EXPECT_EQ(RC::NO_ERROR, code);

    IO_PARAMETER_TYPE untouched;
    untouched.id = 5;
    untouched.value.short_value(-3);
    IO_PARAMETER_TRANSACTION_TYPE query{ulongParameter(0, 0), untouched, ulongParameter(1, 0)};
    service->Get_Connection_Configuration(h, -1, query, code);
    EXPECT_EQ(RC::INVALID_PARAM, code);
    FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE valueCode;
    uint32_t base = 0;
    uint32_t size = 0;
    int16_t other = 0;
    query[0].value.ulong_value(base, valueCode);
    query[2].value.ulong_value(size, valueCode);
    query[1].value.short_value(other, valueCode);
    EXPECT_EQ(0x3010u, base);
    EXPECT_EQ(0x20u, size);
    EXPECT_EQ(-3, other);

    // A later entry for the same id wins.
    service->Configure_Connection_Parameters(
        h, -1, {ulongParameter(1, 0x40), ulongParameter(1, 0x30)}, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    service->Get_Connection_Configuration(h, -1, query, code);
    query[2].value.ulong_value(size, valueCode);
    EXPECT_EQ(0x30u, size);
}

TEST_F(QV_DevmemTest, HandlesOutsideTheTableAreRefusedByEveryConnectionOperation) {
    open("Window");
    for (CONNECTION_HANDLE_TYPE bad :
         {CONNECTION_HANDLE_TYPE{-1}, CONNECTION_HANDLE_TYPE{1}, CONNECTION_HANDLE_TYPE{1} << 40}) {
        RC::Value code = RC::NO_ERROR;
        ReadPayload p;
        EXPECT_EQ(RC::INVALID_PARAM, read(bad, 0, 8, p));
        EXPECT_EQ(RC::INVALID_PARAM, write(bad, 0, 8, 0));
        service->Close_Connection(bad, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        IO_PARAMETER_TRANSACTION_TYPE params{ulongParameter(1, 4)};
        service->Configure_Connection_Parameters(bad, -1, params, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        service->Get_Connection_Configuration(bad, -1, params, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        CONNECTION_STATUS_TYPE status;
        service->Get_Connection_Status(bad, status, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        FACE::IOSS::BUS_STATUS_TYPE bus = 3;
        service->Get_Bus_Status(bad, bus, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        service->Register_Notification_Event(bad, nullptr, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        service->Unregister_Notification_Event(bad, code);
        EXPECT_EQ(RC::INVALID_PARAM, code);
        service->Configure_Bus_Parameters(bad, -1, params, code);
        EXPECT_EQ(RC::NO_ACTION, code);
        service->Get_Bus_Configuration(bad, -1, params, code);
        EXPECT_EQ(RC::NO_ACTION, code);
    }
}

TEST_F(QV_DevmemTest, NotificationsAreNotOfferedAndBusStatusIsZero) {
    const CONNECTION_HANDLE_TYPE h = open("Window");
    RC::Value code = RC::NO_ERROR;
    service->Register_Notification_Event(h, nullptr, code);
    EXPECT_EQ(RC::NO_ACTION, code);
    FACE::IOSS::BUS_STATUS_TYPE bus = 3;
    service->Get_Bus_Status(h, bus, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, bus);
    service->Close_Connection(h, code);
    service->Register_Notification_Event(h, nullptr, code);
    EXPECT_EQ(RC::CONNECTION_CLOSED, code);
    service->Unregister_Notification_Event(h, code);
    EXPECT_EQ(RC::NO_ACTION, code);
}

TEST(QV_DevmemDevice, UnopenableDeviceLeavesAnOpenConnectionInTheFailedState) {
    RegisterImage image(windows());
    testsupport::TempDir dir;
    QV_Devmem service(dir.file("no-such-device"));
    RC::Value code = RC::NO_ERROR;
    service.Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service.Initialize(image.ioDevicesPath().c_str(), code);
    ASSERT_EQ(RC::NO_ERROR, code);

    CONNECTION_HANDLE_TYPE h = -1;
    code = RC::NOT_AVAILABLE;
    service.Open_Connection("Window", -1, h, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0, h);
    CONNECTION_STATUS_TYPE status;
    service.Get_Connection_Status(h, status, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(QV_Devmem::FAILED, status.state);

    ReadPayload p;
    p.width = 32;
    service.Read(h, -1, p, code);
    EXPECT_EQ(RC::INVALID_MODE, code);
    WritePayload w;
    w.width = 32;
    service.Write(h, -1, w, code);
    EXPECT_EQ(RC::INVALID_MODE, code);
    service.Close_Connection(h, code);
    EXPECT_EQ(RC::NO_ERROR, code);
}
