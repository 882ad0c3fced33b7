// The one reference for crossing probabilities, for the tests of every
// module: two independent computations of how a monitored trial ends (low
// when the count is <= lower[m], high when it is >= upper[m], the lower test
// first; otherwise it runs to K).
//
// The enumeration follows every one of the 2^K outcome sequences of K <= 20
// patients. The counts of sequences ending each way, by their total number
// of events, do not depend on theta, so a probability is an exact polynomial
// in theta with positive terms, evaluated in long double or, with GMP, in
// rationals. The running-count recursion carries the distribution of the
// count among running trials from patient to patient in long double, for
// any K up to 255; the enumeration checks it exactly.
// Also a seeded generator of valid boundary pairs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#ifdef HAVE_GMP
#include <gmpxx.h>
#endif

namespace test_reference {

/// Enumeration costs 2^K * K steps; keep K at or below this.
inline constexpr int max_enumerated_patients = 20;

/// How the 2^K sequences end. low[m][j] (high[m][j]): the number of sequences
/// with j events among all K patients that stop low (high) right after
/// patient m, m = 1..K; rest[s]: those that never stop and end with s events.
struct crossing_counts {
  int K = 0;
  std::vector<std::vector<std::uint64_t>> low, high;
  std::vector<std::uint64_t> rest;
};

/// Boundaries are indexed 1..K, as the engine takes them; K in 1..20.
inline crossing_counts count_endings(int K, const int* lower, const int* upper) {
  crossing_counts c;
  c.K = K;
  const auto size = static_cast<std::size_t>(K + 1);
  c.low.assign(size, std::vector<std::uint64_t>(size, 0));
  c.high.assign(size, std::vector<std::uint64_t>(size, 0));
  c.rest.assign(size, 0);
  for (std::uint64_t seq = 0; seq < (std::uint64_t{1} << K); ++seq) {
    int total = 0;
    for (int m = 0; m < K; ++m) total += static_cast<int>((seq >> m) & 1U);
    const auto j = static_cast<std::size_t>(total);
    int s = 0;
    bool stopped = false;
    for (int m = 1; m <= K && !stopped; ++m) {
      s += static_cast<int>((seq >> (m - 1)) & 1U);
      const auto at = static_cast<std::size_t>(m);
      if (s <= lower[m]) {
        ++c.low[at][j];
        stopped = true;
      } else if (s >= upper[m]) {
        ++c.high[at][j];
        stopped = true;
      }
    }
    if (!stopped) ++c.rest[static_cast<std::size_t>(s)];
  }
  return c;
}

/// The three vectors of K + 1 entries (entry 0 of ls and us is 0) from the
/// counts, each one sequence probability theta^j (1 - theta)^(K - j) summed
/// by its count. Works for any number type built from a double and an int.
template <typename Real>
void evaluate(const crossing_counts& c, const Real& theta, std::vector<Real>& ls,
              std::vector<Real>& us, std::vector<Real>& rs) {
  const auto size = static_cast<std::size_t>(c.K + 1);
  const Real q = Real(1) - theta;
  std::vector<Real> seq_prob(size, Real(1));
  for (std::size_t j = 0; j < size; ++j) {
    for (std::size_t i = 0; i < j; ++i) seq_prob[j] *= theta;
    for (std::size_t i = j; i + 1 < size; ++i) seq_prob[j] *= q;
  }
  auto weigh = [&](const std::vector<std::uint64_t>& counts) {
    Real sum(0);
    for (std::size_t j = 0; j < size; ++j)
      if (counts[j] != 0) sum += Real(static_cast<unsigned long>(counts[j])) * seq_prob[j];
    return sum;
  };
  ls.assign(size, Real(0));
  us.assign(size, Real(0));
  rs.assign(size, Real(0));
  for (std::size_t m = 1; m < size; ++m) {
    ls[m] = weigh(c.low[m]);
    us[m] = weigh(c.high[m]);
  }
  // A sequence that never stops ends with its own total, so rest needs no weighing.
  for (std::size_t s = 0; s < size; ++s)
    rs[s] = Real(static_cast<unsigned long>(c.rest[s])) * seq_prob[s];
}

/// Stopping-low, stopping-high and remaining probabilities (entry 0 of ls
/// and us is 0) by the running-count recursion, for any boundaries of
/// patients 1..K; with `stops`, also each stop as (patient, count, high?,
/// probability). Real is long double (relative error of an entry at most
/// about 2 K roundings, all terms being positive) or, with GMP, mpq_class
/// (exact, for the K of a few dozen where rationals stay small).
template <typename Real>
struct stop_at {
  int m, count;
  bool high;
  Real w;
};

template <typename Real>
void crossing_recursion(int K, const Real& p, const int* lower, const int* upper,
                        std::vector<Real>& ls, std::vector<Real>& us, std::vector<Real>& rs,
                        std::vector<stop_at<Real>>* stops = nullptr) {
  const auto size = static_cast<std::size_t>(K + 1);
  const Real q = Real(1) - p;
  std::vector<Real> alive(size, Real(0));
  alive[0] = Real(1);
  ls.assign(size, Real(0));
  us.assign(size, Real(0));
  for (std::size_t m = 1; m < size; ++m) {
    for (std::size_t s = m; s >= 1; --s) alive[s] = alive[s] * q + alive[s - 1] * p;
    alive[0] *= q;
    for (std::size_t s = 0; s <= m; ++s) {
      const int count = static_cast<int>(s);
      const bool low = count <= lower[m];
      if (!low && count < upper[m]) continue;
      (low ? ls : us)[m] += alive[s];
      if (stops != nullptr && alive[s] != Real(0))
        stops->push_back({static_cast<int>(m), count, !low, alive[s]});
      alive[s] = Real(0);
    }
  }
  rs = alive;
}

inline void crossing_reference(int K, double theta, const int* lower, const int* upper,
                               std::vector<long double>& ls, std::vector<long double>& us,
                               std::vector<long double>& rs) {
  crossing_recursion<long double>(K, theta, lower, upper, ls, us, rs);
}

#ifdef HAVE_GMP
/// The same by enumeration (K <= 20), exactly, with theta taken as the
/// rational value of the double.
inline void crossing_reference_exact(int K, double theta, const int* lower, const int* upper,
                                     std::vector<mpq_class>& ls, std::vector<mpq_class>& us,
                                     std::vector<mpq_class>& rs) {
  evaluate<mpq_class>(count_endings(K, lower, upper), mpq_class(theta), ls, us, rs);
}

/// The recursion in exact rationals, theta taken as the double's value: the
/// exact vectors for any boundaries, within reach up to K of a few dozen.
inline void crossing_reference_rational(int K, double theta, const int* lower, const int* upper,
                                        std::vector<mpq_class>& ls, std::vector<mpq_class>& us,
                                        std::vector<mpq_class>& rs,
                                        std::vector<stop_at<mpq_class>>* stops = nullptr) {
  crossing_recursion<mpq_class>(K, mpq_class(theta), lower, upper, ls, us, rs, stops);
}

/// True when x lies within relative * e + absolute of the exact e, decided
/// exactly.
inline bool within(double x, const mpq_class& e, double relative, double absolute) {
  return abs(mpq_class(x) - e) <= mpq_class(relative) * e + mpq_class(absolute);
}

/// |x - exact|, formed exactly and rounded once.
inline double abs_error(double x, const mpq_class& exact) {
  return mpq_class(abs(mpq_class(x) - exact)).get_d();
}

/// The same for a long double, whose 64-bit significand is the exact sum of
/// two doubles.
inline double abs_error(long double x, const mpq_class& exact) {
  const double hi = static_cast<double>(x);
  const mpq_class value = mpq_class(hi) + mpq_class(static_cast<double>(x - hi));
  return mpq_class(abs(value - exact)).get_d();
}
#endif

/// A boundary pair for patients 1..K; both vectors have K + 1 entries and
/// entry 0 (never read) is 0.
struct boundary_pair {
  std::vector<int> lower, upper;
};

/// A random pair that CrossingProb accepts: lower is -1 everywhere for about
/// half the pairs, otherwise starts at -1 or 0 and rises by 0..max_lower_rise
/// per patient; upper starts at 1..3, rises by 0..2 per patient, stays above
/// lower and mostly at or below m + 1 (m + 2 at most, unless lower forces it).
inline boundary_pair random_boundaries(std::mt19937& rng, int K, int max_lower_rise = 1) {
  boundary_pair b;
  const auto size = static_cast<std::size_t>(K + 1);
  b.lower.assign(size, 0);
  b.upper.assign(size, 0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const bool never_low = unit(rng) < 0.5;
  const double lower_rate = unit(rng) * 0.5;        // chance that lower rises at a patient
  const double upper_rate = 0.2 + unit(rng) * 0.7;  // chance that upper rises at a patient
  std::uniform_int_distribution<int> rise(1, std::max(1, max_lower_rise));
  for (int m = 1; m <= K; ++m) {
    const auto at = static_cast<std::size_t>(m);
    int lo = -1;
    if (!never_low)
      lo = m == 1 ? (unit(rng) < 0.5 ? -1 : 0)
                  : b.lower[at - 1] + (unit(rng) < lower_rate ? rise(rng) : 0);
    int up = 0;
    if (m == 1) {
      const double u = unit(rng);
      up = u < 0.4 ? 1 : (u < 0.8 ? 2 : 3);
    } else {
      up = b.upper[at - 1] + (unit(rng) < upper_rate ? (unit(rng) < 0.1 ? 2 : 1) : 0);
      up = std::max(b.upper[at - 1], std::min(up, m + 2));
    }
    b.lower[at] = lo;
    b.upper[at] = std::max(up, lo + 1);
  }
  return b;
}

/// A pair with looks, as the designs with a schedule make them: looks in
/// cohorts of 2..7 or at random chosen patients, always at K; between looks
/// lower -1 and upper m + 1 (no count stops), so the upper boundary falls
/// back at each look and the lower returns to -1 after it. At a look the
/// upper boundary lies near theta0 m plus a few, at least min_events (0..3)
/// and at most m + 1; for about half the pairs a lower boundary near m / 8
/// stops low there too.
inline boundary_pair random_looked_boundaries(std::mt19937& rng, int K) {
  boundary_pair b;
  const auto size = static_cast<std::size_t>(K + 1);
  b.lower.assign(size, 0);
  b.upper.assign(size, 0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const bool cohorts = unit(rng) < 0.5;
  const int cohort = 2 + static_cast<int>(unit(rng) * 6);
  const double chosen = 0.1 + 0.3 * unit(rng);
  const bool two_sided = unit(rng) < 0.5;
  const double theta0 = 0.05 + 0.4 * unit(rng);
  const int min_events = static_cast<int>(unit(rng) * 4);
  std::normal_distribution<double> noise(0.0, 1.5);
  for (int m = 1; m <= K; ++m) {
    const auto at = static_cast<std::size_t>(m);
    const bool look = m == K || (cohorts ? m % cohort == 0 : unit(rng) < chosen);
    int up = m + 1;
    int lo = -1;
    if (look) {
      const double centre = theta0 * m + 1.5 * std::sqrt(m + 1.0) + noise(rng);
      up = std::clamp(static_cast<int>(std::lround(centre)), std::max(1, min_events), m + 1);
      if (two_sided && m > 1)
        lo = std::clamp(static_cast<int>(std::lround(m / 8.0 + noise(rng))), -1, up - 1);
    }
    b.lower[at] = lo;
    b.upper[at] = up;
  }
  b.lower[1] = std::min(b.lower[1], 0);
  return b;
}

}  // namespace test_reference
