#ifndef TESTS_SUPPORT_TIMESERVICEFIXTURES_H
#define TESTS_SUPPORT_TIMESERVICEFIXTURES_H

// Pieces of a time service test that need no test framework, so that the
// benchmarks use them as well.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdint>

#include "Chronavel/NtpShm.h"
#include "aspn2_msgs/Messages.h"

namespace testsupport {

// The NTP segments a test creates are removed when it ends; segments that
// were there before stay. Tests that use segments hold the "ntp_shm" lock;
// other programs run in a private IPC namespace (unshare -i).
class NtpSegmentsGuard {
public:
    NtpSegmentsGuard() {
        for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
            m_existed[unit] = shmget(key(unit), 0, 0) != -1;
        }
    }
    ~NtpSegmentsGuard() {
        for (int unit = 0; unit < NTPSHM_UNITS; ++unit) {
            const int id = shmget(key(unit), 0, 0);
            if (!m_existed[unit] && id != -1) {
                shmctl(id, IPC_RMID, nullptr);
            }
        }
    }
    NtpSegmentsGuard(const NtpSegmentsGuard&) = delete;
    NtpSegmentsGuard& operator=(const NtpSegmentsGuard&) = delete;

    static key_t key(int unit) { return static_cast<key_t>(NTPSHM_KEY_BASE + unit); }
    // The unit a first link takes: 0 and 1 are attached only for root.
    static int firstUnit() { return getuid() == 0 ? 0 : 2; }
    // Attachments of a unit's segment, from the kernel; -1 if there is none.
    static int attachments(int unit) {
        shmid_ds ds{};
        const int id = shmget(key(unit), 0, 0);
        return id != -1 && shmctl(id, IPC_STAT, &ds) == 0 ? static_cast<int>(ds.shm_nattch) : -1;
    }

private:
    bool m_existed[NTPSHM_UNITS] = {};
};

// One second of a GPS receiver: the message for UTC time utcSec + nsec, with
// the given leap seconds, variance, and a time of validity in FPGA time.
inline aspn2_msgs::idl::UTCTime gpsMessage(int64_t utcSec, double nsec, double variance = 1e-16,
                                           int64_t tovSec = 1000, int32_t tovNsec = 0,
                                           int leap = 18) {
    const int64_t gps = utcSec - 315964800 + leap;
    aspn2_msgs::idl::UTCTime m;
    m.gps_week(static_cast<int32_t>(gps / 604800));
    m.gps_tow_sec(static_cast<int32_t>(gps % 604800));
    m.gps_tow_nsec(nsec);
    m.utc_tod_sec(static_cast<int32_t>(utcSec % 86400));
    m.utc_tod_nsec(nsec);
    m.covariance()[0][0] = variance;
    m.header().timestamp_valid().sec(tovSec);
    m.header().timestamp_valid().nsec(tovNsec);
    return m;
}

}  // namespace testsupport

#endif
