// Advertised sizes and properties of every message type, from one table.

#include "MessageTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace aspn2_msgs::idl;
using eprosima::fastdds::dds::TopicDataType;

namespace {

struct Row {
    std::string name;
    std::size_t maxBody;
    bool plain;
    std::function<std::unique_ptr<TopicDataType>()> make;
    std::function<std::size_t(std::size_t)> maxFrom;
};

template <class PubSub>
Row row(const std::string& name, std::size_t maxBody, bool plain)
{
    return Row{name, maxBody, plain, [] { return std::make_unique<PubSub>(); },
               [](std::size_t alignment) { return PubSub::type::getMaxCdrSerializedSize(alignment); }};
}

const std::vector<Row>& rows()
{
    static const std::vector<Row> table = {
        row<AltitudePubSubType>("Altitude", 64, true),
        row<BitReportPubSubType>("BitReport", 860, false),
        row<BitEntryStatusPubSubType>("BitEntryStatus", 47, true),
        row<ChallengedEnvironmentPubSubType>("ChallengedEnvironment", 1652, false),
        row<ChannelStatusPubSubType>("ChannelStatus", 4452, false),
        row<CommandResponsePubSubType>("CommandResponse", 316, false),
        row<DeltaTimeAndFrequencyPubSubType>("DeltaTimeAndFrequency", 72, true),
        row<EventLogPubSubType>("EventLog", 308, false),
        row<GNSSPubSubType>("GNSS", 4076, false),
        row<GNSSSubframePubSubType>("GNSSSubframe", 176, false),
        row<GPSTimePubSubType>("GPSTime", 136, true),
        row<IMUPubSubType>("IMU", 96, true),
        row<MaintenanceEventPubSubType>("MaintenanceEvent", 168, true),
        row<MeasurementIncorporationStatusPubSubType>("MeasurementIncorporationStatus", 1252, false),
        row<QuorvanePNTPubSubType>("QuorvanePNT", 212, false),
        row<NavigationModePubSubType>("NavigationMode", 48, false),
        row<PositionVelocityPubSubType>("PositionVelocity", 384, true),
        row<PositionVelocityAttitudePubSubType>("PositionVelocityAttitude", 768, true),
        row<ThreeAxisMagnetometerPubSubType>("ThreeAxisMagnetometer", 144, true),
        row<TimeAtTheTonePubSubType>("TimeAtTheTone", 44, true),
        row<UtcDownlinkPubSubType>("UtcDownlink", 88, true),
        row<UTCTimePubSubType>("UTCTime", 112, true),
        row<GSSIPPubSubType>("GSSIP", 152, false),
        row<Velocity3DPubSubType>("Velocity3D", 144, true),
        row<ReceiverStatusPubSubType>("ReceiverStatus", 72, true),
        row<GPSLineOfSightPubSubType>("GPSLineOfSight", 14456, false),
        row<GPSCryptoStatusPubSubType>("GPSCryptoStatus", 2052, false),
        row<AssuranceStatePubSubType>("AssuranceState", 48, false),
        row<PlatformDynamicsPubSubType>("PlatformDynamics", 1296, true),
        row<TimeSyncPubSubType>("TimeSync", 64, true),
        row<SVStatusPubSubType>("SVStatus", 2449, false),
        row<ForwardReverseStatusPubSubType>("ForwardReverseStatus", 52, false),
        // Types nested inside the messages.
        row<timestampPubSubType>("timestamp", 16, true),
        row<headerPubSubType>("header", 44, true),
        row<bit_comp_setPubSubType>("bit_comp_set", 8, true),
        row<interference_type_setPubSubType>("interference_type_set", 16, false),
        row<channel_status_obsPubSubType>("channel_status_obs", 44, false),
        row<gnss_obsPubSubType>("gnss_obs", 44, false),
        row<key_type_setPubSubType>("key_type_set", 20, false),
        row<gpslos_obsPubSubType>("gpslos_obs", 144, false),
        row<lru_comp_setPubSubType>("lru_comp_set", 8, true),
        row<meas_type_setPubSubType>("meas_type_set", 12, true),
        row<sv_setPubSubType>("sv_set", 21, false),
        row<geodeticposition3d_typePubSubType>("geodeticposition3d_type", 24, true),
    };
    return table;
}

TEST(MessageSizes, EveryTypeAdvertisesItsDocumentedSizeAndProperties)
{
    for (const Row& r : rows()) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<TopicDataType> type = r.make();
        EXPECT_EQ(r.maxFrom(0), r.maxBody);
        EXPECT_EQ(type->m_typeSize, r.maxBody + 4);
        EXPECT_EQ(std::string(type->getName()), "aspn2_msgs::idl::" + r.name);
        EXPECT_EQ(type->is_bounded(), r.plain);
        EXPECT_EQ(type->is_plain(), r.plain);
        EXPECT_FALSE(type->m_isGetKeyDefined);
    }
}

TEST(MessageSizes, MaximumStartsFromTheCurrentAlignment)
{
    // From 4, the 64-bit seconds need 4 bytes of padding first.
    EXPECT_EQ(timestamp::getMaxCdrSerializedSize(4), 20u);
    EXPECT_EQ(timestamp::getMaxCdrSerializedSize(8), 16u);
    // From 1, three bytes of padding before the first 32-bit field.
    EXPECT_EQ(sv_set::getMaxCdrSerializedSize(1), 24u);
    EXPECT_EQ(bit_comp_set::getMaxCdrSerializedSize(2), 10u);
    // The header is 44 bytes, so a following 64-bit field is padded by 4.
    EXPECT_EQ(Altitude::getMaxCdrSerializedSize(0), 64u);
    EXPECT_EQ(header::getMaxCdrSerializedSize(4), 48u);
}

TEST(MessageSizes, SampleSizeCountsActualTextsAndSequences)
{
    CommandResponse c;
    EXPECT_EQ(CommandResponse::getCdrSerializedSize(c), 61u);
    c.command_response("abc");
    EXPECT_EQ(CommandResponse::getCdrSerializedSize(c), 64u);

    BitReport b;
    EXPECT_EQ(BitReport::getCdrSerializedSize(b), 60u);

    // 100 entries reach the maximum exactly.
    SVStatus s;
    s.svs().resize(100);
    EXPECT_EQ(SVStatus::getCdrSerializedSize(s), 2449u);

    // Octets follow the sequence count without padding.
    GNSSSubframe g;
    EXPECT_EQ(GNSSSubframe::getCdrSerializedSize(g), 76u);
    g.data_vector({1, 2, 3});
    EXPECT_EQ(GNSSSubframe::getCdrSerializedSize(g), 79u);
}

TEST(MessageSizes, KeylessTypesHaveAnEmptyKey)
{
    EXPECT_FALSE(UTCTime::isKeyDefined());
    EXPECT_EQ(UTCTime::getKeyMaxCdrSerializedSize(12), 12u);

    char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    eprosima::fastcdr::FastBuffer fast(buffer, sizeof(buffer));
    eprosima::fastcdr::Cdr cdr(fast, eprosima::fastcdr::Cdr::DEFAULT_ENDIAN, eprosima::fastcdr::Cdr::DDS_CDR);
    EventLog().serializeKey(cdr);
    EXPECT_EQ(cdr.getSerializedDataLength(), 0u);
}

}  // namespace
