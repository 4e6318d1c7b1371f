#include "Chronavel/Chronavel.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <type_traits>

#include "ASPN/CommandStrings.h"
#include "ASPN/HealthReporter.h"
#include "ASPN/TimeCodeHelper.h"
#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"
#include "platform/FPGA.h"

using FACE::RETURN_CODE_TYPE::Value;

namespace {

constexpr uint8_t kServerId = 44;
const char kSystemSet[] = "Quorvane";
// Reports name this file without the build machine's directories.
constexpr const char* kSourceFile = "Chronavel/Chronavel.cpp";
constexpr const char* kSourceBaseName = "Chronavel.cpp";

// Source positions of the receive callbacks' reports.
enum CallbackLine : int {
    kUtcExceptionEvent = 710,
    kUtcExceptionEcho = 711,
    kUtcUnknownEvent = 717,
    kUtcUnknownEcho = 718,
    kCmdExceptionEvent = 612,
    kCmdUnknownEvent = 618,
    kCmdStopFailed = 589,
    kCmdPublishFailed = 601,
    kUtcBacklogDropped = 704,
};

// Reads one server parameter after another; a failed one is reported and
// leaves its output unchanged, and reading goes on.
class ParameterReader {
public:
    ParameterReader(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                    Value& code)
        : m_config(config), m_handle(handle), m_code(code) {}

    void text(int number, const char* key, const char* description, FACE::String& out) {
        Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        QV_Config_Helpers::Get_String_Parameter(m_config, m_handle, key, out, code);
        check(code == FACE::RETURN_CODE_TYPE::NO_ERROR, number, key, description);
    }

    void boolean(int number, const char* key, const char* description, bool& out) {
        Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
        QV_Config_Helpers::Get_Boolean_Parameter(m_config, m_handle, key, out, code);
        check(code == FACE::RETURN_CODE_TYPE::NO_ERROR, number, key, description);
    }

    // Integers follow strtoull/strtoll in base 0 and keep the low bits that
    // fit; floating values follow strtold.
    template <class T>
    void number(int number, const char* key, const char* description, T& out) {
        const std::string text = QV_Config_Helpers::Details::Read_Config(m_config, m_handle, key);
        if (!check(!text.empty(), number, key, description)) {
            return;
        }
        if constexpr (std::is_floating_point<T>::value) {
            out = static_cast<T>(std::strtold(text.c_str(), nullptr));
        } else if constexpr (std::is_unsigned<T>::value) {
            out = static_cast<T>(std::strtoull(text.c_str(), nullptr, 0));
        } else {
            using U = typename std::make_unsigned<T>::type;
            out = static_cast<T>(static_cast<U>(std::strtoll(text.c_str(), nullptr, 0)));
        }
    }

private:
    bool check(bool ok, int number, const char* key, const char* description) {
        if (!ok) {
            std::cout << "Chronavel (" << number
                      << ") GetConfigParameters : error or could not find setting, " << key << " ("
                      << description << ") in configuration file!" << std::endl;
            m_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        }
        return ok;
    }

    FACE::Configuration& m_config;
    FACE::Configuration::HANDLE_TYPE m_handle;
    Value& m_code;
};

}  // namespace

void GetSystemParameters(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                         FACE::String& system, FACE::String& configuration, Value& code) {
    code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    QV_Config_Helpers::Get_String_Parameter(config, handle, "System", system, code);
    QV_Config_Helpers::Get_String_Parameter(config, handle, "Configuration", configuration, code);
}

