// The plan's scan for THETA0 = 0.2, THETA1 = 0.35, PHI = 0.1, POWER = 0.8 up
// to K = k_max (the design, power and E[N] at both rates for every K), with
// every family to K = 1,000, and the stopping distribution of one design at
// one rate.
#include <benchmark/benchmark.h>

#include "stopbound/stopbound.h"

namespace {

void BM_plan_scan(benchmark::State& state, const char* family) {
  stopbound::plan_request s;
  s.fam = stopbound::parse_family(family);
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
  for (auto _ : state)
    benchmark::DoNotOptimize(stopbound::stopping_distribution(d.bounds, 0.35, ws));
}

BENCHMARK_CAPTURE(BM_plan_scan, pocock, "pocock")
    ->Arg(100)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond);
#define PLAN_FAMILY(name, family)               \
  BENCHMARK_CAPTURE(BM_plan_scan, name, family) \
      ->Arg(1000)                               \
      ->Unit(benchmark::kMillisecond)           \
      ->Iterations(1);
BENCHMARK_CAPTURE(BM_plan_scan, pocock, "pocock")
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
PLAN_FAMILY(obf, "obf")
PLAN_FAMILY(wt_025, "wt:0.25")
PLAN_FAMILY(bayes, "bayes")
PLAN_FAMILY(sprt_035, "sprt:0.35")
PLAN_FAMILY(maxsprt, "maxsprt")
#undef PLAN_FAMILY
BENCHMARK(BM_stopping_distribution)->Arg(40)->Arg(255)->Unit(benchmark::kMicrosecond);

}  // namespace
