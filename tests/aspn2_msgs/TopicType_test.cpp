// Every message type through its topic data type: the exact wire bytes of
// the messages this server exchanges, every field of every type surviving a
// round trip through exactly-sized buffers (so that AddressSanitizer sees
// any access past the end), and clean refusal of short or hostile input.

#include "aspn2_msgs/PubSubTypes.h"
#include "support/AllocationCounter.h"

#include <fastdds/rtps/common/SerializedPayload.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

using namespace aspn2_msgs::idl;
using eprosima::fastrtps::rtps::SerializedPayload_t;

namespace {

// Every leaf gets a different value from the running counter `n`, so a
// field swapped with another of the same type does not go unnoticed.
template <class T>
void fill(T& value, uint32_t& n)
{
    ++n;
    if constexpr (std::is_same_v<T, bool>) {
        value = true;
    } else if constexpr (std::is_same_v<T, char>) {
        value = static_cast<char>('A' + n % 26);
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        value = static_cast<uint8_t>(0x80 + n % 0x7f);
    } else if constexpr (std::is_same_v<T, int32_t>) {
        value = -static_cast<int32_t>(n * 1000003u % 0x7fffffffu) - 1;
    } else if constexpr (std::is_same_v<T, int64_t>) {
        value = -static_cast<int64_t>(n) * 1000000007LL * 4099LL - 1;
    } else if constexpr (std::is_floating_point_v<T>) {
        value = static_cast<T>(n) + static_cast<T>(0.25);
    } else if constexpr (std::is_enum_v<T>) {
        const auto count = static_cast<uint32_t>(std::size(decltype(describe_enum(T{}))::enumerators));
        value = static_cast<T>(1 + n % (count - 1));
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = "text " + std::to_string(n);
    } else if constexpr (cdr::is_vector<T>::value || cdr::is_array<T>::value) {
        if constexpr (cdr::is_vector<T>::value) {
            value.resize(3);
        }
        for (auto& e : value) {
            fill(e, n);
        }
    } else {
        T::cdr_fields([&](auto m, const char*) { fill(value.*m, n); });
    }
}

template <class T>
T filled(uint32_t seed)
{
    T value;
    fill(value, seed);
    return value;
}

// Encodes into a buffer of exactly the size the type's own size provider
// asks for; empty if that is refused.
template <class T>
std::vector<uint8_t> encode(T sample)
{
    TopicType<T> type;
    SerializedPayload_t payload(type.getSerializedSizeProvider(&sample)());
    if (!type.serialize(&sample, &payload)) {
        return {};
    }
    return std::vector<uint8_t>(payload.data, payload.data + payload.length);
}

// Decodes from a buffer that ends exactly where `bytes` do.
template <class T>
bool decode(const std::vector<uint8_t>& bytes, T& sample)
{
    SerializedPayload_t payload(static_cast<uint32_t>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), payload.data);
    payload.length = static_cast<uint32_t>(bytes.size());
    return TopicType<T>().deserialize(&payload, &sample);
}

// The encapsulation's byte-order octet of this host: 1 little, 0 big.
uint8_t hostOrder()
{
    const uint16_t probe = 1;
    return *reinterpret_cast<const uint8_t*>(&probe);
}

// A CDR payload written without Fast CDR, field by field at the offsets a
// test expects (counted after the 4-byte encapsulation).
class Image {
public:
    explicit Image(std::size_t bodySize, uint8_t order = hostOrder()) : m_bytes(4 + bodySize, 0)
    {
        m_bytes[1] = order;
    }

    template <class V>
    Image& at(std::size_t offset, V value)
    {
        uint8_t raw[sizeof(V)];
        std::memcpy(raw, &value, sizeof(V));
        for (std::size_t i = 0; i < sizeof(V); ++i) {
            m_bytes.at(4 + offset + i) = m_bytes[1] == hostOrder() ? raw[i] : raw[sizeof(V) - 1 - i];
        }
        return *this;
    }

