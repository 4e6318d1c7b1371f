#include "Chronavel/TimeServiceController.h"

#include <strings.h>
#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <sstream>

#include "ASPN/HealthReporter.h"
#include "ASPN/TimeCodeHelper.h"
#include "Chronavel/PpsSource.h"
#include "platform/FPGA.h"

namespace {

using aspn2_msgs::idl::UTCTime;

// Reports name this file without the build machine's directories.
constexpr const char* kSourceFile = "Chronavel/TimeServiceController.cpp";
constexpr const char* kSourceBaseName = "TimeServiceController.cpp";
constexpr const char* kPpsDevice = "/dev/pps0";

constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerWeek = 604800;
constexpr int64_t kGpsEpoch = 315964800;  // 1980-01-06 00:00:00 UTC since 1970
// A time error below 100 ns, as the squared standard deviation in s².
constexpr double kMaxSettlingVariance = 1e-7 * 1e-7;

// Texts in the standard stream formats: integers in decimal, doubles with
// six significant digits.
template <class... Parts>
std::string text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

bool validNanoseconds(double ns) {
    return std::isfinite(ns) && ns >= 0.0 && ns < 1e9;
}

// Only times that can be right may steer a clock: a field outside its range
// would step it by days or to garbage.
bool describesValidTime(const UTCTime& m) {
    const int32_t tovNsec = m.header().timestamp_valid().nsec();
    return validNanoseconds(m.gps_tow_nsec()) && validNanoseconds(m.utc_tod_nsec()) &&
           m.gps_week() >= 0 && m.gps_tow_sec() >= 0 && m.gps_tow_sec() < kSecondsPerWeek &&
           m.utc_tod_sec() >= 0 && m.utc_tod_sec() <= kSecondsPerDay && tovNsec >= 0 &&
           tovNsec < kNsPerSec;
}

// The UTC instant of a valid message: GPS time less the leap seconds, which
// are the difference between the GPS and the UTC time of day; false when
// that difference cannot be a leap second count. Computed in
// 64 bits, so a 64-bit time_t stays right after 2038; false where time_t
// cannot hold it (a 32-bit time_t from 2038 on), with room for the seconds
// the clock step adds, rather than a wrapped time for the clocks and ntpd.
bool utcTimeOf(const UTCTime& m, timespec& utc) {
    int64_t leap = m.gps_tow_sec() % kSecondsPerDay - m.utc_tod_sec();
    if (leap < 0) {
        leap += kSecondsPerDay;  // the GPS day rolled over first
    }
    leap += std::lround((m.gps_tow_nsec() - m.utc_tod_nsec()) / 1e9);
    if (leap < 0 || leap > TimeServiceController::kMaxLeapSeconds) {
        return false;  // the GPS and the UTC fields name different instants
    }
    int64_t sec = int64_t{m.gps_week()} * kSecondsPerWeek + m.gps_tow_sec() + kGpsEpoch - leap;
    long nsec = std::lround(m.gps_tow_nsec());
    if (nsec >= kNsPerSec) {  // rounded up to the next whole second
        nsec -= kNsPerSec;
        sec += 1;
    }
    const int64_t room = TimeServiceController::kMaxElapsedSinceValidityNs / kNsPerSec + 1;
    if (sec > static_cast<int64_t>(std::numeric_limits<time_t>::max()) - room) {
        return false;
    }
    utc = timespec{};
    utc.tv_sec = static_cast<time_t>(sec);
    utc.tv_nsec = nsec;
    return true;
}

// Only "exited with status 1" from pidof means that nothing of that name
// runs; a shell that could not run it says nothing about the program.
bool notRunning(int status) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

}  // namespace

TimeServiceController::TimeServiceController(const std::string& serverName,
                                             platform::TimeHost& timeHost, FpgaFace& fpgaFace,
                                             platform::NtpMemory& ntpMemory)
    : name(serverName), host(timeHost), fpga(fpgaFace) {
    ntpContext.memory = &ntpMemory;
}

