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
#include "support/FakeTimeHost.h"
#include "support/RegisterImage.h"
#include "support/TimeServiceFixtures.h"
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

// The whole server in this process, on an FPGA register image and a fake
// host, with a second DDS participant standing for the rest of the platform.
class ServerRig : public PlatformPeer {
public:
    static constexpr int64_t kUtcBase = 1700000000;
    static constexpr uint32_t kEnableRegister = 3;
    static constexpr uint32_t kPulseSelectRegister = 2;

    struct Settings {
        uint32_t domain = 200;
        std::string transport = "SHM";
        std::string sourceServerId = "96";
        std::string ppsCount = "2";
        bool debug = false;
        bool withCommand = true;  // the connections file has the "Command" set
    };

    // Late readers get what was published before they matched: the first
    // events go out before the peer has found the server.
    static tsstest::FastRtps dds(const Settings& s) {
        tsstest::FastRtps settings(s.domain, s.transport);
        settings.backFillHistory = "true";
        settings.historyDepth = "20";
        return settings;
    }

    ServerRig() : ServerRig(Settings()) {}
    explicit ServerRig(const Settings& s)
        : PlatformPeer("Platform", dds(s).document()),
          settings(s),
          server(ChronavelPlatform{&host, [this] { return std::make_shared<FACE::IOSS::QV_Devmem>(image.imagePath()); }}) {
        std::string connections = dds(s).set() + tsstest::Connection("EventLog", "EventLog") +
                                  tsstest::Connection("Response", "CommandResponse") +
                                  tsstest::Connection("UTCTime", "UTCTime");
        if (s.withCommand) {
            connections += tsstest::Connection("Command", "CommandResponse");
        }
        const std::string server_set = tsstest::Set(
            "Chronavel", {{"Connections", dir.write("connections.xml", tsstest::Document(connections))},
                          {"IODevices", image.ioDevicesPath()},
                          {"Debug", s.debug ? "TRUE" : "FALSE"},
                          {"PRI", "0"},
                          {"CPU", "0"},
                          {"PARAM_1", "TRUE"},
                          {"PARAM_2", s.sourceServerId},
                          {"PARAM_3", std::to_string(kEnableRegister)},
                          {"PARAM_4", std::to_string(kPulseSelectRegister)},
                          {"PARAM_5", "0x5"},
                          {"PARAM_6", "/dev/ptp0"},
                          {"PARAM_7", "37"},
                          {"PARAM_8", "1000"},
                          {"PARAM_9", s.ppsCount}});
        topLevel = dir.write("Chronavel.xml",
                             tsstest::Document(tsstest::Set("Quorvane", {{"System", "TestSys"},
                                                                         {"Configuration", "Bench"}}) +
                                               server_set));
        host.answer("pidof ntpd > /dev/null", {256});
        host.answer("pidof ptp4l > /dev/null", {256});
    }

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

    // Second i of a receiver with the given server id: FPGA counter, PPS
    // edge and time of validity agree, as on a healthy board.
    aspn2_msgs::idl::UTCTime second(int i, uint32_t serverId = 96) {
        host.setEdge({static_cast<time_t>(kUtcBase + i), 1500, static_cast<pps_seq_t>(i + 1)});
        image.poke(fpgablock::kTimestamp, 0x80, 64,
                   static_cast<uint64_t>(1000 + i) * FpgaFace::TICKS_PER_SECOND + FpgaFace::TICKS_PER_SECOND / 4);
        aspn2_msgs::idl::UTCTime m = gpsMessage(kUtcBase + i, 50.0, 1e-16, 1000 + i);
        m.header().device_id(static_cast<int32_t>(serverId << 16));
        return m;
    }

    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::UTCTime& m) { return tsstest::Send(*utcTime, utcOut, m); }

    aspn2_msgs::idl::CommandResponse command(const std::string& text, int32_t identifier = 7,
                                             int32_t deviceId = 0x01630201) {
        aspn2_msgs::idl::CommandResponse c;
        c.header().device_id(deviceId);
        c.command_identifier(identifier);
        c.command_response(text);
        return c;
    }
    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::CommandResponse& c) {
        return tsstest::Send(*commands, commandOut, c);
    }

    // The events waiting in the reporter's queue, as "type:text".
    static std::vector<std::string> drain() {
        std::vector<std::string> events;
        int type = 0;
        std::string text;
        while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
            events.push_back(std::to_string(type) + ":" + text);
        }
        return events;
    }

    uint32_t peripheralWord(uint32_t index) { return static_cast<uint32_t>(image.peek(fpgablock::kPeripheral, 4 * index)); }

    Settings settings;
    TempDir dir;
    RegisterImage image;
    FakeTimeHost host;
    NtpSegmentsGuard segments;
    Chronavel server;
    std::string topLevel;
    std::string out;
    bool connected = false;
};

}  // namespace testsupport

#endif
