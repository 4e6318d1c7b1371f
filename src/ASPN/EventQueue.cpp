#include "ASPN/EventQueue.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace ASPN2 {

namespace {

using Clock = std::chrono::steady_clock;

// now + span without wrapping past the clock's range: an "effectively
// forever" time-out must not turn into a deadline in the past.
Clock::time_point saturatingAdd(Clock::time_point now, std::chrono::nanoseconds span) {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch());
    if (span.count() > 0 && sinceEpoch.count() > std::chrono::nanoseconds::max().count() - span.count()) {
        return Clock::time_point::max();
    }
    if (span.count() < 0 && sinceEpoch.count() < std::chrono::nanoseconds::min().count() - span.count()) {
        return Clock::time_point::min();
    }
    return now + std::chrono::duration_cast<Clock::duration>(span);
}

constexpr std::chrono::nanoseconds kMaxWaitSlice = std::chrono::hours(1);

}  // namespace

EventQueue::EventQueue(unsigned capacity, int configEventType, const std::chrono::nanoseconds& repeatPeriod)
    : m_capacity(capacity), m_configEventType(configEventType), m_repeatPeriod(repeatPeriod) {}

uint32_t EventQueue::configId(const std::string& text) {
    return static_cast<uint32_t>(std::hash<std::string>{}(text));
}

bool EventQueue::push_back(int type, const std::string& text) {
    return push_back(type, std::string(text));
}

bool EventQueue::push_back(int type, std::string&& text) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_events.size() >= m_capacity) {
            return false;
        }
        m_events.push_back(EventItem{false, type, std::move(text), 0});
    }
    m_cv.notify_one();
    return true;
}

uint32_t EventQueue::push_back_config(const std::string& text) {
    const uint32_t id = configId(text);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(EventItem{true, m_configEventType, text, id});
    }
    m_cv.notify_one();
    return id;
}

uint32_t EventQueue::push_back_config(const std::string& text, uint32_t oldId) {
    const uint32_t id = configId(text);
    // Build the new entry first so that a failed allocation leaves the old
    // configuration in place.
    EventItem item{true, m_configEventType, text, id};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        eraseConfig(oldId);
        m_events.push_back(std::move(item));
    }
    m_cv.notify_one();
    return id;
}

void EventQueue::eraseConfig(uint32_t id) {
    const auto ev = std::find_if(m_events.begin(), m_events.end(),
                                 [id](const EventItem& e) { return e.isConfig && e.id == id; });
    if (ev != m_events.end()) {
        m_events.erase(ev);
    }
    const auto rep = std::find_if(m_repeats.begin(), m_repeats.end(),
                                  [id](const ConfigItem& c) { return c.id == id; });
    if (rep != m_repeats.end()) {
        m_repeats.erase(rep);
    }
}

void EventQueue::repeatConfigs() {
    const auto now = Clock::now();
    while (!m_repeats.empty() && m_repeats.front().due <= now) {
        const ConfigItem& front = m_repeats.front();
        m_events.push_back(EventItem{true, m_configEventType, front.text, front.id});
        m_repeats.pop_front();
    }
}

bool EventQueue::pop_front(int& type, std::string& text, const std::chrono::nanoseconds& timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    repeatConfigs();
    const auto deadline = saturatingAdd(Clock::now(), timeout);
    while (m_events.empty()) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        // Wait in slices: where time_t is 32 bits, a far deadline handed to
        // the threading library can wrap and end the wait at once.
        m_cv.wait_until(lock, std::min(deadline, saturatingAdd(now, kMaxWaitSlice)));
    }
    EventItem& front = m_events.front();
    if (front.isConfig) {
        // Reserve the repeat slot before anything leaves the event list, so
        // that an allocation failure cannot lose the configuration.
        m_repeats.push_back(ConfigItem{front.text, front.id, saturatingAdd(Clock::now(), m_repeatPeriod)});
    }
    type = front.type;
    text = std::move(front.text);
    m_events.pop_front();
    return true;
}

void EventQueue::setRepeatPeriod(const std::chrono::nanoseconds& period) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_repeatPeriod = period;
}

size_t EventQueue::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events.size() + m_repeats.size();
}

}  // namespace ASPN2
