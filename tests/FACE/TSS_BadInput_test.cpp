#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastdds/rtps/common/SerializedPayload.h>
#include <fastrtps/Domain.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/publisher/Publisher.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "FACE/TSS_Attributes.h"
#include "TssMessages.h"
#include "aspn2_msgs/PubSubTypes.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using namespace tsstest;
using FACE::TSS::CONNECTION_ID_TYPE;
using testing::HasSubstr;

namespace {

using Bytes = std::vector<uint8_t>;

// A topic type that puts whatever bytes it is given on the wire, under the
// name of a real message type, to play a faulty or hostile peer.
class RawType : public eprosima::fastdds::dds::TopicDataType {
public:
    explicit RawType(const char* name) {
        setName(name);
        m_typeSize = 1024;
        m_isGetKeyDefined = false;
    }
    bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override {
        const Bytes& bytes = *static_cast<const Bytes*>(data);
        if (bytes.size() > payload->max_size) {
            return false;
        }
        std::memcpy(payload->data, bytes.data(), bytes.size());
        payload->length = static_cast<uint32_t>(bytes.size());
        payload->encapsulation = CDR_LE;
        return true;
    }
    bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t*, void*) override { return false; }
    std::function<uint32_t()> getSerializedSizeProvider(void* data) override {
        return [data] { return static_cast<uint32_t>(static_cast<const Bytes*>(data)->size()); };
    }
    void* createData() override { return new Bytes(); }
    void deleteData(void* data) override { delete static_cast<Bytes*>(data); }
    bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }
};

// A plain library participant with one raw writer, on the transport's own
// settings so that it matches the service's readers.
class RawPeer {
public:
    RawPeer(const FACE::TSS::Details::FastRtpsSettings& settings, const std::string& topic, const char* typeName)
        : m_type(typeName) {
        UseTransportsInProcess();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        m_participant = eprosima::fastrtps::Domain::createParticipant(
            FACE::TSS::Details::MakeParticipantAttributes("RawPeer", settings));
#pragma GCC diagnostic pop
        if (m_participant == nullptr || !eprosima::fastrtps::Domain::registerType(m_participant, &m_type)) {
            throw std::runtime_error("raw peer");
        }
        m_publisher = eprosima::fastrtps::Domain::createPublisher(
            m_participant, FACE::TSS::Details::MakePublisherAttributes(settings, topic, typeName), &m_listener);
        if (m_publisher == nullptr) {
            throw std::runtime_error("raw publisher");
        }
    }
    ~RawPeer() { eprosima::fastrtps::Domain::removeParticipant(m_participant); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool write(Bytes bytes) { return m_publisher->write(&bytes); }
    int32_t matched() const { return m_listener.matched(); }

private:
    RawType m_type;
    FACE::TSS::Listeners::PublisherListenerBase m_listener{"RawPeer"};
    eprosima::fastrtps::Participant* m_participant = nullptr;
    eprosima::fastrtps::Publisher* m_publisher = nullptr;
};

Bytes Encode(const idl::CommandResponse& message) {
    aspn2_msgs::idl::CommandResponsePubSubType type;
    eprosima::fastrtps::rtps::SerializedPayload_t payload(type.m_typeSize + 64);
    EXPECT_TRUE(type.serialize(const_cast<idl::CommandResponse*>(&message), &payload));
    return Bytes(payload.data, payload.data + payload.length);
}

void PutU32(Bytes& bytes, std::size_t offset, uint32_t value) {
    std::memcpy(&bytes[offset], &value, sizeof value);  // little-endian host, CDR_LE payload
}

}  // namespace

TEST(TSSBadInput, UndecodablePayloadsAreDroppedAndLaterSamplesStillArrive) {
    Collector<idl::CommandResponse> got;
    FastRtps f;
    f.domainId = std::to_string(kDomainCorrupted);
    f.useTransport = "UDP";
    f.historyDepth = "20";
    Service s("Chronavel", Document({f.set(), Connection("Command", "CommandResponse")}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE id = s.connect("Command");
    auto typed = Typed<idl::CommandResponse>(s.tss);
    RC::Value code;
    typed->Register_Callback(id, got.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);

    RawPeer peer(s.tss->settings(), "Command", "aspn2_msgs::idl::CommandResponse");
    ASSERT_TRUE(WaitUntil([&] { return peer.matched() > 0 && At(*s.tss, id).subscriberListener()->matched() > 0; }));

    const idl::CommandResponse good = MakeCommand(11, "QUERY_VERSIONING");
    const Bytes valid = Encode(good);
    ASSERT_EQ(valid.size(), 4u + 56u + 4u + 17u);

    Bytes truncated(valid.begin(), valid.begin() + 30);
    Bytes hugeString = valid;
    PutU32(hugeString, 4 + 56, 0x7FFFFFF0u);  // far more characters than the payload holds
    Bytes stringPastEnd = valid;
    PutU32(stringPastEnd, 4 + 56, 40u);  // beyond the payload and its padding
    Bytes otherEncoding = valid;
    otherEncoding[1] = 0x02;  // parameter-list encapsulation
    Bytes headerOnly(valid.begin(), valid.begin() + 4);

    for (const Bytes* bad : {&truncated, &hugeString, &stringPastEnd, &otherEncoding, &headerOnly}) {
        ASSERT_TRUE(peer.write(*bad));
    }
    ASSERT_TRUE(peer.write(valid));
    ASSERT_TRUE(got.waitFor(1));

    const auto d = got.deliveries();
    ASSERT_EQ(d.size(), 1u);
    ExpectSame(d[0].message, good);
    EXPECT_EQ(d[0].transactionId, 6);  // the five before it were taken and dropped

    ASSERT_TRUE(peer.write(valid));
    ASSERT_TRUE(got.waitFor(2));
    EXPECT_EQ(got.deliveries()[1].transactionId, 7);
}

TEST(TSSBadInput, StringsFarBeyondTheAdvertisedSizeTravelIntact) {
    for (const char* transport : {"UDP", "SHM"}) {
        Collector<idl::EventLog> got;
        FastRtps f;
        f.domainId = std::to_string(kDomainOversized);
        f.useTransport = transport;
        Service a("A", Document({f.set(), Connection("EventLog", "EventLog")}));
        Service b("B", Document({f.set(), Connection("EventLog", "EventLog")}));
        ASSERT_EQ(a.initialized, RC::NO_ERROR);
        ASSERT_EQ(b.initialized, RC::NO_ERROR);
        const CONNECTION_ID_TYPE ia = a.connect("EventLog"), ib = b.connect("EventLog");
        auto out = Typed<idl::EventLog>(a.tss);
        auto in = Typed<idl::EventLog>(b.tss);
        RC::Value code;
        out->Register_Sender(ia, code);
        in->Register_Callback(ib, got.callback(), code);
        ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib)) << transport;

        std::string huge(100000, ' ');
        for (std::size_t i = 0; i < huge.size(); ++i) {
            huge[i] = static_cast<char>('a' + i % 26);
        }
        FACE::TSS::TRANSACTION_ID_TYPE t = 0;
        out->Send_Message(ia, -1, t, MakeEvent(1, huge), code);
        EXPECT_EQ(code, RC::NO_ERROR) << transport;
        out->Send_Message(ia, -1, t, MakeEvent(2, "after"), code);
        EXPECT_EQ(code, RC::NO_ERROR) << transport;
        ASSERT_TRUE(got.waitFor(2)) << transport;
        const auto d = got.deliveries();
        ExpectSame(d[0].message, MakeEvent(1, huge));
        ExpectSame(d[1].message, MakeEvent(2, "after"));
    }
}

