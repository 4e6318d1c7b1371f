#ifndef TOOLS_TOOLSUPPORT_H
#define TOOLS_TOOLSUPPORT_H

// What the operator tools share: the command line, the way they end, and
// typed writers and readers on a connection of a connections file.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "FACE/QV_TypedTS.h"

namespace tools {

// Exit statuses beside 0.
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// Ends the tool: "<tool>: <message>" on standard error, then exit status.
struct Failure : std::runtime_error {
    Failure(int exitStatus, const std::string& message) : std::runtime_error(message), status(exitStatus) {}
    int status;
};

struct Option {
    const char* name;   // without the leading dashes
    const char* value;  // the value's placeholder ("FILE"), or nullptr for a switch
    const char* help;
};

struct Usage {
    const char* tool;
    const char* synopsis;  // what follows the tool's name
    const char* description;
    std::vector<Option> options;
    std::size_t operands;  // exactly this many
};

// Long options, "--name value" or "--name=value"; "--" ends them.
class Options {
public:
    Options(const Usage& usage, int argc, char** argv);

    bool help() const { return m_help; }
    bool has(const char* name) const { return m_values.count(name) != 0; }
    const std::vector<std::string>& operands() const { return m_operands; }

    std::string text(const char* name, const std::string& fallback) const;
    std::string required(const char* name) const;
    int64_t integer(const char* name, int64_t fallback, int64_t min, int64_t max) const;
    // Finite, within [min, max].
    double number(const char* name, double fallback, double min, double max) const;

    // A usage failure that names the option and points at --help.
    [[noreturn]] void fail(const std::string& message) const;

private:
    const Usage& m_usage;
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_operands;
    bool m_help = false;
};

// The whole number that is the whole text (base 0, as the configuration).
bool parseInteger(const std::string& text, int64_t& value);

// Parses the command line and runs body: --help prints the usage and gives
// 0, a Failure its status, any other exception 1. SIGINT and SIGTERM only
// ask the tool to stop (see stopRequested); they are held back from every
// thread started before the first wait, so that they interrupt the main
// thread's waits and never land on a DDS thread.
int run(const Usage& usage, int argc, char** argv, const std::function<int(const Options&)>& body);

bool stopRequested();

using Clock = std::chrono::steady_clock;
Clock::time_point deadlineAfter(double seconds);  // a negative time never passes

enum class Waited { kDone, kStopped, kTimedOut };
// Polls done (which must lock what it reads) until it holds, a stop is
// asked for, or the deadline passes.
Waited waitUntil(const std::function<bool()>& done, Clock::time_point deadline);
// Sleeps until the host's monotonic clock reads monotonicNs; false when a
// stop was asked for first.
bool sleepUntilMonotonic(int64_t monotonicNs);

// The transport service on a connections file, in the server's format.
class Transport {
public:
    // Failure(kBadUsage) when the file cannot be used.
    Transport(const std::string& participantName, const std::string& connectionsFile);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // The named connection, which must carry messages of typeName;
    // Failure(kBadUsage) otherwise.
    FACE::TSS::CONNECTION_ID_TYPE connect(const std::string& name, const char* typeName);
    const std::shared_ptr<FACE::TSS::QV_TSS>& tss() const { return m_tss; }
    // Remote endpoints matched by this connection's writer or reader.
    int32_t matchedWriter(FACE::TSS::CONNECTION_ID_TYPE id) const;
    int32_t matchedReader(FACE::TSS::CONNECTION_ID_TYPE id) const;
    // Until every reliable reader has acknowledged what was written.
    bool flush(FACE::TSS::CONNECTION_ID_TYPE id, double seconds) const;

private:
    std::string m_path;
    std::shared_ptr<FACE::QV_Config> m_config;
    std::shared_ptr<FACE::TSS::QV_TSS> m_tss;
};

template <typename T>
class Writer {
public:
    Writer(Transport& transport, const std::string& connection)
        : m_transport(transport), m_connection(connection), m_id(transport.connect(connection, T::type_name)) {
        FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_typed.Set_Reference("", transport.tss(), 0, code);
        if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            m_typed.Register_Sender(m_id, code);
        }
        if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            throw Failure(kFailed, "cannot write on \"" + connection + "\" (" +
                                       FACE::RETURN_CODE_TYPE::Name(code) + ")");
        }
    }

    bool matched() const { return m_transport.matchedWriter(m_id) > 0; }
    int32_t readers() const { return m_transport.matchedWriter(m_id); }
    bool flush(double seconds) const { return m_transport.flush(m_id, seconds); }

    void send(const T& message) {
        FACE::TSS::TRANSACTION_ID_TYPE transaction = 0;
        FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_typed.Send_Message(m_id, -1, transaction, message, code);
        if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            throw Failure(kFailed, "sending on \"" + m_connection + "\" failed (" +
                                       FACE::RETURN_CODE_TYPE::Name(code) + ")");
        }
    }

private:
    Transport& m_transport;
    std::string m_connection;
    FACE::TSS::CONNECTION_ID_TYPE m_id;
    FACE::TSS::Details::QV_TypedTS<T> m_typed;
};

// Calls onMessage on a DDS thread for every message, until destroyed.
template <typename T>
class Reader {
public:
    Reader(Transport& transport, const std::string& connection, std::function<void(const T&)> onMessage)
        : m_transport(transport), m_id(transport.connect(connection, T::type_name)) {
        FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_typed.Set_Reference("", transport.tss(), 0, code);
        if (code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            m_typed.Register_Callback(
                m_id,
                [onMessage](FACE::TSS::CONNECTION_ID_TYPE, FACE::TSS::TRANSACTION_ID_TYPE, const T& message,
                            const FACE::TSS::HEADER_TYPE&, const FACE::TSS::QoS_EVENT_TYPE&,
                            FACE::RETURN_CODE_TYPE::Value&) { onMessage(message); },
                code);
        }
        if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            throw Failure(kFailed, "cannot read on \"" + connection + "\" (" +
                                       FACE::RETURN_CODE_TYPE::Name(code) + ")");
        }
    }
    // What the callback uses may go right after this.
    ~Reader() {
        FACE::RETURN_CODE_TYPE::Value ignored;
        m_transport.tss()->Unregister_Callback(m_id, ignored);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool matched() const { return m_transport.matchedReader(m_id) > 0; }

private:
    Transport& m_transport;
    FACE::TSS::CONNECTION_ID_TYPE m_id;
    FACE::TSS::Details::QV_TypedTS<T> m_typed;
};

}  // namespace tools

#endif
