#include "boardkit/SimDevmem.h"

#include <cstdio>

#include "boardkit/FpgaImage.h"

namespace boardkit {

SimDevmem::SimDevmem(const std::string& imagePath, const TimeBase& time, SimHost& host)
    : QV_Devmem(imagePath), m_time(time), m_host(host) {}

std::string SimDevmem::nameOf(FACE::IOSS::CONNECTION_HANDLE_TYPE handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_names.find(handle);
    return found != m_names.end() ? found->second : std::string();
}

void SimDevmem::Open_Connection(const FACE::String& name, FACE::IOSS::TIMEOUT_TYPE timeout,
                                FACE::IOSS::CONNECTION_HANDLE_TYPE& handle, FACE::RETURN_CODE_TYPE::Value& code) {
    QV_Devmem::Open_Connection(name, timeout, handle, code);
    if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_names[handle] = name.str();
        if (name.str() == fpgablock::kTimestamp) {
            m_timestamp.store(handle);
        }
    }
}

void SimDevmem::Read(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
                     READ_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) {
    QV_Devmem::Read(handle, timeout, data, code);
    if (code == FACE::RETURN_CODE_TYPE::NO_ERROR && handle == m_timestamp.load() &&
        data.offset == fpgablock::kSystemCountOffset && data.width == 64) {
        const int64_t now = m_time.nowNs();
        data.value = TimeBase::ticksAt(now);
        m_host.counterRead(now);
    }
}

void SimDevmem::Write(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
                      const WRITE_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) {
    QV_Devmem::Write(handle, timeout, data, code);
    char text[160];
    std::snprintf(text, sizeof(text), "FPGA %s word 0x%X (index %u) = 0x%llX%s", nameOf(handle).c_str(),
                  data.offset, data.offset / 4u, static_cast<unsigned long long>(data.value),
                  code == FACE::RETURN_CODE_TYPE::NO_ERROR ? "" : " (refused)");
    report(text);
}

}  // namespace boardkit
