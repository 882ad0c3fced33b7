// Design plus table as the program runs them (FindBndry, then the figures
// of each table row), by K at THETA = 0.2, PHI = 0.05, and on the inputs that
// were slowest: THETA near 1 (cone additions), near 0 (binomial tables) and
// walks at their budget.
#include <benchmark/benchmark.h>

#include "bench/design_then_rows.h"
#include "driver/driver.h"

namespace {

void design_and_table(benchmark::State& state, int K, double theta, double phi) {
  design_then_rows(state, K, theta, phi, table_row);
}

void BM_run_by_K(benchmark::State& state) {
  design_and_table(state, static_cast<int>(state.range(0)), 0.2, 0.05);
}
BENCHMARK(BM_run_by_K)->Arg(1)->Arg(20)->Arg(60)->Arg(120)->Arg(255)->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(design_and_table, 211_0995_0999, 211, 0.995, 0.999)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(design_and_table, 253_099_05, 253, 0.99, 0.5)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(design_and_table, 253_0001_005, 253, 0.001, 0.05)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(design_and_table, 169_001_05, 169, 0.01, 0.5)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(design_and_table, 20_02_005, 20, 0.2, 0.05)->Unit(benchmark::kMicrosecond);

}  // namespace
