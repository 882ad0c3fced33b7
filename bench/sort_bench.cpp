// The level search's sort of its candidate levels (about 24,500 tails for
// K = 255, THETA = 0.2, PHI = 0.05): the bucket sort it uses, reading the
// rows where they lie, against a comparison sort of the same values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "base/base.h"
#include "bndry/internal.h"

namespace {

// The tails FindAlpha collects: row n from k = n down to the first >= phi,
// one run per row, end to end.
struct candidates {
  std::vector<double> tails;
  std::vector<bndry_internal::tail_run> runs;
};

candidates collect(int K, double theta, double phi) {
  std::vector<double> surv(static_cast<std::size_t>(K) + 2);
  std::vector<int> sizes;
  candidates c;
  for (int n = 1; n <= K; ++n) {
    bin_srv_vec(surv.data(), n, theta);
    int size = 0;
    for (int k = n; k >= 0; --k) {
      c.tails.push_back(surv[static_cast<std::size_t>(k)]);
      ++size;
      if (surv[static_cast<std::size_t>(k)] >= phi) break;
    }
    sizes.push_back(size);
  }
  const double* at = c.tails.data();
  for (const int size : sizes) {
    c.runs.push_back({at, size});
    at += size;
  }
  return c;
}

void BM_sort_buckets(benchmark::State& state) {
  const auto c = collect(static_cast<int>(state.range(0)), 0.2, 0.05);
  std::vector<double> w(c.tails.size());
  for (auto _ : state) {
    bndry_internal::sort_tails(c.runs.data(), static_cast<int>(c.runs.size()), w.data());
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_sort_buckets)->Arg(60)->Arg(255)->Unit(benchmark::kMicrosecond);

void BM_sort_comparison(benchmark::State& state) {
  const auto c = collect(static_cast<int>(state.range(0)), 0.2, 0.05);
  std::vector<double> w(c.tails.size());
  for (auto _ : state) {
    w = c.tails;
    std::sort(w.begin(), w.end());
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_sort_comparison)->Arg(60)->Arg(255)->Unit(benchmark::kMicrosecond);

}  // namespace
