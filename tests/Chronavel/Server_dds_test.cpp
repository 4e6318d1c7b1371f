// The assembled server in one process, with the platform on a second DDS
// participant: the wiring of intake, commands, health and shutdown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Reports.h"
#include "ServerRig.h"

using testing::ElementsAre;
using testing::HasSubstr;
using testsupport::ServerRig;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace States = FACE::LCM::Quorvane::RequestedState;
using namespace std::chrono_literals;

namespace {

// The texts of the events received so far, without the configuration events.
std::vector<std::string> texts(ServerRig& rig) {
    std::vector<std::string> result;
    for (const auto& d : rig.events.deliveries()) {
        const std::string& text = d.message.eventlog();
        if (text.rfind("//aspn://", 0) != 0 && text.find(" KPN: ") == std::string::npos &&
            text.rfind("burst ", 0) != 0) {
            result.push_back(std::to_string(static_cast<int>(d.message.event_log_type())) + ":" + text);
        }
    }
    return result;
}

}  // namespace

TEST(ServerSession, DisciplinesAnswersAndReportsOverDds) {
    ServerRig rig;
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    EXPECT_EQ("Chronavel - Success all is well with tss\n" + rig.server.productText() + "\n", rig.out);
    EXPECT_EQ(5u, rig.peripheralWord(ServerRig::kPulseSelectRegister));
    ASSERT_TRUE(rig.matched());

    // Stopped: nothing reaches the controller, no command is answered.
    rig.send(rig.second(0));
    rig.send(rig.command("BITSERVER_PING"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(0u, rig.server.timeService().getPpsWithinThresholdCount());
    EXPECT_TRUE(rig.replies.deliveries().empty());
    const auto state = [&] {
        FACE::LCM::Quorvane::ReportedState::Value s;
        RC::Value code;
        rig.server.Query_State(s, code);
        return s;
    };
    EXPECT_EQ(1u, state());
    EXPECT_EQ(RC::NOT_AVAILABLE, rig.transition(States::STOP));

    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));
    EXPECT_EQ(0u, state());
    EXPECT_EQ(RC::NOT_AVAILABLE, rig.transition(States::START));
    EXPECT_EQ(RC::NOT_AVAILABLE, rig.transition(static_cast<States::Value>(7)));
    // Other servers' time is dropped.
    rig.send(rig.second(0, 97));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(0u, rig.server.timeService().getPpsWithinThresholdCount());

    // N = 2: the third message settles and steps the clock, the fifth enables the interrupt.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(rig.feed(rig, i)) << "second " << i;
    }
    EXPECT_THAT(rig.host.calls(), testing::Contains("settimeofday 1700000002.250000"));
    EXPECT_EQ(1u, rig.peripheralWord(ServerRig::kEnableRegister));

    // Commands: a ping, the time code both ways, zeroize with a failing and
    // a good stop.
    rig.send(rig.command("BITSERVER_PING", 7, 0x01630201));
    rig.send(rig.command("SYSTEM_MODE_SELECT_SIMULATION", 8));
    rig.send(rig.command("BITSERVER_PING ", 9));
    ASSERT_TRUE(rig.replies.waitFor(2));
    rig.host.answer("pidof ptp4l > /dev/null", {0});
    rig.host.answer("kill $(pidof ptp4l)", {256});
    rig.host.answer("kill -9 $(pidof ptp4l)", {256});
    rig.send(rig.command("START_ZEROIZE", 10));
    rig.send(rig.command("SYSTEM_MODE_SELECT_LIVE", 11));
    ASSERT_TRUE(rig.replies.waitFor(3));
    rig.host.answer("pidof ptp4l > /dev/null", {256});
    rig.send(rig.command("START_DESTROY", 12));
    // The server's own replies come back on no subscription of its own; a
    // reply sent to it is not answered.
    aspn2_msgs::idl::CommandResponse reply = rig.command("BITSERVER_PING", 13);
    reply.command_response_type(static_cast<aspn2_msgs::idl::command_response_type_enum>(1));
    rig.send(reply);
    rig.send(rig.command("BITSERVER_PING", 14));
    ASSERT_TRUE(rig.replies.waitFor(4));
    std::this_thread::sleep_for(300ms);

    const auto replies = rig.replies.deliveries();
    ASSERT_EQ(4u, replies.size());
    const std::string expected[] = {"Chronavel", "SYSTEM_MODE_SELECT_SIMULATION_PASS", "SYSTEM_MODE_SELECT_LIVE_PASS",
                                    "Chronavel"};
    const int32_t identifiers[] = {7, 8, 11, 14};
    for (size_t i = 0; i < replies.size(); ++i) {
        const auto& m = replies[i].message;
        EXPECT_EQ(expected[i], m.command_response());
        EXPECT_EQ(identifiers[i], m.command_identifier());
        EXPECT_EQ(0x01630201, m.commanded_device_id());
        EXPECT_EQ(1, static_cast<int>(m.command_response_type()));
        EXPECT_EQ(static_cast<int64_t>(i), m.header().seq_num() - replies[0].message.header().seq_num());
        EXPECT_EQ(44, (m.header().device_id() >> 16) & 0xFF);
    }
    // The simulation reply is stamped before the switch back to live.
    EXPECT_EQ(101, replies[1].message.header().timestamp_valid().time_code());
    EXPECT_EQ(100, replies[3].message.header().timestamp_valid().time_code());
    EXPECT_FALSE(rig.server.timeService().isInitialized());

    // A burst goes out one event per 100 ms (once the queue has room).
    ASSERT_TRUE(tsstest::WaitUntil([] { return HealthReporter::Instance().Queue().size() <= 2; }, 10s));
    for (int i = 0; i < 5; ++i) {
        HealthReporter::Instance().SendEvent("burst.cpp", i, EventTypes::eStatus, "burst " + std::to_string(i));
    }
    std::vector<std::chrono::steady_clock::time_point> burst;
    ASSERT_TRUE(tsstest::WaitUntil([&] {
        burst.clear();
        for (const auto& d : rig.events.deliveries()) {
            if (d.message.eventlog().rfind("burst ", 0) == 0) {
                burst.push_back(d.received);
            }
        }
        return burst.size() == 5;
    }, 10s));
    EXPECT_GE(burst.back() - burst.front(), 350ms);

    // Stopped again: the gate is closed.
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::STOP));
    EXPECT_EQ(1u, state());
    rig.send(rig.command("BITSERVER_PING", 15));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(4u, rig.replies.deliveries().size());

    // Everything queued is published before the reporter stops.
    FACE::RETURN_CODE_TYPE::Value code;
    rig.server.Framework_Disconnect(code);
    rig.connected = false;
    EXPECT_EQ(0u, rig.peripheralWord(ServerRig::kEnableRegister));
    std::this_thread::sleep_for(300ms);

    EXPECT_THAT(texts(rig),
                ElementsAre(reports::linked(1), "2:Chronavel started successfully.", reports::kClockMoved,
                            reports::kInterruptEnabled,
                            reports::stopFailed(TimeServiceController::kSigtermFailed, "SIGTERM", "ptp4l"),
                            reports::stopFailed(TimeServiceController::kSigkillFailed, "SIGKILL", "ptp4l"),
                            "3:Chronavel.cpp[589]:Chronavel: Chronavel.cpp (589): Error stopping time services "
                            "for START_ZEROIZE",
                            reports::notRunning("ptp4l"), "2:Chronavel stopped successfully."));

    // The configuration events first, one device id of class 1, sequence numbers from 0.
    const auto all = rig.events.deliveries();
    for (size_t i = 0; i < all.size(); ++i) {
        const auto& h = all[i].message.header();
        EXPECT_EQ(static_cast<int64_t>(i), h.seq_num());
        EXPECT_EQ(44, (h.device_id() >> 16) & 0xFF);
        EXPECT_EQ(1, (h.device_id() >> 8) & 0xFF);
    }
    EXPECT_EQ(rig.server.identityText(), all.at(0).message.eventlog());
    EXPECT_EQ(rig.server.productText(), all.at(1).message.eventlog());
    EXPECT_TRUE(std::regex_match(rig.server.identityText(),
                                 std::regex("//aspn://Zelmar/Chronavel:\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ/")))
        << rig.server.identityText();

    // A second connect replaces its configuration events, not adds to them.
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    rig.server.Framework_Disconnect(code);
    rig.connected = false;
    EXPECT_EQ(2u, HealthReporter::Instance().Queue().size()) << "configuration events waiting to repeat";
}

