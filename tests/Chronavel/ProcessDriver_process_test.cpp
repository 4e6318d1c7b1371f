#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "boardkit/Board.h"
#include "boardkit/ChildProcess.h"

using namespace std::chrono_literals;
using boardkit::ChildProcess;

static bool killedBy(int status, int signal) {
    return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

TEST(ProcessDriver, WrongArgumentCountPrintsUsage) {
    for (const std::vector<std::string>& argv : {std::vector<std::string>{DRIVER_PROBE_PATH},
                                                 std::vector<std::string>{DRIVER_PROBE_PATH, "a.xml", "b.xml"}}) {
        ChildProcess child(argv);
        EXPECT_EQ(1, child.exitCode(20s));
        EXPECT_EQ(child.output(), std::string("Usage: ") + DRIVER_PROBE_PATH + " <top-level-config-file> \n");
    }
}

// The wait ends within one poll of a signal; a signal during the stop is
// the one the exit line names.
TEST(ProcessDriver, SignalStopsTheWaitAndTheLastOneIsReported) {
    ChildProcess child({DRIVER_PROBE_PATH, "slow-stop"});
    ASSERT_TRUE(child.waitForHandler(SIGINT, 20s)) << child.output();
    const auto sent = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    ASSERT_TRUE(child.waitForOutput("stopping at", 20s)) << child.output();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s) << "the stop waited for more than the poll";
    child.signal(SIGTERM);
    EXPECT_EQ(0, child.exitCode(20s));
    EXPECT_TRUE(std::regex_search(child.output(), std::regex("Signaled to terminate!\nstopping at [0-9]+\n"
                                                             "Signaled to terminate!\ndisconnect\nfinalize\n"
                                                             "!!!!!! .* has exited. Signal: 15\n$")))
        << child.output();
}

// IN_PROGRESS is retried after the poll pause; a signal before the start
// keeps its default action.
TEST(ProcessDriver, InProgressIsRetriedAndASignalBeforeStartKills) {
    ChildProcess child({DRIVER_PROBE_PATH, "slow-init"});
    ASSERT_TRUE(child.waitForOutput("initializing", 20s)) << child.output();
    child.signal(SIGTERM);
    EXPECT_TRUE(killedBy(child.wait(20s), SIGTERM));
    EXPECT_EQ(child.output().find("has exited"), std::string::npos);
    std::vector<long long> calls;
    const std::regex call("initialize call at ([0-9]+)");
    for (std::sregex_iterator it(child.output().begin(), child.output().end(), call), end; it != end; ++it) {
        calls.push_back(std::stoll((*it)[1]));
    }
    ASSERT_EQ(calls.size(), 3u) << child.output();
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GE(calls[i] - calls[i - 1], 195);
        EXPECT_LT(calls[i] - calls[i - 1], 2000);
    }
}

TEST(ProcessDriver, RaisedFaultEndsTheProcessInsteadOfLooping) {
    ChildProcess child({DRIVER_PROBE_PATH, "trap"});
    EXPECT_TRUE(killedBy(child.wait(20s), SIGILL)) << "retried forever? " << child.output();
    EXPECT_NE(child.output().find("trapping"), std::string::npos);
    EXPECT_EQ(child.output().find("Signaled to terminate!"), std::string::npos);
}

// The server itself, as it starts on a machine that is not the board.
TEST(ChronavelProcess, AFailedStartUpStepEndsTheProcessWithItsLine) {
    boardkit::ScriptedBoard board;
    boardkit::ServerSettings settings;
    settings.dds = boardkit::FastRtps(203, "UDP");
    const std::string good = board.writeConfiguration(settings);
    std::string text = boardkit::readFile(good);
    text.erase(text.find("<PARAM_4>"), text.find("</PARAM_4>") + 10 - text.find("<PARAM_4>"));
    ChildProcess missing({CHRONAVEL_PATH, board.dir.write("missing.xml", text)});
    EXPECT_EQ(2, missing.exitCode(30s)) << missing.output();
    EXPECT_TRUE(std::regex_search(missing.output(),
                                 std::regex("WARNING - Parameter PARAM_4 not found\n"
                                            "Chronavel \\(91\\) GetConfigParameters : error or could not find setting, "
                                            "PARAM_4 \\(NTP_Interrupt_Pulse_Select_Register\\) in configuration file!\n"
                                            "ChronavelMain\\[[0-9]+\\]:INVALID_CONFIG Configure\\(\\) failed\n$")))
        << missing.output();

    // Without the FPGA's memory device the FPGA start fails after the transport came up.
    if (access("/dev/mem", F_OK) == 0) {
        GTEST_SKIP() << "/dev/mem exists here; the server must not map the host's physical memory";
    }
    ChildProcess chronavel({CHRONAVEL_PATH, good});
    EXPECT_EQ(2, chronavel.exitCode(30s)) << chronavel.output();
    EXPECT_EQ("Chronavel - Success all is well with tss\n"
              "FPGA.cpp[171]:INVALID_MODE FpgaFace() FAILED to read FPGA number of UARTs\n",
              chronavel.output());
}
