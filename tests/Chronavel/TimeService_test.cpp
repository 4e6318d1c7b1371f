// The time service controller on a fake host and an FPGA register image:
// start-up, PPS qualification, the discipline schedule and the daemons.
#include "Chronavel/TimeServiceController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TimeServiceRig.h"
#include "support/AllocationCounter.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using boardkit::ScriptedHost;
using boardkit::gpsMessage;
using boardkit::NtpSegmentsGuard;
using testsupport::TimeServiceRig;
typedef std::vector<std::string> Lines;

namespace {

const std::string kFault = "3:TimeServiceController.cpp[";
std::string pmc(const std::string& utcOffset) {
    return "pmc -u -b 0 \"set GRANDMASTER_SETTINGS_NP clockClass 248 clockAccuracy 0x21 "
           "offsetScaledLogVariance 0xffff currentUtcOffset " +
           utcOffset +
           " leap61 0 leap59 0 currentUtcOffsetValid 1 ptpTimescale 1 timeTraceable 1 "
           "frequencyTraceable 1 timeSource 0x20\"";
}
const std::string kPmc = pmc("37");

// Sends healthy seconds from `next` on until the controller is about to run
// step k; returns the next second.
int runUntilStep(TimeServiceRig& rig, int32_t k, int next = 0) {
    while (!(rig.controller->isPpsSettled() && rig.controller->getStepCounter() == k)) {
        rig.send(rig.second(next++));
        if (next > 1000) {
            ADD_FAILURE() << "step " << k << " never reached";
            break;
        }
    }
    return next;
}

// The host's answers for a board where neither daemon runs yet.
void noDaemonsRunning(ScriptedHost& host) {
    host.answer("pidof ntpd > /dev/null", {256});
    host.answer("pidof ptp4l > /dev/null", {256});
}

// Host calls other than the routine PPS fetch.
Lines actions(ScriptedHost& host) {
    Lines result;
    for (const std::string& call : host.takeCalls()) {
        if (call.rfind("time_pps_fetch", 0) != 0) {
            result.push_back(call);
        }
    }
    return result;
}

}  // namespace

TEST(TimeServiceInit, LinksOpensThePpsAndIgnoresASecondInitialization) {
    TimeServiceRig::Settings settings;
    settings.debug = 1;
    TimeServiceRig rig(settings);
    const Lines events = rig.initialize();
    EXPECT_EQ("Chronavel : TimeServiceController: Zelmar NTP ntpshm_link_activate: 1\n", rig.out);
    EXPECT_THAT(events,
                ElementsAre("2:Chronavel : TimeServiceController: Zelmar NTP ntpshm_link_activate: 1"));
    EXPECT_EQ(NtpSegmentsGuard::attachments(NtpSegmentsGuard::firstUnit()), 1);
    EXPECT_THAT(rig.host.takeCalls(),
                ElementsAre("open /dev/pps0", "time_pps_create 100", "time_pps_getcap 100",
                            "time_pps_getparams 100", "time_pps_setparams 100"));
    EXPECT_TRUE(rig.controller->isInitialized());
    EXPECT_EQ(100, rig.controller->getPpsFd());

    // Both entries refuse; the first settings stay (the destructor clears word 5).
    rig.capture([&] {
        rig.controller->initialize(9, "CLOCK_REALTIME", 1.0);
        rig.controller->initializeWithCurrentSettings();
    });
    EXPECT_THAT(rig.drainEvents(),
                ElementsAre("2:Chronavel : TimeServiceControllerinitialize: Already initialized. Ignored! ",
                            "2:Chronavel : TimeServiceControllerinitializeWithCurrentSettings: Already "
                            "initialized. Ignored! "));
    EXPECT_EQ(2, std::count(rig.out.begin(), rig.out.end(), '\n'));
    EXPECT_THAT(rig.host.takeCalls(), ElementsAre());
    rig.fpgaWrites();
    rig.controller.reset();
    EXPECT_THAT(rig.fpgaWrites(), ElementsAre("Peripheral_Interface@0x14/32=0x0"));
    EXPECT_THAT(rig.host.takeCalls(), ElementsAre("close 100"));
}

TEST(TimeServiceInit, WithoutAPpsDeviceItStillInitializesAndSaysSoOnce) {
    TimeServiceRig rig;  // not debug: the link report is not echoed
    rig.host.fail("open", ENOENT);
    const Lines events = rig.initialize();
    EXPECT_EQ("unable to open device \"/dev/pps0\" (No such file or directory)\n", rig.err);
    EXPECT_EQ("Chronavel: Critical error: Unable to open PPS device\n", rig.out);
    EXPECT_THAT(events,
                ElementsAre("2:Chronavel : TimeServiceController: Zelmar NTP ntpshm_link_activate: 1",
                            kFault + "282]:Chronavel: Critical error: Unable to open PPS device"));
    EXPECT_TRUE(rig.controller->isInitialized());
    EXPECT_EQ(-1, rig.controller->getPpsFd());
}

