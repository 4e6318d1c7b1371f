#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ASPN/HealthReporter.h"
#include "Chronavel/Chronavel.h"
#include "boardkit/Board.h"

namespace RC = FACE::RETURN_CODE_TYPE;

namespace {

struct Param {
    int number;
    std::string key;
    std::string description;
    std::string value;
};

// The server set's parameters in reading order, with valid values.
std::vector<Param> serverParams() {
    return {{83, "Connections", "Connections file", "conn.xml"}, {84, "IODevices", "Devices file", "io.xml"},
            {85, "Debug", "debug flag", "FALSE"},                 {86, "PRI", "process priority", "0"},
            {87, "CPU", "CPU value", "0"},                        {88, "PARAM_1", "doQuietNTP setting", "true"},
            {89, "PARAM_2", "UTCTime source server ID", "0x60"},
            {90, "PARAM_3", "NTP_Interrupt_Enable_Register", "-3"},
            {91, "PARAM_4", "NTP_Interrupt_Pulse_Select_Register", "7"},
            {92, "PARAM_5", "NTP_Interrupt_Pulse_Selection", "0xFFFFFFFF"},
            {93, "PARAM_6", "PHC_Device", "/dev/ptp1"},           {94, "PARAM_7", "Utc2Tai_Offset", "37.5"},
            {95, "PARAM_8", "ppsSettledErrorThreshold", "250.5"},
            {96, "PARAM_9", "ppsCountRequiredWithinThreshold", "12"}};
}

std::string document(const std::vector<Param>& server, bool withSystemSet = true) {
    std::string xml = "<QV_Configurations>\n";
    if (withSystemSet) {
        xml += "<System><Name>Quorvane</Name><Parameters><System>TestSys</System>"
               "<Configuration>Bench</Configuration></Parameters></System>\n";
    }
    xml += "<Server><Name>Chronavel</Name><Parameters>\n";
    for (const Param& p : server) {
        xml += "<" + p.key + ">" + p.value + "</" + p.key + ">\n";
    }
    xml += "</Parameters></Server>\n</QV_Configurations>\n";
    return xml;
}

std::vector<Param> with(std::vector<Param> params, const std::string& key, const std::string& value) {
    for (Param& p : params) {
        if (p.key == key) {
            p.value = value;
        }
    }
    return params;
}

struct Outcome {
    RC::Value code;
    std::string out;
};

Outcome configure(Chronavel& server, const std::string& xml) {
    boardkit::TempDir dir;
    const std::string path = dir.write("top.xml", xml);
    RC::Value code = RC::NO_ERROR;
    testing::internal::CaptureStdout();
    server.Configure(path.c_str(), code);
    return {code, testing::internal::GetCapturedStdout()};
}

}  // namespace

// The settings that the debug line below does not print.
TEST(Configure, StoresTheFilesTheSystemAndTheTimeServiceSettings) {
    Chronavel server;
    const Outcome result = configure(server, document(serverParams()));
    EXPECT_EQ(result.code, RC::NO_ERROR) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(server.systemName().str(), "TestSys");
    EXPECT_EQ(server.systemConfiguration().str(), "Bench");
    EXPECT_EQ(server.connectionsFile().str(), "conn.xml");
    EXPECT_EQ(server.ioDevicesFile().str(), "io.xml");
    EXPECT_DOUBLE_EQ(server.timeService().ppsSettledErrorThreshold, 250.5);
    EXPECT_EQ(server.timeService().isQuiet(), 1);
}

// Integers are read in base 0 and keep their low bits; booleans are
// true/false in any case or a number.
TEST(Configure, ConversionsOfNumbersAndFlags) {
    const struct {
        const char* key;
        const char* value;
        long long expected;
    } rows[] = {
        {"PARAM_2", "0x60", 96}, {"PARAM_2", "010", 8},          {"PARAM_2", "96abc", 96},
        {"PARAM_2", "0x1A0", 0xA0}, {"PARAM_2", "junk", 0},      {"PARAM_2", "65636", 100},
        {"PARAM_3", "0xFFFFFFFF", -1}, {"PARAM_5", "4294967297", 1}, {"PARAM_9", "-1", 0xFFFFFFFF},
        {"Debug", "true", 1},  {"Debug", "1", 1},                {"Debug", "yes", 0},
    };
    for (const auto& row : rows) {
        Chronavel server;
        const Outcome result = configure(server, document(with(serverParams(), row.key, row.value)));
        EXPECT_EQ(RC::NO_ERROR, result.code) << row.key << "=" << row.value;
        const std::string key = row.key;
        const long long got = key == "PARAM_2"   ? static_cast<long long>(server.utcTimeSourceServerId())
                              : key == "PARAM_3" ? static_cast<long long>(server.ntpInterruptEnableRegister())
                              : key == "PARAM_5" ? static_cast<long long>(server.ntpInterruptPulseSelection())
                              : key == "PARAM_9"
                                  ? static_cast<long long>(server.timeService().ppsCountRequiredWithinThreshold)
                                  : static_cast<long long>(server.debug());
        EXPECT_EQ(row.expected, got) << row.key << "=" << row.value;
        if (std::string(row.key) == "Debug") {
            EXPECT_EQ(server.debug() ? 1 : 0, server.timeService().isDebug());
            // With debug on, the settings are printed.
            EXPECT_EQ(server.debug() ? "Chronavel configuration parameters:  m_debug = 1, priority = 0, cpu = 0, "
                                       "m_doQuietNTP = 1, m_UtcTimeSourceServerId = 96, "
                                       "m_NTP_Interrupt_Enable_Register = -3, "
                                       "m_NTP_Interrupt_Pulse_Select_Register = 7, "
                                       "m_NTP_Interrupt_Pulse_Selection = 4294967295, m_phcDeviceName = /dev/ptp1, "
                                       "m_utc2taiTimeOffset = 37.5\n"
                                     : "",
                      result.out);
        }
    }
}

