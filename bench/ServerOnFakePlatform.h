#ifndef BENCH_SERVERONFAKEPLATFORM_H
#define BENCH_SERVERONFAKEPLATFORM_H

// The whole server component on a register image and a fake host, for the
// benchmarks that measure it as the platform sees it: over DDS.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "Chronavel/Chronavel.h"
#include "FACE/QV_Devmem.h"
#include "platform/FPGA.h"
#include "boardkit/Board.h"
#include "boardkit/UtcMessages.h"

namespace benchsupport {

constexpr int64_t kUtcBase = 1700000000;  // 2023-11-14T22:13:20Z
constexpr uint32_t kSourceServerId = 96;
constexpr int32_t kSteadyStep = 48;  // every later step only feeds ntpd

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The kernel numbers every captured edge; here each fetch sees the next one,
// so every message is fed without the sender touching the fake. Neither
// daemon runs, as on a board just started.
class FreshEdgeHost : public boardkit::ScriptedHost {
public:
    FreshEdgeHost() {
        recordFetches = false;
        answer("pidof ntpd > /dev/null", {256});
        answer("pidof ptp4l > /dev/null", {256});
    }
    int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info, const timespec& timeout) override {
        const int result = ScriptedHost::ppsFetch(handle, tsformat, info, timeout);
        if (result == 0) {
            info.assert_sequence = ++m_sequence;
        }
        fetchedAt.store(nowNs(), std::memory_order_relaxed);
        return result;
    }
    // Steady-clock ns of the last fetch: in steady state the server's last
    // call before it writes the sample.
    std::atomic<int64_t> fetchedAt{0};

private:
    std::atomic<pps_seq_t> m_sequence{1000000};
};

// The DDS settings of the shipped connections file, on a domain and transport.
inline boardkit::FastRtps Dds(uint32_t domain, const std::string& transport) {
    boardkit::FastRtps settings(domain, transport);
    settings.historyDepth = "10";
    return settings;
}

// The demonstration PKI (config/security/make-demo-pki.sh) made in dir.
inline void MakeDemoPki(const std::string& dir) {
    const std::string script = CHRONAVEL_SOURCE_DIR "/config/security/make-demo-pki.sh " + dir + " >/dev/null";
    if (std::system(script.c_str()) != 0) {
        throw std::runtime_error("the demonstration PKI script failed");
    }
}

// The settings secured with an identity of that PKI; unchanged without a PKI.
inline boardkit::FastRtps Secured(boardkit::FastRtps dds, const std::string& pki, const char* identity) {
    if (!pki.empty()) {
        dds.security = boardkit::SecuritySet(boardkit::DemoIdentity(pki, identity));
    }
    return dds;
}

// Quiet on, debug off, no priority or CPU change; the first message within
// 1 µs of a second settles the PPS.
class ServerOnFakePlatform {
public:
    explicit ServerOnFakePlatform(const boardkit::FastRtps& dds) : server(platform()) {
        boardkit::ServerSettings settings;
        settings.dds = dds;
        settings.sourceServerId = std::to_string(kSourceServerId);
        settings.ppsCount = "0";
        m_topLevel = board.writeConfiguration(settings);
    }
    ~ServerOnFakePlatform() {
        if (m_connected) {
            FACE::RETURN_CODE_TYPE::Value code;
            server.Framework_Disconnect(code);
        }
    }
    ServerOnFakePlatform(const ServerOnFakePlatform&) = delete;
    ServerOnFakePlatform& operator=(const ServerOnFakePlatform&) = delete;

    // Configure, Framework_Connect and START, as the process driver does;
    // the step that failed, or empty.
    std::string start() {
        namespace RC = FACE::RETURN_CODE_TYPE;
        RC::Value code = RC::NO_ERROR;
        server.Configure(m_topLevel.c_str(), code);
        if (code != RC::NO_ERROR) {
            return "Configure";
        }
        m_connected = true;
        server.Framework_Connect(m_topLevel.c_str(), code);
        if (code != RC::NO_ERROR) {
            return "Framework_Connect";
        }
        server.Request_State_Transition(FACE::LCM::Quorvane::RequestedState::START, code);
        return code == RC::NO_ERROR ? "" : "START";
    }

    // Second i of the configured source.
    static aspn2_msgs::idl::UTCTime message(int i) {
        aspn2_msgs::idl::UTCTime m = boardkit::gpsMessage(kUtcBase + i, 50.0, 1e-16, 1000 + i);
        m.header().device_id(static_cast<int32_t>(kSourceServerId << 16));
        m.header().seq_num(i);
        return m;
    }
    // The same, with the FPGA counter a quarter second past its time of
    // validity and the PPS edge at its second, as on a healthy board: every
    // step checks the one, the feed the other.
    aspn2_msgs::idl::UTCTime second(int i) {
        board.setFpgaTicks(static_cast<uint64_t>(1000 + i) * FpgaFace::TICKS_PER_SECOND +
                           FpgaFace::TICKS_PER_SECOND / 4);
        host.setEdge({static_cast<time_t>(kUtcBase + i), 1500, 0});
        return message(i);
    }

    boardkit::ScriptedBoard board;
    FreshEdgeHost host;
    Chronavel server;

private:
    ChronavelPlatform platform() {
        ChronavelPlatform p = board.platform();
        p.timeHost = &host;
        return p;
    }

    std::string m_topLevel;
    bool m_connected = false;
};

}  // namespace benchsupport

#endif
