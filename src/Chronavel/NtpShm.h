#ifndef CHRONAVEL_NTPSHM_H
#define CHRONAVEL_NTPSHM_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/NtpMemory.h"

// The NTP shared-memory reference clock: segments with the keys
// "NTP0".."NTP7", each one record that ntpd's (and chronyd's) SHM driver
// polls, reached through a platform::NtpMemory. Diagnostics go to standard
// output.

constexpr long NTPSHM_KEY_BASE = 0x4E545030;  // "NTP0"
constexpr int NTPSHM_UNITS = 8;

// Declared with the native int and time_t, exactly as the readers on the same
// host declare it: 80 bytes where time_t is 32 bits, 96 on a 64-bit host.
struct shmTime {
    int mode;  // 1: each sample is guarded by count and valid
    volatile int count;
    time_t clockTimeStampSec;  // true time of the event
    int clockTimeStampUSec;
    time_t receiveTimeStampSec;  // system clock at the same event
    int receiveTimeStampUSec;
    int leap;
    int precision;  // log2 seconds
    int nsamples;
    volatile int valid;
    unsigned clockTimeStampNSec;
    unsigned receiveTimeStampNSec;
    int dummy[8];
};

static_assert(sizeof(int) == 4, "the record's int fields are 32 bits");
static_assert(sizeof(time_t) != 4 || sizeof(shmTime) == 80,
              "with a 32-bit time_t the record is the 80-byte layout");
static_assert(sizeof(time_t) != 8 || alignof(time_t) != 8 || sizeof(shmTime) == 96,
              "with an aligned 64-bit time_t the record is the 96-byte layout");
static_assert(sizeof(time_t) != 4 || (offsetof(shmTime, valid) == 36 &&
                                       offsetof(shmTime, clockTimeStampNSec) == 40 &&
                                       offsetof(shmTime, dummy) == 48),
              "with a 32-bit time_t the fields sit where the readers look");

struct ntpshm_context {
    platform::NtpMemory* memory;      // null: the host's System V segments
    shmTime* segments[NTPSHM_UNITS];  // by unit; null when not attached
    bool inUse[NTPSHM_UNITS];
};

struct ntpshm_session {
    ntpshm_context* context;
    shmTime* shm_clock;  // the segment clock samples go to, or null
};

// One sample: the true time of an event and the system clock's reading at it.
struct timedelta {
    timespec real;
    timespec clock;
};

// Attaches the eight units (0 and 1 only as root) and marks all free. Units
// attached by an earlier call are detached first, so calling it again never
// stacks attachments. The context must start zeroed.
int ntpshm_context_init(ntpshm_context& context, int quiet);
void ntpshm_session_init(ntpshm_session& session);
// Links the lowest attached unit not in use as shm_clock and resets it.
void ntpshm_link_activate(ntpshm_session& session);
void ntpshm_link_deactivate(ntpshm_session& session);

// log2 of the standard deviation, truncated and held to [-20, 32]; -1 for a
// variance that is not positive (NaN included).
int squareErrorToPrecision(double variance);

// Writes one sample with leap 0; 1 on success, 0 when segment is null.
int ntpshm_put(ntpshm_session& session, shmTime* segment, const timedelta& sample, int quiet,
               double variance);
// The count/valid write protocol with a full barrier on each side of the data.
void ntp_write(shmTime* segment, const timedelta& sample, int precision, int leap);

// " 1.000000005" or "-1.000000005": the sign, then the magnitudes.
int timespec_str(const timespec& ts, char* buffer, size_t size);

#endif
