#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/FPGA.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

using testsupport::FpgaSession;
using testsupport::RecordingIoService;
namespace block = testsupport::fpgablock;

namespace {

// Default image: 4 UARTs, 2 PTFE blocks, 8 pulse inputs, 16 peripheral
// control registers. PTFE 1 does not start on a page boundary.
class FpgaTiming : public ::testing::Test {
protected:
    testsupport::RegisterImage image;
    FpgaSession session{image, FpgaSession::RECORDING};
    FpgaFace& fpga = FpgaFace::Instance();

    // Accesses since the last call, as "R block@offset/width=value" (W for writes).
    std::vector<std::string> accesses() {
        std::vector<std::string> result;
        for (const RecordingIoService::Access& a : session.recorder()->accesses()) {
            char text[128];
            std::snprintf(text, sizeof text, "%c %s@0x%X/%u=0x%llX", a.write ? 'W' : 'R',
                          a.block.c_str(), a.offset, a.width,
                          static_cast<unsigned long long>(a.value));
            result.push_back(text);
        }
        session.recorder()->clear();
        return result;
    }
    uint64_t peek(const std::string& name, uint32_t offset, unsigned width = 32) {
        return image.peek(name, offset, width);
    }
};

typedef std::vector<std::string> Log;

}  // namespace

TEST_F(FpgaTiming, CounterAndTimestampsAreIndexed64BitReads) {
    image.poke(block::kTimestamp, 0x80, 64, 0x0123456789ABCDEFull);
    for (uint32_t i = 0; i < 9; ++i) {  // one past each count
        image.poke(block::kTimestamp, 0x200 + 8 * i, 64, 0x1000000000ull + i);
        image.poke(block::kTimestamp, 0x88 + 8 * i, 64, 0x2000000000ull + i);
    }
    accesses();
    EXPECT_EQ(0x0123456789ABCDEFull, fpga.fpga_get_SystemCount());
    EXPECT_EQ(Log{"R TimeStamp_Interface@0x80/64=0x123456789ABCDEF"}, accesses());
    EXPECT_EQ(58982400u, FpgaFace::fpga_timestamp_get_ticks_per_sec());
    EXPECT_EQ(0x1000000003ull, fpga.getUARTDataTimestampRaw(3));
    EXPECT_EQ(0x2000000007ull, fpga.getPulseTimestampRaw(7));
    EXPECT_EQ(0x2000000000ull, fpga.getPulseTimestampRaw(0));
    accesses();
    EXPECT_EQ(0u, fpga.getUARTDataTimestampRaw(4));
    EXPECT_EQ(0u, fpga.getPulseTimestampRaw(8));
    EXPECT_EQ(0u, fpga.getPulseTimestampRaw(-1));
    EXPECT_EQ(Log{}, accesses()) << "out-of-range indexes never reach the service";
}

TEST_F(FpgaTiming, UartDelayIsSaturatedTo32Bits) {
    image.poke(block::kTimestamp, 0x18C, 32, 0xEEEEEEEE);
    fpga.setUartDelay(1, 1234u);
    EXPECT_EQ(1234u, fpga.getUartDelay(1));
    EXPECT_EQ(0xEEEEEEEEu, peek(block::kTimestamp, 0x18C));
    const struct {
        double rate, factor1, factor2;
        uint32_t ticks;
    } cases[] = {
        {115200, 10, 2, 10240}, {0, 1, 1, 0xFFFFFFFFu},       {0, 0, 1, 0} /* NaN */,
        {-9600, 1, 1, 0},       {1, 1000, 1000, 0xFFFFFFFFu}, {7, 1, 1, 8426057u} /* truncated */,
    };
    for (const auto& c : cases) {
        fpga.setUartDelay(2, c.rate, c.factor1, c.factor2);
        EXPECT_EQ(c.ticks, peek(block::kTimestamp, 0x190)) << c.rate << " " << c.factor1;
    }
    accesses();
    fpga.setUartDelay(4, 5u);
    fpga.setUartDelay(4, 115200.0, 10.0, 2.0);
    EXPECT_EQ(0u, fpga.getUartDelay(4));
    EXPECT_EQ(Log{}, accesses());
}

