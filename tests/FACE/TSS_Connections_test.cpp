#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/subscriber/Subscriber.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"
#include "FACE/TSS_Topics.h"
#include "TssMessages.h"
#include "aspn2_msgs/PubSubTypes.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using namespace tsstest;
using FACE::TSS::CONNECTION_ID_TYPE;
using FACE::TSS::QV_TSS;
using testing::HasSubstr;
namespace dds = eprosima::fastdds::dds;

namespace {

// Counts how often each set is opened, and otherwise reads the file.
class CountingConfig : public FACE::QV_Config {
public:
    void Open(const FACE::String& set_name, HANDLE_TYPE& handle, RC::Value& code) override {
        ++opened[set_name.str()];
        QV_Config::Open(set_name, handle, code);
    }
    std::map<std::string, int> opened;
};

FastRtps Settings(uint32_t domain) {
    FastRtps f;
    f.domainId = std::to_string(domain);
    return f;
}

}  // namespace

TEST(TSSCreateConnection, IdsCountUpAndARepeatedNameIsNotReadAgain) {
    testsupport::TempDir dir;
    std::vector<std::string> sets = ServerConnections();
    sets.insert(sets.begin(), Settings(kDomainConnections).set());
    const std::string path = dir.write("c.xml", Document(sets));
    auto config = std::make_shared<CountingConfig>();
    QV_TSS tss("Chronavel");
    RC::Value code;
    tss.Set_Reference("", config, 0, code);
    tss.Initialize(path.c_str(), code);
    ASSERT_EQ(code, RC::NO_ERROR);

    CONNECTION_ID_TYPE id = -2;
    FACE::TSS::MESSAGE_SIZE_TYPE size = 1234;
    const char* names[] = {"EventLog", "Command", "Response", "UTCTime"};
    for (CONNECTION_ID_TYPE expected = 0; expected < 4; ++expected) {
        tss.Create_Connection(names[expected], -1, id, size, code);
        EXPECT_EQ(code, RC::NO_ERROR) << names[expected];
        EXPECT_EQ(id, expected) << names[expected];
        EXPECT_EQ(tss.connectionMap_mutex_at(static_cast<uint32_t>(id)).name(), names[expected]);
    }
    EXPECT_EQ(size, 1234);  // never touched
    tss.Create_Connection("UTCTime", -1, id, size, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(config->opened["UTCTime"], 1);

    const QV_TSS::Connection_t& utc = tss.connectionMap_mutex_at(3);
    EXPECT_EQ(utc.topicType(), "aspn2_msgs::idl::UTCTime");
    ASSERT_NE(utc.type(), nullptr);
    EXPECT_STREQ(utc.type()->getName(), "aspn2_msgs::idl::UTCTime");
    EXPECT_FALSE(utc.isPublisher());
    EXPECT_FALSE(utc.isSubscriber());
    EXPECT_THROW(tss.connectionMap_mutex_at(4), std::out_of_range);
}

TEST(TSSCreateConnection, MissingOrUnknownConfigurationCreatesNothing) {
    FastRtps f = Settings(kDomainUnknownType);
    Service s("Chronavel",
              Document({f.set(), Connection("UTCTime", "UTCTime"),
                        Set("NoPubSub", {{"TopicType", "aspn2_msgs::idl::UTCTime"}}),
                        Set("NoTopicType", {{"PubSubType", "UTCTimePubSubType"}}),
                        Set("Unknown", {{"TopicType", "aspn2_msgs::idl::UTCTime"}, {"PubSubType", "utctimePubSubType"}}),
                        Set("NoType", {{"TopicType", "aspn2_msgs::idl::UTCTime"}, {"PubSubType", "UTCTime"}})}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);

    testing::internal::CaptureStdout();
    EXPECT_EQ(s.connect("NoPubSub", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("NoTopicType", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("NotInTheFile", RC::INVALID_CONFIG), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("WARNING - Parameter PubSubType not found\n"));
    EXPECT_THAT(out, HasSubstr("WARNING - Parameter TopicType not found\n"));

    testing::internal::CaptureStderr();
    EXPECT_EQ(s.connect("Unknown", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("NoType", RC::INVALID_CONFIG), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("Connection Unknown: unknown PubSubType utctimePubSubType\n"));
    EXPECT_THAT(err, HasSubstr("Connection NoType: unknown PubSubType UTCTime\n"));

    // None of the refused ones took an id.
    EXPECT_EQ(s.connect("UTCTime"), 0);
    EXPECT_THROW(s.tss->connectionMap_mutex_at(1), std::out_of_range);
}

TEST(TSSCreateConnection, RegisteredTypeNamesAreNotRegisteredTwice) {
    Service s("Chronavel", Document({Settings(kDomainConnections).set()}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    aspn2_msgs::idl::UTCTimePubSubType first;
    aspn2_msgs::idl::UTCTimePubSubType second;
    EXPECT_TRUE(s.tss->okRegisterTopic(&first));
    EXPECT_TRUE(s.tss->okRegisterTopic(&second));
    EXPECT_FALSE(s.tss->okRegisterTopic(nullptr));
    aspn2_msgs::idl::UTCTimePubSubType nameless;  // the library refuses a type without a name
    nameless.setName("");
    EXPECT_FALSE(s.tss->okRegisterTopic(&nameless));
}

TEST(TSSEndpoints, CreatedEndpointsCarryTheQosTable) {
    struct Case {
        const char* bestEffort;
        const char* backFill;
        dds::ReliabilityQosPolicyKind reliability;
        dds::DurabilityQosPolicyKind readerDurability;
    };
    const Case cases[] = {
        {"false", "false", dds::RELIABLE_RELIABILITY_QOS, dds::VOLATILE_DURABILITY_QOS},
        {"TRUE", "1", dds::BEST_EFFORT_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS},
    };
    for (const Case& c : cases) {
        Collector<idl::UTCTime> sink;  // outlives the reader
        FastRtps f = Settings(kDomainQosAttributes);
        f.historyDepth = "7";
        f.useBestEffort = c.bestEffort;
        f.backFillHistory = c.backFill;
        Service s("Chronavel", Document({f.set(), Connection("UTCTime", "UTCTime")}));
        ASSERT_EQ(s.initialized, RC::NO_ERROR);
        const CONNECTION_ID_TYPE id = s.connect("UTCTime");
        auto typed = Typed<idl::UTCTime>(s.tss);
        RC::Value code;
        typed->Register_Sender(id, code);
        ASSERT_EQ(code, RC::NO_ERROR);
        typed->Register_Callback(id, sink.callback(), code);
        ASSERT_EQ(code, RC::NO_ERROR);

        const QV_TSS::Connection_t& connection = At(*s.tss, id);
        ASSERT_TRUE(connection.isPublisher());
        ASSERT_TRUE(connection.isSubscriber());
        const auto& pub = connection.publisher()->getAttributes();
        const auto& sub = connection.subscriber()->getAttributes();
        for (const eprosima::fastrtps::TopicAttributes* t : {&pub.topic, &sub.topic}) {
            EXPECT_EQ(t->topicKind, eprosima::fastrtps::rtps::NO_KEY);
            EXPECT_EQ(t->topicName.to_string(), "UTCTime");
            EXPECT_EQ(t->topicDataType.to_string(), "aspn2_msgs::idl::UTCTime");
            EXPECT_EQ(t->historyQos.kind, dds::KEEP_LAST_HISTORY_QOS);
            EXPECT_EQ(t->historyQos.depth, 7);
            EXPECT_EQ(t->resourceLimitsQos.max_samples, 7);
            EXPECT_EQ(t->resourceLimitsQos.max_instances, 1);
            EXPECT_EQ(t->resourceLimitsQos.max_samples_per_instance, 7);
            EXPECT_EQ(t->resourceLimitsQos.allocated_samples, 7);
        }
        EXPECT_EQ(pub.qos.m_reliability.kind, c.reliability) << c.bestEffort;
        EXPECT_EQ(sub.qos.m_reliability.kind, c.reliability) << c.bestEffort;
        EXPECT_EQ(pub.qos.m_durability.kind, dds::TRANSIENT_LOCAL_DURABILITY_QOS);
        EXPECT_EQ(sub.qos.m_durability.kind, c.readerDurability) << c.backFill;
        EXPECT_EQ(pub.historyMemoryPolicy, eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
        EXPECT_EQ(sub.historyMemoryPolicy, eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
        EXPECT_EQ(connection.publisherListener()->participantName(), "Chronavel");
    }
}

TEST(TSSEndpoints, TopicTypeThatIsNotTheRegisteredNameCannotGetEndpoints) {
    Collector<idl::UTCTime> sink;
    FastRtps f = Settings(kDomainTopicTypeMismatch);
    Service s("Chronavel",
              Document({f.set(), Set("UTCTime", {{"TopicType", "aspn2_msgs::idl::UtcTime"},
                                                 {"PubSubType", "UTCTimePubSubType"}})}));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE id = s.connect("UTCTime");
    ASSERT_EQ(id, 0);
    auto typed = Typed<idl::UTCTime>(s.tss);
    RC::Value code;
    testing::internal::CaptureStderr();
    typed->Register_Sender(id, code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    typed->Register_Callback(id, sink.callback(), code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("Participant Chronavel error creating publisher for topic: UTCTime\n"));
    EXPECT_THAT(err, HasSubstr("Participant Chronavel error creating subscriber for topic: UTCTime\n"));
    EXPECT_FALSE(At(*s.tss, id).isPublisher());
    EXPECT_FALSE(At(*s.tss, id).isSubscriber());
    EXPECT_EQ(At(*s.tss, id).publisherListener(), nullptr);
}

TEST(TSSTypedTS, ReferenceRules) {
    using Typed = FACE::TSS::Details::QV_TypedTS<idl::UTCTime>;
    Typed typed;
    RC::Value code;
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    // Nothing works before a transport is set.
    typed.Register_Sender(0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    typed.Send_Message(0, -1, t, idl::UTCTime(), code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    typed.Register_Callback(0, [](int64_t, int64_t, const idl::UTCTime&, const FACE::TSS::HEADER_TYPE&,
                                  const FACE::TSS::QoS_EVENT_TYPE&, RC::Value&) {}, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);

    class OtherBase : public FACE::TSS::Base {
        void Initialize(const FACE::String&, RC::Value& c) override { c = RC::NO_ERROR; }
        void Create_Connection(const FACE::String&, int64_t, int64_t&, int64_t&, RC::Value& c) override {
            c = RC::NO_ERROR;
        }
        void Destroy_Connection(int64_t, RC::Value& c) override { c = RC::NO_ERROR; }
        void Unregister_Sender(int64_t, RC::Value& c) override { c = RC::NO_ERROR; }
        void Unregister_Callback(int64_t, RC::Value& c) override { c = RC::NO_ERROR; }
    };
    typed.Set_Reference("", nullptr, 0, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    typed.Set_Reference("", std::make_shared<OtherBase>(), 0, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);

    // An uninitialized transport is taken, but answers NOT_AVAILABLE.
    auto tss = std::make_shared<QV_TSS>("Chronavel");
    typed.Set_Reference("", tss, 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    typed.Set_Reference("", std::make_shared<QV_TSS>("Other"), 0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);
    EXPECT_EQ(tss.use_count(), 2);
    typed.Register_Sender(0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);

    FACE::TSS::HEADER_TYPE header;
    FACE::TSS::QoS_EVENT_TYPE qos;
    idl::UTCTime message;
    try {
        typed.Receive_Message(0, 0, t, message, header, qos, code);
        ADD_FAILURE() << "Receive_Message returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "QV_TypedTS::Receive_Message() is not supported.");
    }
}

TEST(TSSTypedTS, ReturnCodesOfEveryOperation) {
    Collector<idl::CommandResponse> got;
    std::vector<std::string> sets = ServerConnections();
    sets.insert(sets.begin(), Settings(kDomainTypedCodes).set());
    Service s("Chronavel", Document(sets));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE eventLog = s.connect("EventLog"), command = s.connect("Command"),
                             response = s.connect("Response");
    s.connect("UTCTime");
    auto ev = Typed<idl::EventLog>(s.tss);
    auto cmd = Typed<idl::CommandResponse>(s.tss);
    RC::Value code;
    FACE::TSS::TRANSACTION_ID_TYPE t = 5;

    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    eprosima::fastrtps::Publisher* first = At(*s.tss, eventLog).publisher();
    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ACTION);
    EXPECT_EQ(At(*s.tss, eventLog).publisher(), first);

    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ERROR);
    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ACTION);
    cmd->Register_Callback(response, FACE::TSS::Read_Callback<idl::CommandResponse>(), code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    EXPECT_FALSE(At(*s.tss, response).isSubscriber());

    cmd->Send_Message(command, -1, t, MakeCommand(1, "x"), code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);  // subscriber only
    for (CONNECTION_ID_TYPE bad : {int64_t{7}, int64_t{-1}, int64_t{-7}, int64_t{4294967296LL}}) {
        ev->Send_Message(bad, -1, t, MakeEvent(1, "x"), code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
        ev->Register_Sender(bad, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
        cmd->Register_Callback(bad, got.callback(), code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
    }
    ev->Send_Message(eventLog, -1, t, MakeEvent(1, "sent"), code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(t, 5);

    // Unregistering the side that is not there leaves the other in place.
    s.tss->Unregister_Sender(command, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_TRUE(At(*s.tss, command).isSubscriber());
    s.tss->Unregister_Callback(-1, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    s.tss->Unregister_Callback(command, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_FALSE(At(*s.tss, command).isSubscriber());
    EXPECT_EQ(At(*s.tss, command).subscriberListener(), nullptr);
    s.tss->Unregister_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Send_Message(eventLog, -1, t, MakeEvent(2, "gone"), code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);

    // Destroying keeps the connection usable, and endpoints come back.
    s.tss->Destroy_Connection(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Send_Message(eventLog, -1, t, MakeEvent(3, "again"), code);
    EXPECT_EQ(code, RC::NO_ERROR);
    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ERROR);
}

TEST(TSSTypedTS, UnregisteredReaderIsGoneForTheWriter) {
    Collector<idl::EventLog> got;
    FastRtps f = Settings(kDomainUnregister);
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
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));
    b.tss->Unregister_Callback(ib, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    EXPECT_TRUE(WaitUntil([&] { return At(*a.tss, ia).publisherListener()->matched() == 0; }));

    in->Register_Callback(ib, got.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));
    FACE::TSS::TRANSACTION_ID_TYPE t = 0;
    out->Send_Message(ia, -1, t, MakeEvent(4, "after re-registration"), code);
    ASSERT_TRUE(got.waitFor(1));
    EXPECT_EQ(got.deliveries()[0].message.eventlog(), "after re-registration");
}

TEST(TSSExampleConfiguration, ShippedConnectionsFileIsCompleteAndConsistent) {
    auto config = std::make_shared<FACE::QV_Config>();
    RC::Value code;
    config->Initialize(CHRONAVEL_SOURCE_DIR "/config/Connections.xml", code);
    ASSERT_EQ(code, RC::NO_ERROR);
    FACE::Configuration::HANDLE_TYPE handle;
    config->Open("FastRtps", handle, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    FACE::TSS::Details::FastRtpsSettings settings;
    EXPECT_TRUE(FACE::TSS::Details::ReadFastRtpsSettings(*config, handle, settings));
    EXPECT_EQ(settings.transport, "UDP");
    config->Close(handle, code);

    for (const char* name : {"EventLog", "Command", "Response", "UTCTime"}) {
        config->Open(name, handle, code);
        ASSERT_EQ(code, RC::NO_ERROR) << name;
        const std::string topicType = QV_Config_Helpers::Details::Read_Config(*config, handle, "TopicType");
        const std::string pubSubType = QV_Config_Helpers::Details::Read_Config(*config, handle, "PubSubType");
        std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type(FACE::TSS::Topics::GetPubSubType(pubSubType));
        ASSERT_NE(type, nullptr) << name;
        EXPECT_EQ(topicType, type->getName()) << name;
        config->Close(handle, code);
    }
}
