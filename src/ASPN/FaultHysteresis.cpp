#include "ASPN/FaultHysteresis.h"

#include <charconv>
#include <utility>

namespace {

// A line number in decimal, without touching the heap.
struct LineText {
    explicit LineText(int line) {
        length = static_cast<size_t>(std::to_chars(chars, chars + sizeof chars, line).ptr - chars);
    }
    char chars[12];  // "-2147483648"
    size_t length;
};

}  // namespace

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
    // Built with one allocation: this runs on the listener threads.
    size_t baseStart = file.size();
    while (baseStart > 0 && file[baseStart - 1] != '/' && file[baseStart - 1] != '\\') {
        --baseStart;
    }
    const LineText lineText(line);
    std::string result;
    result.reserve(file.size() - baseStart + lineText.length + 3 + text.size());
    result.append(file, baseStart, std::string::npos);
    result += '[';
    result.append(lineText.chars, lineText.length);
    result += "]:";
    result += text;
    return result;
}

void FaultHysteresis::recordFault(EventTypes::eEventType& type, const std::string& file, int line) {
    LineText lineText(line);
    std::string key;
    key.reserve(file.size() + lineText.length);
    key.append(file).append(lineText.chars, lineText.length);
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
    m_history.push_back(Occurrence{std::move(key), now});
    type = hysteresis(type, m_history.back().key);
}

EventTypes::eEventType FaultHysteresis::hysteresis(EventTypes::eEventType type, const std::string& /*key*/) {
    return type;
}

size_t FaultHysteresis::historySize() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history.size();
}
