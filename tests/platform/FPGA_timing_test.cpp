#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/FPGA.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

using testsupport::FpgaSession;
using testsupport::RecordingIoService;
using testsupport::RegisterImage;
namespace block = testsupport::fpgablock;

namespace {

// Default image: 4 UARTs, 2 PTFE blocks, 8 pulse inputs, 16 peripheral
// control registers. PTFE 1 does not start on a page boundary.
class FpgaTiming : public ::testing::Test {
protected:
    RegisterImage image;
    FpgaSession session{image, FpgaSession::RECORDING};
    FpgaFace& fpga = FpgaFace::Instance();

    RecordingIoService& recorder() { return *session.recorder(); }

    // Writes recorded since the last clear, as "block@offset/width=value".
    std::vector<std::string> writes() {
        std::vector<std::string> result;
        for (const RecordingIoService::Access& a : recorder().writes()) {
            result.push_back(describe(a));
        }
        return result;
    }

    static std::string describe(const RecordingIoService::Access& a) {
        char text[128];
        std::snprintf(text, sizeof text, "%s@0x%X/%u=0x%llX", a.block.c_str(), a.offset, a.width,
                      static_cast<unsigned long long>(a.value));
        return text;
    }

    // Fills a register's neighbourhood with a marker so that stray writes show.
    void mark(const std::string& name, uint32_t from, uint32_t to) {
        for (uint32_t o = from; o < to; o += 4) {
            image.poke(name, o, 32, 0xEEEEEEEEu);
        }
    }
};

}  // namespace

TEST_F(FpgaTiming, SystemCountIsOne64BitReadOfTheCounter) {
    image.poke(block::kTimestamp, 0x80, 64, 0x0123456789ABCDEFull);
    recorder().clear();
    EXPECT_EQ(0x0123456789ABCDEFull, fpga.fpga_get_SystemCount());
    ASSERT_EQ(1u, recorder().accesses().size());
    EXPECT_EQ(64u, recorder().accesses()[0].width);
    EXPECT_EQ(58982400u, FpgaFace::fpga_timestamp_get_ticks_per_sec());
}

TEST_F(FpgaTiming, EventTimestampsAreIndexedAndBounded) {
    for (uint32_t u = 0; u < 4; ++u) {
        image.poke(block::kTimestamp, 0x200 + 8 * u, 64, 0x1000000000ull + u);
    }
    for (uint32_t p = 0; p < 8; ++p) {
        image.poke(block::kTimestamp, 0x88 + 8 * p, 64, 0x2000000000ull + p);
    }
    for (uint32_t u = 0; u < 4; ++u) {
        EXPECT_EQ(0x1000000000ull + u, fpga.getUARTDataTimestampRaw(u));
    }
    for (int32_t p = 0; p < 8; ++p) {
        EXPECT_EQ(0x2000000000ull + static_cast<uint32_t>(p), fpga.getPulseTimestampRaw(p));
    }
    recorder().clear();
    image.poke(block::kTimestamp, 0x200 + 8 * 4, 64, 77);
    image.poke(block::kTimestamp, 0x88 + 8 * 8, 64, 77);
    EXPECT_EQ(0u, fpga.getUARTDataTimestampRaw(4));
    EXPECT_EQ(0u, fpga.getPulseTimestampRaw(8));
    EXPECT_EQ(0u, fpga.getPulseTimestampRaw(-1));
    EXPECT_TRUE(recorder().accesses().empty()) << "out-of-range indexes never reach the service";
}

TEST_F(FpgaTiming, UartDelayIs32BitsAt0x180PerUart) {
    mark(block::kTimestamp, 0x180, 0x1A0);
    fpga.setUartDelay(1, 1234u);
    EXPECT_EQ(1234u, image.peek(block::kTimestamp, 0x188, 32));
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kTimestamp, 0x18C, 32));
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kTimestamp, 0x184, 32));
    EXPECT_EQ(1234u, fpga.getUartDelay(1));
    recorder().clear();
    fpga.setUartDelay(4, 5u);
    fpga.setUartDelay(4, 115200.0, 10.0, 2.0);
    EXPECT_EQ(0u, fpga.getUartDelay(4));
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST_F(FpgaTiming, UartDelayFromRateSaturatesTo32Bits) {
    struct Case {
        double rate, factor1, factor2;
        uint32_t expected;
    };
    const Case cases[] = {
        {115200, 10, 2, 10240},        // 512 ticks per bit, 20 bits
        {0, 1, 1, 4294967295u},        // infinity
        {0, 0, 1, 0},                  // NaN
        {-9600, 1, 1, 0},              // negative
        {1, 1000, 1000, 4294967295u},  // beyond 32 bits
        {3, 1, 1, 19660800u},
        {7, 1, 1, 8426057u},  // truncated, not rounded
    };
    for (const Case& c : cases) {
        fpga.setUartDelay(2, c.rate, c.factor1, c.factor2);
        EXPECT_EQ(c.expected, image.peek(block::kTimestamp, 0x190, 32))
            << c.rate << " " << c.factor1 << " " << c.factor2;
    }
}

