#include "platform/FPGA.h"

#include <gmock/gmock.h>

#include <stdexcept>
#include <tuple>

#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

using ::testing::EndsWith;
using boardkit::FpgaImageContents;
using boardkit::RegisterImage;
namespace block = boardkit::fpgablock;
using Log = std::vector<std::string>;

namespace {
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

// Started on the default image (the example IO devices file): 4 UARTs, 2 PTFE
// blocks, 8 pulse inputs, 16 peripheral control registers; writes recorded.
struct Fpga : ::testing::Test {
    Log writes() { return std::exchange(image.writes, Log{}); }  // since the last call
    RegisterImage image;
    boardkit::FpgaSession session{image, true};
    FpgaFace& fpga = FpgaFace::Instance();
};
}  // namespace

// The counts are 64-bit registers: the facade takes their low words.
TEST(FpgaInit, StartsWithTheLowWordOfEachCountAndStopsCompletely) {
    FpgaImageContents contents;
    contents.uartCount = 0x0000000100000003ull;
    contents.ptfeCount = 0xFFFFFFFF00000002ull;
    contents.periphCount = 0x8000000000000009ull;
    RegisterImage image(contents);
    auto service = image.makeService();
    FpgaFace& fpga = FpgaFace::Instance();
    fpga.InitFpga(service);
    EXPECT_EQ(std::make_tuple(3u, 2u, 9u), std::make_tuple(fpga.uartCount(), fpga.ptfeCount(), fpga.periphCount()));
    EXPECT_EQ(5 + 2 * 2, image.mappings()) << "five fixed blocks, then a PTFE and a pulse generator block per PTFE";
    fpga.DoneFpga();
    EXPECT_EQ(0, image.mappings());
    EXPECT_EQ(1, service.use_count()) << "the facade let go of the service";
}

TEST(FpgaInit, EveryFailureIsThrownWithItsCodeAndText) {
    // The high word counts too; without PTFE blocks the rate is still checked.
    for (const auto& [rate, ptfes] : {std::pair<uint64_t, uint64_t>{58982401, 2}, {0x103840000ull, 0}}) {
        FpgaImageContents contents;
        contents.clockRate = rate;
        contents.ptfeCount = ptfes;
        EXPECT_THAT(initFailure(RegisterImage(contents).makeService()),
                    EndsWith("]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got " + std::to_string(rate) +
                             ", expected 58982400"));
    }
    const std::pair<std::string, const char*> blocks[] = {
        {block::kProcessor, "processor"}, {block::kPeripheral, "peripheral"}, {block::kTimestamp, "timestamp"},
        {block::kPpsSlave, "PPS Slave"},  {block::kPtpClock, "PTP Clock"},    {block::ptfe(0), "PTFE 0"},
        {block::pulseGen(1), "PulseGen 1"}};
    for (const auto& [name, text] : blocks) {
        FpgaImageContents contents;
        contents.omit = {name};
        EXPECT_THAT(initFailure(RegisterImage(contents).makeService()),
                    EndsWith(std::string("]:INVALID_CONFIG FpgaFace() FAILED to open ") + text + " interface"));
    }
    EXPECT_THAT(initFailure(nullptr), EndsWith("]:INVALID_PARAM FpgaFace() FAILED to open processor interface"));
    FpgaImageContents wild;
    wild.ptfeCount = 0xFFFFFFFFu;  // what an unprogrammed FPGA reads as
    RegisterImage image(wild);
    EXPECT_THAT(initFailure(image.makeService()), EndsWith("FAILED to open PTFE 2 interface"));
    EXPECT_EQ(0, image.mappings()) << "what was opened before the failure is closed";
}

TEST_F(Fpga, IdentityNamesFirmwareBuildPartAndRevision) {
    // "AB" and zero bytes, "CDEF", a date that is not BCD, a time whose high
    // half does not count, a word with a leading zero byte, "5678", "9A", none.
    const uint32_t words[] = {0x41420000u, 0x43444546u, 0x1999A2B1u, 0xFFFF0959u,
                              0x00313233u, 0x35363738u, 0x39410000u, 0u};
    for (uint32_t i = 0; i < 8; ++i) image.poke(block::kProcessor, 4 * i, 32, words[i]);
    EXPECT_EQ("1999-102-111T09:59:00", fpga.getFirmwareBuildStamp());
    EXPECT_EQ("Zelmar FPGA Firmware:, ABCDEF,Date YMD:,1999-102-111,Time  HHMM:,09:59,KPN:,5678-9ARev:",
              fpga.getFirmwareConfiguration());
}