TimeServiceController::~TimeServiceController() {
    if (ppsFd >= 0) {
        host.closeDevice(ppsFd);
    }
    // So that the FPGA stops raising the NTP interrupt.
    fpga.fpga_set_periph_control(static_cast<int32_t>(ntpInterruptEnableRegister),
                                                 0);
}

int32_t TimeServiceController::getStepCounter() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stepCounter;
}

void TimeServiceController::report(int line, EventTypes::eEventType type, const std::string& message,
                                   bool echoed) const {
    HealthReporter::Instance().SendEvent(kSourceFile, line, type, message);
    if (echoed) {
        echo(message);
    }
}

void TimeServiceController::echo(const std::string& message) const {
    std::cout << message << std::endl;
}

// ---- start-up ----

void TimeServiceController::initialize(uint32_t ntpInterruptEnableRegisterIndex,
                                       FACE::String phcDevice, double utc2taiOffset) {
    if (initialized.load()) {
        report(kInitializeIgnored, EventTypes::eStatus,
               name + " : TimeServiceController" + "initialize" + ": Already initialized. Ignored! ",
               debug.load() != 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        ntpInterruptEnableRegister = ntpInterruptEnableRegisterIndex;
        ntpInterruptEnableRegisterStored = true;
    }
    phcDeviceName = phcDevice;
    utc2taiTimeOffset = utc2taiOffset;
    initializeWithCurrentSettings();
}

void TimeServiceController::initializeWithCurrentSettings() {
    if (initialized.load()) {
        report(kInitializeWithCurrentSettingsIgnored, EventTypes::eStatus,
               name + " : TimeServiceController" + "initializeWithCurrentSettings" +
                   ": Already initialized. Ignored! ",
               debug.load() != 0);
        return;
    }
    // What an earlier initialisation held is released, not stacked.
    ntpshm_link_deactivate(ntpSession);
    if (ppsFd >= 0) {
        host.closeDevice(ppsFd);
        ppsFd = -1;
    }

    ntpshm_context_init(ntpContext, quiet.load());
    ntpSession.context = &ntpContext;
    ntpshm_session_init(ntpSession);
    ntpshm_link_activate(ntpSession);
    report(kLinkActivated, EventTypes::eStatus,
           name + " : TimeServiceController: Zelmar NTP ntpshm_link_activate: " +
               (ntpSession.shm_clock != nullptr ? "1" : "0"),
           debug.load() != 0);

    ppsFd = open_pps_source(host, kPpsDevice);
    if (ppsFd < 0) {
        report(kNoPpsDevice, EventTypes::eFault, name + ": Critical error: Unable to open PPS device",
               true);
    }

    ppsSettled = false;
    lastPpsSequence = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stepCounter = 0;
    }
    initialized.store(true);
}

// ---- discipline ----

void TimeServiceController::newFACEUtcTime(const UTCTime& message) {
    if (!initialized.load()) {
        if (debug.load()) {
            echo(text(name, " : TimeServiceController not initialized. Ignoring: ",
                      message.gps_tow_sec(), "sec ", message.gps_tow_nsec(), " nsec, errEst ",
                      message.covariance()[0][0]));
        }
        return;
    }
    if (!ppsSettled && !qualify(message)) {
        if (debug.load()) {
            echo(text(name, " : TimeServiceController: Output Clock UTC Time Invalid: ",
                      message.gps_tow_sec(), "sec ", message.gps_tow_nsec(), " nsec, errEst ",
                      message.covariance()[0][0]));
        }
        return;
    }
    runStep(message);
}

