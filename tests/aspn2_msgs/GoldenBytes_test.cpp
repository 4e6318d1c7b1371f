// The three messages this server exchanges, byte for byte against their
// documented layouts (offsets counted after the 4-byte encapsulation).

#include "MessageTestSupport.h"

#include <gtest/gtest.h>

using namespace aspn2_msgs::idl;
using msgtest::Image;

namespace {

header distinctiveHeader()
{
    header h;
    h.seq_num(0x0102030405060708LL);
    h.timestamp_arrival().sec(-2);
    h.timestamp_arrival().nsec(999999999);
    h.timestamp_arrival().time_code(100);
    h.timestamp_valid().sec(1700000000123LL);
    h.timestamp_valid().nsec(-5);
    h.timestamp_valid().time_code(101);
    h.device_id(0x032C0200);
    return h;
}

void expectHeader(Image& image)
{
    image.at<int64_t>(0, 0x0102030405060708LL)
        .at<int64_t>(8, -2)
        .at<int32_t>(16, 999999999)
        .at<int32_t>(20, 100)
        .at<int64_t>(24, 1700000000123LL)
        .at<int32_t>(32, -5)
        .at<int32_t>(36, 101)
        .at<int32_t>(40, 0x032C0200);
}

class GoldenBytes : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!msgtest::hostIsLittleEndian()) {
            GTEST_SKIP() << "expected images are written for a little-endian host";
        }
    }
};

TEST_F(GoldenBytes, UTCTimeMatchesItsFixedLayout)
{
    UTCTime m;
    m.header(distinctiveHeader());
    m.gps_tow_sec(345600);
    m.gps_tow_nsec(123456789.0);
    m.gps_week(2290);
    m.utc_tod_sec(-86399);
    m.utc_tod_nsec(0.5);
    m.a1(-1.25e-12);
    m.covariance({{{1.0, 2.0}, {3.0, 4.0}}});

    Image expected(112);
    expectHeader(expected);
    expected.at<int32_t>(44, 345600)
        .at<double>(48, 123456789.0)
        .at<int32_t>(56, 2290)
        .at<int32_t>(60, -86399)
        .at<double>(64, 0.5)
        .at<double>(72, -1.25e-12)
        .at<double>(80, 1.0)
        .at<double>(88, 2.0)
        .at<double>(96, 3.0)
        .at<double>(104, 4.0);

    EXPECT_EQ(msgtest::encode(m), expected.bytes());
    // Every sample has the same size, the default one included.
    EXPECT_EQ(msgtest::encode(UTCTime()).size(), 116u);
}

TEST_F(GoldenBytes, CommandResponseCountsTheTerminatingNul)
{
    CommandResponse m;
    m.header(distinctiveHeader());
    m.commanded_device_id(0x01020304);
    m.command_identifier(7);
    m.command_response_type(COMMAND_RESPONSE_TYPE_RESPONSE);
    m.command_response("BITSERVER_PING_PASS");

    Image expected(56 + 4 + 19 + 1);
    expectHeader(expected);
    expected.at<int32_t>(44, 0x01020304).at<int32_t>(48, 7).at<uint32_t>(52, 1).text(56, "BITSERVER_PING_PASS");
    EXPECT_EQ(msgtest::encode(m), expected.bytes());

    // An empty text is still a count of one and a NUL: a 61-byte body.
    CommandResponse empty;
    Image expectedEmpty(61);
    expectedEmpty.text(56, "");
    EXPECT_EQ(msgtest::encode(empty), expectedEmpty.bytes());
}

TEST_F(GoldenBytes, EventLogPlacesItsTextAfterTheType)
{
    EventLog m;
    m.header(distinctiveHeader());
    m.event_log_type(EVENT_LOG_TYPE_FAULT);
    m.eventlog("timer.cpp[40]:late");

    Image expected(48 + 4 + 18 + 1);
    expectHeader(expected);
    expected.at<uint32_t>(44, 3).text(48, "timer.cpp[40]:late");
    EXPECT_EQ(msgtest::encode(m), expected.bytes());

    // 255 characters reach exactly the advertised maximum body; longer
    // texts are still carried whole.
    m.eventlog(std::string(255, 'x'));
    EXPECT_EQ(msgtest::encode(m).size(), 4u + 308u);
    m.eventlog(std::string(300, 'y'));
    EventLog back;
    ASSERT_TRUE(msgtest::decode(msgtest::encode(m), back));
    EXPECT_EQ(back.eventlog(), m.eventlog());
}

TEST_F(GoldenBytes, TextsWithEmbeddedNulKeepEveryCharacter)
{
    EventLog m;
    m.eventlog(std::string("a\0b", 3));
    const std::vector<uint8_t> bytes = msgtest::encode(m);
    Image expected(48 + 4 + 3 + 1);
    expected.text(48, std::string("a\0b", 3));
    EXPECT_EQ(bytes, expected.bytes());

    EventLog back;
    ASSERT_TRUE(msgtest::decode(bytes, back));
    EXPECT_EQ(back.eventlog(), std::string("a\0b", 3));
}

TEST_F(GoldenBytes, BigEndianImageDecodesOnThisHost)
{
    auto image = [](uint8_t encapsulation) {
        Image i(112, encapsulation);
        expectHeader(i);
        i.at<int32_t>(44, 345600).at<double>(48, 987.5).at<int32_t>(60, 43200).at<double>(104, 4.0);
        return i.bytes();
    };
    UTCTime little;
    ASSERT_TRUE(msgtest::decode(image(0x01), little));
    EXPECT_EQ(little.gps_tow_nsec(), 987.5);

    aspn2_msgs::idl::UTCTimePubSubType type;
    auto payload = msgtest::payloadOf(image(0x00));
    payload.encapsulation = CDR_LE;
    UTCTime big;
    ASSERT_TRUE(type.deserialize(&payload, &big));
    EXPECT_EQ(payload.encapsulation, CDR_BE);
    EXPECT_EQ(msgtest::difference(big, little), "");
}

TEST_F(GoldenBytes, PaddingFollowsTheCurrentAlignment)
{
    // A boolean after the header puts the next 32-bit field at 48, and the
    // sequence count right behind it; an empty sequence ends the body at 60.
    BitReport m;
    m.bit_rollup(true);
    m.num_servers_expected(5);
    m.num_servers_available(4);
    Image expected(60);
    expected.at<uint8_t>(44, 1).at<int32_t>(48, 5).at<int32_t>(52, 4).at<uint32_t>(56, 0);
    EXPECT_EQ(msgtest::encode(m), expected.bytes());

    // Each sv_set holds 21 bytes of data; the next one starts 4-aligned.
    SVStatus s;
    s.svs().resize(2);
    s.svs()[0].rising(true);
    s.svs()[1].svid(9);
    Image two(52 + 24 + 21);
    two.at<uint32_t>(48, 2).at<uint8_t>(52 + 20, 1).at<int32_t>(52 + 24, 9);
    EXPECT_EQ(msgtest::encode(s), two.bytes());
}

}  // namespace
