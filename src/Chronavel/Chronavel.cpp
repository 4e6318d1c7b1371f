#include "Chronavel/Chronavel.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <type_traits>

#include "ASPN/HealthReporter.h"
#include "FACE/QV_Config.h"
#include "FACE/QV_Config_Helpers.h"

using FACE::RETURN_CODE_TYPE::Value;

namespace {

constexpr uint8_t kServerId = 44;
const char kSystemSet[] = "Quorvane";

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

Chronavel::Chronavel()
    : m_serverId(kServerId),
      m_serverName(ASPN2::ServerIds::to_string(kServerId)),
      m_timeService(m_serverName) {}

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

void Chronavel::Framework_Connect(const FACE::String& /*configuration*/, Value& code) {
    // The transports, the FPGA, the health reporter and the time service are
    // not wired yet: say so rather than pretend to be connected.
    std::cout << m_serverName << ": Framework_Connect is not available in this build" << std::endl;
    code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void Chronavel::Framework_Disconnect(Value& code) {
    code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
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
