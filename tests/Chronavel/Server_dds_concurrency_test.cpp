// The server told to stop amid hostile commands while a UTCTime callback is
// stuck in a daemon start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "ServerRig.h"
#include "support/Gate.h"

using testsupport::ServerRig;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace States = FACE::LCM::Quorvane::RequestedState;
using namespace std::chrono_literals;

TEST(ServerStorm, ShutdownWaitsForTheCallbackInProgressAmidHostileTraffic) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(204, "UDP");  // the shared-memory transport is opaque to ThreadSanitizer
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

    std::atomic<bool> storming{true};
    std::thread commands([&] {
        const std::string hostile[] = {"", std::string(10000, 'Z'), std::string("BITSERVER_PING\0X", 16),
                                       "bitserver_ping", "START_ZEROIZ", "SYSTEM_MODE_SELECT_SIMULATION",
                                       "SYSTEM_MODE_SELECT_LIVE", "BITSERVER_PING"};
        for (int i = 0; storming.load(); ++i) {
            rig.send(rig.command(hostile[i % 8], i));
            std::this_thread::sleep_for(3ms);
        }
    });
    EXPECT_TRUE(tsstest::WaitUntil([&] { return rig.replies.deliveries().size() > 3; }, 10s));
    std::thread times([&] {
        // Each good second waits for the one before: the image's FPGA counter
        // must not run ahead of the message in hand. Hostile ones come between.
        for (int i = 0; i < 19; ++i) {
            aspn2_msgs::idl::UTCTime m = rig.second(i, i % 2 == 0 ? 97 : 96);
            m.gps_tow_nsec(std::nan(""));
            m.utc_tod_nsec(-std::numeric_limits<double>::infinity());
            m.gps_week(-5);
            rig.send(m);
            rig.send(rig.second(i));
            if (i < 18) {
                tsstest::WaitUntil([&] { return rig.server.timeService().getStepCounter() == i + 1; }, 20s);
            }
        }
    });
    ASSERT_TRUE(gate.waitEntered(20s));
    times.join();
    EXPECT_LE(HealthReporter::Instance().Queue().size(), HealthReporter::eventQCapacity + 2u);
    for (const auto& reply : rig.replies.deliveries()) {
        EXPECT_THAT(reply.message.command_response(),
                    testing::AnyOf("Chronavel", "SYSTEM_MODE_SELECT_SIMULATION_PASS", "SYSTEM_MODE_SELECT_LIVE_PASS"));
    }

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

    const int32_t step = rig.server.timeService().getStepCounter();
    rig.send(rig.second(19));
    std::this_thread::sleep_for(100ms);
    storming.store(false);
    commands.join();
    EXPECT_EQ(step, rig.server.timeService().getStepCounter());
}