bool TimeServiceController::qualify(const UTCTime& message) {
    const double variance = message.covariance()[0][0];
    if (!(variance >= 0.0 && variance < kMaxSettlingVariance)) {
        return false;  // an unknown time error neither counts nor resets
    }
    const double nsec = message.utc_tod_nsec();
    const double offset = nsec > 5e8 ? 1e9 - nsec : nsec;  // to the nearest whole second
    const bool isDebug = debug.load() != 0;
    if (isDebug) {
        report(kPpsOffset, EventTypes::eStatus, text(name, " : PPS offset from UTC ", offset, " ns"),
               false);
    }
    if (validNanoseconds(nsec) && offset < ppsSettledErrorThreshold) {
        if (isDebug && ppsWithinThresholdCount == 0) {
            report(kPpsFirstCount, EventTypes::eStatus, name + " : PPS within threshold, first count",
                   false);
        }
        ++ppsWithinThresholdCount;
        if (ppsWithinThresholdCount > ppsCountRequiredWithinThreshold) {
            ppsSettled = true;
            if (isDebug) {
                report(kPpsSettled, EventTypes::eStatus,
                       text(name, " : PPS within threshold, for ", ppsCountRequiredWithinThreshold,
                            " seconds"),
                       false);
            }
            return true;
        }
        return false;
    }
    if (isDebug && ppsWithinThresholdCount != 0) {
        report(kPpsBrokeThreshold, EventTypes::eStatus,
               text(name, " : PPS broke threshold after ", ppsWithinThresholdCount, "seconds"),
               false);
    }
    ppsWithinThresholdCount = 0;
    return false;
}

const std::array<TimeServiceController::ScheduleEntry, 9> TimeServiceController::kSchedule = {{
    {0, 0, "move-clock", &TimeServiceController::moveSystemClock},
    {2, 2, "enable-1pps", &TimeServiceController::enable1pps},
    {18, 18, "start-ntpd", &TimeServiceController::startNtpDaemon},
    {20, 20, "raise-ntpd-priority", &TimeServiceController::raiseNtpPriority},
    {22, std::numeric_limits<int32_t>::max(), "feed-ntp", &TimeServiceController::feedNtp},
    {30, 30, "set-phc", &TimeServiceController::setPhc},
    {31, 31, "enable-pps-slave", &TimeServiceController::enablePpsSlave},
    {46, 46, "start-ptp4l", &TimeServiceController::startPtpDaemon},
    {47, 47, "announce-grandmaster", &TimeServiceController::announceGrandmaster},
}};

void TimeServiceController::runStep(const UTCTime& message) {
    Settled settled{message, timespec{}, 0};
    if (!describesValidTime(message) || !utcTimeOf(message, settled.utc)) {
        const auto& tov = message.header().timestamp_valid();
        report(kInvalidTime, EventTypes::eFault,
               text(name, " : TimeServiceController: Invalid UTC time ignored: week ",
                    message.gps_week(), " tow ", message.gps_tow_sec(), "sec ",
                    message.gps_tow_nsec(), " nsec, tod ", message.utc_tod_sec(), "sec ",
                    message.utc_tod_nsec(), " nsec, ToV ", tov.sec(), "sec ", tov.nsec(), " nsec"),
               true);
        return;
    }

    std::lock_guard<std::mutex> lock(mutex);
    if (!initialized.load()) {
        return;  // the services were stopped while this message waited
    }
    // Every step, not only the clock's: a stamp of another time base must
    // neither feed ntpd nor advance the schedule.
    if (!measureElapsed(message, settled.elapsedNs)) {
        return;
    }
    const int32_t k = stepCounter;
    for (const ScheduleEntry& entry : kSchedule) {
        if (k >= entry.first && k <= entry.last) {
            (this->*entry.action)(settled);
            if (stepWatcher) {
                stepWatcher(k, entry);
            }
        }
    }
    if (k < std::numeric_limits<int32_t>::max()) {
        stepCounter = k + 1;
    }
}

