#ifndef TESTS_CHRONAVEL_SERVERRIG_H
#define TESTS_CHRONAVEL_SERVERRIG_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "Chronavel/Chronavel.h"
#include "platform/FPGA.h"
#include "boardkit/Board.h"
#include "support/TssTestSupport.h"

namespace testsupport {

// A participant of the rest of the platform, on its own DDS participant: it
// publishes UTCTime and commands, and reads replies and the EventLog.
struct PlatformPeer {
    PlatformPeer(const std::string& name, const std::string& document)
        : peer(name, document),
          utcOut(peer.connect("UTCTime")),
          commandOut(peer.connect("Command")),
          responseIn(peer.connect("Response")),
          eventLogIn(peer.connect("EventLog")),
          utcTime(tsstest::Typed<aspn2_msgs::idl::UTCTime>(peer, utcOut)),
          commands(tsstest::Typed<aspn2_msgs::idl::CommandResponse>(peer, commandOut, responseIn,
                                                                  replies.callback())),
          eventLogs(tsstest::Typed<aspn2_msgs::idl::EventLog>(peer, -1, eventLogIn, events.callback())) {}

    // The readers must not call into the collectors once gone.
    ~PlatformPeer() {
        FACE::RETURN_CODE_TYPE::Value code;
        peer.tss->Unregister_Callback(responseIn, code);
        peer.tss->Unregister_Callback(eventLogIn, code);
    }

    // Until the server's endpoints and this peer's have found each other.
    bool matched() {
        auto& utc = tsstest::At(*peer.tss, utcOut);
        auto& cmd = tsstest::At(*peer.tss, commandOut);
        auto& rsp = tsstest::At(*peer.tss, responseIn);
        auto& log = tsstest::At(*peer.tss, eventLogIn);
        return tsstest::WaitUntil([&] {
            return utc.publisherListener()->matched() > 0 && cmd.publisherListener()->matched() > 0 &&
                   rsp.subscriberListener()->matched() > 0 && log.subscriberListener()->matched() > 0;
        });
    }

    static aspn2_msgs::idl::CommandResponse command(const std::string& text, int32_t identifier = 7,
                                                    int32_t deviceId = 0x01630201) {
        aspn2_msgs::idl::CommandResponse c;
        c.header().device_id(deviceId);
        c.command_identifier(identifier);
        c.command_response(text);
        return c;
    }
    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::UTCTime& m) { return tsstest::Send(*utcTime, utcOut, m); }
    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::CommandResponse& c) {
        return tsstest::Send(*commands, commandOut, c);
    }

    // The reply to a ping sent now, or "" after the time-out.
    std::string ping(int32_t identifier) {
        send(command("BITSERVER_PING", identifier));
        std::string reply;
        tsstest::WaitUntil([&] {
            for (const auto& d : replies.deliveries()) {
                if (d.message.command_identifier() == identifier) {
                    reply = d.message.command_response();
                    return true;
                }
            }
            return false;
        });
        return reply;
    }

    bool sawEvent(const std::string& text) {
        return tsstest::WaitUntil([&] {
            for (const auto& d : events.deliveries()) {
                if (d.message.eventlog().find(text) != std::string::npos) {
                    return true;
                }
            }
            return false;
        });
    }

    tsstest::Service peer;
    FACE::TSS::CONNECTION_ID_TYPE utcOut;
    FACE::TSS::CONNECTION_ID_TYPE commandOut;
    FACE::TSS::CONNECTION_ID_TYPE responseIn;
    FACE::TSS::CONNECTION_ID_TYPE eventLogIn;
    tsstest::Collector<aspn2_msgs::idl::CommandResponse> replies;
    tsstest::Collector<aspn2_msgs::idl::EventLog> events;
    tsstest::TypedPtr<aspn2_msgs::idl::UTCTime> utcTime;
    tsstest::TypedPtr<aspn2_msgs::idl::CommandResponse> commands;
    tsstest::TypedPtr<aspn2_msgs::idl::EventLog> eventLogs;
};

// The whole server in this process, on a scripted board, with a second
// DDS participant standing for the rest of the platform.
class ServerRig : public PlatformPeer {
public:
    static constexpr int64_t kUtcBase = boardkit::ScriptedBoard::kUtcBase;
    using Settings = boardkit::ServerSettings;
    static constexpr uint32_t kEnableRegister = 3;
    static constexpr uint32_t kPulseSelectRegister = 2;

    // Late readers get what was published before they matched: the first
    // events go out before the peer has found the server.
    static Settings withBackFill(Settings s) {
        s.dds.backFillHistory = "true";
        s.dds.historyDepth = "20";
        return s;
    }
    static boardkit::FastRtps dds(const Settings& s) { return withBackFill(s).dds; }

    ServerRig() : ServerRig(Settings()) {}
    explicit ServerRig(const Settings& s)
        : PlatformPeer("Platform", withBackFill(s).dds.document()),
          settings(withBackFill(s)),
          host(board.host),
          image(board.image),
          server(board.platform()),
          topLevel(board.writeConfiguration(settings)) {}

    ~ServerRig() {
        if (connected) {
            FACE::RETURN_CODE_TYPE::Value code;
            server.Framework_Disconnect(code);
        }
    }

    // Configure and Framework_Connect; their standard output is kept in out.
    FACE::RETURN_CODE_TYPE::Value connect() {
        FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        testing::internal::CaptureStdout();
        server.Configure(topLevel.c_str(), code);
        if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            server.Framework_Connect(topLevel.c_str(), code);
            connected = true;
        }
        out = testing::internal::GetCapturedStdout();
        return code;
    }

    FACE::RETURN_CODE_TYPE::Value transition(FACE::LCM::Quorvane::RequestedState::Value requested) {
        FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        server.Request_State_Transition(requested, code);
        return code;
    }

    aspn2_msgs::idl::UTCTime second(int i, uint32_t serverId = 96) { return board.second(i, 50.0, serverId); }

    // Sends second i from a peer and waits until the controller has taken it.
    bool feed(PlatformPeer& from, int i) {
        const auto& ts = server.timeService();
        const bool settled = ts.isPpsSettled();
        const int32_t step = ts.getStepCounter();
        const uint32_t count = ts.getPpsWithinThresholdCount();
        return from.send(second(i)) == FACE::RETURN_CODE_TYPE::NO_ERROR && tsstest::WaitUntil([&] {
                   return settled ? ts.getStepCounter() != step
                                  : (ts.isPpsSettled() || ts.getPpsWithinThresholdCount() != count);
               });
    }

    static std::vector<std::string> drain() { return boardkit::drainEvents(); }

    uint32_t peripheralWord(uint32_t index) {
        return static_cast<uint32_t>(image.peek(boardkit::fpgablock::kPeripheral, 4 * index));
    }

    Settings settings;
    boardkit::ScriptedBoard board;
    boardkit::ScriptedHost& host;
    boardkit::RegisterImage& image;
    Chronavel server;
    std::string topLevel;
    std::string out;
    bool connected = false;
};

}  // namespace testsupport

#endif
