#include "support/TssTestSupport.h"

using namespace tsstest;
using testing::HasSubstr;
namespace dds = eprosima::fastdds::dds;

TEST(TSSCreateConnection, MissingOrUnknownConfigurationCreatesNothing) {
    Service s("Chronavel",
              Document(FastRtps(kDomainConnections).set() + Connection("UTCTime", "UTCTime") +
                       Set("NoPubSub", {{"TopicType", "aspn2_msgs::idl::UTCTime"}}) +
                       Set("NoTopicType", {{"PubSubType", "UTCTimePubSubType"}}) +
                       Set("Bad", {{"TopicType", "aspn2_msgs::idl::UTCTime"}, {"PubSubType", "utctimePubSubType"}}) +
                       Set("Misnamed", {{"TopicType", "aspn2_msgs::idl::UtcTime"},
                                        {"PubSubType", "UTCTimePubSubType"}})));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(s.connect("NoPubSub", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("NoTopicType", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("NotInTheFile", RC::INVALID_CONFIG), -1);
    EXPECT_EQ(s.connect("Bad", RC::INVALID_CONFIG), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("WARNING - Parameter PubSubType not found\n"));
    EXPECT_THAT(out, HasSubstr("WARNING - Parameter TopicType not found\n"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Connection Bad: unknown PubSubType utctimePubSubType\n");
    // None of the refused ones took an id.
    EXPECT_EQ(s.connect("UTCTime"), 0);
    EXPECT_EQ(s.connect("Misnamed"), 1);

    // A topic type that is not the registered name of its type gets no
    // endpoints.
    auto typed = Typed<idl::UTCTime>(s);
    RC::Value code;
    testing::internal::CaptureStderr();
    typed->Register_Sender(1, code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    typed->Register_Callback(1, [](auto&&...) {}, code);
    EXPECT_EQ(code, RC::CONNECTION_CLOSED);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("Participant Chronavel error creating publisher for topic: Misnamed\n"));
    EXPECT_THAT(err, HasSubstr("Participant Chronavel error creating subscriber for topic: Misnamed\n"));
    EXPECT_FALSE(At(*s.tss, 1).isPublisher() || At(*s.tss, 1).isSubscriber());
}

TEST(TSSEndpoints, CreatedEndpointsCarryTheQosTable) {
    struct Case {
        const char* bestEffort;
        const char* backFill;
        dds::ReliabilityQosPolicyKind reliability;
        dds::DurabilityQosPolicyKind readerDurability;
        const char* reliabilityText;  // as read callbacks are told
    };
    const Case cases[] = {
        {"false", "false", dds::RELIABLE_RELIABILITY_QOS, dds::VOLATILE_DURABILITY_QOS, "RELIABLE_RELIABILITY_QOS"},
        {"TRUE", "1", dds::BEST_EFFORT_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS,
         "BEST_EFFORT_RELIABILITY_QOS"},
    };
    for (const Case& c : cases) {
        FastRtps f(kDomainQosAttributes);
        f.historyDepth = "7";
        f.useBestEffort = c.bestEffort;
        f.backFillHistory = c.backFill;
        Service s("Chronavel", f);
        const CONNECTION_ID_TYPE id = s.connect("UTCTime");
        const auto typed = Typed<idl::UTCTime>(s, id, id, [](auto&&...) {});
        const QV_TSS::Connection_t& connection = At(*s.tss, id);
        ASSERT_TRUE(connection.isPublisher() && connection.isSubscriber());
        const auto& pub = connection.publisher()->getAttributes();
        const auto& sub = connection.subscriber()->getAttributes();
        for (const eprosima::fastrtps::TopicAttributes* t : {&pub.topic, &sub.topic}) {
            EXPECT_EQ(t->topicName.to_string(), "UTCTime");
            EXPECT_EQ(t->topicDataType.to_string(), "aspn2_msgs::idl::UTCTime");
            EXPECT_EQ(t->historyQos.kind, dds::KEEP_LAST_HISTORY_QOS);
            EXPECT_EQ(t->historyQos.depth, 7);
            EXPECT_EQ(t->resourceLimitsQos.max_samples, 7);
            EXPECT_EQ(t->resourceLimitsQos.max_instances, 1);
            EXPECT_EQ(t->resourceLimitsQos.max_samples_per_instance, 7);
        }
        EXPECT_EQ(pub.qos.m_reliability.kind, c.reliability) << c.bestEffort;
        EXPECT_EQ(sub.qos.m_reliability.kind, c.reliability) << c.bestEffort;
        // Writers keep their history for late joiners in every case.
        EXPECT_EQ(pub.qos.m_durability.kind, dds::TRANSIENT_LOCAL_DURABILITY_QOS);
        EXPECT_EQ(sub.qos.m_durability.kind, c.readerDurability) << c.backFill;
        EXPECT_EQ(FACE::TSS::Listeners::ReaderQosElements(sub)[2].value.str(), c.reliabilityText);
    }
}

TEST(TSSTypedTS, ReturnCodesOfEveryOperation) {
    Collector<idl::CommandResponse> got;
    Service s("Chronavel", FastRtps(kDomainTypedCodes));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    const char* names[] = {"EventLog", "Command", "Response", "UTCTime"};
    for (CONNECTION_ID_TYPE id = 0; id < 4; ++id) {
        EXPECT_EQ(s.connect(names[id]), id);
    }
    EXPECT_EQ(s.connect("Command"), 1);  // the same name is the same connection
    const CONNECTION_ID_TYPE eventLog = 0, command = 1, response = 2;
    RC::Value code;
    auto ev = std::make_shared<FACE::TSS::Details::QV_TypedTS<idl::EventLog>>();
    ev->Set_Reference("", nullptr, 0, code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    ev->Set_Reference("", s.tss, 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Set_Reference("", std::make_shared<QV_TSS>("Other"), 0, code);
    EXPECT_EQ(code, RC::NOT_AVAILABLE);  // the first one is kept
    auto cmd = Typed<idl::CommandResponse>(s);

    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ACTION);
    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ERROR);
    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ACTION);
    cmd->Register_Callback(response, FACE::TSS::Read_Callback<idl::CommandResponse>(), code);
    EXPECT_EQ(code, RC::INVALID_PARAM);
    EXPECT_FALSE(At(*s.tss, response).isSubscriber());
    EXPECT_EQ(Send(*cmd, command, Sample<idl::CommandResponse>(1)), RC::NOT_AVAILABLE);  // subscriber only

    // Ids outside the 32-bit range must not wrap onto connection 0.
    for (CONNECTION_ID_TYPE bad : {int64_t{4}, int64_t{7}, int64_t{-1}, int64_t{-7}, int64_t{1} << 32,
                                   (int64_t{1} << 32) + 1}) {
        EXPECT_EQ(Send(*ev, bad, Event(1, "x")), RC::INVALID_PARAM) << bad;
        ev->Register_Sender(bad, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
        cmd->Register_Callback(bad, got.callback(), code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
        s.tss->Unregister_Sender(bad, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
        s.tss->Unregister_Callback(bad, code);
        EXPECT_EQ(code, RC::INVALID_PARAM) << bad;
    }
    EXPECT_EQ(Send(*ev, eventLog, Event(1, "sent")), RC::NO_ERROR);

    // Unregistering the side that is not there leaves the other in place.
    s.tss->Unregister_Sender(command, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_TRUE(At(*s.tss, command).isSubscriber());
    s.tss->Unregister_Callback(command, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_FALSE(At(*s.tss, command).isSubscriber());
    s.tss->Unregister_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(2, "gone")), RC::NOT_AVAILABLE);

    // Destroying keeps the connection usable, and endpoints come back.
    s.tss->Destroy_Connection(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    ev->Register_Sender(eventLog, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    EXPECT_EQ(Send(*ev, eventLog, Event(3, "again")), RC::NO_ERROR);
    cmd->Register_Callback(command, got.callback(), code);
    EXPECT_EQ(code, RC::NO_ERROR);
}

TEST(TSSExampleConfiguration, ShippedConnectionsFileGivesEveryConnectionItsType) {
    std::string document = boardkit::readFile(CHRONAVEL_SOURCE_DIR "/config/Connections.xml");
    const std::size_t domain = document.find("<DomainId>") + 10;  // moved to a domain of this test's own
    document.replace(domain, document.find("</DomainId>") - domain, std::to_string(kDomainShippedFile));
    Service s("Chronavel", document);
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    for (const char* name : {"EventLog", "Command", "Response", "UTCTime"}) {
        const QV_TSS::Connection_t& connection = At(*s.tss, s.connect(name));
        EXPECT_EQ(connection.topicType(), connection.type()->getName()) << name;
    }
}
