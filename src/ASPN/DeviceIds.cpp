#include "ASPN/DeviceIds.h"

#include <array>

namespace ASPN2 {

namespace {

const std::array<const char*, 3> kSystemNames = {"QuorvaneGround", "QuorvaneAir", "QuorvaneSea"};

struct ServerName {
    uint8_t id;
    const char* name;
};

// Ascending by id.
constexpr std::array<ServerName, 40> kServerNames = {{
    {1, "Supervisor"},        {16, "HmiPanel"},         {32, "Gateway"},          {33, "Navigator"},
    {34, "InertialServer"},   {35, "GnssServer"},       {36, "OdometerServer"},   {37, "BaroServer"},
    {38, "MagSense"},         {39, "AltNavSource"},     {40, "MapServer"},        {41, "RouteServer"},
    {42, "DataRecorder"},     {44, "Chronavel"},        {45, "BitServer"},        {46, "ConfigServer"},
    {47, "CryptoKeeper"},     {48, "PowerManager"},     {49, "LinkRadio"},        {50, "DataTransfer"},
    {51, "ThermalMonitor"},   {52, "FileServer"},       {53, "EmbeddedReceiver"}, {54, "HealthMonitor"},
    {80, "Simulator"},        {96, "PpsTimeSource"},    {97, "GnssTimeSource"},   {113, "Peripheral01"},
    {114, "Peripheral02"},    {115, "Peripheral03"},    {116, "Peripheral04"},    {117, "Peripheral05"},
    {118, "Peripheral06"},    {119, "Peripheral07"},    {120, "Peripheral08"},    {121, "Peripheral09"},
    {122, "Peripheral10"},    {123, "Peripheral11"},    {124, "Peripheral12"},    {125, "Peripheral13"},
}};

const char* const kInvalidServer = "INVALID_SERVER_ID";

}  // namespace

uint8_t SystemIds::from_string(const std::string& systemName) {
    for (size_t i = 0; i < kSystemNames.size(); ++i) {
        if (systemName == kSystemNames[i]) {
            return static_cast<uint8_t>(i + 1);
        }
    }
    return Invalid;
}

std::string SystemIds::to_string(uint32_t systemId) {
    if (systemId >= 1 && systemId <= kSystemNames.size()) {
        return kSystemNames[systemId - 1];
    }
    return "INVALID_SYSTEM_ID";
}

std::string ServerIds::to_string(uint32_t serverId) {
    for (const ServerName& s : kServerNames) {
        if (s.id == serverId) {
            return s.name;
        }
    }
    return kInvalidServer;
}

std::string Components::to_component(uint32_t serverId, uint32_t systemId) {
    switch (systemId) {
        case 1:
            return "NavCore Ground Unit";
        case 2:
            return "NavCore Air Unit";
        case 0:
            switch (serverId) {
                case 38:
                    return "MagSense Module";
                case 39:
                    return "AltNav Module";
                case 47:
                    return "Crypto Module";
                case 49:
                    return "LinkRadio Module";
                case 53:
                    return "Embedded Receiver Module";
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return kInvalidServer;
}

DeviceIdFactory::DeviceIdFactory(uint8_t systemId, uint8_t serverId) {
    reset(systemId, serverId);
}

DeviceIdFactory::DeviceIdFactory(const std::string& systemName, uint8_t serverId) {
    reset(systemName, serverId);
}

void DeviceIdFactory::reset(uint8_t systemId, uint8_t serverId) {
    m_base = uint32_t{systemId} << 24 | uint32_t{serverId} << 16;
}

void DeviceIdFactory::reset(const std::string& systemName, uint8_t serverId) {
    reset(SystemIds::from_string(systemName), serverId);
}

uint32_t DeviceIdFactory::makeDeviceId(uint8_t messageClass, uint8_t topicId) const {
    return m_base | uint32_t{messageClass} << 8 | topicId;
}

}  // namespace ASPN2
