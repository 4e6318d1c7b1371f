// chronavel-check: reads a configuration as the server would, without a
// board: the top-level file, its connections file and its IO devices file,
// each through the server's own readers. Prints the settings the server
// would run with and every problem, as "file:line: text". Touches no
// device, opens no DDS participant, starts nothing.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "ASPN/DeviceIds.h"
#include "Chronavel/Chronavel.h"
#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"
#include "FACE/QV_Devmem.h"
#include "FACE/TSS_Attributes.h"
#include "FACE/TSS_Security.h"
#include "FACE/TSS_Topics.h"

namespace {

using FACE::RETURN_CODE_TYPE::Value;
namespace RC = FACE::RETURN_CODE_TYPE;

constexpr int kOk = 0;
constexpr int kProblems = 2;
const char kTool[] = "chronavel-check";

// One file as the server reads it, and the XML tree to find the line a
// problem refers to.
class CheckedFile {
public:
    CheckedFile(std::string path, std::vector<std::string>& problems)
        : m_path(std::move(path)), m_problems(problems) {}

    // False, after saying why, when the file cannot be read or is no
    // configuration; the server's reader then has it.
    bool load() {
        std::ifstream probe(m_path);
        if (!probe) {
            add(0, std::string("cannot be read: ") + std::strerror(errno));
            return false;
        }
        if (m_document.LoadFile(m_path.c_str()) != tinyxml2::XML_SUCCESS) {
            // The reader's own words, without the line it repeats.
            std::string detail = m_document.ErrorStr();
            const size_t at = detail.find(": ", detail.find("Line number="));
            detail = at == std::string::npos ? std::string() : " (" + detail.substr(at + 2) + ")";
            add(m_document.ErrorLineNum(), std::string("malformed XML: ") + m_document.ErrorName() + detail);
            return false;
        }
        capture([&] {
            Value code = RC::NO_ERROR;
            m_config.Initialize(FACE::String(m_path.c_str()), code);
            if (code != RC::NO_ERROR) {
                std::cout << "not a configuration file (the root element is not QV_Configurations)\n";
            }
        });
        return m_problems.size() == m_before;
    }

    FACE::QV_Config& config() { return m_config; }

    // Opens a set; a missing one is a problem.
    bool open(const char* set, FACE::Configuration::HANDLE_TYPE& handle) {
        Value code = RC::NO_ERROR;
        m_config.Open(set, handle, code);
        if (code != RC::NO_ERROR) {
            add(rootLine(), std::string("no configuration set named ") + set);
            return false;
        }
        m_openSet = set;
        return true;
    }

    // Runs one of the server's readers; each line it prints is a problem.
    // A "not found" warning is left out when a later line names the same
    // parameter: the server says it twice.
    void capture(const std::function<void()>& read) {
        std::ostringstream out;
        std::streambuf* const saved = std::cout.rdbuf(out.rdbuf());
        try {
            read();
        } catch (...) {
            std::cout.rdbuf(saved);
            throw;
        }
        std::cout.rdbuf(saved);
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string parameter = notFoundParameter(lines[i]);
            bool repeated = false;
            for (size_t j = i + 1; j < lines.size() && !parameter.empty(); ++j) {
                repeated = repeated || lines[j].find(" " + parameter + " ") != std::string::npos;
            }
            if (!repeated) {
                add(lineOf(lines[i]), lines[i]);
            }
        }
    }

    // The text of a parameter of the open set, or empty; a missing one is a
    // problem unless it is read again after the server has said so.
    std::string value(FACE::Configuration::HANDLE_TYPE handle, const char* parameter, bool again = false) {
        std::string text;
        std::ostringstream ignored;
        auto read = [&] { text = QV_Config_Helpers::Details::Read_Config(m_config, handle, parameter); };
        if (again) {
            std::streambuf* const saved = std::cout.rdbuf(ignored.rdbuf());
            read();
            std::cout.rdbuf(saved);
        } else {
            capture(read);
        }
        return text;
    }

    void add(int line, const std::string& text) {
        m_problems.push_back(m_path + (line > 0 ? ":" + std::to_string(line) : std::string()) +
                             ": " + text);
    }

