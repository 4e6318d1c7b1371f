// The time service controller on a scripted board: start-up, PPS qualification,
// the discipline schedule, and every host call and daemon command failing in turn.
#include "Chronavel/TimeServiceController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "Reports.h"
#include "TimeServiceRig.h"
#include "support/AllocationCounter.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;
using boardkit::gpsMessage;
using testsupport::TimeServiceRig;
using R = TimeServiceController;
using namespace reports;
typedef std::vector<std::string> Lines;

// Operators find steps by these names and numbers: they change only on purpose.
// (The faults' source positions are pinned by the table of events.)
TEST(TimeServiceReports, StepsArePinned) {
    std::string schedule;
    for (const auto& entry : R::kSchedule) {
        schedule += std::to_string(entry.first) + (entry.last == entry.first ? " " : "+ ") + entry.name + ", ";
    }
    EXPECT_EQ("0 move-clock, 2 enable-1pps, 18 start-ntpd, 20 raise-ntpd-priority, 22+ feed-ntp, 30 set-phc, "
              "31 enable-pps-slave, 46 start-ptp4l, 47 announce-grandmaster, ",
              schedule);
}

TEST(TimeServiceInit, LinksOpensThePpsAndIgnoresASecondInitialization) {
    TimeServiceRig rig(TimeServiceRig::with(2, 1, 1));
    EXPECT_THAT(rig.initialize(), ElementsAre(linked(1)));
    EXPECT_EQ(textOf(linked(1)) + "\n", rig.out);
    EXPECT_THAT(rig.host.takeCalls(), ElementsAre("open /dev/pps0", "time_pps_create 100", "time_pps_getcap 100",
                                                  "time_pps_getparams 100", "time_pps_setparams 100"));
    EXPECT_EQ(100, rig.controller->getPpsFd());

    // Both entries refuse; the first settings stay (the destructor clears word 5).
    rig.capture([&] {
        rig.controller->initialize(9, "CLOCK_REALTIME", 1.0);
        rig.controller->initializeWithCurrentSettings();
    });
    EXPECT_THAT(rig.drainEvents(),
                ElementsAre(status("Chronavel : TimeServiceControllerinitialize: Already initialized. Ignored! "),
                            status("Chronavel : TimeServiceControllerinitializeWithCurrentSettings: Already "
                                   "initialized. Ignored! ")));
    EXPECT_EQ(2, std::count(rig.out.begin(), rig.out.end(), '\n'));
    EXPECT_THAT(rig.host.takeCalls(), IsEmpty());
    rig.fpgaWrites();
    rig.controller.reset();
    EXPECT_THAT(rig.fpgaWrites(), ElementsAre("Peripheral_Interface@0x14/32=0x0"));
    EXPECT_THAT(rig.host.takeCalls(), ElementsAre("close 100"));

    TimeServiceRig never;
    never.controller.reset();
    EXPECT_THAT(never.fpgaWrites(), ElementsAre("Peripheral_Interface@0x0/32=0x0"));
}

