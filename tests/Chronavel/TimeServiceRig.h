#ifndef TESTS_CHRONAVEL_TIMESERVICERIG_H
#define TESTS_CHRONAVEL_TIMESERVICERIG_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "Chronavel/TimeServiceController.h"
#include "boardkit/Board.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/UtcMessages.h"

namespace testsupport {

// The controller on a scripted board, with the fault filter on so that
// faults carry their source line.
class TimeServiceRig {
public:
    struct Settings {
        uint32_t required = 2;      // in-threshold messages to exceed
        int debug = 0;
        int quiet = 1;
        std::string phcDevice = "/dev/ptp0";
        double utc2tai = 37.0;
    };
    // Quiet 0 echoes every report.
    static Settings with(uint32_t required, int quiet = 1, int debug = 0) {
        Settings s;
        s.required = required;
        s.quiet = quiet;
        s.debug = debug;
        return s;
    }

    static constexpr int64_t kUtcBase = boardkit::ScriptedBoard::kUtcBase;

    TimeServiceRig() : TimeServiceRig(Settings()) {}
    explicit TimeServiceRig(const Settings& s) : settings(s) {
        EXPECT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
        controller = std::make_unique<TimeServiceController>("Chronavel", host, FpgaFace::Instance(),
                                                             board.ntp);
        controller->doDebug(s.debug);
        controller->doQuiet(s.quiet);
        controller->ppsSettledErrorThreshold = 1000.0;  // ns
        controller->ppsCountRequiredWithinThreshold = s.required;
    }
    ~TimeServiceRig() {
        controller.reset();
        drainEvents();
    }

    // Returns the events that initialisation raised.
    std::vector<std::string> initialize() {
        capture([&] {
            controller->initialize(5, settings.phcDevice.c_str(), settings.utc2tai);
        });
        return drainEvents();
    }

    // Second i of a healthy receiver (see ScriptedBoard::second).
    aspn2_msgs::idl::UTCTime second(int i, double nsec = 50.0) { return board.second(i, nsec); }

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

    static std::vector<std::string> drainEvents() { return boardkit::drainEvents(); }

    std::vector<std::string> fpgaWrites() { return std::exchange(image.writes, {}); }

    // Sends healthy seconds from `next` on until the controller is about to
    // run step k; returns the next second.
    int runUntilStep(int32_t k, int next = 0) {
        while (!(controller->isPpsSettled() && controller->getStepCounter() == k)) {
            send(second(next++));
            if (next > 1000) {
                ADD_FAILURE() << "step " << k << " never reached";
                break;
            }
        }
        return next;
    }

    // Host calls since the last take, other than the routine PPS fetch.
    std::vector<std::string> actions() {
        std::vector<std::string> result;
        for (const std::string& call : host.takeCalls()) {
            if (call.rfind("time_pps_fetch", 0) != 0) {
                result.push_back(call);
            }
        }
        return result;
    }

    Settings settings;
    boardkit::ScriptedBoard board;
    boardkit::RegisterImage& image = board.image;
    boardkit::FpgaSession session{image, true};
    boardkit::ScriptedHost& host = board.host;
    std::unique_ptr<TimeServiceController> controller;
    std::string out;
    std::string err;
};

}  // namespace testsupport

#endif
