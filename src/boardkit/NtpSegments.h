#ifndef BOARDKIT_NTPSEGMENTS_H
#define BOARDKIT_NTPSEGMENTS_H

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include "Chronavel/NtpShm.h"

namespace boardkit {

// The NTP segments created while this object lives are removed when it
// goes; segments that were there before stay. What a simulation or a test
// run leaves on the host.
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

}  // namespace boardkit

#endif
