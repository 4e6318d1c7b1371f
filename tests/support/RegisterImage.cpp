// Register addresses may lie above 2 GiB: file offsets must be 64 bits wide.
#define _FILE_OFFSET_BITS 64

#include "support/RegisterImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <tinyxml2.h>

#include "FACE/QV_Config.h"

namespace testsupport {

namespace fpgablock {
std::string ptfe(uint32_t index) { return "Ptfe_Interface" + std::to_string(index); }
std::string pulseGen(uint32_t index) { return "PulseGen_Interface" + std::to_string(index); }
}  // namespace fpgablock

namespace {

constexpr uint64_t kPage = 4096;
constexpr uint32_t kMaxPtfeBlocks = 64;

// Offsets of the timestamp block that the image is made with.
constexpr uint32_t kClockRate = 0x00;
constexpr uint32_t kUartCount = 0x08;
constexpr uint32_t kPtfeCount = 0x10;
constexpr uint32_t kPulseCount = 0x18;
constexpr uint32_t kPeriphCount = 0x20;
constexpr uint32_t kSystemCount = 0x80;

unsigned bytesOf(unsigned width) {
    if (width != 8 && width != 16 && width != 32 && width != 64) {
        throw std::invalid_argument("register width must be 8, 16, 32 or 64");
    }
    return width / 8;
}

std::string hex(uint32_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

// Never repeats within the process, so a cached device descriptor can never
// refer to an older image at the same path.
std::string uniqueImageName() {
    static std::atomic<unsigned> counter{0};
    return "fpga-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".img";
}

}  // namespace

uint32_t asciiWord(const char* chars) {
    uint32_t word = 0;
    for (unsigned i = 0; i < 4; ++i) {
        word <<= 8;
        if (chars != nullptr && chars[0] != '\0') {
            word |= static_cast<unsigned char>(*chars++);
        }
    }
    return word;
}

std::vector<RegisterBlock> RegisterImage::standardLayout(uint32_t ptfeBlocks) {
    std::vector<RegisterBlock> blocks = {
        {fpgablock::kProcessor, 0x00010000u, 0x20u},
        {fpgablock::kPeripheral, 0x00011000u, 0x100u},
        {fpgablock::kTimestamp, 0x00012000u, 0x1000u},
        {fpgablock::kPpsSlave, 0x00013000u, 0x100u},
        {fpgablock::kPtpClock, 0x00014000u, 0x100u},
    };
    for (uint32_t i = 0; i < ptfeBlocks; ++i) {
        blocks.push_back({fpgablock::ptfe(i), 0x00020000u + 0x400u * i, 0x200u});
        blocks.push_back({fpgablock::pulseGen(i), 0x00040000u + 0x100u * i, 0x40u});
    }
    return blocks;
}

std::string RegisterImage::ioDevicesXml(const std::vector<RegisterBlock>& blocks) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QV_Configurations>\n";
    for (const RegisterBlock& b : blocks) {
        xml << "  <IODevice>\n    <Name>" << b.name << "</Name>\n    <Parameters>\n"
            << "      <BaseAddress>" << hex(b.baseAddress) << "</BaseAddress>\n"
            << "      <Size>" << hex(b.size) << "</Size>\n    </Parameters>\n  </IODevice>\n";
    }
    xml << "</QV_Configurations>\n";
    return xml.str();
}

std::vector<RegisterBlock> RegisterImage::blocksIn(const std::string& ioDevicesPath) {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(ioDevicesPath.c_str()) != tinyxml2::XML_SUCCESS ||
        doc.FirstChildElement("QV_Configurations") == nullptr) {
        throw std::runtime_error("cannot read IO devices file " + ioDevicesPath);
    }
    auto text = [](const tinyxml2::XMLElement* e, const char* name) -> const char* {
        const tinyxml2::XMLElement* child = e != nullptr ? e->FirstChildElement(name) : nullptr;
        return child != nullptr && child->GetText() != nullptr ? child->GetText() : nullptr;
    };
    std::vector<RegisterBlock> blocks;
    for (const tinyxml2::XMLElement* set =
             doc.FirstChildElement("QV_Configurations")->FirstChildElement();
         set != nullptr; set = set->NextSiblingElement()) {
        const tinyxml2::XMLElement* parameters = set->FirstChildElement("Parameters");
        const char* name = text(set, "Name");
        const char* base = text(parameters, "BaseAddress");
        const char* size = text(parameters, "Size");
        if (name != nullptr && base != nullptr && size != nullptr) {
            blocks.push_back({name, static_cast<uint32_t>(std::strtoull(base, nullptr, 0)),
                              static_cast<uint32_t>(std::strtoull(size, nullptr, 0))});
        }
    }
    return blocks;
}