TEST(TSSBadInput, BurstsNeitherCrashNorStallTheReader) {
    std::atomic<int64_t> lastTransaction{0};
    std::atomic<bool> ordered{true};
    Collector<idl::EventLog> finals;
    auto collectFinal = finals.callback();
    FastRtps f;
    f.domainId = std::to_string(kDomainHighRate);
    f.useTransport = "UDP";
    f.historyDepth = "4";
    Service a("A", Document({f.set(), Connection("EventLog", "EventLog")}));
    Service b("B", Document({f.set(), Connection("EventLog", "EventLog")}));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE ia = a.connect("EventLog"), ib = b.connect("EventLog");
    auto out = Typed<idl::EventLog>(a.tss);
    auto in = Typed<idl::EventLog>(b.tss);
    RC::Value code;
    out->Register_Sender(ia, code);
    in->Register_Callback(
        ib,
        [&](CONNECTION_ID_TYPE c, FACE::TSS::TRANSACTION_ID_TYPE t, const idl::EventLog& m,
            const FACE::TSS::HEADER_TYPE& h, const FACE::TSS::QoS_EVENT_TYPE& q, RC::Value& rc) {
            if (t <= lastTransaction.exchange(t)) {
                ordered = false;
            }
            if (m.eventlog() == "last") {
                collectFinal(c, t, m, h, q, rc);
            }
        },
        code);
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));

    const int burst = 3000;
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    for (int i = 0; i < burst; ++i) {
        out->Send_Message(ia, -1, t, MakeEvent(i, "burst " + std::to_string(i)), code);
        ASSERT_EQ(code, RC::NO_ERROR) << i;
    }
    out->Send_Message(ia, -1, t, MakeEvent(burst, "last"), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ASSERT_TRUE(finals.waitFor(1, std::chrono::seconds(30)));
    EXPECT_EQ(finals.deliveries()[0].transactionId, burst + 1);
    EXPECT_TRUE(ordered.load());
}

TEST(TSSBadInput, CallbackThatThrowsDoesNotTakeTheProcessDown) {
    Collector<idl::UTCTime> got;
    auto collect = got.callback();
    std::atomic<int> calls{0};
    FastRtps f;
    f.domainId = std::to_string(kDomainCallbackThrows);
    Service a("A", Document({f.set(), Connection("UTCTime", "UTCTime")}));
    Service b("B", Document({f.set(), Connection("UTCTime", "UTCTime")}));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE ia = a.connect("UTCTime"), ib = b.connect("UTCTime");
    auto out = Typed<idl::UTCTime>(a.tss);
    auto in = Typed<idl::UTCTime>(b.tss);
    RC::Value code;
    out->Register_Sender(ia, code);
    in->Register_Callback(
        ib,
        [&](CONNECTION_ID_TYPE c, FACE::TSS::TRANSACTION_ID_TYPE t, const idl::UTCTime& m,
            const FACE::TSS::HEADER_TYPE& h, const FACE::TSS::QoS_EVENT_TYPE& q, RC::Value& rc) {
            const int call = ++calls;
            if (call == 1) {
                throw std::runtime_error("first sample refused");
            }
            if (call == 2) {
                throw 42;
            }
            collect(c, t, m, h, q, rc);
        },
        code);
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));

    testing::internal::CaptureStderr();
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    for (int i = 1; i <= 3; ++i) {
        out->Send_Message(ia, -1, t, MakeUtc(i), code);
    }
    const bool arrived = got.waitFor(1);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(arrived);
    ExpectSame(got.deliveries()[0].message, MakeUtc(3));
    EXPECT_THAT(err, HasSubstr("Participant B read callback of connection 0 failed: first sample refused"));
    EXPECT_THAT(err, HasSubstr("failed: unknown exception"));
}
