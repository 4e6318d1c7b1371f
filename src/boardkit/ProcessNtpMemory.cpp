#include "boardkit/ProcessNtpMemory.h"

#include <cerrno>
#include <cstring>

namespace boardkit {

int ProcessNtpMemory::attach(key_t key, size_t size, int /*perm*/, void*& address,
                             const char*& call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto failure = m_failures.find(key);
    if (failure != m_failures.end()) {
        call = failure->second.call;
        errno = failure->second.error;
        m_failures.erase(failure);
        return -1;
    }
    Record& record = m_records[key];
    if (!record.bytes) {
        // Aligned for any record type, as shmat's page is.
        record.bytes.reset(new unsigned char[size]());
        record.size = size;
        record.id = m_nextId++;
    } else if (record.size < size) {
        call = "shmget";
        errno = EINVAL;  // as shmget says for a segment smaller than asked
        return -1;
    }
    ++record.attachments;
    address = record.bytes.get();
    return record.id;
}

void ProcessNtpMemory::detach(void* address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_records) {
        if (entry.second.bytes.get() == address && entry.second.attachments > 0) {
            --entry.second.attachments;
            return;
        }
    }
}

const void* ProcessNtpMemory::record(key_t key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_records.find(key);
    return it == m_records.end() ? nullptr : it->second.bytes.get();
}

int ProcessNtpMemory::attachments(key_t key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_records.find(key);
    return it == m_records.end() ? -1 : it->second.attachments;
}

void ProcessNtpMemory::failNext(key_t key, const char* call, int error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures[key] = Failure{call, error};
}

}  // namespace boardkit