TEST(TimeServiceInit, NeverInitializedItClearsWordZeroOnDestruction) {
    TimeServiceRig rig;
    rig.controller.reset();
    EXPECT_THAT(rig.fpgaWrites(), ElementsAre("Peripheral_Interface@0x0/32=0x0"));
    EXPECT_THAT(rig.host.calls(), ElementsAre());
}

TEST(TimeServiceInit, NoUsableSegmentLeavesTheClockUnlinkedAndEveryFeedSaysSo) {
    NtpSegmentsGuard guard;
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        if (shmget(NtpSegmentsGuard::key(unit), 0, 0) != -1) {
            GTEST_SKIP() << "this host already has NTP segments";
        }
        // Too small for the record: every attach fails.
        ASSERT_NE(-1, shmget(NtpSegmentsGuard::key(unit), 1, IPC_CREAT | 0600));
    }
    TimeServiceRig::Settings settings;
    settings.required = 0;
    TimeServiceRig rig(settings);
    const Lines events = rig.initialize();
    const int first = NtpSegmentsGuard::firstUnit();
    EXPECT_THAT(rig.out, HasSubstr("NTP: shmget(" + std::to_string(NTPSHM_KEY_BASE + first) + ", " +
                                   std::to_string(sizeof(shmTime)) + (first < 2 ? ", 600" : ", 666") +
                                   ") fail: Invalid argument\n"));
    EXPECT_THAT(rig.out, HasSubstr("NTP: ntpshm_alloc() failed\n"));
    EXPECT_THAT(events,
                ElementsAre("2:Chronavel : TimeServiceController: Zelmar NTP ntpshm_link_activate: 0"));
    int next = runUntilStep(rig, 22);
    EXPECT_THAT(rig.send(rig.second(next)),
                ElementsAre(kFault + "447]:Chronavel : TimeServiceController: The shm_clock variable is null"));
}

TEST(TimeServiceInit, AfterAStopItStartsOverWithoutLeakingAndKeepsTheCount) {
    TimeServiceRig::Settings settings;
    settings.required = 3;
    TimeServiceRig rig(settings);
    rig.initialize();
    noDaemonsRunning(rig.host);
    const int unit = NtpSegmentsGuard::firstUnit();
    const int attached = NtpSegmentsGuard::attachments(unit);
    int next = runUntilStep(rig, 23);
    rig.capture([&] { EXPECT_TRUE(rig.controller->stopSystemServices()); });
    rig.drainEvents();
    rig.host.takeCalls();

    rig.initialize();
    EXPECT_EQ(attached, NtpSegmentsGuard::attachments(unit));
    EXPECT_EQ(rig.controller->getNtpSession().shm_clock, rig.controller->getNtpSession().context->segments[unit]);
    EXPECT_THAT(actions(rig.host), testing::IsSupersetOf({"close 100", "open /dev/pps0"}));
    EXPECT_FALSE(rig.controller->isPpsSettled());
    EXPECT_EQ(0, rig.controller->getStepCounter());
    // The in-threshold count survived: the first good message settles and steps.
    EXPECT_EQ(4u, rig.controller->getPpsWithinThresholdCount());
    rig.send(rig.second(next));
    EXPECT_TRUE(rig.controller->isPpsSettled());
    EXPECT_THAT(actions(rig.host), ElementsAre(HasSubstr("settimeofday")));
}