TEST_F(FpgaTiming, ControlBanksAreBoundedByTheirCounts) {
    mark(block::kPeripheral, 0, 0x48);
    mark(block::kPpsSlave, 0, 0x30);
    mark(block::kPtpClock, 0, 0x80);
    fpga.fpga_set_periph_control(15, 0x11);
    fpga.fpga_set_ppsSlave_control(8, 0x22);
    fpga.fpga_set_ptpClock_control(29, 0x33);
    fpga.fpga_set_ptpClock_control(0, 0x44);
    EXPECT_EQ((std::vector<std::string>{
                  "Peripheral_Interface@0x3C/32=0x11", "PpsSlave_Interface@0x20/32=0x22",
                  "PtpClock_Interface@0x74/32=0x33", "PtpClock_Interface@0x0/32=0x44"}),
              writes());
    EXPECT_EQ(0x11u, image.peek(block::kPeripheral, 0x3C, 32));
    EXPECT_EQ(0x22u, image.peek(block::kPpsSlave, 0x20, 32));
    EXPECT_EQ(0x33u, image.peek(block::kPtpClock, 0x74, 32));
    EXPECT_EQ(0x11u, fpga.fpga_get_periph_control(15));
    EXPECT_EQ(0x22u, fpga.fpga_get_ppsSlave_control(8));
    EXPECT_EQ(0x33u, fpga.fpga_get_ptpClock_control(29));

    recorder().clear();
    fpga.fpga_set_periph_control(16, 1);
    fpga.fpga_set_periph_control(-1, 1);
    fpga.fpga_set_ppsSlave_control(9, 1);
    fpga.fpga_set_ppsSlave_control(-1, 1);
    fpga.fpga_set_ptpClock_control(30, 1);
    fpga.fpga_set_ptpClock_control(-1, 1);
    EXPECT_EQ(0u, fpga.fpga_get_periph_control(16));
    EXPECT_EQ(0u, fpga.fpga_get_ppsSlave_control(9));
    EXPECT_EQ(0u, fpga.fpga_get_ptpClock_control(-1));
    EXPECT_EQ(0u, fpga.fpga_reset_periph_control(16));
    EXPECT_TRUE(recorder().accesses().empty());
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kPeripheral, 0x40, 32));
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kPpsSlave, 0x24, 32));
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kPtpClock, 0x78, 32));
}

TEST_F(FpgaTiming, ResetPeriphControlReadsThenClears) {
    image.poke(block::kPeripheral, 8, 32, 5);
    recorder().clear();
    EXPECT_EQ(5u, fpga.fpga_reset_periph_control(2));
    EXPECT_EQ(0u, image.peek(block::kPeripheral, 8, 32));
    ASSERT_EQ(2u, recorder().accesses().size());
    EXPECT_FALSE(recorder().accesses()[0].write);
    EXPECT_TRUE(recorder().accesses()[1].write);
}

