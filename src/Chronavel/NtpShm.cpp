#include "Chronavel/NtpShm.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

int ntpshm_context_init(ntpshm_context& context, int quiet) {
    platform::NtpMemory& memory =
        context.memory != nullptr ? *context.memory : platform::systemVNtpMemory();
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        if (context.segments[unit] != nullptr) {
            memory.detach(context.segments[unit]);
            context.segments[unit] = nullptr;
        }
        if (unit < 2 && getuid() != 0) {
            continue;  // ntpd trusts units 0 and 1 only from root
        }
        const long key = NTPSHM_KEY_BASE + unit;
        const int perm = unit < 2 ? 0600 : 0666;
        void* address = nullptr;
        const char* call = "";
        const int id = memory.attach(static_cast<key_t>(key), sizeof(shmTime), perm, address, call);
        if (id == -1) {
            if (std::strcmp(call, "shmget") == 0) {
                std::printf("NTP: shmget(%ld, %zu, %o) fail: %s\n", key, sizeof(shmTime),
                            static_cast<unsigned>(perm), std::strerror(errno));
            } else {
                std::printf("NTP: shmat failed: %s\n", std::strerror(errno));
            }
            continue;
        }
        if (!quiet) {
            std::printf("NTP: shmat(%d,0,0) succeeded, segment %d\n", id, unit);
        }
        context.segments[unit] = static_cast<shmTime*>(address);
    }
    for (bool& inUse : context.inUse) {
        inUse = false;
    }
    return 0;
}

void ntpshm_session_init(ntpshm_session& session) {
    session.shm_clock = nullptr;
}

void ntpshm_link_activate(ntpshm_session& session) {
    ntpshm_context& context = *session.context;
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        shmTime* segment = context.segments[unit];
        if (segment != nullptr && !context.inUse[unit]) {
            context.inUse[unit] = true;
            std::memset(segment, 0, sizeof(shmTime));
            segment->mode = 1;
            segment->leap = 3;  // not synchronised until the first sample
            segment->precision = -1;
            segment->nsamples = 3;
            session.shm_clock = segment;
            return;
        }
    }
    session.shm_clock = nullptr;
    std::printf("NTP: ntpshm_alloc() failed\n");
}

void ntpshm_link_deactivate(ntpshm_session& session) {
    if (session.shm_clock == nullptr) {
        return;
    }
    for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
        if (session.context->segments[unit] == session.shm_clock) {
            session.context->inUse[unit] = false;
        }
    }
    session.shm_clock = nullptr;
}

int squareErrorToPrecision(double variance) {
    if (!(variance > 0.0)) {
        return -1;
    }
    // Held in double first: log2 of a huge or infinite variance does not fit an int.
    const double p = std::log2(variance) * 0.5;
    if (p < -20.0) {
        return -20;
    }
    if (p > 32.0) {
        return 32;
    }
    return static_cast<int>(p);
}

int ntpshm_put(ntpshm_session& /*session*/, shmTime* segment, const timedelta& sample, int quiet,
               double variance) {
    const int precision = squareErrorToPrecision(variance);
    if (segment == nullptr) {
        std::printf("NTP:PPS: missing shm\n");
        return 0;
    }
    ntp_write(segment, sample, precision, 0);
    if (!quiet) {
        char real[24];
        char clock[24];
        timespec_str(sample.real, real, sizeof(real));
        timespec_str(sample.clock, clock, sizeof(clock));
        std::printf("NTP: ntpshm_put(%s %d) %s @ %s\n", "Quorvane", precision, real, clock);
    }
    return 1;
}

void ntp_write(shmTime* segment, const timedelta& sample, int precision, int leap) {
    // The reader is another process: volatile keeps every store, in this
    // order, and the full barriers (dmb on ARM) keep the data between the two
    // count updates. The builtin, as std::atomic_thread_fence is refused by
    // ThreadSanitizer builds.
    volatile shmTime* shm = segment;
    shm->valid = 0;
    shm->count = shm->count + 1;
    __sync_synchronize();
    shm->clockTimeStampSec = sample.real.tv_sec;
    shm->clockTimeStampUSec = static_cast<int>(sample.real.tv_nsec / 1000);
    shm->clockTimeStampNSec = static_cast<unsigned>(sample.real.tv_nsec);
    shm->receiveTimeStampSec = sample.clock.tv_sec;
    shm->receiveTimeStampUSec = static_cast<int>(sample.clock.tv_nsec / 1000);
    shm->receiveTimeStampNSec = static_cast<unsigned>(sample.clock.tv_nsec);
    shm->leap = leap;
    shm->precision = precision;
    __sync_synchronize();
    shm->count = shm->count + 1;
    shm->valid = 1;
}

int timespec_str(const timespec& ts, char* buffer, size_t size) {
    const bool negative = ts.tv_sec < 0 || ts.tv_nsec < 0;
    // Magnitudes in unsigned arithmetic: the most negative value has none in signed.
    const unsigned long long sec = ts.tv_sec < 0 ? 0ull - static_cast<unsigned long long>(ts.tv_sec)
                                                 : static_cast<unsigned long long>(ts.tv_sec);
    const unsigned long nsec = ts.tv_nsec < 0 ? 0ul - static_cast<unsigned long>(ts.tv_nsec)
                                              : static_cast<unsigned long>(ts.tv_nsec);
    return std::snprintf(buffer, size, "%c%llu.%09lu", negative ? '-' : ' ', sec, nsec);
}
