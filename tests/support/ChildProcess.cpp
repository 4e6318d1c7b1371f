#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

namespace testsupport {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // The children are this project's programs, which use Fast DDS: an
    // AddressSanitizer build of one would stop on the library's own
    // mismatched delete when its participant goes, so that check is set
    // aside. Built before the fork: the child only execs.
    std::vector<std::string> environment;
    std::string asan = "ASAN_OPTIONS=new_delete_type_mismatch=0";
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("ASAN_OPTIONS=", 0) == 0) {
            asan = std::string(*e) + ":new_delete_type_mismatch=0";
        } else {
            environment.emplace_back(*e);
        }
    }
    environment.push_back(asan);
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        // Start from default signal dispositions whatever the test runner set.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_fd = fds[0];
}

ChildProcess::~ChildProcess() {
    // A polite stop first, so that a child can take down what it started
    // (a simulator its segments and its chronyd); then a forced one.
    if (!m_exited && m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        if (wait(std::chrono::seconds(3)) == -1) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
        }
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ChildProcess::readSome(int timeoutMs) {
    if (m_fd < 0) {
        return false;
    }
    struct pollfd p {m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) {
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_output.find(needle) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (!readSome(static_cast<int>(left.count())) && m_fd < 0)) {
            return m_output.find(needle) != std::string::npos;
        }
    }
    return true;
}

bool ChildProcess::waitForHandler(int sig, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string statusPath = "/proc/" + std::to_string(m_pid) + "/status";
    do {
        std::ifstream status(statusPath);
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0) {
                const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
                if ((caught >> (sig - 1)) & 1u) {
                    return true;
                }
            }
        }
        readSome(5);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

void ChildProcess::signal(int sig) {
    if (!m_exited) {
        ::kill(m_pid, sig);
    }
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_exited) {
        const pid_t done = ::waitpid(m_pid, &m_status, WNOHANG);
        if (done == m_pid) {
            m_exited = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        if (!readSome(10) && m_fd < 0) {
            ::usleep(5000);
        }
    }
    while (readSome(0)) {
    }
    return m_status;
}

}  // namespace testsupport
