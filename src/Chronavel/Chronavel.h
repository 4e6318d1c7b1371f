#ifndef CHRONAVEL_CHRONAVEL_H
#define CHRONAVEL_CHRONAVEL_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ASPN/CmdResponse.h"
#include "ASPN/DeviceIds.h"
#include "Chronavel/TimeIntake.h"
#include "Chronavel/TimeServiceController.h"
#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"
#include "FACE/LCM.h"
#include "FACE/QV_Devmem.h"
#include "FACE/QV_TSS.h"
#include "FACE/QV_TypedTS.h"
#include "aspn2_msgs/Messages.h"
#include "platform/FPGA.h"
#include "platform/NtpMemory.h"
#include "platform/TimeHost.h"

// What the server runs on. The defaults are the board: the Linux host, its
// System V NTP segments and the FPGA's windows of /dev/mem. A simulation or
// a test brings its own.
struct ChronavelPlatform {
    platform::TimeHost* timeHost = &platform::linuxTimeHost();
    platform::NtpMemory* ntpMemory = &platform::systemVNtpMemory();
    FpgaFace* fpga = &FpgaFace::Instance();
    // The IO service over the FPGA's register windows, not yet initialised.
    std::function<std::shared_ptr<FACE::IOSS::QV_Devmem>()> makeIoService = [] {
        return std::make_shared<FACE::IOSS::QV_Devmem>();
    };
    // Told of each step of the discipline run; nobody listens on the board.
    TimeServiceController::StepWatcher stepWatcher;
};

// The time server component, driven through the FACE life cycle.
class Chronavel : public FACE::LCM::Initializable::InitializableInstance,
                  public FACE::LCM::Configurable::ConfigurableInstance,
                  public FACE::LCM::Connectable::ConnectableInstance,
                  public FACE::LCM::Quorvane::RequestedState_ReportedState::Stateful::StatefulInstance {
public:
    explicit Chronavel(const ChronavelPlatform& platform = ChronavelPlatform());
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

    // The receive callbacks; they do nothing unless the server is started.
    // cbUTCTime hands the message to the time service's own thread.
    void cbUTCTime(const aspn2_msgs::idl::UTCTime& message);
    void cbCmdRsp(const aspn2_msgs::idl::CommandResponse& command);
    // Returns once every message handed to the time service is handled.
    void awaitTimeService() { m_timeIntake.awaitIdle(); }

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
    const std::shared_ptr<FACE::IOSS::QV_Devmem>& ioService() const { return m_ioService; }

    // The texts of the two configuration events of a connected server.
    std::string identityText() const;
    std::string productText() const;

private:
    bool isStarted() const { return m_reportedState.load() == 0; }

    template <class T>
    using Typed = std::shared_ptr<FACE::TSS::Details::QV_TypedTS<T>>;

    // A receive callback runs only while the server is started and
    // connected; disconnecting waits until none runs.
    class CallbackScope;
    void closeCallbacks();

    bool connectTransports();
    void handleUtcTime(const aspn2_msgs::idl::UTCTime& message);
    template <class Work>
    void guardUtcTime(Work&& work);
    void sendCommandReply(const aspn2_msgs::idl::CommandResponse& reply);

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
    int64_t m_EventLogConnectionId = -1;
    int64_t m_CommandConnectionId = -1;
    int64_t m_ResponseConnectionId = -1;
    int64_t m_UTCTimeConnectionId = -1;
    std::shared_ptr<FACE::TSS::QV_TSS> m_tss;
    Typed<aspn2_msgs::idl::EventLog> m_eventLogTS;
    Typed<aspn2_msgs::idl::CommandResponse> m_cmdRspTS;
    Typed<aspn2_msgs::idl::UTCTime> m_utcTimeTS;
    std::shared_ptr<FACE::IOSS::QV_Devmem> m_ioService;
    int m_NTP_Interrupt_Enable_Register = 0;
    int m_NTP_Interrupt_Pulse_Select_Register = 0;
    uint32_t m_NTP_Interrupt_Pulse_Selection = 0;
    FACE::String m_phcDeviceName;
    double m_utc2taiTimeOffset = 0.0;

    const ChronavelPlatform m_platform;
    std::mutex m_callbackMutex;
    std::condition_variable m_callbacksIdle;
    int m_callbacksRunning = 0;
    bool m_callbacksClosed = true;
    // Last: its thread uses the members above until it is stopped.
    TimeIntake m_timeIntake;
};

// Product data of the configuration events.
namespace ChronavelProduct {
constexpr const char* kPartNumber = "CHV-TS-0100-A";
constexpr const char* kNotice = "  Chronavel time server - UTC, NTP and PTP time for the board.";
// ISO 8601 UTC, from the build (SOURCE_DATE_EPOCH when set).
extern const char* const kBuildTime;
// The identity event's text: the server's name and build time.
std::string identity(const std::string& serverName);
}  // namespace ChronavelProduct

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
