#include "ASPN/FaultHysteresis.h"

#include <utility>

FaultHysteresis& FaultHysteresis::Instance() {
    static FaultHysteresis instance;
    return instance;
}

bool FaultHysteresis::OkInitFaultHysteresis(int window, int countSetting, int historyCapacity) {
    if (window < 0 || countSetting < 0 || historyCapacity < 0) {
        return false;
    }
    m_window.store(window);
    m_countSetting.store(countSetting);
    m_historyCapacity.store(historyCapacity);
    return true;
}

std::string FaultHysteresis::Check(EventTypes::eEventType& type, const std::string& file, int line,
                                   const std::string& text) {
    if (m_countSetting.load() == 0 || m_historyCapacity.load() == 0) {
        return text;
    }
    if (type != EventTypes::eFault && type != EventTypes::eException && type != EventTypes::eCritical) {
        return text;
    }
    if (type == EventTypes::eFault) {
        recordFault(type, file, line);
    }
    const size_t slash = file.find_last_of("/\\");
    std::string result = slash == std::string::npos ? file : file.substr(slash + 1);
    result += '[';
    result += std::to_string(line);
    result += "]:";
    result += text;
    return result;
}

void FaultHysteresis::recordFault(EventTypes::eEventType& type, const std::string& file, int line) {
    std::string key = file + std::to_string(line);
    const auto now = std::chrono::steady_clock::now();

    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t windowMs = 1000 * static_cast<int64_t>(m_window.load());
    if (windowMs > 0) {
        while (!m_history.empty() &&
               std::chrono::duration_cast<std::chrono::milliseconds>(now - m_history.front().when).count() >=
                   windowMs) {
            m_history.pop_front();
        }
    }
    // A loop rather than one drop: a later, smaller capacity shrinks the
    // history instead of leaving it above the bound.
    const size_t capacity = static_cast<size_t>(m_historyCapacity.load());
    while (!m_history.empty() && m_history.size() >= capacity) {
        m_history.pop_front();
    }
    m_history.push_back(Occurrence{key, now});
    type = hysteresis(type, key);
}

EventTypes::eEventType FaultHysteresis::hysteresis(EventTypes::eEventType type, const std::string& /*key*/) {
    return type;
}

size_t FaultHysteresis::historySize() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history.size();
}
