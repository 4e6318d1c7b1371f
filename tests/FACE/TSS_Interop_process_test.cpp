#include <signal.h>

#include "boardkit/ChildProcess.h"
#include "support/TssTestSupport.h"

using namespace tsstest;

namespace {

// Fast DDS to Cyclone, checked by the leaves the peer prints in the order of
// the IDL, and back.
template <typename T>
void RoundTrip(boardkit::ChildProcess& peer, const std::string& type, Link<T>& link, T sent) {
    EXPECT_EQ(link.send(sent), RC::NO_ERROR);
    const std::string line = type + "ToPeer" + Leaves(sent) + "\n";
    EXPECT_TRUE(peer.waitForOutput(line, std::chrono::seconds(20))) << line << "got:\n" << peer.output();
    ASSERT_TRUE(link.got.waitFor(1)) << peer.output();
    sent.header().seq_num(sent.header().seq_num() + 1);
    EXPECT_EQ(Leaves(link.got.deliveries()[0].message), Leaves(sent));
}

}  // namespace

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
#ifndef CHRONAVEL_CYCLONE_PEER
    GTEST_SKIP() << "Cyclone DDS was not found when the build was configured";
#else
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
    // Keeps the peer on loopback; without it Cyclone would pick a network interface of its own.
    ASSERT_EQ(::setenv("CYCLONEDDS_URI",
                       "<CycloneDDS><Domain Id=\"any\"><General><Interfaces><NetworkInterface name=\"lo\" "
                       "multicast=\"true\"/></Interfaces><AllowMulticast>spdp</AllowMulticast></General></Domain>"
                       "</CycloneDDS>",
                       1),
              0);
    boardkit::ChildProcess peer({CHRONAVEL_CYCLONE_PEER, std::to_string(kDomainCycloneUdp)});
    RoundTrip(peer, "UTCTime", utc, Filled<idl::UTCTime>(21));
    RoundTrip(peer, "CommandResponse", cmd, Filled<idl::CommandResponse>(22));
    RoundTrip(peer, "EventLog", ev, Event(23, std::string(300, 'x') + " beyond the advertised size"));
    peer.signal(SIGTERM);
    EXPECT_EQ(0, peer.exitCode(std::chrono::seconds(20))) << peer.output();
#endif
}