void GetConfigParameters(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                         FACE::String& connections, FACE::String& ioDevices, bool& debug,
                         unsigned short& priority, unsigned short& cpu, bool& quietNtp,
                         unsigned short& utcTimeSourceId, int& enableRegister,
                         int& pulseSelectRegister, unsigned int& pulseSelection,
                         FACE::String& phcDevice, double& utc2taiOffset,
                         double& ppsSettledErrorThreshold,
                         unsigned int& ppsCountRequiredWithinThreshold, Value& code) {
    code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    ParameterReader read(config, handle, code);
    read.text(83, "Connections", "Connections file", connections);
    read.text(84, "IODevices", "Devices file", ioDevices);
    read.boolean(85, "Debug", "debug flag", debug);
    read.number(86, "PRI", "process priority", priority);
    read.number(87, "CPU", "CPU value", cpu);
    read.boolean(88, "PARAM_1", "doQuietNTP setting", quietNtp);
    read.number(89, "PARAM_2", "UTCTime source server ID", utcTimeSourceId);
    read.number(90, "PARAM_3", "NTP_Interrupt_Enable_Register", enableRegister);
    read.number(91, "PARAM_4", "NTP_Interrupt_Pulse_Select_Register", pulseSelectRegister);
    read.number(92, "PARAM_5", "NTP_Interrupt_Pulse_Selection", pulseSelection);
    read.text(93, "PARAM_6", "PHC_Device", phcDevice);
    read.number(94, "PARAM_7", "Utc2Tai_Offset", utc2taiOffset);
    read.number(95, "PARAM_8", "ppsSettledErrorThreshold", ppsSettledErrorThreshold);
    read.number(96, "PARAM_9", "ppsCountRequiredWithinThreshold", ppsCountRequiredWithinThreshold);
}

bool okSetRealtimeProcessPriority(uint8_t priority) {
    int lowest = sched_get_priority_min(SCHED_FIFO);
    int highest = sched_get_priority_max(SCHED_FIFO);
    if (lowest == -1 || highest == -1) {
        lowest = 1;
        highest = 99;
    }
    struct sched_param param {};
    param.sched_priority = priority < lowest ? lowest : (priority > highest ? highest : priority);
    return sched_setscheduler(0, SCHED_FIFO, &param) == 0;
}

bool okSetCpuAffinity(uint8_t cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= 1) {  // an 8-bit number always fits the 1024-processor set
        CPU_SET(cpu - 1, &set);
    }
    const bool failed = sched_setaffinity(0, sizeof(set), &set) != 0;
    cpu_set_t actual;
    CPU_ZERO(&actual);
    if (sched_getaffinity(0, sizeof(actual), &actual) == 0) {
        for (int i = 0; i < CPU_SETSIZE; ++i) {
            if (CPU_ISSET(i, &actual)) {
                std::printf("Has CPU Affinity for CPU%d\n", i + 1);
            }
        }
        std::fflush(stdout);
    }
    return !failed;
}

Chronavel::Chronavel(const ChronavelPlatform& platform)
    : m_serverId(kServerId),
      m_serverName(ASPN2::ServerIds::to_string(kServerId)),
      m_timeService(m_serverName, *platform.timeHost, *platform.fpga, *platform.ntpMemory),
      m_platform(platform),
      m_timeIntake([this](const aspn2_msgs::idl::UTCTime& message) { handleUtcTime(message); },
                   [this] {
                       HealthReporter::Instance().SendEvent(
                           kSourceFile, kUtcBacklogDropped, EventTypes::eFault,
                           m_serverName + ": UTC time messages arrive faster than the time service "
                                          "handles them; the oldest waiting one was dropped");
                   }) {
    m_timeService.setStepWatcher(platform.stepWatcher);
}

Chronavel::~Chronavel() = default;

void Chronavel::Initialize(Value& code) {
    code = FACE::RETURN_CODE_TYPE::NO_ACTION;
}

void Chronavel::Finalize(Value& code) {
    code = FACE::RETURN_CODE_TYPE::NO_ACTION;
}

