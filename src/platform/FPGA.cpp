#include "platform/FPGA.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "FACE/FACE_Common.h"

namespace {

using FACE::RETURN_CODE_TYPE::Value;
namespace RC = FACE::RETURN_CODE_TYPE;

constexpr const char* kSource = "FPGA.cpp";
constexpr FACE::IOSS::TIMEOUT_TYPE kNoTimeout = -1;

// Register map: byte offsets from each block's base address.
namespace processor {
constexpr uint32_t kFirmwareName = 0x00;  // two words of ASCII
constexpr uint32_t kBuildDate = 0x08;     // BCD YYYYMMDD
constexpr uint32_t kBuildTime = 0x0C;     // BCD HHMM in the low half
constexpr uint32_t kWordCount = 8;        // identity words 0x00 to 0x1C
}  // namespace processor

namespace timestamp {
constexpr uint32_t kClockRate = 0x00;
constexpr uint32_t kUartCount = 0x08;
constexpr uint32_t kPtfeCount = 0x10;
constexpr uint32_t kPulseCount = 0x18;
constexpr uint32_t kPeriphCount = 0x20;
constexpr uint32_t kPtfeEnable = 0x40;
constexpr uint32_t kSystemCount = 0x80;
constexpr uint32_t kPulseTimestamp = 0x88;
constexpr uint32_t kUartDelay = 0x180;
constexpr uint32_t kUartTimestamp = 0x200;
constexpr uint32_t kStride = 8;
}  // namespace timestamp

namespace ptfe {
constexpr uint32_t kFirmwareId = 0x00;
constexpr uint32_t kMeasuredFreq = 0x10;
constexpr uint32_t kStatus = 0x18;
constexpr uint32_t kNcoRate = 0x20;
constexpr uint32_t kNcoPhase = 0x30;
constexpr uint32_t kCycles = 0x38;
constexpr uint32_t kControl = 0x80;
constexpr uint32_t kSetting1 = 0x90;
constexpr uint32_t kSetting2 = 0x98;
constexpr uint32_t kDefaultNcoRate = 0xC8;
constexpr uint32_t kInit = 0x120;
constexpr uint32_t kInitValue = 160;
constexpr uint32_t kSoftReset = 0x1;
constexpr uint64_t kNcoRateMask = 0xFFFFFFFFFFFull;
constexpr uint64_t kNcoPhaseMask = 0xFFFFFFFFFFull;
}  // namespace ptfe

namespace pulsegen {
constexpr uint32_t kPeriod = 0x00;
constexpr uint32_t kIntPhase = 0x04;
constexpr uint32_t kExtPhase = 0x08;
}  // namespace pulsegen

constexpr uint32_t kControlStride = 4;
constexpr uint32_t kPpsSlaveRegisters = 9;
constexpr uint32_t kPtpClockRegisters = 30;

unsigned nibble(uint32_t word, unsigned index) { return (word >> (4u * index)) & 0xFu; }
int byteAt(uint32_t word, unsigned index) {
    return static_cast<int>((word >> (8u * index)) & 0xFFu);
}

// Appends one formatted piece, cut at its first NUL: a zero byte in an
// identity word ends that piece only.
__attribute__((format(printf, 2, 3))) void appendPiece(std::string& out, const char* format, ...) {
    char piece[100];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n > 0) {
        out.append(piece, ::strnlen(piece, sizeof piece));
    }
}

