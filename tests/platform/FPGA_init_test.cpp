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
using testsupport::FpgaImageSpec;
using testsupport::FpgaSession;
using testsupport::RegisterImage;
namespace block = testsupport::fpgablock;
namespace RC = FACE::RETURN_CODE_TYPE;

namespace {

// The text InitFpga failed with, or "" when it succeeded. The facade is
// stopped again either way.
std::string initFailure(const std::shared_ptr<FACE::IOSS::Devmem::IO_Service>& service) {
    std::string failure;
    try {
        FpgaFace::Instance().InitFpga(service);
    } catch (const std::runtime_error& e) {
        failure = e.what();
        if (failure.empty()) {
            failure = "(empty)";
        }
    }
    FpgaFace::Instance().DoneFpga();
    return failure;
}

std::string initFailure(const FpgaImageSpec& spec) {
    RegisterImage image(spec);
    return initFailure(image.makeService());
}

FpgaImageSpec without(const std::string& name) {
    FpgaImageSpec spec;
    spec.omit.push_back(name);
    return spec;
}

uint32_t stateOf(FACE::IOSS::QV_Devmem& service, FACE::IOSS::CONNECTION_HANDLE_TYPE handle) {
    FACE::IOSS::CONNECTION_STATUS_TYPE status;
    RC::Value code = RC::NO_ERROR;
    service.Get_Connection_Status(handle, status, code);
    return code == RC::NO_ERROR ? status.state : 100u + code;
}

}  // namespace

TEST(FpgaInit, StartsOnAGoodImageAndReadsTheBlockCounts) {
    FpgaImageSpec spec;
    spec.uartCount = 0x0000000100000003ull;  // only the low 32 bits count
    spec.ptfeCount = 0xFFFFFFFF00000003ull;
    spec.pulseCount = 6;
    spec.periphCount = 0x8000000000000009ull;
    spec.systemCount = 123456789;
    RegisterImage image(spec);
    {
        FpgaSession session(image);
        FpgaFace& fpga = FpgaFace::Instance();
        EXPECT_EQ(3u, fpga.uartCount());
        EXPECT_EQ(3u, fpga.ptfeCount());
        EXPECT_EQ(6u, fpga.pulseCount());
        EXPECT_EQ(9u, fpga.periphCount());
        EXPECT_EQ(123456789u, fpga.fpga_get_SystemCount());
        // Five fixed blocks, then PTFE i and pulse generator i in turn.
        for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 11; ++h) {
            EXPECT_EQ(FACE::IOSS::QV_Devmem::MAPPED, stateOf(*session.service(), h)) << h;
        }
        EXPECT_EQ(100u + RC::INVALID_PARAM, stateOf(*session.service(), 11));
    }
    // Stopped: every block is closed and the facade holds nothing.
    EXPECT_EQ(0u, FpgaFace::Instance().fpga_get_SystemCount());
    EXPECT_EQ(0u, FpgaFace::Instance().ptfeCount());
}

TEST(FpgaInit, DoneClosesEveryConnectionAndAllowsAFreshStart) {
    RegisterImage first;
    auto service = first.makeService();
    FpgaFace::Instance().InitFpga(service);
    FpgaFace::Instance().DoneFpga();
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 9; ++h) {
        EXPECT_EQ(100u + RC::CONNECTION_CLOSED, stateOf(*service, h)) << h;
    }
    FpgaFace::Instance().DoneFpga();  // a second stop finds nothing to do

    FpgaImageSpec spec;
    spec.systemCount = 42;
    RegisterImage second(spec);
    FpgaSession session(second);
    EXPECT_EQ(42u, FpgaFace::Instance().fpga_get_SystemCount());
}

TEST(FpgaInit, ClockRateMustBeExact) {
    FpgaImageSpec spec;
    spec.clockRate = 58982401;
    EXPECT_THAT(initFailure(spec),
                EndsWith("]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, "
                         "expected 58982400"));
    spec.clockRate = 0x0000000103840000ull;  // right low word, wrong high word
    EXPECT_THAT(initFailure(spec), EndsWith("got 4353949696, expected 58982400"));
}