    // Count (NUL included), characters and the NUL.
    Image& text(std::size_t offset, const std::string& s)
    {
        at<uint32_t>(offset, static_cast<uint32_t>(s.size() + 1));
        for (std::size_t i = 0; i <= s.size(); ++i) {
            m_bytes.at(4 + offset + 4 + i) = static_cast<uint8_t>(i < s.size() ? s[i] : '\0');
        }
        return *this;
    }

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// ---- the messages this server exchanges, byte for byte ----

Image withHeader(Image image, const header& h)
{
    image.at<int64_t>(0, h.seq_num())
        .at<int64_t>(8, h.timestamp_arrival().sec())
        .at<int32_t>(16, h.timestamp_arrival().nsec())
        .at<int32_t>(20, h.timestamp_arrival().time_code())
        .at<int64_t>(24, h.timestamp_valid().sec())
        .at<int32_t>(32, h.timestamp_valid().nsec())
        .at<int32_t>(36, h.timestamp_valid().time_code())
        .at<int32_t>(40, h.device_id());
    return image;
}

TEST(GoldenBytes, UTCTimeMatchesItsFixedLayoutInEitherByteOrder)
{
    const UTCTime m = filled<UTCTime>(1);
    auto image = [&m](uint8_t order) {
        return withHeader(Image(112, order), m.header())
            .at<int32_t>(44, m.gps_tow_sec())
            .at<double>(48, m.gps_tow_nsec())
            .at<int32_t>(56, m.gps_week())
            .at<int32_t>(60, m.utc_tod_sec())
            .at<double>(64, m.utc_tod_nsec())
            .at<double>(72, m.a1())
            .at<double>(80, m.covariance()[0][0])
            .at<double>(88, m.covariance()[0][1])
            .at<double>(96, m.covariance()[1][0])
            .at<double>(104, m.covariance()[1][1])
            .bytes();
    };
    const std::vector<uint8_t> bytes = encode(m);
    EXPECT_EQ(bytes, image(hostOrder()));

    // The encapsulation, not the host, decides the byte order.
    for (uint8_t order : {0, 1}) {
        UTCTime decoded;
        ASSERT_TRUE(decode(image(order), decoded)) << int{order};
        EXPECT_EQ(encode(decoded), bytes) << int{order};
    }
}

TEST(GoldenBytes, CommandResponseCountsTheTerminatingNul)
{
    CommandResponse m = filled<CommandResponse>(2);
    m.command_response("BITSERVER_PING_PASS");
    const Image expected = withHeader(Image(56 + 4 + 19 + 1), m.header())
                               .at<int32_t>(44, m.commanded_device_id())
                               .at<int32_t>(48, m.command_identifier())
                               .at<uint32_t>(52, m.command_response_type())
                               .text(56, "BITSERVER_PING_PASS");
    EXPECT_EQ(encode(m), expected.bytes());
}

TEST(GoldenBytes, EventLogPlacesItsTextAfterTheTypeAndKeepsEmbeddedNuls)
{
    EventLog m = filled<EventLog>(3);
    for (const std::string& text : {std::string("timer.cpp[40]:late"), std::string("a\0b", 3)}) {
        m.eventlog(text);
        const Image expected = withHeader(Image(48 + 4 + text.size() + 1), m.header())
                                   .at<uint32_t>(44, m.event_log_type())
                                   .text(48, text);
        EXPECT_EQ(encode(m), expected.bytes());
        EventLog back;
        ASSERT_TRUE(decode(expected.bytes(), back));
        EXPECT_EQ(back.eventlog(), text);
    }

    // A default sample is zeros and an empty text: a count of one and a NUL.
    EXPECT_EQ(encode(EventLog()), Image(48 + 4 + 1).text(48, "").bytes());
}

// ---- every message type ----

template <class T>
void exercise()
{
    SCOPED_TRACE(T::type_name);
    T original = filled<T>(17);
    const std::vector<uint8_t> bytes = encode(original);
    // The size provider asked for exactly what was written.
    ASSERT_EQ(bytes.size(), 4 + T::getCdrSerializedSize(original));
    // Every field came back: encoding the decoded sample gives the same bytes.
    T decoded;
    ASSERT_TRUE(decode(bytes, decoded));
    EXPECT_EQ(encode(decoded), bytes);

    // Every shorter payload is refused and leaves the caller's sample as it was.
    const T before = filled<T>(99);
    const std::vector<uint8_t> beforeBytes = encode(before);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        T sample = before;
        EXPECT_FALSE(decode({bytes.begin(), bytes.begin() + length}, sample)) << length;
        EXPECT_EQ(encode(sample), beforeBytes) << length;
    }

