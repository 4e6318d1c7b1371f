#ifndef FACE_MEMORYMAP_H
#define FACE_MEMORYMAP_H

#include <cstdint>
#include <string>

namespace FACE {
namespace IOSS {

// The open descriptor of a memory device, shared by every mapping of that
// device and closed at process exit. The device is "/dev/mem" in service; a
// regular file may stand in for physical memory (simulation, tests). A path
// names the same device for the life of the process.
class MemoryDeviceFileDescriptor {
public:
    static constexpr const char* DEFAULT_DEVICE = "/dev/mem";

    // The descriptor of the device, opened on first use. When opening fails
    // this throws and nothing is kept, so the next call tries again.
    static MemoryDeviceFileDescriptor& Instance(const std::string& device = DEFAULT_DEVICE);

    // Opens the device read-write and synchronous; throws std::runtime_error.
    explicit MemoryDeviceFileDescriptor(const std::string& device = DEFAULT_DEVICE);
    ~MemoryDeviceFileDescriptor();
    MemoryDeviceFileDescriptor(const MemoryDeviceFileDescriptor&) = delete;
    MemoryDeviceFileDescriptor& operator=(const MemoryDeviceFileDescriptor&) = delete;

    uint32_t pageSize() const { return m_pageSize; }
    int fileDescriptor() const { return m_fd; }

private:
    uint32_t m_pageSize;
    int m_fd;
};

// One page-aligned shared mapping of the window [base, base + size) of a
// memory device.
class MemoryMap {
public:
    // Throws std::runtime_error when the device cannot be opened or mapped.
    MemoryMap(uint32_t baseAddress, uint32_t size,
              const std::string& device = MemoryDeviceFileDescriptor::DEFAULT_DEVICE);
    ~MemoryMap();
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    // Where the window's base address appears in this process.
    uint8_t* getPointerToBase() const { return m_pointerToBase; }
    uint32_t offsetInPage() const { return m_offsetInPage; }
    uint32_t pageCount() const { return m_pageCount; }
    uint32_t length() const { return m_length; }

private:
    void* m_start = nullptr;
    uint8_t* m_pointerToBase = nullptr;
    uint32_t m_offsetInPage = 0;
    uint32_t m_pageCount = 0;
    uint32_t m_length = 0;
};

}  // namespace IOSS
}  // namespace FACE

#endif