TEST(FpgaInit, NoPtfeBlocksOpensNoneAndStillChecksTheClock) {
    FpgaImageSpec spec;
    spec.ptfeCount = 0;
    RegisterImage image(spec);
    {
        FpgaSession session(image);
        EXPECT_EQ(100u + RC::INVALID_PARAM, stateOf(*session.service(), 5));
    }
    spec.clockRate = 1;
    EXPECT_THAT(initFailure(spec), EndsWith("clock rate mismatch, got 1, expected 58982400"));
}

TEST(FpgaInit, EachMissingBlockNamesItself) {
    const std::pair<std::string, std::string> cases[] = {
        {block::kProcessor, "FpgaFace() FAILED to open processor interface"},
        {block::kPeripheral, "FpgaFace() FAILED to open peripheral interface"},
        {block::kTimestamp, "FpgaFace() FAILED to open timestamp interface"},
        {block::kPpsSlave, "FpgaFace() FAILED to open PPS Slave interface"},
        {block::kPtpClock, "FpgaFace() FAILED to open PTP Clock interface"},
        {block::ptfe(0), "FpgaFace() FAILED to open PTFE 0 interface"},
        {block::pulseGen(0), "FpgaFace() FAILED to open PulseGen 0 interface"},
        {block::ptfe(1), "FpgaFace() FAILED to open PTFE 1 interface"},
        {block::pulseGen(1), "FpgaFace() FAILED to open PulseGen 1 interface"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(initFailure(without(c.first)), EndsWith("]:INVALID_CONFIG " + c.second))
            << c.first;
    }
}

TEST(FpgaInit, AWildPtfeCountEndsAtTheFirstMissingBlock) {
    FpgaImageSpec spec;
    spec.ptfeCount = 0xFFFFFFFFu;  // what an unprogrammed FPGA reads as
    spec.ptfeBlocks = 2;
    RegisterImage image(spec);
    auto service = image.makeService();
    try {
        FpgaFace::Instance().InitFpga(service);
        ADD_FAILURE() << "started with blocks missing";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(),
                    EndsWith("]:INVALID_CONFIG FpgaFace() FAILED to open PTFE 2 interface"));
    }
    // Blocks beyond those set up are out of range, not out of bounds.
    FpgaFace& fpga = FpgaFace::Instance();
    EXPECT_EQ(0xFFFFFFFFu, fpga.ptfeCount());
    fpga.fpga_ptfe_init(3, 1, 1);
    fpga.fpga_ptfe_soft_reset(3);
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(1000));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Ext_phase(3, 5));
    EXPECT_EQ(0u, fpga.getDtNcoPhase(0xFFFFFFFEu));
    fpga.fpga_ptfe_init(1, 9, 10);
    EXPECT_EQ(9u, image.peek(block::ptfe(1), 0x90, 32));
    FpgaFace::Instance().DoneFpga();
}

TEST(FpgaInit, BlocksOpenedBeforeAFailureStayOpenUntilDone) {
    RegisterImage image(without(block::kPpsSlave));
    auto service = image.makeService();
    EXPECT_THROW(FpgaFace::Instance().InitFpga(service), std::runtime_error);
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 3; ++h) {
        EXPECT_EQ(FACE::IOSS::QV_Devmem::MAPPED, stateOf(*service, h)) << h;
    }
    FpgaFace::Instance().DoneFpga();
    for (FACE::IOSS::CONNECTION_HANDLE_TYPE h = 0; h < 3; ++h) {
        EXPECT_EQ(100u + RC::CONNECTION_CLOSED, stateOf(*service, h)) << h;
    }
}

