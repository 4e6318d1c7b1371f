// Faults injected through the seams: every host call and daemon command of
// the time service failing in turn, and the platform's DDS participants
// vanishing and coming back. Each time the server says what failed and goes
// on with the next message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ServerRig.h"
#include "TimeServiceRig.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using testing::StartsWith;
using boardkit::ScriptedHost;
using testsupport::ServerRig;
using testsupport::TimeServiceRig;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace States = FACE::LCM::Quorvane::RequestedState;
using namespace std::chrono_literals;
typedef std::vector<std::string> Lines;

namespace {

const std::string kFault = "3:TimeServiceController.cpp[";
const std::string kSays = "Chronavel : TimeServiceController: ";
const std::string kNoPps = kFault + "282]:Chronavel: Critical error: Unable to open PPS device";
const std::string kNoFetch = kFault + "440]:" + kSays + "Unable to fetch PPS clock timestamp";
const std::string kLinked = "2:" + kSays + "Zelmar NTP ntpshm_link_activate: 1";
const std::string kPhcSet = "2:" + kSays + "Set PHC clock time to 1700000037 Secs 0 nSecs";
const std::string kPmcCommand = "pmc -u -b 0 \"set GRANDMASTER_SETTINGS_NP";

std::string clockMoveFailed(int error) {
    return kFault + "311]:Chronavel: TimeServiceController : Bulk clock move failed, errno = " + std::to_string(error);
}
std::string phcOpenFailed(const std::string& device, const std::string& why) {
    return kFault + "567]:" + kSays + "Error - failed to open PHC clock device (" + device + "): " + why;
}
std::string phcSetFailed(const std::string& why) {
    return kFault + "586]:" + kSays + "Error - failed to set PHC clock time: " + why;
}
std::string daemonFailed(int line, const std::string& what, int exitStatus) {
    return kFault + std::to_string(line) + "]:" + kSays + "Warning - Unable to " + what + " daemon: " +
           std::to_string(exitStatus);
}
std::string ntpStartFailed(int s) { return daemonFailed(519, "start NTP", s); }
std::string ptpStartFailed(int s) { return daemonFailed(651, "start PTP", s); }
std::string ntpStopFailed(int s) { return daemonFailed(724, "stop NTP", s); }

// What one row scripts: the next calls named `call` fail with these errnos
// in turn (0: that one succeeds); for "system <command>", the command exits
// with these statuses (the last one repeats).
struct Fault {
    std::string call;
    std::vector<int> values;
};

constexpr int kStartUp = -1;  // armed before the initialisation
constexpr int kStop = -2;     // armed before the services are stopped
constexpr int32_t kSteps = 50;  // past the last step of the schedule

struct Row {
    const char* name;
    std::vector<Fault> faults;
    int armedAt;  // the step whose message meets the faults, or kStartUp, kStop
    std::vector<testing::Matcher<const std::string&>> events;  // raised there
    std::string err;  // diagnostics there
    std::string phc = "/dev/ptp0";
};

void arm(ScriptedHost& host, const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
        if (f.call.rfind("system ", 0) == 0) {
            host.answer(f.call.substr(7), f.values);
        } else {
            for (int error : f.values) {
                host.fail(f.call, error);
            }
        }
    }
}

