#include <sys/ipc.h>
#include <sys/shm.h>

#include "platform/NtpMemory.h"

namespace platform {

namespace {

class SystemVNtpMemory final : public NtpMemory {
public:
    int attach(key_t key, size_t size, int perm, void*& address, const char*& call) override {
        call = "shmget";
        const int id = shmget(key, size, IPC_CREAT | perm);
        if (id == -1) {
            return -1;
        }
        call = "shmat";
        void* attached = shmat(id, nullptr, 0);
        if (attached == reinterpret_cast<void*>(-1)) {
            return -1;
        }
        address = attached;
        return id;
    }
    void detach(void* address) override { shmdt(address); }
};

}  // namespace

NtpMemory& systemVNtpMemory() {
    static SystemVNtpMemory memory;
    return memory;
}

}  // namespace platform
