#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/TimeHost.h"

namespace platform {
namespace {

class LinuxTimeHost final : public TimeHost {
public:
    int setTimeOfDay(const timeval& tv) override { return ::settimeofday(&tv, nullptr); }
    int clockGetTime(clockid_t clock, timespec& ts) override { return ::clock_gettime(clock, &ts); }
    int clockSetTime(clockid_t clock, const timespec& ts) override {
        return ::clock_settime(clock, &ts);
    }
    int clockAdjTime(clockid_t clock, timex& tx) override { return ::clock_adjtime(clock, &tx); }

    int resolvePath(const char* path) override {
        char resolved[PATH_MAX];
        return ::realpath(path, resolved) != nullptr ? 0 : -1;
    }
    int openDevice(const char* path) override { return ::open(path, O_RDWR | O_CLOEXEC); }
    int closeDevice(int fd) override { return ::close(fd); }

    int ppsCreate(int fd, pps_handle_t& handle) override { return ::time_pps_create(fd, &handle); }
    int ppsGetCap(pps_handle_t handle, int& mode) override {
        return ::time_pps_getcap(handle, &mode);
    }
    int ppsGetParams(pps_handle_t handle, pps_params_t& params) override {
        return ::time_pps_getparams(handle, &params);
    }
    int ppsSetParams(pps_handle_t handle, const pps_params_t& params) override {
        return ::time_pps_setparams(handle, &params);
    }
    int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info,
                 const timespec& timeout) override {
        return ::time_pps_fetch(handle, tsformat, &info, &timeout);
    }

    int runCommand(const char* command) override { return std::system(command); }
};

}  // namespace

TimeHost& linuxTimeHost() {
    static LinuxTimeHost host;
    return host;
}

}  // namespace platform