bool TimeServiceController::measureElapsed(const UTCTime& message, int64_t& elapsedNs) {
    const ASPN2::FpgaTime now = ASPN2::fpgaTicksToTime(fpga.fpga_get_SystemCount());
    const int64_t tovSec = message.header().timestamp_valid().sec();
    const int64_t tovNsec = message.header().timestamp_valid().nsec();
    int64_t fpgaSec = now.sec;
    int64_t fpgaNsec = now.nsec;
    if (tovNsec > fpgaNsec) {
        fpgaNsec += kNsPerSec;
        fpgaSec -= 1;
    }
    // Compared before subtracting: a hostile second count must not overflow.
    const int64_t maxSec = kMaxElapsedSinceValidityNs / kNsPerSec;
    const bool inRange = tovSec <= fpgaSec && tovSec >= fpgaSec - maxSec;
    elapsedNs = inRange ? (fpgaSec - tovSec) * kNsPerSec + (fpgaNsec - tovNsec) : -1;
    if (elapsedNs < 0 || elapsedNs > kMaxElapsedSinceValidityNs) {
        report(kStaleTimeOfValidity, EventTypes::eFault,
               text(name, " : TimeServiceController: Invalid UTC time ignored: FPGA time ",
                    now.sec, "sec ", now.nsec, " nsec is not within ",
                    kMaxElapsedSinceValidityNs / kNsPerSec, " s after the time of validity ",
                    tovSec, "sec ", tovNsec, " nsec"),
               true);
        return false;
    }
    return true;
}

