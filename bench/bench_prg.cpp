// Throughput of the pseudo-random data behind the I/O tests.

#include "foundation/compat/tsaf_utils.h"

#include <benchmark/benchmark.h>

#include <vector>

static void BM_generate_prg_data(benchmark::State& state) {
    std::vector<unsigned> buf(static_cast<size_t>(state.range(0)));
    unsigned key = 0xdeadbeef;
    for (auto _ : state) {
        tsaf_utils::generate_prg_data(key++, buf.data(), static_cast<unsigned>(buf.size()));
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 4);
}
BENCHMARK(BM_generate_prg_data)->Arg(1 << 10)->Arg(1 << 18)->Arg(1 << 22);
