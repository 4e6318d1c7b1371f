// The server told to stop in the middle of a storm of time messages and
// commands, good and hostile: it keeps answering while it runs, its health
// queue stays bounded, and the shutdown waits for the callbacks in progress
// and leaves the NTP interrupt off.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ServerRig.h"
#include "support/Gate.h"

using testsupport::ServerRig;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace States = FACE::LCM::Quorvane::RequestedState;
using namespace std::chrono_literals;

TEST(ServerStorm, StopsCleanlyInTheMiddleOfHostileTraffic) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(204, settings.dds.useTransport);
    settings.dds.useTransport = "UDP";  // the shared-memory transport is opaque to ThreadSanitizer
    settings.ppsCount = "0";
    ServerRig rig(settings);
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    ASSERT_TRUE(rig.matched());
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));

    std::atomic<bool> storming{true};
    std::thread times([&] {
        const double nan = std::nan("");
        const double inf = std::numeric_limits<double>::infinity();
        for (int i = 0; storming.load(); ++i) {
            aspn2_msgs::idl::UTCTime m = rig.second(i, i % 7 == 3 ? 97 : 96);
            switch (i % 5) {
                case 1: m.gps_tow_nsec(nan); break;
                case 2: m.utc_tod_nsec(-inf); break;
                case 3: m.gps_week(-5); m.covariance()[0][0] = nan; break;
                default: break;
            }
            rig.send(m);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::thread commands([&] {
        const std::string hostile[] = {"", std::string(10000, 'Z'), std::string("BITSERVER_PING\0X", 16),
                                       "bitserver_ping", "START_ZEROIZ", "SYSTEM_MODE_SELECT_SIMULATION",
                                       "SYSTEM_MODE_SELECT_LIVE", "BITSERVER_PING"};
        for (int i = 0; storming.load(); ++i) {
            rig.send(rig.command(hostile[i % 8], i));
            std::this_thread::sleep_for(3ms);
        }
    });

    // Running through the storm: the discipline goes on, pings are answered
    // and the health queue holds its bound.
    EXPECT_TRUE(tsstest::WaitUntil([&] { return rig.server.timeService().getStepCounter() > 3; }, 20s));
    EXPECT_EQ(1u, rig.peripheralWord(ServerRig::kEnableRegister));
    const size_t answered = rig.replies.deliveries().size();
    EXPECT_TRUE(tsstest::WaitUntil([&] { return rig.replies.deliveries().size() > answered + 3; }, 10s));
    EXPECT_LE(HealthReporter::Instance().Queue().size(), HealthReporter::eventQCapacity + 2u);
    for (const auto& reply : rig.replies.deliveries()) {
        EXPECT_THAT(reply.message.command_response(),
                    testing::AnyOf("Chronavel", "SYSTEM_MODE_SELECT_SIMULATION_PASS", "SYSTEM_MODE_SELECT_LIVE_PASS"));
    }

    RC::Value code = RC::NOT_AVAILABLE;
    rig.server.Request_State_Transition(States::STOP, code);
    EXPECT_EQ(RC::NO_ERROR, code);
    rig.server.Framework_Disconnect(code);
    rig.connected = false;
    EXPECT_EQ(RC::NO_ERROR, code);
    EXPECT_EQ(0u, rig.peripheralWord(ServerRig::kEnableRegister));
    const int32_t step = rig.server.timeService().getStepCounter();
    std::this_thread::sleep_for(100ms);  // more traffic after the shutdown is ignored
    storming.store(false);
    times.join();
    commands.join();
    EXPECT_EQ(step, rig.server.timeService().getStepCounter());
    EXPECT_EQ(0u, rig.peripheralWord(ServerRig::kEnableRegister));
}

// A UTCTime callback stuck in a daemon start while the server stops: the
// FPGA stays up until it returns, and the interrupt word is cleared after it.
TEST(ServerStorm, ShutdownWaitsForTheCallbackInProgress) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(205, settings.dds.useTransport);
    settings.dds.useTransport = "UDP";
    settings.ppsCount = "0";
    ServerRig rig(settings);
    testsupport::Gate gate;
    rig.host.onCommand = [&](const std::string& command) {
        if (command == "/etc/init.d/S49ntp start") {
            gate.enter();
        }
    };
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    ASSERT_TRUE(rig.matched());
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));
    std::thread times([&] {
        // One at a time: the FPGA counter of the image must not run ahead of
        // the message the server is handling.
        for (int i = 0; i < 19; ++i) {
            rig.send(rig.second(i));
            if (i < 18) {
                tsstest::WaitUntil([&] { return rig.server.timeService().getStepCounter() == i + 1; }, 20s);
            }
        }
    });
    ASSERT_TRUE(gate.waitEntered(20s));
    times.join();

    std::atomic<bool> disconnected{false};
    std::thread stopper([&] {
        RC::Value code;
        rig.server.Request_State_Transition(States::STOP, code);
        rig.server.Framework_Disconnect(code);
        disconnected.store(true);
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(disconnected.load()) << "the shutdown did not wait for the callback";
    EXPECT_EQ(1u, rig.peripheralWord(ServerRig::kEnableRegister));
    EXPECT_NE(0u, FpgaFace::Instance().fpga_get_SystemCount()) << "the FPGA is still up";
    gate.open();
    stopper.join();
    rig.connected = false;
    EXPECT_EQ(0u, rig.peripheralWord(ServerRig::kEnableRegister));
    EXPECT_EQ(0u, FpgaFace::Instance().fpga_get_SystemCount()) << "the FPGA is released";
}
