#ifndef ASPN_FAULTHYSTERESIS_H
#define ASPN_FAULTHYSTERESIS_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace EventTypes {

// Health event type, carried unchanged into the EventLog message.
enum eEventType : int32_t {
    eUnknown = 0,    // what out-of-range types are published as
    eDebug = 1,
    eStatus = 2,     // progress, status and configuration events
    eFault = 3,      // faults and errors
    eException = 4,  // exceptions caught in a receive callback
    eCritical = 5
};

}  // namespace EventTypes

// Filter every ordinary health event passes before it is queued. Faults,
// exceptions and critical events get their source location in front of the
// text; the type always leaves unchanged. Inactive until configured with a
// non-zero count setting and history capacity.
class FaultHysteresis {
public:
    static FaultHysteresis& Instance();

    // The process uses Instance(); a separate object starts inactive.
    FaultHysteresis() = default;
    FaultHysteresis(const FaultHysteresis&) = delete;
    FaultHysteresis& operator=(const FaultHysteresis&) = delete;

    // False, with the settings unchanged, when any argument is negative.
    bool OkInitFaultHysteresis(int window, int countSetting, int historyCapacity);

    std::string Check(EventTypes::eEventType& type, const std::string& file, int line, const std::string& text);

    // Number of fault occurrences remembered; never more than the capacity.
    size_t historySize() const;

private:
    struct Occurrence {
        std::string key;
        std::chrono::steady_clock::time_point when;
    };

    void recordFault(EventTypes::eEventType& type, const std::string& file, int line);
    // The decision on a repeated fault; faults keep their type.
    EventTypes::eEventType hysteresis(EventTypes::eEventType type, const std::string& key);

    // Read by every sending thread, written at start-up.
    std::atomic<int> m_window{0};
    std::atomic<int> m_countSetting{0};
    std::atomic<int> m_historyCapacity{0};

    mutable std::mutex m_mutex;
    std::deque<Occurrence> m_history;
};

#endif
