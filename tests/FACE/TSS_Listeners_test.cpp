#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "FACE/TSS_Listeners.h"

using namespace FACE::TSS::Listeners;
namespace dds = eprosima::fastdds::dds;
namespace rtps = eprosima::fastrtps::rtps;

namespace {

std::pair<std::string, std::string> Text(const FACE::TSS::QoS_Element& e) {
    return {e.name.str(), e.value.str()};
}

}  // namespace

TEST(TSSQosConverters, EveryKindAndTheUnknownOnes) {
    struct Row {
        int kind;
        const char* durability;
        const char* liveliness;
        const char* reliability;
    };
    const Row rows[] = {
        {0, "VOLATILE_DURABILITY_QOS", "AUTOMATIC_LIVELINESS_QOS", "UNKNOWN_RELIABILITY_QOS"},
        {1, "TRANSIENT_LOCAL_DURABILITY_QOS", "MANUAL_BY_PARTICIPANT_LIVELINESS_QOS", "BEST_EFFORT_RELIABILITY_QOS"},
        {2, "TRANSIENT_DURABILITY_QOS", "MANUAL_BY_TOPIC_LIVELINESS_QOS", "RELIABLE_RELIABILITY_QOS"},
        {3, "PERSISTENT_DURABILITY_QOS", "UNKNOWN_LIVELINESS_QOS", "UNKNOWN_RELIABILITY_QOS"},
        {4, "UNKNOWN_DURABILITY_QOS", "UNKNOWN_LIVELINESS_QOS", "UNKNOWN_RELIABILITY_QOS"},
        {255, "UNKNOWN_DURABILITY_QOS", "UNKNOWN_LIVELINESS_QOS", "UNKNOWN_RELIABILITY_QOS"},
    };
    for (const Row& r : rows) {
        dds::DurabilityQosPolicy durability;
        durability.kind = static_cast<dds::DurabilityQosPolicyKind>(r.kind);
        dds::LivelinessQosPolicy liveliness;
        liveliness.kind = static_cast<dds::LivelinessQosPolicyKind>(r.kind);
        dds::ReliabilityQosPolicy reliability;
        reliability.kind = static_cast<dds::ReliabilityQosPolicyKind>(r.kind);
        EXPECT_EQ(Text(DurabilityQosPolicyToElement(durability)),
                  std::make_pair(std::string("DurabilityQosPolicy"), std::string(r.durability)));
        EXPECT_EQ(Text(LivelinessQosPolicyToElement(liveliness)),
                  std::make_pair(std::string("LivelinessQosPolicy"), std::string(r.liveliness)));
        EXPECT_EQ(Text(ReliabilityQosPolicyToElement(reliability)),
                  std::make_pair(std::string("ReliabilityQosPolicy"), std::string(r.reliability)));
    }
}

TEST(TSSGuidToUid, EntityIdIsReadBigEndianAndThePrefixIgnored) {
    rtps::GUID_t guid;
    for (int i = 0; i < 12; ++i) {
        guid.guidPrefix.value[i] = static_cast<rtps::octet>(0xA0 + i);
    }
    guid.entityId.value[0] = 0x00;
    guid.entityId.value[1] = 0x00;
    guid.entityId.value[2] = 0x01;
    guid.entityId.value[3] = 0x03;
    EXPECT_EQ(GuidToUid(guid), 259);

    // The top bit of the entity id does not make the id negative.
    guid.entityId.value[0] = 0xFF;
    guid.entityId.value[1] = 0xEE;
    guid.entityId.value[2] = 0xDD;
    guid.entityId.value[3] = 0xC2;
    EXPECT_EQ(GuidToUid(guid), int64_t{0xFFEEDDC2});
}

TEST(TSSListeners, MatchedCountsFollowMatchingAndUnmatching) {
    PublisherListenerBase pub("Chronavel");
    SubscriberListenerBase sub("Chronavel");
    EXPECT_EQ(pub.participantName(), "Chronavel");
    EXPECT_EQ(pub.matched(), 0);
    EXPECT_EQ(sub.matched(), 0);

    rtps::MatchingInfo matched(rtps::MATCHED_MATCHING, rtps::GUID_t());
    rtps::MatchingInfo removed(rtps::REMOVED_MATCHING, rtps::GUID_t());
    pub.onPublicationMatched(nullptr, matched);
    pub.onPublicationMatched(nullptr, matched);
    sub.onSubscriptionMatched(nullptr, matched);
    EXPECT_EQ(pub.matched(), 2);
    EXPECT_EQ(sub.matched(), 1);
    pub.onPublicationMatched(nullptr, removed);
    sub.onSubscriptionMatched(nullptr, removed);
    sub.onSubscriptionMatched(nullptr, removed);
    EXPECT_EQ(pub.matched(), 1);
    EXPECT_EQ(sub.matched(), -1);
}
