// Costs of the binomial building blocks: one point probability, and a whole
// probability row by the walk from the mode.
#include <benchmark/benchmark.h>

#include <array>

#include "bndry/bndry.h"

namespace {

void BM_bin_pdf(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(bin_pdf(n / 3, n, 0.3));
}
BENCHMARK(BM_bin_pdf)->Arg(10)->Arg(255);

void BM_bin_pdf_vec(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::array<double, max_patients + 1> row{};
  for (auto _ : state) {
    bin_pdf_vec(row.data(), n, 0.3);
    benchmark::DoNotOptimize(row.data());
  }
}
BENCHMARK(BM_bin_pdf_vec)->Arg(10)->Arg(255);

}  // namespace
