#include "Chronavel/PpsSource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int open_pps_source(platform::TimeHost& host, const char* path) {
    const int fd = host.openDevice(path);
    if (fd < 0) {
        std::fprintf(stderr, "unable to open device \"%s\" (%s)\n", path, std::strerror(errno));
        return -1;
    }
    // Every failure below closes the descriptor after its one diagnostic.
    auto closed = [&] {
        host.closeDevice(fd);
        return -1;
    };

    pps_handle_t handle = fd;
    if (host.ppsCreate(fd, handle) < 0) {
        errno = EOPNOTSUPP;
        std::fprintf(stderr, "cannot create a PPS source from device \"%s\" (%s)\n", path,
                     std::strerror(errno));
        return closed();
    }
    int caps = 0;
    if (host.ppsGetCap(handle, caps) < 0) {
        std::fprintf(stderr, "cannot get capabilities (%s)\n", std::strerror(errno));
        return closed();
    }
    if ((caps & PPS_CAPTUREASSERT) == 0) {
        std::fprintf(stderr, "cannot CAPTUREASSERT\n");
        return closed();
    }
    pps_params_t params{};
    if (host.ppsGetParams(handle, params) < 0) {
        std::fprintf(stderr, "cannot get parameters (%s)\n", std::strerror(errno));
        return closed();
    }
    params.mode |= PPS_CAPTUREASSERT;
    if ((caps & PPS_OFFSETASSERT) != 0) {
        params.mode |= PPS_OFFSETASSERT;
        params.assert_off_tu.tspec.tv_sec = 0;
        params.assert_off_tu.tspec.tv_nsec = 0;
    }
    if (host.ppsSetParams(handle, params) < 0) {
        std::fprintf(stderr, "cannot set parameters (%s)\n", std::strerror(errno));
        return closed();
    }
    return handle;
}

int fetch_timestamp(platform::TimeHost& host, pps_handle_t handle, timespec& assertTime,
                    pps_seq_t& assertSequence) {
    const timespec noWait{0, 0};
    pps_info_t info{};
    int result;
    while ((result = host.ppsFetch(handle, PPS_TSFMT_TSPEC, info, noWait)) < 0 && errno == EINTR) {
        std::fprintf(stderr, "time_pps_fetch() got a signal!\n");
    }
    if (result < 0) {
        std::fprintf(stderr, "time_pps_fetch() error %d (%s)\n", result, std::strerror(errno));
        return -1;
    }
    assertTime = info.assert_tu.tspec;
    assertSequence = info.assert_sequence;
    return 0;
}
