#include "Chronavel/PpsSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "boardkit/ScriptedHost.h"

using testing::ElementsAre;
using boardkit::ScriptedHost;

namespace {

struct Opened {
    int handle;
    std::string diagnostics;
};

Opened openOn(platform::TimeHost& host, const char* path) {
    testing::internal::CaptureStderr();
    const int handle = open_pps_source(host, path);
    return {handle, testing::internal::GetCapturedStderr()};
}

}  // namespace

TEST(PpsSource, EachFailedCallGivesOneDiagnosticAndClosesWhatItOpened) {
    const struct {
        const char* failing;
        int error;
        int capabilities;
        const char* diagnostic;
    } rows[] = {
        {"open", ENOENT, PPS_CAPTUREASSERT,
         "unable to open device \"/dev/pps0\" (No such file or directory)\n"},
        // Whatever the device said, the API's answer is "not supported".
        {"time_pps_create", ENOTTY, PPS_CAPTUREASSERT,
         "cannot create a PPS source from device \"/dev/pps0\" (Operation not supported)\n"},
        {"time_pps_getcap", EIO, PPS_CAPTUREASSERT, "cannot get capabilities (Input/output error)\n"},
        {"", 0, PPS_CAPTURECLEAR | PPS_OFFSETASSERT, "cannot CAPTUREASSERT\n"},
        {"time_pps_getparams", EIO, PPS_CAPTUREASSERT, "cannot get parameters (Input/output error)\n"},
        {"time_pps_setparams", EPERM, PPS_CAPTUREASSERT,
         "cannot set parameters (Operation not permitted)\n"},
    };
    for (const auto& row : rows) {
        ScriptedHost host;
        host.ppsCapabilities = row.capabilities;
        if (*row.failing != '\0') {
            host.fail(row.failing, row.error);
        }
        const Opened opened = openOn(host, "/dev/pps0");
        EXPECT_EQ(-1, opened.handle) << row.failing;
        EXPECT_EQ(row.diagnostic, opened.diagnostics);
        const std::vector<std::string> calls = host.calls();
        const bool wasOpened = std::string(row.failing) != "open";
        EXPECT_EQ(wasOpened ? "close 100" : "open /dev/pps0", calls.back()) << row.failing;
    }
}

TEST(PpsSource, ArmsAssertCaptureAndZeroesTheOffsetOnlyWhereSupported) {
    for (const bool offsetCapable : {true, false}) {
        ScriptedHost host;
        host.ppsCapabilities = PPS_CAPTUREASSERT | (offsetCapable ? PPS_OFFSETASSERT : 0);
        const Opened opened = openOn(host, "/dev/pps0");
        EXPECT_EQ(ScriptedHost::kFirstFd, opened.handle);
        EXPECT_EQ("", opened.diagnostics);
        const pps_params_t params = host.lastParams();
        EXPECT_EQ(PPS_TSFMT_TSPEC | PPS_CAPTUREASSERT | (offsetCapable ? PPS_OFFSETASSERT : 0),
                  params.mode);
        EXPECT_EQ(offsetCapable ? 0 : 7, params.assert_off_tu.tspec.tv_nsec);
        EXPECT_EQ(PPS_API_VERS, params.api_version);
    }
}

TEST(PpsSource, FetchRepeatsAfterASignalAndLeavesTheTimeAloneOnFailure) {
    ScriptedHost host;
    host.setEdge({1700000001, 1500, 42});
    host.fail("time_pps_fetch", EINTR, 2);
    timespec edge{5, 5};
    pps_seq_t sequence = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, fetch_timestamp(host, ScriptedHost::kFirstFd, edge, sequence));
    EXPECT_EQ("time_pps_fetch() got a signal!\ntime_pps_fetch() got a signal!\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ(1700000001, edge.tv_sec);
    EXPECT_EQ(1500, edge.tv_nsec);
    EXPECT_EQ(42u, sequence);

    host.fail("time_pps_fetch", ETIMEDOUT);
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, fetch_timestamp(host, ScriptedHost::kFirstFd, edge, sequence));
    EXPECT_EQ("time_pps_fetch() error -1 (Connection timed out)\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(1700000001, edge.tv_sec);
}

// The real host, on files that are not PPS devices: what a board without a
// PPS source prints.
TEST(PpsSource, LinuxHostRefusesMissingAndNonPpsDevices) {
    platform::TimeHost& host = platform::linuxTimeHost();
    Opened opened = openOn(host, "/nonexistent/pps0");
    EXPECT_EQ(-1, opened.handle);
    EXPECT_EQ("unable to open device \"/nonexistent/pps0\" (No such file or directory)\n",
              opened.diagnostics);
    opened = openOn(host, "/dev/null");
    EXPECT_EQ(-1, opened.handle);
    EXPECT_EQ("cannot create a PPS source from device \"/dev/null\" (Operation not supported)\n",
              opened.diagnostics);

    timespec edge{};
    pps_seq_t sequence = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, fetch_timestamp(host, -1, edge, sequence));
    EXPECT_EQ("time_pps_fetch() error -1 (Bad file descriptor)\n", testing::internal::GetCapturedStderr());
}
