// When a trial stops: the distribution of the number of patients N from an
// engine's per-patient stops, its running sums, quantiles and E[N | stopped].
//
// The quantiles compare a sum of rounded probabilities with a level, and a
// design's N often has P(N <= n) close to 1/2 or even equal to it (theta =
// 0.5 gives dyadic probabilities). Each comparison is decided from the
// doubles where their error bound leaves no doubt, and otherwise from the
// same probabilities recomputed in double-double arithmetic.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "cross2/cross2.h"
#include "stopbound/internal.h"
#include "stopbound/stopbound.h"

namespace stopbound::internal {

namespace {

using dd = double_double;

// a + b = s + e exactly (Knuth).
constexpr dd two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// a + b = s + e exactly, given |a| >= |b|.
constexpr dd quick_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a = hi + lo with each half of 26 bits (Dekker), so that products of halves are exact.
constexpr std::pair<double, double> split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

// a b = p + e exactly, without a fused multiply-add (Dekker).
constexpr dd two_prod(double a, double b) {
  const double p = a * b;
  const auto [ah, al] = split(a);
  const auto [bh, bl] = split(b);
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

constexpr dd operator*(const dd& a, const dd& b) {
  dd p = two_prod(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return quick_two_sum(p.hi, p.lo);
}

constexpr dd operator+(const dd& a, const dd& b) {
  dd s = two_sum(a.hi, b.hi);
  s.lo += a.lo + b.lo;
  return quick_two_sum(s.hi, s.lo);
}

constexpr dd operator-(const dd& a) { return {-a.hi, -a.lo}; }

// The levels 1/10, 1/2 and 9/10 to double-double precision: the double 0.1
// is 1/10 + 1/(5 2^55).
constexpr dd one_tenth{0.1, -0.2 / 36028797018963968.0};
constexpr dd levels[3] = {one_tenth, {0.5, 0.0}, dd{1.0, 0.0} + -one_tenth};

}  // namespace

std::vector<double_double> stopped_by_precise(const boundary& b, double theta, double* bound) {
  const auto K = static_cast<int>(b.upper.size());
  const dd p{theta, 0.0};
  const dd q = two_sum(1.0, -theta);  // 1 - theta exactly
  // Index s + 1 holds count s, so that count -1 reads as a zero.
  std::vector<dd> alive(static_cast<std::size_t>(K) + 3);
  std::vector<dd> next(alive.size());
  alive[1] = {1.0, 0.0};
  int lo = 0;
  int hi = 0;
  dd stopped{};
  std::vector<dd> by_n(static_cast<std::size_t>(K));
  for (int n = 1; n <= K; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    int next_lo = K + 1;
    int next_hi = -1;
    for (int s = lo; s <= hi + 1; ++s) {
      const auto at = static_cast<std::size_t>(s) + 1;
      const dd here = alive[at - 1] * p + alive[at] * q;
      next[at] = {};
      // Every count is tested, so boundaries that fall back between looks are
      // credited wherever they are reached.
      if (s <= b.lower[i] || s >= b.upper[i]) {
        stopped = stopped + here;
      } else {
        next[at] = here;
        next_lo = std::min(next_lo, s);
        next_hi = std::max(next_hi, s);
      }
    }
    by_n[i] = stopped;
    if (next_lo > next_hi) {
      std::fill(by_n.begin() + n, by_n.end(), by_n[i]);
      break;
    }
    // Both rows stay zero outside their running range, which is how the
    // counts beside it read.
    for (int s = lo; s <= hi; ++s) alive[static_cast<std::size_t>(s) + 1] = {};
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
  }
  // An entry after n patients went through two operations per patient, the
  // running sum of the stops through at most two more per patient, each
  // within 8 u^2 relatively (u = 2^-53), non-negative terms throughout;
  // doubled for the second-order terms and the final rounding to a double
  // (which the caller's comparison at 1e-25 absorbs: 2^-53 at most 1).
  *bound = 2 * (4.0 * K + 8) * std::ldexp(8.0, -106);
  return by_n;
}

stopping summarize_stopping(const boundary& b, double theta, std::vector<double> p_high,
                            std::vector<double> p_low, double relative, double absolute) {
  const auto K = static_cast<int>(b.upper.size());
  stopping s;
  s.theta = theta;
  s.p_high = std::move(p_high);
  s.p_low = std::move(p_low);
  s.cum_high.resize(s.p_high.size());
  s.cum_low.resize(s.p_low.size());
  double high = 0.0;
  double low = 0.0;
  double weighted = 0.0;
  for (std::size_t i = 0; i < s.p_high.size(); ++i) {
    high += s.p_high[i];
    low += s.p_low[i];
    // Sums of probabilities may pass 1 by rounding; they are shown as probabilities.
    s.cum_high[i] = std::min(high, 1.0);
    s.cum_low[i] = std::min(low, 1.0);
    weighted += static_cast<double>(i + 1) * (s.p_high[i] + s.p_low[i]);
  }
  if (high + low > 0.0)
    s.mean_n_stopped = std::clamp(weighted / (high + low), 1.0, static_cast<double>(K));

  // q-quantile: the smallest n with P(N <= n) >= q; P(N <= K) = 1.
  std::vector<dd> precise;
  double precise_bound = 0.0;
  const auto reached = [&](int n, int level) {
    if (n == K) return true;
    const auto i = static_cast<std::size_t>(n - 1);
    const double by_n = s.cum_high[i] + s.cum_low[i];
    // Two running sums of n terms and their sum add gamma(n + 1) to the
    // entries' own error; doubled for the second-order terms. The double
    // level lies within 1e-17 of 1/10, 1/2 or 9/10.
    const double r = (1 + relative) * (1 + rounding_gamma(n + 1.0)) - 1;
    const double tolerance = 2 * (r * by_n + 2 * n * absolute) + 1e-17;
    const double gap = by_n - levels[level].hi;
    if (gap > tolerance) return true;
    if (gap < -tolerance) return false;
    if (precise.empty()) precise = stopped_by_precise(b, theta, &precise_bound);
    const dd diff = precise[i] + -levels[level];
    // Within the bound the exact value may equal the level (a tie at 1/2);
    // the quantile takes it as reached.
    return diff.hi >= -(precise_bound * precise[i].hi + 1e-290 * n + 1e-32);
  };
  const auto quantile = [&](int level) {
    int n = 1;
    while (!reached(n, level)) ++n;
    return n;
  };
  s.q10 = quantile(0);
  s.median = quantile(1);
  s.q90 = quantile(2);
  return s;
}

}  // namespace stopbound::internal