TEST(ServerIntake, SourceFilterDebugLineAndExceptionsInTheCallbacks) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(201, settings.dds.useTransport);
    settings.sourceServerId = "0";  // every server
    settings.debug = true;
    settings.ppsCount = "0";
    ServerRig rig(settings);
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));
    HealthReporter::Instance().DoneHealthReporter();  // events stay queued for this test to read
    ServerRig::drain();

    // A server outside the table is accepted and named as such.
    testing::internal::CaptureStdout();
    rig.server.cbUTCTime(rig.second(0, 200));
    rig.server.awaitTimeService();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find("Chronavel: cbUTCTime : Processing UTC Time message received from INVALID_SERVER_ID, "
                           "server ID = 200: 252818sec 50 nsec, errEst 1e-16\n"))
        << out;
    EXPECT_EQ(1, rig.server.timeService().getStepCounter());

    // A failure deep inside a step reaches the callback's guard; the step's
    // lock is released, so the next message is handled.
    rig.host.onCommand = [](const std::string& command) {
        if (command.find("S49ntp start") != std::string::npos || command.find("S49ntp stop") != std::string::npos) {
            throw std::runtime_error("shell gone");
        }
    };
    const auto take = [&](int from, int to) {  // returns their standard output
        testing::internal::CaptureStdout();
        for (int i = from; i <= to; ++i) {
            rig.server.cbUTCTime(rig.second(i));
            rig.server.awaitTimeService();
        }
        return testing::internal::GetCapturedStdout();
    };
    take(1, 17);
    ServerRig::drain();
    EXPECT_THAT(take(18, 18), HasSubstr("Chronavel.cpp (711) cbUTCTime : Chronavel: An exception occurred. "
                                        "Details: shell gone\n"));  // k = 18: ntpd start
    EXPECT_THAT(ServerRig::drain(),
                ElementsAre("4:Chronavel.cpp[710]:Chronavel: An exception occurred. Details: shell gone"));
    // The message was lost in the middle of its step; the next one runs it.
    EXPECT_EQ(18, rig.server.timeService().getStepCounter());
    auto shellGone = std::exchange(rig.host.onCommand, nullptr);
    take(19, 19);
    EXPECT_EQ(19, rig.server.timeService().getStepCounter());
    rig.host.onCommand = shellGone;

    testing::internal::CaptureStdout();
    rig.server.cbCmdRsp(rig.command("START_ZEROIZE"));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                HasSubstr("Chronavel.cpp (612) cbCmdRsp - Chronavel: An exception occurred. Details: shell gone\n"));
    EXPECT_THAT(ServerRig::drain(),
                testing::Contains("4:Chronavel.cpp[612]:Chronavel: An exception occurred. Details: shell gone"));
}

