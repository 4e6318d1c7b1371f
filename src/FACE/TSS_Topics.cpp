#include "FACE/TSS_Topics.h"

#include "aspn2_msgs/PubSubTypes.h"

#include <iterator>

namespace FACE {
namespace TSS {
namespace Topics {

namespace {

using Maker = std::unique_ptr<eprosima::fastdds::dds::TopicDataType> (*)();

template <class T>
std::unique_ptr<eprosima::fastdds::dds::TopicDataType> make()
{
    return std::make_unique<T>();
}

struct Entry {
    const char* name;
    Maker make;
};

#define CHRONAVEL_TOPIC_(Name) {#Name "PubSubType", &make<aspn2_msgs::idl::Name##PubSubType>}

// The message types a connection may name; nested types are not topics.
const Entry kRegistry[] = {
    CHRONAVEL_TOPIC_(Altitude),
    CHRONAVEL_TOPIC_(BitReport),
    CHRONAVEL_TOPIC_(BitEntryStatus),
    CHRONAVEL_TOPIC_(ChallengedEnvironment),
    CHRONAVEL_TOPIC_(ChannelStatus),
    CHRONAVEL_TOPIC_(CommandResponse),
    CHRONAVEL_TOPIC_(DeltaTimeAndFrequency),
    CHRONAVEL_TOPIC_(EventLog),
    CHRONAVEL_TOPIC_(GNSS),
    CHRONAVEL_TOPIC_(GNSSSubframe),
    CHRONAVEL_TOPIC_(GPSTime),
    CHRONAVEL_TOPIC_(IMU),
    CHRONAVEL_TOPIC_(MaintenanceEvent),
    CHRONAVEL_TOPIC_(MeasurementIncorporationStatus),
    CHRONAVEL_TOPIC_(QuorvanePNT),
    CHRONAVEL_TOPIC_(NavigationMode),
    CHRONAVEL_TOPIC_(PositionVelocity),
    CHRONAVEL_TOPIC_(PositionVelocityAttitude),
    CHRONAVEL_TOPIC_(ThreeAxisMagnetometer),
    CHRONAVEL_TOPIC_(TimeAtTheTone),
    CHRONAVEL_TOPIC_(UtcDownlink),
    CHRONAVEL_TOPIC_(UTCTime),
    CHRONAVEL_TOPIC_(GSSIP),
    CHRONAVEL_TOPIC_(Velocity3D),
    CHRONAVEL_TOPIC_(ReceiverStatus),
    CHRONAVEL_TOPIC_(GPSLineOfSight),
    CHRONAVEL_TOPIC_(GPSCryptoStatus),
    CHRONAVEL_TOPIC_(AssuranceState),
    CHRONAVEL_TOPIC_(PlatformDynamics),
    CHRONAVEL_TOPIC_(TimeSync),
    CHRONAVEL_TOPIC_(SVStatus),
    CHRONAVEL_TOPIC_(ForwardReverseStatus),
};

#undef CHRONAVEL_TOPIC_

}  // namespace

std::unique_ptr<eprosima::fastdds::dds::TopicDataType> GetPubSubType(const std::string& name)
{
    for (const Entry& entry : kRegistry) {
        if (name == entry.name) {
            return entry.make();
        }
    }
    return nullptr;
}

}  // namespace Topics
}  // namespace TSS
}  // namespace FACE