TEST_F(Fpga, RegistersAreReadWrittenAndClearedAtTheirOffsets) {
    image.poke(block::kTimestamp, 0x200 + 8 * 3, 64, 0x1000000003ull);
    image.poke(block::kTimestamp, 0x88 + 8 * 7, 64, 0x2000000007ull);
    image.poke(block::ptfe(1), 0x00, 64, 0xFEDCBA9876543210ull);
    image.poke(block::ptfe(1), 0x10, 32, 99);
    for (uint32_t at : {0x20u, 0x30u}) image.poke(block::ptfe(1), at, 64, ~0ull);
    image.poke(block::ptfe(1), 0x38, 32, 0xCAFE);
    EXPECT_EQ(std::make_tuple(0x1000000003ull, 0x2000000007ull, 0xFEDCBA9876543210ull),
              std::make_tuple(fpga.getUARTDataTimestampRaw(3), fpga.getPulseTimestampRaw(7),
                              fpga.getPtfeFirmwareId(1)));
    EXPECT_EQ(std::make_tuple(100u, 0xFFFFFFFFFFFull, 0xFFFFFFFFFFull, 0xCAFEu),
              std::make_tuple(fpga.getPtfeMeasuredFreqEstimate(1), fpga.getDfNcoRate(1), fpga.getDtNcoPhase(1),
                              fpga.getDtCycles(1)));
    fpga.fpga_set_periph_control(15, 0x11);
    fpga.fpga_set_ppsSlave_control(8, 0x22);
    fpga.fpga_set_ptpClock_control(29, 0x33);
    fpga.setPtfeDefaultNcoRate(1, 0x0123456789ABCDEFull);
    EXPECT_EQ(std::make_tuple(0x11u, 0x22u, 0x33u, 0x0123456789ABCDEFull, 0x22u, 0x33u),
              std::make_tuple(image.peek(block::kPeripheral, 0x3C), image.peek(block::kPpsSlave, 0x20),
                              image.peek(block::kPtpClock, 0x74), image.peek(block::ptfe(1), 0xC8, 64),
                              fpga.fpga_get_ppsSlave_control(8), fpga.fpga_get_ptpClock_control(29)));
    using Cleared = std::pair<uint32_t, uint64_t>;  // braces: the call comes first
    image.poke(block::kPeripheral, 8, 32, 5);
    EXPECT_EQ((Cleared{fpga.fpga_reset_periph_control(2), image.peek(block::kPeripheral, 8)}), Cleared(5, 0));
    image.poke(block::ptfe(1), 0x18, 32, 0x55);
    EXPECT_EQ((Cleared{fpga.getAndClearPtfeStatus(1), image.peek(block::ptfe(1), 0x18)}), Cleared(0x55, 0));
}

TEST_F(Fpga, IndexesOutOfRangeReachNoRegister) {
    // Where such reads would land: the counter (where pulse -1 wraps to), UART
    // 4 timestamp, pulse 8 timestamp, UART 4 delay, one past each control bank.
    for (uint32_t at : {0x80u, 0x220u, 0xC8u, 0x1A0u}) image.poke(block::kTimestamp, at, 64, 1);
    image.poke(block::kPeripheral, 4 * 16, 32, 1);
    image.poke(block::kPpsSlave, 4 * 9, 32, 1);
    image.poke(block::kPtpClock, 4 * 30, 32, 1);
    writes();
    for (int32_t bad : {-1, 16}) fpga.fpga_set_periph_control(bad, 1);
    for (int32_t bad : {-1, 9}) fpga.fpga_set_ppsSlave_control(bad, 1);
    for (int32_t bad : {-1, 30}) fpga.fpga_set_ptpClock_control(bad, 1);
    fpga.setUartDelay(4, 5u);
    fpga.setUartDelay(4, 115200.0, 10.0, 2.0);
    fpga.fpga_ptfe_init(2, 1, 1);  // PTFE 2 has no blocks at all
    fpga.fpga_ptfe_soft_reset(2);
    fpga.setPtfeDefaultNcoRate(2, 1);
    EXPECT_EQ(0u, fpga.getUARTDataTimestampRaw(4) + fpga.getUartDelay(4) + fpga.getPulseTimestampRaw(8) +
                      fpga.getPulseTimestampRaw(-1));
    EXPECT_EQ(0u, fpga.fpga_get_periph_control(-1) + fpga.fpga_get_periph_control(16) +
                      fpga.fpga_reset_periph_control(16) + fpga.fpga_get_ppsSlave_control(-1) +
                      fpga.fpga_get_ppsSlave_control(9) + fpga.fpga_get_ptpClock_control(-1) +
                      fpga.fpga_get_ptpClock_control(30));
    EXPECT_EQ(0u, fpga.getPtfeFirmwareId(2) + fpga.getAndClearPtfeStatus(2) + fpga.getDfNcoRate(2) +
                      fpga.getDtNcoPhase(2) + fpga.getDtCycles(2) + fpga.fpga_pulsegen_adjust_Int_phase(2, 1));
    EXPECT_EQ(1u, fpga.getPtfeMeasuredFreqEstimate(2));
    EXPECT_EQ(Log{}, writes());
}

