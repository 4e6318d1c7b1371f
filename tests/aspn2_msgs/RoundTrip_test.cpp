// Every message type through its topic data type: values survive in both
// byte orders, the size provider is exact, and short buffers or payloads are
// refused cleanly.

#include "MessageTestSupport.h"

#include <gtest/gtest.h>

using namespace aspn2_msgs::idl;
using msgtest::SerializedPayload_t;

namespace {

template <class T>
class EveryMessage : public ::testing::Test {};

using AllMessages = ::testing::Types<
    timestamp, header, bit_comp_set, interference_type_set, channel_status_obs, gnss_obs,
    key_type_set, gpslos_obs, lru_comp_set, meas_type_set, sv_set, geodeticposition3d_type,
    UTCTime, CommandResponse, EventLog, Altitude, BitReport, BitEntryStatus,
    ChallengedEnvironment, ChannelStatus, DeltaTimeAndFrequency, GNSS, GNSSSubframe, GPSTime,
    IMU, MaintenanceEvent, MeasurementIncorporationStatus, QuorvanePNT, NavigationMode,
    PositionVelocity, PositionVelocityAttitude, ThreeAxisMagnetometer, TimeAtTheTone,
    UtcDownlink, GSSIP, Velocity3D, ReceiverStatus, GPSLineOfSight, GPSCryptoStatus,
    AssuranceState, PlatformDynamics, TimeSync, SVStatus, ForwardReverseStatus>;
TYPED_TEST_SUITE(EveryMessage, AllMessages);

template <class T>
std::vector<uint8_t> encodeBigEndian(const T& sample)
{
    std::vector<char> buffer(4 + T::getCdrSerializedSize(sample));
    eprosima::fastcdr::FastBuffer fast(buffer.data(), buffer.size());
    eprosima::fastcdr::Cdr cdr(fast, eprosima::fastcdr::Cdr::BIG_ENDIANNESS, eprosima::fastcdr::Cdr::DDS_CDR);
    cdr.serialize_encapsulation();
    sample.serialize(cdr);
    EXPECT_EQ(cdr.getSerializedDataLength(), buffer.size());
    return std::vector<uint8_t>(buffer.begin(), buffer.end());
}

TYPED_TEST(EveryMessage, EveryFieldSurvivesARoundTrip)
{
    const TypeParam original = msgtest::filled<TypeParam>(17);
    ASSERT_NE(msgtest::difference(original, TypeParam()), "") << "filler left the sample at its defaults";

    const std::vector<uint8_t> bytes = msgtest::encode(original);
    ASSERT_FALSE(bytes.empty());
    // The size provider asked for exactly what was written.
    EXPECT_EQ(bytes.size(), 4 + TypeParam::getCdrSerializedSize(original));
    EXPECT_LE(bytes.size(), TopicType<TypeParam>::kTypeSize);

    TypeParam decoded;
    ASSERT_TRUE(msgtest::decode(bytes, decoded));
    EXPECT_EQ(msgtest::difference(original, decoded), "");
}

TYPED_TEST(EveryMessage, BigEndianPayloadDecodesToTheSameValues)
{
    const TypeParam original = msgtest::filled<TypeParam>(5);
    const std::vector<uint8_t> big = encodeBigEndian(original);
    const std::vector<uint8_t> little = msgtest::encode(original);
    ASSERT_EQ(big.size(), little.size());
    EXPECT_EQ(big[1], 0x00);
    EXPECT_NE(big, little);

    TypeParam decoded;
    ASSERT_TRUE(msgtest::decode(big, decoded));
    EXPECT_EQ(msgtest::difference(original, decoded), "");
}

TYPED_TEST(EveryMessage, TruncatedPayloadIsRefusedAndLeavesTheSampleAlone)
{
    const std::vector<uint8_t> bytes = msgtest::encode(msgtest::filled<TypeParam>(3));
    const TypeParam before = msgtest::filled<TypeParam>(99);
    TopicType<TypeParam> type;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        // The payload's buffer ends exactly at `length`.
        SerializedPayload_t payload =
            msgtest::payloadOf(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
        TypeParam sample = before;
        EXPECT_FALSE(type.deserialize(&payload, &sample)) << "length " << length;
        EXPECT_EQ(msgtest::difference(before, sample), "") << "length " << length;
    }
}

TYPED_TEST(EveryMessage, BufferOneByteShortIsRefusedWithoutSettingTheLength)
{
    TypeParam sample = msgtest::filled<TypeParam>(8);
    TopicType<TypeParam> type;
    const uint32_t needed = type.getSerializedSizeProvider(&sample)();

    SerializedPayload_t shortPayload;
    msgtest::reserveExactly(shortPayload, needed - 1);
    shortPayload.length = 12345;
    EXPECT_FALSE(type.serialize(&sample, &shortPayload));
    EXPECT_EQ(shortPayload.length, 12345u);

    SerializedPayload_t exact;
    msgtest::reserveExactly(exact, needed);
    EXPECT_TRUE(type.serialize(&sample, &exact));
    EXPECT_EQ(exact.length, needed);
}

TYPED_TEST(EveryMessage, TopicTypeMakesAndBuildsDefaultSamples)
{
    TopicType<TypeParam> type;
    void* data = type.createData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(msgtest::difference(*static_cast<TypeParam*>(data), TypeParam()), "");

    // Keyless: no key, and the handle is not touched.
    eprosima::fastrtps::rtps::InstanceHandle_t handle;
    handle.value[0] = 0x5A;
    EXPECT_FALSE(type.getKey(data, &handle, true));
    EXPECT_EQ(handle.value[0], 0x5A);
    type.deleteData(data);

    alignas(TypeParam) unsigned char memory[sizeof(TypeParam)];
    std::memset(memory, 0xA5, sizeof(memory));
    const bool built = type.construct_sample(memory);
    EXPECT_EQ(built, type.is_plain());
    if (built) {
        auto* sample = reinterpret_cast<TypeParam*>(memory);
        EXPECT_EQ(msgtest::difference(*sample, TypeParam()), "");
        sample->~TypeParam();
    }
}

TEST(MessageValues, DefaultsAreZeroEmptyAndFirstEnumerator)
{
    const QuorvanePNT q;
    EXPECT_EQ(q.header().timestamp_valid().sec(), 0);
    EXPECT_EQ(q.Heading_Error(), 0.0);
    EXPECT_EQ(q.QV_PNT_Solution_Assurance(), QV_PNT_SOLUTION_ASSURANCE_UNKNOWN);
    const MaintenanceEvent m;
    EXPECT_EQ(m.description()[55], '\0');
    EXPECT_EQ(m.fault_sources()[3].component_id(), 0);
    EXPECT_TRUE(GPSLineOfSight().obs().empty());
    EXPECT_TRUE(EventLog().eventlog().empty());
}

TEST(MessageValues, MoveSetterTakesTheContents)
{
    std::vector<gpslos_obs> observations(2);
    const gpslos_obs* storage = observations.data();
    GPSLineOfSight m;
    m.obs(std::move(observations));
    EXPECT_EQ(m.obs().data(), storage);
}

}  // namespace
