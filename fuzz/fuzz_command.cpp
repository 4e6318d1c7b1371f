// The command handler and the replies it is built from. Input: a flags
// byte, the command identifier, the sender's device id, then the command
// text (any bytes).
//
// The handler acts only in a started, connected server, so the whole
// component is brought up once: on a scripted board with a host that
// changes nothing, and one DDS participant over UDP on loopback in a domain of its
// own. Each input is then one direct call of the handler, as the DDS
// listener would make it, with no network traffic per input beyond a
// reply's publication to nobody.
//
// The reply builder is checked on every text: the reply carries the command
// word (the text before the first comma) with its suffix, the command's
// identifier and device id, counts up its sequence numbers, reads back as
// the response type it was made with, and survives its CDR round trip.

#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "ASPN/CmdResponse.h"
#include "Chronavel/Chronavel.h"
#include "FuzzSupport.h"
#include "aspn2_msgs/PubSubTypes.h"
#include "boardkit/Board.h"

// The installed Fast DDS frees one of its statistics objects through a
// pointer of the wrong size when a participant goes away (as in the tests).
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

namespace {

using aspn2_msgs::idl::CommandResponse;
using fuzzsupport::fail;
namespace RC = FACE::RETURN_CODE_TYPE;
namespace Type = ASPN2::ResponseType;

// A host on which nothing changes. The shell commands of the stop commands
// exit with the codes of `script`, two bits per command in turn (0: done,
// 1: nothing of that name runs, as pidof says).
class QuietHost : public platform::TimeHost {
public:
    uint32_t script = 0;
    unsigned next = 0;

    int setTimeOfDay(const timeval&) override { return 0; }
    int clockGetTime(clockid_t, timespec& ts) override {
        ts = timespec{1700000000, 0};
        return 0;
    }
    int clockSetTime(clockid_t, const timespec&) override { return 0; }
    int clockAdjTime(clockid_t, timex&) override { return 0; }
    int resolvePath(const char*) override { return 0; }
    int openDevice(const char*) override { return 100; }
    int closeDevice(int) override { return 0; }
    int ppsCreate(int fd, pps_handle_t& handle) override {
        handle = fd;
        return 0;
    }
    int ppsGetCap(pps_handle_t, int& mode) override {
        mode = PPS_CAPTUREASSERT | PPS_OFFSETASSERT;
        return 0;
    }
    int ppsGetParams(pps_handle_t, pps_params_t& params) override {
        params = pps_params_t{};
        params.api_version = PPS_API_VERS;
        params.mode = PPS_TSFMT_TSPEC;
        return 0;
    }
    int ppsSetParams(pps_handle_t, const pps_params_t&) override { return 0; }
    int ppsFetch(pps_handle_t, int, pps_info_t& info, const timespec&) override {
        info = pps_info_t{};
        return 0;
    }
    int runCommand(const char*) override {
        const unsigned code = (script >> (2 * (next++ % 16))) & 3u;
        return static_cast<int>(code << 8);
    }
};

// Domains 100-227 and 232 belong to the demo and the tests.
constexpr int kDomain = 230;

// The server on a scripted board, with the quiet host in place of the
// board's recording one: a long run must not keep every call.
struct Server {
    boardkit::ScriptedBoard board;
    QuietHost host;
    Chronavel server{platform()};

    ChronavelPlatform platform() {
        ChronavelPlatform p = board.platform();
        p.timeHost = &host;
        return p;
    }

    Server() {
        boardkit::ServerSettings settings;
        settings.dds = boardkit::FastRtps(kDomain, "UDP");
        settings.dds.historyDepth = "10";
        const std::string top = board.writeConfiguration(settings);
        RC::Value code = RC::NO_ERROR;
        server.Configure(top.c_str(), code);
        if (code == RC::NO_ERROR) {
            server.Framework_Connect(top.c_str(), code);
        }
        if (code == RC::NO_ERROR) {
            server.Request_State_Transition(FACE::LCM::Quorvane::RequestedState::START, code);
        }
        if (code != RC::NO_ERROR) {
            fail("the server did not start");
        }
    }

