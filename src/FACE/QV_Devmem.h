#ifndef FACE_QV_DEVMEM_H
#define FACE_QV_DEVMEM_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FACE/Configuration.h"
#include "FACE/Configuration_Injectable.h"
#include "FACE/IOSS.h"
#include "FACE/MemoryMap.h"

namespace FACE {
namespace IOSS {

// IO service over windows of physical memory. Each named connection maps the
// window that its configuration set gives ("BaseAddress", "Size"); reads and
// writes are then plain loads and stores through the mapping, without locks,
// allocation or system calls.
class QV_Devmem : public Devmem::IO_Service, public Configuration_Injectable::Injectable {
public:
    enum State : uint32_t { CLOSED = 0, OPENING = 1, MAPPED = 2, FAILED = 4 };

    struct Connection_t {
        std::string name;
        uint32_t state = CLOSED;
        uint32_t baseAddress = 0;
        uint32_t size = 0;
        bool isOpen = false;
        uint8_t* basePointer = nullptr;
        std::unique_ptr<MemoryMap> map;

        // Never fails: a mapping that cannot be made leaves the connection
        // open in state FAILED.
        void open(const std::string& device);
        void close();
    };

    // device: the memory device whose windows are mapped; a regular file
    // standing for physical memory serves simulation and tests.
    explicit QV_Devmem(std::string device = MemoryDeviceFileDescriptor::DEFAULT_DEVICE);
    ~QV_Devmem() override;
    QV_Devmem(const QV_Devmem&) = delete;
    QV_Devmem& operator=(const QV_Devmem&) = delete;

    void Set_Reference(const String& interface_name, std::shared_ptr<Configuration> reference,
                       int64_t id, RETURN_CODE_TYPE::Value& code) override;

    void Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& code) override;
    void Open_Connection(const String& name, TIMEOUT_TYPE timeout, CONNECTION_HANDLE_TYPE& handle,
                         RETURN_CODE_TYPE::Value& code) override;
    void Close_Connection(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) override;
    void Read(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout, READ_PAYLOAD_TYPE& data,
              RETURN_CODE_TYPE::Value& code) override;
    void Write(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout, const WRITE_PAYLOAD_TYPE& data,
               RETURN_CODE_TYPE::Value& code) override;
    void Configure_Connection_Parameters(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                         const IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                         RETURN_CODE_TYPE::Value& code) override;
    void Get_Connection_Configuration(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                      IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                      RETURN_CODE_TYPE::Value& code) override;
    void Configure_Bus_Parameters(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                  const IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                  RETURN_CODE_TYPE::Value& code) override;
    void Get_Bus_Configuration(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                               IO_PARAMETER_TRANSACTION_TYPE& parameters,
                               RETURN_CODE_TYPE::Value& code) override;
    void Get_Connection_Status(CONNECTION_HANDLE_TYPE handle, CONNECTION_STATUS_TYPE& status,
                               RETURN_CODE_TYPE::Value& code) override;
    void Get_Bus_Status(CONNECTION_HANDLE_TYPE handle, BUS_STATUS_TYPE& status,
                        RETURN_CODE_TYPE::Value& code) override;
    void Register_Notification_Event(CONNECTION_HANDLE_TYPE handle, IO_Callback callback,
                                     RETURN_CODE_TYPE::Value& code) override;
    void Unregister_Notification_Event(CONNECTION_HANDLE_TYPE handle,
                                       RETURN_CODE_TYPE::Value& code) override;

    const std::string& device() const { return m_device; }

private:
    // The entry for handle, or null with code INVALID_PARAM.
    Connection_t* find(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code);
    // The entry for handle when it may be accessed; otherwise null and the
    // code says why.
    Connection_t* accessible(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code);

    bool m_initialized = false;
    std::shared_ptr<Configuration> m_configuration;
    std::vector<Connection_t> m_connections;
    std::string m_device;
};

}  // namespace IOSS
}  // namespace FACE

#endif
