#include "platform/FPGA.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "FACE/QV_Config.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"
#include "support/TempDir.h"

using ::testing::EndsWith;
using testsupport::FpgaImageContents;
using testsupport::FpgaSession;
using testsupport::RegisterImage;
namespace block = testsupport::fpgablock;
namespace RC = FACE::RETURN_CODE_TYPE;

namespace {

// The text InitFpga failed with, or "" when it started. Stopped either way.
std::string initFailure(const std::shared_ptr<FACE::IOSS::Devmem::IO_Service>& service) {
    std::string failure;
    try {
        FpgaFace::Instance().InitFpga(service);
    } catch (const std::runtime_error& e) {
        failure = e.what();
    }
    FpgaFace::Instance().DoneFpga();
    return failure;
}

std::string initFailure(const FpgaImageContents& contents) {
    RegisterImage image(contents);
    return initFailure(image.makeService());
}

// The connection's state, or 100 + the code that refused the question.
uint32_t stateOf(FACE::IOSS::QV_Devmem& service, FACE::IOSS::CONNECTION_HANDLE_TYPE handle) {
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    RC::Value code = RC::NO_ERROR;
    service.Get_Connection_Status(handle, status, code);
    return code == RC::NO_ERROR ? status.state : 100u + code;
}

}  // namespace

TEST(FpgaInit, StartsOnAGoodImageAndStopsCompletely) {
    FpgaImageContents contents;
    contents.uartCount = 0x0000000100000003ull;  // only the low 32 bits count
    contents.ptfeCount = 0xFFFFFFFF00000003ull;
    contents.periphCount = 0x8000000000000009ull;
    contents.systemCount = 123456789;
    RegisterImage image(contents);
    auto service = image.makeService();
    FpgaFace& fpga = FpgaFace::Instance();
    fpga.InitFpga(service);
    EXPECT_EQ(3u, fpga.uartCount());
    EXPECT_EQ(3u, fpga.ptfeCount());
    EXPECT_EQ(8u, fpga.pulseCount());
    EXPECT_EQ(9u, fpga.periphCount());
    EXPECT_EQ(123456789u, fpga.fpga_get_SystemCount());
    // Five fixed blocks, then PTFE i and pulse generator i in turn.
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 11; ++h) {
        EXPECT_EQ(FACE::IOSS::QV_Devmem::MAPPED, stateOf(*service, h)) << h;
    }
    EXPECT_EQ(100u + RC::INVALID_PARAM, stateOf(*service, 11));

    fpga.DoneFpga();
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 11; ++h) {
        EXPECT_EQ(100u + RC::CONNECTION_CLOSED, stateOf(*service, h)) << h;
    }
    EXPECT_EQ(0u, fpga.fpga_get_SystemCount());
    EXPECT_EQ(0u, fpga.ptfeCount());
    EXPECT_EQ(1, service.use_count()) << "the facade let go of the service";
    fpga.DoneFpga();  // nothing left to do

    contents.systemCount = 42;  // and it starts again on a fresh image
    RegisterImage second(contents);
    FpgaSession session(second);
    EXPECT_EQ(42u, fpga.fpga_get_SystemCount());
}

TEST(FpgaInit, EveryFailureIsThrownWithItsCodeAndText) {
    auto missing = [](const std::string& name) {
        FpgaImageContents contents;
        contents.omit.push_back(name);
        return contents;
    };
    FpgaImageContents badClock;
    badClock.clockRate = 58982401;
    FpgaImageContents badHighWord;
    badHighWord.clockRate = 0x0000000103840000ull;
    FpgaImageContents noPtfeBadClock;
    noPtfeBadClock.ptfeCount = 0;
    noPtfeBadClock.clockRate = 1;
    FpgaImageContents shortTimestamp;
    shortTimestamp.blocks = RegisterImage::standardLayout(2);
    shortTimestamp.blocks[2].size = 0x18;  // ends before the pulse count
    const std::pair<FpgaImageContents, std::string> cases[] = {
        {badClock,
         "INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400"},
        {badHighWord,
         "INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 4353949696, expected 58982400"},
        {noPtfeBadClock,
         "INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 1, expected 58982400"},
        {shortTimestamp, "NO_ACTION FpgaFace() FAILED to read FPGA number of Pulses"},
        {missing(block::kProcessor),
         "INVALID_CONFIG FpgaFace() FAILED to open processor interface"},
        {missing(block::kPeripheral),
         "INVALID_CONFIG FpgaFace() FAILED to open peripheral interface"},
        {missing(block::kTimestamp),
         "INVALID_CONFIG FpgaFace() FAILED to open timestamp interface"},
        {missing(block::kPpsSlave), "INVALID_CONFIG FpgaFace() FAILED to open PPS Slave interface"},
        {missing(block::kPtpClock), "INVALID_CONFIG FpgaFace() FAILED to open PTP Clock interface"},
        {missing(block::ptfe(0)), "INVALID_CONFIG FpgaFace() FAILED to open PTFE 0 interface"},
        {missing(block::pulseGen(1)),
         "INVALID_CONFIG FpgaFace() FAILED to open PulseGen 1 interface"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(initFailure(c.first), EndsWith("]:" + c.second));
    }
    EXPECT_THAT(initFailure(nullptr),
                EndsWith("]:INVALID_PARAM FpgaFace() FAILED to open processor interface"));

    RegisterImage image;
    testsupport::TempDir dir;
    auto unmappable = std::make_shared<FACE::IOSS::QV_Devmem>(dir.file("no-memory"));
    RC::Value code = RC::NO_ERROR;
    unmappable->Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    unmappable->Initialize(image.ioDevicesPath().c_str(), code);
    EXPECT_THAT(initFailure(unmappable),
                EndsWith("]:INVALID_MODE FpgaFace() FAILED to read FPGA number of UARTs"));
}

TEST(FpgaInit, BlocksOpenedBeforeAFailureStayOpenUntilDone) {
    FpgaImageContents contents;
    contents.omit.push_back(block::kPpsSlave);
    RegisterImage image(contents);
    auto service = image.makeService();
    EXPECT_THROW(FpgaFace::Instance().InitFpga(service), std::runtime_error);
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 3; ++h) {
        EXPECT_EQ(FACE::IOSS::QV_Devmem::MAPPED, stateOf(*service, h)) << h;
    }
    FpgaFace::Instance().DoneFpga();
    EXPECT_EQ(100u + RC::CONNECTION_CLOSED, stateOf(*service, 0));
}