    // The line of a parameter of the open set (else of the set, else 0).
    int lineOf(const std::string& text) {
        const tinyxml2::XMLElement* set = findSet(m_openSet);
        if (set == nullptr) {
            return 0;
        }
        const tinyxml2::XMLElement* parameters = set->FirstChildElement("Parameters");
        for (const tinyxml2::XMLElement* p = parameters ? parameters->FirstChildElement() : nullptr;
             p != nullptr; p = p->NextSiblingElement()) {
            const std::string name = p->Name();
            if (text.find(" " + name + " ") != std::string::npos) {
                return p->GetLineNum();
            }
        }
        return set->GetLineNum();
    }

    bool has(const char* set) const { return findSet(set) != nullptr; }

    const std::string& path() const { return m_path; }

private:
    static std::string notFoundParameter(const std::string& line) {
        const std::string head = "WARNING - Parameter ";
        const std::string tail = " not found";
        if (line.rfind(head, 0) == 0 && line.size() > head.size() + tail.size() &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
            return line.substr(head.size(), line.size() - head.size() - tail.size());
        }
        return std::string();
    }

    int rootLine() const {
        const tinyxml2::XMLElement* root = m_document.FirstChildElement("QV_Configurations");
        return root != nullptr ? root->GetLineNum() : 0;
    }

    const tinyxml2::XMLElement* findSet(const std::string& name) const {
        const tinyxml2::XMLElement* root = m_document.FirstChildElement("QV_Configurations");
        for (const tinyxml2::XMLElement* set = root ? root->FirstChildElement() : nullptr; set != nullptr;
             set = set->NextSiblingElement()) {
            const tinyxml2::XMLElement* n = set->FirstChildElement("Name");
            if ((n != nullptr && n->GetText() != nullptr && name == n->GetText()) || name == set->Name()) {
                return set;
            }
        }
        return nullptr;
    }

    std::string m_path;
    std::vector<std::string>& m_problems;
    size_t m_before = m_problems.size();
    tinyxml2::XMLDocument m_document;
    FACE::QV_Config m_config;
    std::string m_openSet;
};

// What the server keeps of the top-level file.
struct ServerSettings {
    FACE::String system, configuration, connections, ioDevices, phcDevice;
    bool debug = false, quietNtp = false;
    unsigned short priority = 0, cpu = 0, utcSource = 0;
    int enableRegister = 0, pulseSelectRegister = 0;
    unsigned int pulseSelection = 0, ppsCount = 0;
    double utc2tai = 0.0, ppsThreshold = 0.0;
};

// Numbers the server reads without a bound and would silently cut or take
// as 0: the range in which they mean what they say.
struct Range {
    const char* parameter;
    int64_t min;
    int64_t max;
};
const Range kServerRanges[] = {
    {"PRI", 0, 99},       {"CPU", 0, 1024},     {"PARAM_2", 0, 255},  {"PARAM_3", 0, 0x7FFFFFFF},
    {"PARAM_4", 0, 0x7FFFFFFF}, {"PARAM_5", 0, 0xFFFFFFFF}, {"PARAM_9", 0, 0xFFFFFFFF},
};

