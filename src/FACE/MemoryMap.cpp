// Physical addresses of the board lie above 2 GiB: the file offset given to
// mmap must be 64 bits wide on the 32-bit target too.
#define _FILE_OFFSET_BITS 64

#include "FACE/MemoryMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace FACE {
namespace IOSS {

static_assert(sizeof(off_t) >= 8, "mmap offsets must reach every 32-bit physical address");

MemoryDeviceFileDescriptor& MemoryDeviceFileDescriptor::Instance(const std::string& device) {
    // One entry per device; entries are never removed, so references stay
    // valid, and the list's destruction at exit closes the descriptors.
    struct Entry {
        std::string device;
        std::unique_ptr<MemoryDeviceFileDescriptor> descriptor;
    };
    static std::mutex mutex;
    static std::list<Entry> devices;

    std::lock_guard<std::mutex> lock(mutex);
    for (Entry& entry : devices) {
        if (entry.device == device) {
            return *entry.descriptor;
        }
    }
    auto descriptor = std::make_unique<MemoryDeviceFileDescriptor>(device);
    devices.push_back(Entry{device, std::move(descriptor)});
    return *devices.back().descriptor;
}

MemoryDeviceFileDescriptor::MemoryDeviceFileDescriptor(const std::string& device)
    : m_pageSize(static_cast<uint32_t>(::sysconf(_SC_PAGESIZE))),
      m_fd(::open(device.c_str(), O_RDWR | O_SYNC | O_CLOEXEC)) {
    if (m_fd < 0) {
        throw std::runtime_error("Unable to open " + device + " file descriptor.");
    }
}

MemoryDeviceFileDescriptor::~MemoryDeviceFileDescriptor() { ::close(m_fd); }

MemoryMap::MemoryMap(uint32_t baseAddress, uint32_t size, const std::string& device) {
    const MemoryDeviceFileDescriptor& memory = MemoryDeviceFileDescriptor::Instance(device);
    const uint32_t pageSize = memory.pageSize();
    m_offsetInPage = baseAddress & (pageSize - 1u);
    const uint32_t pageBase = baseAddress & ~(pageSize - 1u);

    // In 64 bits: a window near 4 GiB must not wrap into a short mapping
    // that the window's accesses would then overrun.
    const uint64_t pages = (uint64_t{m_offsetInPage} + size) / pageSize + 1u;
    const uint64_t length = pages * pageSize;
    if (length > std::numeric_limits<uint32_t>::max() ||
        length > std::numeric_limits<size_t>::max()) {
        throw std::runtime_error("Unable to map memory space.");
    }
    m_pageCount = static_cast<uint32_t>(pages);
    m_length = static_cast<uint32_t>(length);

    void* start = ::mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_SHARED,
                         memory.fileDescriptor(), static_cast<off_t>(pageBase));
    if (start == MAP_FAILED) {
        throw std::runtime_error("Unable to map memory space.");
    }
    m_start = start;
    m_pointerToBase = static_cast<uint8_t*>(start) + m_offsetInPage;
}

MemoryMap::~MemoryMap() {
    if (::munmap(m_start, m_length) != 0) {
        std::perror("Unable to mumap memory space");
    }
}

}  // namespace IOSS
}  // namespace FACE
