#include "FACE/TSS_Attributes.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>

#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include "FACE/QV_Config_Helpers.h"
#include "FACE/StringUtils.h"

namespace FACE {
namespace TSS {
namespace Details {

namespace {

using eprosima::fastrtps::rtps::Locator_t;

void ReportInvalid(const char* parameter, const std::string& text) {
    std::cout << "WARNING - Parameter " << parameter << " has the invalid value \"" << text << "\""
              << std::endl;
}

std::string Read(Configuration& config, Configuration::HANDLE_TYPE handle, const char* parameter,
                 bool& ok) {
    std::string text = QV_Config_Helpers::Details::Read_Config(config, handle, parameter);
    if (text.empty()) {
        ok = false;
    }
    return text;
}

std::string Cut(const std::string& name) {
    return name.size() > kMaxDdsNameLength ? name.substr(0, kMaxDdsNameLength) : name;
}

std::array<uint8_t, 4> RequireDottedQuad(const std::string& text) {
    std::array<uint8_t, 4> bytes{};
    if (!ParseDottedQuad(text, bytes)) {
        throw std::invalid_argument("TcpAddress \"" + text + "\" is not an IPv4 address");
    }
    return bytes;
}

template <typename Attributes>
void SetTopic(Attributes& attributes, const FastRtpsSettings& settings, const std::string& topicName,
              const std::string& topicType) {
    auto& topic = attributes.topic;
    topic.topicKind = eprosima::fastrtps::rtps::NO_KEY;
    topic.topicName = Cut(topicName);
    topic.topicDataType = Cut(topicType);
    topic.historyQos.kind = eprosima::fastdds::dds::KEEP_LAST_HISTORY_QOS;
    topic.historyQos.depth = settings.historyDepth;
    topic.resourceLimitsQos.max_samples = settings.historyDepth;
    topic.resourceLimitsQos.max_instances = 1;
    topic.resourceLimitsQos.max_samples_per_instance = settings.historyDepth;
    topic.resourceLimitsQos.allocated_samples = settings.historyDepth;
    attributes.qos.m_reliability.kind = settings.useBestEffort
                                            ? eprosima::fastdds::dds::BEST_EFFORT_RELIABILITY_QOS
                                            : eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
    attributes.historyMemoryPolicy =
        eprosima::fastrtps::rtps::MemoryManagementPolicy_t::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
}

}  // namespace

bool ReadFastRtpsSettings(Configuration& config, Configuration::HANDLE_TYPE handle,
                          FastRtpsSettings& settings) {
    bool ok = true;
    FastRtpsSettings read;

    const std::string domain = Read(config, handle, "DomainId", ok);
    const std::string depth = Read(config, handle, "HistoryDepth", ok);
    const std::string bestEffort = Read(config, handle, "UseBestEffort", ok);
    const std::string backFill = Read(config, handle, "BackFillHistory", ok);
    read.transport = Read(config, handle, "UseTransport", ok);
    read.tcpAddress = Read(config, handle, "TcpAddress", ok);
    const std::string port = Read(config, handle, "TcpPort", ok);

    uint64_t unsignedValue = 0;
    int64_t signedValue = 0;
    if (!domain.empty()) {
        if (QV_Config_Helpers::ParseUnsigned(domain, kMaxDomainId, unsignedValue)) {
            read.domainId = static_cast<uint32_t>(unsignedValue);
        } else {
            ReportInvalid("DomainId", domain);
            ok = false;
        }
    }
    if (!depth.empty()) {
        // A history must hold at least one sample.
        if (QV_Config_Helpers::ParseSigned(depth, 1, std::numeric_limits<int32_t>::max(), signedValue)) {
            read.historyDepth = static_cast<int32_t>(signedValue);
        } else {
            ReportInvalid("HistoryDepth", depth);
            ok = false;
        }
    }
    if (!bestEffort.empty()) {
        read.useBestEffort = QV_Config_Helpers::ParseBoolean(bestEffort);
    }
    if (!backFill.empty()) {
        read.backFillHistory = QV_Config_Helpers::ParseBoolean(backFill);
    }
    if (!port.empty()) {
        if (QV_Config_Helpers::ParseUnsigned(port, std::numeric_limits<uint16_t>::max(), unsignedValue)) {
            read.tcpPort = static_cast<uint16_t>(unsignedValue);
        } else {
            ReportInvalid("TcpPort", port);
            ok = false;
        }
    }
    if (ok) {
        settings = read;
    }
    return ok;
}

bool ParseDottedQuad(const std::string& text, std::array<uint8_t, 4>& bytes) {
    std::array<uint8_t, 4> parsed{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size()) {
                return false;
            }
            ++pos;  // the separator, whatever character it is
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255) {
            return false;
        }
        parsed[i] = static_cast<uint8_t>(value);
    }
    if (pos != text.size()) {
        return false;
    }
    bytes = parsed;
    return true;
}

eprosima::fastrtps::ParticipantAttributes MakeParticipantAttributes(const std::string& name,
                                                                    const FastRtpsSettings& settings) {
    eprosima::fastrtps::ParticipantAttributes attributes;
    attributes.domainId = settings.domainId;
    attributes.rtps.setName(Cut(name).c_str());
    attributes.rtps.builtin.discovery_config.leaseDuration = eprosima::fastrtps::Duration_t(5, 0);
    attributes.rtps.useBuiltinTransports = false;

    if (settings.transport == "SHM") {
        attributes.rtps.userTransports.push_back(
            std::make_shared<eprosima::fastdds::rtps::SharedMemTransportDescriptor>());
    } else if (settings.transport == "UDP") {
        auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
        udp->non_blocking_send = true;
        udp->interfaceWhiteList.clear();
        udp->interfaceWhiteList.push_back("127.0.0.1");
        attributes.rtps.userTransports.push_back(udp);
    } else if (settings.transport == "TCP_Client") {
        const std::array<uint8_t, 4> address = RequireDottedQuad(settings.tcpAddress);
        attributes.rtps.userTransports.push_back(
            std::make_shared<eprosima::fastdds::rtps::TCPv4TransportDescriptor>());
        Locator_t peer;
        peer.kind = LOCATOR_KIND_TCPv4;
        eprosima::fastrtps::rtps::IPLocator::setIPv4(peer, address[0], address[1], address[2], address[3]);
        peer.port = settings.tcpPort;
        eprosima::fastrtps::rtps::LocatorList_t& peers = attributes.rtps.builtin.initialPeersList;
        if (std::find(peers.begin(), peers.end(), peer) == peers.end()) {
            peers.push_back(peer);
        }
    } else if (settings.transport == "TCP_Server") {
        const std::array<uint8_t, 4> address = RequireDottedQuad(settings.tcpAddress);
        auto tcp = std::make_shared<eprosima::fastdds::rtps::TCPv4TransportDescriptor>();
        tcp->listening_ports.push_back(settings.tcpPort);
        tcp->set_WAN_address(address[0], address[1], address[2], address[3]);
        attributes.rtps.userTransports.push_back(tcp);
    }
    return attributes;
}

eprosima::fastrtps::PublisherAttributes MakePublisherAttributes(const FastRtpsSettings& settings,
                                                                const std::string& topicName,
                                                                const std::string& topicType) {
    eprosima::fastrtps::PublisherAttributes attributes;
    SetTopic(attributes, settings, topicName, topicType);
    // Writers always keep their last samples for readers that join late.
    attributes.qos.m_durability.kind = eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS;
    return attributes;
}

eprosima::fastrtps::SubscriberAttributes MakeSubscriberAttributes(const FastRtpsSettings& settings,
                                                                  const std::string& topicName,
                                                                  const std::string& topicType) {
    eprosima::fastrtps::SubscriberAttributes attributes;
    SetTopic(attributes, settings, topicName, topicType);
    attributes.qos.m_durability.kind = settings.backFillHistory
                                           ? eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS
                                           : eprosima::fastdds::dds::VOLATILE_DURABILITY_QOS;
    return attributes;
}

}  // namespace Details
}  // namespace TSS
}  // namespace FACE
