// The family search against exact rational arithmetic: for every family, on
// looks at every patient, in cohorts and with a minimum, the chosen boundary
// is the one of the smallest attainable threshold whose exact PHI* is at
// most PHI, the next one is the boundary of the attainable value just below
// with exact PHI* above PHI, and the reported PHI* is the exact one to
// within its bound. Attainable values are listed by brute force here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bndry/bndry.h"
#include "bndry/design.h"
#include "bndry/internal.h"
#include "cross2/reference.h"

namespace {

using bndry::family_kind;
using bndry::family_params;

// The boundary of threshold c by its definition: at a look, the smallest
// count from the family's first one with s >= c; n + 1 elsewhere.
std::vector<int> boundary_of(const bndry::design_request& r, double c) {
  std::vector<int> upper(static_cast<std::size_t>(r.K) + 1);
  for (int n = 1; n <= r.K; ++n) upper[static_cast<std::size_t>(n)] = n + 1;
  for (const int n : r.looks) {
    int y = bndry::family_first_count(r.fam, r.theta, n, r.min_events);
    while (y <= n && !(bndry::family_statistic(r.fam, r.theta, r.K, n, y) >= c)) ++y;
    upper[static_cast<std::size_t>(n)] = y;
  }
  return upper;
}

// Every value the statistic takes where a threshold can stop, ascending,
// each once.
std::vector<double> attainable(const bndry::design_request& r) {
  std::vector<double> v;
  for (const int n : r.looks)
    for (int y = bndry::family_first_count(r.fam, r.theta, n, r.min_events); y <= n; ++y)
      v.push_back(bndry::family_statistic(r.fam, r.theta, r.K, n, y));
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

#ifdef HAVE_GMP
// Exact PHI* of a 1-based upper boundary, theta the double's rational value.
mpq_class exact_phi(const std::vector<int>& upper, int K, double theta) {
  const mpq_class p(theta);
  const mpq_class q = 1 - p;
  std::vector<mpq_class> a(static_cast<std::size_t>(K) + 2);
  a[0] = 1;
  mpq_class phi = 0;
  for (int d = 1; d <= K; ++d) {
    for (int s = d; s >= 1; --s)
      a[static_cast<std::size_t>(s)] =
          a[static_cast<std::size_t>(s - 1)] * p + a[static_cast<std::size_t>(s)] * q;
    a[0] *= q;
    for (int s = upper[static_cast<std::size_t>(d)]; s <= d; ++s) {
      phi += a[static_cast<std::size_t>(s)];
      a[static_cast<std::size_t>(s)] = 0;
    }
  }
  return phi;
}
#endif

struct search_case {
  family_params fam;
  double theta;
};

std::vector<search_case> families() {
  std::vector<search_case> out;
  for (const double theta : {0.2, 0.25, 0.137}) {
    out.push_back({{family_kind::pocock}, theta});
    out.push_back({{family_kind::wt, 0.0}, theta});
    out.push_back({{family_kind::wt, 0.25}, theta});
    out.push_back({{family_kind::wt, 0.5}, theta});
    out.push_back({{family_kind::bayes, 0.0, 1.0, 1.0}, theta});
    out.push_back({{family_kind::bayes, 0.0, 0.5, 2.5}, theta});
    out.push_back({{family_kind::sprt, 0.0, 1.0, 1.0, theta + 0.2}, theta});
    out.push_back({{family_kind::maxsprt}, theta});
  }
  return out;
}

std::vector<int> every(int K, int step) {
  std::vector<int> looks;
  for (int n = step; n <= K; n += step) looks.push_back(n);
  if (looks.empty() || looks.back() != K) looks.push_back(K);
  return looks;
}

TEST(FamilySearch, IsTheExactSmallestAttainableThreshold) {
#ifndef HAVE_GMP
  GTEST_SKIP() << "GMP is not available";
#else
  bndry::design_workspace ws;
  int designs = 0;
  for (const search_case& fc : families()) {
    for (const int K : {1, 9, 24, 40}) {
      for (const auto& [step, minimum] : {std::pair{1, 0}, std::pair{5, 0}, std::pair{1, 3}}) {
        for (const double phi : {0.05, 0.2}) {
          const bndry::design_request r{K, fc.theta, phi, fc.fam, every(K, step), minimum};
          const bndry::family_design d = bndry::design_family(r, ws);
          const std::string where =
              "K " + std::to_string(K) + " theta " + std::to_string(fc.theta) + " family " +
              std::to_string(static_cast<int>(fc.fam.kind)) + " step " + std::to_string(step) +
              " min " + std::to_string(minimum) + " phi " + std::to_string(phi);
          SCOPED_TRACE(where);
          ++designs;
          const std::vector<double> values = attainable(r);
          const double inf = std::numeric_limits<double>::infinity();
          const double c = d.never_stops ? inf : d.chosen.threshold;
          EXPECT_TRUE(d.never_stops || std::binary_search(values.begin(), values.end(), c));
          EXPECT_EQ(d.chosen.upper, boundary_of(r, c));
          const mpq_class exact = exact_phi(d.chosen.upper, K, fc.theta);
          if (!d.within_bound) {
            EXPECT_LE(exact, mpq_class(phi));
          }
          EXPECT_LE(std::fabs(d.chosen.phi_star - exact.get_d()), 1e-14 * exact.get_d() + 1e-300);
          // The next attainable value below, or none.
          const auto at = std::lower_bound(values.begin(), values.end(), c);
          ASSERT_EQ(d.next.has_value(), at != values.begin());
          if (!d.next) continue;
          EXPECT_EQ(d.next->threshold, *(at - 1));
          EXPECT_EQ(d.next->upper, boundary_of(r, d.next->threshold));
          const mpq_class next_exact = exact_phi(d.next->upper, K, fc.theta);
          if (!d.within_bound) {
            EXPECT_GT(next_exact, mpq_class(phi));
          }
          EXPECT_LE(std::fabs(d.next->phi_star - next_exact.get_d()), 1e-14 * next_exact.get_d());
          EXPECT_LE(d.chosen.alpha_used, d.next->alpha_used);
        }
      }
    }
  }
  EXPECT_EQ(designs, 24 * 4 * 3 * 2);
#endif
}

bool same_boundary(const bndry::family_boundary& a, const bndry::family_boundary& b) {
  return a.threshold == b.threshold && a.alpha_used == b.alpha_used && a.phi_star == b.phi_star &&
         a.upper == b.upper;
}

// A workspace starts each search from the last one's threshold when only K
// and the looks change. Rising K (a plan's scan), falling K and jumps must
// all give what a fresh workspace gives, bit for bit; the exactness of the
// fresh search is checked above.
TEST(FamilySearch, StartingFromTheLastThresholdChangesNothing) {
  std::vector<int> order;
  std::vector<int> jumps;
  for (int K = 1; K <= 60; ++K) {
    order.push_back(K);
    jumps.push_back(K);
  }
  for (int K = 60; K >= 1; K -= 3) order.push_back(K);
  std::shuffle(jumps.begin(), jumps.end(), std::mt19937(7));
  order.insert(order.end(), jumps.begin(), jumps.end());
  for (const search_case& fc : families()) {
    for (const auto& [step, minimum] : {std::pair{1, 0}, std::pair{4, 2}}) {
      bndry::design_workspace warm;
      for (const int K : order) {
        const bndry::design_request r{K, fc.theta, 0.1, fc.fam, every(K, step), minimum};
        SCOPED_TRACE("K " + std::to_string(K) + " family " +
                     std::to_string(static_cast<int>(fc.fam.kind)) + " theta " +
                     std::to_string(fc.theta) + " step " + std::to_string(step));
        const bndry::family_design got = bndry::design_family(r, warm);
        bndry::design_workspace cold;
        const bndry::family_design want = bndry::design_family(r, cold);
        EXPECT_TRUE(same_boundary(got.chosen, want.chosen));
        EXPECT_EQ(got.never_stops, want.never_stops);
        EXPECT_EQ(got.within_bound, want.within_bound);
        ASSERT_EQ(got.next.has_value(), want.next.has_value());
        if (got.next) {
          EXPECT_TRUE(same_boundary(*got.next, *want.next));
        }
      }
    }
  }
}

// The statistics at their edges: no events, every patient an event, the
// Bayesian family's binomial identity against the incomplete beta, and
// maxsprt's zero below n theta.
TEST(FamilyStatistic, EdgeCasesAreExact) {
  const double theta = 0.2;
  // wt:0 is O'Brien-Fleming's (y - n theta) / sqrt(K theta q).
  EXPECT_EQ(bndry::family_statistic({family_kind::wt, 0.0}, theta, 16, 4, 2),
            (2 - 4 * theta) / std::sqrt(16 * theta * (1 - theta)));
  // wt:0.5 drops the information weight: (n/K)^0 = 1.
  EXPECT_EQ(bndry::family_statistic({family_kind::wt, 0.5}, theta, 16, 4, 2),
            (2 - 4 * theta) / std::sqrt(4 * theta * (1 - theta)));
  // Pocock at y = 0 is -P(Y >= 0) = -1.
  EXPECT_EQ(bndry::family_statistic({family_kind::pocock}, theta, 10, 5, 0), -1.0);
  // Beta(1, 1) after 3 events in 3: I_theta(4, 1) = theta^4.
  EXPECT_NEAR(bndry::family_statistic({family_kind::bayes, 0.0, 1.0, 1.0}, theta, 3, 3, 3),
              -std::pow(theta, 4), 1e-17);
  // Beta(1, 1) without events: I_theta(1, n + 1) = 1 - q^(n + 1); the
  // binomial identity and the incomplete beta agree.
  EXPECT_NEAR(bndry::family_statistic({family_kind::bayes, 0.0, 1.0, 1.0}, theta, 5, 5, 0),
              -(1 - std::pow(1 - theta, 6)), 1e-15);
  EXPECT_NEAR(
      bndry::family_statistic({family_kind::bayes, 0.0, 1.0, 1.0}, theta, 30, 30, 7),
      bndry::family_statistic({family_kind::bayes, 0.0, 1.0 + 1e-15, 1.0}, theta, 30, 30, 7),
      1e-12);
  // sprt at y = n: n ln(theta1 / theta), the other term exactly zero.
  EXPECT_EQ(bndry::family_statistic({family_kind::sprt, 0.0, 1, 1, 0.4}, theta, 6, 6, 6),
            6 * std::log(0.4 / theta));
  // maxsprt: 0 up to n theta, y ln(1 / theta) at y = n (0 ln 0 = 0).
  EXPECT_EQ(bndry::family_statistic({family_kind::maxsprt}, theta, 10, 10, 2), 0.0);
  EXPECT_EQ(bndry::family_statistic({family_kind::maxsprt}, theta, 10, 10, 10),
            10 * std::log(10 / (10 * theta)));
  EXPECT_EQ(bndry::family_first_count({family_kind::maxsprt}, theta, 10, 0), 3);
  EXPECT_EQ(bndry::family_first_count({family_kind::pocock}, theta, 10, 0), 1);
  EXPECT_EQ(bndry::family_first_count({family_kind::pocock}, theta, 10, 11), 11);
}

// The survival rows are the dialogue's table rows, bit for bit, to 255.
TEST(TailRow, IsTheDialoguesTableUpTo255) {
  for (const double theta : {0.2, 0.25, 0.013, 0.77}) {
    ASSERT_EQ(bndry_internal::init_bin(nullptr, theta, max_patients), 0);
    std::vector<double> row(max_patients + 1);
    for (int n = 1; n <= max_patients; ++n) {
      bndry::tail_row(row.data(), n, theta);
      for (int k = 0; k <= n; ++k)
        ASSERT_EQ(row[static_cast<std::size_t>(k)], bndry_internal::surv_row(n)[k])
            << n << " " << k;
    }
  }
  // Beyond 255 the rows keep their shape: 1 first, never increasing.
  std::vector<double> row(2001);
  bndry::tail_row(row.data(), 2000, 0.2);
  EXPECT_EQ(row[0], 1.0);
  EXPECT_TRUE(std::is_sorted(row.rbegin(), row.rend()));
  // P(Y = 400) by ln Gamma in extended precision.
  const long double theta = 0.2;
  const long double pdf =
      std::exp(std::lgamma(2001.0L) - std::lgamma(401.0L) - std::lgamma(1601.0L) +
               400 * std::log(theta) + 1600 * std::log(1 - theta));
  EXPECT_NEAR((row[400] - row[401]) / pdf, 1.0, 1e-12);
}

// PHI* of boundaries of any shape, non-monotone ones included, against the
// exact enumeration, with the bound it states; and the endings of a pair
// against the same enumeration.
TEST(UpperCrossing, MatchesExactEnumerationWithinItsBound) {
#ifndef HAVE_GMP
  GTEST_SKIP() << "GMP is not available";
#else
  std::mt19937 rng(19);
  bndry::phi_scratch scratch;
  for (int trial = 0; trial < 60; ++trial) {
    const int K = 1 + trial % 14;
    const double theta = 0.05 + 0.9 * std::uniform_real_distribution<double>(0, 1)(rng);
    std::vector<int> lower(static_cast<std::size_t>(K) + 1, -1);
    std::vector<int> upper(static_cast<std::size_t>(K) + 1);
    for (int n = 1; n <= K; ++n) {
      // Looks at random patients; between them no count stops.
      const bool look = std::uniform_int_distribution<int>(0, 2)(rng) != 0;
      upper[static_cast<std::size_t>(n)] =
          look ? std::uniform_int_distribution<int>(1, n + 1)(rng) : n + 1;
      if (look && trial % 2 == 0)
        lower[static_cast<std::size_t>(n)] = std::uniform_int_distribution<int>(
            -1, std::min(upper[static_cast<std::size_t>(n)] - 1, n == 1 ? 0 : n))(rng);
    }
    std::vector<mpq_class> ls, us, rs;
    test_reference::crossing_reference_exact(
        K, theta, std::vector<int>(static_cast<std::size_t>(K) + 1, -1).data(), upper.data(), ls,
        us, rs);
    mpq_class phi = 0;
    for (int n = 1; n <= K; ++n) phi += us[static_cast<std::size_t>(n)];
    const bndry::phi_value v = bndry::upper_crossing_phi(upper, K, theta, scratch);
    EXPECT_LE(test_reference::abs_error(v.value, phi), v.error);
    const bndry::precise_phi_value pv = bndry::upper_crossing_phi_precise(upper, K, theta, scratch);
    EXPECT_LE(test_reference::abs_error(pv.value, phi), static_cast<double>(pv.error));

    test_reference::crossing_reference_exact(K, theta, lower.data(), upper.data(), ls, us, rs);
    // The engine's vectors for the same pair, as the operating characteristics take them.
    const auto size = static_cast<std::size_t>(K) + 1;
    std::vector<double> low(size), high(size), rest(size);
    ASSERT_EQ(CrossingProb(low.data(), high.data(), rest.data(), theta, K, lower.data(),
                           upper.data(), scratch.engine),
              0);
    for (int n = 1; n <= K; ++n) {
      const auto at = static_cast<std::size_t>(n);
      EXPECT_LE(test_reference::abs_error(low[at], ls[at]), 1e-14);
      EXPECT_LE(test_reference::abs_error(high[at], us[at]), 1e-14);
    }
    for (int s = 0; s <= K; ++s)
      EXPECT_LE(test_reference::abs_error(rest[static_cast<std::size_t>(s)],
                                          rs[static_cast<std::size_t>(s)]),
                1e-14);
  }
#endif
}

}  // namespace