// The whole life of the service, with the row's faults where it says: one
// message a step whatever failed, NTP fed by the last message (every second
// says the PPS is missing when it never opened), both daemons stopped, and
// every descriptor closed.
void run(const Row& row) {
    SCOPED_TRACE(row.name);
    TimeServiceRig::Settings settings;
    settings.required = 0;
    settings.phcDevice = row.phc;
    TimeServiceRig rig(settings);
    rig.host.answer("pidof ntpd > /dev/null", {256});
    rig.host.answer("pidof ptp4l > /dev/null", {256});
    Lines events;
    std::string err;
    if (row.armedAt == kStartUp) {
        arm(rig.host, row.faults);
        events = rig.initialize();
        err = rig.err;
    } else {
        rig.initialize();
    }
    const bool ppsOpen = rig.controller->getPpsFd() >= 0;
    EXPECT_EQ(row.armedAt != kStartUp, ppsOpen);
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;

    for (int i = 0; i < kSteps; ++i) {
        const int32_t k = rig.controller->getStepCounter();
        if (k == row.armedAt) {
            arm(rig.host, row.faults);
        }
        const int count = shm.count;
        const Lines raised = rig.send(rig.second(i));
        if (k == row.armedAt) {
            events = raised;
            err = rig.err;
        }
        ASSERT_EQ(k + 1, rig.controller->getStepCounter()) << "message " << i;
        if (i == kSteps - 1) {
            EXPECT_EQ(ppsOpen ? count + 2 : count, shm.count) << "the last message fed NTP";
            EXPECT_EQ(ppsOpen ? Lines{} : Lines{kNoFetch}, raised);
        }
    }
    EXPECT_THAT(rig.host.commands().back(), StartsWith(kPmcCommand)) << "the last step ran";

    rig.host.answer("pidof ptp4l > /dev/null", {0});  // the schedule started it
    if (row.armedAt == kStop) {
        arm(rig.host, row.faults);
    }
    rig.capture([&] { rig.controller->stopSystemServices(); });
    if (row.armedAt == kStop) {
        events = rig.drainEvents();
        err = rig.err;
    }
    EXPECT_EQ("/etc/init.d/S49ntp stop", rig.host.commands().back()) << "both daemons were stopped";

    rig.controller.reset();
    EXPECT_THAT(rig.host.openDescriptors(), IsEmpty());
    EXPECT_THAT(events, ElementsAreArray(row.events));
    EXPECT_EQ(row.err, err);
}

}  // namespace