    ~Server() {
        RC::Value code = RC::NO_ERROR;
        server.Request_State_Transition(FACE::LCM::Quorvane::RequestedState::STOP, code);
        server.Framework_Disconnect(code);
    }
};

Server* g_server = nullptr;

std::string commandWord(const std::string& text) {
    return text.substr(0, text.find(','));
}

bool hasTypeWord(const std::string& text) {
    for (const char* word : {"_ACK", "_NACK", "_PASS", "_FAIL"}) {
        if (text.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void checkReply(const CommandResponse& command, const CommandResponse& reply, const std::string& text,
                int64_t seq) {
    if (reply.command_response() != text) {
        fail("the reply text is not the command word with its suffix");
    }
    if (reply.command_identifier() != command.command_identifier() ||
        reply.commanded_device_id() != command.header().device_id()) {
        fail("the reply does not name the command it answers");
    }
    if (reply.command_response_type() != aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE) {
        fail("the reply is not marked as a response");
    }
    if (reply.header().seq_num() != seq) {
        fail("reply sequence numbers do not count up");
    }

    static aspn2_msgs::idl::CommandResponsePubSubType type;
    CommandResponse copy = reply;
    eprosima::fastrtps::rtps::SerializedPayload_t payload(type.getSerializedSizeProvider(&copy)());
    CommandResponse decoded;
    if (!type.serialize(&copy, &payload) || !type.deserialize(&payload, &decoded) ||
        decoded.command_response() != reply.command_response() ||
        decoded.command_identifier() != reply.command_identifier() ||
        decoded.header().seq_num() != reply.header().seq_num()) {
        fail("a reply does not survive its CDR round trip");
    }
}

void checkBuilder(const CommandResponse& command, uint8_t flags) {
    static ASPN2::CmdResponse builder;
    static int64_t seq = 0;
    const std::string& text = command.command_response();
    const std::string word = commandWord(text);
    const bool pass = (flags & 0x08u) != 0;
    const bool ack = (flags & 0x10u) != 0;

    const CommandResponse verdict = builder.makeResponse(command, pass);
    checkReply(command, verdict, word + (pass ? "_PASS" : "_FAIL"), seq++);
    const CommandResponse acknowledged = builder.makeResponseAck(command, ack);
    checkReply(command, acknowledged, word + (ack ? "_ACK" : "_NACK"), seq++);
    const CommandResponse echoed = builder.makeResponse(command, text);
    checkReply(command, echoed, text, seq++);

    if (!hasTypeWord(word) &&
        (Type::GetResponseType(verdict) != (pass ? Type::ePass : Type::eFail) ||
         Type::GetResponseType(acknowledged) != (ack ? Type::eAck : Type::eNack))) {
        fail("a reply does not read back as the response type it was made with");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // A leak check after each input would scan the DDS library's heap, which
    // its threads change all the time: far slower than the input itself, for
    // nothing. Leaks are still looked for at exit.
    fuzzsupport::defaultFlag(argc, argv, "-detect_leaks=0");
    g_server = new Server();
    // Stopped and disconnected before the libraries' own teardown.
    std::atexit([] {
        delete g_server;
        g_server = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Reader in(data, size);
    const uint8_t flags = in.take<uint8_t>();
    CommandResponse command;
    command.command_identifier(in.take<int32_t>());
    command.header().device_id(in.take<int32_t>());
    // Mostly commands; replies (and stray values) must be ignored.
    switch (flags & 3u) {
        case 0:
        case 1:
            command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
            break;
        case 2:
            command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
            break;
        default:
            command.command_response_type(
                static_cast<aspn2_msgs::idl::command_response_type_enum>(in.take<uint32_t>()));
            break;
    }
    g_server->host.script = (flags & 0x04u) != 0 ? in.take<uint32_t>() : 0;
    g_server->host.next = 0;
    command.command_response(in.rest());

    g_server->server.cbCmdRsp(command);
    checkBuilder(command, flags);
    return 0;
}
