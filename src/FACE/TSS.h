#ifndef FACE_TSS_H
#define FACE_TSS_H

#include <cstdint>
#include <functional>
#include <memory>

#include "FACE/FACE_Common.h"
#include "FACE/Sequence.h"

// FACE transport services: the untyped service that owns the connections and
// the typed face that sends and receives one message type on them.
namespace FACE {
namespace TSS {

typedef String CONNECTION_NAME_TYPE;
typedef int64_t CONNECTION_ID_TYPE;
typedef int64_t MESSAGE_TYPE_GUID;
typedef int64_t MESSAGE_SIZE_TYPE;
typedef int64_t TIMEOUT_TYPE;
typedef int64_t TRANSACTION_ID_TYPE;

// What the transport knows about one received sample.
struct HEADER_TYPE {
    int64_t source_uid = 0;        // the sending writer
    int64_t destination_uid = 0;   // the receiving reader
    int64_t source_timestamp = 0;  // nanoseconds, as stamped by the writer
};

// One quality-of-service setting of the receiving endpoint, by name.
struct QoS_Element {
    String name;
    String value;
};

typedef Sequence<QoS_Element> QoS_EVENT_TYPE;

template <typename T>
using Read_Callback =
    std::function<void(CONNECTION_ID_TYPE connection_id, TRANSACTION_ID_TYPE transaction_id,
                       const T& message, const HEADER_TYPE& header, const QoS_EVENT_TYPE& qos,
                       RETURN_CODE_TYPE::Value& return_code)>;

class Base {
public:
    virtual ~Base() = default;
    virtual void Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Create_Connection(const CONNECTION_NAME_TYPE& connection_name,
                                   MESSAGE_TYPE_GUID message_type,
                                   CONNECTION_ID_TYPE& connection_id,
                                   MESSAGE_SIZE_TYPE& max_message_size,
                                   RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Destroy_Connection(CONNECTION_ID_TYPE connection_id,
                                    RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Unregister_Sender(CONNECTION_ID_TYPE connection_id,
                                   RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Unregister_Callback(CONNECTION_ID_TYPE connection_id,
                                     RETURN_CODE_TYPE::Value& return_code) = 0;
};

template <typename T>
class TypedTS {
public:
    virtual ~TypedTS() = default;
    virtual void Receive_Message(CONNECTION_ID_TYPE connection_id, TIMEOUT_TYPE timeout,
                                 TRANSACTION_ID_TYPE& transaction_id, T& message,
                                 HEADER_TYPE& header, QoS_EVENT_TYPE& qos,
                                 RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Send_Message(CONNECTION_ID_TYPE connection_id, TIMEOUT_TYPE timeout,
                              TRANSACTION_ID_TYPE& transaction_id, const T& message,
                              RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Register_Sender(CONNECTION_ID_TYPE connection_id,
                                 RETURN_CODE_TYPE::Value& return_code) = 0;
    virtual void Register_Callback(CONNECTION_ID_TYPE connection_id,
                                   const Read_Callback<T>& callback,
                                   RETURN_CODE_TYPE::Value& return_code) = 0;
};

namespace Base_Injectable {
// A component that is handed the transport service it works over.
class Injectable {
public:
    virtual ~Injectable() = default;
    virtual void Set_Reference(const String& interface_name, std::shared_ptr<Base> reference,
                               int64_t id, RETURN_CODE_TYPE::Value& return_code) = 0;
};
}  // namespace Base_Injectable

}  // namespace TSS
}  // namespace FACE

#endif
