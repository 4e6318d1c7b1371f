#ifndef FACE_TSS_LISTENERS_H
#define FACE_TSS_LISTENERS_H

#include <atomic>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <utility>

#include <fastdds/dds/core/policy/QosPolicies.hpp>
#include <fastdds/rtps/common/Guid.h>
#include <fastdds/rtps/common/MatchingInfo.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/publisher/PublisherListener.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>

#include "FACE/TSS.h"

// Fast DDS listeners of the transport: they count matched endpoints and turn
// a new-data notification into a read callback with header and QoS.
namespace FACE {
namespace TSS {
namespace Listeners {

QoS_Element DurabilityQosPolicyToElement(const eprosima::fastdds::dds::DurabilityQosPolicy& policy);
QoS_Element LivelinessQosPolicyToElement(const eprosima::fastdds::dds::LivelinessQosPolicy& policy);
QoS_Element ReliabilityQosPolicyToElement(const eprosima::fastdds::dds::ReliabilityQosPolicy& policy);

// The entity id (last four bytes) of a GUID as a big-endian number.
int64_t GuidToUid(const eprosima::fastrtps::rtps::GUID_t& guid);

// The reader's own durability, liveliness and reliability, in that order.
QoS_EVENT_TYPE ReaderQosElements(const eprosima::fastrtps::SubscriberAttributes& attributes);

// What both listener bases keep: the participant's name and the number of
// matched remote endpoints, which Fast DDS threads change.
class MatchedEndpoints {
public:
    const std::string& participantName() const { return m_participantName; }
    int32_t matched() const { return m_matched.load(); }

protected:
    explicit MatchedEndpoints(std::string participantName)
        : m_participantName(std::move(participantName)) {}
    void countMatching(const eprosima::fastrtps::rtps::MatchingInfo& info);

private:
    std::string m_participantName;
    std::atomic<int32_t> m_matched{0};
};

class PublisherListenerBase : public eprosima::fastrtps::PublisherListener, public MatchedEndpoints {
public:
    explicit PublisherListenerBase(std::string participantName)
        : MatchedEndpoints(std::move(participantName)) {}

    void onPublicationMatched(eprosima::fastrtps::Publisher* /*pub*/,
                              eprosima::fastrtps::rtps::MatchingInfo& info) override {
        countMatching(info);
    }
};

class SubscriberListenerBase : public eprosima::fastrtps::SubscriberListener, public MatchedEndpoints {
public:
    explicit SubscriberListenerBase(std::string participantName)
        : MatchedEndpoints(std::move(participantName)) {}

    void onSubscriptionMatched(eprosima::fastrtps::Subscriber* /*sub*/,
                               eprosima::fastrtps::rtps::MatchingInfo& info) override {
        countMatching(info);
    }
};

namespace Details {
// Reports an exception that a read callback let escape; it must not unwind
// into the Fast DDS receive thread, which would end the process.
void ReportCallbackException(const std::string& participantName, CONNECTION_ID_TYPE connectionId,
                             const char* what);
}  // namespace Details

template <typename T>
class SubscriberListenerTyped : public SubscriberListenerBase {
public:
    SubscriberListenerTyped(std::string participantName, CONNECTION_ID_TYPE connectionId,
                            Read_Callback<T> callback)
        : SubscriberListenerBase(std::move(participantName)),
          m_connectionId(connectionId),
          m_callback(std::move(callback)) {}

    CONNECTION_ID_TYPE connectionId() const { return m_connectionId; }

    void onNewDataMessage(eprosima::fastrtps::Subscriber* sub) override {
        T sample;
        eprosima::fastrtps::SampleInfo_t info;
        // A sample that cannot be decoded is consumed by the take and
        // dropped here, so it never blocks the ones behind it.
        if (!sub->takeNextData(&sample, &info) || info.sampleKind != eprosima::fastrtps::rtps::ALIVE) {
            return;
        }
        // The reader's QoS never changes after creation, so its description
        // is made once, on the first sample, by the one thread that calls
        // this listener.
        if (m_qos.length() == 0) {
            m_qos = ReaderQosElements(sub->getAttributes());
        }
        const eprosima::fastrtps::rtps::SequenceNumber_t& seq = info.sample_identity.sequence_number();
        const TRANSACTION_ID_TYPE transactionId =
            static_cast<TRANSACTION_ID_TYPE>(seq.high) * 4294967296LL + static_cast<TRANSACTION_ID_TYPE>(seq.low);
        HEADER_TYPE header;
        header.source_uid = GuidToUid(info.sample_identity.writer_guid());
        header.destination_uid = GuidToUid(sub->getGuid());
        header.source_timestamp = info.sourceTimestamp.to_ns();
        if (!m_callback) {
            return;
        }
        RETURN_CODE_TYPE::Value code = RETURN_CODE_TYPE::NO_ERROR;
        try {
            m_callback(m_connectionId, transactionId, sample, header, m_qos, code);
        } catch (const std::exception& e) {
            Details::ReportCallbackException(participantName(), m_connectionId, e.what());
        } catch (...) {
            Details::ReportCallbackException(participantName(), m_connectionId, "unknown exception");
        }
    }

private:
    const CONNECTION_ID_TYPE m_connectionId;
    const Read_Callback<T> m_callback;
    QoS_EVENT_TYPE m_qos;
};

}  // namespace Listeners
}  // namespace TSS
}  // namespace FACE

#endif