void Chronavel::Configure(const FACE::String& configuration, Value& code) {
    unsigned short priority = 0;
    unsigned short cpu = 0;
    FACE::QV_Config config;
    Value result = FACE::RETURN_CODE_TYPE::NO_ERROR;

    config.Initialize(configuration, result);
    if (result == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        FACE::Configuration::HANDLE_TYPE handle = -1;
        config.Open(kSystemSet, handle, result);
        if (result == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            GetSystemParameters(config, handle, m_systemName, m_systemConfiguration, result);
            Value ignored;
            config.Close(handle, ignored);
        }
    }
    if (result == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        FACE::Configuration::HANDLE_TYPE handle = -1;
        config.Open(m_serverName.c_str(), handle, result);
        if (result == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            unsigned short utcTimeSourceId = 0;
            unsigned int ppsCount = 0;
            double ppsThreshold = 0.0;
            GetConfigParameters(config, handle, m_connectionsFile, m_ioDevicesFile, m_debug,
                                priority, cpu, m_doQuietNTP, utcTimeSourceId,
                                m_NTP_Interrupt_Enable_Register,
                                m_NTP_Interrupt_Pulse_Select_Register,
                                m_NTP_Interrupt_Pulse_Selection,
                                m_phcDeviceName, m_utc2taiTimeOffset, ppsThreshold, ppsCount,
                                result);
            m_UtcTimeSourceServerId = static_cast<uint8_t>(utcTimeSourceId & 0xFFu);
            m_timeService.ppsSettledErrorThreshold = ppsThreshold;
            m_timeService.ppsCountRequiredWithinThreshold = ppsCount;
            Value ignored;
            config.Close(handle, ignored);
        }
    }

    if (m_debug) {
        std::cout << m_serverName << " configuration parameters: "
                  << " m_debug = " << m_debug << ", priority = " << priority << ", cpu = " << cpu
                  << ", m_doQuietNTP = " << m_doQuietNTP
                  << ", m_UtcTimeSourceServerId = " << static_cast<unsigned>(m_UtcTimeSourceServerId)
                  << ", m_NTP_Interrupt_Enable_Register = " << m_NTP_Interrupt_Enable_Register
                  << ", m_NTP_Interrupt_Pulse_Select_Register = "
                  << m_NTP_Interrupt_Pulse_Select_Register
                  << ", m_NTP_Interrupt_Pulse_Selection = " << m_NTP_Interrupt_Pulse_Selection
                  << ", m_phcDeviceName = " << m_phcDeviceName.str()
                  << ", m_utc2taiTimeOffset = " << m_utc2taiTimeOffset << std::endl;
    }
    m_timeService.doDebug(m_debug ? 1 : 0);
    m_timeService.doQuiet(m_doQuietNTP ? 1 : 0);

    if (result != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }

    code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    if (priority != 0) {
        const bool ok = okSetRealtimeProcessPriority(static_cast<uint8_t>(priority & 0xFFu));
        std::cout << (ok ? "Successfully set " : "FAILED to set ") << m_serverName
                  << " realtime process priority to " << priority << std::endl;
        if (!ok) {
            code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        }
    }
    if (cpu != 0) {
        const bool ok = okSetCpuAffinity(static_cast<uint8_t>(cpu & 0xFFu));
        std::cout << (ok ? "Successfully set " : "FAILED to set ") << m_serverName
                  << " cpu affinity to " << cpu << std::endl;
        if (!ok) {
            code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        }
    }
}

// ---- framework connection ----

