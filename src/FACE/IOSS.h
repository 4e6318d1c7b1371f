#ifndef FACE_IOSS_H
#define FACE_IOSS_H

#include <cstdint>

#include "FACE/FACE_Common.h"
#include "FACE/Sequence.h"

// FACE I/O services: the types shared by every IO service and the
// physical-memory ("Devmem") service interface.
namespace FACE {
namespace IOSS {

typedef int64_t CONNECTION_HANDLE_TYPE;
typedef int64_t TIMEOUT_TYPE;
typedef uint16_t BUS_STATUS_TYPE;

constexpr CONNECTION_HANDLE_TYPE NO_CONNECTION = -1;

// One alternative per table row: discriminator, accessor name, member type.
#define FACE_IOSS_PARAMETER_ALTERNATIVES(X) \
    X(0, short_value, int16_t)              \
    X(1, long_value, int32_t)               \
    X(2, longlong_value, int64_t)           \
    X(3, ushort_value, uint16_t)            \
    X(4, ulong_value, uint32_t)             \
    X(5, ulonglong_value, uint64_t)         \
    X(6, float_value, float)                \
    X(7, double_value, double)              \
    X(8, longdouble_value, long double)     \
    X(9, char_value, int8_t)                \
    X(10, boolean_value, bool)              \
    X(11, octet_value, uint8_t)

// Tagged parameter value. The alternatives do not share storage, so reading
// the wrong one can never reinterpret bytes; the verifying getters refuse it.
class IO_PARAMETER_VALUE_TYPE {
public:
    typedef int32_t DISCRIMINATOR_TYPE;
    enum RETURN_CODE : uint32_t { NO_ERROR = 0, INVALID_DISCRIMINATOR = 1 };

    DISCRIMINATOR_TYPE descriminator() const { return m_discriminator; }

#define FACE_IOSS_ACCESSORS(tag, name, type)          \
    void name(type value) {                           \
        m_##name = value;                             \
        m_discriminator = tag;                        \
    }                                                 \
    type& name() {                                    \
        m_discriminator = tag;                        \
        return m_##name;                              \
    }                                                 \
    void name(type& value, RETURN_CODE& code) const { \
        if (m_discriminator != tag) {                 \
            code = INVALID_DISCRIMINATOR;             \
            return;                                   \
        }                                             \
        value = m_##name;                             \
        code = NO_ERROR;                              \
    }
    FACE_IOSS_PARAMETER_ALTERNATIVES(FACE_IOSS_ACCESSORS)
#undef FACE_IOSS_ACCESSORS

private:
    DISCRIMINATOR_TYPE m_discriminator = 0;
#define FACE_IOSS_MEMBER(tag, name, type) type m_##name{};
    FACE_IOSS_PARAMETER_ALTERNATIVES(FACE_IOSS_MEMBER)
#undef FACE_IOSS_MEMBER
};

#undef FACE_IOSS_PARAMETER_ALTERNATIVES

struct IO_PARAMETER_TYPE {
    uint16_t id = 0;
    IO_PARAMETER_VALUE_TYPE value;
};

typedef Sequence<IO_PARAMETER_TYPE> IO_PARAMETER_TRANSACTION_TYPE;

struct CONNECTION_STATUS_TYPE {
    int64_t reserved = 0;
    bool connected = false;
    uint32_t state = 0;
};

typedef void (*IO_Callback)(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value status);

namespace Devmem {

using IOSS::CONNECTION_STATUS_TYPE;
using IOSS::IO_Callback;
using IOSS::IO_PARAMETER_TRANSACTION_TYPE;

// Reads and writes of 8 to 64 bit quantities inside named windows of
// physical memory.
class IO_Service {
public:
    struct READ_PAYLOAD_TYPE {
        int64_t reserved = 0;
        uint32_t offset = 0;  // bytes from the window's base
        uint8_t width = 0;    // bits: 8, 16, 32 or 64
        uint64_t value = 0;   // zero-extended
    };
    struct WRITE_PAYLOAD_TYPE {
        uint32_t offset = 0;
        uint8_t width = 0;
        uint64_t value = 0;  // only the low `width` bits are written
    };

    virtual ~IO_Service() = default;
    virtual void Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Open_Connection(const String& name, TIMEOUT_TYPE timeout,
                                 CONNECTION_HANDLE_TYPE& handle, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Close_Connection(CONNECTION_HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Read(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout, READ_PAYLOAD_TYPE& data,
                      RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Write(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                       const WRITE_PAYLOAD_TYPE& data, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Configure_Connection_Parameters(CONNECTION_HANDLE_TYPE handle,
                                                 TIMEOUT_TYPE timeout,
                                                 const IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                                 RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Get_Connection_Configuration(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                              IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                              RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Configure_Bus_Parameters(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                          const IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                          RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Get_Bus_Configuration(CONNECTION_HANDLE_TYPE handle, TIMEOUT_TYPE timeout,
                                       IO_PARAMETER_TRANSACTION_TYPE& parameters,
                                       RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Get_Connection_Status(CONNECTION_HANDLE_TYPE handle,
                                       CONNECTION_STATUS_TYPE& status,
                                       RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Get_Bus_Status(CONNECTION_HANDLE_TYPE handle, BUS_STATUS_TYPE& status,
                                RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Register_Notification_Event(CONNECTION_HANDLE_TYPE handle, IO_Callback callback,
                                             RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Unregister_Notification_Event(CONNECTION_HANDLE_TYPE handle,
                                               RETURN_CODE_TYPE::Value& code) = 0;
};

}  // namespace Devmem
}  // namespace IOSS
}  // namespace FACE

#endif
