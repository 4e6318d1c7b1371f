#include "tools/ToolSupport.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <thread>

#include <fastrtps/publisher/Publisher.h>

namespace tools {

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// No SA_RESTART: a signal must cut the main thread's sleep short.
void holdStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void takeStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

std::string hint(const Usage& usage) { return std::string(" (try '") + usage.tool + " --help')"; }

void printUsage(const Usage& usage, std::ostream& out) {
    out << "Usage: " << usage.tool << ' ' << usage.synopsis << "\n\n" << usage.description << "\n\nOptions:\n";
    std::vector<Option> options = usage.options;
    options.push_back({"help", nullptr, "print this text and exit"});
    std::vector<std::string> heads;
    std::size_t width = 0;
    for (const Option& o : options) {
        heads.push_back(std::string("--") + o.name + (o.value != nullptr ? std::string(" ") + o.value : ""));
        width = std::max(width, heads.back().size());
    }
    for (std::size_t i = 0; i < heads.size(); ++i) {
        out << "  " << heads[i] << std::string(width + 2 - heads[i].size(), ' ');
        for (const char* c = options[i].help; *c != '\0'; ++c) {
            out << *c << (*c == '\n' ? std::string(width + 4, ' ') : "");
        }
        out << '\n';
    }
}

}  // namespace

bool parseInteger(const std::string& text, int64_t& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    value = parsed;
    return true;
}

Options::Options(const Usage& usage, int argc, char** argv) : m_usage(usage) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.rfind("--", 0) != 0 || arg == "--") {
            if (!optionsEnded && arg == "--") {
                optionsEnded = true;
            } else {
                m_operands.push_back(arg);
            }
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (name == "help") {
            m_help = true;
            return;
        }
        const auto option = std::find_if(usage.options.begin(), usage.options.end(),
                                         [&](const Option& o) { return name == o.name; });
        if (option == usage.options.end()) {
            fail("unknown option --" + name);
        }
        if (option->value == nullptr) {
            if (equals != std::string::npos) {
                fail("--" + name + " takes no value");
            }
            m_values[name] = "";
        } else if (equals != std::string::npos) {
            m_values[name] = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            m_values[name] = argv[++i];
        } else {
            fail("--" + name + " needs a value");
        }
    }
    if (m_operands.size() != usage.operands) {
        fail(usage.operands == 0 ? "unexpected argument '" + m_operands.front() + "'"
                                 : "expected " + std::to_string(usage.operands) +
                                       " argument(s) besides the options, not " + std::to_string(m_operands.size()));
    }
}

void Options::fail(const std::string& message) const { throw Failure(kBadUsage, message + hint(m_usage)); }

std::string Options::text(const char* name, const std::string& fallback) const {
    const auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second;
}

std::string Options::required(const char* name) const {
    const auto it = m_values.find(name);
    if (it == m_values.end() || it->second.empty()) {
        fail(std::string("--") + name + " is required");
    }
    return it->second;
}

int64_t Options::integer(const char* name, int64_t fallback, int64_t min, int64_t max) const {
    const auto it = m_values.find(name);
    if (it == m_values.end()) {
        return fallback;
    }
    int64_t value = 0;
    if (!parseInteger(it->second, value) || value < min || value > max) {
        fail(std::string("--") + name + " needs a whole number from " + std::to_string(min) + " to " +
             std::to_string(max) + ", not '" + it->second + "'");
    }
    return value;
}

