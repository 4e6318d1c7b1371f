#ifndef TESTS_SUPPORT_RECORDINGIOSERVICE_H
#define TESTS_SUPPORT_RECORDINGIOSERVICE_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FACE/IOSS.h"

namespace testsupport {

// An IO service that passes every call to another one and records the
// register accesses, named by the block whose connection they used, so a
// test can check the order of a read-modify-write sequence.
class RecordingIoService : public FACE::IOSS::Devmem::IO_Service {
public:
    struct Access {
        bool write;
        std::string block;  // connection name, "?" for an unknown handle
        uint32_t offset;
        unsigned width;
        uint64_t value;  // the value written, or read (when the read succeeded)
        FACE::RETURN_CODE_TYPE::Value code;
    };

    explicit RecordingIoService(std::shared_ptr<FACE::IOSS::Devmem::IO_Service> inner);

    const std::vector<Access>& accesses() const { return m_accesses; }
    std::vector<Access> writes() const;
    void clear() { m_accesses.clear(); }

    void Initialize(const FACE::String& name, FACE::RETURN_CODE_TYPE::Value& code) override;
    void Open_Connection(const FACE::String& name, FACE::IOSS::TIMEOUT_TYPE timeout,
                         FACE::IOSS::CONNECTION_HANDLE_TYPE& handle,
                         FACE::RETURN_CODE_TYPE::Value& code) override;
    void Close_Connection(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                          FACE::RETURN_CODE_TYPE::Value& code) override;
    void Read(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
              READ_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) override;
    void Write(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
               const WRITE_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) override;
    void Configure_Connection_Parameters(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                                         FACE::IOSS::TIMEOUT_TYPE timeout,
                                         const FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                                         FACE::RETURN_CODE_TYPE::Value& code) override;
    void Get_Connection_Configuration(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                                      FACE::IOSS::TIMEOUT_TYPE timeout,
                                      FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                                      FACE::RETURN_CODE_TYPE::Value& code) override;
    void Configure_Bus_Parameters(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                                  FACE::IOSS::TIMEOUT_TYPE timeout,
                                  const FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                                  FACE::RETURN_CODE_TYPE::Value& code) override;
    void Get_Bus_Configuration(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                               FACE::IOSS::TIMEOUT_TYPE timeout,
                               FACE::IOSS::IO_PARAMETER_TRANSACTION_TYPE& p,
                               FACE::RETURN_CODE_TYPE::Value& code) override;
    void Get_Connection_Status(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                               FACE::IOSS::CONNECTION_STATUS_TYPE& status,
                               FACE::RETURN_CODE_TYPE::Value& code) override;
    void Get_Bus_Status(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                        FACE::IOSS::BUS_STATUS_TYPE& status,
                        FACE::RETURN_CODE_TYPE::Value& code) override;
    void Register_Notification_Event(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                                     FACE::IOSS::IO_Callback callback,
                                     FACE::RETURN_CODE_TYPE::Value& code) override;
    void Unregister_Notification_Event(FACE::IOSS::CONNECTION_HANDLE_TYPE handle,
                                       FACE::RETURN_CODE_TYPE::Value& code) override;

private:
    std::string blockOf(FACE::IOSS::CONNECTION_HANDLE_TYPE handle) const;

    std::shared_ptr<FACE::IOSS::Devmem::IO_Service> m_inner;
    std::map<FACE::IOSS::CONNECTION_HANDLE_TYPE, std::string> m_names;
    std::vector<Access> m_accesses;
};

}  // namespace testsupport

#endif