TEST_F(FpgaTiming, ControlBanksAreBoundedByTheirCounts) {
    accesses();
    for (int32_t bad : {-1, 16}) fpga.fpga_set_periph_control(bad, 1);
    for (int32_t bad : {-1, 9}) fpga.fpga_set_ppsSlave_control(bad, 1);
    for (int32_t bad : {-1, 30}) fpga.fpga_set_ptpClock_control(bad, 1);
    EXPECT_EQ(0u, fpga.fpga_get_periph_control(16));
    EXPECT_EQ(0u, fpga.fpga_get_ppsSlave_control(9));
    EXPECT_EQ(0u, fpga.fpga_get_ptpClock_control(-1));
    EXPECT_EQ(0u, fpga.fpga_reset_periph_control(16));
    EXPECT_EQ(Log{}, accesses());

    fpga.fpga_set_periph_control(15, 0x11);
    fpga.fpga_set_ppsSlave_control(8, 0x22);
    fpga.fpga_set_ptpClock_control(29, 0x33);
    EXPECT_EQ((Log{"W Peripheral_Interface@0x3C/32=0x11", "W PpsSlave_Interface@0x20/32=0x22",
                   "W PtpClock_Interface@0x74/32=0x33"}),
              accesses());
    EXPECT_EQ(0x11u, fpga.fpga_get_periph_control(15));
    EXPECT_EQ(0x22u, fpga.fpga_get_ppsSlave_control(8));
    EXPECT_EQ(0x33u, fpga.fpga_get_ptpClock_control(29));
    EXPECT_EQ(0x22u, peek(block::kPpsSlave, 0x20));
    EXPECT_EQ(0x33u, peek(block::kPtpClock, 0x74));

    image.poke(block::kPeripheral, 8, 32, 5);
    accesses();
    EXPECT_EQ(5u, fpga.fpga_reset_periph_control(2));
    EXPECT_EQ((Log{"R Peripheral_Interface@0x8/32=0x5", "W Peripheral_Interface@0x8/32=0x0"}),
              accesses());
    EXPECT_EQ(0u, peek(block::kPeripheral, 8));
}

TEST_F(FpgaTiming, PtfeInitAndSoftResetWriteTheirSequences) {
    accesses();
    fpga.fpga_ptfe_init(1, 0xABCD, 1000);
    EXPECT_EQ((Log{"W PulseGen_Interface1@0x0/32=0x3E7", "W TimeStamp_Interface@0x40/32=0x1",
                   "W Ptfe_Interface1@0x90/32=0xABCD", "W Ptfe_Interface1@0x98/32=0xABCD",
                   "W Ptfe_Interface1@0x120/32=0xA0"}),
              accesses());
    EXPECT_EQ(999u, peek(block::pulseGen(1), 0));
    EXPECT_EQ(0xABCDu, peek(block::ptfe(1), 0x98));
    EXPECT_EQ(160u, peek(block::ptfe(1), 0x120));
    fpga.fpga_ptfe_init(0, 1, 0);
    EXPECT_EQ(0xFFFFFFFFu, peek(block::pulseGen(0), 0));

    for (uint32_t control : {0x6u, 0x7u}) {
        image.poke(block::ptfe(1), 0x80, 32, control);
        accesses();
        fpga.fpga_ptfe_soft_reset(1);
        char read[64];
        std::snprintf(read, sizeof read, "R Ptfe_Interface1@0x80/32=0x%X", control);
        EXPECT_EQ((Log{read, "W Ptfe_Interface1@0x80/32=0x7", "W Ptfe_Interface1@0x80/32=0x6"}),
                  accesses());
        EXPECT_EQ(0x6u, peek(block::ptfe(1), 0x80));
    }
    fpga.fpga_ptfe_init(2, 1, 1);
    fpga.fpga_ptfe_soft_reset(2);
    EXPECT_EQ(Log{}, accesses());
}

