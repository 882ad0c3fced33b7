// The loop both design benchmarks time: FindBndry for K, THETA and PHI, then
// one row per table rate through the given row function, as a run does.
#pragma once

#include <benchmark/benchmark.h>

#include <array>

#include "bndry/bndry.h"
#include "driver/driver.h"

/// Times the design of K, theta, phi and row(rate, K, lower, upper) at each
/// of the table's rates, lower never stopping.
template <class Row>
void design_then_rows(benchmark::State& state, int K, double theta, double phi, Row row) {
  std::array<int, max_patients + 1> b{};
  std::array<int, max_patients + 1> lower{};
  lower.fill(-1);
  for (auto _ : state) {
    double alpha = 0.0;
    double phi_star = 0.0;
    if (FindBndry(b.data(), &alpha, &phi_star, K, theta, phi) != 0) state.SkipWithError("design failed");
    for (const double rate : table_thetas(theta))
      benchmark::DoNotOptimize(row(rate, K, lower.data(), b.data()));
  }
}
