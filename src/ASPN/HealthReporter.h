#ifndef ASPN_HEALTHREPORTER_H
#define ASPN_HEALTHREPORTER_H

#include <chrono>
#include <cstdint>
#include <string>

#include "ASPN/EventQueue.h"
#include "ASPN/FaultHysteresis.h"

// The process-wide publisher of the server's health as EventLog messages.
// Any thread hands it events; they pass the fault filter into a bounded
// queue, where they wait for the publishing thread. Sending never blocks on
// the network and never fails the caller.
class HealthReporter {
public:
    using eEventType = EventTypes::eEventType;

    static constexpr std::chrono::nanoseconds eventQPollDuration{500000000};
    static constexpr std::chrono::nanoseconds configRepeatDuration{300000000000};
    static constexpr unsigned eventQCapacity = 10;

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

    // Where queued events wait for publication.
    ASPN2::EventQueue& Queue() { return m_eventQ; }

private:
    HealthReporter();
    ~HealthReporter() = default;

    ASPN2::EventQueue m_eventQ;
};

#endif
