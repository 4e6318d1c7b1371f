#ifndef FACE_TSS_TOPICS_H
#define FACE_TSS_TOPICS_H

#include <fastdds/dds/topic/TopicDataType.hpp>

#include <memory>
#include <string>

namespace FACE {
namespace TSS {
namespace Topics {

// Makes a new, default-constructed topic data type for a registry key such
// as "UTCTimePubSubType" (exact, case-sensitive); the caller owns it.
// Unknown keys give null.
std::unique_ptr<eprosima::fastdds::dds::TopicDataType> GetPubSubType(const std::string& name);

}  // namespace Topics
}  // namespace TSS
}  // namespace FACE

#endif
