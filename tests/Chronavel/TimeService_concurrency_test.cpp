// A zeroize arrives on the command thread while the UTCTime thread runs the
// discipline: the stop must wait for a step in progress, and no daemon may
// be started (or told anything) after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TimeServiceRig.h"
#include "support/Gate.h"

using testsupport::Gate;
using testsupport::TimeServiceRig;
using namespace std::chrono_literals;

TEST(TimeServiceRace, StopWaitsForTheStepInProgressAndNothingStartsAfterIt) {
    const char* blockedCommands[] = {"/etc/init.d/S49ntp start",
                                     "ptp4l -f /opt/quorvane/config/linuxptp.cfg &", nullptr};
    for (const char* blocked : blockedCommands) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        rig.host.answer("pidof ntpd > /dev/null", {256});
        rig.host.answer("pidof ptp4l > /dev/null", {256});
        Gate gate;
        if (blocked != nullptr) {
            rig.host.onCommand = [&](const std::string& command) {
                if (command == blocked) {
                    gate.enter();
                }
            };
        }

        std::atomic<bool> running{true};
        std::thread listener([&] {
            for (int i = 0; running.load() && i < 200; ++i) {
                rig.controller->newFACEUtcTime(rig.second(i));
            }
        });
        if (blocked != nullptr) {
            ASSERT_TRUE(gate.waitEntered(10s)) << blocked;
        } else {
            std::this_thread::sleep_for(2ms);  // somewhere in the schedule
        }
        bool stopped = false;
        std::thread command([&] { stopped = rig.controller->stopSystemServices(); });
        if (blocked != nullptr) {
            std::this_thread::sleep_for(50ms);
            const std::vector<std::string> meanwhile = rig.host.commands();
            EXPECT_EQ(blocked, meanwhile.back()) << "the stop went ahead of the step in progress";
            gate.open();
        }
        command.join();
        std::this_thread::sleep_for(5ms);  // a few more messages after the stop
        running.store(false);
        listener.join();

        EXPECT_TRUE(stopped);
        EXPECT_FALSE(rig.controller->isInitialized());
        const std::vector<std::string> commands = rig.host.commands();
        // The stop's own pidof is the last one before the init script's stop.
        const auto ntpStop = std::find(commands.begin(), commands.end(), "/etc/init.d/S49ntp stop");
        ASSERT_NE(commands.end(), ntpStop);
        const auto firstStop =
            std::find(std::make_reverse_iterator(ntpStop), commands.rend(), "pidof ptp4l > /dev/null").base() - 1;
        ASSERT_EQ("pidof ptp4l > /dev/null", *firstStop);
        if (blocked != nullptr) {
            EXPECT_EQ(blocked, *(firstStop - 1));
        }
        EXPECT_EQ(commands.end(), std::find_if(firstStop, commands.end(), [](const std::string& c) {
                      return c.find(" start") != std::string::npos || c.rfind("ptp4l ", 0) == 0 ||
                             c.rfind("pmc ", 0) == 0 || c.rfind("chrt ", 0) == 0;
                  })) << (blocked != nullptr ? blocked : "no step held");
        rig.drainEvents();
    }
}
