#include "FACE/TSS_Topics.h"

#include <gtest/gtest.h>

#include "aspn2_msgs/Messages.h"

using FACE::TSS::Topics::GetPubSubType;

namespace {

struct Row {
    const char* message;
    std::size_t (*maxBodyFrom)(std::size_t);
    std::size_t maxBody;
    bool plain;
};

#define ROW_(Name, maxBody, plain) {#Name, &aspn2_msgs::idl::Name::getMaxCdrSerializedSize, maxBody, plain}
// Every message a connection may name, with its largest body (strings of
// 255 characters, sequences of 100 elements) and whether it holds neither
// string, sequence nor enum.
const Row kMessages[] = {
    ROW_(Altitude, 64, true), ROW_(BitReport, 860, false), ROW_(BitEntryStatus, 47, true),
    ROW_(ChallengedEnvironment, 1652, false), ROW_(ChannelStatus, 4452, false), ROW_(CommandResponse, 316, false),
    ROW_(DeltaTimeAndFrequency, 72, true), ROW_(EventLog, 308, false), ROW_(GNSS, 4076, false),
    ROW_(GNSSSubframe, 176, false), ROW_(GPSTime, 136, true), ROW_(IMU, 96, true),
    ROW_(MaintenanceEvent, 168, true), ROW_(MeasurementIncorporationStatus, 1252, false),
    ROW_(QuorvanePNT, 212, false), ROW_(NavigationMode, 48, false), ROW_(PositionVelocity, 384, true),
    ROW_(PositionVelocityAttitude, 768, true), ROW_(ThreeAxisMagnetometer, 144, true),
    ROW_(TimeAtTheTone, 44, true), ROW_(UtcDownlink, 88, true), ROW_(UTCTime, 112, true), ROW_(GSSIP, 152, false),
    ROW_(Velocity3D, 144, true), ROW_(ReceiverStatus, 72, true), ROW_(GPSLineOfSight, 14456, false),
    ROW_(GPSCryptoStatus, 2052, false), ROW_(AssuranceState, 48, false), ROW_(PlatformDynamics, 1296, true),
    ROW_(TimeSync, 64, true), ROW_(SVStatus, 2449, false), ROW_(ForwardReverseStatus, 52, false),
};
#undef ROW_

TEST(TopicRegistry, EveryKeyMakesTheTypeOfItsMessageWithItsSizes) {
    for (const Row& row : kMessages) {
        SCOPED_TRACE(row.message);
        auto type = GetPubSubType(std::string(row.message) + "PubSubType");
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(std::string(type->getName()), std::string("aspn2_msgs::idl::") + row.message);
        EXPECT_EQ(row.maxBodyFrom(0), row.maxBody);
        EXPECT_EQ(type->m_typeSize, row.maxBody + 4);
        EXPECT_EQ(type->is_bounded(), row.plain);
        EXPECT_EQ(type->is_plain(), row.plain);
    }
}

TEST(TopicRegistry, OnlyExactKeysMatch) {
    for (const std::string name :
         {"utctimepubsubtype", "UTCTIMEPUBSUBTYPE", "UtcTimePubSubType", "UTCTime", "UTCTimePubSub",
          "UTCTimePubSubType ", "aspn2_msgs::idl::UTCTimePubSubType", "", "headerPubSubType",
          "bit_comp_setPubSubType", "EventLogPubSubTypeX"}) {
        EXPECT_EQ(GetPubSubType(name), nullptr) << "'" << name << "'";
    }
    EXPECT_EQ(GetPubSubType(std::string("UTCTimePubSubType\0", 18)), nullptr);
}

}  // namespace
