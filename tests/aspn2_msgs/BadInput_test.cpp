// Hostile payloads: counts that the payload cannot back, foreign
// representations, invalid booleans.

#include "MessageTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace aspn2_msgs::idl;
using msgtest::Image;

// Largest single allocation while `g_watch` is set, to show that no
// decoder sizes a container from an untrusted count.
namespace {
std::atomic<bool> g_watch{false};
std::atomic<std::size_t> g_largest{0};
}  // namespace

void* operator new(std::size_t size)
{
    if (g_watch.load() && size > g_largest.load()) {
        g_largest.store(size);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
// GCC cannot see that operator new above is the malloc-backed pair of these.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

class BadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!msgtest::hostIsLittleEndian()) {
            GTEST_SKIP() << "images are written for a little-endian host";
        }
    }

    template <class T>
    static bool decodeWatched(const std::vector<uint8_t>& bytes, std::size_t& largest)
    {
        T sample;
        g_largest = 0;
        g_watch = true;
        const bool ok = msgtest::decode(bytes, sample);
        g_watch = false;
        largest = g_largest;
        return ok;
    }
};

TEST_F(BadInput, SequenceCountBeyondThePayloadIsRefusedBeforeAllocating)
{
    // 4000 bytes could hold 4000 one-byte elements, but not 4000 line-of-
    // sight observations of at least 127 bytes each.
    Image image(52 + 4000);
    image.at<uint32_t>(48, 4000);
    std::size_t largest = 0;
    EXPECT_FALSE(decodeWatched<GPSLineOfSight>(image.bytes(), largest));
    EXPECT_LT(largest, 2 * image.bytes().size());

    // A count near 2^32 does not overflow the check either.
    Image huge(52 + 16);
    huge.at<uint32_t>(48, 0xFFFFFFFFu);
    EXPECT_FALSE(decodeWatched<GPSLineOfSight>(huge.bytes(), largest));
    EXPECT_LT(largest, 4096u);
    EXPECT_FALSE(decodeWatched<GSSIP>(huge.bytes(), largest));
    EXPECT_LT(largest, 4096u);
}

TEST_F(BadInput, SequenceCountThatFitsIsAccepted)
{
    // Exactly 16 octets behind a count of 16.
    Image image(52 + 16);
    image.at<int32_t>(44, 16).at<uint32_t>(48, 16).at<uint8_t>(52 + 15, 0xEE);
    GSSIP m;
    ASSERT_TRUE(msgtest::decode(image.bytes(), m));
    ASSERT_EQ(m.data().size(), 16u);
    EXPECT_EQ(m.data()[15], 0xEE);
}

TEST_F(BadInput, StringCountBeyondThePayloadIsRefused)
{
    Image image(48 + 4 + 8);
    image.at<uint32_t>(48, 0x7FFFFFF0u);
    std::size_t largest = 0;
    EXPECT_FALSE(decodeWatched<EventLog>(image.bytes(), largest));
    EXPECT_LT(largest, 4096u);

    // One more than the characters present, NUL included.
    Image shortText(48 + 4 + 3);
    shortText.at<uint32_t>(48, 4);
    EXPECT_FALSE(decodeWatched<EventLog>(shortText.bytes(), largest));
}

TEST_F(BadInput, OnlyPlainCdrRepresentationsAreAccepted)
{
    std::vector<uint8_t> bytes = msgtest::encode(msgtest::filled<UTCTime>(2));
    UTCTime m;
    ASSERT_TRUE(msgtest::decode(bytes, m));
    // Parameter-list CDR, XCDR2 and an unknown kind lay fields out differently.
    for (uint16_t id : {0x0002, 0x0003, 0x0007, 0x0009, 0x0101}) {
        bytes[0] = static_cast<uint8_t>(id >> 8);
        bytes[1] = static_cast<uint8_t>(id & 0xFF);
        EXPECT_FALSE(msgtest::decode(bytes, m)) << "representation " << id;
    }
}

TEST_F(BadInput, BooleanByteOtherThanZeroOrOneIsRefusedNotThrown)
{
    Image image(47);
    image.at<uint8_t>(44, 2);
    BitEntryStatus m;
    EXPECT_FALSE(msgtest::decode(image.bytes(), m));
    image.at<uint8_t>(44, 1);
    ASSERT_TRUE(msgtest::decode(image.bytes(), m));
    EXPECT_TRUE(m.requestedEntryAvailable());
}

TEST_F(BadInput, UnknownEnumValuesPassThrough)
{
    // The wire carries a 32-bit number; values beyond the enumerators are
    // kept as they are, not refused.
    Image image(48);
    image.at<uint32_t>(44, 77);
    AssuranceState m;
    ASSERT_TRUE(msgtest::decode(image.bytes(), m));
    EXPECT_EQ(static_cast<uint32_t>(m.assurance_state()), 77u);
    EXPECT_EQ(msgtest::encode(m), image.bytes());
}

}  // namespace
