// chronavel-cmd: sends one command word to the time server and prints its
// reply.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "ASPN/CmdResponse.h"
#include "ASPN/CommandStrings.h"
#include "ASPN/DeviceIds.h"
#include "tools/ToolSupport.h"

namespace {

using aspn2_msgs::idl::CommandResponse;

// The operator's panel: a server id of the platform that is not the time server's.
constexpr int64_t kOwnServerId = 16;

const tools::Usage kUsage{
    "chronavel-cmd",
    "--config FILE [options] WORD",
    "Sends the command WORD and prints the server's reply on standard output (exit status 0).\n"
    "WORD is one of the short names\n"
    "  ping        BITSERVER_PING\n"
    "  live        SYSTEM_MODE_SELECT_LIVE\n"
    "  simulation  SYSTEM_MODE_SELECT_SIMULATION\n"
    "  zeroize     START_ZEROIZE (no reply is expected; exit status 0 once delivered)\n"
    "  destroy     START_DESTROY (likewise)\n"
    "or any other text, which is sent as it is. No peer, or no reply within the time-out:\n"
    "exit status 1.",
    {{"config", "FILE", "the connections file (required)"},
     {"timeout", "SECONDS", "give up after SECONDS, matching included (default 5)"},
     {"command-connection", "NAME", "the connection commands go out on (default Command)"},
     {"response-connection", "NAME", "the connection replies come in on (default Response)"},
     {"server-id", "N", "this tool's server id in the command's device id (default 16)"}},
    1};

std::string commandText(const std::string& word) {
    const std::pair<const char*, const std::string*> shortNames[] = {
        {"ping", &Sys::CommandString::BitServerPing},
        {"live", &Sys::CommandString::SystemModeLive},
        {"simulation", &Sys::CommandString::SystemModeSim},
        {"zeroize", &Sys::CommandString::StartSystemZeroize},
        {"destroy", &Sys::CommandString::StartSystemDestroy}};
    for (const auto& [name, text] : shortNames) {
        if (word == name) {
            return *text;
        }
    }
    return word;
}

int run(const tools::Options& o) {
    const std::string config = o.required("config");
    const double timeout = o.number("timeout", 5, 0.001, 1e6);
    const auto deadline = tools::deadlineAfter(timeout);
    const std::string text = commandText(o.operands().front());
    if (text.empty()) {
        o.fail("the command word is empty");
    }
    const bool replyExpected =
        text != Sys::CommandString::StartSystemZeroize && text != Sys::CommandString::StartSystemDestroy;
    const auto ownId = static_cast<uint8_t>(o.integer("server-id", kOwnServerId, 0, 255));
    const std::string within = " within " + o.text("timeout", "5") + " s";
    const std::string commandConnection = o.text("command-connection", "Command");
    const std::string responseConnection = o.text("response-connection", "Response");

    ASPN2::CmdResponse builder{ASPN2::DeviceIdFactory(uint8_t{0}, ownId)};
    CommandResponse command = builder.makeCommand(text);
    // Replies are told apart by the identifier: one of this process rather
    // than the builder's first, so that two operators never take each
    // other's reply.
    command.command_identifier(static_cast<int32_t>(getpid()));

    std::mutex mutex;
    bool replied = false;
    std::string reply;
    tools::Transport transport("chronavel-cmd", config);
    tools::Writer<CommandResponse> commands(transport, commandConnection);
    std::unique_ptr<tools::Reader<CommandResponse>> replies;
    if (replyExpected) {
        replies = std::make_unique<tools::Reader<CommandResponse>>(
            transport, responseConnection, [&](const CommandResponse& m) {
                if (m.command_response_type() == aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE &&
                    m.command_identifier() == command.command_identifier() &&
                    m.commanded_device_id() == command.header().device_id()) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!replied) {
                        replied = true;
                        reply = m.command_response();
                    }
                }
            });
    }

    const auto check = [](tools::Waited waited, const std::string& timedOut) {
        if (waited == tools::Waited::kStopped) {
            throw tools::Failure(tools::kFailed, "interrupted");
        }
        if (waited == tools::Waited::kTimedOut) {
            throw tools::Failure(tools::kFailed, timedOut);
        }
    };
    const auto peers = [&] { return commands.matched() && (!replies || replies->matched()); };
    check(tools::waitUntil(peers, deadline), "no peer on \"" + commandConnection + "\"" +
                                                 (replies ? " and \"" + responseConnection + "\"" : "") + within);
    // A match on this side may come before the server has matched back;
    // a reply written before that would never reach us.
    if (tools::waitUntil([] { return false; }, std::min(deadline, tools::deadlineAfter(0.2))) ==
        tools::Waited::kStopped) {
        throw tools::Failure(tools::kFailed, "interrupted");
    }
    commands.send(command);
    if (!replyExpected) {
        if (!commands.flush(std::chrono::duration<double>(deadline - tools::Clock::now()).count())) {
            throw tools::Failure(tools::kFailed, text + " was sent but not acknowledged" + within);
        }
        std::cout << text << " sent; no reply is expected" << std::endl;
        return 0;
    }
    const auto answered = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return replied;
    };
    check(tools::waitUntil(answered, deadline), "no reply to " + text + within);
    std::lock_guard<std::mutex> lock(mutex);
    std::cout << reply << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::run(kUsage, argc, argv, run); }
