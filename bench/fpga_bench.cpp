// The tick counter read that stamps every message, against a bare load of
// the same register through the same kind of mapping. Runs on a file that
// stands for physical memory, so it needs neither root nor the board.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "FACE/MemoryMap.h"
#include "platform/FPGA.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

namespace {

namespace block = boardkit::fpgablock;

struct Fixture {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session{image};
    FACE::IOSS::MemoryMap map;
    const volatile uint64_t* counter;

    Fixture()
        : map(image.block(block::kTimestamp).baseAddress, image.block(block::kTimestamp).size,
              image.imagePath()),
          counter(reinterpret_cast<const volatile uint64_t*>(map.getPointerToBase() + 0x80)) {
        image.poke(block::kTimestamp, 0x80, 64, 0x123456789ull);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_BareVolatileLoad(benchmark::State& state) {
    const volatile uint64_t* counter = fixture().counter;
    for (auto _ : state) {
        uint64_t value = *counter;
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_BareVolatileLoad);

// The floor that the register access rules set: one load and one full barrier.
void BM_VolatileLoadWithBarrier(benchmark::State& state) {
    const volatile uint64_t* counter = fixture().counter;
    for (auto _ : state) {
        uint64_t value = __atomic_load_n(counter, __ATOMIC_RELAXED);
        __sync_synchronize();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_VolatileLoadWithBarrier);

void BM_FpgaGetSystemCount(benchmark::State& state) {
    fixture();
    FpgaFace& fpga = FpgaFace::Instance();
    for (auto _ : state) {
        uint64_t value = fpga.fpga_get_SystemCount();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_FpgaGetSystemCount);

}  // namespace

BENCHMARK_MAIN();
