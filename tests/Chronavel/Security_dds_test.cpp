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
using aspn2_msgs::idl::CommandResponse;
using aspn2_msgs::idl::UTCTime;
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

// A participant of one identity that writes commands and time and reads
// replies where its grant lets it (a null endpoint where not).
struct Peer {
    template <typename T>
    static boardkit::TypedPtr<T> typed(boardkit::Service& s, FACE::TSS::CONNECTION_ID_TYPE out,
                                       FACE::TSS::CONNECTION_ID_TYPE in = -1,
                                       const FACE::TSS::Read_Callback<T>& callback = nullptr) {
        try {
            return boardkit::Typed<T>(s, out, in, callback);
        } catch (const std::runtime_error&) {
            return nullptr;
        }
    }
    explicit Peer(const boardkit::FastRtps& dds)
        : service("peer", ServerRig::withBackFill(dds).document()),
          commandOut(service.connect("Command")),
          utcOut(service.connect("UTCTime")),
          commands(typed<CommandResponse>(service, commandOut)),
          times(typed<UTCTime>(service, utcOut)),
          responseIn(service.connect("Response")),
          responses(typed<CommandResponse>(service, -1, responseIn, replies.callback())) {}
    ~Peer() {
        RC::Value code;
        service.tss->Unregister_Callback(responseIn, code);
    }

    RC::Value send(const UTCTime& m) { return boardkit::Send(*times, utcOut, m); }
    RC::Value send(const CommandResponse& c) { return boardkit::Send(*commands, commandOut, c); }
    int32_t matched(FACE::TSS::CONNECTION_ID_TYPE id) {
        return boardkit::At(*service.tss, id).publisherListener()->matched();
    }

    boardkit::Collector<CommandResponse> replies;  // outlives the participant that fills it
    boardkit::Service service;
    FACE::TSS::CONNECTION_ID_TYPE commandOut;
    FACE::TSS::CONNECTION_ID_TYPE utcOut;
    boardkit::TypedPtr<CommandResponse> commands;
    boardkit::TypedPtr<UTCTime> times;
    FACE::TSS::CONNECTION_ID_TYPE responseIn;
    boardkit::TypedPtr<CommandResponse> responses;
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
    EXPECT_EQ(nullptr, console.times);
    EXPECT_EQ(nullptr, source.commands);
    ASSERT_TRUE(outsider.commands && console.commands && source.times && lax.times);

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
        [&] { return console.matched(console.commandOut) > 0 && source.matched(source.utcOut) > 0; }));
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
    EXPECT_EQ(0, outsider.matched(outsider.commandOut));
    EXPECT_EQ(0, lax.matched(lax.utcOut));
    EXPECT_EQ(0, boardkit::At(*rig.peer.tss, rig.commandOut).publisherListener()->matched());
    EXPECT_TRUE(rig.server.timeService().isInitialized());
    EXPECT_THAT(rig.host.commands(), testing::Not(testing::Contains(testing::HasSubstr("kill"))));
}