void checkTopLevel(CheckedFile& file, ServerSettings& s, std::ostream& out) {
    FACE::Configuration::HANDLE_TYPE handle = -1;
    if (file.open("Quorvane", handle)) {
        Value code = RC::NO_ERROR;
        file.capture([&] { GetSystemParameters(file.config(), handle, s.system, s.configuration, code); });
    }
    const std::string server = ASPN2::ServerIds::to_string(44);
    if (!file.open(server.c_str(), handle)) {
        return;
    }
    Value code = RC::NO_ERROR;
    file.capture([&] {
        GetConfigParameters(file.config(), handle, s.connections, s.ioDevices, s.debug, s.priority,
                            s.cpu, s.quietNtp, s.utcSource, s.enableRegister, s.pulseSelectRegister,
                            s.pulseSelection, s.phcDevice, s.utc2tai, s.ppsThreshold, s.ppsCount, code);
    });
    for (const Range& r : kServerRanges) {
        const std::string text = file.value(handle, r.parameter, true);
        int64_t number = 0;
        if (!text.empty() && !QV_Config_Helpers::ParseSigned(text, r.min, r.max, number)) {
            file.add(file.lineOf(std::string(" ") + r.parameter + " "),
                     std::string(r.parameter) + " \"" + text + "\" is not a number from " +
                         std::to_string(r.min) + " to " + std::to_string(r.max));
        }
    }
    for (const char* real : {"PARAM_7", "PARAM_8"}) {
        const std::string text = file.value(handle, real, true);
        char* end = nullptr;
        const double number = std::strtod(text.c_str(), &end);
        if (!text.empty() && (end == text.c_str() || *end != '\0' || std::isnan(number))) {
            file.add(file.lineOf(std::string(" ") + real + " "),
                     std::string(real) + " \"" + text + "\" is not a number");
        }
    }
    out << "top-level file " << file.path() << "\n"
        << "  system " << s.system.str() << ", configuration " << s.configuration.str() << "\n"
        << "  connections file " << s.connections.str() << "\n"
        << "  IO devices file " << s.ioDevices.str() << "\n"
        << "  debug " << s.debug << ", real-time priority " << s.priority << ", CPU " << s.cpu
        << ", quiet NTP " << s.quietNtp << "\n"
        << "  UTCTime source server id " << (s.utcSource & 0xFFu) << "\n"
        << "  NTP interrupt enable register " << s.enableRegister << ", pulse select register "
        << s.pulseSelectRegister << ", pulse selection " << s.pulseSelection << "\n"
        << "  PHC device " << s.phcDevice.str() << ", TAI - UTC " << s.utc2tai << " s\n"
        << "  PPS settled within " << s.ppsThreshold << " ns, after more than " << s.ppsCount
        << " aligned messages\n";
}

void checkConnections(CheckedFile& file, std::ostream& out) {
    FACE::Configuration::HANDLE_TYPE handle = -1;
    out << "connections file " << file.path() << "\n";
    if (file.open("FastRtps", handle)) {
        FACE::TSS::Details::FastRtpsSettings settings;
        bool read = false;
        file.capture([&] { read = FACE::TSS::Details::ReadFastRtpsSettings(file.config(), handle, settings); });
        if (read) {
            try {
                const auto attributes = FACE::TSS::Details::MakeParticipantAttributes(kTool, settings);
                if (attributes.rtps.userTransports.empty()) {
                    file.add(file.lineOf(" UseTransport "),
                             "unknown transport \"" + settings.transport +
                                 "\" (SHM, UDP, TCP_Client or TCP_Server)");
                }
            } catch (const std::exception& e) {
                file.add(file.lineOf(" TcpAddress "), e.what());
            }
            out << "  DDS domain " << settings.domainId << ", history depth " << settings.historyDepth
                << (settings.useBestEffort ? ", best effort" : ", reliable")
                << (settings.backFillHistory ? ", back-fill" : "") << ", transport " << settings.transport;
            if (settings.transport.rfind("TCP", 0) == 0) {
                out << " " << settings.tcpAddress << ":" << settings.tcpPort;
            }
            out << "\n";
        }
    }
    // The optional security set: its files are checked as the server checks
    // them before it makes its participant; each problem names its file.
    if (file.has(FACE::TSS::Security::kSetName) && file.open(FACE::TSS::Security::kSetName, handle)) {
        FACE::TSS::Security::Files files;
        bool read = false;
        file.capture([&] { read = FACE::TSS::Security::ReadFiles(file.config(), handle, files); });
        if (read) {
            for (const FACE::TSS::Security::Problem& problem : FACE::TSS::Security::Check(files)) {
                file.add(file.lineOf(""), problem.line());
            }
            out << "  DDS security: identity " << files.identityCertificate << ", permissions "
                << files.permissions << ", governance " << files.governance << "\n";
        }
    }

    for (const char* topic : {"EventLog", "Command", "Response", "UTCTime"}) {
        if (!file.open(topic, handle)) {
            continue;
        }
        const std::string topicType = file.value(handle, "TopicType");
        const std::string pubSubType = file.value(handle, "PubSubType");
        if (pubSubType.empty()) {
            continue;
        }
        const auto type = FACE::TSS::Topics::GetPubSubType(pubSubType);
        if (!type) {
            file.add(file.lineOf(" PubSubType "), "unknown PubSubType \"" + pubSubType + "\"");
        } else if (!topicType.empty() && topicType != type->getName()) {
            file.add(file.lineOf(" TopicType "), "TopicType \"" + topicType + "\" is not " +
                                                      type->getName() + ", the type " + pubSubType +
                                                      " registers");
        }
        out << "  topic " << topic << ": " << topicType << "\n";
    }
}