TEST(TimeServiceQualification, SettlesAfterMoreThanNConsecutiveGoodMessages) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Msg {
        double nsec;
        double variance;
    };
    const Msg good{50, 1e-16};
    const struct {
        const char* name;
        uint32_t required;
        std::vector<Msg> messages;
        int settlesAt;  // 1-based; 0 for never
    } rows[] = {
        {"N = 0 settles on the first", 0, {good}, 1},
        {"N = 3 settles on the fourth", 3, {good, good, good, good}, 4},
        {"one bad offset resets", 3, {good, good, {2000, 1e-16}, good, good, good, good}, 7},
        {"mirrored offset counts", 1, {{999999100, 1e-16}, {999999100, 1e-16}}, 2},
        {"offset equal to the threshold does not", 0, {{1000, 1e-16}, {999999000, 1e-16}, {999, 1e-16}}, 3},
        {"large variance neither counts nor resets", 3, {good, good, {50, 1e-13}, good, good}, 5},
        {"variance at the limit is too large", 1, {good, {50, 1e-7 * 1e-7}, good}, 3},
        {"NaN variance likewise", 3, {good, good, {50, nan}, good, good}, 5},
        {"negative variance likewise", 3, {good, good, {50, -1e-16}, good, good}, 5},
        {"NaN nanoseconds reset", 1, {good, {nan, 1e-16}, good, good}, 4},
        {"infinite nanoseconds reset", 1, {good, {-inf, 1e-16}, good, good}, 4},
        {"negative nanoseconds reset", 1, {good, {-1, 1e-16}, good, good}, 4},
        {"a whole second of nanoseconds resets", 1, {good, {1e9, 1e-16}, good, good}, 4},
        {"never without good messages", 0, {{2000, 1e-16}, {50, 1e-12}}, 0},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = row.required;
        TimeServiceRig rig(settings);
        rig.initialize();
        int settledAt = 0;
        for (size_t i = 0; i < row.messages.size(); ++i) {
            aspn2_msgs::idl::UTCTime m = rig.second(static_cast<int>(i));
            m.utc_tod_nsec(row.messages[i].nsec);
            m.covariance()[0][0] = row.messages[i].variance;
            rig.send(m);
            if (settledAt == 0 && rig.controller->isPpsSettled()) {
                settledAt = static_cast<int>(i) + 1;
            }
        }
        EXPECT_EQ(row.settlesAt, settledAt) << row.name;
        // The settling message steps the clock in the same call.
        EXPECT_EQ(settledAt != 0 ? 1 : 0, rig.controller->getStepCounter()) << row.name;
    }
}

TEST(TimeServiceQualification, DebugReportsEachTurnAndEchoesUnsettledMessages) {
    TimeServiceRig::Settings settings;
    settings.required = 1;
    settings.debug = 1;
    TimeServiceRig rig(settings);
    rig.initialize();
    EXPECT_THAT(rig.send(rig.second(0)), ElementsAre("2:Chronavel : PPS offset from UTC 50 ns",
                                                     "2:Chronavel : PPS within threshold, first count"));
    EXPECT_EQ("Chronavel : TimeServiceController: Output Clock UTC Time Invalid: 252818sec 50 nsec, "
              "errEst 1e-16\n",
              rig.out);
    EXPECT_THAT(rig.send(rig.second(1, 999997500)),
                ElementsAre("2:Chronavel : PPS offset from UTC 2500 ns",
                            "2:Chronavel : PPS broke threshold after 1seconds"));
    rig.send(rig.second(2));
    EXPECT_THAT(rig.send(rig.second(3)),
                ElementsAre("2:Chronavel : PPS offset from UTC 50 ns",
                            "2:Chronavel : PPS within threshold, for 1 seconds",
                            "2:Chronavel : TimeServiceController: Bulk clock move successful"));
    EXPECT_EQ("", rig.out) << "quiet: the clock move is not echoed";

    // Stopped: messages are only echoed.
    rig.capture([&] { rig.controller->stopSystemServices(); });
    rig.drainEvents();
    EXPECT_THAT(rig.send(rig.second(4)), ElementsAre());
    EXPECT_EQ("Chronavel : TimeServiceController not initialized. Ignoring: 252822sec 50 nsec, errEst 1e-16\n",
              rig.out);
}