TEST(TimeServiceInit, NoUsableSegmentLeavesTheClockUnlinkedAndEveryFeedSaysSo) {
    TimeServiceRig rig(TimeServiceRig::with(0, 0));
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        rig.board.ntp.failNext(boardkit::NtpSegmentsGuard::key(unit), unit % 2 == 0 ? "shmget" : "shmat", EINVAL);
    }
    EXPECT_THAT(rig.initialize(), ElementsAre(linked(0)));
    const int first = boardkit::NtpSegmentsGuard::firstUnit();
    EXPECT_THAT(rig.out, HasSubstr("NTP: shmget(" + std::to_string(NTPSHM_KEY_BASE + first) + ", " +
                                   std::to_string(sizeof(shmTime)) + (first < 2 ? ", 600" : ", 666") +
                                   ") fail: Invalid argument\n"));
    EXPECT_THAT(rig.out, HasSubstr("NTP: shmat failed: Invalid argument\n"));
    EXPECT_THAT(rig.out, HasSubstr("NTP: ntpshm_alloc() failed\n"));
    const int next = rig.runUntilStep(22);
    EXPECT_THAT(rig.send(rig.second(next)), ElementsAre(kNoShmClock));
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
    };
    for (const auto& row : rows) {
        TimeServiceRig rig(TimeServiceRig::with(row.required));
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

// Debug on, N = 1. Stopped, messages are only echoed; started again, the service relinks
// without stacking attachments and keeps its count.
TEST(TimeServiceQualification, DebugReportsEachTurnAndARestartKeepsTheCount) {
    TimeServiceRig rig(TimeServiceRig::with(1, 1, 1));
    rig.initialize();
    EXPECT_THAT(rig.send(rig.second(0)), ElementsAre(status("Chronavel : PPS offset from UTC 50 ns"),
                                                     status("Chronavel : PPS within threshold, first count")));
    EXPECT_EQ("Chronavel : TimeServiceController: Output Clock UTC Time Invalid: 252818sec 50 nsec, "
              "errEst 1e-16\n",
              rig.out);
    EXPECT_THAT(rig.send(rig.second(1, 999997500)),
                ElementsAre(status("Chronavel : PPS offset from UTC 2500 ns"),
                            status("Chronavel : PPS broke threshold after 1seconds")));
    rig.send(rig.second(2));
    EXPECT_THAT(rig.send(rig.second(3)),
                ElementsAre(status("Chronavel : PPS offset from UTC 50 ns"),
                            status("Chronavel : PPS within threshold, for 1 seconds"), kClockMoved));
    EXPECT_EQ("", rig.out) << "quiet: the clock move is not echoed";

    rig.capture([&] { rig.controller->stopSystemServices(); });
    rig.drainEvents();
    EXPECT_THAT(rig.send(rig.second(4)), IsEmpty());
    EXPECT_EQ("Chronavel : TimeServiceController not initialized. Ignoring: 252822sec 50 nsec, errEst 1e-16\n",
              rig.out);

    rig.host.takeCalls();
    rig.initialize();
    const int unit = boardkit::NtpSegmentsGuard::firstUnit();
    EXPECT_EQ(1, rig.board.ntpAttachments(unit));
    EXPECT_EQ(rig.controller->getNtpSession().shm_clock, rig.board.ntpRecord(unit));
    EXPECT_THAT(rig.actions(), testing::IsSupersetOf({"close 100", "open /dev/pps0"}));
    EXPECT_FALSE(rig.controller->isPpsSettled());
    EXPECT_EQ(0, rig.controller->getStepCounter());
    EXPECT_EQ(2u, rig.controller->getPpsWithinThresholdCount());
    rig.send(rig.second(5));
    EXPECT_TRUE(rig.controller->isPpsSettled());
    EXPECT_THAT(rig.actions(), ElementsAre(HasSubstr("settimeofday")));
}

// The whole bring-up, not quiet: N + 1 messages to settle, then 48 steps, each with its host
// calls, FPGA writes, reports, echoes and NTP samples.
TEST(TimeServiceSchedule, EveryStepRunsOnceAtItsMessage) {
    TimeServiceRig rig(TimeServiceRig::with(2, 0));
    rig.initialize();
    rig.host.takeCalls();
    rig.fpgaWrites();
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;

    std::map<int, Lines> seen;
    for (int i = 0; i < 3 + 48; ++i) {
        const int count = shm.count;
        const Lines events = rig.send(rig.second(i));
        Lines& happened = seen[i + 1];
        happened = rig.actions();
        for (const std::string& write : rig.fpgaWrites()) {
            happened.push_back("fpga " + write);
        }
        for (const std::string& event : events) {
            // Echoed exactly when not quiet.
            const bool echoed = rig.out.find(textOf(event) + "\n") != std::string::npos;
            const size_t secs = event.find(" Secs ");  // the PHC's date is the host's
            happened.push_back((echoed ? "echoed " : "") + (secs == std::string::npos ? event : event.substr(0, secs + 6)));
        }
        if (shm.count == count + 2) {
            happened.push_back("ntp " + std::to_string(shm.clockTimeStampSec - TimeServiceRig::kUtcBase) + " @ " +
                               std::to_string(shm.receiveTimeStampSec - TimeServiceRig::kUtcBase) + "." +
                               std::to_string(shm.receiveTimeStampNSec));
        }
        if (happened.empty()) {
            seen.erase(i + 1);
        }
    }

    // What each action of the schedule does, at the message that runs its step (three settle the PPS first).
    const std::string phcClock = std::to_string(platform::phcClockId(101));
    const std::map<std::string, Lines> actions = {
        {"move-clock", {"settimeofday 1700000002.250000", "echoed " + kClockMoved}},
        {"enable-1pps", {"fpga Peripheral_Interface@0x14/32=0x1", "echoed " + kInterruptEnabled}},
        {"start-ntpd", {"system pidof ntpd > /dev/null", "system /etc/init.d/S49ntp start", "echoed " + kNtpStarted}},
        {"raise-ntpd-priority", {"system chrt -f -p 33 `pidof ntpd`", "echoed " + kNtpPriorityRaised}},
        {"feed-ntp", {}},
        {"set-phc",
         {"realpath /dev/ptp0", "open /dev/ptp0", "clock_gettime " + phcClock, "clock_adjtime " + phcClock + " mode 0",
          "clock_gettime 0", "clock_settime " + phcClock + " 1700000037.000000000", "close 101",
          "echoed " + phcSet(1700000037)}},
        {"enable-pps-slave",
         {"fpga PpsSlave_Interface@0x20/32=0x0", "fpga PpsSlave_Interface@0x0/32=0x1",
          "fpga PtpClock_Interface@0x8/32=0x3", "echoed " + kPpsSlaveEnabled}},
        {"start-ptp4l",
         {"system pidof ptp4l > /dev/null", "system ptp4l -f /opt/quorvane/config/linuxptp.cfg &",
          "echoed " + kPtpStarted}},
        {"announce-grandmaster", {"system " + pmc("37")}},
    };
    std::map<int, Lines> expected;
    for (const auto& entry : TimeServiceController::kSchedule) {
        ASSERT_EQ(1u, actions.count(entry.name)) << entry.name;
        for (int message = entry.first + 3; message <= std::min(entry.last, 48) + 3; ++message) {
            Lines& lines = expected[message];
            lines.insert(lines.end(), actions.at(entry.name).begin(), actions.at(entry.name).end());
        }
    }
    // NTP gets every second with its edge, in the order of the output.
    for (int message = 25; message <= 51; ++message) {
        expected[message].push_back("ntp " + std::to_string(message - 1) + " @ " + std::to_string(message - 1) +
                                    ".1500");
    }
    for (auto it = expected.begin(); it != expected.end();) {
        it = it->second.empty() ? expected.erase(it) : std::next(it);
    }
    EXPECT_EQ(expected, seen);
}

// One message on a settled service (N = 0): the clock is set from it, or the message cannot
// describe a right time and is refused at no step's cost.
TEST(TimeServiceSchedule, ClockMoveFromOneMessageOrItsRefusal) {
    using Msg = aspn2_msgs::idl::UTCTime;
    const int64_t tps = FpgaFace::TICKS_PER_SECOND;
    const uint64_t ticks = 1000 * tps + tps / 4;
    const int64_t utc = 1700000000;
    const auto spoilt = [&](void (*spoil)(Msg&)) {
        Msg m = gpsMessage(utc, 50);
        spoil(m);
        return m;
    };
    const struct {
        const char* name;
        Msg message;
        uint64_t ticks;
        const char* settimeofday = nullptr;  // null: refused with the report
        std::string report = kInvalidTime;
    } rows[] = {
        {"18 leap seconds at 00:00:18 GPS", gpsMessage(utc, 50), ticks, "1700000000.250000"},
        {"00:00:04 GPS is 23:59:46 UTC of the day before", gpsMessage(1699919986, 0), ticks, "1699919986.249999"},
        {"nanoseconds summing to a whole second carry", gpsMessage(utc, 8), 1001 * tps, "1700000001.000000"},
        {"time of validity later in its second borrows", gpsMessage(utc, 50, 1e-16, 1000, 600000000),
         1001 * tps + tps / 4, "1700000000.650000"},
        {"two seconds since the time of validity", gpsMessage(utc, 0, 1e-16, 998), ticks, "1700000002.249999"},
        {"exactly five seconds is still the same time base", gpsMessage(utc, 50, 1e-16, 995, 249999992), ticks,
         "1700000005.000000"},
        {"nanoseconds that round to the next second", gpsMessage(utc, 999999999.6), ticks, "1700000001.249999"},
        // A 32-bit time_t cannot hold it: refused, not wrapped to 1901.
        {"after January 2038", gpsMessage(2208988800, 50), ticks, sizeof(time_t) == 8 ? "2208988800.250000" : nullptr},
        {"no leap seconds", gpsMessage(utc, 50, 1e-16, 1000, 0, 0), ticks, "1700000000.250000"},
        {"255 leap seconds", gpsMessage(utc, 50, 1e-16, 1000, 0, 255), ticks, "1700000000.250000"},
        {"GPS and UTC fields 256 s apart", gpsMessage(utc, 50, 1e-16, 1000, 0, 256), ticks},
        {"UTC fields ahead of GPS", gpsMessage(utc, 50, 1e-16, 1000, 0, -1), ticks},
        {"NaN tow nanoseconds", spoilt([](Msg& m) { m.gps_tow_nsec(std::nan("")); }), ticks},
        {"a second of tow nanoseconds", spoilt([](Msg& m) { m.gps_tow_nsec(1e9); }), ticks},
        {"negative week", spoilt([](Msg& m) { m.gps_week(-1); }), ticks},
        {"negative time of week", spoilt([](Msg& m) { m.gps_tow_sec(-1); }), ticks},
        {"time of week past the week", spoilt([](Msg& m) { m.gps_tow_sec(604800); }), ticks},
        {"negative UTC seconds of day", spoilt([](Msg& m) { m.utc_tod_sec(-1); }), ticks},
        {"UTC seconds past the day", spoilt([](Msg& m) { m.utc_tod_sec(86401); }), ticks},
        {"negative validity nanoseconds", spoilt([](Msg& m) { m.header().timestamp_valid().nsec(-1); }), ticks},
        {"validity nanoseconds of a second", spoilt([](Msg& m) { m.header().timestamp_valid().nsec(1000000000); }),
         ticks},
        {"validity in the FPGA's future", spoilt([](Msg& m) { m.header().timestamp_valid().sec(1001); }), ticks,
         nullptr, kStaleValidity},
        {"validity six seconds ago", spoilt([](Msg& m) { m.header().timestamp_valid().sec(994); }), ticks, nullptr,
         kStaleValidity},
        {"validity at the start of time", spoilt([](Msg& m) { m.header().timestamp_valid().sec(INT64_MIN); }),
         ticks, nullptr, kStaleValidity},
    };
    for (const auto& row : rows) {
        TimeServiceRig rig(TimeServiceRig::with(0));
        rig.initialize();
        rig.host.takeCalls();
        rig.board.setFpgaTicks(row.ticks);
        const Lines events = rig.send(row.message);
        const Lines calls = rig.host.takeCalls();
        if (row.settimeofday == nullptr) {
            EXPECT_THAT(events, ElementsAre(StartsWith(row.report))) << row.name;
            EXPECT_THAT(calls, IsEmpty()) << row.name;
        } else {
            EXPECT_THAT(calls, ElementsAre(std::string("settimeofday ") + row.settimeofday)) << row.name;
        }
        EXPECT_EQ(row.settimeofday != nullptr ? 1 : 0, rig.controller->getStepCounter()) << row.name;
        EXPECT_TRUE(rig.controller->isPpsSettled()) << row.name;
    }
}

TEST(TimeServiceFeed, AnEdgeIsFedOnceAndOnlyWithTheMessageOfItsOwnSecond) {
    constexpr int64_t kHalf = 500000000;
    const struct {
        const char* name;
        std::vector<pps_seq_t> sequences;  // per message; 0: no edge ever
        std::vector<int64_t> edgeNs;       // the edge's time less the message's, ns
        std::vector<bool> fed;
    } rows[] = {
        {"no edge ever", {0, 0}, {0, 0}, {false, false}},
        {"the PPS stops", {7, 7, 7, 8}, {0, -2 * kHalf, -4 * kHalf, 0}, {true, false, false, true}},
        {"a late message leaves the next edge to its own", {7, 8, 8}, {0, 2 * kHalf, 0}, {true, false, true}},
        {"half a second off", {7, 8, 9}, {0, kHalf, -kHalf}, {true, false, false}},
        {"within half a second", {7, 8, 9}, {0, kHalf - 1, 1 - kHalf}, {true, true, true}},
        {"an edge at the start of time", {7, 8}, {0, INT64_MIN}, {true, false}},
    };
    for (const auto& row : rows) {
        TimeServiceRig rig(TimeServiceRig::with(0, 0));
        rig.initialize();
        const int next = rig.runUntilStep(22);
        const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
        for (size_t i = 0; i < row.sequences.size(); ++i) {
            const int s = next + static_cast<int>(i);
            const aspn2_msgs::idl::UTCTime m = rig.second(s, 0.0);
            const int64_t edge = (TimeServiceRig::kUtcBase + s) * 2 * kHalf + row.edgeNs[i];
            rig.host.setEdge({row.edgeNs[i] == INT64_MIN ? std::numeric_limits<time_t>::min()
                                                         : static_cast<time_t>(edge / (2 * kHalf)),
                              static_cast<long>(edge % (2 * kHalf)), row.sequences[i]});
            const int count = shm.count;
            const Lines events = rig.send(m);
            EXPECT_EQ(row.fed[i] ? count + 2 : count, shm.count) << row.name << " " << i;
            EXPECT_EQ(row.fed[i] ? Lines{} : Lines{kNoPpsTimestamp}, events) << row.name << " " << i;
            EXPECT_THAT(rig.out, HasSubstr(row.fed[i] ? "NTP: ntpshm_put(Quorvane -20) " : textOf(kNoPpsTimestamp)))
                << row.name;
            if (row.fed[i]) {
                EXPECT_EQ(TimeServiceRig::kUtcBase + s, shm.clockTimeStampSec) << row.name << " " << i;
            }
        }
    }
}

// Past the clock step too, a stamp of another time base steers nothing; nanoseconds that
// round up carry into the sample's second.
TEST(TimeServiceFeed, AStaleTimeOfValidityIsRefusedAndRoundedNanosecondsCarry) {
    TimeServiceRig rig(TimeServiceRig::with(0));
    rig.initialize();
    const int next = rig.runUntilStep(22);
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
    aspn2_msgs::idl::UTCTime stale = rig.second(next);
    stale.header().timestamp_valid().sec(1000 + next - 3600);
    EXPECT_THAT(rig.send(stale), ElementsAre(StartsWith(kStaleValidity)));
    EXPECT_EQ(0, shm.count);
    EXPECT_EQ(22, rig.controller->getStepCounter());
    rig.send(rig.second(next, 999999999.6));
    EXPECT_EQ(2, shm.count);
    EXPECT_EQ(23, rig.controller->getStepCounter());
    EXPECT_EQ(TimeServiceRig::kUtcBase + next + 1, shm.clockTimeStampSec);
    EXPECT_EQ(0u, shm.clockTimeStampNSec);
}

// Once the bring-up is over, a second costs a fetch and a shared-memory write: nothing on the heap.
TEST(TimeServiceFeed, SteadyStateAllocatesNothing) {
    TimeServiceRig rig(TimeServiceRig::with(0));
    rig.initialize();
    const int next = rig.runUntilStep(48);
    std::vector<aspn2_msgs::idl::UTCTime> messages;
    for (int i = 0; i < 100; ++i) {
        messages.push_back(rig.second(next + i));
    }
    const shmTime& shm = *rig.controller->getNtpSession().shm_clock;
    const int count = shm.count;
    pps_seq_t sequence = 1000;
    rig.host.recordFetches = false;
    const uint64_t before = testsupport::allocationCount();
    for (int i = 0; i < 100; ++i) {
        rig.host.setEdge({static_cast<time_t>(TimeServiceRig::kUtcBase + next + i), 1500, ++sequence});
        rig.board.setFpgaTicks(static_cast<uint64_t>(1000 + next + i) * FpgaFace::TICKS_PER_SECOND + 1000);
        rig.controller->newFACEUtcTime(messages[i]);
    }
    EXPECT_EQ(before, testsupport::allocationCount());
    EXPECT_EQ(count + 200, shm.count);
}

namespace {

// What one row scripts: the next calls named `call` fail with these errnos in turn (0: that
// one succeeds); for "system <command>", the command exits with these statuses (the last repeats).
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
    double utc2tai = 37.0;
    Lines calls = {};  // at that step, when given
};

void arm(boardkit::ScriptedHost& host, const std::vector<Fault>& faults) {
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

// The whole life of the service, quiet, with the row's faults where it says: one message a step
// whatever failed, each fault echoed, NTP fed by the last message (every second says the PPS is
// missing when it never opened), both daemons stopped, and every descriptor closed.
void run(const Row& row) {
    SCOPED_TRACE(row.name);
    TimeServiceRig::Settings settings = TimeServiceRig::with(0);
    settings.phcDevice = row.phc;
    settings.utc2tai = row.utc2tai;
    TimeServiceRig rig(settings);
    Lines events, calls;
    std::string err, out;
    if (row.armedAt == kStartUp) {
        arm(rig.host, row.faults);
        events = rig.initialize();
        err = rig.err;
        out = rig.out;
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
            calls = row.calls.empty() ? Lines{} : rig.actions();
        }
        const int count = shm.count;
        const Lines raised = rig.send(rig.second(i));
        if (k == row.armedAt) {
            events = raised;
            err = rig.err;
            out = rig.out;
            calls = row.calls.empty() ? Lines{} : rig.actions();
        }
        ASSERT_EQ(k + 1, rig.controller->getStepCounter()) << "message " << i;
        if (i == kSteps - 1) {
            EXPECT_EQ(ppsOpen ? count + 2 : count, shm.count) << "the last message fed NTP";
            EXPECT_EQ(ppsOpen ? Lines{} : Lines{kNoPpsTimestamp}, raised);
        }
    }
    EXPECT_THAT(rig.host.commands().back(), StartsWith("pmc -u -b 0 ")) << "the last step ran";

    rig.host.answer("pidof ptp4l > /dev/null", {0});  // the schedule started it
    if (row.armedAt == kStop) {
        arm(rig.host, row.faults);
    }
    bool stopped = false;
    rig.capture([&] { stopped = rig.controller->stopSystemServices(); });
    EXPECT_TRUE(stopped) << "ptp4l stopped politely";
    if (row.armedAt == kStop) {
        events = rig.drainEvents();
        err = rig.err;
        EXPECT_THAT(rig.out, Not(HasSubstr("Warning"))) << "quiet: a failed stop is not echoed";
    }
    EXPECT_EQ("/etc/init.d/S49ntp stop", rig.host.commands().back()) << "both daemons were stopped";

    rig.controller.reset();
    EXPECT_THAT(rig.host.openDescriptors(), IsEmpty());
    EXPECT_THAT(events, ElementsAreArray(row.events));
    EXPECT_EQ(row.err, err);
    if (!row.calls.empty()) {
        EXPECT_EQ(row.calls, calls);
    }
    std::string faults;  // every fault of a step is echoed, statuses are not when quiet
    for (const std::string& event : events) {
        if (event.rfind("3:", 0) == 0 && row.armedAt != kStop) {
            faults += textOf(event) + "\n";
        }
    }
    EXPECT_EQ(faults, out);
}

}  // namespace