void TimeServiceController::moveSystemClock(const Settled& settled) {
    const int64_t elapsedSec = settled.elapsedNs / kNsPerSec;
    const uint32_t nanoseconds =
        static_cast<uint32_t>(settled.elapsedNs % kNsPerSec + settled.utc.tv_nsec);
    int64_t sec = int64_t{settled.utc.tv_sec} + elapsedSec;
    long usec = static_cast<long>(nanoseconds / 1000u);
    if (usec >= 1000000) {
        usec -= 1000000;
        sec += 1;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(sec);
    tv.tv_usec = static_cast<suseconds_t>(usec);
    bulkMoveSystemClock(tv);
}

void TimeServiceController::enable1pps(const Settled&) {
    fpga.fpga_set_periph_control(static_cast<int32_t>(ntpInterruptEnableRegister), 1);
    report(kInterruptEnabled, EventTypes::eStatus,
           name + " : TimeServiceController: The 1PPS interrupt has been enabled", chatty());
}

void TimeServiceController::bulkMoveSystemClock(timeval tv) {
    if (host.setTimeOfDay(tv) == 0) {
        report(kClockMoved, EventTypes::eStatus,
               name + " : TimeServiceController: Bulk clock move successful", quiet.load() == 0);
    } else {
        report(kClockMoveFailed, EventTypes::eFault,
               text(name, ": TimeServiceController : Bulk clock move failed, errno = ", errno), true);
    }
}

void TimeServiceController::feedNtp(const Settled& settled) {
    if (ntpSession.shm_clock == nullptr) {
        report(kNoShmClock, EventTypes::eFault,
               name + " : TimeServiceController: The shm_clock variable is null", quiet.load() == 0);
        return;
    }
    timespec ppsTime{};
    pps_seq_t sequence = 0;
    // An edge never captured (sequence 0) or already fed means the PPS is
    // missing: pairing this second with an old edge would be a false sample.
    // So would pairing it with the next second's edge when the message comes
    // late: that edge stays for the message of its own second.
    const bool fetched = fetch_timestamp(host, ppsFd, ppsTime, sequence) == 0 && sequence != 0 &&
                         sequence != lastPpsSequence;
    // Seconds compared first: a hostile edge time must not overflow.
    const bool near = fetched && ppsTime.tv_sec >= settled.utc.tv_sec - 1 && ppsTime.tv_sec <= settled.utc.tv_sec + 1;
    const int64_t apartNs = near ? (int64_t{ppsTime.tv_sec} - int64_t{settled.utc.tv_sec}) * kNsPerSec +
                                       (int64_t{ppsTime.tv_nsec} - int64_t{settled.utc.tv_nsec})
                                 : kNsPerSec;
    if (apartNs <= -kNsPerSec / 2 || apartNs >= kNsPerSec / 2) {
        const std::string message =
            name + " : TimeServiceController: Unable to fetch PPS clock timestamp";
        echo(message);
        report(kNoPpsTimestamp, EventTypes::eFault, message, false);
        return;
    }
    lastPpsSequence = sequence;
    ntpshm_put(ntpSession, ntpSession.shm_clock, timedelta{settled.utc, ppsTime}, quiet.load(),
               settled.message.covariance()[0][0]);
}

void TimeServiceController::setPhc(const Settled&) {
    const std::string device = phcDeviceName.str();
    clockid_t target = CLOCK_REALTIME;
    int fd = -1;
    if (strcasecmp(device.c_str(), "CLOCK_REALTIME") != 0) {
        bool ok = host.resolvePath(device.c_str()) == 0;
        if (ok) {
            fd = host.openDevice(device.c_str());
            ok = fd >= 0;
        }
        if (ok) {
            target = platform::phcClockId(fd);
            timespec probe{};
            timex query{};  // mode 0: a pure query
            ok = host.clockGetTime(target, probe) == 0 && host.clockAdjTime(target, query) == 0;
        }
        if (!ok) {
            const int error = errno;
            if (fd >= 0) {
                host.closeDevice(fd);
            }
            report(kPhcOpenFailed, EventTypes::eFault,
                   name + " : TimeServiceController: Error - failed to open PHC clock device (" +
                       device + "): " + std::strerror(error),
                   true);
            return;
        }
    }

    timespec ts{};
    int error = 0;
    if (host.clockGetTime(CLOCK_REALTIME, ts) != 0) {
        error = errno;
    } else {
        const double tai = std::trunc(static_cast<double>(ts.tv_sec) + utc2taiTimeOffset);
        const bool fits = std::isfinite(tai) &&
                          tai >= static_cast<double>(std::numeric_limits<time_t>::min()) &&
                          tai < -static_cast<double>(std::numeric_limits<time_t>::min());
        if (!fits) {
            error = EINVAL;
        } else {
            ts.tv_sec = static_cast<time_t>(tai);
            if (host.clockSetTime(target, ts) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        report(kPhcSetFailed, EventTypes::eFault,
               name + " : TimeServiceController: Error - failed to set PHC clock time: " +
                   std::strerror(error),
               true);
    } else {
        char date[64] = "";
        const time_t seconds = ts.tv_sec;
        if (ctime_r(&seconds, date) == nullptr) {
            date[0] = '\0';
        }
        report(kPhcSet, EventTypes::eStatus,
               text(name, " : TimeServiceController: Set PHC clock time to ",
                    static_cast<long long>(ts.tv_sec), " Secs ", ts.tv_nsec, " nSecs or ", date,
                    " in TAI time"),
               chatty());
    }
    if (fd >= 0) {
        host.closeDevice(fd);
    }
}

void TimeServiceController::enablePpsSlave(const Settled&) {
    fpga.fpga_set_ppsSlave_control(8, 0);
    fpga.fpga_set_ppsSlave_control(0, 1);
    fpga.fpga_set_ptpClock_control(2, 3);
    report(kPpsSlaveEnabled, EventTypes::eStatus,
           name + " : TimeServiceController: The PPS Slave has been enabled", chatty());
}

// ---- time daemons ----

void TimeServiceController::startNtpDaemon(const Settled&) {
    if (host.runCommand("pidof ntpd > /dev/null") == 0) {
        report(kNtpAlreadyRunning, EventTypes::eStatus,
               name + " : TimeServiceController: NTP daemon already running.", quiet.load() == 0);
        return;
    }
    const int status = host.runCommand("/etc/init.d/S49ntp start");
    if (status != 0) {
        report(kNtpStartFailed, EventTypes::eFault,
               text(name, " : TimeServiceController: Warning - Unable to start NTP daemon: ", status),
               true);
    } else {
        report(kNtpStarted, EventTypes::eStatus,
               name + " : TimeServiceController: The NTP daemon has been started", quiet.load() == 0);
    }
}

void TimeServiceController::raiseNtpPriority(const Settled&) {
    if (host.runCommand("chrt -f -p 33 `pidof ntpd`") == 0) {
        report(kNtpPriorityRaised, EventTypes::eStatus,
               name + " : TimeServiceController: The NTP daemon's priority has been changed",
               quiet.load() == 0);
    }
}

void TimeServiceController::startPtpDaemon(const Settled&) {
    if (host.runCommand("pidof ptp4l > /dev/null") == 0) {
        report(kPtpAlreadyRunning, EventTypes::eStatus,
               name + " : TimeServiceController: PTP daemon already running.", chatty());
        return;
    }
    const int status = host.runCommand("ptp4l -f /opt/quorvane/config/linuxptp.cfg &");
    if (status != 0) {
        report(kPtpStartFailed, EventTypes::eFault,
               text(name, " : TimeServiceController: Warning - Unable to start PTP daemon: ", status),
               true);
    } else {
        report(kPtpStarted, EventTypes::eStatus,
               name + " : TimeServiceController: The PTP daemon has been started", chatty());
    }
}

void TimeServiceController::announceGrandmaster(const Settled&) {
    const std::string command =
        text("pmc -u -b 0 ", '"', "set GRANDMASTER_SETTINGS_NP", " clockClass 248",
             " clockAccuracy 0x21", " offsetScaledLogVariance 0xffff", " currentUtcOffset ",
             utc2taiTimeOffset, " leap61 0", " leap59 0", " currentUtcOffsetValid 1",
             " ptpTimescale 1", " timeTraceable 1", " frequencyTraceable 1", " timeSource 0x20",
             '"');
    host.runCommand(command.c_str());  // ptp4l answers on its own; the status says nothing
}

bool TimeServiceController::stopService(const char* program) {
    if (program == nullptr) {
        return false;
    }
    std::string command = std::string("pidof ") + program + " > /dev/null";
    echo("***" + command);
    if (notRunning(host.runCommand(command.c_str()))) {
        report(kNotRunning, EventTypes::eFault,
               text(name, ": ", kSourceBaseName, " (", static_cast<int>(kNotRunningText), "), ",
                    "stopService", " :", program, " not running."),
               chatty());
        return true;
    }

    command = std::string("kill $(pidof ") + program + ")";
    echo("***" + command);
    if (host.runCommand(command.c_str()) == 0) {
        return true;
    }
    report(kSigtermFailed, EventTypes::eFault,
           name + " : TimeServiceController: Warning - Unable to stop program with SIGTERM: " +
               program,
           chatty());

    command = std::string("kill -9 $(pidof ") + program + ")";
    echo("***" + command);
    if (host.runCommand(command.c_str()) != 0) {
        report(kSigkillFailed, EventTypes::eFault,
               name + " : TimeServiceController: Warning - Unable to stop program with SIGKILL: " +
                   program,
               chatty());
    }
    return false;
}

bool TimeServiceController::stopSystemServices() {
    // Cleared first, so that no new step starts; the lock then waits for a
    // step in progress, which may be starting the very daemons stopped here.
    initialized.store(false);
    std::lock_guard<std::mutex> lock(mutex);
    const bool result = stopService("ptp4l");
    const int status = host.runCommand("/etc/init.d/S49ntp stop");
    if (status != 0) {
        report(kNtpStopFailed, EventTypes::eFault,
               text(name, " : TimeServiceController: Warning - Unable to stop NTP daemon: ", status),
               chatty());
    }
    return result;
}

void TimeServiceController::disableNtpInterrupt() {
    std::lock_guard<std::mutex> lock(mutex);
    if (ntpInterruptEnableRegisterStored) {
        fpga.fpga_set_periph_control(static_cast<int32_t>(ntpInterruptEnableRegister),
                                                     0);
    }
}
