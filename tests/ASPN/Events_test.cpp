#include "ASPN/EventQueue.h"
#include "ASPN/HealthReporter.h"
#include "boardkit/Board.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;
using ASPN2::EventQueue;
using Clock = std::chrono::steady_clock;

namespace {
// "type:text;" of every event ready now, the first waited for up to timeout.
std::string drain(EventQueue& q, std::chrono::nanoseconds timeout = 0ns) {
    std::string all, text;
    for (int type = 0; all.size() < 1000 && q.pop_front(type, text, timeout); timeout = 0ns) {
        all += std::to_string(type) + ":" + text + ";";
    }
    return all;
}
}  // namespace

TEST(EventQueue, CapacityCountsQueuedConfigEventsButNotWaitingRepeats) {
    EventQueue q(3, 2, 1h);
    q.push_back_config("cfg");
    EXPECT_TRUE(q.push_back(3, "a") && q.push_back(4, "b"));
    EXPECT_FALSE(q.push_back(3, "refused"));
    q.push_back_config("accepted when full");
    EXPECT_EQ("2:cfg;3:a;4:b;2:accepted when full;", drain(q));
    EXPECT_EQ(2u, q.size()) << "both configurations wait for their repeat";
    EXPECT_TRUE(q.push_back(3, "c") && q.push_back(3, "d") && q.push_back(3, "e")) << "repeats take no room";
}

// Configuration events come back once at the first pop after their repeat
// is due, and next a period after that pop, not after the missed due time,
// until replaced: the old text goes wherever it waits.
TEST(EventQueue, ConfigEventsRepeatFromTheirLastPopUntilReplaced) {
    const auto period = 200ms;
    EventQueue q(10, 2, period);
    q.push_back(3, "ordinary");  // id 0: never removed
    q.push_back_config("new waiting", q.push_back_config("old waiting"));
    q.push_back_config("unrelated", 0);
    EXPECT_EQ("3:ordinary;2:new waiting;2:unrelated;", drain(q));
    const uint32_t repeating = q.push_back_config("old repeating");
    EXPECT_EQ("2:old repeating;", drain(q));
    q.push_back_config("new repeating", repeating);
    std::this_thread::sleep_for(period * 8 / 5);
    const auto popBefore = Clock::now();
    EXPECT_EQ("2:new repeating;2:new waiting;2:unrelated;", drain(q));
    const auto popped = Clock::now();
    std::this_thread::sleep_until(popped + period / 2);
    const std::string fromDueTime = drain(q);
    EXPECT_TRUE(fromDueTime.empty() || Clock::now() >= popBefore + period) << fromDueTime;
    std::this_thread::sleep_until(popped + period + 20ms);
    EXPECT_EQ("2:new repeating;2:new waiting;2:unrelated;", drain(q));
}

TEST(EventQueue, PopWaitsForTheTimeOutOrAPush) {
    EventQueue q(10, 2, 1h);
    const auto start = Clock::now();
    EXPECT_EQ("", drain(q, -5s));
    EXPECT_EQ("", drain(q, 200ms));
    EXPECT_GE(Clock::now() - start, 200ms);
    // Woken by a push, also with a time-out too long to add to the clock.
    for (const auto timeout : {std::chrono::nanoseconds(10s), std::chrono::nanoseconds::max()}) {
        std::thread pusher([&q] { std::this_thread::sleep_for(50ms); q.push_back(4, "wake up"); });
        EXPECT_EQ("4:wake up;", drain(q, timeout));
        pusher.join();
        ASSERT_LT(Clock::now() - start, 5s) << "not woken by the push";
    }
}

