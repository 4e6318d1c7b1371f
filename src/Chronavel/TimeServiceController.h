#ifndef CHRONAVEL_TIMESERVICECONTROLLER_H
#define CHRONAVEL_TIMESERVICECONTROLLER_H

#include <sys/time.h>
#include <sys/timepps.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "ASPN/FaultHysteresis.h"
#include "Chronavel/NtpShm.h"
#include "FACE/FACE_Common.h"
#include "aspn2_msgs/Messages.h"
#include "platform/FPGA.h"
#include "platform/NtpMemory.h"
#include "platform/TimeHost.h"

// Disciplines the platform's time from the received UTC time: once the PPS
// has proven aligned with UTC it steps the system clock, feeds ntpd through
// the NTP shared memory, sets the PHC to TAI and brings up the time daemons,
// one step per message (see newFACEUtcTime).
//
// Everything it does to the host goes through a TimeHost, to the FPGA
// through the facade it is given, and the NTP records live in an NtpMemory. Every message goes to the health reporter under a
// fixed source line, and some are echoed on standard output.
class TimeServiceController {
public:
    // Fixed source lines of the reports: operators see them in fault events.
    enum ReportLine : int {
        kInitializeIgnored = 231,
        kInitializeWithCurrentSettingsIgnored = 254,
        kLinkActivated = 274,
        kNoPpsDevice = 282,
        kClockMoved = 305,
        kClockMoveFailed = 311,
        kPpsOffset = 346,
        kPpsFirstCount = 356,
        kPpsSettled = 369,
        kPpsBrokeThreshold = 379,
        kInvalidTime = 395,
        kStaleTimeOfValidity = 398,
        kNoPpsTimestamp = 440,
        kNoShmClock = 447,
        kInterruptEnabled = 493,
        kNtpAlreadyRunning = 505,
        kNtpStartFailed = 519,
        kNtpStarted = 527,
        kNtpPriorityRaised = 543,
        kPhcOpenFailed = 567,
        kPhcSetFailed = 586,
        kPhcSet = 595,
        kPpsSlaveEnabled = 623,
        kPtpAlreadyRunning = 637,
        kPtpStartFailed = 651,
        kPtpStarted = 659,
        kNtpStopFailed = 724,
        kSigtermFailed = 760,
        kSigkillFailed = 773,
        kNotRunningText = 783,  // the number quoted inside the text
        kNotRunning = 784,
    };

    // Longest FPGA time accepted between a message's time of validity and its
    // handling: older (or future) stamps belong to another time base.
    static constexpr int64_t kMaxElapsedSinceValidityNs = 5000000000;
    // Largest GPS-UTC difference a message may imply; beyond it its time
    // fields disagree.
    static constexpr int64_t kMaxLeapSeconds = 255;

    // A settled, valid message as the schedule's actions see it.
    struct Settled {
        const aspn2_msgs::idl::UTCTime& message;
        timespec utc;        // the UTC instant the message describes
        int64_t elapsedNs;   // FPGA time since its time of validity
    };
    // The discipline schedule, one entry an action: each settled message runs,
    // in this order, every entry whose steps include its step number.
    struct ScheduleEntry {
        int32_t first;
        int32_t last;
        const char* name;
        void (TimeServiceController::*action)(const Settled&);
    };
    static const std::array<ScheduleEntry, 9> kSchedule;
    // Told of each entry run, with its step number (the simulator names them).
    using StepWatcher = std::function<void(int32_t step, const ScheduleEntry& entry)>;
    void setStepWatcher(StepWatcher watcher) { stepWatcher = std::move(watcher); }

    // The host, the facade and the memory are borrowed and must outlive the
    // controller.
    explicit TimeServiceController(const std::string& name,
                                   platform::TimeHost& host = platform::linuxTimeHost(),
                                   FpgaFace& fpga = FpgaFace::Instance(),
                                   platform::NtpMemory& ntpMemory = platform::systemVNtpMemory());
    ~TimeServiceController();
    TimeServiceController(const TimeServiceController&) = delete;
    TimeServiceController& operator=(const TimeServiceController&) = delete;

