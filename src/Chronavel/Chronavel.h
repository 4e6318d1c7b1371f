#ifndef CHRONAVEL_CHRONAVEL_H
#define CHRONAVEL_CHRONAVEL_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ASPN/CmdResponse.h"
#include "ASPN/DeviceIds.h"
#include "Chronavel/TimeServiceController.h"
#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"
#include "FACE/LCM.h"
#include "FACE/QV_Devmem.h"

// The time server component, driven through the FACE life cycle.
class Chronavel : public FACE::LCM::Initializable::InitializableInstance,
                  public FACE::LCM::Configurable::ConfigurableInstance,
                  public FACE::LCM::Connectable::ConnectableInstance,
                  public FACE::LCM::Quorvane::RequestedState_ReportedState::Stateful::StatefulInstance {
public:
    Chronavel();
    ~Chronavel() override;
    Chronavel(const Chronavel&) = delete;
    Chronavel& operator=(const Chronavel&) = delete;

    void Initialize(FACE::RETURN_CODE_TYPE::Value& code) override;
    void Finalize(FACE::RETURN_CODE_TYPE::Value& code) override;
    void Configure(const FACE::String& configuration, FACE::RETURN_CODE_TYPE::Value& code) override;
    void Framework_Connect(const FACE::String& configuration,
                           FACE::RETURN_CODE_TYPE::Value& code) override;
    void Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& code) override;
    void Query_State(FACE::LCM::Quorvane::ReportedState::Value& state,
                     FACE::RETURN_CODE_TYPE::Value& code) override;
    void Request_State_Transition(FACE::LCM::Quorvane::RequestedState::Value requested,
                                  FACE::RETURN_CODE_TYPE::Value& code) override;

    // Read-only views for tests and diagnostics.
    const std::string& serverName() const { return m_serverName; }
    bool debug() const { return m_debug; }
    bool doQuietNTP() const { return m_doQuietNTP; }
    uint8_t utcTimeSourceServerId() const { return m_UtcTimeSourceServerId; }
    const FACE::String& systemName() const { return m_systemName; }
    const FACE::String& systemConfiguration() const { return m_systemConfiguration; }
    const FACE::String& connectionsFile() const { return m_connectionsFile; }
    const FACE::String& ioDevicesFile() const { return m_ioDevicesFile; }
    int ntpInterruptEnableRegister() const { return m_NTP_Interrupt_Enable_Register; }
    int ntpInterruptPulseSelectRegister() const { return m_NTP_Interrupt_Pulse_Select_Register; }
    uint32_t ntpInterruptPulseSelection() const { return m_NTP_Interrupt_Pulse_Selection; }
    const FACE::String& phcDeviceName() const { return m_phcDeviceName; }
    double utc2taiTimeOffset() const { return m_utc2taiTimeOffset; }
    const TimeServiceController& timeService() const { return m_timeService; }

private:
    bool isStarted() const { return m_reportedState.load() == 0; }

    const uint8_t m_serverId;
    const std::string m_serverName;
    bool m_debug = false;
    bool m_doQuietNTP = false;
    uint8_t m_UtcTimeSourceServerId = 96;
    TimeServiceController m_timeService;
    FACE::String m_systemName;
    FACE::String m_systemConfiguration;
    FACE::String m_connectionsFile;
    FACE::String m_ioDevicesFile;
    std::atomic<int32_t> m_reportedState{1};
    ASPN2::DeviceIdFactory m_deviceIdFactory;
    ASPN2::CmdResponse m_cmdResponse;
    std::shared_ptr<FACE::IOSS::QV_Devmem> m_ioService;
    int m_NTP_Interrupt_Enable_Register = 0;
    int m_NTP_Interrupt_Pulse_Select_Register = 0;
    uint32_t m_NTP_Interrupt_Pulse_Selection = 0;
    FACE::String m_phcDeviceName;
    double m_utc2taiTimeOffset = 0.0;
};

// Reads "System" and "Configuration" of an opened system set.
void GetSystemParameters(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                         FACE::String& system, FACE::String& configuration,
                         FACE::RETURN_CODE_TYPE::Value& code);

// Reads the fourteen server parameters of an opened server set, going on
// after a failed one; every failure is reported on its own line.
void GetConfigParameters(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                         FACE::String& connections, FACE::String& ioDevices, bool& debug,
                         unsigned short& priority, unsigned short& cpu, bool& quietNtp,
                         unsigned short& utcTimeSourceId, int& enableRegister,
                         int& pulseSelectRegister, unsigned int& pulseSelection,
                         FACE::String& phcDevice, double& utc2taiOffset,
                         double& ppsSettledErrorThreshold,
                         unsigned int& ppsCountRequiredWithinThreshold,
                         FACE::RETURN_CODE_TYPE::Value& code);

// SCHED_FIFO for the calling thread, clamped to the policy's range.
bool okSetRealtimeProcessPriority(uint8_t priority);
// Pins the calling thread to one CPU, counted from 1.
bool okSetCpuAffinity(uint8_t cpu);

#endif
