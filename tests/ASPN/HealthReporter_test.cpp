#include "ASPN/HealthReporter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

TEST(HealthReporter, TypesClampedAfterTheFilterFullQueueDropsConfigEventsAlwaysTaken) {
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    for (int type : {0, 2, 3, 5, 6, 9, -1}) {
        reporter.SendEvent("dir/timer.cpp", 40, static_cast<EventTypes::eEventType>(type), "t");
    }
    for (int i = 0; i < 5; ++i) {  // two past the capacity
        reporter.SendEvent("a.cpp", 1, EventTypes::eStatus, std::to_string(i));
    }
    EXPECT_THROW(reporter.SendEvent(nullptr, 1, EventTypes::eFault, "x"), std::logic_error);
    reporter.SendConfigEvent("//identity/a");
    reporter.ReplaceConfigEvent("//identity/c", reporter.SendConfigEvent("//identity/b"));

    std::string all;
    int type = 0;
    std::string text;
    while (reporter.Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
        all += std::to_string(type) + ":" + text + ";";
    }
    EXPECT_EQ("0:t;2:t;3:timer.cpp[40]:t;5:timer.cpp[40]:t;0:t;0:t;0:t;2:0;2:1;2:2;2://identity/a;2://identity/c;", all);
}

TEST(HealthReporter, InitRefusesWhatCannotPublishAndStaysStartable) {
    HealthReporter& reporter = HealthReporter::Instance();
    const auto failure = [&](std::shared_ptr<HealthReporter::EventLogTransport> transport) {
        try {
            reporter.InitHealthReporter("Srv", ASPN2::DeviceIdFactory(), std::move(transport), 0);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ("InitHealthReporter(Srv) called with an empty eventLogTypedTS.", failure(nullptr));
    // A transport without a service cannot register the sender.
    testing::internal::CaptureStdout();
    EXPECT_THAT(failure(std::make_shared<HealthReporter::EventLogTransport>()),
                testing::MatchesRegex("ASPN/HealthReporter.cpp\\[[0-9]+\\]:NOT_AVAILABLE InitHealthReporter\\(Srv\\) "
                                      "unable to register sender."));
    testing::internal::GetCapturedStdout();
    // That failure leaves the reporter marked as started, as a second start
    // shows; stopping it makes it startable again.
    EXPECT_EQ("InitHealthReporter(Srv) called on an already initialized HealthReporter.",
              failure(std::make_shared<HealthReporter::EventLogTransport>()));
    reporter.DoneHealthReporter();
    EXPECT_EQ("InitHealthReporter(Srv) called with an empty eventLogTypedTS.", failure(nullptr));
}