TEST_F(Fpga, UartDelayIsSaturatedTo32Bits) {
    image.poke(block::kTimestamp, 0x18C, 32, 0xEEEEEEEE);
    fpga.setUartDelay(1, 1234u);
    EXPECT_EQ(1234u, fpga.getUartDelay(1));
    EXPECT_EQ(0xEEEEEEEEu, image.peek(block::kTimestamp, 0x18C));
    // rate, factor1, factor2, ticks
    const std::tuple<double, double, double, uint32_t> cases[] = {
        {115200, 10, 2, 10240}, {0, 1, 1, 0xFFFFFFFFu},       {0, 0, 1, 0} /* NaN */,
        {-9600, 1, 1, 0},       {1, 1000, 1000, 0xFFFFFFFFu}, {7, 1, 1, 8426057u} /* truncated */};
    for (const auto& [rate, factor1, factor2, ticks] : cases) {
        fpga.setUartDelay(2, rate, factor1, factor2);
        EXPECT_EQ(ticks, image.peek(block::kTimestamp, 0x190)) << rate << " " << factor1;
    }
}

TEST_F(Fpga, PtfeInitAndSoftResetWriteTheirSequences) {
    writes();
    fpga.fpga_ptfe_init(1, 0xABCD, 1000);
    EXPECT_EQ((Log{"PulseGen_Interface1@0x0/32=0x3E7", "TimeStamp_Interface@0x40/32=0x1",
                   "Ptfe_Interface1@0x90/32=0xABCD", "Ptfe_Interface1@0x98/32=0xABCD",
                   "Ptfe_Interface1@0x120/32=0xA0"}),
              writes());
    for (uint32_t control : {0x6u, 0x7u}) {
        image.poke(block::ptfe(1), 0x80, 32, control);
        fpga.fpga_ptfe_soft_reset(1);
        EXPECT_EQ((Log{"Ptfe_Interface1@0x80/32=0x7", "Ptfe_Interface1@0x80/32=0x6"}), writes());
    }
}

TEST_F(Fpga, PhaseAdjustmentsWrapOnceByThePeriod) {
    fpga.fpga_ptfe_init(0, 0, 1000);
    // phase, delta, result
    const std::tuple<uint32_t, int32_t, uint32_t> cases[] = {
        {990, 20, 10}, {5, -10, 995}, {0, 2500, 1500} /* one correction only */,
        {999, 1, 0},   {0, -1, 999},  {0x7FFFFFFF, 1, 0x80000000u + 1000u} /* signed sum */};
    for (const auto& [phase, delta, result] : cases) {
        fpga.fpga_pulsegen_set_Int_phase(0, phase);
        fpga.fpga_pulsegen_set_Ext_phase(0, phase);
        EXPECT_EQ(result, fpga.fpga_pulsegen_adjust_Int_phase(0, delta)) << phase;
        EXPECT_EQ(result, image.peek(block::pulseGen(0), 0x04));
        EXPECT_EQ(phase, fpga.fpga_pulsegen_get_Ext_phase(0)) << "Int leaves Ext alone";
        EXPECT_EQ(result, fpga.fpga_pulsegen_adjust_Ext_phase(0, delta));
        EXPECT_EQ(result, image.peek(block::pulseGen(0), 0x08));
        EXPECT_EQ(result, fpga.fpga_pulsegen_get_Int_phase(0));
    }
}