// The whole bring-up: N + 1 messages to settle, then 48 steps.
TEST(TimeServiceSchedule, EveryStepRunsOnceAtItsMessage) {
    TimeServiceRig rig;  // N = 2
    rig.initialize();
    noDaemonsRunning(rig.host);
    rig.host.takeCalls();
    rig.fpgaWrites();
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;

    std::map<int, Lines> seen;
    for (int i = 0; i < 3 + 48; ++i) {
        const int count = shm.count;
        rig.send(rig.second(i));
        Lines& happened = seen[i + 1];
        happened = actions(rig.host);
        for (const std::string& write : rig.fpgaWrites()) {
            happened.push_back("fpga " + write);
        }
        if (shm.count == count + 2) {
            happened.push_back("ntp " + std::to_string(shm.clockTimeStampSec - TimeServiceRig::kUtcBase) +
                               " @ " + std::to_string(shm.receiveTimeStampSec - TimeServiceRig::kUtcBase) +
                               "." + std::to_string(shm.receiveTimeStampNSec));
        }
        if (happened.empty()) {
            seen.erase(i + 1);
        }
    }

    const std::string phcClock = std::to_string(platform::phcClockId(101));
    std::map<int, Lines> expected = {
        {3, {"settimeofday 1700000002.250000"}},
        {5, {"fpga Peripheral_Interface@0x14/32=0x1"}},
        {21, {"system pidof ntpd > /dev/null", "system /etc/init.d/S49ntp start"}},
        {23, {"system chrt -f -p 33 `pidof ntpd`"}},
        {33,
         {"realpath /dev/ptp0", "open /dev/ptp0", "clock_gettime " + phcClock,
          "clock_adjtime " + phcClock + " mode 0", "clock_gettime 0",
          "clock_settime " + phcClock + " 1700000037.000000000", "close 101"}},
        {34,
         {"fpga PpsSlave_Interface@0x20/32=0x0", "fpga PpsSlave_Interface@0x0/32=0x1",
          "fpga PtpClock_Interface@0x8/32=0x3"}},
        {49,
         {"system pidof ptp4l > /dev/null",
          "system ptp4l -f /opt/quorvane/config/linuxptp.cfg &"}},
        {50, {"system " + kPmc}},
    };
    // From the 23rd settled message on, NTP gets every second with its edge.
    for (int message = 25; message <= 51; ++message) {
        expected[message].push_back("ntp " + std::to_string(message - 1) + " @ " +
                                     std::to_string(message - 1) + ".1500");
    }
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(-20, shm.precision);
    EXPECT_EQ(0, shm.leap);
}

TEST(TimeServiceSchedule, ClockMoveArithmetic) {
    const int64_t tps = FpgaFace::TICKS_PER_SECOND;
    const int64_t utc = 1700000000;
    const struct {
        const char* name;
        aspn2_msgs::idl::UTCTime message;
        uint64_t ticks;
        const char* settimeofday;
    } rows[] = {
        {"18 leap seconds at 00:00:18 GPS", gpsMessage(utc, 50), 1000 * tps + tps / 4,
         "1700000000.250000"},
        {"00:00:04 GPS is 23:59:46 UTC of the day before", gpsMessage(1699919986, 0), 1000 * tps + tps / 4,
         "1699919986.249999"},
        {"nanoseconds summing to a whole second carry", gpsMessage(utc, 8), 1001 * tps,
         "1700000001.000000"},
        {"time of validity later in its second borrows",
         gpsMessage(utc, 50, 1e-16, 1000, 600000000), 1001 * tps + tps / 4, "1700000000.650000"},
        {"two seconds since the time of validity", gpsMessage(utc, 0, 1e-16, 998), 1000 * tps + tps / 4,
         "1700000002.249999"},
        {"nanoseconds that round to the next second", gpsMessage(utc, 999999999.6), 1000 * tps + tps / 4,
         "1700000001.249999"},
        {"after January 2038", gpsMessage(2208988800, 50), 1000 * tps + tps / 4,
         sizeof(time_t) == 8 ? "2208988800.250000" : nullptr},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        rig.host.takeCalls();
        rig.setFpgaTicks(row.ticks);
        const Lines events = rig.send(row.message);
        if (row.settimeofday == nullptr) {
            // A 32-bit time_t cannot hold it: refused, not wrapped to 1901.
            EXPECT_THAT(rig.host.takeCalls(), IsEmpty()) << row.name;
            EXPECT_THAT(events, ElementsAre(HasSubstr("Invalid UTC time ignored"))) << row.name;
            continue;
        }
        EXPECT_THAT(rig.host.takeCalls(), ElementsAre(std::string("settimeofday ") + row.settimeofday))
            << row.name;
    }
}

TEST(TimeServiceSchedule, ClockMoveReportsItsOutcome) {
    for (const bool fails : {false, true}) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        settings.quiet = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        if (fails) {
            rig.host.fail("settimeofday", EPERM);
        }
        const Lines events = rig.send(rig.second(0));
        const std::string text =
            fails ? "Chronavel: TimeServiceController : Bulk clock move failed, errno = 1"
                  : "Chronavel : TimeServiceController: Bulk clock move successful";
        EXPECT_THAT(events, ElementsAre((fails ? kFault + "311]:" : "2:") + text));
        EXPECT_EQ(text + "\n", rig.out);
        EXPECT_EQ(1, rig.controller->getStepCounter()) << "a failed step is not retried";
    }
}

