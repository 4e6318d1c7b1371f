#ifndef ASPN_EVENTQUEUE_H
#define ASPN_EVENTQUEUE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace ASPN2 {

// Thread-safe queue between the code that raises health events and the one
// thread that publishes them. Ordinary events are published once and are
// refused when the queue is full; configuration events are never refused and
// come back every repeat period until their author replaces them.
class EventQueue {
public:
    struct EventItem {
        bool isConfig;
        int type;
        std::string text;
        uint32_t id;  // hash of the text for configuration events, else 0
    };

    struct ConfigItem {
        std::string text;
        uint32_t id;
        std::chrono::steady_clock::time_point due;
    };

    EventQueue(unsigned capacity, int configEventType, const std::chrono::nanoseconds& repeatPeriod);
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // False when the event list already holds `capacity` entries; the event
    // is then lost.
    bool push_back(int type, const std::string& text);
    bool push_back(int type, std::string&& text);

    // Queues a configuration event and returns its id (the hash of text).
    uint32_t push_back_config(const std::string& text);
    // Same, after removing the configuration with id oldId, wherever it waits.
    uint32_t push_back_config(const std::string& text, uint32_t oldId);

    // Takes the oldest event, waiting up to timeout for one to arrive.
    bool pop_front(int& type, std::string& text, const std::chrono::nanoseconds& timeout);

    // Queued events plus configuration events waiting for their repeat.
    size_t size() const;

    // Applies to configuration events taken from now on.
    void setRepeatPeriod(const std::chrono::nanoseconds& period);

    static uint32_t configId(const std::string& text);

private:
    // Both expect m_mutex to be held.
    void eraseConfig(uint32_t id);
    void repeatConfigs();

    const uint32_t m_capacity;
    const int m_configEventType;
    std::chrono::nanoseconds m_repeatPeriod;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<EventItem> m_events;
    std::deque<ConfigItem> m_repeats;
};

}  // namespace ASPN2

#endif
