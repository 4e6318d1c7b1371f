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
std::string ptfe(uint32_t index);      // "Ptfe_Interface<index>"
std::string pulseGen(uint32_t index);  // "PulseGen_Interface<index>"
}  // namespace fpgablock

// Makes a 32-bit identity word from four ASCII characters, first character in
// the most significant byte ("AB" gives 0x41420000).
uint32_t asciiWord(const char* chars);

struct RegisterBlock {
    std::string name;
    uint32_t baseAddress;
    uint32_t size;
};

// What the FPGA holds when the image is made. The count registers are 64 bits
// wide and hold exactly these values.
struct FpgaImageContents {
    uint64_t clockRate = 58982400u;
    uint64_t uartCount = 4;
    uint64_t ptfeCount = 2;
    uint64_t pulseCount = 8;
    uint64_t periphCount = 16;
    uint64_t systemCount = 0;
    // Processor words 0x00..0x1C: firmware name, BCD date, BCD time, part
    // number, revision.
    std::array<uint32_t, 8> identity = {asciiWord("CHRO"), asciiWord("NAVL"), 0x20240315u,
                                        0x00001342u,       asciiWord("1234"), asciiWord("5678"),
                                        asciiWord("9ABC"), asciiWord("A001")};
    // Number of PTFE/pulse generator block pairs in the layout; by default
    // the low 32 bits of ptfeCount (at most 64).
    int32_t ptfeBlocks = -1;
    // Blocks that get no entry in the IO devices file (their registers are
    // still in the image).
    std::vector<std::string> omit;
    // Replaces the standard layout when not empty.
    std::vector<RegisterBlock> blocks;
    // An existing IO devices file to use instead of a generated one; the
    // layout is read from it (blocks and omit are then ignored).
    std::string ioDevicesFile;
};

// A regular file that stands for the FPGA's physical memory, and the IO
// devices file that names its register windows. Registers are read and
// written with pread/pwrite, independent of the code under test. Each image
// has a path of its own for the life of the process.
//
//   testsupport::FpgaImageContents contents;
//   contents.systemCount = 58982400;                       // one second of ticks
//   testsupport::RegisterImage image(contents);
//   testsupport::FpgaSession session(image);          // FpgaFace started on it
//   image.poke(fpgablock::kTimestamp, 0x88, 64, 123);  // pulse 0 timestamp
//   ... code under test ...
//   EXPECT_EQ(1u, image.peek(fpgablock::kPeripheral, 4 * 3, 32));
class RegisterImage {
public:
    explicit RegisterImage(FpgaImageContents contents = FpgaImageContents());
    ~RegisterImage();
    RegisterImage(const RegisterImage&) = delete;
    RegisterImage& operator=(const RegisterImage&) = delete;

    // The standard layout: fixed blocks a page apart, PTFE blocks packed
    // several to a page (so most do not start on a page boundary).
    static std::vector<RegisterBlock> standardLayout(uint32_t ptfeBlocks);

    const std::string& imagePath() const { return m_imagePath; }
    const std::string& ioDevicesPath() const { return m_ioDevicesPath; }
    const std::vector<RegisterBlock>& blocks() const { return m_blocks; }
    const RegisterBlock& block(const std::string& name) const;  // throws if unknown
    const FpgaImageContents& contents() const { return m_contents; }
    TempDir& dir() { return m_dir; }

    // width in bits: 8, 16, 32 or 64. Offsets are from the block's base.
    uint64_t peek(const std::string& block, uint32_t offset, unsigned width) const;
    void poke(const std::string& block, uint32_t offset, unsigned width, uint64_t value);
    // The same at an absolute physical address (file offset).
    uint64_t peekAt(uint64_t address, unsigned width) const;
    void pokeAt(uint64_t address, unsigned width, uint64_t value);

    // A QV_Devmem on this image, referenced and initialised on the IO devices
    // file. Throws std::runtime_error when that fails.
    std::shared_ptr<FACE::IOSS::QV_Devmem> makeService() const;

    // A QV_Config document with one set per block: Name, BaseAddress, Size.
    static std::string ioDevicesXml(const std::vector<RegisterBlock>& blocks);
    // The blocks an IO devices file names; throws when it cannot be read.
    static std::vector<RegisterBlock> blocksIn(const std::string& ioDevicesPath);

private:
    FpgaImageContents m_contents;
    TempDir m_dir;
    std::vector<RegisterBlock> m_blocks;
    std::string m_imagePath;
    std::string m_ioDevicesPath;
    int m_fd = -1;
};

}  // namespace testsupport

#endif
