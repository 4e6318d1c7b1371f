#ifndef ASPN_DEVICEIDS_H
#define ASPN_DEVICEIDS_H

#include <cstdint>
#include <string>

namespace ASPN2 {

// Names of the platform variants; each gives the system byte of a device id.
namespace SystemIds {
constexpr uint8_t Invalid = 0;
// 1, 2 or 3 for the three variant names (exact, case-sensitive), else 0.
uint8_t from_string(const std::string& systemName);
// The variant name of id 1 to 3, else "INVALID_SYSTEM_ID".
std::string to_string(uint32_t systemId);
}  // namespace SystemIds

// Names of the platform's servers, for log text. Ids are taken wide so that
// a value outside the byte is refused instead of wrapping onto a real id.
namespace ServerIds {
constexpr uint8_t ChronavelId = 44;
// The server's name, or "INVALID_SERVER_ID" for ids not in the table.
std::string to_string(uint32_t serverId);
}  // namespace ServerIds

namespace Components {
// The product a server belongs to: one per system for systems 1 and 2, and
// a few stand-alone servers when the system is unknown.
std::string to_component(uint32_t serverId, uint32_t systemId);
}  // namespace Components

// Device id: system byte, server byte, message class byte, topic byte, most
// significant first.
class DeviceIdFactory {
public:
    static constexpr uint8_t EventLogClass = 1;
    static constexpr uint8_t CommandResponseClass = 2;

    DeviceIdFactory() = default;
    DeviceIdFactory(uint8_t systemId, uint8_t serverId);
    DeviceIdFactory(const std::string& systemName, uint8_t serverId);

    void reset(uint8_t systemId, uint8_t serverId);
    void reset(const std::string& systemName, uint8_t serverId);

    uint32_t makeDeviceId(uint8_t messageClass, uint8_t topicId) const;

private:
    uint32_t m_base = 0;
};

}  // namespace ASPN2

#endif
