// Register addresses may lie above 2 GiB: file offsets must be 64 bits wide.
#define _FILE_OFFSET_BITS 64

#include "boardkit/FpgaImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include <tinyxml2.h>

namespace boardkit {

// Register bytes as the CPU stores them: the host is little-endian, like the target.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "register images are little-endian");

namespace {

const char* textOf(const tinyxml2::XMLElement* parent, const char* name) {
    const tinyxml2::XMLElement* e = parent != nullptr ? parent->FirstChildElement(name) : nullptr;
    return e != nullptr && e->GetText() != nullptr ? e->GetText() : "";
}

}  // namespace

std::vector<RegisterBlock> readIoDevices(const std::string& ioDevicesPath) {
    tinyxml2::XMLDocument doc;
    doc.LoadFile(ioDevicesPath.c_str());
    const tinyxml2::XMLElement* root = doc.FirstChildElement("QV_Configurations");
    if (root == nullptr) {
        throw std::runtime_error("cannot read IO devices file " + ioDevicesPath);
    }
    std::vector<RegisterBlock> blocks;
    for (auto* set = root->FirstChildElement(); set != nullptr; set = set->NextSiblingElement()) {
        const tinyxml2::XMLElement* parameters = set->FirstChildElement("Parameters");
        auto number = [parameters](const char* name) {
            return static_cast<uint32_t>(std::strtoull(textOf(parameters, name), nullptr, 0));
        };
        blocks.push_back({textOf(set, "Name"), number("BaseAddress"), number("Size")});
    }
    return blocks;
}

FpgaImage::FpgaImage(const std::string& path, std::vector<RegisterBlock> blocks, const FpgaContents& c)
    : m_path(path), m_blocks(std::move(blocks)) {
    uint64_t end = 0;
    for (const RegisterBlock& b : m_blocks) {
        end = std::max(end, uint64_t{b.baseAddress} + b.size);
    }
    // A mapping ends at most one page past the page that holds its window's end.
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>((end / 4096 + 1) * 4096)) != 0) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        throw std::runtime_error("cannot create register image " + m_path);
    }
    const uint64_t counts[] = {c.clockRate, c.uartCount, c.ptfeCount, c.pulseCount, c.periphCount};
    for (uint32_t i = 0; i < 5; ++i) {
        poke(fpgablock::kTimestamp, 8 * i, 64, counts[i]);
    }
    poke(fpgablock::kTimestamp, fpgablock::kSystemCountOffset, 64, c.systemCount);
    for (uint32_t i = 0; i < 8; ++i) {
        poke(fpgablock::kProcessor, 4 * i, 32, c.identity[i]);
    }
}

FpgaImage::~FpgaImage() {
    ::close(m_fd);
}

const RegisterBlock& FpgaImage::block(const std::string& name) const {
    for (const RegisterBlock& b : m_blocks) {
        if (b.name == name) {
            return b;
        }
    }
    throw std::invalid_argument("no register block " + name);
}

uint64_t FpgaImage::peekAt(uint64_t address, unsigned width) const {
    uint64_t value = 0;
    const ssize_t n = width / 8;
    if (width > 64 || ::pread(m_fd, &value, static_cast<size_t>(n), static_cast<off_t>(address)) != n) {
        throw std::runtime_error("register image read failed");
    }
    return value;
}

void FpgaImage::pokeAt(uint64_t address, unsigned width, uint64_t value) {
    const ssize_t n = width / 8;
    if (width > 64 || ::pwrite(m_fd, &value, static_cast<size_t>(n), static_cast<off_t>(address)) != n) {
        throw std::runtime_error("register image write failed");
    }
}

}  // namespace boardkit
