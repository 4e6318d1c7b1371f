#ifndef ASPN_HEALTHREPORTER_H
#define ASPN_HEALTHREPORTER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "ASPN/DeviceIds.h"
#include "ASPN/EventQueue.h"
#include "ASPN/FaultHysteresis.h"
#include "FACE/QV_TypedTS.h"
#include "aspn2_msgs/Messages.h"

// The process-wide publisher of the server's health as EventLog messages.
// Any thread hands it events; they pass the fault filter into a bounded
// queue, where they wait for the publishing thread. Sending never blocks on
// the network and never fails the caller.
class HealthReporter {
public:
    using eEventType = EventTypes::eEventType;
    using EventLogTransport = FACE::TSS::Details::QV_TypedTS<aspn2_msgs::idl::EventLog>;

    static constexpr std::chrono::nanoseconds eventQPollDuration{500000000};
    static constexpr std::chrono::nanoseconds configRepeatDuration{300000000000};
    static constexpr unsigned eventQCapacity = 10;
    static constexpr std::chrono::milliseconds publicationPause{100};

    static HealthReporter& Instance();

    HealthReporter(const HealthReporter&) = delete;
    HealthReporter& operator=(const HealthReporter&) = delete;

    // Queues an ordinary event raised at file:line. Types outside 0..5 are
    // queued as 0; a full queue drops the event. Throws std::logic_error when
    // file is null.
    void SendEvent(const char* file, int line, eEventType type, const std::string& text);

    // Configuration events bypass the fault filter, are never dropped and
    // are republished every configRepeatDuration until replaced.
    uint32_t SendConfigEvent(const std::string& text);
    uint32_t ReplaceConfigEvent(const std::string& text, uint32_t id);

    // Registers the EventLog sender and starts the publishing thread; throws
    // std::runtime_error when the transport is missing, the reporter already
    // runs or the sender cannot be registered.
    void InitHealthReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                            std::shared_ptr<EventLogTransport> transport, int64_t connectionId);
    // Publishes what is queued, then stops the thread. The reporter may be
    // started again afterwards.
    void DoneHealthReporter();

    // Where queued events wait for publication.
    ASPN2::EventQueue& Queue() { return m_eventQ; }

private:
    HealthReporter();
    ~HealthReporter();

    void publishChange(int type, std::string&& text);
    void pubThreadFunction();

    std::atomic<bool> m_initialized{false};
    std::string m_name;
    uint32_t m_deviceId = 0;
    int64_t m_seqNum = 0;
    std::shared_ptr<EventLogTransport> m_eventLogTypedTS;
    int64_t m_connectionId = -1;
    std::thread m_pubThread;
    std::atomic<bool> m_stop{false};
    ASPN2::EventQueue m_eventQ;
};

#endif
