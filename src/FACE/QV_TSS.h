#ifndef FACE_QV_TSS_H
#define FACE_QV_TSS_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <fastdds/dds/topic/TopicDataType.hpp>

#include "FACE/Configuration.h"
#include "FACE/Configuration_Injectable.h"
#include "FACE/TSS.h"
#include "FACE/TSS_Attributes.h"
#include "FACE/TSS_Listeners.h"
#include "FACE/TSS_Security.h"

namespace eprosima {
namespace fastrtps {
class Participant;
class Publisher;
class Subscriber;
}  // namespace fastrtps
}  // namespace eprosima

namespace FACE {
namespace TSS {

// The transport service of the process: one DDS participant and the named
// connections made on it. Connections are never removed before the service
// itself goes away, so a reference to one stays valid for its lifetime.
class QV_TSS : public Base, public Configuration_Injectable::Injectable {
public:
    class Connection_t {
    public:
        Connection_t(std::string name, std::string topicType,
                     std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type);
        ~Connection_t();
        Connection_t(Connection_t&&) noexcept;
        Connection_t& operator=(Connection_t&&) noexcept;
        Connection_t(const Connection_t&) = delete;
        Connection_t& operator=(const Connection_t&) = delete;

        const std::string& name() const { return m_name; }
        const std::string& topicType() const { return m_topicType; }
        eprosima::fastdds::dds::TopicDataType* type() const { return m_type.get(); }

        bool isPublisher() const { return m_publisher != nullptr; }
        bool isSubscriber() const { return m_subscriber != nullptr; }
        eprosima::fastrtps::Publisher* publisher() const { return m_publisher; }
        eprosima::fastrtps::Subscriber* subscriber() const { return m_subscriber; }
        Listeners::PublisherListenerBase* publisherListener() const { return m_publisherListener.get(); }
        Listeners::SubscriberListenerBase* subscriberListener() const { return m_subscriberListener.get(); }

        void setPublisher(std::unique_ptr<Listeners::PublisherListenerBase> listener,
                          eprosima::fastrtps::Publisher* publisher);
        void clearPublisher();
        void setSubscriber(std::unique_ptr<Listeners::SubscriberListenerBase> listener,
                           eprosima::fastrtps::Subscriber* subscriber);
        void clearSubscriber();

    private:
        std::string m_name;
        std::string m_topicType;
        std::unique_ptr<eprosima::fastdds::dds::TopicDataType> m_type;
        std::unique_ptr<Listeners::PublisherListenerBase> m_publisherListener;
        eprosima::fastrtps::Publisher* m_publisher = nullptr;
        std::unique_ptr<Listeners::SubscriberListenerBase> m_subscriberListener;
        eprosima::fastrtps::Subscriber* m_subscriber = nullptr;
    };

    // An id that no connection ever has; every id outside the 32-bit range
    // of connection ids is looked up as this one.
    static constexpr uint32_t kNoConnection = 0xFFFFFFFFu;
    static uint32_t ConnectionKey(CONNECTION_ID_TYPE connectionId);

    explicit QV_TSS(const std::string& name);
    ~QV_TSS() override;
    QV_TSS(const QV_TSS&) = delete;
    QV_TSS& operator=(const QV_TSS&) = delete;

    void Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& return_code) override;
    void Create_Connection(const CONNECTION_NAME_TYPE& connection_name, MESSAGE_TYPE_GUID message_type,
                           CONNECTION_ID_TYPE& connection_id, MESSAGE_SIZE_TYPE& max_message_size,
                           RETURN_CODE_TYPE::Value& return_code) override;
    void Destroy_Connection(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) override;
    void Unregister_Sender(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) override;
    void Unregister_Callback(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) override;
    void Set_Reference(const String& interface_name, std::shared_ptr<Configuration> reference, int64_t id,
                       RETURN_CODE_TYPE::Value& return_code) override;

    // True when the participant knows a type of this type's name, or has
    // just registered this one.
    bool okRegisterTopic(eprosima::fastdds::dds::TopicDataType* type);
    // Throws std::out_of_range for an id that is not in the map.
    Connection_t& connectionMap_mutex_at(uint32_t connectionId);

    // Attach an endpoint with the attributes of the settings; throw
    // std::runtime_error when that is not possible.
    void registerPublisher(Connection_t& connection);
    void registerSubscriber(Connection_t& connection,
                            std::unique_ptr<Listeners::SubscriberListenerBase> listener);

    bool initialized() const { return m_initialized; }
    const std::string& name() const { return m_name; }
    eprosima::fastrtps::Participant* participant() const { return m_participant; }
    const Details::FastRtpsSettings& settings() const { return m_settings; }

private:
    // Reads and checks the optional security set; false (with a line per
    // problem) when it is there but unusable.
    bool readSecurity(bool& secured, Security::Files& files);

    bool m_initialized = false;
    std::shared_ptr<Configuration> m_configuration;
    std::string m_name;
    eprosima::fastrtps::Participant* m_participant = nullptr;
    Details::FastRtpsSettings m_settings;
    std::map<uint32_t, Connection_t> m_connections;
    std::mutex m_connectionsMutex;
};

}  // namespace TSS
}  // namespace FACE

#endif
