#include "Chronavel/TimeIntake.h"

#include <utility>

TimeIntake::TimeIntake(Handler handler, Overflow overflow)
    : m_handler(std::move(handler)), m_overflow(std::move(overflow)) {}

TimeIntake::~TimeIntake() {
    stop();
}

void TimeIntake::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running || m_thread.joinable()) {
        return;
    }
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

bool TimeIntake::offer(const aspn2_msgs::idl::UTCTime& message) {
    bool lost = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            return false;
        }
        if (m_count == kCapacity) {
            m_first = (m_first + 1) % kCapacity;
            --m_count;
            lost = !m_overflowing;
            m_overflowing = true;
        }
        m_waiting[(m_first + m_count) % kCapacity] = message;
        ++m_count;
    }
    m_changed.notify_all();
    if (lost) {
        m_overflow();
    }
    return true;
}

void TimeIntake::awaitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_running || (m_count == 0 && !m_busy); });
}

void TimeIntake::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_count = 0;
        m_overflowing = false;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TimeIntake::run() {
    aspn2_msgs::idl::UTCTime message;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_running || m_count > 0; });
        if (!m_running) {
            return;
        }
        std::swap(message, m_waiting[m_first]);
        m_first = (m_first + 1) % kCapacity;
        if (--m_count == 0) {
            m_overflowing = false;
        }
        m_busy = true;
        lock.unlock();
        m_handler(message);
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}
