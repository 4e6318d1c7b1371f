#include "Chronavel/PpsSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "boardkit/ScriptedHost.h"

using boardkit::ScriptedHost;

namespace {

using Opened = std::pair<int, std::string>;  // the handle, the diagnostics

Opened openOn(platform::TimeHost& host, const char* path) {
    testing::internal::CaptureStderr();
    const int handle = open_pps_source(host, path);
    return {handle, testing::internal::GetCapturedStderr()};
}

}  // namespace

// Each failing call of the set-up is a row of the time service's fault
// table; here what the device can do decides.
TEST(PpsSource, ArmsAssertCaptureAndZeroesTheOffsetOnlyWhereSupported) {
    ScriptedHost clearOnly;
    clearOnly.ppsCapabilities = PPS_CAPTURECLEAR | PPS_OFFSETASSERT;
    EXPECT_EQ(Opened(-1, "cannot CAPTUREASSERT\n"), openOn(clearOnly, "/dev/pps0"));
    EXPECT_EQ("close 100", clearOnly.calls().back());

    for (const bool offsetCapable : {true, false}) {
        ScriptedHost host;
        host.ppsCapabilities = PPS_CAPTUREASSERT | (offsetCapable ? PPS_OFFSETASSERT : 0);
        EXPECT_EQ(Opened(ScriptedHost::kFirstFd, ""), openOn(host, "/dev/pps0"));
        const pps_params_t params = host.lastParams();
        EXPECT_EQ(PPS_TSFMT_TSPEC | PPS_CAPTUREASSERT | (offsetCapable ? PPS_OFFSETASSERT : 0), params.mode);
        EXPECT_EQ(offsetCapable ? 0 : 7, params.assert_off_tu.tspec.tv_nsec);
        EXPECT_EQ(PPS_API_VERS, params.api_version);
    }
}

// The real host, on files that are not PPS devices: what a board without a
// PPS source prints.
TEST(PpsSource, LinuxHostRefusesMissingAndNonPpsDevices) {
    platform::TimeHost& host = platform::linuxTimeHost();
    EXPECT_EQ(Opened(-1, "unable to open device \"/nonexistent/pps0\" (No such file or directory)\n"),
              openOn(host, "/nonexistent/pps0"));
    EXPECT_EQ(Opened(-1, "cannot create a PPS source from device \"/dev/null\" (Operation not supported)\n"),
              openOn(host, "/dev/null"));

    timespec edge{};
    pps_seq_t sequence = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, fetch_timestamp(host, -1, edge, sequence));
    EXPECT_EQ("time_pps_fetch() error -1 (Bad file descriptor)\n", testing::internal::GetCapturedStderr());
}
