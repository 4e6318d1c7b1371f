// Commands answered while a step is stuck in a daemon start; a zeroize and
// the shutdown amid hostile commands wait for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(ServerStorm, CommandsAreAnsweredDuringAStepAndZeroizeAndShutdownWaitForIt) {
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
    // The step is held until both replies are in: no time bound decides this.
    rig.send(rig.command("BITSERVER_PING", 900000));
    rig.send(rig.command("SYSTEM_MODE_SELECT_SIMULATION", 900001));
    const auto answered = [&](int32_t id) {
        const auto replies = rig.replies.deliveries();
        return std::any_of(replies.begin(), replies.end(),
                           [&](const auto& reply) { return reply.message.command_identifier() == id; });
    };
    EXPECT_TRUE(tsstest::WaitUntil([&] { return answered(900000) && answered(900001); }, 60s))
        << "commands wait behind the step";
    rig.send(rig.command("START_ZEROIZE", 900002));
    // It closes the schedule at once, then waits for the step: only then the
    // shutdown, which would otherwise drop it.
    ASSERT_TRUE(tsstest::WaitUntil([&] { return !rig.server.timeService().isInitialized(); }, 60s));
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
    EXPECT_THAT(rig.host.commands(), testing::Not(testing::Contains("/etc/init.d/S49ntp stop")))
        << "the zeroize did not wait for the step";
    EXPECT_EQ(1u, rig.peripheralWord(ServerRig::kEnableRegister));
    EXPECT_NE(0u, FpgaFace::Instance().fpga_get_SystemCount()) << "the FPGA is still up";
    gate.open();
    stopper.join();
    rig.connected = false;
    EXPECT_EQ(0u, rig.peripheralWord(ServerRig::kEnableRegister));
    EXPECT_EQ(0u, FpgaFace::Instance().fpga_get_SystemCount()) << "the FPGA is released";

    // The zeroize stopped the daemons after the start it waited for, and
    // nothing started them again.
    const std::vector<std::string> ran = rig.host.commands();
    const auto last = [&](const std::string& c) { return std::find(ran.rbegin(), ran.rend(), c); };
    EXPECT_NE(ran.rend(), last("/etc/init.d/S49ntp stop")) << "the zeroize ran no stop";
    EXPECT_LT(last("/etc/init.d/S49ntp stop"), last("/etc/init.d/S49ntp start"));
    EXPECT_LT(last("/etc/init.d/S49ntp stop"), last("pidof ptp4l > /dev/null"));
    EXPECT_EQ(ran.rend(), last("ptp4l -f /opt/quorvane/config/linuxptp.cfg &"));

    const int32_t step = rig.server.timeService().getStepCounter();
    rig.send(rig.second(19));
    std::this_thread::sleep_for(100ms);
    storming.store(false);
    commands.join();
    EXPECT_EQ(step, rig.server.timeService().getStepCounter());
}
