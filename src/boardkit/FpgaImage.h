#ifndef BOARDKIT_FPGAIMAGE_H
#define BOARDKIT_FPGAIMAGE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace boardkit {

// Names of the FPGA's register blocks in the IO devices file.
namespace fpgablock {
constexpr const char* kProcessor = "Processor_Interface";
constexpr const char* kPeripheral = "Peripheral_Interface";
constexpr const char* kTimestamp = "TimeStamp_Interface";
constexpr const char* kPpsSlave = "PpsSlave_Interface";
constexpr const char* kPtpClock = "PtpClock_Interface";
constexpr uint32_t kSystemCountOffset = 0x80;  // in the time stamp block, 64 bits
inline std::string ptfe(uint32_t i) { return "Ptfe_Interface" + std::to_string(i); }
inline std::string pulseGen(uint32_t i) { return "PulseGen_Interface" + std::to_string(i); }
}  // namespace fpgablock

struct RegisterBlock {
    std::string name;
    uint32_t baseAddress;
    uint32_t size;
};

// The register windows an IO devices file names; throws std::runtime_error
// when the file cannot be read.
std::vector<RegisterBlock> readIoDevices(const std::string& ioDevicesPath);

// What the FPGA holds at power-up.
struct FpgaContents {
    uint64_t clockRate = 58982400u;  // the count registers are 64 bits wide
    uint64_t uartCount = 4;
    uint64_t ptfeCount = 2;
    uint64_t pulseCount = 8;
    uint64_t periphCount = 16;
    uint64_t systemCount = 0;
    // Processor words 0x00..0x1C: "CHRONAVL", BCD date and time, "123456789ABC", "A001".
    std::array<uint32_t, 8> identity = {0x4348524Fu, 0x4E41564Cu, 0x20240315u, 0x00001342u,
                                        0x31323334u, 0x35363738u, 0x39414243u, 0x41303031u};
};

// A regular file that stands for the FPGA's physical memory: every window
// at its physical address (the file is sparse), read and written with
// pread/pwrite, independently of the mappings of the code that uses it.
// The file stays when the object goes; its owner removes it.
class FpgaImage {
public:
    FpgaImage(const std::string& path, std::vector<RegisterBlock> blocks,
              const FpgaContents& contents = FpgaContents());
    ~FpgaImage();
    FpgaImage(const FpgaImage&) = delete;
    FpgaImage& operator=(const FpgaImage&) = delete;

    const std::string& path() const { return m_path; }
    const std::vector<RegisterBlock>& blocks() const { return m_blocks; }
    const RegisterBlock& block(const std::string& name) const;  // throws if unknown

    // width in bits, 8 to 64; at a physical address, or from a block's base.
    uint64_t peekAt(uint64_t address, unsigned width) const;
    void pokeAt(uint64_t address, unsigned width, uint64_t value);
    uint64_t peek(const std::string& name, uint32_t offset, unsigned width = 32) const {
        return peekAt(uint64_t{block(name).baseAddress} + offset, width);
    }
    void poke(const std::string& name, uint32_t offset, unsigned width, uint64_t value) {
        pokeAt(uint64_t{block(name).baseAddress} + offset, width, value);
    }

private:
    std::string m_path;
    std::vector<RegisterBlock> m_blocks;
    int m_fd = -1;
};

}  // namespace boardkit

#endif
