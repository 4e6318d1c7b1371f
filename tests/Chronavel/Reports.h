#ifndef TESTS_CHRONAVEL_REPORTS_H
#define TESTS_CHRONAVEL_REPORTS_H

// The time service's reports as the health queue holds them ("type:text"),
// by their names. Each text is written here once; tests name reports.
#include <string>

#include "Chronavel/TimeServiceController.h"

namespace reports {

using R = TimeServiceController;
inline const std::string kSays = "Chronavel : TimeServiceController: ";

inline std::string status(const std::string& text) { return "2:" + text; }
inline std::string fault(int line, const std::string& text) {
    return "3:TimeServiceController.cpp[" + std::to_string(line) + "]:" + text;
}
// The text of a "type:text" event, without its type and source line.
inline std::string textOf(const std::string& event) {
    const size_t source = event.find("]:");
    return event.rfind("3:", 0) == 0 && source != std::string::npos ? event.substr(source + 2) : event.substr(2);
}

inline std::string linked(int ok) { return status(kSays + "Zelmar NTP ntpshm_link_activate: " + std::to_string(ok)); }
inline const std::string kNoPpsDevice = fault(R::kNoPpsDevice, "Chronavel: Critical error: Unable to open PPS device");
inline const std::string kClockMoved = status(kSays + "Bulk clock move successful");
inline std::string clockMoveFailed(int error) {
    return fault(R::kClockMoveFailed, "Chronavel: TimeServiceController : Bulk clock move failed, errno = " +
                                          std::to_string(error));
}
inline const std::string kInvalidTime = fault(R::kInvalidTime, kSays + "Invalid UTC time ignored: ");
inline const std::string kStaleValidity = fault(R::kStaleTimeOfValidity, kSays + "Invalid UTC time ignored: ");
inline const std::string kNoPpsTimestamp = fault(R::kNoPpsTimestamp, kSays + "Unable to fetch PPS clock timestamp");
inline const std::string kNoShmClock = fault(R::kNoShmClock, kSays + "The shm_clock variable is null");
inline const std::string kInterruptEnabled = status(kSays + "The 1PPS interrupt has been enabled");
inline const std::string kNtpAlreadyRunning = status(kSays + "NTP daemon already running.");
inline const std::string kNtpStarted = status(kSays + "The NTP daemon has been started");
inline const std::string kNtpPriorityRaised = status(kSays + "The NTP daemon's priority has been changed");
inline std::string daemonFailed(int line, const std::string& what, int status) {
    return fault(line, kSays + "Warning - Unable to " + what + " daemon: " + std::to_string(status));
}
inline std::string ntpStartFailed(int s) { return daemonFailed(R::kNtpStartFailed, "start NTP", s); }
inline std::string ptpStartFailed(int s) { return daemonFailed(R::kPtpStartFailed, "start PTP", s); }
inline std::string ntpStopFailed(int s) { return daemonFailed(R::kNtpStopFailed, "stop NTP", s); }
inline std::string phcOpenFailed(const std::string& device, const std::string& why) {
    return fault(R::kPhcOpenFailed, kSays + "Error - failed to open PHC clock device (" + device + "): " + why);
}
inline std::string phcSetFailed(const std::string& why) {
    return fault(R::kPhcSetFailed, kSays + "Error - failed to set PHC clock time: " + why);
}
// Followed by the nanoseconds, the date and " in TAI time".
inline std::string phcSet(long long sec) {
    return status(kSays + "Set PHC clock time to " + std::to_string(sec) + " Secs ");
}
inline const std::string kPpsSlaveEnabled = status(kSays + "The PPS Slave has been enabled");
inline const std::string kPtpAlreadyRunning = status(kSays + "PTP daemon already running.");
inline const std::string kPtpStarted = status(kSays + "The PTP daemon has been started");
inline std::string stopFailed(int line, const std::string& signal, const std::string& program) {
    return fault(line, kSays + "Warning - Unable to stop program with " + signal + ": " + program);
}
inline std::string notRunning(const std::string& program) {
    return fault(R::kNotRunning, "Chronavel: TimeServiceController.cpp (" + std::to_string(R::kNotRunningText) +
                                     "), stopService :" + program + " not running.");
}

inline std::string pmc(const std::string& utcOffset) {
    return "pmc -u -b 0 \"set GRANDMASTER_SETTINGS_NP clockClass 248 clockAccuracy 0x21 offsetScaledLogVariance "
           "0xffff currentUtcOffset " + utcOffset + " leap61 0 leap59 0 currentUtcOffsetValid 1 ptpTimescale 1 "
           "timeTraceable 1 frequencyTraceable 1 timeSource 0x20\"";
}

}  // namespace reports

#endif
