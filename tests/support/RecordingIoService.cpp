#include "support/RecordingIoService.h"

#include <utility>

namespace testsupport {

using FACE::IOSS::CONNECTION_HANDLE_TYPE;
using FACE::IOSS::TIMEOUT_TYPE;
using FACE::RETURN_CODE_TYPE::Value;

RecordingIoService::RecordingIoService(std::shared_ptr<FACE::IOSS::Devmem::IO_Service> inner)
    : m_inner(std::move(inner)) {}

std::vector<RecordingIoService::Access> RecordingIoService::writes() const {
    std::vector<Access> result;
    for (const Access& a : m_accesses) {
        if (a.write) {
            result.push_back(a);
        }
    }
    return result;
}

std::string RecordingIoService::blockOf(CONNECTION_HANDLE_TYPE handle) const {
    const auto it = m_names.find(handle);
    return it == m_names.end() ? "?" : it->second;
}

void RecordingIoService::Initialize(const FACE::String& name, Value& code) {
    m_inner->Initialize(name, code);
}

void RecordingIoService::Open_Connection(const FACE::String& name, TIMEOUT_TYPE timeout,
                                         CONNECTION_HANDLE_TYPE& handle, Value& code) {
    m_inner->Open_Connection(name, timeout, handle, code);
    if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        m_names[handle] = name.str();
    }
}

void RecordingIoService::Close_Connection(CONNECTION_HANDLE_TYPE handle, Value& code) {
    m_inner->Close_Connection(handle, code);
}

void RecordingIoService::Read(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                              READ_PAYLOAD_TYPE& data, Value& code) {
    m_inner->Read(handle, timeout, data, code);
    m_accesses.push_back({false, blockOf(handle), data.offset, data.width,
                          code == FACE::RETURN_CODE_TYPE::NO_ERROR ? data.value : 0u, code});
}

void RecordingIoService::Write(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                               const WRITE_PAYLOAD_TYPE& data, Value& code) {
    m_inner->Write(handle, timeout, data, code);
    m_accesses.push_back({true, blockOf(handle), data.offset, data.width, data.value, code});
}

void RecordingIoService::Configure_Connection_Parameters(
    CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
    const FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p, Value& code) {
    m_inner->Configure_Connection_Parameters(handle, timeout, p, code);
}

void RecordingIoService::Get_Connection_Configuration(CONNECTION_HANDLE_TYPE handle,
                                                      TIMEOUT_TYPE timeout,
                                                      FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                                                      Value& code) {
    m_inner->Get_Connection_Configuration(handle, timeout, p, code);
}

void RecordingIoService::Configure_Bus_Parameters(
    CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
    const FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p, Value& code) {
    m_inner->Configure_Bus_Parameters(handle, timeout, p, code);
}

void RecordingIoService::Get_Bus_Configuration(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                               FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                                               Value& code) {
    m_inner->Get_Bus_Configuration(handle, timeout, p, code);
}

void RecordingIoService::Get_Connection_Status(CONNECTION_HANDLE_TYPE handle,
                                               FACE::IOSS::CONNECTION_STATUS_TYPE& status,
                                               Value& code) {
    m_inner->Get_Connection_Status(handle, status, code);
}

void RecordingIoService::Get_Bus_Status(CONNECTION_HANDLE_TYPE handle,
                                        FACE::IOSS::BUS_STATUS_TYPE& status, Value& code) {
    m_inner->Get_Bus_Status(handle, status, code);
}

void RecordingIoService::Register_Notification_Event(CONNECTION_HANDLE_TYPE handle,
                                                     FACE::IOSS::IO_Callback callback,
                                                     Value& code) {
    m_inner->Register_Notification_Event(handle, callback, code);
}

void RecordingIoService::Unregister_Notification_Event(CONNECTION_HANDLE_TYPE handle, Value& code) {
    m_inner->Unregister_Notification_Event(handle, code);
}

}  // namespace testsupport
