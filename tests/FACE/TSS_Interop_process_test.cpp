#include <signal.h>

#include <iomanip>
#include <sstream>

#include "boardkit/ChildProcess.h"
#include "support/TssTestSupport.h"

using namespace tsstest;

#ifndef CHRONAVEL_CYCLONE_PEER

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    GTEST_SKIP() << "Cyclone DDS was not found when the build was configured";
}

#else

namespace {

// Keeps the peer on loopback; without it Cyclone would pick a network interface of its own.
const char kLoopbackOnly[] =
    "<CycloneDDS><Domain Id=\"any\"><General><Interfaces><NetworkInterface name=\"lo\" multicast=\"true\"/>"
    "</Interfaces><AllowMulticast>spdp</AllowMulticast></General></Domain></CycloneDDS>";

// Every leaf in the order of the field list, as the peer prints it from the
// IDL's structs: a field that the two lay out differently shows.
template <typename T>
void Print(std::ostream& os, const T& value) {
    if constexpr (idl::cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char*) { Print(os, value.*member); });
    } else if constexpr (idl::cdr::is_array<T>::value) {
        for (const auto& e : value) Print(os, e);
    } else {
        os << ' ' << value;
    }
}

// Fast DDS to Cyclone, checked by what the peer prints, and back, checked
// field by field here.
template <typename T>
void RoundTrip(boardkit::ChildProcess& peer, const std::string& type, Link<T>& link, T sent) {
    EXPECT_EQ(link.send(sent), RC::NO_ERROR);
    std::ostringstream line;
    line << std::setprecision(17) << type << "ToPeer";
    Print(line, sent);
    line << '\n';
    EXPECT_TRUE(peer.waitForOutput(line.str(), std::chrono::seconds(20))) << line.str() << "got:\n" << peer.output();
    ASSERT_TRUE(link.got.waitFor(1)) << peer.output();
    sent.header().seq_num(sent.header().seq_num() + 1);
    ExpectSame(link.got.deliveries()[0].message, sent);
}

}  // namespace

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    FastRtps f(kDomainCycloneUdp, "UDP");
    f.historyDepth = "10";
    f.backFillHistory = "true";  // so that neither side waits for the other to match before it writes
    std::string connections = f.set();
    for (std::string type : {"UTCTime", "CommandResponse", "EventLog"}) {
        connections += Connection(type + "ToPeer", type) + Connection(type + "FromPeer", type);
    }
    Service s("Chronavel", Document(connections));
    Link<idl::UTCTime> utc(s, "UTCTimeToPeer", s, "UTCTimeFromPeer");
    Link<idl::CommandResponse> cmd(s, "CommandResponseToPeer", s, "CommandResponseFromPeer");
    Link<idl::EventLog> ev(s, "EventLogToPeer", s, "EventLogFromPeer");
    ASSERT_EQ(::setenv("CYCLONEDDS_URI", kLoopbackOnly, 1), 0);
    boardkit::ChildProcess peer({CHRONAVEL_CYCLONE_PEER, std::to_string(kDomainCycloneUdp)});
    RoundTrip(peer, "UTCTime", utc, Sample<idl::UTCTime>(21));
    RoundTrip(peer, "CommandResponse", cmd, Sample<idl::CommandResponse>(22));
    RoundTrip(peer, "EventLog", ev, Event(23, std::string(300, 'x') + " beyond the advertised size"));
    peer.signal(SIGTERM);
    EXPECT_EQ(0, peer.exitCode(std::chrono::seconds(20))) << peer.output();
}

#endif