TEST_F(FpgaTiming, PtfeRegistersKeepTheirBitsAndStatusClearsOnRequest) {
    image.poke(block::ptfe(1), 0x00, 64, 0xFEDCBA9876543210ull);
    image.poke(block::ptfe(1), 0x10, 32, 99);
    image.poke(block::ptfe(1), 0x18, 32, 0x55);
    image.poke(block::ptfe(1), 0x20, 64, ~0ull);
    image.poke(block::ptfe(1), 0x30, 64, ~0ull);
    image.poke(block::ptfe(1), 0x38, 32, 0xCAFE);
    EXPECT_EQ(0xFEDCBA9876543210ull, fpga.getPtfeFirmwareId(1));
    EXPECT_EQ(100u, fpga.getPtfeMeasuredFreqEstimate(1));
    EXPECT_EQ(0xFFFFFFFFFFFull, fpga.getDfNcoRate(1));
    EXPECT_EQ(0xFFFFFFFFFFull, fpga.getDtNcoPhase(1));
    EXPECT_EQ(0xCAFEu, fpga.getDtCycles(1));
    EXPECT_EQ(0x55u, fpga.getPtfeStatus(1));
    EXPECT_EQ(0x55u, peek(block::ptfe(1), 0x18));
    accesses();
    EXPECT_EQ(0x55u, fpga.getAndClearPtfeStatus(1));
    EXPECT_EQ((Log{"R Ptfe_Interface1@0x18/32=0x55", "W Ptfe_Interface1@0x18/32=0x0"}), accesses());
    fpga.setPtfeDefaultNcoRate(1, 0x0123456789ABCDEFull);
    EXPECT_EQ(0x0123456789ABCDEFull, peek(block::ptfe(1), 0xC8, 64));

    accesses();
    EXPECT_EQ(0u, fpga.getPtfeFirmwareId(2));
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(2));
    EXPECT_EQ(0u, fpga.getAndClearPtfeStatus(2));
    EXPECT_EQ(0u, fpga.getDfNcoRate(2) + fpga.getDtNcoPhase(2) + fpga.getDtCycles(2));
    fpga.setPtfeDefaultNcoRate(2, 1);
    EXPECT_EQ(Log{}, accesses());
}

TEST_F(FpgaTiming, UnreadableRegistersGiveFailureValuesAndStillGetWritten) {
    FACE::IOSS::CONNECTION_HANDLE_TYPE handle = -1;  // reopening an open name: its handle
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    session.service()->Open_Connection(block::ptfe(0).c_str(), -1, handle, code);
    session.service()->Close_Connection(handle, code);
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(0));
    accesses();
    fpga.fpga_ptfe_soft_reset(0);
    EXPECT_EQ(0u, fpga.getAndClearPtfeStatus(0));
    EXPECT_EQ((Log{"R Ptfe_Interface0@0x80/32=0x0", "W Ptfe_Interface0@0x80/32=0x1",
                   "W Ptfe_Interface0@0x80/32=0x0", "R Ptfe_Interface0@0x18/32=0x0",
                   "W Ptfe_Interface0@0x18/32=0x0"}),
              accesses());
}

TEST_F(FpgaTiming, PhaseAdjustmentsWrapOnceByThePeriod) {
    fpga.fpga_ptfe_init(0, 0, 1000);
    const struct {
        uint32_t phase;
        int32_t delta;
        uint32_t result;
    } cases[] = {
        {990, 20, 10}, {5, -10, 995}, {0, 2500, 1500} /* one correction only */,
        {999, 1, 0},   {0, -1, 999},  {0x7FFFFFFF, 1, 0x80000000u + 1000u} /* signed sum */};
    for (const auto& c : cases) {
        fpga.fpga_pulsegen_set_Int_phase(0, c.phase);
        fpga.fpga_pulsegen_set_Ext_phase(0, c.phase);
        EXPECT_EQ(c.result, fpga.fpga_pulsegen_adjust_Int_phase(0, c.delta)) << c.phase;
        EXPECT_EQ(c.result, peek(block::pulseGen(0), 0x04));
        EXPECT_EQ(c.phase, fpga.fpga_pulsegen_get_Ext_phase(0)) << "Int leaves Ext alone";
        EXPECT_EQ(c.result, fpga.fpga_pulsegen_adjust_Ext_phase(0, c.delta));
        EXPECT_EQ(c.result, fpga.fpga_pulsegen_get_Ext_phase(0));
        EXPECT_EQ(c.result, fpga.fpga_pulsegen_get_Int_phase(0));
    }
    // Without a period (no fpga_ptfe_init) the plain sum is written.
    fpga.fpga_pulsegen_set_Int_phase(1, 5);
    EXPECT_EQ(0xFFFFFFFBu, fpga.fpga_pulsegen_adjust_Int_phase(1, -10));
    EXPECT_EQ(0xFFFFFFFBu, peek(block::pulseGen(1), 0x04));
    accesses();
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Int_phase(2, 1));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Ext_phase(2, 1));
    EXPECT_EQ(Log{}, accesses());
}

TEST(FpgaUnstarted, EveryOperationGivesItsFailureValue) {
    FpgaFace& fpga = FpgaFace::Instance();
    EXPECT_EQ(0u, fpga.fpga_get_SystemCount());
    EXPECT_EQ(0u, fpga.getUARTDataTimestampRaw(0) + fpga.getPulseTimestampRaw(0));
    EXPECT_EQ(0u, fpga.fpga_get_ppsSlave_control(0) + fpga.fpga_get_ptpClock_control(0));
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(0));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Int_phase(0, 5));
}
