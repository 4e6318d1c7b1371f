// chronavel-sim: the Chronavel server on a simulated board, for a
// workstation. The same component and life cycle as chronavel; the FPGA,
// the clocks, the PPS and the daemons are simulated and report what the
// server does to them.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Chronavel/Chronavel.h"
#include "Chronavel/ProcessDriver.h"
#include "boardkit/Board.h"

namespace {

const char kUsage[] =
    "Usage: chronavel-sim [options] <top-level-config-file>\n"
    "Runs the Chronavel server on a simulated board: a register image for the FPGA\n"
    "(its counter counting simulated time), a simulated system clock and PHC, a PPS\n"
    "that asserts at every second of true UTC, and simulated time daemons. Nothing\n"
    "reaches the host's clocks or daemons; every step is reported on standard output.\n"
    "Options:\n"
    "  --rate R            simulated seconds per real second (default 1); run the\n"
    "                      time source with the same rate\n"
    "  --clock-error S     the system clock starts S seconds off true UTC (default 0)\n"
    "  --phc-error S       the PHC starts S seconds off (default 0)\n"
    "  --pps-stop-after N  the PPS stops after N edges (0: never asserts)\n"
    "  --fail TEXT         daemon commands containing TEXT fail (repeatable)\n"
    "  --chronyd           ntpd is a real chronyd -x (never sets the host clock), which\n"
    "                      reads the NTP shared memory the server feeds\n"
    "  --private-ipc       the NTP shared memory in an IPC namespace of its own (needs\n"
    "                      root): nothing else on the host sees it, its chronyd does\n"
    "  --schedule          prints the discipline schedule (step and name) and exits\n"
    "  --help              this text\n";

int usageError(const std::string& what) {
    std::cerr << "chronavel-sim: " << what << "\n" << kUsage;
    return 1;
}

bool number(const char* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && std::isfinite(value);
}

}  // namespace

int main(int argc, char* argv[]) {
    double rate = 1.0;
    bool privateIpc = false;
    boardkit::SimOptions options;
    std::vector<char*> driverArgs = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double value = 0;
        if (arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--schedule") {
            for (const auto& entry : TimeServiceController::kSchedule) {
                std::cout << entry.first << ' ' << entry.name << '\n';
            }
            return 0;
        } else if (arg == "--chronyd") {
            options.chronyd = true;
        } else if (arg == "--private-ipc") {
            privateIpc = true;
        } else if (arg == "--fail" && hasValue) {
            options.failing.push_back(argv[++i]);
        } else if (arg == "--rate" || arg == "--clock-error" || arg == "--phc-error" ||
                   arg == "--pps-stop-after") {
            if (!hasValue || !number(argv[++i], value)) {
                return usageError(arg + " needs a number");
            }
            if (arg == "--rate") {
                if (value <= 0) {
                    return usageError("--rate must be above 0");
                }
                rate = value;
            } else if (arg == "--clock-error") {
                options.clockErrorNs = std::llround(value * 1e9);
            } else if (arg == "--phc-error") {
                options.phcErrorNs = std::llround(value * 1e9);
            } else {
                options.ppsStopAfter = std::llround(value);
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("unknown option " + arg);
        } else {
            driverArgs.push_back(argv[i]);
        }
    }
    if (options.chronyd && rate != 1.0) {
        return usageError("--chronyd needs --rate 1: chronyd runs on the host's own time");
    }
    // Before any thread starts: the namespace is the calling thread's.
    if (privateIpc && unshare(CLONE_NEWIPC) != 0) {
        std::cerr << "chronavel-sim: no IPC namespace of its own: " << std::strerror(errno) << "\n";
        return 2;
    }
    options.chronydUnit = boardkit::NtpSegmentsGuard::firstUnit();

    try {
        boardkit::SimulatedBoard board(rate, options);
        boardkit::report("simulated board, rate " + std::to_string(rate) + ", true UTC " +
                         boardkit::isoTime(board.time().trueUtcNs()));
        Chronavel* server = nullptr;
        ChronavelPlatform platform = board.platform([&server] { return server->ioDevicesFile().str(); });
        // Each action named once, where it first runs (feed-ntp runs at every step from its first).
        platform.stepWatcher = [](int32_t step, const TimeServiceController::ScheduleEntry& entry) {
            if (step == entry.first) {
                boardkit::report("step " + std::to_string(step) + " " + entry.name);
            }
        };
        return ChronavelDriver::run(static_cast<int>(driverArgs.size()), driverArgs.data(), [&] {
            auto made = std::make_unique<Chronavel>(platform);
            server = made.get();
            return made;
        });
    } catch (const std::exception&) {
        // The failed check has already printed its line.
        return 2;
    }
}