// Failures the other tests of the service do not make: each errno that the
// call can give on a board, at the step that makes the call.
TEST(TimeServiceFaults, EachHostCallFailingIsReportedAndTheScheduleGoesOn) {
    const std::string notSupported = "Operation not supported";
    const std::string fetchBadFd = "time_pps_fetch() error -1 (Bad file descriptor)\n";
    const std::string signalled = "time_pps_fetch() got a signal!\n";
    const Row rows[] = {
        // Step 0: the system clock.
        {"settimeofday EINVAL", {{"settimeofday", {EINVAL}}}, 0, {clockMoveFailed(EINVAL)}, ""},
        {"settimeofday EFAULT", {{"settimeofday", {EFAULT}}}, 0, {clockMoveFailed(EFAULT)}, ""},
        // Step 30: the PHC, opened, probed, set from the system clock, closed.
        {"realpath EACCES", {{"realpath", {EACCES}}}, 30, {phcOpenFailed("/dev/ptp0", "Permission denied")}, ""},
        {"realpath ENOTDIR", {{"realpath", {ENOTDIR}}}, 30, {phcOpenFailed("/dev/ptp0", "Not a directory")}, ""},
        {"open ENODEV", {{"open", {ENODEV}}}, 30, {phcOpenFailed("/dev/ptp0", "No such device")}, ""},
        {"open EBUSY", {{"open", {EBUSY}}}, 30, {phcOpenFailed("/dev/ptp0", "Device or resource busy")}, ""},
        {"PHC clock_gettime ENODEV", {{"clock_gettime", {ENODEV}}}, 30,
         {phcOpenFailed("/dev/ptp0", "No such device")}, ""},
        {"PHC clock_gettime EINVAL", {{"clock_gettime", {EINVAL}}}, 30,
         {phcOpenFailed("/dev/ptp0", "Invalid argument")}, ""},
        {"PHC clock_adjtime ENODEV", {{"clock_adjtime", {ENODEV}}}, 30,
         {phcOpenFailed("/dev/ptp0", "No such device")}, ""},
        {"PHC clock_adjtime EINVAL", {{"clock_adjtime", {EINVAL}}}, 30,
         {phcOpenFailed("/dev/ptp0", "Invalid argument")}, ""},
        {"a failing close does not hide why the probe failed",
         {{"clock_adjtime", {EOPNOTSUPP}}, {"close", {EIO}}}, 30, {phcOpenFailed("/dev/ptp0", notSupported)}, ""},
        {"system clock_gettime EINVAL", {{"clock_gettime", {0, EINVAL}}}, 30, {phcSetFailed("Invalid argument")}, ""},
        {"system clock_gettime EFAULT", {{"clock_gettime", {0, EFAULT}}}, 30, {phcSetFailed("Bad address")}, ""},
        {"PHC clock_settime EINVAL", {{"clock_settime", {EINVAL}}}, 30, {phcSetFailed("Invalid argument")}, ""},
        {"PHC clock_settime ENODEV", {{"clock_settime", {ENODEV}}}, 30, {phcSetFailed("No such device")}, ""},
        {"PHC clock_settime EOPNOTSUPP", {{"clock_settime", {EOPNOTSUPP}}}, 30, {phcSetFailed(notSupported)}, ""},
        {"a failing close after the set", {{"close", {EBADF}}}, 30, {StartsWith(kPhcSet)}, ""},
        {"CLOCK_REALTIME clock_gettime EINVAL", {{"clock_gettime", {EINVAL}}}, 30,
         {phcSetFailed("Invalid argument")}, "", "CLOCK_REALTIME"},
        {"CLOCK_REALTIME clock_settime EPERM", {{"clock_settime", {EPERM}}}, 30,
         {phcSetFailed("Operation not permitted")}, "", "CLOCK_REALTIME"},
        {"CLOCK_REALTIME clock_settime EINVAL", {{"clock_settime", {EINVAL}}}, 30,
         {phcSetFailed("Invalid argument")}, "", "CLOCK_REALTIME"},
        // Start-up: /dev/pps0 and its RFC 2783 set-up. Without it the
        // schedule runs and every feed says the PPS is missing.
        {"pps open EACCES", {{"open", {EACCES}}}, kStartUp, {kLinked, kNoPps},
         "unable to open device \"/dev/pps0\" (Permission denied)\n"},
        {"pps open ENODEV", {{"open", {ENODEV}}}, kStartUp, {kLinked, kNoPps},
         "unable to open device \"/dev/pps0\" (No such device)\n"},
        {"time_pps_create EINVAL", {{"time_pps_create", {EINVAL}}}, kStartUp, {kLinked, kNoPps},
         "cannot create a PPS source from device \"/dev/pps0\" (Operation not supported)\n"},
        {"time_pps_getcap EINVAL", {{"time_pps_getcap", {EINVAL}}}, kStartUp, {kLinked, kNoPps},
         "cannot get capabilities (Invalid argument)\n"},
        {"time_pps_getparams EBADF", {{"time_pps_getparams", {EBADF}}}, kStartUp, {kLinked, kNoPps},
         "cannot get parameters (Bad file descriptor)\n"},
        {"time_pps_setparams EINVAL", {{"time_pps_setparams", {EINVAL}}}, kStartUp, {kLinked, kNoPps},
         "cannot set parameters (Invalid argument)\n"},
        {"time_pps_setparams EPERM and a failing close", {{"time_pps_setparams", {EPERM}}, {"close", {EBADF}}},
         kStartUp, {kLinked, kNoPps}, "cannot set parameters (Operation not permitted)\n"},
        // Every second from step 22: the PPS edge for the NTP sample.
        {"fetch EINTR is retried", {{"time_pps_fetch", {EINTR}}}, 25, {}, signalled},
        {"fetch EINTR thrice", {{"time_pps_fetch", {EINTR, EINTR, EINTR}}}, 25, {}, signalled + signalled + signalled},
        {"fetch EBADF", {{"time_pps_fetch", {EBADF}}}, 25, {kNoFetch}, fetchBadFd},
        {"fetch ETIMEDOUT", {{"time_pps_fetch", {ETIMEDOUT}}}, 25, {kNoFetch},
         "time_pps_fetch() error -1 (Connection timed out)\n"},
        {"fetch EINVAL", {{"time_pps_fetch", {EINVAL}}}, 25, {kNoFetch},
         "time_pps_fetch() error -1 (Invalid argument)\n"},
        {"fetch EINTR then EBADF", {{"time_pps_fetch", {EINTR, EBADF}}}, 25, {kNoFetch}, signalled + fetchBadFd},
        {"a failed fetch does not cost the step its action", {{"time_pps_fetch", {EBADF}}}, 30,
         {kNoFetch, StartsWith(kPhcSet)}, fetchBadFd},
    };
    for (const Row& row : rows) {
        run(row);
    }
}