TEST(ServerConnect, WithoutACommandConnectionNothingIsWiredButTheIoServiceAndDisconnectStillCleansUp) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(202, settings.dds.useTransport);
    settings.withCommand = false;
    ServerRig rig(settings);
    EXPECT_EQ(RC::INVALID_CONFIG, rig.connect());
    EXPECT_EQ(std::string::npos, rig.out.find("Success all is well with tss")) << rig.out;
    ASSERT_TRUE(rig.server.ioService());
    FACE::IOSS::CONNECTION_HANDLE_TYPE handle = 0;
    RC::Value code = RC::NOT_AVAILABLE;
    rig.server.ioService()->Open_Connection("Peripheral_Interface", 0, handle, code);
    EXPECT_EQ(RC::NO_ERROR, code) << "the IO service was initialised";
    // The other three connections exist: the peer's UTCTime writer finds a reader.
    EXPECT_FALSE(tsstest::WaitUntil(
        [&] { return tsstest::At(*rig.peer.tss, rig.utcOut).publisherListener()->matched() > 0; }, 1s))
        << "no typed transport, so no reader was registered";

    rig.server.Framework_Disconnect(code);
    rig.connected = false;
    EXPECT_EQ(RC::NO_ERROR, code);
    // The reporter is stopped and can start again.
    auto transport = std::make_shared<FACE::TSS::Details::QV_TypedTS<aspn2_msgs::idl::EventLog>>();
    RC::Value referenced;
    transport->Set_Reference("", rig.peer.tss, 0, referenced);
    EXPECT_NO_THROW(HealthReporter::Instance().InitHealthReporter("Again", ASPN2::DeviceIdFactory(), transport,
                                                                  rig.eventLogIn));
    HealthReporter::Instance().DoneHealthReporter();
    // Held past the stop, the transport's participant would die in static
    // destruction, after Fast DDS itself (a double free at exit).
    EXPECT_EQ(1, transport.use_count()) << "the stopped reporter still holds its transport";
}
