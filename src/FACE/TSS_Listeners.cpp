#include "FACE/TSS_Listeners.h"

namespace FACE {
namespace TSS {
namespace Listeners {

namespace {

QoS_Element MakeElement(const char* name, const char* value) {
    String::RETURN_CODE rc;
    return QoS_Element{String(name, rc), String(value, rc)};
}

}  // namespace

QoS_Element DurabilityQosPolicyToElement(const eprosima::fastdds::dds::DurabilityQosPolicy& policy) {
    const char* value = "UNKNOWN_DURABILITY_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 0: value = "VOLATILE_DURABILITY_QOS"; break;
        case 1: value = "TRANSIENT_LOCAL_DURABILITY_QOS"; break;
        case 2: value = "TRANSIENT_DURABILITY_QOS"; break;
        case 3: value = "PERSISTENT_DURABILITY_QOS"; break;
        default: break;
    }
    return MakeElement("DurabilityQosPolicy", value);
}

QoS_Element LivelinessQosPolicyToElement(const eprosima::fastdds::dds::LivelinessQosPolicy& policy) {
    const char* value = "UNKNOWN_LIVELINESS_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 0: value = "AUTOMATIC_LIVELINESS_QOS"; break;
        case 1: value = "MANUAL_BY_PARTICIPANT_LIVELINESS_QOS"; break;
        case 2: value = "MANUAL_BY_TOPIC_LIVELINESS_QOS"; break;
        default: break;
    }
    return MakeElement("LivelinessQosPolicy", value);
}

QoS_Element ReliabilityQosPolicyToElement(const eprosima::fastdds::dds::ReliabilityQosPolicy& policy) {
    const char* value = "UNKNOWN_RELIABILITY_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 1: value = "BEST_EFFORT_RELIABILITY_QOS"; break;
        case 2: value = "RELIABLE_RELIABILITY_QOS"; break;
        default: break;
    }
    return MakeElement("ReliabilityQosPolicy", value);
}

int64_t GuidToUid(const eprosima::fastrtps::rtps::GUID_t& guid) {
    const eprosima::fastrtps::rtps::octet* id = guid.entityId.value;
    const uint32_t uid = (static_cast<uint32_t>(id[0]) << 24) | (static_cast<uint32_t>(id[1]) << 16) |
                         (static_cast<uint32_t>(id[2]) << 8) | static_cast<uint32_t>(id[3]);
    return static_cast<int64_t>(uid);
}

QoS_EVENT_TYPE ReaderQosElements(const eprosima::fastrtps::SubscriberAttributes& attributes) {
    QoS_EVENT_TYPE qos;
    qos.push_back(DurabilityQosPolicyToElement(attributes.qos.m_durability));
    qos.push_back(LivelinessQosPolicyToElement(attributes.qos.m_liveliness));
    qos.push_back(ReliabilityQosPolicyToElement(attributes.qos.m_reliability));
    return qos;
}

void MatchedEndpoints::countMatching(const eprosima::fastrtps::rtps::MatchingInfo& info) {
    if (info.status == eprosima::fastrtps::rtps::MATCHED_MATCHING) {
        ++m_matched;
    } else {
        --m_matched;
    }
}

namespace Details {

void ReportCallbackException(const std::string& participantName, CONNECTION_ID_TYPE connectionId,
                             const char* what) {
    std::cerr << "Participant " << participantName << " read callback of connection " << connectionId
              << " failed: " << what << std::endl;
}

}  // namespace Details

}  // namespace Listeners
}  // namespace TSS
}  // namespace FACE
