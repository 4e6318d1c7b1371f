#include "Chronavel/ProcessDriver.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace ChronavelDriver {

volatile sig_atomic_t exitFlag = 0;
volatile sig_atomic_t exitSignal = 0;
int exitPollMs = 500;
int transactionPollMs = 200;

void sleepMs(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    struct timespec remaining;
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

namespace {

const int kHandledSignals[] = {SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGTERM,
                               SIGTRAP, SIGSYS,  SIGFPE,  SIGINT};

bool isFaultSignal(int signal) {
    return signal == SIGILL || signal == SIGBUS || signal == SIGFPE || signal == SIGTRAP ||
           signal == SIGSYS;
}

// A fault signal raised by our own instruction would be raised again as
// soon as the handler returns; restore the default action so the retried
// instruction ends the process with a core instead of spinning forever.
void dispatch(int signal, siginfo_t* info, void*) {
    if (isFaultSignal(signal) && info != nullptr && info->si_code > 0) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal, &dfl, nullptr);
        return;
    }
    SignalHandler(signal);
}

}  // namespace

void SignalHandler(int signal) {
    static const char kText[] = "Signaled to terminate!\n";
    const int savedErrno = errno;
    (void)!write(STDOUT_FILENO, kText, sizeof(kText) - 1);
    exitSignal = signal;
    exitFlag = 1;
    errno = savedErrno;
}

void SetupSignalHandler() {
    struct sigaction action {};
    action.sa_sigaction = dispatch;
    sigemptyset(&action.sa_mask);
    // SA_SIGINFO only tells a raised fault from a sent signal; there is
    // deliberately no SA_RESTART, so the wait loop's sleep is interrupted.
    action.sa_flags = SA_SIGINFO;
    for (int signal : kHandledSignals) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace ChronavelDriver