// One row per call site and outcome: the errno or exit status it gives.
TEST(TimeServiceFaults, EachHostCallOrDaemonCommandFailingIsReportedAndTheScheduleGoesOn) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string signalled = "time_pps_fetch() got a signal!\n";
    const std::string fetchBadFd = "time_pps_fetch() error -1 (Bad file descriptor)\n";
    const std::string ptp4l = "system ptp4l -f /opt/quorvane/config/linuxptp.cfg &";
    const Row rows[] = {
        // Step 0: the system clock.
        {"settimeofday", {{"settimeofday", {EPERM}}}, 0, {clockMoveFailed(EPERM)}, ""},
        // Step 30: the PHC, opened, probed, set to TAI (truncated toward zero) from the system clock, closed.
        {"CLOCK_REALTIME in any letter case", {}, 30,
         {StartsWith(phcSet(1700000037) + "0 nSecs or Tue Nov 14 22:13:57 2023\n in TAI time")}, "",
         "Clock_RealTime", 37.0, {"clock_gettime 0", "clock_settime 0 1700000037.000000000"}},
        {"TAI 37.9 s ahead", {}, 30, {StartsWith(phcSet(1700000037) + "0 nSecs")}, "", "CLOCK_REALTIME", 37.9},
        {"TAI 0.5 s behind", {}, 30, {StartsWith(phcSet(1699999999) + "0 nSecs")}, "", "CLOCK_REALTIME", -0.5},
        {"no TAI offset", {}, 30, {phcSetFailed("Invalid argument")}, "", "CLOCK_REALTIME", std::nan("")},
        {"realpath", {{"realpath", {ENOENT}}}, 30, {phcOpenFailed("/dev/ptp0", "No such file or directory")}, ""},
        {"open", {{"open", {EACCES}}}, 30, {phcOpenFailed("/dev/ptp0", "Permission denied")}, ""},
        {"PHC clock_gettime", {{"clock_gettime", {ENODEV}}}, 30, {phcOpenFailed("/dev/ptp0", "No such device")}, ""},
        {"a failing close does not hide why the probe failed", {{"clock_adjtime", {EOPNOTSUPP}}, {"close", {EIO}}},
         30, {phcOpenFailed("/dev/ptp0", "Operation not supported")}, ""},
        {"system clock_gettime", {{"clock_gettime", {0, EFAULT}}}, 30, {phcSetFailed("Bad address")}, ""},
        {"PHC clock_settime", {{"clock_settime", {EPERM}}}, 30, {phcSetFailed("Operation not permitted")}, ""},
        {"a failing close after the set", {{"close", {EBADF}}}, 30, {StartsWith(phcSet(1700000037))}, ""},
        // Start-up: /dev/pps0 and its RFC 2783 set-up. Without it the schedule runs and every feed
        // says the PPS is missing.
        {"pps open", {{"open", {ENOENT}}}, kStartUp, {linked(1), kNoPpsDevice},
         "unable to open device \"/dev/pps0\" (No such file or directory)\n"},
        {"time_pps_create", {{"time_pps_create", {EINVAL}}}, kStartUp, {linked(1), kNoPpsDevice},
         "cannot create a PPS source from device \"/dev/pps0\" (Operation not supported)\n"},
        {"time_pps_getcap", {{"time_pps_getcap", {EINVAL}}}, kStartUp, {linked(1), kNoPpsDevice},
         "cannot get capabilities (Invalid argument)\n"},
        {"time_pps_getparams", {{"time_pps_getparams", {EBADF}}}, kStartUp, {linked(1), kNoPpsDevice},
         "cannot get parameters (Bad file descriptor)\n"},
        {"time_pps_setparams and a failing close", {{"time_pps_setparams", {EPERM}}, {"close", {EBADF}}}, kStartUp,
         {linked(1), kNoPpsDevice}, "cannot set parameters (Operation not permitted)\n"},
        // Every second from step 22: the PPS edge for the NTP sample; a signal is retried.
        {"fetch EINTR thrice", {{"time_pps_fetch", {EINTR, EINTR, EINTR}}}, 25, {}, signalled + signalled + signalled},
        {"fetch EINTR then EBADF", {{"time_pps_fetch", {EINTR, EBADF}}}, 25, {kNoPpsTimestamp},
         signalled + fetchBadFd},
        {"a failed fetch does not cost the step its action", {{"time_pps_fetch", {EBADF}}}, 30,
         {kNoPpsTimestamp, StartsWith(phcSet(1700000037))}, fetchBadFd},
        // The daemons. Only "exit 0" from pidof says one runs.
        {"ntpd runs already", {{"system pidof ntpd > /dev/null", {0}}}, 18, {kNtpAlreadyRunning}, ""},
        {"pidof ntpd: no shell", {{"system pidof ntpd > /dev/null", {-1}}}, 18, {kNtpStarted}, ""},
        {"S49ntp start fails", {{"system /etc/init.d/S49ntp start", {127 << 8}}}, 18, {ntpStartFailed(32512)}, ""},
        {"chrt fails without a trace", {{"system chrt -f -p 33 `pidof ntpd`", {256}}}, 20, {}, ""},
        {"ptp4l runs already", {{"system pidof ptp4l > /dev/null", {0}}}, 46, {kPtpAlreadyRunning}, ""},
        {"ptp4l start fails", {{ptp4l, {-1}}}, 46, {ptpStartFailed(-1)}, ""},
        {"pmc fails without a trace", {{"system " + pmc("37"), {256}}}, 47, {}, ""},
        {"S49ntp stop fails", {{"system /etc/init.d/S49ntp stop", {15}}}, kStop, {ntpStopFailed(15)}, ""},
    };
    for (const Row& row : rows) {
        run(row);
    }
}

