// Register addresses may lie above 2 GiB: file offsets must be 64 bits wide.
#define _FILE_OFFSET_BITS 64

#include "support/RegisterImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <tinyxml2.h>

#include "FACE/QV_Config.h"

namespace testsupport {

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::QV_Devmem;

// Register bytes as the CPU stores them: the host is little-endian, like the target.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "register images are little-endian");

namespace {

const char* textOf(const tinyxml2::XMLElement* parent, const char* name) {
    const tinyxml2::XMLElement* e = parent != nullptr ? parent->FirstChildElement(name) : nullptr;
    return e != nullptr && e->GetText() != nullptr ? e->GetText() : "";
}

std::vector<RegisterBlock> blocksIn(const std::string& ioDevicesPath) {
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

// Logs each write it is asked for, named by the connection it used.
class RecordingDevmem : public QV_Devmem {
public:
    RecordingDevmem(const std::string& device, std::vector<std::string>& log)
        : QV_Devmem(device), m_log(log) {}

    void Open_Connection(const FACE::String& name, FACE::IOSS::TIMEOUT_TYPE timeout,
                         CONNECTION_HANDLE_TYPE& handle,
                         FACE::RETURN_CODE_TYPE::Value& code) override {
        QV_Devmem::Open_Connection(name, timeout, handle, code);
        m_names[handle] = name.str();
    }
    void Write(CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
               const WRITE_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) override {
        QV_Devmem::Write(handle, timeout, data, code);
        char text[128];
        std::snprintf(text, sizeof text, "%s@0x%X/%u=0x%llX", m_names[handle].c_str(), data.offset,
                      data.width, static_cast<unsigned long long>(data.value));
        m_log.push_back(text);
    }

private:
    std::vector<std::string>& m_log;
    std::map<CONNECTION_HANDLE_TYPE, std::string> m_names;
};

}  // namespace

RegisterImage::RegisterImage(const FpgaImageContents& c)
    : m_ioDevicesPath(c.ioDevicesFile.empty() ? CHRONAVEL_EXAMPLE_IO_DEVICES : c.ioDevicesFile) {
    m_blocks = blocksIn(m_ioDevicesPath);
    uint64_t end = 0;
    std::ostringstream xml;
    xml << std::hex << std::showbase << "<QV_Configurations>\n";
    for (const RegisterBlock& b : m_blocks) {
        end = std::max(end, uint64_t{b.baseAddress} + b.size);
        if (std::find(c.omit.begin(), c.omit.end(), b.name) == c.omit.end()) {
            xml << "<IODevice><Name>" << b.name << "</Name><Parameters><BaseAddress>"
                << b.baseAddress << "</BaseAddress><Size>" << b.size
                << "</Size></Parameters></IODevice>\n";
        }
    }
    if (!c.omit.empty()) {
        m_ioDevicesPath = m_dir.write("IODevices.xml", xml.str() + "</QV_Configurations>\n");
    }

    // A mapping ends at most one page past the page that holds its window's
    // end. The name is new to the process: the IO service keeps the
    // descriptor of every device path it has opened.
    static std::atomic<unsigned> images{0};
    m_imagePath = m_dir.file("fpga-" + std::to_string(images++) + ".img");
    m_fd = ::open(m_imagePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>((end / 4096 + 1) * 4096)) != 0) {
        throw std::runtime_error("cannot create register image " + m_imagePath);
    }
    const uint64_t counts[] = {c.clockRate, c.uartCount, c.ptfeCount, c.pulseCount, c.periphCount};
    for (uint32_t i = 0; i < 5; ++i) poke(fpgablock::kTimestamp, 8 * i, 64, counts[i]);
    poke(fpgablock::kTimestamp, 0x80, 64, c.systemCount);
    for (uint32_t i = 0; i < 8; ++i) poke(fpgablock::kProcessor, 4 * i, 32, c.identity[i]);
}

RegisterImage::~RegisterImage() { ::close(m_fd); }

const RegisterBlock& RegisterImage::block(const std::string& name) const {
    for (const RegisterBlock& b : m_blocks) {
        if (b.name == name) {
            return b;
        }
    }
    throw std::invalid_argument("no register block " + name);
}

int RegisterImage::mappings() const {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) count += line.find(m_imagePath) != line.npos;
    return count;
}

uint64_t RegisterImage::peekAt(uint64_t address, unsigned width) const {
    uint64_t value = 0;
    const ssize_t n = width / 8;
    if (width > 64 || ::pread(m_fd, &value, n, static_cast<off_t>(address)) != n) {
        throw std::runtime_error("register image read failed");
    }
    return value;
}

void RegisterImage::pokeAt(uint64_t address, unsigned width, uint64_t value) {
    const ssize_t n = width / 8;
    if (width > 64 || ::pwrite(m_fd, &value, n, static_cast<off_t>(address)) != n) {
        throw std::runtime_error("register image write failed");
    }
}

std::shared_ptr<QV_Devmem> RegisterImage::makeService(bool recording) {
    std::shared_ptr<QV_Devmem> service =
        recording ? std::make_shared<RecordingDevmem>(m_imagePath, writes)
                  : std::make_shared<QV_Devmem>(m_imagePath);
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    service->Set_Reference("IODevices", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(m_ioDevicesPath.c_str(), code);
    if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        throw std::runtime_error("cannot set up the IO service on " + m_ioDevicesPath);
    }
    return service;
}

}  // namespace testsupport
