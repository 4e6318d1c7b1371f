#include "boardkit/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#if defined(__SANITIZE_ADDRESS__)
#define BOARDKIT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BOARDKIT_ASAN 1
#endif
#endif

namespace boardkit {
namespace {

using Clock = std::chrono::steady_clock;

void addTo(std::vector<std::string>& environment, const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (std::string& e : environment) {
        if (e.compare(0, name.size(), name) == 0) {
            e = entry;
            return;
        }
    }
    environment.push_back(entry);
}

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    // Everything is built before the fork: the child of a threaded process
    // may only exec.
    std::vector<std::string> arguments = argv, environment;
    for (char** e = environ; *e != nullptr; ++e) {
        environment.emplace_back(*e);
    }
#ifdef BOARDKIT_ASAN
    // The children of a sanitizer build are this project's programs, which
    // use Fast DDS: the library frees one of its own objects through a
    // pointer of the wrong size whenever a participant goes.
    const char* asan = std::getenv("ASAN_OPTIONS");
    addTo(environment, std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                           "new_delete_type_mismatch=0");
#endif
    for (const std::string& entry : options.environment) {
        addTo(environment, entry);
    }
    std::vector<char*> args, envp;
    for (std::string& a : arguments) args.push_back(a.data());
    for (std::string& e : environment) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (options.outputFile.empty() && ::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        if (options.endWithParent) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        }
        const int out = fds[1] >= 0 ? fds[1] : ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    const int forkError = errno;
    if (fds[1] >= 0) {
        ::close(fds[1]);
    }
    m_fd = fds[0];
    if (m_pid < 0) {
        throw std::system_error(forkError, std::generic_category(), "fork");
    }
}

ChildProcess::~ChildProcess() {
    stop();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ChildProcess::readSome(int timeoutMs) {
    struct pollfd p {m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    char buf[4096];
    const ssize_t n = ::read(m_fd, buf, sizeof buf);
    if (n <= 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_output.append(buf, static_cast<size_t>(n));
    return true;
}

bool ChildProcess::waitForOutput(const std::string& needle, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (m_output.find(needle) == std::string::npos) {
        if (msLeft(deadline) == 0 || (!readSome(msLeft(deadline)) && m_fd < 0)) {
            return m_output.find(needle) != std::string::npos;
        }
    }
    return true;
}

bool ChildProcess::waitForHandler(int sig, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    do {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0 && ((std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1u)) {
                return true;
            }
        }
        readSome(5);
    } while (Clock::now() < deadline);
    return false;
}

void ChildProcess::signal(int sig) {
    if (!m_exited && m_pid > 0) {
        ::kill(m_pid, sig);
    }
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!m_exited) {
        if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
            m_exited = true;
        } else if (Clock::now() >= deadline) {
            return -1;
        } else if (!readSome(10) && m_fd < 0) {
            ::usleep(5000);
        }
    }
    while (readSome(0)) {
    }
    return m_status;
}

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
    const int status = wait(timeout);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!m_exited && m_pid > 0) {
        signal(SIGTERM);
        if (wait(grace) == -1) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
            m_exited = true;
        }
    }
    return m_status;
}

}  // namespace boardkit
