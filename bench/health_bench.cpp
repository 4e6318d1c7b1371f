// Cost of raising a health event on the time-critical listener thread,
// against the least a bounded, locked queue can cost; and the cost of
// stamping a header. Prints each benchmark's time as a ratio to its
// baseline, measured in the same run.
#include "ASPN/HealthReporter.h"
#include "ASPN/TimeCodeHelper.h"
#include "platform/FPGA.h"
#include "support/AllocationCounter.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

#include "BaselineRatioReporter.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <utility>


namespace {

using Clock = std::chrono::steady_clock;

const std::string kText = "Chronavel : TimeServiceController: PPS offset out of threshold, count reset";
constexpr int kBatch = 10;  // one queue's worth

void drainReporter() {
    int type = 0;
    std::string text;
    while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
    }
}

void reportAllocations(benchmark::State& state, uint64_t before, uint64_t events) {
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(testsupport::allocationCount() - before) / static_cast<double>(events));
}

// A deque of (type, text) under a mutex with the same capacity check.
void BM_Baseline_DequeUnderMutex(benchmark::State& state) {
    std::mutex m;
    std::deque<std::pair<int, std::string>> q;
    uint64_t events = 0;
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            std::lock_guard<std::mutex> lock(m);
            if (q.size() < kBatch) {
                q.emplace_back(3, kText);
            }
        }
        const auto stop = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        benchmark::DoNotOptimize(q);
        q.clear();
        events += kBatch;
    }
    reportAllocations(state, allocsBefore, events);
    state.SetItemsProcessed(static_cast<int64_t>(events));
}

void sendEvents(benchmark::State& state, EventTypes::eEventType type) {
    FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000);
    drainReporter();
    HealthReporter& reporter = HealthReporter::Instance();
    uint64_t events = 0;
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            reporter.SendEvent("src/Chronavel/TimeServiceController.cpp", 493, type, kText);
        }
        const auto stop = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        drainReporter();
        events += kBatch;
    }
    reportAllocations(state, allocsBefore, events);
    state.SetItemsProcessed(static_cast<int64_t>(events));
}

void BM_SendEvent_Type2(benchmark::State& state) { sendEvents(state, EventTypes::eStatus); }
void BM_SendEvent_Type3(benchmark::State& state) { sendEvents(state, EventTypes::eFault); }

// Filling one header's two stamps from nothing but a tick count.
void BM_Baseline_PlainFormula(benchmark::State& state) {
    uint64_t ticks = 123456789;
    int64_t sec = 0;
    int32_t nsec = 0;
    for (auto _ : state) {
        const int64_t ns = static_cast<int64_t>(ticks) * 78125 / 4608 - 8;
        sec = ns / 1000000000;
        nsec = static_cast<int32_t>(ns % 1000000000);
        benchmark::DoNotOptimize(sec);
        benchmark::DoNotOptimize(nsec);
        ticks += 58982;
    }
}

// Stamping either header form with a moving tick count.
template <class Header>
void stampHeaders(benchmark::State& state) {
    Header h;
    uint64_t ticks = 123456789;
    ASPN2::setToVandToA_fromFpgaTicks(ticks, h);  // first use builds the time code singleton
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        ASPN2::setToVandToA_fromFpgaTicks(ticks, h);
        benchmark::DoNotOptimize(h);
        ticks += 58982;
    }
    reportAllocations(state, allocsBefore, state.iterations());
}

void BM_Stamp_PlainHeader(benchmark::State& state) { stampHeaders<ASPN2::header>(state); }
void BM_Stamp_MessageHeader(benchmark::State& state) { stampHeaders<aspn2_msgs::idl::header>(state); }

// The FPGA facade started on a file that stands for its registers.
struct FpgaFixture {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session{image};
};

FpgaFixture& fpga() {
    static FpgaFixture f;
    return f;
}

void BM_Baseline_SystemCountRead(benchmark::State& state) {
    fpga();
    FpgaFace& face = FpgaFace::Instance();
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(face.fpga_get_SystemCount());
    }
    reportAllocations(state, allocsBefore, state.iterations());
}

// What a message sent now costs to stamp.
void BM_Stamp_MessageHeader_FromFpga(benchmark::State& state) {
    fpga();
    FpgaFace& face = FpgaFace::Instance();
    aspn2_msgs::idl::header h;
    ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), h);
    const uint64_t allocsBefore = testsupport::allocationCount();
    for (auto _ : state) {
        ASPN2::setToVandToA_fromFpgaTicks(face.fpga_get_SystemCount(), h);
        benchmark::DoNotOptimize(h);
    }
    reportAllocations(state, allocsBefore, state.iterations());
}

BENCHMARK(BM_Baseline_DequeUnderMutex)->UseManualTime();
BENCHMARK(BM_SendEvent_Type2)->UseManualTime();
BENCHMARK(BM_SendEvent_Type3)->UseManualTime();
BENCHMARK(BM_Baseline_PlainFormula);
BENCHMARK(BM_Stamp_PlainHeader);
BENCHMARK(BM_Stamp_MessageHeader);
BENCHMARK(BM_Baseline_SystemCountRead);
BENCHMARK(BM_Stamp_MessageHeader_FromFpga);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