TEST(FpgaInit, UnmappableMemoryFailsAtTheFirstCount) {
    RegisterImage image;
    testsupport::TempDir dir;
    auto service = std::make_shared<FACE::IOSS::QV_Devmem>(dir.file("no-memory"));
    RC::Value code = RC::NO_ERROR;
    service->Set_Reference("io", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(image.ioDevicesPath().c_str(), code);
    ASSERT_EQ(RC::NO_ERROR, code);
    EXPECT_THAT(initFailure(service),
                EndsWith("]:INVALID_MODE FpgaFace() FAILED to read FPGA number of UARTs"));
}

TEST(FpgaInit, NoServiceIsRefusedAtTheFirstBlock) {
    EXPECT_THAT(initFailure(nullptr),
                EndsWith("]:INVALID_PARAM FpgaFace() FAILED to open processor interface"));
}

TEST(FpgaInit, CountRegisterBeyondTheWindowFailsItsRead) {
    FpgaImageSpec spec;
    spec.blocks = RegisterImage::standardLayout(2);
    spec.blocks[2].size = 0x18;  // timestamp block too short for the pulse count
    EXPECT_THAT(initFailure(spec),
                EndsWith("]:NO_ACTION FpgaFace() FAILED to read FPGA number of Pulses"));
}

TEST(FpgaIdentity, ReportsNameBuildPartAndRevision) {
    RegisterImage image;
    FpgaSession session(image);
    EXPECT_EQ("2024-03-15T13:42:00", FpgaFace::Instance().getFirmwareBuildStamp());
    EXPECT_EQ(
        "Zelmar FPGA Firmware:, CHRONAVL,Date YMD:,2024-03-15,Time  HHMM:,13:42,"
        "KPN:,1234-5678-9ABCRev:A001",
        FpgaFace::Instance().getFirmwareConfiguration());
}

TEST(FpgaIdentity, ZeroBytesEndTheirPieceAndNonBcdNibblesPrintInFull) {
    FpgaImageSpec spec;
    spec.identity = {0x41420000u,  // "AB" then zero bytes
                     testsupport::asciiWord("CDEF"),
                     0x1999A2B1u,
                     0xFFFF0959u,  // the high half is not part of the time
                     0x00313233u,  // starts with a zero byte: nothing of it shows
                     testsupport::asciiWord("5678"),
                     testsupport::asciiWord("9A"),
                     0u};
    RegisterImage image(spec);
    FpgaSession session(image);
    EXPECT_EQ("1999-102-111T09:59:00", FpgaFace::Instance().getFirmwareBuildStamp());
    EXPECT_EQ(
        "Zelmar FPGA Firmware:, ABCDEF,Date YMD:,1999-102-111,Time  HHMM:,09:59,"
        "KPN:,5678-9ARev:",
        FpgaFace::Instance().getFirmwareConfiguration());
}

TEST(FpgaIdentity, WithoutAServiceEveryWordReadsAsZero) {
    FpgaFace::Instance().DoneFpga();
    EXPECT_EQ("0000-00-00T00:00:00", FpgaFace::Instance().getFirmwareBuildStamp());
    EXPECT_EQ("Zelmar FPGA Firmware:, Date YMD:,0000-00-00,Time  HHMM:,00:00,KPN:,Rev:",
              FpgaFace::Instance().getFirmwareConfiguration());
}

TEST(FpgaInit, TheExampleIoDevicesFileNamesEveryWindow) {
    FpgaImageSpec spec;
    spec.ioDevicesFile = std::string(CHRONAVEL_SOURCE_DIR) + "/config/IODevices.xml";
    spec.ptfeCount = 2;
    RegisterImage image(spec);  // sparse: only the register pages take space
    EXPECT_EQ(9u, image.blocks().size());
    FpgaSession session(image);
    EXPECT_EQ("2024-03-15T13:42:00", FpgaFace::Instance().getFirmwareBuildStamp());
    FpgaFace::Instance().fpga_set_ptpClock_control(29, 0x5A);
    EXPECT_EQ(0x5Au, image.peek(block::kPtpClock, 0x74, 32));
    FpgaFace::Instance().fpga_ptfe_init(1, 7, 10);
    EXPECT_EQ(160u, image.peek(block::ptfe(1), 0x120, 32));
}