// pidof decides: only "exit 1" means nothing of that name runs; then a polite kill, then a forced one.
TEST(TimeServiceDaemons, StopServiceGoesOnUnlessPidofSaysNotRunning) {
    const std::string pidof = "pidof ptp4l > /dev/null";
    const std::string term = "kill $(pidof ptp4l)";
    const std::string kill = "kill -9 $(pidof ptp4l)";
    const std::string termFailed = stopFailed(R::kSigtermFailed, "SIGTERM", "ptp4l");
    const std::string killFailed = stopFailed(R::kSigkillFailed, "SIGKILL", "ptp4l");
    const struct {
        const char* name;
        std::vector<int> statuses;  // pidof, kill, kill -9
        bool result;
        Lines events;
    } rows[] = {
        {"not running", {256}, true, {notRunning("ptp4l")}},
        {"stopped politely", {0, 0}, true, {}},
        {"stopped by force", {0, 256, 0}, false, {termFailed}},
        {"would not stop", {0, 256, 256}, false, {termFailed, killFailed}},
        {"pidof not found", {127 << 8, 0}, true, {}},
    };
    for (const auto& row : rows) {
        TimeServiceRig rig(TimeServiceRig::with(2, 0));
        const std::string* commands[] = {&pidof, &term, &kill};
        Lines expectedCommands;
        std::string out;
        for (size_t i = 0; i < row.statuses.size(); ++i) {
            rig.host.answer(*commands[i], {row.statuses[i]});
            expectedCommands.push_back(*commands[i]);
            out += "***" + *commands[i] + "\n";
            if (i > 0 && i <= row.events.size()) {
                out += textOf(row.events[i - 1]) + "\n";
            }
        }
        if (row.statuses.size() == 1) {
            out += textOf(row.events[0]) + "\n";
        }
        bool result = !row.result;
        rig.capture([&] { result = rig.controller->stopService("ptp4l"); });
        EXPECT_EQ(row.result, result) << row.name;
        EXPECT_EQ(expectedCommands, rig.host.commands()) << row.name;
        EXPECT_EQ(row.events, rig.drainEvents()) << row.name;
        EXPECT_EQ(out, rig.out) << row.name;
    }
}
