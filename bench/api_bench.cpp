// A design through the public interface, in process: the figure the R and
// Python packages' design() is measured against (bench/bindings/).
#include <benchmark/benchmark.h>

#include "stopbound/stopbound.h"

namespace {

void BM_make_design(benchmark::State& state) {
  const stopbound::design_request request{static_cast<int>(state.range(0)), 0.2, 0.05, {}, {}, 0};
  for (auto _ : state) benchmark::DoNotOptimize(stopbound::make_design(request));
}
BENCHMARK(BM_make_design)->Arg(20)->Arg(60)->Arg(255)->Unit(benchmark::kMicrosecond);

}  // namespace
