// Designs of every family through the public interface: K = 1,000 and
// K = 10,000 at THETA = 0.2, PHI = 0.05, looks at every patient.
#include <benchmark/benchmark.h>

#include "stopbound/stopbound.h"

namespace {

void BM_FamilyDesign(benchmark::State& state, const char* family, int K) {
  const stopbound::design_request request{K, 0.2, 0.05, stopbound::parse_family(family), {}, 0};
  stopbound::workspace ws;
  for (auto _ : state) benchmark::DoNotOptimize(stopbound::make_design(request, ws));
}

#define FAMILY_BENCH(name, family)                                                        \
  BENCHMARK_CAPTURE(BM_FamilyDesign, name##_k1000, family, 1000)->Unit(benchmark::kMillisecond); \
  BENCHMARK_CAPTURE(BM_FamilyDesign, name##_k10000, family, 10000)                        \
      ->Unit(benchmark::kMillisecond)                                                     \
      ->Iterations(1)

FAMILY_BENCH(pocock, "pocock");
FAMILY_BENCH(obf, "obf");
FAMILY_BENCH(wt025, "wt:0.25");
FAMILY_BENCH(bayes, "bayes");
FAMILY_BENCH(bayes_half, "bayes:0.5,0.5");
FAMILY_BENCH(sprt, "sprt:0.35");
FAMILY_BENCH(maxsprt, "maxsprt");

}  // namespace
