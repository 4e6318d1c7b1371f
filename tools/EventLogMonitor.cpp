// eventlog-monitor: prints every EventLog message as one line, as text or
// as JSON.

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "ASPN/DeviceIds.h"
#include "aspn2_msgs/Messages.h"
#include "tools/ToolSupport.h"

namespace {

using aspn2_msgs::idl::EventLog;

const tools::Usage kUsage{
    "eventlog-monitor",
    "--config FILE [options]",
    "Prints each EventLog message as one line:\n"
    "  <time of validity sec.nsec> <server> <type> <seq> <text>\n"
    "with backslash, newline, carriage return, tab and other control characters of the text\n"
    "escaped (\\\\, \\n, \\r, \\t, \\xHH). With --json, one object per line instead:\n"
    "  {\"tov\":\"sec.nsec\",\"server\":NAME,\"server_id\":N,\"type\":NAME,\"seq\":N,\"text\":TEXT}\n"
    "Runs until --count events are printed, or SIGINT or SIGTERM (exit status 0), or the\n"
    "time-out (exit status 1).",
    {{"config", "FILE", "the connections file (required)"},
     {"connection", "NAME", "the connection to read (default EventLog)"},
     {"count", "N", "exit after N events (default: no limit)"},
     {"timeout", "SECONDS", "exit with status 1 unless done within SECONDS (default: none)"},
     {"json", nullptr, "print JSON lines"}},
    0};

std::string typeName(uint32_t type) {
    const auto& names = aspn2_msgs::idl::event_log_type_enum_description::enumerators;
    if (type >= sizeof names / sizeof names[0]) {
        return std::to_string(type);
    }
    const std::string name = names[type];
    return name.substr(name.find("TYPE_") + 5);
}

// Nine digits of nanoseconds, whatever range the sender used.
std::string tovText(const aspn2_msgs::idl::timestamp& t) {
    constexpr int64_t kNsPerSec = 1000000000;
    int64_t nsec = t.nsec();
    const int64_t carry = nsec / kNsPerSec - (nsec % kNsPerSec < 0 ? 1 : 0);
    int64_t sec = 0;
    if (__builtin_add_overflow(t.sec(), carry, &sec)) {
        sec = t.sec();
    } else {
        nsec -= carry * kNsPerSec;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRId64, sec, nsec);
    return text;
}

// Control characters escaped, so that every event stays on one line; the
// JSON form also escapes quotes and passes on nothing but valid UTF-8.
std::string escaped(const std::string& text, bool json) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char hex[8];
        if (c == '\\' || (json && c == '"')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(hex, sizeof hex, json ? "\\u%04x" : "\\x%02x", c);
            out += hex;
        } else if (c < 0x80 || !json) {
            out += static_cast<char>(c);
        } else {
            // A lead byte with its continuation bytes, else U+FFFD.
            const std::size_t length = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
            std::size_t n = 1;
            while (length != 0 && n < length && i + n < text.size() && (text[i + n] & 0xc0) == 0x80) {
                ++n;
            }
            if (length != 0 && n == length) {
                out.append(text, i, n);
                i += n - 1;
            } else {
                out += "\\ufffd";
            }
        }
    }
    return out;
}

std::string line(const EventLog& e, bool json) {
    const uint32_t serverId = (static_cast<uint32_t>(e.header().device_id()) >> 16) & 0xffu;
    const std::string server = ASPN2::ServerIds::to_string(serverId);
    const std::string type = typeName(e.event_log_type());
    const std::string tov = tovText(e.header().timestamp_valid());
    const std::string seq = std::to_string(e.header().seq_num());
    if (!json) {
        return tov + ' ' + server + ' ' + type + ' ' + seq + ' ' + escaped(e.eventlog(), false);
    }
    return "{\"tov\":\"" + tov + "\",\"server\":\"" + server + "\",\"server_id\":" + std::to_string(serverId) +
           ",\"type\":\"" + type + "\",\"seq\":" + seq + ",\"text\":\"" + escaped(e.eventlog(), true) + "\"}";
}

int run(const tools::Options& o) {
    const std::string config = o.required("config");
    const int64_t count = o.integer("count", 0, 1, INT64_MAX);
    const auto deadline = tools::deadlineAfter(o.number("timeout", -1, 0.001, 1e9));
    const bool json = o.has("json");

    std::mutex mutex;
    int64_t printed = 0;
    tools::Transport transport("eventlog-monitor", config);
    tools::Reader<EventLog> events(transport, o.text("connection", "EventLog"), [&](const EventLog& e) {
        std::lock_guard<std::mutex> lock(mutex);
        if (count == 0 || printed < count) {
            std::cout << line(e, json) << std::endl;
            ++printed;
        }
    });
    const auto done = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return count != 0 && printed >= count;
    };
    if (tools::waitUntil(done, deadline) == tools::Waited::kTimedOut) {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string of = count != 0 ? " of " + std::to_string(count) : "";
        throw tools::Failure(tools::kFailed,
                             std::to_string(printed) + of + " event(s) within " + o.text("timeout", "") + " s");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::run(kUsage, argc, argv, run); }
