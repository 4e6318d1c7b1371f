#include "boardkit/RegisterImage.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "FACE/QV_Config.h"

namespace boardkit {

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::QV_Devmem;

namespace {

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
    std::vector<RegisterBlock> blocks = boardkit::readIoDevices(m_ioDevicesPath);
    if (!c.omit.empty()) {
        std::ostringstream xml;
        xml << std::hex << std::showbase << "<QV_Configurations>\n";
        for (const RegisterBlock& b : blocks) {
            if (std::find(c.omit.begin(), c.omit.end(), b.name) == c.omit.end()) {
                xml << "<IODevice><Name>" << b.name << "</Name><Parameters><BaseAddress>" << b.baseAddress
                    << "</BaseAddress><Size>" << b.size << "</Size></Parameters></IODevice>\n";
            }
        }
        m_ioDevicesPath = m_dir.write("IODevices.xml", xml.str() + "</QV_Configurations>\n");
    }
    // The name is new to the process: the IO service keeps the descriptor of
    // every device path it has opened.
    static std::atomic<unsigned> images{0};
    m_image = std::make_unique<boardkit::FpgaImage>(m_dir.file("fpga-" + std::to_string(images++) + ".img"),
                                               std::move(blocks), c);
}

RegisterImage::~RegisterImage() = default;

int RegisterImage::mappings() const {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) count += line.find(imagePath()) != line.npos;
    return count;
}

std::shared_ptr<QV_Devmem> RegisterImage::makeService(bool recording) {
    std::shared_ptr<QV_Devmem> service =
        recording ? std::make_shared<RecordingDevmem>(imagePath(), writes)
                  : std::make_shared<QV_Devmem>(imagePath());
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    service->Set_Reference("IODevices", std::make_shared<FACE::QV_Config>(), 0, code);
    service->Initialize(m_ioDevicesPath.c_str(), code);
    if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        throw std::runtime_error("cannot set up the IO service on " + m_ioDevicesPath);
    }
    return service;
}

}  // namespace boardkit
