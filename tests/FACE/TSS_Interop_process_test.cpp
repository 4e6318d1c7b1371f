#include <signal.h>
#include <sys/wait.h>

#include <iomanip>
#include <sstream>

#include "support/TssTestSupport.h"
#include "boardkit/ChildProcess.h"

using namespace tsstest;

#ifndef CHRONAVEL_CYCLONE_PEER

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    GTEST_SKIP() << "Cyclone DDS was not found when the build was configured";
}

#else

namespace {

using std::chrono::seconds;

// Keeps the peer on the loopback interface; without it Cyclone would pick
// a network interface of its own.
const char kLoopbackOnly[] =
    "<CycloneDDS><Domain Id=\"any\"><General>"
    "<Interfaces><NetworkInterface name=\"lo\" multicast=\"true\"/></Interfaces>"
    "<AllowMulticast>spdp</AllowMulticast>"
    "</General></Domain></CycloneDDS>";

// Every field as name=value, named by its path and in the order of the
// field list; the peer prints them from the IDL's structs, so a field that
// the two lay out differently shows.
template <typename T>
void Print(std::ostream& os, const T& value, const std::string& name) {
    if constexpr (idl::cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char* field) {
            Print(os, value.*member, name.empty() ? field : name + "." + field);
        });
    } else if constexpr (idl::cdr::is_array<T>::value) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            Print(os, value[i], name + "[" + std::to_string(i) + "]");
        }
    } else {
        os << ' ' << name << '=' << value;
    }
}

template <typename T>
std::string Line(const std::string& topic, const T& sample) {
    std::ostringstream os;
    os << std::setprecision(17) << topic;
    Print(os, sample, "");
    return os.str() + "\n";
}

// Fast DDS to Cyclone, checked by what the peer prints, and back, checked
// field by field here.
template <typename T>
void RoundTrip(boardkit::ChildProcess& peer, const std::string& topic, Link<T>& link, const T& sent) {
    EXPECT_EQ(link.send(sent), RC::NO_ERROR);
    const std::string line = Line(topic, sent);
    EXPECT_TRUE(peer.waitForOutput(line, seconds(20))) << "expected:\n" << line << "got:\n" << peer.output();
    ASSERT_TRUE(link.got.waitFor(1)) << peer.output();
    T answer = sent;
    answer.header().seq_num(sent.header().seq_num() + 1);
    ExpectSame(link.got.deliveries()[0].message, answer);
}

}  // namespace

TEST(TSSInterop, CycloneDdsPeerExchangesAllThreeTypesOverUdp) {
    FastRtps f(kDomainCycloneUdp, "UDP");
    f.historyDepth = "10";
    // Both sides keep their history for late joiners, so that neither has
    // to wait for the other to match before it writes.
    f.backFillHistory = "true";
    Service s("Chronavel",
              Document(f.set() + Connection("UTCTimeToPeer", "UTCTime") + Connection("UTCTimeFromPeer", "UTCTime") +
                       Connection("CommandToPeer", "CommandResponse") +
                       Connection("CommandFromPeer", "CommandResponse") + Connection("EventLogToPeer", "EventLog") +
                       Connection("EventLogFromPeer", "EventLog")));
    ASSERT_EQ(s.initialized, RC::NO_ERROR);
    Link<idl::UTCTime> utc(s, "UTCTimeToPeer", s, "UTCTimeFromPeer");
    Link<idl::CommandResponse> cmd(s, "CommandToPeer", s, "CommandFromPeer");
    Link<idl::EventLog> ev(s, "EventLogToPeer", s, "EventLogFromPeer");

    ASSERT_EQ(::setenv("CYCLONEDDS_URI", kLoopbackOnly, 1), 0);
    boardkit::ChildProcess peer({CHRONAVEL_CYCLONE_PEER, std::to_string(kDomainCycloneUdp)});
    RoundTrip(peer, "UTCTimeToPeer", utc, Sample<idl::UTCTime>(21));
    RoundTrip(peer, "CommandToPeer", cmd, Sample<idl::CommandResponse>(22));
    RoundTrip(peer, "EventLogToPeer", ev, Event(23, std::string(300, 'x') + " beyond the advertised size"));
    EXPECT_EQ(peer.output().find("FAILED"), std::string::npos) << peer.output();

    peer.signal(SIGTERM);
    const int status = peer.wait(seconds(20));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << peer.output();
}

#endif