// A settled message must describe a time that can be right before it steers
// anything; the refusal costs no step.
TEST(TimeServiceSchedule, InvalidTimesStepNothingAndAreReportedOnce) {
    using Msg = aspn2_msgs::idl::UTCTime;
    const struct {
        const char* name;
        void (*spoil)(Msg&);
        int line;
    } rows[] = {
        {"NaN tow nanoseconds", [](Msg& m) { m.gps_tow_nsec(std::nan("")); }, 395},
        {"a second of tow nanoseconds", [](Msg& m) { m.gps_tow_nsec(1e9); }, 395},
        {"negative week", [](Msg& m) { m.gps_week(-1); }, 395},
        {"negative time of week", [](Msg& m) { m.gps_tow_sec(-1); }, 395},
        {"time of week past the week", [](Msg& m) { m.gps_tow_sec(604800); }, 395},
        {"negative UTC seconds of day", [](Msg& m) { m.utc_tod_sec(-1); }, 395},
        {"UTC seconds past the day", [](Msg& m) { m.utc_tod_sec(86401); }, 395},
        {"negative validity nanoseconds", [](Msg& m) { m.header().timestamp_valid().nsec(-1); }, 395},
        {"validity nanoseconds of a second", [](Msg& m) { m.header().timestamp_valid().nsec(1000000000); }, 395},
        {"validity in the FPGA's future", [](Msg& m) { m.header().timestamp_valid().sec(1001); }, 398},
        {"validity six seconds ago", [](Msg& m) { m.header().timestamp_valid().sec(994); }, 398},
        {"validity at the start of time", [](Msg& m) { m.header().timestamp_valid().sec(INT64_MIN); }, 398},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        rig.host.takeCalls();
        Msg m = rig.second(0);
        row.spoil(m);
        const Lines events = rig.send(m);
        ASSERT_EQ(1u, events.size()) << row.name;
        EXPECT_EQ(0u, events[0].find(kFault + std::to_string(row.line) +
                                     "]:Chronavel : TimeServiceController: Invalid UTC time ignored: "))
            << events[0];
        EXPECT_THAT(rig.host.takeCalls(), ElementsAre()) << row.name;
        EXPECT_EQ(0, rig.controller->getStepCounter()) << row.name;
        EXPECT_TRUE(rig.controller->isPpsSettled()) << row.name;
        // Exactly five seconds is still the same time base.
        Msg late = rig.second(0);
        late.header().timestamp_valid().sec(995);
        late.header().timestamp_valid().nsec(249999992);
        rig.send(late);
        EXPECT_THAT(rig.host.takeCalls(), ElementsAre("settimeofday 1700000005.000000")) << row.name;
    }
}

TEST(TimeServiceFeed, AnEdgeIsFedOnceAndOnlyIfItWasEverCaptured) {
    const struct {
        const char* name;
        std::vector<pps_seq_t> sequences;  // per message; 0: no edge ever
        std::vector<bool> fed;
    } rows[] = {
        {"no edge ever", {0, 0}, {false, false}},
        {"a new edge each second", {7, 8, 9}, {true, true, true}},
        {"the PPS stops", {7, 7, 7, 8}, {true, false, false, true}},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        settings.quiet = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        int next = runUntilStep(rig, 22);
        const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
        for (size_t i = 0; i < row.sequences.size(); ++i) {
            const aspn2_msgs::idl::UTCTime m = rig.second(next + static_cast<int>(i));
            rig.host.setEdge({static_cast<time_t>(TimeServiceRig::kUtcBase + 77), 1500, row.sequences[i]});
            const int count = shm.count;
            const Lines events = rig.send(m);
            if (row.fed[i]) {
                EXPECT_EQ(count + 2, shm.count) << row.name << " " << i;
                EXPECT_THAT(events, ElementsAre()) << row.name;
                EXPECT_THAT(rig.out, HasSubstr("NTP: ntpshm_put(Quorvane -20) ")) << row.name;
            } else {
                EXPECT_EQ(count, shm.count) << row.name << " " << i;
                EXPECT_THAT(events, ElementsAre(kFault + "440]:Chronavel : TimeServiceController: Unable "
                                                         "to fetch PPS clock timestamp"));
                EXPECT_EQ("Chronavel : TimeServiceController: Unable to fetch PPS clock timestamp\n", rig.out);
            }
        }
    }
}

TEST(TimeServiceFeed, WithoutAPpsSourceEveryFeedFailsAndTheStepsGoOn) {
    TimeServiceRig::Settings settings;
    settings.required = 0;
    TimeServiceRig rig(settings);
    rig.host.fail("open", ENOENT);
    rig.initialize();
    const int next = runUntilStep(rig, 30);
    rig.host.takeCalls();
    const Lines events = rig.send(rig.second(next));
    EXPECT_EQ("time_pps_fetch() error -1 (Bad file descriptor)\n", rig.err);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(kFault + "440]:Chronavel : TimeServiceController: Unable to fetch PPS clock timestamp", events[0]);
    EXPECT_THAT(events[1], HasSubstr("Set PHC clock time to"));
}

