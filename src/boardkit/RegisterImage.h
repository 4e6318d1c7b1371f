#ifndef BOARDKIT_REGISTERIMAGE_H
#define BOARDKIT_REGISTERIMAGE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FACE/QV_Devmem.h"
#include "boardkit/FpgaImage.h"
#include "boardkit/TempDir.h"

namespace boardkit {

// What the FPGA holds when the image is made, and where its blocks lie: as
// ioDevicesFile names them, by default the example file of config/ (two PTFE
// blocks; PTFE 1 does not start on a page boundary).
struct FpgaImageContents : FpgaContents {
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

    const std::string& imagePath() const { return m_image->path(); }
    const std::string& ioDevicesPath() const { return m_ioDevicesPath; }
    const RegisterBlock& block(const std::string& name) const { return m_image->block(name); }
    // Mappings of the image in this process, from the kernel's own table.
    int mappings() const;

    // width in bits, 8 to 64; at a physical address, or from a block's base.
    uint64_t peekAt(uint64_t address, unsigned width) const { return m_image->peekAt(address, width); }
    void pokeAt(uint64_t address, unsigned width, uint64_t value) { m_image->pokeAt(address, width, value); }
    uint64_t peek(const std::string& name, uint32_t offset, unsigned width = 32) const {
        return m_image->peek(name, offset, width);
    }
    void poke(const std::string& name, uint32_t offset, unsigned width, uint64_t value) {
        m_image->poke(name, offset, width, value);
    }

private:
    TempDir m_dir;
    std::string m_ioDevicesPath;
    std::unique_ptr<FpgaImage> m_image;
};

}  // namespace boardkit

#endif
