#ifndef TESTS_CHRONAVEL_SERVERRIG_H
#define TESTS_CHRONAVEL_SERVERRIG_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "Chronavel/Chronavel.h"
#include "platform/FPGA.h"
#include "boardkit/Board.h"
#include "support/TssTestSupport.h"

namespace testsupport {

// The whole server in this process, on a scripted board, with a second
// DDS participant standing for the rest of the platform.
class ServerRig : public boardkit::PlatformPeer {
public:
    using Settings = boardkit::ServerSettings;
    static constexpr uint32_t kEnableRegister = 3;
    static constexpr uint32_t kPulseSelectRegister = 2;

    // Late readers get what was published before they matched: the first
    // events go out before the peer has found the server.
    static boardkit::FastRtps withBackFill(boardkit::FastRtps dds) {
        dds.backFillHistory = "true";
        dds.historyDepth = "20";
        return dds;
    }
    static Settings withBackFill(Settings s) {
        s.dds = withBackFill(s.dds);
        return s;
    }

    ServerRig() : ServerRig(Settings()) {}
    explicit ServerRig(const Settings& s) : ServerRig(s, s.dds) {}
    // The platform's participant on settings of its own (another identity).
    ServerRig(const Settings& s, const boardkit::FastRtps& peerDds)
        : PlatformPeer("Platform", withBackFill(peerDds).document()),
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
    template <typename Peer>
    bool feed(Peer& from, int i) {
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
