// The level search's sort of its candidate levels (about 24,500 tails for
// K = 255, THETA = 0.2, PHI = 0.05): the radix sort it uses against a
// comparison sort of the same values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "base/base.h"
#include "bndry/internal.h"

namespace {

// The tails FindAlpha collects: row n from k = n down to the first >= phi.
std::vector<double> candidates(int K, double theta, double phi) {
  std::vector<double> surv(K + 2);
  std::vector<double> v;
  for (int n = 1; n <= K; ++n) {
    bin_srv_vec(surv.data(), n, theta);
    for (int k = n; k >= 0; --k) {
      v.push_back(surv[static_cast<std::size_t>(k)]);
      if (surv[static_cast<std::size_t>(k)] >= phi) break;
    }
  }
  return v;
}

void BM_sort_radix(benchmark::State& state) {
  const auto v = candidates(static_cast<int>(state.range(0)), 0.2, 0.05);
  std::vector<double> w(v.size());
  for (auto _ : state) {
    w = v;
    bndry_internal::sort_tails(w.data(), static_cast<int>(w.size()));
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_sort_radix)->Arg(60)->Arg(255)->Unit(benchmark::kMicrosecond);

void BM_sort_comparison(benchmark::State& state) {
  const auto v = candidates(static_cast<int>(state.range(0)), 0.2, 0.05);
  std::vector<double> w(v.size());
  for (auto _ : state) {
    w = v;
    std::sort(w.begin(), w.end());
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_sort_comparison)->Arg(60)->Arg(255)->Unit(benchmark::kMicrosecond);

}  // namespace