TEST(TimeServicePhc, SetsThePhcToTaiOrSaysWhyNot) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string id = std::to_string(platform::phcClockId(101));
    const struct {
        const char* name;
        const char* device;
        double offset;
        const char* failing;
        int error;
        Lines calls;
        std::string event;
    } rows[] = {
        {"the system clock, in any letter case", "Clock_RealTime", 37.0, "", 0,
         {"clock_gettime 0", "clock_settime 0 1700000037.000000000"},
         "2:Chronavel : TimeServiceController: Set PHC clock time to 1700000037 Secs 0 nSecs or Tue "
         "Nov 14 22:13:57 2023\n in TAI time"},
        {"TAI seconds are truncated toward zero", "/dev/ptp0", 37.9, "", 0,
         {"realpath /dev/ptp0", "open /dev/ptp0", "clock_gettime " + id, "clock_adjtime " + id + " mode 0",
          "clock_gettime 0", "clock_settime " + id + " 1700000037.000000000", "close 101"},
         "2:Chronavel : TimeServiceController: Set PHC clock time to 1700000037 Secs 0 nSecs or Tue "
         "Nov 14 22:13:57 2023\n in TAI time"},
        {"a negative offset truncates toward zero too", "CLOCK_REALTIME", -0.5, "", 0,
         {"clock_gettime 0", "clock_settime 0 1699999999.000000000"}, "2:"},
        {"an unresolvable device", "/dev/ptp9", 37.0, "realpath", ENOENT, {"realpath /dev/ptp9"},
         kFault + "567]:Chronavel : TimeServiceController: Error - failed to open PHC clock device "
                  "(/dev/ptp9): No such file or directory"},
        {"a device that cannot be opened", "/dev/ptp0", 37.0, "open", EACCES,
         {"realpath /dev/ptp0", "open /dev/ptp0"},
         kFault + "567]:Chronavel : TimeServiceController: Error - failed to open PHC clock device "
                  "(/dev/ptp0): Permission denied"},
        {"a device that is no clock", "/dev/ptp0", 37.0, "clock_adjtime", EOPNOTSUPP,
         {"realpath /dev/ptp0", "open /dev/ptp0", "clock_gettime " + id, "clock_adjtime " + id + " mode 0",
          "close 101"},
         kFault + "567]:Chronavel : TimeServiceController: Error - failed to open PHC clock device "
                  "(/dev/ptp0): Operation not supported"},
        {"a clock that refuses the time", "/dev/ptp0", 37.0, "clock_settime", EPERM,
         {"realpath /dev/ptp0", "open /dev/ptp0", "clock_gettime " + id, "clock_adjtime " + id + " mode 0",
          "clock_gettime 0", "clock_settime " + id + " 1700000037.000000000", "close 101"},
         kFault + "586]:Chronavel : TimeServiceController: Error - failed to set PHC clock time: "
                  "Operation not permitted"},
        {"an offset that is no number", "CLOCK_REALTIME", std::nan(""), "", 0, {"clock_gettime 0"},
         kFault + "586]:Chronavel : TimeServiceController: Error - failed to set PHC clock time: "
                  "Invalid argument"},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        settings.phcDevice = row.device;
        settings.utc2tai = row.offset;
        TimeServiceRig rig(settings);
        rig.initialize();
        const int next = runUntilStep(rig, 30);
        if (*row.failing != '\0') {
            rig.host.fail(row.failing, row.error);
        }
        actions(rig.host);
        const Lines events = rig.send(rig.second(next));
        EXPECT_EQ(row.calls, actions(rig.host)) << row.name;
        ASSERT_EQ(1u, events.size()) << row.name;
        EXPECT_EQ(0u, events[0].find(row.event)) << row.name << ": " << events[0];
        const bool fault = events[0].rfind("3:", 0) == 0;
        const std::string text = events[0].substr(fault ? events[0].find("]:") + 2 : 2);
        EXPECT_EQ(fault ? text + "\n" : "", rig.out)
            << "failures are always echoed, successes only when not quiet: " << row.name;
        EXPECT_EQ(31, rig.controller->getStepCounter()) << row.name;
    }
}

