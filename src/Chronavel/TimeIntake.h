#ifndef CHRONAVEL_TIMEINTAKE_H
#define CHRONAVEL_TIMEINTAKE_H

#include <array>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

#include "aspn2_msgs/Messages.h"

// Carries UTCTime messages from the DDS receive thread to a thread of the
// time service's own, which handles them one at a time in arrival order.
// The receive thread also delivers the commands: a discipline step that
// waits on a shell command must not hold them up. The hand-over is bounded:
// when it is full the oldest waiting message goes, and the first loss of an
// episode (until the hand-over is empty again) is told to the caller.
class TimeIntake {
public:
    static constexpr std::size_t kCapacity = 4;
    using Handler = std::function<void(const aspn2_msgs::idl::UTCTime&)>;
    using Overflow = std::function<void()>;

    TimeIntake(Handler handler, Overflow overflow);
    ~TimeIntake();
    TimeIntake(const TimeIntake&) = delete;
    TimeIntake& operator=(const TimeIntake&) = delete;

    // Starts the thread; nothing happens while it runs.
    void start();
    // Queues a copy for the thread; false when it is not running.
    bool offer(const aspn2_msgs::idl::UTCTime& message);
    // Returns once nothing is waiting or being handled.
    void awaitIdle();
    // Takes nothing more, drops what waits, and returns once the message
    // being handled is done.
    void stop();

private:
    void run();

    const Handler m_handler;
    const Overflow m_overflow;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::array<aspn2_msgs::idl::UTCTime, kCapacity> m_waiting;
    std::size_t m_first = 0;
    std::size_t m_count = 0;
    bool m_busy = false;
    bool m_running = false;
    bool m_overflowing = false;
    std::thread m_thread;
};

#endif
