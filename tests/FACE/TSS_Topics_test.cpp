#include "FACE/TSS_Topics.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using FACE::TSS::Topics::GetPubSubType;

namespace {

const std::vector<std::string> kMessages = {
    "Altitude", "BitReport", "BitEntryStatus", "ChallengedEnvironment", "ChannelStatus",
    "CommandResponse", "DeltaTimeAndFrequency", "EventLog", "GNSS", "GNSSSubframe", "GPSTime",
    "IMU", "MaintenanceEvent", "MeasurementIncorporationStatus", "QuorvanePNT", "NavigationMode",
    "PositionVelocity", "PositionVelocityAttitude", "ThreeAxisMagnetometer", "TimeAtTheTone",
    "UtcDownlink", "UTCTime", "GSSIP", "Velocity3D", "ReceiverStatus", "GPSLineOfSight",
    "GPSCryptoStatus", "AssuranceState", "PlatformDynamics", "TimeSync", "SVStatus",
    "ForwardReverseStatus"};

TEST(TopicRegistry, EveryKeyMakesANewTypeOfItsMessage)
{
    ASSERT_EQ(kMessages.size(), 32u);
    std::set<std::string> names;
    for (const std::string& message : kMessages) {
        auto type = GetPubSubType(message + "PubSubType");
        ASSERT_NE(type, nullptr) << message;
        EXPECT_EQ(std::string(type->getName()), "aspn2_msgs::idl::" + message);
        names.insert(type->getName());

        // Each call makes an object of its own.
        auto again = GetPubSubType(message + "PubSubType");
        ASSERT_NE(again, nullptr);
        EXPECT_NE(again.get(), type.get());
    }
    EXPECT_EQ(names.size(), kMessages.size());
}

TEST(TopicRegistry, MadeTypesWork)
{
    auto type = GetPubSubType("UTCTimePubSubType");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->m_typeSize, 116u);
    void* sample = type->createData();
    eprosima::fastrtps::rtps::SerializedPayload_t payload(type->m_typeSize);
    EXPECT_TRUE(type->serialize(sample, &payload));
    EXPECT_EQ(payload.length, 116u);
    EXPECT_TRUE(type->deserialize(&payload, sample));
    type->deleteData(sample);
}

TEST(TopicRegistry, OnlyExactKeysMatch)
{
    for (const char* name :
         {"utctimepubsubtype", "UTCTIMEPUBSUBTYPE", "UtcTimePubSubType", "UTCTime", "UTCTimePubSub",
          "UTCTimePubSubType ", " UTCTimePubSubType", "aspn2_msgs::idl::UTCTimePubSubType", "",
          "bit_comp_setPubSubType", "headerPubSubType", "timestampPubSubType", "EventLogPubSubTypeX"}) {
        EXPECT_EQ(GetPubSubType(name), nullptr) << "'" << name << "'";
    }
    EXPECT_EQ(GetPubSubType(std::string("UTCTimePubSubType\0", 18)), nullptr);
}

}  // namespace
