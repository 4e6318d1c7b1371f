#ifndef BOARDKIT_PROCESSNTPMEMORY_H
#define BOARDKIT_PROCESSNTPMEMORY_H

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

#include "platform/NtpMemory.h"

namespace boardkit {

// NTP records in the memory of this object: keyed like the host's segments,
// created zeroed on first attach and kept, with their contents, until the
// object goes. Nothing of the host is touched, so any number of these can
// live side by side, in one process or many.
class ProcessNtpMemory final : public platform::NtpMemory {
public:
    int attach(key_t key, size_t size, int perm, void*& address, const char*& call) override;
    void detach(void* address) override;

    // The record with this key as a reader would see it; null when never made.
    const void* record(key_t key) const;
    // Current attachments of the record with this key; -1 when it was never made.
    int attachments(key_t key) const;
    // The next attach of this key fails at call ("shmget" or "shmat") with errno error.
    void failNext(key_t key, const char* call, int error);

private:
    struct Record {
        std::unique_ptr<unsigned char[]> bytes;
        size_t size = 0;
        int id = 0;
        int attachments = 0;
    };
    struct Failure {
        const char* call;
        int error;
    };
    mutable std::mutex m_mutex;
    std::map<key_t, Record> m_records;
    std::map<key_t, Failure> m_failures;
    int m_nextId = 1;
};

}  // namespace boardkit

#endif
