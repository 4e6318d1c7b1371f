#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "boardkit/Board.h"
#include "boardkit/ChildProcess.h"

using namespace std::chrono_literals;
using boardkit::ChildProcess;

namespace {

std::vector<long long> numbersAfter(const std::string& text, const std::string& prefix) {
    std::vector<long long> values;
    const std::regex pattern(prefix + "([0-9]+)");
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
        values.push_back(std::stoll((*it)[1]));
    }
    return values;
}

bool exitedWith(int status, int code) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

}  // namespace

TEST(ProcessDriver, WrongArgumentCountPrintsUsage) {
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{CHRONAVEL_PATH},
          std::vector<std::string>{CHRONAVEL_PATH, "a.xml", "b.xml"}}) {
        ChildProcess child(argv);
        EXPECT_TRUE(exitedWith(child.wait(20s), 1));
        EXPECT_EQ(child.output(), std::string("Usage: ") + CHRONAVEL_PATH +
                                      " <top-level-config-file> \n");
    }
}

TEST(ProcessDriver, TermDuringWaitStopsWithinOnePollPeriod) {
    ChildProcess child({DRIVER_PROBE_PATH, "ok"});
    ASSERT_TRUE(child.waitForHandler(SIGTERM, 20s)) << child.output();
    const auto sent = std::chrono::steady_clock::now();
    child.signal(SIGTERM);
    ASSERT_TRUE(child.waitForOutput("has exited", 20s)) << child.output();
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_LT(took, 2s) << "the exit waited for more than the poll";
    EXPECT_TRUE(exitedWith(child.wait(20s), 0));

    const std::string& out = child.output();
    const size_t signaled = out.find("Signaled to terminate!\n");
    const size_t stopping = out.find("stopping at");
    const size_t disconnect = out.find("disconnect");
    const size_t finalize = out.find("finalize");
    ASSERT_NE(signaled, std::string::npos) << out;
    EXPECT_LT(signaled, stopping);
    EXPECT_LT(stopping, disconnect);
    EXPECT_LT(disconnect, finalize);
    EXPECT_NE(out.find(std::string("!!!!!! ") + DRIVER_PROBE_PATH + " has exited. Signal: 15\n"),
              std::string::npos)
        << out;
}

TEST(ProcessDriver, ExitLineReportsTheLastSignal) {
    ChildProcess child({DRIVER_PROBE_PATH, "slow-stop"});
    ASSERT_TRUE(child.waitForHandler(SIGINT, 20s));
    child.signal(SIGINT);
    ASSERT_TRUE(child.waitForOutput("stopping at", 20s));
    child.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(child.wait(20s), 0));
    EXPECT_NE(child.output().find("has exited. Signal: 15\n"), std::string::npos) << child.output();
}

TEST(ProcessDriver, InProgressIsRetriedAfterThePollPause) {
    ChildProcess child({DRIVER_PROBE_PATH, "in-progress"});
    ASSERT_TRUE(child.waitForHandler(SIGTERM, 20s)) << child.output();
    child.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(child.wait(20s), 0));
    const std::vector<long long> calls = numbersAfter(child.output(), "initialize call at ");
    ASSERT_EQ(calls.size(), 3u) << child.output();
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GE(calls[i] - calls[i - 1], 195);
        EXPECT_LT(calls[i] - calls[i - 1], 2000);
    }
}

TEST(ProcessDriver, SignalBeforeStartKeepsTheDefaultAction) {
    ChildProcess child({DRIVER_PROBE_PATH, "slow-init"});
    ASSERT_TRUE(child.waitForOutput("initializing", 20s));
    child.signal(SIGTERM);
    const int status = child.wait(20s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(child.output().find("has exited"), std::string::npos);
}

TEST(ProcessDriver, FailedConfigurationEndsTheProcessWithItsLine) {
    ChildProcess child({DRIVER_PROBE_PATH, "bad-config"});
    const int status = child.wait(20s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_TRUE(std::regex_search(child.output(),
                                  std::regex("ChronavelMain\\[[0-9]+\\]:INVALID_CONFIG "
                                             "Configure\\(\\) failed\n")))
        << child.output();
    EXPECT_EQ(child.output().find("connect"), std::string::npos);
}

TEST(ProcessDriver, RaisedFaultEndsTheProcessInsteadOfLooping) {
    ChildProcess child({DRIVER_PROBE_PATH, "trap"});
    const int status = child.wait(20s);
    ASSERT_NE(status, -1) << "the fault was retried forever: " << child.output();
    EXPECT_TRUE(WIFSIGNALED(status)) << child.output();
    EXPECT_EQ(WTERMSIG(status), SIGILL);
    EXPECT_NE(child.output().find("trapping"), std::string::npos);
    EXPECT_EQ(child.output().find("Signaled to terminate!"), std::string::npos);
}

// The server itself, as it starts on a machine that is not the board.
TEST(ChronavelProcess, AFailedStartUpStepEndsTheProcessWithItsLine) {
    boardkit::ScriptedBoard board;
    boardkit::ServerSettings settings;
    settings.dds = boardkit::FastRtps(203, "UDP");
    const std::string good = board.writeConfiguration(settings);
    // A missing parameter ends the configuration.
    std::string text = boardkit::readFile(good);
    text.erase(text.find("<PARAM_4>"), text.find("</PARAM_4>") + 10 - text.find("<PARAM_4>"));
    ChildProcess missing({CHRONAVEL_PATH, board.dir.write("missing.xml", text)});
    EXPECT_TRUE(exitedWith(missing.wait(30s), 2)) << missing.output();
    EXPECT_NE(missing.output().find("Chronavel (91) GetConfigParameters : error or could not find setting, "
                                    "PARAM_4 (NTP_Interrupt_Pulse_Select_Register) in configuration file!\n"),
              std::string::npos)
        << missing.output();
    EXPECT_TRUE(std::regex_search(missing.output(), std::regex(":INVALID_CONFIG Configure\\(\\) failed\n")));

    // Without the FPGA's memory device the FPGA start fails after the
    // transport came up.
    if (access("/dev/mem", F_OK) == 0) {
        GTEST_SKIP() << "/dev/mem exists here; the server must not map the host's physical memory";
    }
    ChildProcess chronavel({CHRONAVEL_PATH, good});
    EXPECT_TRUE(exitedWith(chronavel.wait(30s), 2)) << chronavel.output();
    EXPECT_EQ("Chronavel - Success all is well with tss\n"
              "FPGA.cpp[171]:INVALID_MODE FpgaFace() FAILED to read FPGA number of UARTs\n",
              chronavel.output());
}
