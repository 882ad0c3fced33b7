// Operating characteristics at 1,000 rates, as `--oc 0.0005:0.9995:0.001`
// asks for: one summary per rate on the design of K patients at THETA = 0.2,
// PHI = 0.05 (the design itself is made once, outside the timing).
#include <benchmark/benchmark.h>

#include "cli/internal.h"
#include "cli/results.h"

namespace {

void BM_oc_1000_rates(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  stopbound::design_request request;
  request.K = K;
  request.theta = 0.2;
  request.phi = 0.05;
  const cli::boundary_result b = cli::design_boundary(request);
  const std::vector<double> rates = cli::parse_rates("0.0005:0.9995:0.001");
  if (rates.size() != 1000) state.SkipWithError("not 1,000 rates");
  for (auto _ : state) benchmark::DoNotOptimize(cli::oc_rows(b, rates));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rates.size()));
}

BENCHMARK(BM_oc_1000_rates)->Arg(30)->Arg(120)->Arg(255)->Unit(benchmark::kMillisecond);

}  // namespace
