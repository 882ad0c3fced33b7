// The stopping distribution against exact rational arithmetic: the running
// sums, E[N | stopped] and the quantiles of N, the last decided exactly even
// where P(N <= n) equals 1/2 (dyadic rates), for K up to 30.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cross2/reference.h"
#include "stopbound/internal.h"
#include "stopbound/stopbound.h"

namespace {

using stopbound::boundary;

// A pair of the reference's generator, 0-based as the interface takes it,
// with an upper boundary that cannot be reached written as n + 1.
boundary from_reference(const test_reference::boundary_pair& p) {
  boundary b{{p.lower.begin() + 1, p.lower.end()}, {p.upper.begin() + 1, p.upper.end()}};
  for (std::size_t i = 0; i < b.upper.size(); ++i)
    b.upper[i] = std::min(b.upper[i], static_cast<int>(i) + 2);
  return b;
}

TEST(Stopping, NeverStoppingGivesNoConditionalMeanAndQuantilesAtK) {
  const boundary b{{-1, -1, -1}, {2, 3, 4}};
  stopbound::workspace ws;
  const stopbound::stopping s = stopbound::stopping_distribution(b, 0.3, ws);
  EXPECT_FALSE(s.mean_n_stopped.has_value());
  EXPECT_EQ(s.q10, 3);
  EXPECT_EQ(s.median, 3);
  EXPECT_EQ(s.q90, 3);
  EXPECT_EQ(s.cum_high, (std::vector<double>{0, 0, 0}));
}

TEST(Stopping, ATieAtOneHalfCountsAsReached) {
  // One event at patient 1 stops: P(N <= 1) = 1/2 exactly at theta = 0.5.
  const boundary b{{-1, -1, -1, -1}, {1, 2, 3, 4}};
  stopbound::workspace ws;
  const stopbound::stopping s = stopbound::stopping_distribution(b, 0.5, ws);
  EXPECT_EQ(s.median, 1);
  EXPECT_EQ(s.q10, 1);
  // Stops with no event at patient 1 as well: P(N <= 1) = 1.
  const stopbound::stopping both = stopbound::stopping_distribution({{0, 0, 0, 0}, {1, 2, 3, 4}}, 0.5, ws);
  EXPECT_EQ(both.q90, 1);
  EXPECT_EQ(both.mean_n_stopped, 1.0);
}

TEST(Stopping, PreciseRecursionResolvesWhatTheDoublesCannot) {
  // With a bound too wide for the doubles to decide anything, the quantiles
  // come from the double-double recursion alone, and still agree.
  const stopbound::design d = stopbound::make_design({30, 0.2, 0.1, {}, {}, 0});
  stopbound::workspace ws;
  for (const double theta : {0.2, 0.35, 0.5}) {
    const stopbound::stopping s = stopbound::stopping_distribution(d.bounds, theta, ws);
    const stopbound::stopping wide =
        stopbound::internal::summarize_stopping(d.bounds, theta, s.p_high, s.p_low, 1.0, 0.0);
    EXPECT_EQ(wide.q10, s.q10);
    EXPECT_EQ(wide.median, s.median);
    EXPECT_EQ(wide.q90, s.q90);
  }
}

#ifdef HAVE_GMP

struct exact_stopping {
  std::vector<mpq_class> p_high, p_low, by_n;  // by_n: P(N <= n), 0-based
};

// The running-count recursion in rationals, theta as the double's value.
exact_stopping exact(const boundary& b, double theta) {
  const auto K = b.upper.size();
  const mpq_class p(theta);
  const mpq_class q = 1 - p;
  std::vector<mpq_class> alive(K + 2, 0);
  alive[0] = 1;
  exact_stopping e;
  mpq_class stopped = 0;
  for (std::size_t i = 0; i < K; ++i) {
    for (std::size_t s = i + 1; s >= 1; --s) alive[s] = alive[s] * q + alive[s - 1] * p;
    alive[0] *= q;
    mpq_class high = 0;
    mpq_class low = 0;
    for (std::size_t s = 0; s <= i + 1; ++s) {
      const int count = static_cast<int>(s);
      if (count <= b.lower[i]) {
        low += alive[s];
        alive[s] = 0;
      } else if (count >= b.upper[i]) {
        high += alive[s];
        alive[s] = 0;
      }
    }
    stopped += high + low;
    e.p_high.push_back(high);
    e.p_low.push_back(low);
    e.by_n.push_back(stopped);
  }
  return e;
}

int exact_quantile(const exact_stopping& e, const mpq_class& level) {
  for (std::size_t i = 0; i + 1 < e.by_n.size(); ++i)
    if (e.by_n[i] >= level) return static_cast<int>(i) + 1;
  return static_cast<int>(e.by_n.size());
}

// |x - e| <= tol e (+ a floor for values that are 0 exactly).
void expect_close(double x, const mpq_class& e, double tol) {
  EXPECT_LE(test_reference::abs_error(x, e), tol * e.get_d() + 1e-300);
}

// Each entry within the engine's own bound: where it walks, at most
// gamma(2 10^5) = 2.2e-11 relatively.
constexpr double entry_tolerance = 2.5e-11;

void check_against_exact(const boundary& b, double theta) {
  stopbound::workspace ws;
  const stopbound::stopping s = stopbound::stopping_distribution(b, theta, ws);
  const exact_stopping e = exact(b, theta);
  mpq_class high = 0;
  mpq_class low = 0;
  mpq_class weighted = 0;
  for (std::size_t i = 0; i < b.upper.size(); ++i) {
    high += e.p_high[i];
    low += e.p_low[i];
    weighted += static_cast<unsigned long>(i + 1) * (e.p_high[i] + e.p_low[i]);
    expect_close(s.p_high[i], e.p_high[i], entry_tolerance);
    expect_close(s.p_low[i], e.p_low[i], entry_tolerance);
    expect_close(s.cum_high[i], high, entry_tolerance);
    expect_close(s.cum_low[i], low, entry_tolerance);
  }
  EXPECT_EQ(s.q10, exact_quantile(e, mpq_class(1, 10)));
  EXPECT_EQ(s.median, exact_quantile(e, mpq_class(1, 2)));
  EXPECT_EQ(s.q90, exact_quantile(e, mpq_class(9, 10)));
  ASSERT_EQ(s.mean_n_stopped.has_value(), high + low > 0);
  if (s.mean_n_stopped) expect_close(*s.mean_n_stopped, weighted / (high + low), entry_tolerance);

  // The double-double sums the fallback decides by, within their own bound.
  double bound = 0.0;
  const auto precise = stopbound::internal::stopped_by_precise(b, theta, &bound);
  for (std::size_t i = 0; i < precise.size(); ++i) {
    const mpq_class value = mpq_class(precise[i].hi) + mpq_class(precise[i].lo);
    const mpq_class error = abs(value - e.by_n[i]);
    EXPECT_LE(error, mpq_class(bound) * e.by_n[i] + mpq_class(1e-290) * static_cast<unsigned long>(i + 1));
  }
}

TEST(StoppingExact, DesignsAtTheirRateAndBeyond) {
  for (const int K : {1, 2, 5, 12, 20, 30})
    for (const double theta0 : {0.2, 0.5}) {
      const stopbound::design d = stopbound::make_design({K, theta0, 0.1, {}, {}, 0});
      for (const double theta : {theta0, 0.05, 0.37, 0.5, 0.75}) check_against_exact(d.bounds, theta);
    }
}

TEST(StoppingExact, RandomPairsWithLowerBoundaries) {
  std::mt19937 rng(20);
  for (int trial = 0; trial < 60; ++trial) {
    const int K = 1 + trial % 30;
    const boundary b = from_reference(test_reference::random_boundaries(rng, K));
    // 0.5 and 0.25 give dyadic probabilities, where P(N <= n) can be 1/2 exactly.
    for (const double theta : {0.5, 0.25, 0.1, 0.6}) check_against_exact(b, theta);
  }
}

#endif

}  // namespace
