// The plan's scan for THETA0 = 0.2, THETA1 = 0.35, PHI = 0.1, POWER = 0.8 up
// to K = k_max (the design, power and E[N] at both rates for every K), and
// the stopping distribution of one design at one rate.
#include <benchmark/benchmark.h>

#include "stopbound/stopbound.h"

namespace {

void BM_plan_scan(benchmark::State& state) {
  stopbound::plan_request s;
  s.theta0 = 0.2;
  s.theta1 = 0.35;
  s.phi = 0.1;
  s.power = 0.8;
  s.k_max = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(stopbound::plan_scan(s));
}

void BM_stopping_distribution(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const stopbound::design d = stopbound::make_design({K, 0.2, 0.05, {}, {}, 0});
  stopbound::workspace ws;
  for (auto _ : state) benchmark::DoNotOptimize(stopbound::stopping_distribution(d.bounds, 0.35, ws));
}

BENCHMARK(BM_plan_scan)->Arg(100)->Arg(255)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_stopping_distribution)->Arg(40)->Arg(255)->Unit(benchmark::kMicrosecond);

}  // namespace