    // A buffer one byte short is refused without claiming any length.
    SerializedPayload_t shortPayload(static_cast<uint32_t>(bytes.size() - 1));
    shortPayload.length = 12345;
    EXPECT_FALSE(TopicType<T>().serialize(&original, &shortPayload));
    EXPECT_EQ(shortPayload.length, 12345u);
}

TEST(TopicType, EveryMessageRoundTripsAndRefusesShortBuffersAndPayloads)
{
#define ASPN2_EXERCISE_(Name) exercise<Name>();
    ASPN2_ALL_STRUCTS(ASPN2_EXERCISE_)
#undef ASPN2_EXERCISE_
}

// ---- hostile input ----

template <class T>
void expectRefusedWithoutAllocating(const Image& image, std::size_t limit)
{
    SCOPED_TRACE(T::type_name);
    T sample;
    testsupport::resetLargestAllocation();
    const bool accepted = decode(image.bytes(), sample);
    const std::size_t largest = testsupport::largestAllocation();
    EXPECT_FALSE(accepted);
    EXPECT_LT(largest, limit);
}

TEST(TopicType, CountsBeyondThePayloadAreRefusedBeforeAllocating)
{
    // 4000 bytes could hold 4000 one-byte elements, but not 4000 line-of-
    // sight observations of at least 127 bytes each.
    Image many(52 + 4000);
    many.at<uint32_t>(48, 4000);
    expectRefusedWithoutAllocating<GPSLineOfSight>(many, 2 * many.bytes().size());

    // A count near 2^32 does not overflow the check either.
    Image huge(52 + 16);
    huge.at<uint32_t>(48, 0xFFFFFFFFu);
    expectRefusedWithoutAllocating<GPSLineOfSight>(huge, 4096);
    expectRefusedWithoutAllocating<GSSIP>(huge, 4096);

    Image text(48 + 4 + 8);
    text.at<uint32_t>(48, 0x7FFFFFF0u);
    expectRefusedWithoutAllocating<EventLog>(text, 4096);
}

TEST(TopicType, ForeignRepresentationsAndInvalidBooleansAreRefused)
{
    std::vector<uint8_t> bytes = encode(filled<UTCTime>(2));
    UTCTime m;
    ASSERT_TRUE(decode(bytes, m));
    // Parameter-list CDR, XCDR2 and an unknown kind lay fields out differently.
    for (uint16_t id : {0x0002, 0x0003, 0x0007, 0x0009, 0x0101}) {
        bytes[0] = static_cast<uint8_t>(id >> 8);
        bytes[1] = static_cast<uint8_t>(id & 0xFF);
        EXPECT_FALSE(decode(bytes, m)) << "representation " << id;
    }

    // Fast CDR throws on a boolean byte other than 0 or 1.
    Image image(47);
    BitEntryStatus b;
    EXPECT_FALSE(decode(image.at<uint8_t>(44, 2).bytes(), b));
    ASSERT_TRUE(decode(image.at<uint8_t>(44, 1).bytes(), b));
    EXPECT_TRUE(b.requestedEntryAvailable());
}

}  // namespace
