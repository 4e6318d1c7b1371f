#ifndef FACE_TSS_ATTRIBUTES_H
#define FACE_TSS_ATTRIBUTES_H

#include <array>
#include <cstdint>
#include <string>

#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/PublisherAttributes.h>
#include <fastrtps/attributes/SubscriberAttributes.h>

#include "FACE/Configuration.h"

// The DDS settings of the transport and the attributes they give the
// participant and its endpoints. Pure functions of the settings, so that
// what an endpoint gets can be checked without a network.
namespace FACE {
namespace TSS {
namespace Details {

// Longest participant, topic and type name handed to Fast DDS.
constexpr std::size_t kMaxDdsNameLength = 255;

// Highest domain whose well-known ports fit in 16 bits. The library ends
// the process, rather than failing, when asked for a higher one.
constexpr uint32_t kMaxDomainId = 232;

struct FastRtpsSettings {
    uint32_t domainId = 0;
    int32_t historyDepth = 0;
    bool useBestEffort = false;
    bool backFillHistory = false;
    std::string transport;
    std::string tcpAddress;
    uint16_t tcpPort = 0;
};

// Reads the seven entries of an opened "FastRtps" set. Every entry is read
// even after one has failed, so that each problem gets its own line. False
// when any is missing, empty or not a number that fits its use (a domain
// id of at most kMaxDomainId, a history depth of at least 1, a 16-bit port).
bool ReadFastRtpsSettings(Configuration& config, Configuration::HANDLE_TYPE handle,
                          FastRtpsSettings& settings);

// Four decimal numbers of at most 255 separated by single characters
// ("a.b.c.d"); anything else is refused.
bool ParseDottedQuad(const std::string& text, std::array<uint8_t, 4>& bytes);

// Throws std::invalid_argument when a TCP transport is asked for with an
// address that is not a dotted quad.
eprosima::fastrtps::ParticipantAttributes MakeParticipantAttributes(const std::string& name,
                                                                    const FastRtpsSettings& settings);
eprosima::fastrtps::PublisherAttributes MakePublisherAttributes(const FastRtpsSettings& settings,
                                                                const std::string& topicName,
                                                                const std::string& topicType);
eprosima::fastrtps::SubscriberAttributes MakeSubscriberAttributes(const FastRtpsSettings& settings,
                                                                  const std::string& topicName,
                                                                  const std::string& topicType);

}  // namespace Details
}  // namespace TSS
}  // namespace FACE

#endif