TEST(Configure, EachMissingParameterGivesItsOwnLineAndReadingGoesOn) {
    const std::vector<Param> all = serverParams();
    for (size_t missing = 0; missing < all.size(); ++missing) {
        std::vector<Param> params = all;
        params.erase(params.begin() + static_cast<long>(missing));
        Chronavel server;
        const Outcome result = configure(server, document(params));
        const Param& gone = all[missing];
        EXPECT_EQ(result.code, RC::INVALID_CONFIG) << gone.key;
        EXPECT_EQ(result.out, "WARNING - Parameter " + gone.key + " not found\nChronavel (" +
                                  std::to_string(gone.number) + ") GetConfigParameters : error or could not find " +
                                  "setting, " + gone.key + " (" + gone.description + ") in configuration file!\n");
        // The last parameter is still read unless it is the missing one.
        EXPECT_EQ(server.timeService().ppsCountRequiredWithinThreshold, gone.key == "PARAM_9" ? 0u : 12u);
    }
    Chronavel empty;
    const Outcome result = configure(empty, document(with(serverParams(), "PARAM_6", "")));
    EXPECT_EQ(result.code, RC::INVALID_CONFIG);
    EXPECT_NE(result.out.find("Chronavel (93) GetConfigParameters"), std::string::npos);
}

TEST(Configure, MissingSystemSetReadsNoServerParameters) {
    Chronavel server;
    const Outcome result = configure(server, document(with(serverParams(), "Debug", "TRUE"), false));
    EXPECT_EQ(result.code, RC::INVALID_CONFIG);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(server.debug());
    EXPECT_EQ(server.utcTimeSourceServerId(), 96);
    EXPECT_EQ(server.connectionsFile().str(), "");

    Chronavel unreadable;
    RC::Value code = RC::NO_ERROR;
    unreadable.Configure("/nonexistent/top.xml", code);
    EXPECT_EQ(code, RC::INVALID_CONFIG);
}

// Priority and affinity change the calling process, so they run in a child.
// The configured priority keeps its low bits; 150 is clamped, or both are refused.
TEST(ProcessSettings, RealtimePriorityKeepsItsLowBitsAndIsClampedOrRefused) {
    boardkit::TempDir dir;
    const std::string path = dir.write("top.xml", document(with(serverParams(), "PRI", "300")));
    auto child = [&] {
        Chronavel server;
        RC::Value code = RC::NO_ERROR;
        testing::internal::CaptureStdout();
        server.Configure(path.c_str(), code);
        const std::string out = testing::internal::GetCapturedStdout();
        struct sched_param param {};
        sched_getparam(0, &param);
        const bool set = out == "Successfully set Chronavel realtime process priority to 300\n" &&
                         code == RC::NO_ERROR && param.sched_priority == 44;
        const bool refused = out == "FAILED to set Chronavel realtime process priority to 300\n" &&
                             code == RC::INVALID_CONFIG;
        errno = 0;
        if (okSetRealtimeProcessPriority(150)) {
            sched_getparam(0, &param);
            std::exit(set && sched_getscheduler(0) == SCHED_FIFO && param.sched_priority == 99 ? 0 : 1);
        }
        std::exit(refused && sched_getscheduler(0) != SCHED_FIFO && (errno == EPERM || errno == EINVAL) ? 0 : 2);
    };
    EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");
}

TEST(ProcessSettings, AffinityPinsToOneCpuAndReadsItBack) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (!CPU_ISSET(1, &allowed)) {
        GTEST_SKIP() << "processor 1 is not available to this process";
    }
    auto child = [] {
        testing::internal::CaptureStdout();
        const bool ok = okSetCpuAffinity(2);
        const std::string out = testing::internal::GetCapturedStdout();
        cpu_set_t now;
        CPU_ZERO(&now);
        sched_getaffinity(0, sizeof now, &now);
        const bool onlyCpu1 = CPU_COUNT(&now) == 1 && CPU_ISSET(1, &now);
        std::exit(ok && onlyCpu1 && out == "Has CPU Affinity for CPU2\n" ? 0 : 1);
    };
    EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");

    auto refused = [] {
        testing::internal::CaptureStdout();
        const bool ok = okSetCpuAffinity(255);  // beyond any processor of this machine
        testing::internal::GetCapturedStdout();
        std::exit(ok ? 1 : 0);
    };
    EXPECT_EXIT(refused(), testing::ExitedWithCode(0), "");
}
