#include "FACE/QV_Devmem.h"

#include <utility>

#include "FACE/QV_Config_Helpers.h"

namespace FACE {
namespace IOSS {

namespace {

constexpr uint16_t kBaseAddressId = 0;
constexpr uint16_t kSizeId = 1;

// Only the low 32 bits of a window's number are kept. Text that is no
// number at all is refused rather than read as 0, which would map the bottom
// of physical memory.
bool parseWindowValue(const std::string& text, uint32_t& value) {
    uint64_t number = 0;
    if (!QV_Config_Helpers::ParseUnsigned(text, UINT64_MAX, number)) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

uint32_t widthInBytes(uint8_t width) {
    switch (width) {
        case 8:
            return 1;
        case 16:
            return 2;
        case 32:
            return 4;
        case 64:
            return 8;
        default:
            return 0;
    }
}

// The address of n bytes at offset inside the window, or null when they do
// not lie wholly inside it or are not naturally aligned (the FPGA's device
// memory faults on misaligned accesses). Written so that no sum can wrap.
uint8_t* accessAddress(const QV_Devmem::Connection_t& c, uint32_t offset, uint32_t n) {
    if (n == 0 || n > c.size || offset > c.size - n) {
        return nullptr;
    }
    uint8_t* address = c.basePointer + offset;
    if ((reinterpret_cast<uintptr_t>(address) & (n - 1u)) != 0) {
        return nullptr;
    }
    return address;
}

// A full hardware barrier (dmb on ARM). The builtin rather than
// std::atomic_thread_fence, which ThreadSanitizer builds refuse.
inline void fullBarrier() { __sync_synchronize(); }

template <typename T>
inline uint64_t load(const uint8_t* address) {
    fullBarrier();
    const T value = *reinterpret_cast<const volatile T*>(address);
    fullBarrier();
    return value;
}

template <>
inline uint64_t load<uint64_t>(const uint8_t* address) {
    const uint64_t value =
        __atomic_load_n(reinterpret_cast<const volatile uint64_t*>(address), __ATOMIC_RELAXED);
    fullBarrier();
    return value;
}

template <typename T>
inline void store(uint8_t* address, uint64_t value) {
    fullBarrier();
    *reinterpret_cast<volatile T*>(address) = static_cast<T>(value);
    fullBarrier();
}

template <>
inline void store<uint64_t>(uint8_t* address, uint64_t value) {
    *reinterpret_cast<volatile uint64_t*>(address) = value;
}

}  // namespace

void QV_Devmem::Connection_t::open(const std::string& device) {
    state = OPENING;
    try {
        std::unique_ptr<MemoryMap> fresh(new MemoryMap(baseAddress, size, device));
        map = std::move(fresh);
        state = MAPPED;
        basePointer = map->getPointerToBase();
    } catch (...) {
        map.reset();
        state = FAILED;
        basePointer = nullptr;
    }
    isOpen = true;
}

void QV_Devmem::Connection_t::close() {
    map.reset();
    state = CLOSED;
    basePointer = nullptr;
    isOpen = false;
}

QV_Devmem::QV_Devmem(std::string device) : m_device(std::move(device)) {}

QV_Devmem::~QV_Devmem() {
    for (Connection_t& c : m_connections) {
        if (c.isOpen) {
            c.close();
        }
    }
}

void QV_Devmem::Set_Reference(const String& /*interface_name*/,
                              std::shared_ptr<Configuration> reference, int64_t /*id*/,
                              RETURN_CODE_TYPE::Value& code) {
    if (m_configuration) {
        code = RETURN_CODE_TYPE::NOT_AVAILABLE;
        return;
    }
    if (!reference) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    m_configuration = std::move(reference);
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& code) {
    if (m_initialized) {
        code = RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    if (!m_configuration) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    RETURN_CODE_TYPE::Value configCode = RETURN_CODE_TYPE::NO_ERROR;
    m_configuration->Initialize(configuration_name, configCode);
    if (configCode != RETURN_CODE_TYPE::NO_ERROR && configCode != RETURN_CODE_TYPE::NO_ACTION) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    m_initialized = true;
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Open_Connection(const String& name, TIMEOUT_TYPE /*timeout*/,
                                CONNECTION_HANDLE_TYPE& handle, RETURN_CODE_TYPE::Value& code) {
    handle = NO_CONNECTION;
    const std::string connectionName = name.str();

    for (size_t i = 0; i < m_connections.size(); ++i) {
        Connection_t& c = m_connections[i];
        if (c.name == connectionName) {
            if (!c.isOpen) {
                c.open(m_device);
            }
            handle = static_cast<CONNECTION_HANDLE_TYPE>(i);
            code = RETURN_CODE_TYPE::NO_ERROR;
            return;
        }
    }

    if (!m_configuration) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    Configuration::HANDLE_TYPE set = 0;
    RETURN_CODE_TYPE::Value configCode = RETURN_CODE_TYPE::NO_ERROR;
    m_configuration->Open(String(connectionName.c_str()), set, configCode);
    if (configCode != RETURN_CODE_TYPE::NO_ERROR) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }

    const std::string baseText =
        QV_Config_Helpers::Details::Read_Config(*m_configuration, set, String("BaseAddress"));
    const std::string sizeText =
        QV_Config_Helpers::Details::Read_Config(*m_configuration, set, String("Size"));
    uint32_t baseAddress = 0;
    uint32_t size = 0;
    if (!baseText.empty() && !sizeText.empty() && parseWindowValue(baseText, baseAddress) &&
        parseWindowValue(sizeText, size)) {
        Connection_t c;
        c.name = connectionName;
        c.baseAddress = baseAddress;
        c.size = size;
        m_connections.push_back(std::move(c));
        m_connections.back().open(m_device);
        handle = static_cast<CONNECTION_HANDLE_TYPE>(m_connections.size() - 1);
        code = RETURN_CODE_TYPE::NO_ERROR;
    } else {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
    m_configuration->Close(set, configCode);
}

QV_Devmem::Connection_t* QV_Devmem::find(CONNECTION_HANDLE_TYPE handle,
                                         RETURN_CODE_TYPE::Value& code) {
    if (handle < 0 || static_cast<uint64_t>(handle) >= m_connections.size()) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return nullptr;
    }
    return &m_connections[static_cast<size_t>(handle)];
}

QV_Devmem::Connection_t* QV_Devmem::accessible(CONNECTION_HANDLE_TYPE handle,
                                               RETURN_CODE_TYPE::Value& code) {
    Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return nullptr;
    }
    if (!c->isOpen) {
        code = RETURN_CODE_TYPE::CONNECTION_CLOSED;
        return nullptr;
    }
    if (c->state != MAPPED) {
        code = RETURN_CODE_TYPE::INVALID_MODE;
        return nullptr;
    }
    return c;
}

void QV_Devmem::Close_Connection(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) {
    Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return;
    }
    if (!c->isOpen) {
        code = RETURN_CODE_TYPE::CONNECTION_CLOSED;
        return;
    }
    c->close();
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Read(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE /*timeout*/,
                     READ_PAYLOAD_TYPE& data, RETURN_CODE_TYPE::Value& code) {
    const Connection_t* c = accessible(handle, code);
    if (c == nullptr) {
        return;
    }
    // The code is stored once, after the access: a store still pending at
    // the access's barrier would make the barrier wait for it.
    const uint32_t n = widthInBytes(data.width);
    const uint8_t* address = accessAddress(*c, data.offset, n);
    if (address == nullptr) {
        code = RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    switch (n) {
        case 1:
            data.value = load<uint8_t>(address);
            break;
        case 2:
            data.value = load<uint16_t>(address);
            break;
        case 4:
            data.value = load<uint32_t>(address);
            break;
        default:
            data.value = load<uint64_t>(address);
            break;
    }
    data.reserved = 0;
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Write(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE /*timeout*/,
                      const WRITE_PAYLOAD_TYPE& data, RETURN_CODE_TYPE::Value& code) {
    const Connection_t* c = accessible(handle, code);
    if (c == nullptr) {
        return;
    }
    const uint32_t n = widthInBytes(data.width);
    uint8_t* address = accessAddress(*c, data.offset, n);
    if (address == nullptr) {
        code = RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    switch (n) {
        case 1:
            store<uint8_t>(address, data.value);
            break;
        case 2:
            store<uint16_t>(address, data.value);
            break;
        case 4:
            store<uint32_t>(address, data.value);
            break;
        default:
            store<uint64_t>(address, data.value);
            break;
    }
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Configure_Connection_Parameters(CONNECTION_HANDLE_TYPE handle,
                                                TIMEOUT_TYPE /*timeout*/,
                                                const IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                                RETURN_CODE_TYPE::Value& code) {
    Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return;
    }
    if (c->isOpen) {
        code = RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    // Collected first and stored only when every entry was understood.
    bool haveBase = false;
    bool haveSize = false;
    uint32_t baseAddress = 0;
    uint32_t size = 0;
    for (uint32_t i = 0; i < parameters.length(); ++i) {
        const IO_PARAMETER_TYPE& entry = parameters[i];
        IO_PARAMETER_VALUE_TYPE::RETURN_CODE valueCode = IO_PARAMETER_VALUE_TYPE::NO_ERROR;
        uint32_t value = 0;
        entry.value.ulong_value(value, valueCode);
        if (valueCode != IO_PARAMETER_VALUE_TYPE::NO_ERROR ||
            (entry.id != kBaseAddressId && entry.id != kSizeId)) {
            code = RETURN_CODE_TYPE::INVALID_PARAM;
            return;
        }
        if (entry.id == kBaseAddressId) {
            baseAddress = value;
            haveBase = true;
        } else {
            size = value;
            haveSize = true;
        }
    }
    if (haveBase) {
        c->baseAddress = baseAddress;
    }
    if (haveSize) {
        c->size = size;
    }
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Get_Connection_Configuration(CONNECTION_HANDLE_TYPE handle,
                                             TIMEOUT_TYPE /*timeout*/,
                                             IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                             RETURN_CODE_TYPE::Value& code) {
    const Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return;
    }
    code = RETURN_CODE_TYPE::NO_ERROR;
    for (uint32_t i = 0; i < parameters.length(); ++i) {
        IO_PARAMETER_TYPE& entry = parameters[i];
        if (entry.id == kBaseAddressId) {
            entry.value.ulong_value(c->baseAddress);
        } else if (entry.id == kSizeId) {
            entry.value.ulong_value(c->size);
        } else {
            code = RETURN_CODE_TYPE::INVALID_PARAM;
        }
    }
}

void QV_Devmem::Configure_Bus_Parameters(CONNECTION_HANDLE_TYPE /*handle*/,
                                         TIMEOUT_TYPE /*timeout*/,
                                         const IO_PARAMETER_TRANSACTION_TYPE& /*parameters*/,
                                         RETURN_CODE_TYPE::Value& code) {
    code = RETURN_CODE_TYPE::NO_ACTION;
}

void QV_Devmem::Get_Bus_Configuration(CONNECTION_HANDLE_TYPE /*handle*/, TIMEOUT_TYPE /*timeout*/,
                                      IO_PARAMETER_TRANSACTION_TYPE& /*parameters*/,
                                      RETURN_CODE_TYPE::Value& code) {
    code = RETURN_CODE_TYPE::NO_ACTION;
}

void QV_Devmem::Get_Connection_Status(CONNECTION_HANDLE_TYPE handle, CONNECTION_STATUS_TYPE& status,
                                      RETURN_CODE_TYPE::Value& code) {
    const Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return;
    }
    if (!c->isOpen) {
        code = RETURN_CODE_TYPE::CONNECTION_CLOSED;
        return;
    }
    status.reserved = 0;
    status.connected = true;
    status.state = c->state;
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Get_Bus_Status(CONNECTION_HANDLE_TYPE handle, BUS_STATUS_TYPE& status,
                               RETURN_CODE_TYPE::Value& code) {
    if (find(handle, code) == nullptr) {
        return;
    }
    status = 0;
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Devmem::Register_Notification_Event(CONNECTION_HANDLE_TYPE handle, IO_Callback /*callback*/,
                                            RETURN_CODE_TYPE::Value& code) {
    const Connection_t* c = find(handle, code);
    if (c == nullptr) {
        return;
    }
    code = c->isOpen ? RETURN_CODE_TYPE::NO_ACTION : RETURN_CODE_TYPE::CONNECTION_CLOSED;
}

void QV_Devmem::Unregister_Notification_Event(CONNECTION_HANDLE_TYPE handle,
                                              RETURN_CODE_TYPE::Value& code) {
    if (find(handle, code) == nullptr) {
        return;
    }
    code = RETURN_CODE_TYPE::NO_ACTION;
}

}  // namespace IOSS
}  // namespace FACE
