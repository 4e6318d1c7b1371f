#ifndef BOARDKIT_CHILDPROCESS_H
#define BOARDKIT_CHILDPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace boardkit {

struct ChildOptions {
    // Standard output and error go to this file (created or truncated);
    // empty: to a pipe that the waits below read into output().
    std::string outputFile;
    // "NAME=value", added to this process's environment or replacing there.
    std::vector<std::string> environment;
    // The child gets SIGTERM when the thread that started it ends.
    bool endWithParent = false;
};

// A program run as a child process, from default signal dispositions and an
// empty signal mask. It is stopped at destruction if still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = ChildOptions());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until it contains needle or the time is up.
    bool waitForOutput(const std::string& needle, std::chrono::milliseconds timeout);
    const std::string& output() const { return m_output; }
    // Waits until the child has a handler installed for sig (Linux /proc).
    bool waitForHandler(int sig, std::chrono::milliseconds timeout);
    void signal(int sig);
    // The wait status, or -1 if the child has not exited in time. Output is
    // read meanwhile, so that the child never blocks on a full pipe.
    int wait(std::chrono::milliseconds timeout);
    // The exit status, or -1 when it did not exit by itself in time.
    int exitCode(std::chrono::milliseconds timeout);
    // SIGTERM, so that the child can take down what it started; SIGKILL if
    // it is still there after grace. The wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(3));
    pid_t pid() const { return m_pid; }

private:
    bool readSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_exited = false;
    int m_status = 0;
    std::string m_output;
};

}  // namespace boardkit

#endif