void checkIoDevices(CheckedFile& file, std::ostream& out) {
    out << "IO devices file " << file.path() << "\n";
    // No device behind the service: a window is read and parsed as the
    // server does, and its mapping fails harmlessly.
    auto io = std::make_shared<FACE::IOSS::QV_Devmem>(std::string());
    auto configuration = std::shared_ptr<FACE::Configuration>(&file.config(), [](FACE::Configuration*) {});
    Value code = RC::NO_ERROR;
    io->Set_Reference(FACE::String(), configuration, 0, code);
    io->Initialize(FACE::String(file.path().c_str()), code);
    // The windows FpgaFace opens; the FPGA says how many PTFE blocks it has,
    // so those come in pairs from 0 up to the first missing one.
    std::vector<std::string> windows = {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                                        "PpsSlave_Interface", "PtpClock_Interface"};
    int blocks = 0;
    for (;; ++blocks) {
        FACE::Configuration::HANDLE_TYPE handle = -1;
        Value found = RC::NO_ERROR;
        file.config().Open(("Ptfe_Interface" + std::to_string(blocks)).c_str(), handle, found);
        if (found != RC::NO_ERROR) {
            break;
        }
        file.config().Close(handle, found);
        windows.push_back("Ptfe_Interface" + std::to_string(blocks));
        windows.push_back("PulseGen_Interface" + std::to_string(blocks));
    }
    for (const std::string& window : windows) {
        FACE::Configuration::HANDLE_TYPE handle = -1;
        if (!file.open(window.c_str(), handle)) {
            continue;
        }
        const std::string base = file.value(handle, "BaseAddress");
        const std::string size = file.value(handle, "Size");
        FACE::IOSS::CONNECTION_HANDLE_TYPE connection = -1;
        Value opened = RC::NO_ERROR;
        io->Open_Connection(FACE::String(window.c_str()), 0, connection, opened);
        if (opened != RC::NO_ERROR && !base.empty() && !size.empty()) {
            file.add(file.lineOf(" BaseAddress "),
                     window + ": BaseAddress \"" + base + "\" or Size \"" + size + "\" is not a number");
        } else if (opened == RC::NO_ERROR) {
            out << "  " << window << ": " << base << ", " << size << " bytes\n";
        }
    }
    out << "  " << blocks << " PTFE block(s) configured\n";
}

int usage(std::ostream& out, int status) {
    out << "Usage: " << kTool << " <top-level-config-file>\n"
        << "       " << kTool << " --version\n"
        << "Reads the configuration as chronavel would (the top-level file, its connections\n"
        << "file and its IO devices file), prints the settings it would run with and every\n"
        << "problem as FILE:LINE: TEXT. Exit status 0: no problem; 2: problems (or bad usage).\n";
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string arg = argc == 2 ? argv[1] : "";
    if (arg == "--help" || arg == "-h") {
        return usage(std::cout, kOk);
    }
    if (arg == "--version") {
        std::cout << kTool << " " << CHRONAVEL_VERSION << "\n"
                  << "server " << ChronavelProduct::identity(ASPN2::ServerIds::to_string(44)) << " "
                  << ChronavelProduct::kPartNumber << "\n";
        return kOk;
    }
    if (argc != 2 || arg.empty() || arg[0] == '-') {
        return usage(std::cerr, kProblems);
    }

    std::vector<std::string> problems;
    std::ostringstream settings;
    ServerSettings server;
    {
        CheckedFile top(arg, problems);
        if (top.load()) {
            checkTopLevel(top, server, settings);
        }
    }
    // Relative names are the server's too: against the working directory.
    if (server.connections.length() > 0) {
        CheckedFile connections(server.connections.str(), problems);
        if (connections.load()) {
            checkConnections(connections, settings);
        }
    }
    if (server.ioDevices.length() > 0) {
        CheckedFile io(server.ioDevices.str(), problems);
        if (io.load()) {
            checkIoDevices(io, settings);
        }
    }

    std::cout << settings.str();
    for (const std::string& problem : problems) {
        std::cerr << problem << "\n";
    }
    if (!problems.empty()) {
        std::cerr << kTool << ": " << problems.size() << " problem(s) in the configuration\n";
        return kProblems;
    }
    std::cout << kTool << ": the configuration is fine\n";
    return kOk;
}
