#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// A program run as a child process with its standard output and error
// captured together, for tests that need a real process (signals, exit
// status). The child is killed if it is still running at destruction.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until it contains needle or the time is up.
    bool waitForOutput(const std::string& needle, std::chrono::milliseconds timeout);
    const std::string& output() const { return m_output; }

    // Waits until the child has installed a handler for sig (Linux /proc).
    bool waitForHandler(int sig, std::chrono::milliseconds timeout);
    void signal(int sig);
    // The wait status, or -1 if the child has not exited in time. Output is
    // drained meanwhile so the child never blocks on a full pipe.
    int wait(std::chrono::milliseconds timeout);
    pid_t pid() const { return m_pid; }

private:
    bool readSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_exited = false;
    int m_status = 0;
    std::string m_output;
};

}  // namespace testsupport

#endif