bool Chronavel::connectTransports() {
    namespace RC = FACE::RETURN_CODE_TYPE;
    using namespace aspn2_msgs::idl;
    const FACE::String interfaceName;

    auto configuration = std::make_shared<FACE::QV_Config>();
    m_tss = std::make_shared<FACE::TSS::QV_TSS>(m_serverName);
    Value code = RC::NO_ERROR;
    m_tss->Set_Reference(interfaceName, configuration, 0, code);
    if (code != RC::NO_ERROR) {
        return false;
    }
    m_tss->Initialize(m_connectionsFile, code);
    if (code != RC::NO_ERROR) {
        return false;
    }

    FACE::TSS::MESSAGE_SIZE_TYPE maxMessageSize = 0;
    bool connected = true;
    const std::pair<const char*, int64_t*> connections[] = {{"EventLog", &m_EventLogConnectionId},
                                                            {"Command", &m_CommandConnectionId},
                                                            {"Response", &m_ResponseConnectionId},
                                                            {"UTCTime", &m_UTCTimeConnectionId}};
    for (const auto& [name, id] : connections) {
        Value created = RC::NOT_AVAILABLE;
        m_tss->Create_Connection(name, -1, *id, maxMessageSize, created);
        connected = connected && created == RC::NO_ERROR;
    }
    if (!connected) {
        return false;
    }

    m_eventLogTS = std::make_shared<FACE::TSS::Details::QV_TypedTS<EventLog>>();
    m_cmdRspTS = std::make_shared<FACE::TSS::Details::QV_TypedTS<CommandResponse>>();
    m_utcTimeTS = std::make_shared<FACE::TSS::Details::QV_TypedTS<UTCTime>>();
    Value referenced[3] = {RC::NOT_AVAILABLE, RC::NOT_AVAILABLE, RC::NOT_AVAILABLE};
    m_eventLogTS->Set_Reference(interfaceName, m_tss, 0, referenced[0]);
    m_cmdRspTS->Set_Reference(interfaceName, m_tss, 0, referenced[1]);
    m_utcTimeTS->Set_Reference(interfaceName, m_tss, 0, referenced[2]);
    for (Value r : referenced) {
        if (r != RC::NO_ERROR) {
            return false;
        }
    }

    Value command = RC::NOT_AVAILABLE;
    Value response = RC::NOT_AVAILABLE;
    Value utcTime = RC::NOT_AVAILABLE;
    m_cmdRspTS->Register_Callback(
        m_CommandConnectionId,
        [this](FACE::TSS::CONNECTION_ID_TYPE, FACE::TSS::TRANSACTION_ID_TYPE, const CommandResponse& message,
               const FACE::TSS::HEADER_TYPE&, const FACE::TSS::QoS_EVENT_TYPE&, Value&) { cbCmdRsp(message); },
        command);
    m_cmdRspTS->Register_Sender(m_ResponseConnectionId, response);
    m_utcTimeTS->Register_Callback(
        m_UTCTimeConnectionId,
        [this](FACE::TSS::CONNECTION_ID_TYPE, FACE::TSS::TRANSACTION_ID_TYPE, const UTCTime& message,
               const FACE::TSS::HEADER_TYPE&, const FACE::TSS::QoS_EVENT_TYPE&, Value&) { cbUTCTime(message); },
        utcTime);
    if (command != RC::NO_ERROR || response != RC::NO_ERROR || utcTime != RC::NO_ERROR) {
        return false;
    }
    std::cout << m_serverName << " - Success all is well with tss" << std::endl;
    return true;
}

void Chronavel::Framework_Connect(const FACE::String& /*configuration*/, Value& code) {
    namespace RC = FACE::RETURN_CODE_TYPE;
    m_timeIntake.start();
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        m_callbacksClosed = false;
    }
    const bool transportsUp = connectTransports();

    auto ioConfiguration = std::make_shared<FACE::QV_Config>();
    m_ioService = m_platform.makeIoService();
    Value io = RC::NOT_AVAILABLE;
    m_ioService->Set_Reference(FACE::String(), ioConfiguration, 0, io);
    if (io == RC::NO_ERROR) {
        m_ioService->Initialize(m_ioDevicesFile, io);
    }
    if (io != RC::NO_ERROR || !transportsUp) {
        code = RC::INVALID_CONFIG;
        return;
    }

    m_deviceIdFactory.reset(m_systemName.str(), m_serverId);
    m_cmdResponse.reset(m_deviceIdFactory);
    m_platform.fpga->InitFpga(m_ioService);
    HealthReporter& reporter = HealthReporter::Instance();
    reporter.InitHealthReporter(m_serverName, m_deviceIdFactory, m_eventLogTS, m_EventLogConnectionId);
    // The reporter outlives a connection: a connect replaces the events an
    // earlier one of this server left (same texts) instead of adding to them.
    const std::string product = productText();
    for (const std::string& text : {identityText(), product}) {
        reporter.ReplaceConfigEvent(text, ASPN2::EventQueue::configId(text));
    }
    std::cout << product << std::endl;

    m_platform.fpga->fpga_set_periph_control(m_NTP_Interrupt_Pulse_Select_Register,
                                                 m_NTP_Interrupt_Pulse_Selection);
    m_timeService.initialize(static_cast<uint32_t>(m_NTP_Interrupt_Enable_Register), m_phcDeviceName,
                             m_utc2taiTimeOffset);
    code = RC::NO_ERROR;
}

