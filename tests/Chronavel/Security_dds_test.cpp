// The server on a secured participant: a certified console and time source
// with their grants command and steer it; a participant without a
// certificate, one certified by another CA, and certified ones without the
// grant to write neither command nor steer it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "ServerRig.h"

using testsupport::ServerRig;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace States = FACE::LCM::Quorvane::RequestedState;
using namespace std::chrono_literals;

namespace {

// A PKI made by the demonstration script.
struct Pki {
    boardkit::TempDir dir{"chronavel-pki"};
    Pki() {
        const std::string script = CHRONAVEL_SOURCE_DIR "/config/security/make-demo-pki.sh " + dir.path();
        if (std::system(script.c_str()) != 0) {
            throw std::runtime_error("the demonstration PKI script failed");
        }
    }
    boardkit::FastRtps dds(const std::string& identity, const std::string& governance = "governance.p7s") const {
        boardkit::FastRtps d(230);
        d.security = boardkit::SecuritySet(boardkit::DemoIdentity(dir.path(), identity, governance));
        return d;
    }
};

// A participant of one identity, on the platform's connections.
struct Peer : boardkit::PlatformPeer {
    explicit Peer(const boardkit::FastRtps& dds) : PlatformPeer("peer", ServerRig::withBackFill(dds).document()) {}
};

}  // namespace

TEST(SecuredServer, FollowsOnlyCertifiedPeersWithTheirGrant) {
    const Pki platform;
    const Pki stranger;
    ServerRig::Settings settings;
    settings.dds = platform.dds("server");
    // The rig's own participant has no certificate.
    ServerRig rig(settings, boardkit::FastRtps(230));
    ASSERT_EQ(RC::NO_ERROR, rig.connect()) << rig.out;
    ASSERT_EQ(RC::NO_ERROR, rig.transition(States::START));

    Peer console(platform.dds("console"));
    Peer source(platform.dds("source"));
    Peer outsider(stranger.dds("console"));
    // Each may write only what its grant names. A console whose own
    // (roll-out) governance leaves UTCTime unprotected does make the writer:
    // the server's side has to refuse it.
    Peer lax(platform.dds("console", "governance-rollout.p7s"));
    EXPECT_EQ(nullptr, console.utcTime);
    EXPECT_EQ(nullptr, source.commands);
    ASSERT_TRUE(outsider.commands && console.commands && source.utcTime && lax.utcTime);

    // What the outsiders send would stop the daemons, answer, or count
    // towards the PPS settling (and step the clock early).
    rig.host.answer("pidof ptp4l > /dev/null", {0});
    for (int32_t id : {40, 41}) {
        const auto stop = rig.command("START_ZEROIZE", id);
        const auto ping = rig.command("BITSERVER_PING", id + 10);
        ASSERT_EQ(RC::NO_ERROR, id == 40 ? rig.send(stop) : outsider.send(stop));
        ASSERT_EQ(RC::NO_ERROR, id == 40 ? rig.send(ping) : outsider.send(ping));
    }
    rig.send(rig.second(0));
    lax.send(rig.second(0));

    ASSERT_TRUE(boardkit::WaitUntil(
        [&] { return console.writerMatched(console.commandOut) && source.writerMatched(source.utcOut); }));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.feed(source, i)) << "second " << i;
    }
    // The settling is seen before the step that follows it is taken.
    const std::string step = "settimeofday 1700000002.250000";
    EXPECT_TRUE(boardkit::WaitUntil([&] { return testing::Value(rig.host.calls(), testing::Contains(step)); }))
        << testing::PrintToString(rig.host.calls());
    ASSERT_EQ(RC::NO_ERROR, console.send(rig.command("BITSERVER_PING", 7)));
    ASSERT_TRUE(console.replies.waitFor(1));
    std::this_thread::sleep_for(300ms);

    ASSERT_EQ(1u, console.replies.deliveries().size());
    EXPECT_EQ("Chronavel", console.replies.deliveries()[0].message.command_response());
    EXPECT_TRUE(rig.replies.deliveries().empty());
    EXPECT_TRUE(outsider.replies.deliveries().empty());
    EXPECT_FALSE(outsider.writerMatched(outsider.commandOut));
    EXPECT_FALSE(lax.writerMatched(lax.utcOut));
    EXPECT_FALSE(rig.writerMatched(rig.commandOut));
    EXPECT_TRUE(rig.server.timeService().isInitialized());
    EXPECT_THAT(rig.host.commands(), testing::Not(testing::Contains(testing::HasSubstr("kill"))));
}