// Exit statuses beside those of the daemon tests: not found (127), a shell
// that could not run (-1), killed by a signal (15) and plain failure (1).
TEST(TimeServiceFaults, EachDaemonCommandFailingIsReportedAndTheScheduleGoesOn) {
    const std::string ntpStarted = "2:" + kSays + "The NTP daemon has been started";
    const Row rows[] = {
        // Only "exit 0" says ntpd runs: otherwise it is started.
        {"pidof ntpd: no shell", {{"system pidof ntpd > /dev/null", {-1}}}, 18, {ntpStarted}, ""},
        {"pidof ntpd: not found", {{"system pidof ntpd > /dev/null", {127 << 8}}}, 18, {ntpStarted}, ""},
        {"pidof ntpd: killed", {{"system pidof ntpd > /dev/null", {15}}}, 18, {ntpStarted}, ""},
        {"S49ntp start: exit 1", {{"system /etc/init.d/S49ntp start", {1 << 8}}}, 18, {ntpStartFailed(256)}, ""},
        {"S49ntp start: not found", {{"system /etc/init.d/S49ntp start", {127 << 8}}}, 18,
         {ntpStartFailed(32512)}, ""},
        {"S49ntp start: no shell", {{"system /etc/init.d/S49ntp start", {-1}}}, 18, {ntpStartFailed(-1)}, ""},
        {"S49ntp start: killed", {{"system /etc/init.d/S49ntp start", {15}}}, 18, {ntpStartFailed(15)}, ""},
        // A priority that could not be raised goes unreported.
        {"chrt: no shell", {{"system chrt -f -p 33 `pidof ntpd`", {-1}}}, 20, {}, ""},
        {"ptp4l start: exit 1", {{"system ptp4l -f /opt/quorvane/config/linuxptp.cfg &", {1 << 8}}}, 46,
         {ptpStartFailed(256)}, ""},
        {"ptp4l start: no shell", {{"system ptp4l -f /opt/quorvane/config/linuxptp.cfg &", {-1}}}, 46,
         {ptpStartFailed(-1)}, ""},
        {"ptp4l start: killed", {{"system ptp4l -f /opt/quorvane/config/linuxptp.cfg &", {15}}}, 46,
         {ptpStartFailed(15)}, ""},
        {"S49ntp stop: not found", {{"system /etc/init.d/S49ntp stop", {127 << 8}}}, kStop, {ntpStopFailed(32512)}, ""},
        {"S49ntp stop: no shell", {{"system /etc/init.d/S49ntp stop", {-1}}}, kStop, {ntpStopFailed(-1)}, ""},
        {"S49ntp stop: killed", {{"system /etc/init.d/S49ntp stop", {15}}}, kStop, {ntpStopFailed(15)}, ""},
    };
    for (const Row& row : rows) {
        run(row);
    }
}

namespace {

// One participant of the rest of the platform: the GNSS receiver (UTCTime)
// or an operator (commands, replies, health events). It comes and goes.
struct Participant : testsupport::PlatformPeer {
    Participant(const ServerRig& rig, const std::string& name)
        : PlatformPeer(name, ServerRig::dds(rig.settings).document()) {}

