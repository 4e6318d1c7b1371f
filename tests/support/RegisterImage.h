#ifndef TESTS_SUPPORT_REGISTERIMAGE_H
#define TESTS_SUPPORT_REGISTERIMAGE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FACE/QV_Devmem.h"
#include "support/TempDir.h"

namespace testsupport {

// Connection names of the FPGA's register blocks.
namespace fpgablock {
constexpr const char* kProcessor = "Processor_Interface";
constexpr const char* kPeripheral = "Peripheral_Interface";
constexpr const char* kTimestamp = "TimeStamp_Interface";
constexpr const char* kPpsSlave = "PpsSlave_Interface";
constexpr const char* kPtpClock = "PtpClock_Interface";
inline std::string ptfe(uint32_t i) { return "Ptfe_Interface" + std::to_string(i); }
inline std::string pulseGen(uint32_t i) { return "PulseGen_Interface" + std::to_string(i); }
}  // namespace fpgablock

struct RegisterBlock {
    std::string name;
    uint32_t baseAddress;
    uint32_t size;
};

// What the FPGA holds when the image is made, and where its blocks lie: as
// ioDevicesFile names them, by default the example file of config/ (two PTFE
// blocks; PTFE 1 does not start on a page boundary).
struct FpgaImageContents {
    uint64_t clockRate = 58982400u;  // the count registers are 64 bits wide
    uint64_t uartCount = 4;
    uint64_t ptfeCount = 2;
    uint64_t pulseCount = 8;
    uint64_t periphCount = 16;
    uint64_t systemCount = 0;
    // Processor words 0x00..0x1C: "CHRONAVL", BCD date and time, "123456789ABC", "A001".
    std::array<uint32_t, 8> identity = {0x4348524Fu, 0x4E41564Cu, 0x20240315u, 0x00001342u,
                                        0x31323334u, 0x35363738u, 0x39414243u, 0x41303031u};
    std::string ioDevicesFile;
    std::vector<std::string> omit;  // left out of the IO devices file the services use
};

// A regular file that stands for the FPGA's physical memory, read and written
// with pread/pwrite (independent of the code under test), and its windows.
class RegisterImage {
public:
    explicit RegisterImage(const FpgaImageContents& contents = FpgaImageContents());
    ~RegisterImage();

    // A QV_Devmem on this image, initialised on its IO devices file. A
    // recording one appends every write it is asked for to writes, as
    // "block@offset/width=value" in hexadecimal.
    std::shared_ptr<FACE::IOSS::QV_Devmem> makeService(bool recording = false);
    std::vector<std::string> writes;

    const std::string& imagePath() const { return m_imagePath; }
    const std::string& ioDevicesPath() const { return m_ioDevicesPath; }
    const RegisterBlock& block(const std::string& name) const;  // throws if unknown
    // Mappings of the image in this process, from the kernel's own table.
    int mappings() const;

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
    TempDir m_dir;
    std::vector<RegisterBlock> m_blocks;
    std::string m_imagePath;
    std::string m_ioDevicesPath;
    int m_fd = -1;
};

}  // namespace testsupport

#endif
