#ifndef FACE_QV_TYPEDTS_H
#define FACE_QV_TYPEDTS_H

#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>

#include <fastrtps/publisher/Publisher.h>

#include "FACE/QV_TSS.h"
#include "FACE/TSS.h"
#include "FACE/TSS_Listeners.h"

namespace FACE {
namespace TSS {
namespace Details {

// Sends samples of one message type on the connections of a QV_TSS and
// delivers received ones to a read callback on the Fast DDS threads.
template <typename T>
class QV_TypedTS : public TypedTS<T>, public Base_Injectable::Injectable {
public:
    QV_TypedTS() = default;
    ~QV_TypedTS() override = default;
    QV_TypedTS(const QV_TypedTS&) = delete;
    QV_TypedTS& operator=(const QV_TypedTS&) = delete;

    void Receive_Message(CONNECTION_ID_TYPE /*connection_id*/, TIMEOUT_TYPE /*timeout*/,
                         TRANSACTION_ID_TYPE& /*transaction_id*/, T& /*message*/, HEADER_TYPE& /*header*/,
                         QoS_EVENT_TYPE& /*qos*/, RETURN_CODE_TYPE::Value& /*return_code*/) override {
        throw std::runtime_error("QV_TypedTS::Receive_Message() is not supported.");
    }

    void Send_Message(CONNECTION_ID_TYPE connection_id, TIMEOUT_TYPE /*timeout*/,
                      TRANSACTION_ID_TYPE& /*transaction_id*/, const T& message,
                      RETURN_CODE_TYPE::Value& return_code) override {
        guarded(return_code, [&] {
            QV_TSS::Connection_t& connection = lookUp(connection_id);
            eprosima::fastrtps::Publisher* publisher = connection.publisher();
            if (publisher == nullptr) {
                return RETURN_CODE_TYPE::NOT_AVAILABLE;
            }
            // The library's write only reads the sample.
            return publisher->write(const_cast<T*>(&message)) ? RETURN_CODE_TYPE::NO_ERROR
                                                              : RETURN_CODE_TYPE::DATA_OVERFLOW;
        });
    }

    void Register_Sender(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) override {
        guarded(return_code, [&] {
            QV_TSS::Connection_t& connection = lookUp(connection_id);
            if (connection.isPublisher()) {
                return RETURN_CODE_TYPE::NO_ACTION;
            }
            m_tss->registerPublisher(connection);
            return RETURN_CODE_TYPE::NO_ERROR;
        });
    }

    // An empty callback is refused: samples for it would have nowhere to go.
    void Register_Callback(CONNECTION_ID_TYPE connection_id, const Read_Callback<T>& callback,
                           RETURN_CODE_TYPE::Value& return_code) override {
        guarded(return_code, [&] {
            QV_TSS::Connection_t& connection = lookUp(connection_id);
            if (connection.isSubscriber()) {
                return RETURN_CODE_TYPE::NO_ACTION;
            }
            if (!callback) {
                return RETURN_CODE_TYPE::INVALID_PARAM;
            }
            registerSubscriberTyped(connection_id, connection, callback);
            return RETURN_CODE_TYPE::NO_ERROR;
        });
    }

    void Set_Reference(const String& /*interface_name*/, std::shared_ptr<Base> reference, int64_t /*id*/,
                       RETURN_CODE_TYPE::Value& return_code) override {
        if (m_tssShared) {
            return_code = RETURN_CODE_TYPE::NOT_AVAILABLE;
            return;
        }
        QV_TSS* tss = dynamic_cast<QV_TSS*>(reference.get());
        if (tss == nullptr) {
            return_code = RETURN_CODE_TYPE::INVALID_PARAM;
            return;
        }
        m_tss = tss;
        m_tssShared = std::move(reference);
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    }

    void registerSubscriberTyped(CONNECTION_ID_TYPE connection_id, QV_TSS::Connection_t& connection,
                                 const Read_Callback<T>& callback) {
        m_tss->registerSubscriber(connection, std::make_unique<Listeners::SubscriberListenerTyped<T>>(
                                                  m_tss->name(), connection_id, callback));
    }

private:
    // Runs one operation with the transport's checks and turns whatever it
    // throws into a return code.
    template <typename Operation>
    void guarded(RETURN_CODE_TYPE::Value& return_code, Operation operation) {
        if (m_tss == nullptr || !m_tss->initialized()) {
            return_code = RETURN_CODE_TYPE::NOT_AVAILABLE;
            return;
        }
        try {
            return_code = operation();
        } catch (const std::out_of_range&) {
            return_code = RETURN_CODE_TYPE::INVALID_PARAM;
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return_code = RETURN_CODE_TYPE::CONNECTION_CLOSED;
        } catch (...) {
            return_code = RETURN_CODE_TYPE::NO_ACTION;
        }
    }

    QV_TSS::Connection_t& lookUp(CONNECTION_ID_TYPE connection_id) {
        return m_tss->connectionMap_mutex_at(QV_TSS::ConnectionKey(connection_id));
    }

    QV_TSS* m_tss = nullptr;
    std::shared_ptr<Base> m_tssShared;
};

}  // namespace Details
}  // namespace TSS
}  // namespace FACE

#endif