    // The reply to a ping sent now, or "" after the time-out. A new
    // participant also gets the replies the server sent before it came.
    std::string ping(ServerRig& rig, int32_t identifier) {
        tsstest::Send(*commands, commandOut, rig.command("BITSERVER_PING", identifier));
        std::string reply;
        tsstest::WaitUntil([&] {
            for (const auto& d : replies.deliveries()) {
                if (d.message.command_identifier() == identifier) {
                    reply = d.message.command_response();
                    return true;
                }
            }
            return false;
        }, 10s);
        return reply;
    }

    bool sawEvent(const std::string& text) {
        for (const auto& d : events.deliveries()) {
            if (d.message.eventlog().find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

// Sends second i and waits until the controller has run its step.
bool feed(ServerRig& rig, Participant& receiver, int i) {
    const auto& ts = rig.server.timeService();
    const int32_t step = ts.getStepCounter();
    return tsstest::Send(*receiver.utcTime, receiver.utcOut, rig.second(i)) == RC::NO_ERROR &&
           tsstest::WaitUntil([&] { return ts.getStepCounter() != step; }, 10s);
}

}  // namespace

// The receiver and the operator's panel restart while the server runs: it
// matches each new participant, answers its ping and takes up the
// discipline where it stood.
TEST(ServerPeers, VanishedParticipantsAreMatchedAgainAndTheDisciplineGoesOn) {
    ServerRig::Settings settings;
    settings.dds = boardkit::FastRtps(206, settings.dds.useTransport);
    settings.dds.useTransport = "UDP";
    settings.ppsCount = "0";
    ServerRig rig(settings);
    // The rig's own participant steps aside, so that the server has no
    // other peer while these are gone.
    RC::Value code;
    rig.peer.tss->Unregister_Sender(rig.utcOut, code);
    rig.peer.tss->Unregister_Sender(rig.commandOut, code);
    rig.peer.tss->Unregister_Callback(rig.responseIn, code);
    rig.peer.tss->Unregister_Callback(rig.eventLogIn, code);
    ASSERT_EQ(RC::NO_ERROR, rig.connect());
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));

    auto receiver = std::make_unique<Participant>(rig, "Receiver");
    auto panel = std::make_unique<Participant>(rig, "Panel");
    ASSERT_TRUE(receiver->matched());
    ASSERT_TRUE(panel->matched());
    EXPECT_EQ("Chronavel", panel->ping(rig, 1));
    int second = 0;
    for (; rig.server.timeService().getStepCounter() < 10; ++second) {
        ASSERT_TRUE(feed(rig, *receiver, second)) << "second " << second;
    }

    receiver.reset();
    EXPECT_EQ("Chronavel", panel->ping(rig, 2)) << "a vanished receiver is no matter to the commands";
    panel.reset();
    std::this_thread::sleep_for(500ms);  // the server forgets them

    panel = std::make_unique<Participant>(rig, "Panel again");
    ASSERT_TRUE(panel->matched());
    EXPECT_EQ("Chronavel", panel->ping(rig, 3));
    receiver = std::make_unique<Participant>(rig, "Receiver again");
    ASSERT_TRUE(receiver->matched());
    second += 3;  // the receiver was gone for a few seconds
    for (; rig.server.timeService().getStepCounter() < kSteps; ++second) {
        ASSERT_TRUE(feed(rig, *receiver, second)) << "second " << second;
    }
    EXPECT_THAT(rig.host.commands(),
                ElementsAre("pidof ntpd > /dev/null", "/etc/init.d/S49ntp start", "chrt -f -p 33 `pidof ntpd`",
                            "pidof ptp4l > /dev/null", "ptp4l -f /opt/quorvane/config/linuxptp.cfg &",
                            StartsWith(kPmcCommand)));
    EXPECT_TRUE(tsstest::WaitUntil([&] { return panel->sawEvent("The PTP daemon has been started"); }, 10s))
        << "the new panel gets the health events";
    EXPECT_EQ("Chronavel", panel->ping(rig, 4));
}