double Options::number(const char* name, double fallback, double min, double max) const {
    const auto it = m_values.find(name);
    if (it == m_values.end()) {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(it->second.c_str(), &end);
    if (it->second.empty() || *end != '\0' || !std::isfinite(value) || value < min || value > max) {
        char range[64];
        std::snprintf(range, sizeof range, "from %g to %g", min, max);
        fail(std::string("--") + name + " needs a number " + range + ", not '" + it->second + "'");
    }
    return value;
}

int run(const Usage& usage, int argc, char** argv, const std::function<int(const Options&)>& body) {
    try {
        const Options options(usage, argc, argv);
        if (options.help()) {
            printUsage(usage, std::cout);
            return 0;
        }
        holdStopSignals();
        return body(options);
    } catch (const Failure& failure) {
        std::cout.flush();
        std::cerr << usage.tool << ": " << failure.what() << std::endl;
        return failure.status;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << usage.tool << ": " << e.what() << std::endl;
        return kFailed;
    }
}

bool stopRequested() { return g_stop != 0; }

Clock::time_point deadlineAfter(double seconds) {
    if (seconds < 0) {
        return Clock::time_point::max();
    }
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

Waited waitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    takeStopSignals();
    for (;;) {
        if (done()) {
            return Waited::kDone;
        }
        if (stopRequested()) {
            return Waited::kStopped;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return Waited::kTimedOut;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
}

bool sleepUntilMonotonic(int64_t monotonicNs) {
    takeStopSignals();
    const int64_t ns = std::max<int64_t>(monotonicNs, 0);
    timespec until{};
    until.tv_sec = static_cast<time_t>(ns / 1000000000);
    until.tv_nsec = static_cast<long>(ns % 1000000000);
    while (!stopRequested()) {
        const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (rc == 0) {
            return !stopRequested();
        }
        if (rc != EINTR) {
            throw Failure(kFailed, std::string("clock_nanosleep: ") + std::strerror(rc));
        }
    }
    return false;
}

Transport::Transport(const std::string& participantName, const std::string& connectionsFile)
    : m_path(connectionsFile), m_config(std::make_shared<FACE::QV_Config>()) {
    namespace RC = FACE::RETURN_CODE_TYPE;
    const std::string cannot = "cannot use connections file " + m_path + ": ";
    if (std::FILE* file = std::fopen(m_path.c_str(), "r")) {
        std::fclose(file);
    } else {
        throw Failure(kBadUsage, cannot + std::strerror(errno));
    }
    RC::Value code = RC::NO_ERROR;
    m_config->Initialize(m_path.c_str(), code);
    if (code != RC::NO_ERROR) {
        throw Failure(kBadUsage, cannot + "not an XML document of configuration sets");
    }
    FACE::Configuration::HANDLE_TYPE handle = -1;
    m_config->Open("FastRtps", handle, code);
    if (code != RC::NO_ERROR) {
        throw Failure(kBadUsage, cannot + "no \"FastRtps\" set");
    }
    m_config->Close(handle, code);
    m_tss = std::make_shared<FACE::TSS::QV_TSS>(participantName);
    m_tss->Set_Reference("", m_config, 0, code);
    if (code == RC::NO_ERROR) {
        m_tss->Initialize(m_path.c_str(), code);
    }
    if (code != RC::NO_ERROR) {
        // The reason (a bad setting, a security file) was printed above.
        throw Failure(kBadUsage, cannot + "no DDS participant can be made from it (" + RC::Name(code) + ")");
    }
}

Transport::~Transport() = default;

FACE::TSS::CONNECTION_ID_TYPE Transport::connect(const std::string& name, const char* typeName) {
    namespace RC = FACE::RETURN_CODE_TYPE;
    // The participant's set is found by name like any other.
    RC::Value code = RC::NO_ERROR;
    FACE::Configuration::HANDLE_TYPE handle = -1;
    m_config->Open(name.c_str(), handle, code);
    if (code != RC::NO_ERROR || name == "FastRtps") {
        throw Failure(kBadUsage, "no connection \"" + name + "\" in " + m_path);
    }
    m_config->Close(handle, code);
    FACE::TSS::CONNECTION_ID_TYPE id = -1;
    FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
    m_tss->Create_Connection(name.c_str(), -1, id, size, code);
    if (code != RC::NO_ERROR) {
        throw Failure(kBadUsage, "cannot use connections file " + m_path + ": connection \"" + name +
                                     "\" has no usable TopicType and PubSubType");
    }
    // A sample handed to another type's serializer would be read as that type.
    const std::string carried = m_tss->connectionMap_mutex_at(FACE::TSS::QV_TSS::ConnectionKey(id)).type()->getName();
    if (carried != typeName) {
        throw Failure(kBadUsage, "cannot use connections file " + m_path + ": connection \"" + name + "\" carries " +
                                     carried + ", not " + typeName);
    }
    return id;
}

int32_t Transport::matchedWriter(FACE::TSS::CONNECTION_ID_TYPE id) const {
    const auto* listener = m_tss->connectionMap_mutex_at(FACE::TSS::QV_TSS::ConnectionKey(id)).publisherListener();
    return listener != nullptr ? listener->matched() : 0;
}

int32_t Transport::matchedReader(FACE::TSS::CONNECTION_ID_TYPE id) const {
    const auto* listener = m_tss->connectionMap_mutex_at(FACE::TSS::QV_TSS::ConnectionKey(id)).subscriberListener();
    return listener != nullptr ? listener->matched() : 0;
}

bool Transport::flush(FACE::TSS::CONNECTION_ID_TYPE id, double seconds) const {
    eprosima::fastrtps::Publisher* publisher =
        m_tss->connectionMap_mutex_at(FACE::TSS::QV_TSS::ConnectionKey(id)).publisher();
    return publisher != nullptr &&
           publisher->wait_for_all_acked(eprosima::fastrtps::Duration_t(std::max(seconds, 0.0)));
}

}  // namespace tools
