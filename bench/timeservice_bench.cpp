// What one UTCTime message costs the time service once it feeds ntpd (past
// the last start-up step: one PPS fetch and one shared-memory sample per
// message), against a bare ntp_write of the same sample to the same segment.
// The controller runs on a fake host and a file that stands for the FPGA, so
// nothing here needs root, the board or the host's clocks; the NTP records
// are in process memory. Prints each benchmark's time as a ratio to its
// baseline, measured in the same run.
#include "ASPN/FaultHysteresis.h"
#include "ASPN/HealthReporter.h"
#include "Chronavel/NtpShm.h"
#include "Chronavel/TimeServiceController.h"
#include "platform/FPGA.h"
#include "support/AllocationCounter.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/ProcessNtpMemory.h"
#include "boardkit/ScriptedHost.h"
#include "boardkit/RegisterImage.h"
#include "boardkit/UtcMessages.h"

#include "BaselineRatioReporter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kUtcBase = 1700000000;  // 2023-11-14T22:13:20Z
constexpr int32_t kSteadyStep = 48;       // every later step only feeds ntpd

// The kernel numbers every captured edge; here each fetch sees the next one,
// so the controller feeds every message without the loop touching the fake.
class AdvancingEdgeHost : public boardkit::ScriptedHost {
public:
    bool advancing = false;
    // The controller refuses an edge equal to the last one it fed, across
    // benchmark runs too.
    pps_seq_t lastSequence = 1000000;

    int ppsFetch(pps_handle_t handle, int tsformat, pps_info_t& info, const timespec& timeout) override {
        const int result = ScriptedHost::ppsFetch(handle, tsformat, info, timeout);
        if (advancing && result == 0) {
            info.assert_sequence = ++lastSequence;
        }
        return result;
    }
};

void drainReporter() {
    int type = 0;
    std::string text;
    while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
    }
}

// The controller with quiet on and debug off, driven past its last start-up
// step; and a second link to the NTP segments for the bare write.
struct Fixture {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session{image};
    AdvancingEdgeHost host;
    boardkit::ProcessNtpMemory ntp;
    TimeServiceController controller{"Chronavel", host, FpgaFace::Instance(), ntp};
    aspn2_msgs::idl::UTCTime message;
    int next = 0;  // the second the next message stands for

    ntpshm_context bareContext{};
    ntpshm_session bareSession{};
    timedelta sample{};
    int precision = 0;
    std::string error;

    Fixture() {
        FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000);
        controller.doDebug(0);
        controller.doQuiet(1);
        controller.ppsSettledErrorThreshold = 1000.0;
        controller.ppsCountRequiredWithinThreshold = 0;
        // Neither daemon runs yet, as on a board just started.
        host.answer("pidof ntpd > /dev/null", {256});
        host.answer("pidof ptp4l > /dev/null", {256});

        // Linked first: a link resets its segment, and this one must not
        // reset the controller's after warm-up.
        bareContext.memory = &ntp;
        ntpshm_context_init(bareContext, 1);
        bareSession.context = &bareContext;
        ntpshm_session_init(bareSession);
        ntpshm_link_activate(bareSession);

        controller.initialize(5, "/dev/ptp0", 37.0);
        while (!(controller.isPpsSettled() && controller.getStepCounter() >= kSteadyStep)) {
            if (next > 1000) {
                error = "the controller never reached its steady state";
                return;
            }
            controller.newFACEUtcTime(second(next++));
            drainReporter();
        }
        drainReporter();
        host.recordFetches = false;
        host.takeCalls();
        message = second(next);

        const shmTime* shm = controller.getNtpSession().shm_clock;
        if (shm == nullptr || bareSession.shm_clock == nullptr) {
            error = "no NTP segment linked";
            return;
        }
        // The sample the controller wrote last, as it wrote it.
        sample.real = {shm->clockTimeStampSec, static_cast<long>(shm->clockTimeStampNSec)};
        sample.clock = {shm->receiveTimeStampSec, static_cast<long>(shm->receiveTimeStampNSec)};
        precision = shm->precision;
    }

    // Second i: a fresh edge 1.5 µs late on the system clock and the FPGA
    // counter a quarter second past the time of validity.
    aspn2_msgs::idl::UTCTime second(int i) {
        host.setEdge({static_cast<time_t>(kUtcBase + i), 1500, static_cast<pps_seq_t>(i + 1)});
        image.poke(boardkit::fpgablock::kTimestamp, 0x80, 64,
                   static_cast<uint64_t>(1000 + i) * FpgaFace::TICKS_PER_SECOND + FpgaFace::TICKS_PER_SECOND / 4);
        return boardkit::gpsMessage(kUtcBase + i, 50.0, 1e-16, 1000 + i);
    }
};

Fixture* g_fixture = nullptr;

// Samples written per iteration, from the segment's own count (two per write).
void reportCounters(benchmark::State& state, const shmTime* shm, unsigned countBefore, uint64_t allocsBefore) {
    const double iterations = static_cast<double>(state.iterations());
    const unsigned writes = (static_cast<unsigned>(shm->count) - countBefore) / 2u;
    state.counters["fed/op"] = benchmark::Counter(static_cast<double>(writes) / iterations);
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(testsupport::allocationCount() - allocsBefore) / iterations);
}

void BM_Baseline_NtpWrite(benchmark::State& state) {
    Fixture& f = *g_fixture;
    shmTime* shm = f.bareSession.shm_clock;
    const unsigned countBefore = static_cast<unsigned>(shm->count);
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        ntp_write(shm, f.sample, f.precision, 0);
    }
    reportCounters(state, shm, countBefore, allocsBefore);
}

void BM_NewFACEUtcTime(benchmark::State& state) {
    Fixture& f = *g_fixture;
    const shmTime* shm = f.controller.getNtpSession().shm_clock;
    f.host.advancing = true;
    const unsigned countBefore = static_cast<unsigned>(shm->count);
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        f.controller.newFACEUtcTime(f.message);
    }
    reportCounters(state, shm, countBefore, allocsBefore);
    f.host.advancing = false;
}

BENCHMARK(BM_Baseline_NtpWrite);
BENCHMARK(BM_NewFACEUtcTime);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    int status = 0;
    {
        Fixture fixture;
        if (!fixture.error.empty()) {
            std::fprintf(stderr, "timeservice_bench: %s\n", fixture.error.c_str());
            status = 1;
        } else {
            g_fixture = &fixture;
            benchsupport::RatioReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            g_fixture = nullptr;
        }
        drainReporter();
    }
    benchmark::Shutdown();
    return status;
}
