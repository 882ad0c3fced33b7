// The crossing engine at K = 1,000 and 10,000, THETA = 0.2: one PHI*
// evaluation as a design search makes them (stops only), the full vectors,
// the precise evaluation, and an evaluation's operating characteristics at
// 100 rates (vectors, outcome list and moments), for a Pocock-shaped
// boundary checked after every patient and one checked every 10 patients.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "base/base.h"
#include "cross2/cross2.h"

namespace {

constexpr double kTheta = 0.2;

struct pair_of_boundaries {
  std::vector<int> lower, upper;
};

// The pointwise boundary of level alpha: the smallest count whose tail is at
// most alpha, at every patient or at every `step`-th (and at K); 1-based.
pair_of_boundaries pocock_shape(int K, double alpha, int step) {
  pair_of_boundaries b{std::vector<int>(static_cast<std::size_t>(K + 1), -1),
                       std::vector<int>(static_cast<std::size_t>(K + 1), 0)};
  std::vector<double> surv(static_cast<std::size_t>(K + 1));
  for (int n = 1; n <= K; ++n) {
    int u = n + 1;
    if (n % step == 0 || n == K) {
      bin_surv_row(surv.data(), n, kTheta);
      while (u > 0 && surv[static_cast<std::size_t>(u - 1)] <= alpha) --u;
      if (u == 0) u = 1;
    }
    b.upper[static_cast<std::size_t>(n)] = u;
  }
  return b;
}

// alpha where PHI* comes near 0.05 with a look at every patient.
double level(int K) { return K <= 1000 ? 4e-3 : 2.5e-3; }

void BM_phi_star(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const auto b = pocock_shape(K, level(K), static_cast<int>(state.range(1)));
  std::vector<double> ls(b.lower.size()), us(b.lower.size());
  cross2::workspace ws;
  crossing_bound bound{};
  for (auto _ : state) {
    crossing_estimate(ls.data(), us.data(), nullptr, kTheta, K, b.lower.data(), b.upper.data(), &bound, ws);
    benchmark::DoNotOptimize(array_sum(us.data(), 1, K));
  }
  state.counters["phi_star"] = array_sum(us.data(), 1, K);
}

void BM_full_vectors(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const auto b = pocock_shape(K, level(K), static_cast<int>(state.range(1)));
  std::vector<double> ls(b.lower.size()), us(b.lower.size()), rs(b.lower.size());
  cross2::workspace ws;
  crossing_bound bound{};
  for (auto _ : state) {
    crossing_estimate(ls.data(), us.data(), rs.data(), kTheta, K, b.lower.data(), b.upper.data(), &bound, ws);
    benchmark::DoNotOptimize(rs.data());
  }
}

void BM_precise(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const auto b = pocock_shape(K, level(K), static_cast<int>(state.range(1)));
  std::vector<double> ls(b.lower.size()), us(b.lower.size());
  cross2::workspace ws;
  crossing_bound bound{};
  for (auto _ : state) {
    crossing_precise(ls.data(), us.data(), kTheta, K, b.lower.data(), b.upper.data(), &bound, ws);
    benchmark::DoNotOptimize(us.data());
  }
}

// What an evaluation does per rate: the vectors, the outcome list split by
// count, and the three weighted moments.
void BM_oc_100_rates(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const auto b = pocock_shape(K, level(K), static_cast<int>(state.range(1)));
  const auto size = b.lower.size();
  std::vector<double> ls(size), us(size), rs(size);
  const auto most = static_cast<std::size_t>(3 * K + 1);
  std::vector<double> y(most), n(most), w(most), ratio(most);
  cross2::workspace ws;
  crossing_bound bound{};
  for (auto _ : state) {
    for (int r = 0; r < 100; ++r) {
      const double theta = 0.005 + 0.01 * r;
      crossing_estimate(ls.data(), us.data(), rs.data(), theta, K, b.lower.data(), b.upper.data(), &bound, ws);
      int counts[4];
      const int last = yn_dstn_at(y.data(), n.data(), w.data(), counts, theta, ls.data(), us.data(),
                                  rs.data(), b.lower.data(), b.upper.data(), K, ws);
      array_div(ratio.data(), y.data(), n.data(), 0, last);
      double m[3];
      meanvar(m, ratio.data(), w.data(), 0, last);
      meanvar(m, y.data(), w.data(), 0, last);
      meanvar(m, n.data(), w.data(), 0, last);
      benchmark::DoNotOptimize(m);
    }
  }
}

// (K, look every this many patients)
void shapes(benchmark::internal::Benchmark* b) {
  for (const int K : {1000, 10000})
    for (const int step : {1, 10}) b->Args({K, step});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_phi_star)->Apply(shapes);
BENCHMARK(BM_full_vectors)->Apply(shapes);
BENCHMARK(BM_precise)->Apply(shapes);
BENCHMARK(BM_oc_100_rates)->Apply(shapes);

}  // namespace