// Inactive until configured with a count and a capacity; negative settings
// are refused and the old ones kept. Remembered faults stay within the
// capacity, also when it shrinks.
TEST(FaultHysteresis, ActivationSettingsAndHistoryBound) {
    FaultHysteresis f;
    EventTypes::eEventType fault = EventTypes::eFault;
    EXPECT_EQ("x", f.Check(fault, "a/b.cpp", 3, "x"));
    for (const auto& [count, capacity] : {std::pair{0, 2000}, {16, 0}}) {
        ASSERT_TRUE(f.OkInitFaultHysteresis(180, count, capacity));
        EXPECT_EQ("x", f.Check(fault, "a/b.cpp", 3, "x"));
    }
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 5));
    for (const auto& [window, count, capacity] : {std::tuple{180, -1, 2}, {-1, 0, 0}, {0, 0, -1}}) {
        EXPECT_FALSE(f.OkInitFaultHysteresis(window, count, capacity));
    }
    for (int i = 0; i < 50; ++i) EXPECT_EQ("b.cpp[3]:x", f.Check(fault, "a/b.cpp", 3, "x"));
    EXPECT_EQ(5u, f.historySize());
    ASSERT_TRUE(f.OkInitFaultHysteresis(180, 16, 2));
    f.Check(fault, "a/b.cpp", 3, "x");
    EXPECT_EQ(2u, f.historySize());
}

// The filter puts the file's base name and the line in front of faults (3),
// exceptions (4) and critical events (5); types are clamped after it. The
// full queue drops ordinary events but takes configuration events.
TEST(HealthReporter, LocationPrefixClampedTypesAndConfigEvents) {
    HealthReporter& reporter = HealthReporter::Instance();
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    const std::tuple<int, const char*, int, const char*> events[] = {
        {3, "C:\\src\\ASPN\\unit.cpp", 1, "3:unit.cpp[1]:t"}, {4, "main.cpp", 7, "4:main.cpp[7]:t"},
        {5, "/a/b\\c.tar.gz", -2, "5:c.tar.gz[-2]:t"},       {3, "a\\b/c.cpp", 1, "3:c.cpp[1]:t"},
        {3, "dir/", 1, "3:[1]:t"},  {0, "a/b.cpp", 1, "0:t"}, {2, "a/b.cpp", 1, "2:t"},
        {6, "a/b.cpp", 1, "0:t"},   {9, "a/b.cpp", 1, "0:t"}, {-1, "a/b.cpp", 1, "0:t"}};
    std::vector<std::string> expected;
    for (const auto& [type, file, line, event] : events) {
        reporter.SendEvent(file, line, static_cast<EventTypes::eEventType>(type), "t");
        expected.push_back(event);
    }
    reporter.SendEvent("a.cpp", 1, EventTypes::eStatus, "dropped");  // the queue holds ten
    EXPECT_THROW(reporter.SendEvent(nullptr, 1, EventTypes::eFault, "x"), std::logic_error);
    reporter.SendConfigEvent("//identity/a");
    reporter.ReplaceConfigEvent("//identity/c", reporter.SendConfigEvent("//identity/b"));
    expected.insert(expected.end(), {"2://identity/a", "2://identity/c"});
    EXPECT_EQ(expected, boardkit::drainEvents());
}

// A start that fails once the reporter counts as started needs a stop
// before the next start.
TEST(HealthReporter, InitRefusesWhatCannotPublishAndStaysStartable) {
    const auto failure = [](std::shared_ptr<HealthReporter::EventLogTransport> transport) -> std::string {
        try {
            HealthReporter::Instance().InitHealthReporter("Srv", ASPN2::DeviceIdFactory(), std::move(transport), 0);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "started";
    };
    const auto unregistered = std::make_shared<HealthReporter::EventLogTransport>();  // no service behind it
    EXPECT_EQ("InitHealthReporter(Srv) called with an empty eventLogTypedTS.", failure(nullptr));
    testing::internal::CaptureStdout();
    const std::string first = failure(unregistered), second = failure(unregistered);
    HealthReporter::Instance().DoneHealthReporter();
    const std::string afterStop = failure(unregistered);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, first.find("NOT_AVAILABLE InitHealthReporter(Srv) unable to register sender."));
    EXPECT_EQ("InitHealthReporter(Srv) called on an already initialized HealthReporter.", second);
    EXPECT_EQ(first, afterStop);
    HealthReporter::Instance().DoneHealthReporter();
}