TEST(TimeServiceDaemons, StartsAreDecidedByExitStatusAndNeverRetried) {
    const std::string k = kFault;
    const struct {
        const char* name;
        std::map<std::string, std::vector<int>> answers;
        int quiet;
        double utc2tai;
        Lines commands;
        Lines events;
        std::string echoed;
    } rows[] = {
        {"both start", {{"pidof ntpd > /dev/null", {256}}, {"pidof ptp4l > /dev/null", {256}}}, 0, 37.5,
         {"pidof ntpd > /dev/null", "/etc/init.d/S49ntp start", "chrt -f -p 33 `pidof ntpd`",
          "pidof ptp4l > /dev/null", "ptp4l -f /opt/quorvane/config/linuxptp.cfg &", pmc("37.5")},
         {"2:Chronavel : TimeServiceController: The NTP daemon has been started",
          "2:Chronavel : TimeServiceController: The NTP daemon's priority has been changed",
          "2:Chronavel : TimeServiceController: The PTP daemon has been started"},
         "Chronavel : TimeServiceController: The NTP daemon has been started\n"
         "Chronavel : TimeServiceController: The NTP daemon's priority has been changed\n"
         "Chronavel : TimeServiceController: The PTP daemon has been started\n"},
        {"both already run", {}, 1, 37.0,
         {"pidof ntpd > /dev/null", "chrt -f -p 33 `pidof ntpd`", "pidof ptp4l > /dev/null", kPmc},
         {"2:Chronavel : TimeServiceController: NTP daemon already running.",
          "2:Chronavel : TimeServiceController: The NTP daemon's priority has been changed",
          "2:Chronavel : TimeServiceController: PTP daemon already running."},
         ""},
        {"neither can start, chrt fails without a trace",
         {{"pidof ntpd > /dev/null", {256}},
          {"/etc/init.d/S49ntp start", {512}},
          {"chrt -f -p 33 `pidof ntpd`", {256}},
          {"pidof ptp4l > /dev/null", {-1}},
          {"ptp4l -f /opt/quorvane/config/linuxptp.cfg &", {32512}},
          {kPmc, {256}}},
         1, 37.0,
         {"pidof ntpd > /dev/null", "/etc/init.d/S49ntp start", "chrt -f -p 33 `pidof ntpd`",
          "pidof ptp4l > /dev/null", "ptp4l -f /opt/quorvane/config/linuxptp.cfg &", kPmc},
         {k + "519]:Chronavel : TimeServiceController: Warning - Unable to start NTP daemon: 512",
          k + "651]:Chronavel : TimeServiceController: Warning - Unable to start PTP daemon: 32512"},
         "Chronavel : TimeServiceController: Warning - Unable to start NTP daemon: 512\n"
         "Chronavel : TimeServiceController: Warning - Unable to start PTP daemon: 32512\n"},
    };
    for (const auto& row : rows) {
        TimeServiceRig::Settings settings;
        settings.required = 0;
        settings.quiet = row.quiet;
        settings.utc2tai = row.utc2tai;
        TimeServiceRig rig(settings);
        rig.initialize();
        for (const auto& [command, statuses] : row.answers) {
            rig.host.answer(command, statuses);
        }
        Lines events;
        std::string echoed;
        for (int i = 0; i < 60; ++i) {  // well past the last step
            for (const std::string& event : rig.send(rig.second(i))) {
                if (event.find("PHC") == std::string::npos && event.find("PPS Slave") == std::string::npos &&
                    event.find("1PPS") == std::string::npos && event.find("Bulk") == std::string::npos) {
                    events.push_back(event);
                }
            }
            std::istringstream lines(rig.out);
            for (std::string line; std::getline(lines, line);) {
                if (line.find("daemon") != std::string::npos) {
                    echoed += line + "\n";
                }
            }
        }
        EXPECT_EQ(row.commands, rig.host.commands()) << row.name;
        EXPECT_EQ(row.events, events) << row.name;
        EXPECT_EQ(row.echoed, echoed) << row.name;
    }
}

