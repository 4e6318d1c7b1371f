#include <gtest/gtest.h>

#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include <memory>
#include <string>

#include "FACE/TSS_Attributes.h"

using FACE::TSS::Details::FastRtpsSettings;
using FACE::TSS::Details::MakeParticipantAttributes;
using FACE::TSS::Details::MakePublisherAttributes;
using FACE::TSS::Details::MakeSubscriberAttributes;
using FACE::TSS::Details::ParseDottedQuad;
namespace dds = eprosima::fastdds::dds;
namespace rtps = eprosima::fastrtps::rtps;

namespace {

FastRtpsSettings Settings(const std::string& transport) {
    FastRtpsSettings s;
    s.domainId = 7;
    s.historyDepth = 4;
    s.transport = transport;
    s.tcpAddress = "192.168.1.20";
    s.tcpPort = 5100;
    return s;
}

template <typename Descriptor>
std::shared_ptr<Descriptor> OnlyTransport(const eprosima::fastrtps::ParticipantAttributes& a) {
    EXPECT_EQ(a.rtps.userTransports.size(), 1u);
    return a.rtps.userTransports.empty() ? nullptr : std::dynamic_pointer_cast<Descriptor>(a.rtps.userTransports[0]);
}

}  // namespace

TEST(TSSParticipantAttributes, CommonSettingsWhateverTheTransport) {
    const std::string longName(300, 'n');
    for (const char* transport : {"SHM", "UDP", "TCP_Client", "TCP_Server", "udp", ""}) {
        const auto a = MakeParticipantAttributes(longName, Settings(transport));
        EXPECT_EQ(a.domainId, 7u) << transport;
        EXPECT_EQ(std::string(a.rtps.getName()), longName.substr(0, 255)) << transport;
        EXPECT_EQ(a.rtps.builtin.discovery_config.leaseDuration, eprosima::fastrtps::Duration_t(5, 0));
        EXPECT_FALSE(a.rtps.useBuiltinTransports) << transport;
    }
}

TEST(TSSParticipantAttributes, EachTransportNameGivesItsDescriptor) {
    EXPECT_NE(OnlyTransport<eprosima::fastdds::rtps::SharedMemTransportDescriptor>(
                  MakeParticipantAttributes("p", Settings("SHM"))),
              nullptr);

    auto udp = OnlyTransport<eprosima::fastdds::rtps::UDPv4TransportDescriptor>(
        MakeParticipantAttributes("p", Settings("UDP")));
    ASSERT_NE(udp, nullptr);
    EXPECT_TRUE(udp->non_blocking_send);
    EXPECT_EQ(udp->interfaceWhiteList, std::vector<std::string>{"127.0.0.1"});

    // Names are compared exactly: no transport at all otherwise.
    for (const char* other : {"udp", "Shm", "TCP", " UDP", ""}) {
        EXPECT_TRUE(MakeParticipantAttributes("p", Settings(other)).rtps.userTransports.empty()) << other;
    }
}

TEST(TSSParticipantAttributes, TcpClientGetsItsServerAsInitialPeer) {
    const auto a = MakeParticipantAttributes("p", Settings("TCP_Client"));
    auto tcp = OnlyTransport<eprosima::fastdds::rtps::TCPv4TransportDescriptor>(a);
    ASSERT_NE(tcp, nullptr);
    EXPECT_TRUE(tcp->listening_ports.empty());
    ASSERT_EQ(a.rtps.builtin.initialPeersList.size(), 1u);
    const rtps::Locator_t& peer = *a.rtps.builtin.initialPeersList.begin();
    EXPECT_EQ(peer.kind, LOCATOR_KIND_TCPv4);
    EXPECT_EQ(rtps::IPLocator::toIPv4string(peer), "192.168.1.20");
    EXPECT_EQ(rtps::IPLocator::getPhysicalPort(peer), 5100u);
}

TEST(TSSParticipantAttributes, TcpServerListensOnItsPortWithItsWanAddress) {
    const auto a = MakeParticipantAttributes("p", Settings("TCP_Server"));
    auto tcp = OnlyTransport<eprosima::fastdds::rtps::TCPv4TransportDescriptor>(a);
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->listening_ports, std::vector<uint16_t>{5100});
    EXPECT_EQ(tcp->wan_addr[0], 192);
    EXPECT_EQ(tcp->wan_addr[1], 168);
    EXPECT_EQ(tcp->wan_addr[2], 1);
    EXPECT_EQ(tcp->wan_addr[3], 20);
    EXPECT_TRUE(a.rtps.builtin.initialPeersList.empty());

    FastRtpsSettings bad = Settings("TCP_Server");
    bad.tcpAddress = "192.168.1";
    EXPECT_THROW(MakeParticipantAttributes("p", bad), std::invalid_argument);
    // Not a TCP transport: the address is not looked at.
    bad.transport = "SHM";
    EXPECT_NO_THROW(MakeParticipantAttributes("p", bad));
}

TEST(TSSParticipantAttributes, DottedQuadParsing) {
    std::array<uint8_t, 4> b{};
    ASSERT_TRUE(ParseDottedQuad("10.0.255.7", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{10, 0, 255, 7}));
    // Any single separator character will do.
    ASSERT_TRUE(ParseDottedQuad("1:2-3/4", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1.2.3.-4",
                            "99999999999.1.1.1"}) {
        b = {9, 9, 9, 9};
        EXPECT_FALSE(ParseDottedQuad(bad, b)) << bad;
        EXPECT_EQ(b, (std::array<uint8_t, 4>{9, 9, 9, 9})) << bad;
    }
}

TEST(TSSEndpointAttributes, ReliabilityAndDurabilityTable) {
    struct Row {
        bool bestEffort;
        bool backFill;
        dds::ReliabilityQosPolicyKind reliability;
        dds::DurabilityQosPolicyKind readerDurability;
    };
    const Row rows[] = {
        {false, false, dds::RELIABLE_RELIABILITY_QOS, dds::VOLATILE_DURABILITY_QOS},
        {false, true, dds::RELIABLE_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS},
        {true, false, dds::BEST_EFFORT_RELIABILITY_QOS, dds::VOLATILE_DURABILITY_QOS},
        {true, true, dds::BEST_EFFORT_RELIABILITY_QOS, dds::TRANSIENT_LOCAL_DURABILITY_QOS},
    };
    for (const Row& r : rows) {
        FastRtpsSettings s = Settings("UDP");
        s.useBestEffort = r.bestEffort;
        s.backFillHistory = r.backFill;
        const std::string longName(260, 't');
        const auto pub = MakePublisherAttributes(s, longName, "Y");
        const auto sub = MakeSubscriberAttributes(s, "T", longName);
        EXPECT_EQ(pub.topic.topicName.to_string(), longName.substr(0, 255));
        EXPECT_EQ(sub.topic.topicDataType.to_string(), longName.substr(0, 255));
        EXPECT_EQ(pub.qos.m_reliability.kind, r.reliability);
        EXPECT_EQ(sub.qos.m_reliability.kind, r.reliability);
        // Writers keep their history for late joiners in every case.
        EXPECT_EQ(pub.qos.m_durability.kind, dds::TRANSIENT_LOCAL_DURABILITY_QOS);
        EXPECT_EQ(sub.qos.m_durability.kind, r.readerDurability);
    }
}
