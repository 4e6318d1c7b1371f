#include "ASPN/HealthReporter.h"

#include <stdexcept>
#include <utility>

HealthReporter& HealthReporter::Instance() {
    static HealthReporter instance;
    return instance;
}

HealthReporter::HealthReporter() : m_eventQ(eventQCapacity, EventTypes::eStatus, configRepeatDuration) {}

void HealthReporter::SendEvent(const char* file, int line, eEventType type, const std::string& text) {
    if (file == nullptr) {
        throw std::logic_error("HealthReporter::SendEvent called without a source file name");
    }
    eEventType t = type;
    std::string filtered = FaultHysteresis::Instance().Check(t, file, line, text);
    const int queued = (t >= EventTypes::eUnknown && t <= EventTypes::eCritical) ? t : EventTypes::eUnknown;
    (void)m_eventQ.push_back(queued, std::move(filtered));
}

uint32_t HealthReporter::SendConfigEvent(const std::string& text) {
    return m_eventQ.push_back_config(text);
}

uint32_t HealthReporter::ReplaceConfigEvent(const std::string& text, uint32_t id) {
    return m_eventQ.push_back_config(text, id);
}