    void doDebug(int value) { debug.store(value); }
    void doQuiet(int value) { quiet.store(value); }

    // Stores the settings and initialises; ignored when already initialised.
    void initialize(uint32_t ntpInterruptEnableRegisterIndex, FACE::String phcDevice,
                    double utc2taiOffset);
    // Links the NTP shared memory and opens /dev/pps0. Failures are reported,
    // never returned; a repeated one releases what the previous one held.
    void initializeWithCurrentSettings();

    // One UTCTime message: PPS qualification, then one discipline step.
    void newFACEUtcTime(const aspn2_msgs::idl::UTCTime& message);
    void bulkMoveSystemClock(timeval tv);

    // Stops every process of that name (shell commands); true when none ran
    // or the polite stop succeeded.
    bool stopService(const char* program);
    // Stops ptp4l and ntpd after any step in progress, and leaves the
    // controller uninitialised. The result of stopping ptp4l.
    bool stopSystemServices();

    // Clears the NTP interrupt enable word once no step is in progress, if
    // initialize ever stored its index. For shutdown, while the FPGA is
    // still reachable.
    void disableNtpInterrupt();

    int isDebug() const { return debug.load(); }
    int isQuiet() const { return quiet.load(); }
    const std::string& getName() const { return name; }
    bool isInitialized() const { return initialized.load(); }
    bool isPpsSettled() const { return ppsSettled; }
    int32_t getStepCounter() const;
    uint32_t getPpsWithinThresholdCount() const { return ppsWithinThresholdCount; }
    int getPpsFd() const { return ppsFd; }
    const ntpshm_session& getNtpSession() const { return ntpSession; }

private:
    const std::string name;
    std::atomic<int> debug{0};
    std::atomic<int> quiet{0};
    int32_t stepCounter = 0;
    std::atomic<bool> initialized{false};
    mutable std::mutex mutex;
    ntpshm_context ntpContext{};
    ntpshm_session ntpSession{};
    int ppsFd = -1;
    uint32_t ntpInterruptEnableRegister = 0;
    bool ntpInterruptEnableRegisterStored = false;
    FACE::String phcDeviceName;
    double utc2taiTimeOffset = 0.0;

public:
    // Configuration's PPS settings: the offset threshold in nanoseconds, and
    // the number of in-threshold messages that must be exceeded to settle.
    double ppsSettledErrorThreshold = 0.0;
    uint32_t ppsCountRequiredWithinThreshold = 0;

private:
    bool ppsSettled = false;
    uint32_t ppsWithinThresholdCount = 0;
    // Sequence of the PPS edge of the last sample written; an edge is fed once.
    pps_seq_t lastPpsSequence = 0;
    platform::TimeHost& host;
    FpgaFace& fpga;
    StepWatcher stepWatcher;

    // false when the message does not settle the PPS (yet).
    bool qualify(const aspn2_msgs::idl::UTCTime& message);
    void runStep(const aspn2_msgs::idl::UTCTime& message);
    // false, reported, when the FPGA time does not fit the time of validity.
    bool measureElapsed(const aspn2_msgs::idl::UTCTime& message, int64_t& elapsedNs);

    void moveSystemClock(const Settled& settled);
    void enable1pps(const Settled& settled);
    void startNtpDaemon(const Settled& settled);
    void raiseNtpPriority(const Settled& settled);
    void feedNtp(const Settled& settled);
    void setPhc(const Settled& settled);
    void enablePpsSlave(const Settled& settled);
    void startPtpDaemon(const Settled& settled);
    void announceGrandmaster(const Settled& settled);

    void report(int line, EventTypes::eEventType type, const std::string& text, bool echo) const;
    void echo(const std::string& text) const;
    bool chatty() const { return debug.load() != 0 || quiet.load() == 0; }
};

#endif
