#ifndef PLATFORM_TIMEHOST_H
#define PLATFORM_TIMEHOST_H

#include <sys/time.h>
#include <sys/timepps.h>
#include <sys/timex.h>

#include <ctime>

// clockAdjTime hands timex to the kernel as it is. A 32-bit time_t (the
// board's armhf, i386) has the kernel's old 128-byte layout; a 64-bit one,
// on a 64-bit host or a 32-bit one built with _TIME_BITS=64, the 208-byte
// layout that glibc passes to clock_adjtime64.
static_assert(sizeof(time_t) != 4 || sizeof(timex) == 128,
              "with a 32-bit time_t struct timex is the 128-byte layout");
static_assert(sizeof(time_t) != 8 || sizeof(timex) == 208,
              "with a 64-bit time_t struct timex is the 208-byte layout");

namespace platform {

// Everything the time service does that needs time hardware or changes the
// host: the system clock, a PTP hardware clock, the kernel PPS source and the
// shell that controls the time daemons. Each call behaves like the C library
// call it stands for: 0 (or a descriptor) on success, -1 with errno set on
// failure; runCommand returns what system() returns.
//
// The server uses linuxTimeHost(); a simulation or a test provides its own.
class TimeHost {
public:
    virtual ~TimeHost() = default;

    virtual int setTimeOfDay(const timeval& tv) = 0;
    virtual int clockGetTime(clockid_t clock, timespec& ts) = 0;
    virtual int clockSetTime(clockid_t clock, const timespec& ts) = 0;
    virtual int clockAdjTime(clockid_t clock, timex& tx) = 0;

    // 0 when path resolves to an existing file (realpath).
    virtual int resolvePath(const char* path) = 0;
    // Opens a device read-write.
    virtual int openDevice(const char* path) = 0;
    virtual int closeDevice(int fd) = 0;

    // RFC 2783 on a device opened with openDevice.
    virtual int ppsCreate(int fd, pps_handle_t& handle) = 0;
    virtual int ppsGetCap(pps_handle_t handle, int& mode) = 0;
    virtual int ppsGetParams(pps_handle_t handle, pps_params_t& params) = 0;
    virtual int ppsSetParams(pps_handle_t handle, const pps_params_t& params) = 0;
    virtual int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info,
                         const timespec& timeout) = 0;

    // Runs command with the standard shell and waits for it.
    virtual int runCommand(const char* command) = 0;
};

// The real host. Process-wide; never destroyed.
TimeHost& linuxTimeHost();

// The dynamic POSIX clock id of an open PTP hardware clock device.
inline clockid_t phcClockId(int fd) {
    return static_cast<clockid_t>((~static_cast<unsigned>(fd) << 3) | 3u);
}

}  // namespace platform

#endif