TEST_F(FpgaTiming, PtfeInitWritesItsSequenceInOrder) {
    recorder().clear();
    fpga.fpga_ptfe_init(1, 0xABCD, 1000);
    EXPECT_EQ((std::vector<std::string>{
                  "PulseGen_Interface1@0x0/32=0x3E7", "TimeStamp_Interface@0x40/32=0x1",
                  "Ptfe_Interface1@0x90/32=0xABCD", "Ptfe_Interface1@0x98/32=0xABCD",
                  "Ptfe_Interface1@0x120/32=0xA0"}),
              writes());
    EXPECT_EQ(999u, image.peek(block::pulseGen(1), 0, 32));
    EXPECT_EQ(1u, image.peek(block::kTimestamp, 0x40, 32));
    EXPECT_EQ(0xABCDu, image.peek(block::ptfe(1), 0x90, 32));
    EXPECT_EQ(0xABCDu, image.peek(block::ptfe(1), 0x98, 32));
    EXPECT_EQ(160u, image.peek(block::ptfe(1), 0x120, 32));
    EXPECT_EQ(0u, image.peek(block::ptfe(0), 0x90, 32));

    fpga.fpga_ptfe_init(0, 1, 0);
    EXPECT_EQ(0xFFFFFFFFu, image.peek(block::pulseGen(0), 0, 32));

    recorder().clear();
    fpga.fpga_ptfe_init(2, 1, 1);
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST_F(FpgaTiming, SoftResetSetsThenClearsBitZero) {
    for (uint32_t control : {0x6u, 0x7u}) {
        image.poke(block::ptfe(1), 0x80, 32, control);
        recorder().clear();
        fpga.fpga_ptfe_soft_reset(1);
        EXPECT_EQ((std::vector<std::string>{"Ptfe_Interface1@0x80/32=0x7",
                                            "Ptfe_Interface1@0x80/32=0x6"}),
                  writes());
        EXPECT_EQ(0x6u, image.peek(block::ptfe(1), 0x80, 32));
    }
    recorder().clear();
    fpga.fpga_ptfe_soft_reset(2);
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST_F(FpgaTiming, SoftResetOfAnUnreadableControlWritesOneThenZero) {
    // Reopening an open name returns its handle without a new mapping.
    FACE::IOSS::CONNECTION_HANDLE_TYPE handle = -1;
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    session.service()->Open_Connection(block::ptfe(0).c_str(), -1, handle, code);
    session.service()->Close_Connection(handle, code);
    recorder().clear();
    fpga.fpga_ptfe_soft_reset(0);
    EXPECT_EQ(
        (std::vector<std::string>{"Ptfe_Interface0@0x80/32=0x1", "Ptfe_Interface0@0x80/32=0x0"}),
        writes());
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(0)) << "failed read gives 1";
    recorder().clear();
    EXPECT_EQ(0u, fpga.getAndClearPtfeStatus(0));
    EXPECT_EQ(std::vector<std::string>{"Ptfe_Interface0@0x18/32=0x0"}, writes())
        << "the clear is attempted after a failed read";
}

TEST_F(FpgaTiming, StatusIsReadThenClearedOnRequest) {
    image.poke(block::ptfe(1), 0x18, 32, 0x55);
    EXPECT_EQ(0x55u, fpga.getPtfeStatus(1));
    EXPECT_EQ(0x55u, image.peek(block::ptfe(1), 0x18, 32));
    recorder().clear();
    EXPECT_EQ(0x55u, fpga.getAndClearPtfeStatus(1));
    EXPECT_EQ(0u, image.peek(block::ptfe(1), 0x18, 32));
    ASSERT_EQ(2u, recorder().accesses().size());
    EXPECT_FALSE(recorder().accesses()[0].write);
    EXPECT_EQ("Ptfe_Interface1@0x18/32=0x0", describe(recorder().accesses()[1]));
    recorder().clear();
    EXPECT_EQ(0u, fpga.getAndClearPtfeStatus(2));
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST_F(FpgaTiming, PtfeMeasurementsKeepTheirDocumentedBits) {
    image.poke(block::ptfe(1), 0x00, 64, 0xFEDCBA9876543210ull);
    image.poke(block::ptfe(1), 0x10, 32, 99);
    image.poke(block::ptfe(1), 0x20, 64, ~0ull);
    image.poke(block::ptfe(1), 0x30, 64, ~0ull);
    image.poke(block::ptfe(1), 0x38, 32, 0xCAFE);
    EXPECT_EQ(0xFEDCBA9876543210ull, fpga.getPtfeFirmwareId(1));
    EXPECT_EQ(100u, fpga.getPtfeMeasuredFreqEstimate(1));
    EXPECT_EQ(0xFFFFFFFFFFFull, fpga.getDfNcoRate(1));
    EXPECT_EQ(0xFFFFFFFFFFull, fpga.getDtNcoPhase(1));
    EXPECT_EQ(0xCAFEu, fpga.getDtCycles(1));
    image.poke(block::ptfe(1), 0x10, 32, 0xFFFFFFFFu);
    EXPECT_EQ(0u, fpga.getPtfeMeasuredFreqEstimate(1)) << "the estimate wraps like the register";

    fpga.setPtfeDefaultNcoRate(1, 0x0123456789ABCDEFull);
    EXPECT_EQ(0x0123456789ABCDEFull, image.peek(block::ptfe(1), 0xC8, 64));

    recorder().clear();
    EXPECT_EQ(0u, fpga.getPtfeFirmwareId(2));
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(2));
    EXPECT_EQ(0u, fpga.getPtfeStatus(2));
    EXPECT_EQ(0u, fpga.getDfNcoRate(2));
    EXPECT_EQ(0u, fpga.getDtNcoPhase(2));
    EXPECT_EQ(0u, fpga.getDtCycles(2));
    fpga.setPtfeDefaultNcoRate(2, 1);
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST_F(FpgaTiming, PhaseAdjustmentsWrapOnceByThePeriod) {
    fpga.fpga_ptfe_init(0, 0, 1000);
    fpga.fpga_pulsegen_set_Int_phase(0, 990);
    EXPECT_EQ(990u, image.peek(block::pulseGen(0), 0x04, 32));
    EXPECT_EQ(10u, fpga.fpga_pulsegen_adjust_Int_phase(0, 20));
    EXPECT_EQ(10u, image.peek(block::pulseGen(0), 0x04, 32));
    fpga.fpga_pulsegen_set_Int_phase(0, 5);
    EXPECT_EQ(995u, fpga.fpga_pulsegen_adjust_Int_phase(0, -10));
    EXPECT_EQ(995u, fpga.fpga_pulsegen_get_Int_phase(0));
    // One correction only, not a remainder.
    fpga.fpga_pulsegen_set_Int_phase(0, 0);
    EXPECT_EQ(1500u, fpga.fpga_pulsegen_adjust_Int_phase(0, 2500));

    fpga.fpga_pulsegen_set_Ext_phase(0, 999);
    EXPECT_EQ(999u, image.peek(block::pulseGen(0), 0x08, 32));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Ext_phase(0, 1));
    EXPECT_EQ(0u, image.peek(block::pulseGen(0), 0x08, 32));
    EXPECT_EQ(999u, fpga.fpga_pulsegen_adjust_Ext_phase(0, -1));
    EXPECT_EQ(999u, fpga.fpga_pulsegen_get_Ext_phase(0));
    EXPECT_EQ(1500u, image.peek(block::pulseGen(0), 0x04, 32)) << "Ext leaves Int alone";

    // The sum is a signed 32-bit one: past INT32_MAX it turns negative.
    fpga.fpga_pulsegen_set_Int_phase(0, 0x7FFFFFFFu);
    EXPECT_EQ(0x80000000u + 1000u, fpga.fpga_pulsegen_adjust_Int_phase(0, 1));
}

TEST_F(FpgaTiming, PhaseWithoutAPeriodIsThePlainSum) {
    fpga.fpga_pulsegen_set_Int_phase(1, 5);
    EXPECT_EQ(0xFFFFFFFBu, fpga.fpga_pulsegen_adjust_Int_phase(1, -10));
    EXPECT_EQ(0xFFFFFFFBu, image.peek(block::pulseGen(1), 0x04, 32));
    recorder().clear();
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Int_phase(2, 1));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Ext_phase(2, 1));
    fpga.fpga_pulsegen_set_Ext_phase(2, 1);
    EXPECT_EQ(0u, fpga.fpga_pulsegen_get_Int_phase(2));
    EXPECT_TRUE(recorder().accesses().empty());
}

TEST(FpgaUnstarted, EveryOperationGivesItsFailureValue) {
    FpgaFace& fpga = FpgaFace::Instance();
    fpga.DoneFpga();
    EXPECT_EQ(0u, fpga.fpga_get_SystemCount());
    EXPECT_EQ(0u, fpga.getUARTDataTimestampRaw(0));
    EXPECT_EQ(0u, fpga.getPulseTimestampRaw(0));
    EXPECT_EQ(0u, fpga.fpga_get_ppsSlave_control(0));
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(0));
    EXPECT_EQ(0u, fpga.fpga_pulsegen_adjust_Int_phase(0, 5));
    fpga.fpga_ptfe_init(0, 1, 1);
    fpga.fpga_ptfe_soft_reset(0);
    fpga.fpga_set_ptpClock_control(0, 1);
    EXPECT_EQ(0u, fpga.fpga_get_ptpClock_control(0));
}