TEST(TimeServiceDaemons, StopServiceGoesOnUnlessPidofSaysNotRunning) {
    const std::string pidof = "pidof ptp4l > /dev/null";
    const std::string term = "kill $(pidof ptp4l)";
    const std::string kill = "kill -9 $(pidof ptp4l)";
    const std::string notRunning =
        kFault + "784]:Chronavel: TimeServiceController.cpp (783), stopService :ptp4l not running.";
    const std::string termFailed =
        kFault + "760]:Chronavel : TimeServiceController: Warning - Unable to stop program with SIGTERM: ptp4l";
    const std::string killFailed =
        kFault + "773]:Chronavel : TimeServiceController: Warning - Unable to stop program with SIGKILL: ptp4l";
    const struct {
        const char* name;
        std::vector<int> statuses;  // pidof, kill, kill -9
        bool result;
        Lines events;
    } rows[] = {
        {"not running", {256}, true, {notRunning}},
        {"stopped politely", {0, 0}, true, {}},
        {"stopped by force", {0, 256, 0}, false, {termFailed}},
        {"would not stop", {0, 256, 256}, false, {termFailed, killFailed}},
        {"the shell could not run pidof", {-1, 0}, true, {}},
        {"pidof not found", {127 << 8, 256, 256}, false, {termFailed, killFailed}},
        {"pidof failed otherwise", {2 << 8, 0}, true, {}},
        {"pidof killed by a signal", {9, 0}, true, {}},
    };
    for (const auto& row : rows) {
        TimeServiceRig rig;
        const std::string* commands[] = {&pidof, &term, &kill};
        Lines expectedCommands;
        std::string echoes;
        for (size_t i = 0; i < row.statuses.size(); ++i) {
            rig.host.answer(*commands[i], {row.statuses[i]});
            expectedCommands.push_back(*commands[i]);
            echoes += "***" + *commands[i] + "\n";
        }
        bool result = !row.result;
        rig.capture([&] { result = rig.controller->stopService("ptp4l"); });
        EXPECT_EQ(row.result, result) << row.name;
        EXPECT_EQ(expectedCommands, rig.host.commands()) << row.name;
        EXPECT_EQ(row.events, rig.drainEvents()) << row.name;
        EXPECT_EQ(echoes, rig.out) << row.name;
    }
}

TEST(TimeServiceDaemons, StopSystemServicesStopsBothAndAnswersForPtp4l) {
    for (const int ntpStop : {0, 256}) {
        TimeServiceRig::Settings settings;
        settings.quiet = 0;
        TimeServiceRig rig(settings);
        rig.initialize();
        rig.host.answer("pidof ptp4l > /dev/null", {256});
        rig.host.answer("/etc/init.d/S49ntp stop", {ntpStop});
        bool result = false;
        rig.capture([&] { result = rig.controller->stopSystemServices(); });
        EXPECT_TRUE(result);
        EXPECT_FALSE(rig.controller->isInitialized());
        EXPECT_THAT(rig.host.commands(), ElementsAre("pidof ptp4l > /dev/null", "/etc/init.d/S49ntp stop"));
        Lines events = rig.drainEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(ntpStop != 0 ? 2u : 1u, events.size());
        if (ntpStop != 0) {
            EXPECT_EQ(kFault + "724]:Chronavel : TimeServiceController: Warning - Unable to stop NTP daemon: 256",
                      events.back());
            EXPECT_THAT(rig.out, HasSubstr("Warning - Unable to stop NTP daemon: 256\n"));
        }
    }
}

// Once the bring-up is over, a second costs a fetch and a shared-memory
// write: nothing on the heap.
TEST(TimeServiceFeed, SteadyStateAllocatesNothing) {
    TimeServiceRig::Settings settings;
    settings.required = 0;
    TimeServiceRig rig(settings);
    rig.initialize();
    noDaemonsRunning(rig.host);
    int next = runUntilStep(rig, 48);
    std::vector<aspn2_msgs::idl::UTCTime> messages;
    for (int i = 0; i < 100; ++i) {
        messages.push_back(rig.second(next + i));
    }
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
    const int count = shm.count;
    pps_seq_t sequence = 1000;
    rig.host.recordFetches = false;
    const uint64_t before = testsupport::allocationCount();
    for (const auto& m : messages) {
        rig.host.setEdge({static_cast<time_t>(m.gps_tow_sec()), 1500, ++sequence});
        rig.controller->newFACEUtcTime(m);
    }
    const uint64_t after = testsupport::allocationCount();
    EXPECT_EQ(count + 200, shm.count);
    EXPECT_EQ(before, after);
}

TEST(TimeServiceFeed, NanosecondsThatRoundUpCarryIntoTheSecond) {
    TimeServiceRig::Settings settings;
    settings.required = 0;
    TimeServiceRig rig(settings);
    rig.initialize();
    const int next = runUntilStep(rig, 22);
    rig.send(rig.second(next, 999999999.6));
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
    EXPECT_EQ(TimeServiceRig::kUtcBase + next + 1, shm.clockTimeStampSec);
    EXPECT_EQ(0u, shm.clockTimeStampNSec);
    EXPECT_EQ(0, shm.clockTimeStampUSec);
}
