#include <fastrtps/Domain.h>

#include <cstring>

#include "aspn2_msgs/PubSubTypes.h"
#include "support/TssTestSupport.h"

using namespace tsstest;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using Bytes = std::vector<uint8_t>;

namespace {

// The real type under its real name, except that whatever bytes it is
// given go on the wire: a faulty or hostile peer.
class RawType : public aspn2_msgs::idl::TopicType<idl::CommandResponse> {
public:
    bool serialize(void* data, SerializedPayload_t* payload) override {
        const Bytes& bytes = *static_cast<const Bytes*>(data);
        if (bytes.size() > payload->max_size) {
            return false;
        }
        std::memcpy(payload->data, bytes.data(), bytes.size());
        payload->length = static_cast<uint32_t>(bytes.size());
        payload->encapsulation = CDR_LE;
        return true;
    }
    std::function<uint32_t()> getSerializedSizeProvider(void* data) override {
        return [data] { return static_cast<uint32_t>(static_cast<const Bytes*>(data)->size()); };
    }
};

}  // namespace

TEST(TSSBadInput, UndecodablePayloadsAreDroppedAndLaterSamplesStillArrive) {
    RawType raw;  // outlives the peer's participant, as does its listener
    FACE::TSS::Listeners::PublisherListenerBase peerListener("Peer");
    Collector<idl::CommandResponse> got;
    FastRtps f(kDomainCorrupted, "UDP");
    f.historyDepth = "20";
    Service s("Chronavel", f);
    Service peer("Peer", f);
    const CONNECTION_ID_TYPE id = s.connect("Command");
    const auto in = Typed<idl::CommandResponse>(s, -1, id, got.callback());
    ASSERT_TRUE(eprosima::fastrtps::Domain::registerType(peer.tss->participant(), &raw));
    eprosima::fastrtps::Publisher* writer = eprosima::fastrtps::Domain::createPublisher(
        peer.tss->participant(),
        FACE::TSS::Details::MakePublisherAttributes(peer.tss->settings(), "Command", raw.getName()), &peerListener);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&] { return peerListener.matched() > 0 && At(*s.tss, id).subscriberListener()->matched() > 0; }));
    auto write = [writer](Bytes bytes) { return writer->write(&bytes); };

    idl::CommandResponse good = Sample<idl::CommandResponse>(11);
    good.command_response("QUERY_VERSIONING");
    aspn2_msgs::idl::CommandResponsePubSubType type;
    SerializedPayload_t payload(type.m_typeSize);
    ASSERT_TRUE(type.serialize(&good, &payload));
    const Bytes valid(payload.data, payload.data + payload.length);
    ASSERT_EQ(valid.size(), 4u + 56u + 4u + 17u);  // the string's length is at 60
    auto withLength = [&](uint32_t length) {
        Bytes bytes = valid;
        std::memcpy(&bytes[60], &length, sizeof length);  // little-endian host, CDR_LE payload
        return bytes;
    };
    Bytes otherEncoding = valid;
    otherEncoding[1] = 0x02;  // parameter-list encapsulation
    // Truncated, a string far longer than the payload, a string just past
    // its end, a foreign encoding and the encapsulation alone.
    for (const Bytes& bad : {Bytes(valid.begin(), valid.begin() + 30), withLength(0x7FFFFFF0u), withLength(40u),
                             otherEncoding, Bytes(valid.begin(), valid.begin() + 4)}) {
        ASSERT_TRUE(write(bad));
    }
    ASSERT_TRUE(write(valid));
    ASSERT_TRUE(got.waitFor(1));
    ASSERT_TRUE(write(valid));
    ASSERT_TRUE(got.waitFor(2));
    const auto d = got.deliveries();
    ASSERT_EQ(d.size(), 2u);
    ExpectSame(d[0].message, good);
    EXPECT_EQ(d[0].transactionId, 6);  // the five before it were taken and dropped
    EXPECT_EQ(d[1].transactionId, 7);
}

// A callback that throws must not unwind into the library's receive thread,
// and a flood must not stall the reader: the last sample still arrives.
TEST(TSSBadInput, ThrowingCallbacksAndBurstsNeitherCrashNorStallTheReader) {
    std::atomic<int> calls{0};
    std::atomic<int64_t> lastTransaction{0};
    std::atomic<bool> ordered{true};
    Collector<idl::EventLog> last;
    auto collect = last.callback();
    FastRtps f(kDomainHighRate, "UDP");
    f.historyDepth = "4";
    Service a("A", f);
    Service b("B", f);
    Link<idl::EventLog> link(a, b, "EventLog", [&, collect](auto c, auto t, const idl::EventLog& m, const auto& h,
                                                             const auto& q, auto& rc) {
        ordered = ordered && t > lastTransaction.exchange(t);
        const int call = ++calls;
        if (call == 1) {
            throw std::runtime_error("first sample refused");
        }
        if (call == 2) {
            throw 42;
        }
        if (m.eventlog() == "last") {
            collect(c, t, m, h, q, rc);
        }
    });
    ASSERT_TRUE(link.matched());
    testing::internal::CaptureStderr();
    for (const char* text : {"first", "second", "third"}) {
        EXPECT_EQ(link.send(Event(0, text)), RC::NO_ERROR);
    }
    // One thread calls the reader, so the third call follows the second's report.
    const bool called = WaitUntil([&] { return calls == 3; });
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(called);
    EXPECT_THAT(err, testing::HasSubstr("Participant B read callback of connection 0 failed: first sample refused"));
    EXPECT_THAT(err, testing::HasSubstr("failed: unknown exception"));

    const int burst = 3000;
    for (int i = 0; i < burst; ++i) {
        ASSERT_EQ(link.send(Event(i, "burst")), RC::NO_ERROR) << i;
    }
    ASSERT_EQ(link.send(Event(burst, "last")), RC::NO_ERROR);
    ASSERT_TRUE(last.waitFor(1, std::chrono::seconds(30)));
    EXPECT_EQ(last.deliveries()[0].transactionId, burst + 4);
    EXPECT_TRUE(ordered.load());
}
