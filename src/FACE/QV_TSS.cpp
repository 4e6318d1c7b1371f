#include "FACE/QV_TSS.h"

#include <iostream>
#include <stdexcept>
#include <utility>

#include <fastrtps/Domain.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/subscriber/Subscriber.h>

#include "FACE/QV_Config_Helpers.h"
#include "FACE/TSS_Security.h"
#include "FACE/TSS_Topics.h"

namespace FACE {
namespace TSS {

namespace {

using eprosima::fastrtps::Domain;
namespace RC = RETURN_CODE_TYPE;

const char kFastRtpsSet[] = "FastRtps";

// Closes an opened configuration set on every way out of a scope; the
// result of closing changes nothing.
class SetCloser {
public:
    SetCloser(Configuration& config, Configuration::HANDLE_TYPE handle) : m_config(config), m_handle(handle) {}
    ~SetCloser() {
        RC::Value ignored = RC::NO_ERROR;
        m_config.Close(m_handle, ignored);
    }
    SetCloser(const SetCloser&) = delete;
    SetCloser& operator=(const SetCloser&) = delete;

private:
    Configuration& m_config;
    Configuration::HANDLE_TYPE m_handle;
};

// The participant calls of the library are marked deprecated in favour of
// its newer interface; this service is built on the older one on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
eprosima::fastrtps::Participant* CreateParticipant(const eprosima::fastrtps::ParticipantAttributes& attributes) {
    return Domain::createParticipant(attributes, nullptr);
}
#pragma GCC diagnostic pop

}  // namespace

// ---------------------------------------------------------------------------
// Connection_t

QV_TSS::Connection_t::Connection_t(std::string name, std::string topicType,
                                   std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type)
    : m_name(std::move(name)), m_topicType(std::move(topicType)), m_type(std::move(type)) {}

QV_TSS::Connection_t::~Connection_t() = default;
QV_TSS::Connection_t::Connection_t(Connection_t&&) noexcept = default;
QV_TSS::Connection_t& QV_TSS::Connection_t::operator=(Connection_t&&) noexcept = default;

void QV_TSS::Connection_t::setPublisher(std::unique_ptr<Listeners::PublisherListenerBase> listener,
                                        eprosima::fastrtps::Publisher* publisher) {
    m_publisherListener = std::move(listener);
    m_publisher = publisher;
}

void QV_TSS::Connection_t::clearPublisher() {
    m_publisher = nullptr;
    m_publisherListener.reset();
}

void QV_TSS::Connection_t::setSubscriber(std::unique_ptr<Listeners::SubscriberListenerBase> listener,
                                         eprosima::fastrtps::Subscriber* subscriber) {
    m_subscriberListener = std::move(listener);
    m_subscriber = subscriber;
}

void QV_TSS::Connection_t::clearSubscriber() {
    m_subscriber = nullptr;
    m_subscriberListener.reset();
}

// ---------------------------------------------------------------------------
// QV_TSS

uint32_t QV_TSS::ConnectionKey(CONNECTION_ID_TYPE connectionId) {
    // Ids beyond the 32-bit range are not wrapped: 2^32 must not reach
    // connection 0.
    if (connectionId < 0 || connectionId >= static_cast<CONNECTION_ID_TYPE>(kNoConnection)) {
        return kNoConnection;
    }
    return static_cast<uint32_t>(connectionId);
}

QV_TSS::QV_TSS(const std::string& name) : m_name(name) {}

QV_TSS::~QV_TSS() {
    // The participant takes every endpoint with it; only then may the
    // listeners and types that those endpoints use go away.
    if (m_initialized && m_participant != nullptr) {
        Domain::removeParticipant(m_participant);
        m_participant = nullptr;
    }
    m_connections.clear();
    m_configuration.reset();
}

void QV_TSS::Set_Reference(const String& /*interface_name*/, std::shared_ptr<Configuration> reference,
                           int64_t /*id*/, RETURN_CODE_TYPE::Value& return_code) {
    if (m_configuration) {
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    if (!reference) {
        return_code = RC::INVALID_PARAM;
        return;
    }
    m_configuration = std::move(reference);
    return_code = RC::NO_ERROR;
}

void QV_TSS::Initialize(const String& configuration_name, RETURN_CODE_TYPE::Value& return_code) {
    if (m_initialized) {
        return_code = RC::NO_ACTION;
        return;
    }
    if (!m_configuration) {
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    RC::Value code = RC::NO_ERROR;
    m_configuration->Initialize(configuration_name, code);
    if (code != RC::NO_ERROR) {
        std::cout << "CFR:" << static_cast<uint32_t>(code) << " Configuration " << configuration_name.str()
                  << " was not available\n";
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    Configuration::HANDLE_TYPE handle = -1;
    code = RC::NO_ERROR;
    m_configuration->Open(kFastRtpsSet, handle, code);
    if (code != RC::NO_ERROR) {
        std::cout << "CFR:" << static_cast<uint32_t>(code) << " Domain " << kFastRtpsSet << " was not available\n";
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    SetCloser closer(*m_configuration, handle);

    Details::FastRtpsSettings settings;
    if (!Details::ReadFastRtpsSettings(*m_configuration, handle, settings)) {
        return_code = RC::INVALID_CONFIG;
        return;
    }
    // Without the set the participant is unsecured; with it, never: a bad
    // artifact stops here rather than falling back.
    bool secured = false;
    Security::Files securityFiles;
    if (!readSecurity(secured, securityFiles)) {
        return_code = RC::INVALID_CONFIG;
        return;
    }
    try {
        m_settings = settings;
        eprosima::fastrtps::ParticipantAttributes attributes = Details::MakeParticipantAttributes(m_name, m_settings);
        if (secured) {
            Security::Enable(attributes, securityFiles);
        }
        eprosima::fastrtps::Participant* participant = CreateParticipant(attributes);
        if (participant == nullptr) {
            throw std::runtime_error("Error creating participant " + m_name);
        }
        m_participant = participant;
        m_initialized = true;
        return_code = RC::NO_ERROR;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return_code = RC::INVALID_CONFIG;
    }
}

bool QV_TSS::readSecurity(bool& secured, Security::Files& files) {
    Configuration::HANDLE_TYPE handle = -1;
    RC::Value code = RC::NO_ERROR;
    m_configuration->Open(Security::kSetName, handle, code);
    secured = code == RC::NO_ERROR;
    if (!secured) {
        return true;
    }
    SetCloser closer(*m_configuration, handle);
    if (!Security::ReadFiles(*m_configuration, handle, files)) {
        return false;
    }
    if (!Security::Available()) {
        std::cerr << "DDS security: this Fast DDS library is built without security" << std::endl;
        return false;
    }
    const std::vector<Security::Problem> problems = Security::Check(files);
    for (const Security::Problem& problem : problems) {
        std::cerr << problem.line() << std::endl;
    }
    return problems.empty();
}

void QV_TSS::Create_Connection(const CONNECTION_NAME_TYPE& connection_name, MESSAGE_TYPE_GUID /*message_type*/,
                               CONNECTION_ID_TYPE& connection_id, MESSAGE_SIZE_TYPE& /*max_message_size*/,
                               RETURN_CODE_TYPE::Value& return_code) {
    connection_id = -1;
    if (!m_initialized || !m_configuration) {
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    const std::string name = connection_name.str();
    auto findByName = [this, &name](CONNECTION_ID_TYPE& id) {
        for (const auto& entry : m_connections) {
            if (entry.second.name() == name) {
                id = entry.first;
                return true;
            }
        }
        return false;
    };
    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        if (findByName(connection_id)) {
            return_code = RC::NO_ERROR;
            return;
        }
    }

    Configuration::HANDLE_TYPE handle = -1;
    RC::Value code = RC::NO_ERROR;
    m_configuration->Open(connection_name, handle, code);
    if (code != RC::NO_ERROR) {
        return_code = RC::INVALID_CONFIG;
        return;
    }
    SetCloser closer(*m_configuration, handle);

    const std::string topicType = QV_Config_Helpers::Details::Read_Config(*m_configuration, handle, "TopicType");
    const std::string pubSubType = QV_Config_Helpers::Details::Read_Config(*m_configuration, handle, "PubSubType");
    if (topicType.empty() || pubSubType.empty()) {
        return_code = RC::INVALID_CONFIG;
        return;
    }
    std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type(Topics::GetPubSubType(pubSubType));
    if (!type) {
        // Never hand the participant a type that does not exist.
        std::cerr << "Connection " << name << ": unknown PubSubType " << pubSubType << std::endl;
        return_code = RC::INVALID_CONFIG;
        return;
    }
    Connection_t connection(name, topicType, std::move(type));
    if (!okRegisterTopic(connection.type())) {
        std::cerr << "!!!!! Could NOT register topic " << static_cast<const void*>(connection.type())
                  << " with participant " << m_name << std::endl;
        return_code = RC::NO_ACTION;
        return;
    }
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    if (!findByName(connection_id)) {
        const uint32_t id = static_cast<uint32_t>(m_connections.size());
        m_connections.emplace(id, std::move(connection));
        connection_id = id;
    }
    return_code = RC::NO_ERROR;
}

void QV_TSS::Destroy_Connection(CONNECTION_ID_TYPE /*connection_id*/, RETURN_CODE_TYPE::Value& return_code) {
    // Connections live as long as the service; their endpoints go with
    // Unregister_Sender and Unregister_Callback.
    return_code = m_initialized ? RC::NO_ERROR : RC::NOT_AVAILABLE;
}

void QV_TSS::Unregister_Sender(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) {
    if (!m_initialized) {
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    try {
        Connection_t& connection = connectionMap_mutex_at(ConnectionKey(connection_id));
        if (connection.isPublisher()) {
            Domain::removePublisher(connection.publisher());
            connection.clearPublisher();
        }
        return_code = RC::NO_ERROR;
    } catch (const std::out_of_range&) {
        return_code = RC::INVALID_PARAM;
    } catch (...) {
        return_code = RC::NO_ACTION;
    }
}

void QV_TSS::Unregister_Callback(CONNECTION_ID_TYPE connection_id, RETURN_CODE_TYPE::Value& return_code) {
    if (!m_initialized) {
        return_code = RC::NOT_AVAILABLE;
        return;
    }
    try {
        Connection_t& connection = connectionMap_mutex_at(ConnectionKey(connection_id));
        if (connection.isSubscriber()) {
            Domain::removeSubscriber(connection.subscriber());
            connection.clearSubscriber();
        }
        return_code = RC::NO_ERROR;
    } catch (const std::out_of_range&) {
        return_code = RC::INVALID_PARAM;
    } catch (...) {
        return_code = RC::NO_ACTION;
    }
}

bool QV_TSS::okRegisterTopic(eprosima::fastdds::dds::TopicDataType* type) {
    if (type == nullptr || m_participant == nullptr) {
        return false;
    }
    eprosima::fastdds::dds::TopicDataType* known = nullptr;
    if (Domain::getRegisteredType(m_participant, type->getName(), &known)) {
        return true;
    }
    return Domain::registerType(m_participant, type);
}

QV_TSS::Connection_t& QV_TSS::connectionMap_mutex_at(uint32_t connectionId) {
    Connection_t* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        auto it = m_connections.find(connectionId);
        if (it != m_connections.end()) {
            connection = &it->second;
        }
    }
    if (connection == nullptr) {
        throw std::out_of_range("map::at");
    }
    return *connection;
}

void QV_TSS::registerPublisher(Connection_t& connection) {
    auto listener = std::make_unique<Listeners::PublisherListenerBase>(m_name);
    const eprosima::fastrtps::PublisherAttributes attributes =
        Details::MakePublisherAttributes(m_settings, connection.name(), connection.topicType());
    if (!attributes.topic.checkQos() || !attributes.qos.checkQos()) {
        throw std::runtime_error("Participant " + m_name + " invalid publisher QOS for topic: " + connection.name() +
                                 "; see error log");
    }
    eprosima::fastrtps::Publisher* publisher =
        m_participant == nullptr ? nullptr : Domain::createPublisher(m_participant, attributes, listener.get());
    if (publisher == nullptr) {
        throw std::runtime_error("Participant " + m_name + " error creating publisher for topic: " + connection.name());
    }
    connection.setPublisher(std::move(listener), publisher);
}

void QV_TSS::registerSubscriber(Connection_t& connection, std::unique_ptr<Listeners::SubscriberListenerBase> listener) {
    const eprosima::fastrtps::SubscriberAttributes attributes =
        Details::MakeSubscriberAttributes(m_settings, connection.name(), connection.topicType());
    if (!attributes.topic.checkQos() || !attributes.qos.checkQos()) {
        throw std::runtime_error("Participant " + m_name + " invalid subscriber QOS for topic: " + connection.name() +
                                 "; see error log");
    }
    eprosima::fastrtps::Subscriber* subscriber =
        m_participant == nullptr ? nullptr : Domain::createSubscriber(m_participant, attributes, listener.get());
    if (subscriber == nullptr) {
        throw std::runtime_error("Participant " + m_name + " error creating subscriber for topic: " +
                                 connection.name());
    }
    connection.setSubscriber(std::move(listener), subscriber);
}

}  // namespace TSS
}  // namespace FACE