void Chronavel::Framework_Disconnect(Value& code) {
    // Nothing that a callback may still use is taken down before the last
    // one has returned.
    closeCallbacks();
    m_timeIntake.stop();
    HealthReporter::Instance().DoneHealthReporter();
    // While the FPGA is still reachable: afterwards the write would be lost.
    m_timeService.disableNtpInterrupt();
    m_platform.fpga->DoneFpga();
    if (m_tss) {
        const int64_t ids[] = {m_UTCTimeConnectionId, m_CommandConnectionId, m_ResponseConnectionId,
                               m_EventLogConnectionId};
        Value ignored;
        for (int64_t id : ids) {
            m_tss->Unregister_Callback(id, ignored);
        }
        for (int64_t id : ids) {
            m_tss->Unregister_Sender(id, ignored);
        }
        for (int64_t id : ids) {
            m_tss->Destroy_Connection(id, ignored);
        }
    }
    code = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

std::string ChronavelProduct::identity(const std::string& serverName) {
    return "//aspn://Zelmar/" + serverName + ":" + kBuildTime + "/";
}

std::string Chronavel::identityText() const {
    return ChronavelProduct::identity(m_serverName);
}

std::string Chronavel::productText() const {
    return m_serverName + " KPN: " + ChronavelProduct::kPartNumber + "  " + ChronavelProduct::kNotice;
}

// ---- receive callbacks ----

class Chronavel::CallbackScope {
public:
    explicit CallbackScope(Chronavel& server) : m_server(server) {
        std::lock_guard<std::mutex> lock(server.m_callbackMutex);
        m_open = !server.m_callbacksClosed && server.isStarted();
        if (m_open) {
            ++server.m_callbacksRunning;
        }
    }
    ~CallbackScope() {
        if (m_open) {
            std::lock_guard<std::mutex> lock(m_server.m_callbackMutex);
            if (--m_server.m_callbacksRunning == 0) {
                m_server.m_callbacksIdle.notify_all();
            }
        }
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

    bool open() const { return m_open; }

private:
    Chronavel& m_server;
    bool m_open = false;
};

void Chronavel::closeCallbacks() {
    std::unique_lock<std::mutex> lock(m_callbackMutex);
    m_callbacksClosed = true;
    m_callbacksIdle.wait(lock, [&] { return m_callbacksRunning == 0; });
}

template <class Work>
void Chronavel::guardUtcTime(Work&& work) {
    try {
        work();
    } catch (const std::exception& e) {
        const std::string text = m_serverName + ": An exception occurred. Details: " + e.what();
        HealthReporter::Instance().SendEvent(kSourceFile, kUtcExceptionEvent, EventTypes::eException, text);
        std::cout << kSourceBaseName << " (" << kUtcExceptionEcho << ") " << "cbUTCTime" << " : " << text
                  << std::endl;
    } catch (...) {
        const std::string text = m_serverName + ": Unknown c++ exception in " + "cbUTCTime";
        HealthReporter::Instance().SendEvent(kSourceFile, kUtcUnknownEvent, EventTypes::eException, text);
        std::cout << kSourceBaseName << " (" << kUtcUnknownEcho << ") " << "cbUTCTime" << " : " << text
                  << std::endl;
    }
}

void Chronavel::cbUTCTime(const aspn2_msgs::idl::UTCTime& message) {
    const CallbackScope scope(*this);
    if (!scope.open()) {
        return;
    }
    guardUtcTime([&] {
        const uint32_t id = (static_cast<uint32_t>(message.header().device_id()) >> 16) & 0xFFu;
        if (m_UtcTimeSourceServerId != 0 && m_UtcTimeSourceServerId != id) {
            return;
        }
        if (m_debug) {
            std::cout << m_serverName << ": " << "cbUTCTime"
                      << " : Processing UTC Time message received from " << ASPN2::ServerIds::to_string(id)
                      << ", server ID = " << id << ": " << message.gps_tow_sec() << "sec "
                      << message.gps_tow_nsec() << " nsec, errEst " << message.covariance()[0][0]
                      << std::endl;
        }
        m_timeIntake.offer(message);
    });
}

// On the time service's thread, one message at a time.
void Chronavel::handleUtcTime(const aspn2_msgs::idl::UTCTime& message) {
    const CallbackScope scope(*this);
    if (!scope.open()) {
        return;
    }
    guardUtcTime([&] { m_timeService.newFACEUtcTime(message); });
}

void Chronavel::cbCmdRsp(const aspn2_msgs::idl::CommandResponse& command) {
    const CallbackScope scope(*this);
    if (!scope.open()) {
        return;
    }
    try {
        if (command.command_response_type() != 0) {
            return;  // replies, our own included
        }
        const std::string& text = command.command_response();
        if (text == Sys::CommandString::SystemModeLive) {
            ASPN2::TimeCodeHelper::Instance().setLiveMode();
            sendCommandReply(m_cmdResponse.makeResponse(command, true));
        } else if (text == Sys::CommandString::SystemModeSim) {
            ASPN2::TimeCodeHelper::Instance().setSimMode();
            sendCommandReply(m_cmdResponse.makeResponse(command, true));
        } else if (text == Sys::CommandString::BitServerPing) {
            sendCommandReply(m_cmdResponse.makeResponse(command, m_serverName));
        } else if (text == Sys::CommandString::StartSystemZeroize ||
                   text == Sys::CommandString::StartSystemDestroy) {
            if (!m_timeService.stopSystemServices()) {
                const std::string failure = m_serverName + ": " + kSourceBaseName + " (" +
                                            std::to_string(kCmdStopFailed) +
                                            "): Error stopping time services for " + text;
                HealthReporter::Instance().SendEvent(kSourceFile, kCmdStopFailed, EventTypes::eFault, failure);
                if (m_debug) {
                    std::cout << failure << std::endl;
                }
            }
        }
    } catch (const std::exception& e) {
        const std::string text = m_serverName + ": An exception occurred. Details: " + e.what();
        HealthReporter::Instance().SendEvent(kSourceFile, kCmdExceptionEvent, EventTypes::eException, text);
        std::cout << kSourceBaseName << " (" << kCmdExceptionEvent << ") " << "cbCmdRsp" << " - " << text
                  << std::endl;
    } catch (...) {
        const std::string text = m_serverName + ": Unknown c++ exception occurred in cbCmdRsp.";
        HealthReporter::Instance().SendEvent(kSourceFile, kCmdUnknownEvent, EventTypes::eException, text);
        std::cout << kSourceBaseName << " (" << kCmdUnknownEvent << ") " << "cbCmdRsp"
                  << " : An unknown c++ exception occurred." << std::endl;
    }
}

void Chronavel::sendCommandReply(const aspn2_msgs::idl::CommandResponse& reply) {
    const int64_t tovSec = reply.header().timestamp_valid().sec();
    if (m_debug) {
        std::cout << m_serverName << ": cbCmdRsp(): TOVsec = " << tovSec << ", " << reply.command_response()
                  << std::endl;
    }
    FACE::TSS::TRANSACTION_ID_TYPE transaction = 0;
    Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_cmdRspTS->Send_Message(m_ResponseConnectionId, -1, transaction, reply, code);
    if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        HealthReporter::Instance().SendEvent(
            kSourceFile, kCmdPublishFailed, EventTypes::eFault,
            m_serverName + ": Could not publish CommandResponse for TOV = " + std::to_string(tovSec) + ", " +
                reply.command_response());
    }
}

void Chronavel::Query_State(FACE::LCM::Quorvane::ReportedState::Value& state, Value& code) {
    state = static_cast<FACE::LCM::Quorvane::ReportedState::Value>(m_reportedState.load());
    code = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

void Chronavel::Request_State_Transition(FACE::LCM::Quorvane::RequestedState::Value requested,
                                         Value& code) {
    namespace Requested = FACE::LCM::Quorvane::RequestedState;
    const int32_t state = m_reportedState.load();
    if (requested == Requested::START && state == 1) {
        HealthReporter::Instance().SendEvent(__FILE__, __LINE__, EventTypes::eStatus,
                                             m_serverName + " started successfully.");
        m_reportedState.store(0);
        code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    } else if (requested == Requested::STOP && state == 0) {
        HealthReporter::Instance().SendEvent(__FILE__, __LINE__, EventTypes::eStatus,
                                             m_serverName + " stopped successfully.");
        m_reportedState.store(1);
        code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    } else {
        code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    }
}