RegisterImage::RegisterImage(FpgaImageContents contents) : m_contents(std::move(contents)) {
    if (!m_contents.ioDevicesFile.empty()) {
        m_blocks = blocksIn(m_contents.ioDevicesFile);
    } else if (m_contents.blocks.empty()) {
        const uint32_t pairs = m_contents.ptfeBlocks >= 0
                                   ? static_cast<uint32_t>(m_contents.ptfeBlocks)
                                   : static_cast<uint32_t>(m_contents.ptfeCount);
        m_blocks = standardLayout(std::min(pairs, kMaxPtfeBlocks));
    } else {
        m_blocks = m_contents.blocks;
    }

    std::vector<RegisterBlock> listed;
    uint64_t end = 0;
    for (const RegisterBlock& b : m_blocks) {
        end = std::max(end, uint64_t{b.baseAddress} + b.size);
        if (std::find(m_contents.omit.begin(), m_contents.omit.end(), b.name) ==
            m_contents.omit.end()) {
            listed.push_back(b);
        }
    }
    m_ioDevicesPath = m_contents.ioDevicesFile.empty()
                          ? m_dir.write("IODevices.xml", ioDevicesXml(listed))
                          : m_contents.ioDevicesFile;

    // Mappings may reach one page past a window's last page; the file covers
    // that too so that no access in a window can fall beyond its end.
    const uint64_t fileSize = (end + kPage - 1) / kPage * kPage + kPage;
    m_imagePath = m_dir.file(uniqueImageName());
    m_fd = ::open(m_imagePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(fileSize)) != 0) {
        throw std::runtime_error("cannot create register image " + m_imagePath);
    }

    auto has = [this](const char* name) {
        return std::any_of(m_blocks.begin(), m_blocks.end(),
                           [name](const RegisterBlock& b) { return b.name == name; });
    };
    if (has(fpgablock::kTimestamp)) {
        poke(fpgablock::kTimestamp, kClockRate, 64, m_contents.clockRate);
        poke(fpgablock::kTimestamp, kUartCount, 64, m_contents.uartCount);
        poke(fpgablock::kTimestamp, kPtfeCount, 64, m_contents.ptfeCount);
        poke(fpgablock::kTimestamp, kPulseCount, 64, m_contents.pulseCount);
        poke(fpgablock::kTimestamp, kPeriphCount, 64, m_contents.periphCount);
        poke(fpgablock::kTimestamp, kSystemCount, 64, m_contents.systemCount);
    }
    if (has(fpgablock::kProcessor)) {
        for (uint32_t i = 0; i < m_contents.identity.size(); ++i) {
            poke(fpgablock::kProcessor, 4 * i, 32, m_contents.identity[i]);
        }
    }
}

RegisterImage::~RegisterImage() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

const RegisterBlock& RegisterImage::block(const std::string& name) const {
    for (const RegisterBlock& b : m_blocks) {
        if (b.name == name) {
            return b;
        }
    }
    throw std::invalid_argument("no register block " + name);
}

uint64_t RegisterImage::peekAt(uint64_t address, unsigned width) const {
    const unsigned n = bytesOf(width);
    unsigned char bytes[8] = {};
    if (::pread(m_fd, bytes, n, static_cast<off_t>(address)) != static_cast<ssize_t>(n)) {
        throw std::runtime_error("register image read failed");
    }
    uint64_t value = 0;
    for (unsigned i = n; i-- > 0;) {  // little-endian, as the CPU stores it
        value = (value << 8) | bytes[i];
    }
    return value;
}

void RegisterImage::pokeAt(uint64_t address, unsigned width, uint64_t value) {
    const unsigned n = bytesOf(width);
    unsigned char bytes[8];
    for (unsigned i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
    if (::pwrite(m_fd, bytes, n, static_cast<off_t>(address)) != static_cast<ssize_t>(n)) {
        throw std::runtime_error("register image write failed");
    }
}

uint64_t RegisterImage::peek(const std::string& name, uint32_t offset, unsigned width) const {
    return peekAt(uint64_t{block(name).baseAddress} + offset, width);
}

void RegisterImage::poke(const std::string& name, uint32_t offset, unsigned width, uint64_t value) {
    pokeAt(uint64_t{block(name).baseAddress} + offset, width, value);
}

std::shared_ptr<FACE::IOSS::QV_Devmem> RegisterImage::makeService() const {
    auto service = std::make_shared<FACE::IOSS::QV_Devmem>(m_imagePath);
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    service->Set_Reference("IODevices", std::make_shared<FACE::QV_Config>(), 0, code);
    if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        service->Initialize(m_ioDevicesPath.c_str(), code);
    }
    if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        throw std::runtime_error("cannot set up the IO service on " + m_ioDevicesPath);
    }
    return service;
}

}  // namespace testsupport
