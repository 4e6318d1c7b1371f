#ifndef TESTS_CHRONAVEL_TIMESERVICERIG_H
#define TESTS_CHRONAVEL_TIMESERVICERIG_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "ASPN/TimeCodeHelper.h"
#include "Chronavel/TimeServiceController.h"
#include "support/FakeTimeHost.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"
#include "support/TimeServiceFixtures.h"

namespace testsupport {

// The controller on a fake host and an FPGA register image, with the fault
// filter on so that faults carry their source line.
class TimeServiceRig {
public:
    struct Settings {
        uint32_t required = 2;      // in-threshold messages to exceed
        double threshold = 1000.0;  // ns
        int debug = 0;
        int quiet = 1;
        uint32_t enableRegister = 5;
        std::string phcDevice = "/dev/ptp0";
        double utc2tai = 37.0;
    };

    static constexpr int64_t kUtcBase = 1700000000;  // 2023-11-14T22:13:20Z

    TimeServiceRig() : TimeServiceRig(Settings()) {}
    explicit TimeServiceRig(const Settings& s) : settings(s) {
        EXPECT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
        controller = std::make_unique<TimeServiceController>("Chronavel", host);
        controller->doDebug(s.debug);
        controller->doQuiet(s.quiet);
        controller->ppsSettledErrorThreshold = s.threshold;
        controller->ppsCountRequiredWithinThreshold = s.required;
    }
    ~TimeServiceRig() {
        controller.reset();
        drainEvents();
    }

    // Returns the events that initialisation raised.
    std::vector<std::string> initialize() {
        capture([&] {
            controller->initialize(settings.enableRegister, settings.phcDevice.c_str(),
                                   settings.utc2tai);
        });
        return drainEvents();
    }

    // The message of second i of a healthy receiver: on the second, with a
    // fresh PPS edge 1.5 µs late on the system clock and the FPGA counter a
    // quarter second (less 8 ns) past the time of validity.
    aspn2_msgs::idl::UTCTime second(int i, double nsec = 50.0) {
        host.setEdge({static_cast<time_t>(kUtcBase + i), 1500, static_cast<pps_seq_t>(i + 1)});
        setFpgaTicks(static_cast<uint64_t>(1000 + i) * FpgaFace::TICKS_PER_SECOND +
                     FpgaFace::TICKS_PER_SECOND / 4);
        return gpsMessage(kUtcBase + i, nsec, 1e-16, 1000 + i, 0);
    }

    // The free-running counter; it reads as ticks * 10^9 / 58 982 400 - 8 ns.
    void setFpgaTicks(uint64_t ticks) { image.poke(fpgablock::kTimestamp, 0x80, 64, ticks); }

    // Hands one message over and returns the events it raised, as
    // "type:text"; its standard output is kept in out.
    std::vector<std::string> send(const aspn2_msgs::idl::UTCTime& message) {
        capture([&] { controller->newFACEUtcTime(message); });
        return drainEvents();
    }

    template <class F>
    void capture(F&& f) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        f();
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
    }

    static std::vector<std::string> drainEvents() {
        std::vector<std::string> events;
        int type = 0;
        std::string text;
        while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
            events.push_back(std::to_string(type) + ":" + text);
        }
        return events;
    }

    std::vector<std::string> fpgaWrites() { return std::exchange(image.writes, {}); }

    Settings settings;
    NtpSegmentsGuard segments;
    RegisterImage image;
    FpgaSession session{image, true};
    FakeTimeHost host;
    std::unique_ptr<TimeServiceController> controller;
    std::string out;
    std::string err;
};

}  // namespace testsupport

#endif
