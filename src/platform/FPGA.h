#ifndef PLATFORM_FPGA_H
#define PLATFORM_FPGA_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FACE/IOSS.h"

// The process-wide facade over the platform FPGA. Every register access is
// one Read or Write of the IO service on the connection of its block.
// Register operations never throw: an access that cannot be made reads as
// its failure value (0 unless stated) and a write is dropped.
class FpgaFace {
public:
    typedef FACE::IOSS::CONNECTION_HANDLE_TYPE Handle;

    static constexpr uint64_t TICKS_PER_SECOND = 58982400u;

    static FpgaFace& Instance();

    FpgaFace(const FpgaFace&) = delete;
    FpgaFace& operator=(const FpgaFace&) = delete;

    // Opens every block, reads the block counts and verifies the clock rate;
    // any failure is thrown as std::runtime_error (after a line on standard
    // output). Blocks opened before a failure stay open until DoneFpga.
    void InitFpga(const std::shared_ptr<FACE::IOSS::Devmem::IO_Service>& ioService);
    // Closes every block and returns the facade to its unstarted state, so
    // that it can be started again on another service.
    void DoneFpga();

    // Build date and time, e.g. 2024-03-15T13:42:00.
    std::string getFirmwareBuildStamp();
    // One line naming the firmware, its build, part number and revision.
    std::string getFirmwareConfiguration();

    // Free-running tick counter.
    uint64_t fpga_get_SystemCount();
    static uint64_t fpga_timestamp_get_ticks_per_sec() { return TICKS_PER_SECOND; }
    uint64_t getUARTDataTimestampRaw(uint32_t uart);
    uint64_t getPulseTimestampRaw(int32_t pulse);
    void setUartDelay(uint32_t uart, uint32_t delayTicks);
    // delay = ticks per second / rate * factor1 * factor2, saturated to 32 bits.
    void setUartDelay(uint32_t uart, double rate, double factor1, double factor2);
    uint32_t getUartDelay(uint32_t uart);

    void fpga_set_periph_control(int32_t periph, uint32_t value);
    uint32_t fpga_get_periph_control(int32_t periph);
    // Clears the register and returns what it held.
    uint32_t fpga_reset_periph_control(int32_t periph);
    void fpga_set_ppsSlave_control(int32_t index, uint32_t value);
    uint32_t fpga_get_ppsSlave_control(int32_t index);
    void fpga_set_ptpClock_control(int32_t index, uint32_t value);
    uint32_t fpga_get_ptpClock_control(int32_t index);

    void fpga_ptfe_init(uint32_t ptfe, uint32_t setting, uint32_t cycles);
    void fpga_ptfe_soft_reset(uint32_t ptfe);
    uint64_t getPtfeFirmwareId(uint32_t ptfe);
    // Fails as 1.
    uint32_t getPtfeMeasuredFreqEstimate(uint32_t ptfe);
    uint32_t getPtfeStatus(uint32_t ptfe);
    uint32_t getAndClearPtfeStatus(uint32_t ptfe);
    uint64_t getDfNcoRate(uint32_t ptfe);
    uint64_t getDtNcoPhase(uint32_t ptfe);
    uint32_t getDtCycles(uint32_t ptfe);
    void setPtfeDefaultNcoRate(uint32_t ptfe, uint64_t rate);

    void fpga_pulsegen_set_Int_phase(uint32_t ptfe, uint32_t phase);
    uint32_t fpga_pulsegen_get_Int_phase(uint32_t ptfe);
    // Adds delta and wraps once by the period set by fpga_ptfe_init.
    uint32_t fpga_pulsegen_adjust_Int_phase(uint32_t ptfe, int32_t delta);
    void fpga_pulsegen_set_Ext_phase(uint32_t ptfe, uint32_t phase);
    uint32_t fpga_pulsegen_get_Ext_phase(uint32_t ptfe);
    uint32_t fpga_pulsegen_adjust_Ext_phase(uint32_t ptfe, int32_t delta);

    uint32_t uartCount() const { return m_uartCount; }
    uint32_t ptfeCount() const { return m_ptfeCount; }
    uint32_t pulseCount() const { return m_pulseCount; }
    uint32_t periphCount() const { return m_periphCount; }

private:
    FpgaFace();
    ~FpgaFace() = default;

    void reset();
    // Both throw with the failure text and the caller's line.
    Handle open(const std::string& name, int line, const char* failure);
    uint32_t readCount(uint32_t offset, int line, const char* failure);
    // One register access through the service; false when it did not happen.
    bool read(Handle handle, uint32_t offset, uint8_t width, uint64_t& value);
    void write(Handle handle, uint32_t offset, uint8_t width, uint64_t value);
    uint32_t read32(Handle handle, uint32_t offset);
    uint32_t adjustPhase(uint32_t ptfe, uint32_t offset, int32_t delta);

    // Below the PTFE count and started (after a failed start fewer blocks
    // may have been set up than the FPGA reported).
    bool ptfeInRange(uint32_t index) const {
        return index < m_ptfeCount && index < m_pulseCycles.size();
    }
    static bool inRange(int32_t index, uint32_t count) {
        return index >= 0 && static_cast<uint32_t>(index) < count;
    }

    std::shared_ptr<FACE::IOSS::Devmem::IO_Service> m_ioService;
    Handle m_processorHandle;
    Handle m_peripheralHandle;
    Handle m_timestampHandle;
    Handle m_ppsSlaveHandle;
    Handle m_ptpClockHandle;
    std::vector<Handle> m_ptfeHandles;
    std::vector<Handle> m_pulseGenHandles;
    std::vector<uint32_t> m_pulseCycles;
    uint32_t m_uartCount;
    uint32_t m_ptfeCount;
    uint32_t m_pulseCount;
    uint32_t m_periphCount;
    uint32_t m_ppsSlaveCount;
    uint32_t m_ptpClockCount;
};

#endif
