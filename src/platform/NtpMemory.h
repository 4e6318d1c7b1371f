#ifndef PLATFORM_NTPMEMORY_H
#define PLATFORM_NTPMEMORY_H

#include <sys/types.h>

#include <cstddef>

namespace platform {

// Where the records of the NTP shared-memory reference clock live. On the
// board they are System V segments that ntpd (or chronyd) attaches by key;
// where no reader runs they can be plain memory of the process, so that
// nothing of the host is touched.
class NtpMemory {
public:
    virtual ~NtpMemory() = default;

    // Attaches the record with this key, creating it with perm when it is
    // missing, as shmget(key, size, IPC_CREAT | perm) and shmat do. Returns
    // the segment's id and sets address, or -1 with errno set; call tells
    // which call failed ("shmget" or "shmat").
    virtual int attach(key_t key, size_t size, int perm, void*& address, const char*& call) = 0;
    virtual void detach(void* address) = 0;
};

// System V shared memory of the host. Process-wide; never destroyed.
NtpMemory& systemVNtpMemory();

}  // namespace platform

#endif