void sleepOneMicrosecond() {
    timespec request{0, 1000};
    timespec remaining{0, 0};
    while (::nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

uint32_t saturateToUint32(double value) {
    if (!(value > 0.0)) {  // negative and NaN
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

FpgaFace& FpgaFace::Instance() {
    static FpgaFace instance;
    return instance;
}

FpgaFace::FpgaFace() { reset(); }

void FpgaFace::reset() {
    m_ioService.reset();
    m_processorHandle = FACE::IOSS::NO_CONNECTION;
    m_peripheralHandle = FACE::IOSS::NO_CONNECTION;
    m_timestampHandle = FACE::IOSS::NO_CONNECTION;
    m_ppsSlaveHandle = FACE::IOSS::NO_CONNECTION;
    m_ptpClockHandle = FACE::IOSS::NO_CONNECTION;
    m_ptfeHandles.clear();
    m_pulseGenHandles.clear();
    m_pulseCycles.clear();
    m_uartCount = 0;
    m_ptfeCount = 0;
    m_pulseCount = 0;
    m_periphCount = 0;
    m_ppsSlaveCount = 0;
    m_ptpClockCount = 0;
}

FpgaFace::Handle FpgaFace::open(const std::string& name, int line, const char* failure) {
    Handle handle = FACE::IOSS::NO_CONNECTION;
    // Without a service nothing can be opened: refused like any other open.
    Value code = RC::INVALID_PARAM;
    if (m_ioService) {
        code = RC::NO_ACTION;
        m_ioService->Open_Connection(FACE::String(name.c_str()), kNoTimeout, handle, code);
    }
    FACE::Return_Code_Value_No_Error(kSource, line, failure, code);
    return handle;
}

uint32_t FpgaFace::readCount(uint32_t offset, int line, const char* failure) {
    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE payload;
    payload.offset = offset;
    payload.width = 64;
    Value code = RC::NO_ACTION;
    m_ioService->Read(m_timestampHandle, kNoTimeout, payload, code);
    FACE::Return_Code_Value_No_Error(kSource, line, failure, code);
    return static_cast<uint32_t>(payload.value);
}

void FpgaFace::InitFpga(const std::shared_ptr<FACE::IOSS::Devmem::IO_Service>& ioService) {
    reset();
    m_ioService = ioService;

    m_processorHandle =
        open("Processor_Interface", __LINE__, "FpgaFace() FAILED to open processor interface");
    m_peripheralHandle =
        open("Peripheral_Interface", __LINE__, "FpgaFace() FAILED to open peripheral interface");
    m_timestampHandle =
        open("TimeStamp_Interface", __LINE__, "FpgaFace() FAILED to open timestamp interface");
    m_ppsSlaveHandle =
        open("PpsSlave_Interface", __LINE__, "FpgaFace() FAILED to open PPS Slave interface");
    m_ptpClockHandle =
        open("PtpClock_Interface", __LINE__, "FpgaFace() FAILED to open PTP Clock interface");

    m_uartCount = readCount(timestamp::kUartCount, __LINE__,
                            "FpgaFace() FAILED to read FPGA number of UARTs");
    m_ptfeCount = readCount(timestamp::kPtfeCount, __LINE__,
                            "FpgaFace() FAILED to read FPGA number of PTFEs");
    m_pulseCount = readCount(timestamp::kPulseCount, __LINE__,
                             "FpgaFace() FAILED to read FPGA number of Pulses");
    m_periphCount = readCount(timestamp::kPeriphCount, __LINE__,
                              "FpgaFace() FAILED to read FPGA number of Periphs");

    m_ppsSlaveCount = kPpsSlaveRegisters;
    m_ptpClockCount = kPtpClockRegisters;

    // The arrays grow block by block: a count register gone wild (all ones)
    // then ends at the first missing block with its own message instead of
    // a giant allocation. A handle not yet opened stays -1, so that no
    // operation reaches another block through it.
    for (uint32_t i = 0; i < m_ptfeCount; ++i) {
        m_ptfeHandles.push_back(FACE::IOSS::NO_CONNECTION);
        m_pulseGenHandles.push_back(FACE::IOSS::NO_CONNECTION);
        m_pulseCycles.push_back(0u);
        const std::string index = std::to_string(i);
        m_ptfeHandles[i] = open("Ptfe_Interface" + index, __LINE__,
                                ("FpgaFace() FAILED to open PTFE " + index + " interface").c_str());
        m_pulseGenHandles[i] =
            open("PulseGen_Interface" + index, __LINE__,
                 ("FpgaFace() FAILED to open PulseGen " + index + " interface").c_str());
    }

    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE payload;
    payload.offset = timestamp::kClockRate;
    payload.width = 64;
    Value code = RC::NO_ACTION;
    m_ioService->Read(m_timestampHandle, kNoTimeout, payload, code);
    FACE::Return_Code_Value_No_Error(kSource, __LINE__, "FpgaFace() FAILED to read FPGA clock rate",
                                     code);
    if (payload.value != TICKS_PER_SECOND) {
        const std::string message = "FpgaFace() FPGA clock rate mismatch, got " +
                                    std::to_string(payload.value) + ", expected " +
                                    std::to_string(TICKS_PER_SECOND);
        FACE::Return_Code_Value_No_Error(kSource, __LINE__, message.c_str(), RC::INVALID_MODE);
    }
}

void FpgaFace::DoneFpga() {
    if (!m_ioService) {
        return;
    }
    Value code = RC::NO_ACTION;
    for (Handle handle : {m_processorHandle, m_peripheralHandle, m_timestampHandle,
                          m_ppsSlaveHandle, m_ptpClockHandle}) {
        m_ioService->Close_Connection(handle, code);
    }
    for (uint32_t i = 0; ptfeInRange(i); ++i) {
        m_ioService->Close_Connection(m_ptfeHandles[i], code);
        m_ioService->Close_Connection(m_pulseGenHandles[i], code);
    }
    reset();
}

bool FpgaFace::read(Handle handle, uint32_t offset, uint8_t width, uint64_t& value) {
    if (!m_ioService) {
        return false;
    }
    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE payload;
    payload.offset = offset;
    payload.width = width;
    Value code = RC::NO_ACTION;
    m_ioService->Read(handle, kNoTimeout, payload, code);
    if (code != RC::NO_ERROR) {
        return false;
    }
    value = payload.value;
    return true;
}

void FpgaFace::write(Handle handle, uint32_t offset, uint8_t width, uint64_t value) {
    if (!m_ioService) {
        return;
    }
    FACE::IOSS::Devmem::IO_Service::WRITE_PAYLOAD_TYPE payload;
    payload.offset = offset;
    payload.width = width;
    payload.value = value;
    Value code = RC::NO_ACTION;
    m_ioService->Write(handle, kNoTimeout, payload, code);
}

uint32_t FpgaFace::read32(Handle handle, uint32_t offset) {
    uint64_t value = 0;
    return read(handle, offset, 32, value) ? static_cast<uint32_t>(value) : 0u;
}

std::string FpgaFace::getFirmwareBuildStamp() {
    const uint32_t date = read32(m_processorHandle, processor::kBuildDate);
    const uint32_t time = read32(m_processorHandle, processor::kBuildTime);
    std::string stamp;
    appendPiece(stamp, "%1u%1u%1u%1u-%1u%1u-%1u%1uT%1u%1u:%1u%1u:00", nibble(date, 7),
                nibble(date, 6), nibble(date, 5), nibble(date, 4), nibble(date, 3), nibble(date, 2),
                nibble(date, 1), nibble(date, 0), nibble(time, 3), nibble(time, 2), nibble(time, 1),
                nibble(time, 0));
    return stamp;
}

std::string FpgaFace::getFirmwareConfiguration() {
    uint32_t w[processor::kWordCount];
    for (uint32_t i = 0; i < processor::kWordCount; ++i) {
        w[i] = read32(m_processorHandle, processor::kFirmwareName + 4u * i);
    }
    std::string text = "Zelmar FPGA ";
    appendPiece(text, "Firmware:, %c%c%c%c", byteAt(w[0], 3), byteAt(w[0], 2), byteAt(w[0], 1),
                byteAt(w[0], 0));
    appendPiece(text, "%c%c%c%c,", byteAt(w[1], 3), byteAt(w[1], 2), byteAt(w[1], 1),
                byteAt(w[1], 0));
    appendPiece(text, "Date YMD:,%1u%1u%1u%1u-", nibble(w[2], 7), nibble(w[2], 6), nibble(w[2], 5),
                nibble(w[2], 4));
    appendPiece(text, "%1u%1u-%1u%1u,", nibble(w[2], 3), nibble(w[2], 2), nibble(w[2], 1),
                nibble(w[2], 0));
    appendPiece(text, "Time  HHMM:,%1u%1u:%1u%1u,", nibble(w[3], 3), nibble(w[3], 2),
                nibble(w[3], 1), nibble(w[3], 0));
    appendPiece(text, "KPN:,%c%c%c%c-", byteAt(w[4], 3), byteAt(w[4], 2), byteAt(w[4], 1),
                byteAt(w[4], 0));
    appendPiece(text, "%c%c%c%c-", byteAt(w[5], 3), byteAt(w[5], 2), byteAt(w[5], 1),
                byteAt(w[5], 0));
    appendPiece(text, "%c%c%c%c", byteAt(w[6], 3), byteAt(w[6], 2), byteAt(w[6], 1),
                byteAt(w[6], 0));
    appendPiece(text, "Rev:%c%c%c%c", byteAt(w[7], 3), byteAt(w[7], 2), byteAt(w[7], 1),
                byteAt(w[7], 0));
    return text;
}

uint64_t FpgaFace::fpga_get_SystemCount() {
    uint64_t value = 0;
    return read(m_timestampHandle, timestamp::kSystemCount, 64, value) ? value : 0u;
}

uint64_t FpgaFace::getUARTDataTimestampRaw(uint32_t uart) {
    uint64_t value = 0;
    if (uart >= m_uartCount) {
        return 0;
    }
    return read(m_timestampHandle, timestamp::kUartTimestamp + timestamp::kStride * uart, 64, value)
               ? value
               : 0u;
}

uint64_t FpgaFace::getPulseTimestampRaw(int32_t pulse) {
    uint64_t value = 0;
    if (!inRange(pulse, m_pulseCount)) {
        return 0;
    }
    const uint32_t offset =
        timestamp::kPulseTimestamp + timestamp::kStride * static_cast<uint32_t>(pulse);
    return read(m_timestampHandle, offset, 64, value) ? value : 0u;
}

void FpgaFace::setUartDelay(uint32_t uart, uint32_t delayTicks) {
    if (uart >= m_uartCount) {
        return;
    }
    write(m_timestampHandle, timestamp::kUartDelay + timestamp::kStride * uart, 32, delayTicks);
}

void FpgaFace::setUartDelay(uint32_t uart, double rate, double factor1, double factor2) {
    const double delay = static_cast<double>(TICKS_PER_SECOND) / rate * factor1 * factor2;
    setUartDelay(uart, saturateToUint32(delay));
}

uint32_t FpgaFace::getUartDelay(uint32_t uart) {
    if (uart >= m_uartCount) {
        return 0;
    }
    return read32(m_timestampHandle, timestamp::kUartDelay + timestamp::kStride * uart);
}

void FpgaFace::fpga_set_periph_control(int32_t periph, uint32_t value) {
    if (inRange(periph, m_periphCount)) {
        write(m_peripheralHandle, kControlStride * static_cast<uint32_t>(periph), 32, value);
    }
}

uint32_t FpgaFace::fpga_get_periph_control(int32_t periph) {
    if (!inRange(periph, m_periphCount)) {
        return 0;
    }
    return read32(m_peripheralHandle, kControlStride * static_cast<uint32_t>(periph));
}

uint32_t FpgaFace::fpga_reset_periph_control(int32_t periph) {
    if (!inRange(periph, m_periphCount)) {
        return 0;
    }
    const uint32_t previous = fpga_get_periph_control(periph);
    fpga_set_periph_control(periph, 0);
    return previous;
}

void FpgaFace::fpga_set_ppsSlave_control(int32_t index, uint32_t value) {
    if (inRange(index, m_ppsSlaveCount)) {
        write(m_ppsSlaveHandle, kControlStride * static_cast<uint32_t>(index), 32, value);
    }
}

uint32_t FpgaFace::fpga_get_ppsSlave_control(int32_t index) {
    if (!inRange(index, m_ppsSlaveCount)) {
        return 0;
    }
    return read32(m_ppsSlaveHandle, kControlStride * static_cast<uint32_t>(index));
}

void FpgaFace::fpga_set_ptpClock_control(int32_t index, uint32_t value) {
    if (inRange(index, m_ptpClockCount)) {
        write(m_ptpClockHandle, kControlStride * static_cast<uint32_t>(index), 32, value);
    }
}

uint32_t FpgaFace::fpga_get_ptpClock_control(int32_t index) {
    if (!inRange(index, m_ptpClockCount)) {
        return 0;
    }
    return read32(m_ptpClockHandle, kControlStride * static_cast<uint32_t>(index));
}

void FpgaFace::fpga_ptfe_init(uint32_t index, uint32_t setting, uint32_t cycles) {
    if (!ptfeInRange(index)) {
        return;
    }
    m_pulseCycles[index] = cycles;
    if (!m_ioService) {
        return;
    }
    write(m_pulseGenHandles[index], pulsegen::kPeriod, 32, cycles - 1u);
    write(m_timestampHandle, timestamp::kPtfeEnable, 32, 1u);
    write(m_ptfeHandles[index], ptfe::kSetting1, 32, setting);
    write(m_ptfeHandles[index], ptfe::kSetting2, 32, setting);
    write(m_ptfeHandles[index], ptfe::kInit, 32, ptfe::kInitValue);
}

void FpgaFace::fpga_ptfe_soft_reset(uint32_t index) {
    if (!ptfeInRange(index)) {
        return;
    }
    const Handle handle = m_ptfeHandles[index];
    uint64_t control = 0;
    uint32_t set = ptfe::kSoftReset;
    uint32_t clear = 0;
    if (read(handle, ptfe::kControl, 32, control)) {
        set = static_cast<uint32_t>(control) | ptfe::kSoftReset;
        clear = static_cast<uint32_t>(control) & ~ptfe::kSoftReset;
    }
    write(handle, ptfe::kControl, 32, set);
    sleepOneMicrosecond();
    write(handle, ptfe::kControl, 32, clear);
}

uint64_t FpgaFace::getPtfeFirmwareId(uint32_t index) {
    uint64_t value = 0;
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read(m_ptfeHandles[index], ptfe::kFirmwareId, 64, value) ? value : 0u;
}

uint32_t FpgaFace::getPtfeMeasuredFreqEstimate(uint32_t index) {
    uint64_t value = 0;
    if (!ptfeInRange(index) || !read(m_ptfeHandles[index], ptfe::kMeasuredFreq, 32, value)) {
        return 1;
    }
    return static_cast<uint32_t>(value) + 1u;
}

uint32_t FpgaFace::getPtfeStatus(uint32_t index) {
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read32(m_ptfeHandles[index], ptfe::kStatus);
}

uint32_t FpgaFace::getAndClearPtfeStatus(uint32_t index) {
    const uint32_t status = getPtfeStatus(index);
    if (ptfeInRange(index)) {
        write(m_ptfeHandles[index], ptfe::kStatus, 32, 0u);
    }
    return status;
}

uint64_t FpgaFace::getDfNcoRate(uint32_t index) {
    uint64_t value = 0;
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read(m_ptfeHandles[index], ptfe::kNcoRate, 64, value) ? (value & ptfe::kNcoRateMask)
                                                                 : 0u;
}

uint64_t FpgaFace::getDtNcoPhase(uint32_t index) {
    uint64_t value = 0;
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read(m_ptfeHandles[index], ptfe::kNcoPhase, 64, value) ? (value & ptfe::kNcoPhaseMask)
                                                                  : 0u;
}

uint32_t FpgaFace::getDtCycles(uint32_t index) {
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read32(m_ptfeHandles[index], ptfe::kCycles);
}

void FpgaFace::setPtfeDefaultNcoRate(uint32_t index, uint64_t rate) {
    if (ptfeInRange(index)) {
        write(m_ptfeHandles[index], ptfe::kDefaultNcoRate, 64, rate);
    }
}

void FpgaFace::fpga_pulsegen_set_Int_phase(uint32_t index, uint32_t phase) {
    if (ptfeInRange(index)) {
        write(m_pulseGenHandles[index], pulsegen::kIntPhase, 32, phase);
    }
}

uint32_t FpgaFace::fpga_pulsegen_get_Int_phase(uint32_t index) {
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read32(m_pulseGenHandles[index], pulsegen::kIntPhase);
}

uint32_t FpgaFace::fpga_pulsegen_adjust_Int_phase(uint32_t index, int32_t delta) {
    return adjustPhase(index, pulsegen::kIntPhase, delta);
}

void FpgaFace::fpga_pulsegen_set_Ext_phase(uint32_t index, uint32_t phase) {
    if (ptfeInRange(index)) {
        write(m_pulseGenHandles[index], pulsegen::kExtPhase, 32, phase);
    }
}

uint32_t FpgaFace::fpga_pulsegen_get_Ext_phase(uint32_t index) {
    if (!ptfeInRange(index)) {
        return 0;
    }
    return read32(m_pulseGenHandles[index], pulsegen::kExtPhase);
}

uint32_t FpgaFace::fpga_pulsegen_adjust_Ext_phase(uint32_t index, int32_t delta) {
    return adjustPhase(index, pulsegen::kExtPhase, delta);
}

uint32_t FpgaFace::adjustPhase(uint32_t index, uint32_t offset, int32_t delta) {
    if (!ptfeInRange(index)) {
        return 0;
    }
    const Handle handle = m_pulseGenHandles[index];
    // A signed 32-bit sum that wraps like the register does, without the
    // undefined overflow of int32_t arithmetic.
    const int32_t sum = static_cast<int32_t>(read32(handle, offset) + static_cast<uint32_t>(delta));
    const int64_t period = m_pulseCycles[index];
    int64_t phase = sum;
    if (phase < 0) {
        phase += period;
    } else if (phase >= period) {
        phase -= period;
    }
    const uint32_t result = static_cast<uint32_t>(phase);
    write(handle, offset, 32, result);
    return result;
}