TEST(FpgaInit, AWildPtfeCountEndsAtTheFirstMissingBlock) {
    FpgaImageContents contents;
    contents.ptfeCount = 0xFFFFFFFFu;  // what an unprogrammed FPGA reads as
    contents.ptfeBlocks = 2;
    RegisterImage image(contents);
    EXPECT_THROW(FpgaFace::Instance().InitFpga(image.makeService()), std::runtime_error);
    // Blocks beyond those set up are out of range, not out of bounds.
    FpgaFace& fpga = FpgaFace::Instance();
    fpga.fpga_ptfe_init(3, 1, 1);
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(1000));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Ext_phase(3, 5));
    fpga.fpga_ptfe_init(1, 9, 10);
    EXPECT_EQ(9u, image.peek(block::ptfe(1), 0x90, 32));
    fpga.DoneFpga();
}

TEST(FpgaInit, TheExampleIoDevicesFileNamesEveryWindow) {
    FpgaImageContents contents;
    contents.ioDevicesFile = std::string(CHRONAVEL_SOURCE_DIR) + "/config/IODevices.xml";
    RegisterImage image(contents);  // sparse: only the register pages take space
    EXPECT_EQ(9u, image.blocks().size());
    FpgaSession session(image);
    FpgaFace::Instance().fpga_set_ptpClock_control(29, 0x5A);
    EXPECT_EQ(0x5Au, image.peek(block::kPtpClock, 0x74, 32));
    FpgaFace::Instance().fpga_ptfe_init(1, 7, 10);
    EXPECT_EQ(160u, image.peek(block::ptfe(1), 0x120, 32));
}

TEST(FpgaIdentity, NamesFirmwareBuildPartAndRevision) {
    FpgaFace& fpga = FpgaFace::Instance();
    EXPECT_EQ("0000-00-00T00:00:00", fpga.getFirmwareBuildStamp()) << "no service: all zero";
    EXPECT_EQ("Zelmar FPGA Firmware:, Date YMD:,0000-00-00,Time  HHMM:,00:00,KPN:,Rev:",
              fpga.getFirmwareConfiguration());
    {
        RegisterImage image;
        FpgaSession session(image);
        EXPECT_EQ("2024-03-15T13:42:00", fpga.getFirmwareBuildStamp());
        EXPECT_EQ(
            "Zelmar FPGA Firmware:, CHRONAVL,Date YMD:,2024-03-15,Time  HHMM:,13:42,"
            "KPN:,1234-5678-9ABCRev:A001",
            fpga.getFirmwareConfiguration());
    }
    FpgaImageContents contents;
    contents.identity = {0x41420000u,  // "AB" and zero bytes
                         testsupport::asciiWord("CDEF"),
                         0x1999A2B1u,  // not BCD
                         0xFFFF0959u,  // the high half is not part of the time
                         0x00313233u,  // leading zero byte: nothing of it shows
                         testsupport::asciiWord("5678"),
                         testsupport::asciiWord("9A"),
                         0u};
    RegisterImage image(contents);
    FpgaSession session(image);
    EXPECT_EQ("1999-102-111T09:59:00", fpga.getFirmwareBuildStamp());
    EXPECT_EQ(
        "Zelmar FPGA Firmware:, ABCDEF,Date YMD:,1999-102-111,Time  HHMM:,09:59,"
        "KPN:,5678-9ARev:",
        fpga.getFirmwareConfiguration());
}
