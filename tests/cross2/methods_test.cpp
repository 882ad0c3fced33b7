// The engine's two methods and the rule between them: the walk's cost is
// counted exactly before it runs, the recursion over merged states gives the
// walk's results to within rounding, and the estimate's bound holds that
// rounding in.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"
#include "cross2/old_engine.h"
#include "cross2/reference.h"

namespace {

using cross2_internal::method_choice;

struct vectors {
  std::vector<double> ls, us, rs;
};

vectors crossing(method_choice choice, double theta, const test_reference::boundary_pair& b) {
  const int K = static_cast<int>(b.lower.size()) - 1;
  vectors v{std::vector<double>(b.lower.size()), std::vector<double>(b.lower.size()),
            std::vector<double>(b.lower.size())};
  cross2_internal::choose_method(choice);
  EXPECT_EQ(
      CrossingProb(v.ls.data(), v.us.data(), v.rs.data(), theta, K, b.lower.data(), b.upper.data()),
      0);
  cross2_internal::choose_method(method_choice::by_cost);
  return v;
}

constexpr std::uint64_t no_cap = std::uint64_t{1} << 62;

TEST(WalkCost, EqualsTheCallsTheWalkMakes) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 400; ++trial) {
    const int K = 1 + trial % 16;
    // Every other pair with looks: falling upper, lower back to -1.
    const auto b = trial % 2 == 0 ? test_reference::random_boundaries(rng, K, 1 + trial % 3)
                                  : test_reference::random_looked_boundaries(rng, K);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K);
    crossing(method_choice::walk, 0.37, b);
    EXPECT_EQ(cross2_internal::walk_cost(K, b.lower.data(), b.upper.data(), no_cap),
              cross2_internal::last_walk_calls());
  }
}

TEST(WalkCost, IsCappedAboveTheBudget) {
  // Never stopping: every sequence after patient 1 lies in the cone, so the
  // walk makes just patient 1's two calls. A boundary at 2 everywhere keeps
  // the sequences of no event and of one event running (one call per patient
  // for each) and lets only the last count of 0 into the cone: K (K + 1) / 2.
  test_reference::boundary_pair b{std::vector<int>(256, -1), std::vector<int>(256, 0)};
  for (int m = 0; m <= 255; ++m) b.upper[static_cast<std::size_t>(m)] = m + 1;
  EXPECT_EQ(cross2_internal::walk_cost(255, b.lower.data(), b.upper.data(), no_cap), 2u);
  std::fill(b.upper.begin(), b.upper.end(), 2);
  EXPECT_EQ(cross2_internal::walk_cost(255, b.lower.data(), b.upper.data(), no_cap), 32640u);
  // A boundary the walk could never finish is reported as just above the cap.
  for (int m = 0; m <= 255; ++m) b.upper[static_cast<std::size_t>(m)] = m / 4 + 2;
  EXPECT_EQ(cross2_internal::walk_cost(255, b.lower.data(), b.upper.data(), 1000), 1001u);
}

TEST(Recursion, AgreesWithTheWalkAndTheExactValues) {
  // The walk's cone adds binomial probabilities exp(ln n! - ln k! - ...) whose
  // log-factorials carry the rounding of a running sum of logarithms; their
  // relative error grows with ln K! to about 2e-14 at K = 18, while the
  // recursion, only products and sums of probabilities, stays within 1e-15.
  constexpr double exact = 2e-15;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 600; ++trial) {
    const int K = 1 + trial % 18;
    const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 2);
    const double theta = trial % 10 == 0 ? 1e-6 * (1 + unit(rng)) : 0.001 + 0.998 * unit(rng);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    const double agree = K <= 15 ? 1e-14 : 4e-14;
    const auto w = crossing(method_choice::walk, theta, b);
    const auto r = crossing(method_choice::recursion, theta, b);
    std::vector<long double> ls, us, rs;
    test_reference::crossing_reference(K, theta, b.lower.data(), b.upper.data(), ls, us, rs);
    for (std::size_t i = 0; i < b.lower.size(); ++i) {
      EXPECT_NEAR(w.ls[i], r.ls[i], agree) << i;
      EXPECT_NEAR(w.us[i], r.us[i], agree) << i;
      EXPECT_NEAR(w.rs[i], r.rs[i], agree) << i;
      EXPECT_NEAR(r.ls[i], static_cast<double>(ls[i]), exact) << i;
      EXPECT_NEAR(r.us[i], static_cast<double>(us[i]), exact) << i;
      EXPECT_NEAR(r.rs[i], static_cast<double>(rs[i]), exact) << i;
    }
  }
}

}  // namespace

namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Recursion, RoundsAsTheScalarLoopDid) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int K = 1 + (trial * 37) % max_patients;
    const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 3);
    const double theta = trial % 7 == 0 ? 1e-5 * unit(rng) + 1e-300 : unit(rng) * 0.998 + 0.001;
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    const auto r = crossing(method_choice::recursion, theta, b);
    const auto s = old_engine::recursion(theta, b.lower, b.upper);
    EXPECT_TRUE(same_bits(r.ls, s.ls));
    EXPECT_TRUE(same_bits(r.us, s.us));
    EXPECT_TRUE(same_bits(r.rs, s.rs));
  }
}

TEST(UpperCrossing, GivesCrossingProbsStopsBitForBit) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const method_choice choice :
       {method_choice::by_cost, method_choice::walk, method_choice::recursion}) {
    for (int trial = 0; trial < 150; ++trial) {
      const int K = 1 + trial % 18;
      const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 2);
      const double theta = 0.001 + 0.998 * unit(rng);
      const auto full = crossing(choice, theta, b);
      std::vector<double> ls(b.lower.size(), -1.0), us(b.lower.size(), -1.0);
      cross2_internal::choose_method(choice);
      ASSERT_EQ(upper_crossing(ls.data(), us.data(), theta, K, b.lower.data(), b.upper.data()), 0);
      cross2_internal::choose_method(method_choice::by_cost);
      EXPECT_TRUE(same_bits(ls, full.ls) && same_bits(us, full.us)) << trial;
    }
  }
  // Refusals are CrossingProb's, in its order.
  const std::vector<int> lower{0, 1}, upper{0, 1};
  std::vector<double> ls(2), us(2);
  EXPECT_EQ(upper_crossing(ls.data(), us.data(), 0.0, 1, lower.data(), upper.data()), 1);
  EXPECT_EQ(
      upper_crossing(ls.data(), us.data(), 0.5, max_trial_patients + 1, lower.data(), upper.data()),
      2);
  EXPECT_EQ(upper_crossing(ls.data(), us.data(), 0.5, 1, lower.data(), upper.data()), 3);
}

TEST(WalkTable, RowsKeptForOneThetaLeaveNoTraceInAnother) {
  // The walk fills its binomial rows as it first needs them and keeps them
  // while theta stays; a call at another theta must not read them.
  std::mt19937 rng(13);
  const auto b = test_reference::random_boundaries(rng, 14, 1);
  const auto first = crossing(method_choice::walk, 0.3, b);
  const auto other = crossing(method_choice::walk, 0.7, b);
  const auto merged = crossing(method_choice::recursion, 0.7, b);
  for (std::size_t s = 0; s < b.lower.size(); ++s)
    EXPECT_NEAR(other.rs[s], merged.rs[s], 1e-14) << s;
  const auto again = crossing(method_choice::walk, 0.3, b);
  EXPECT_TRUE(same_bits(first.rs, again.rs));
}

TEST(Estimate, IsCrossingProbItselfWhereTheRecursionRuns) {
  std::array<int, max_patients + 1> lower{};
  lower.fill(-1);
  std::array<int, max_patients + 1> b{};
  for (int m = 1; m <= max_patients; ++m)
    b[static_cast<std::size_t>(m)] = m / 4 + 2;  // far beyond the budget
  std::vector<double> ls(256), us(256), rs(256), els(256), eus(256), ers(256);
  ASSERT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), 0.3, 255, lower.data(), b.data()), 0);
  crossing_bound bound{1.0, 1.0};
  ASSERT_EQ(crossing_estimate(els.data(), eus.data(), ers.data(), 0.3, 255, lower.data(), b.data(),
                              &bound),
            0);
  EXPECT_EQ(bound.relative, 0.0);
  EXPECT_EQ(bound.absolute, 0.0);
  EXPECT_TRUE(same_bits(ls, els) && same_bits(us, eus) && same_bits(rs, ers));
  EXPECT_EQ(sum_bound(array_sum(eus.data(), 1, 255), 255, bound), 0.0);
}

TEST(Estimate, WalksResultsLieWithinTheBound) {
  // Where the walk runs, each of its entries, and PHI*, lies within the
  // bound of the recursion's; the bound stays small enough to settle all
  // but near-ties (under 1e-8 even for theta of 1e-7).
  std::mt19937 rng(14);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 400; ++trial) {
    const int K = 1 + trial % 18;
    const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 3);
    const double theta = trial % 9 == 0   ? 1e-7
                         : trial % 9 == 1 ? 1 - 1e-7
                                          : 0.001 + 0.998 * unit(rng);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    const auto w = crossing(method_choice::walk, theta, b);
    vectors e{std::vector<double>(b.lower.size()), std::vector<double>(b.lower.size()),
              std::vector<double>(b.lower.size())};
    crossing_bound bound{};
    cross2_internal::choose_method(method_choice::walk);
    ASSERT_EQ(crossing_estimate(e.ls.data(), e.us.data(), e.rs.data(), theta, K, b.lower.data(),
                                b.upper.data(), &bound),
              0);
    cross2_internal::choose_method(method_choice::by_cost);
    EXPECT_GT(bound.relative, 0.0);
    EXPECT_LT(bound.relative, 1e-8);
    EXPECT_LE(bound.absolute, 1e-300);
    for (std::size_t i = 0; i < b.lower.size(); ++i) {
      // Each entry within r e + a of the same exact e: |w - e| <= 2 (r e + a), e ~ e's entry.
      EXPECT_LE(std::fabs(w.ls[i] - e.ls[i]), 2.01 * (bound.relative * e.ls[i] + bound.absolute))
          << i;
      EXPECT_LE(std::fabs(w.us[i] - e.us[i]), 2.01 * (bound.relative * e.us[i] + bound.absolute))
          << i;
      EXPECT_LE(std::fabs(w.rs[i] - e.rs[i]), 2.01 * (bound.relative * e.rs[i] + bound.absolute))
          << i;
    }
    const double sum = array_sum(e.us.data(), 1, K);
    EXPECT_LE(std::fabs(array_sum(w.us.data(), 1, K) - sum), sum_bound(sum, K, bound));
  }
}

}  // namespace

namespace {

// CrossingProb's distance from the exact values without running it: the
// walk's distance from the recursion (crossing_estimate without a
// workspace) composed with the recursion's own (with one), bit for bit, on
// boundaries that walk and on one far beyond the walk's budget.
TEST(CrossingProbBound, ComposesTheWalksAndTheRecursionsBounds) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  cross2::workspace ws;
  for (int trial = 0; trial < 101; ++trial) {
    const int K = trial == 100 ? max_patients : 1 + trial % 18;
    auto b = test_reference::random_boundaries(rng, K, 1 + trial % 3);
    if (trial == 100)
      for (int m = 1; m <= K; ++m) {
        b.lower[static_cast<std::size_t>(m)] = -1;
        b.upper[static_cast<std::size_t>(m)] = m / 4 + 2;
      }
    const double theta = 0.001 + 0.998 * unit(rng);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    const std::size_t size = b.lower.size();
    std::vector<double> ls(size), us(size), rs(size);
    crossing_bound walk{};
    crossing_bound recursion{};
    ASSERT_EQ(crossing_estimate(ls.data(), us.data(), rs.data(), theta, K, b.lower.data(),
                                b.upper.data(), &walk),
              0);
    ASSERT_EQ(crossing_estimate(ls.data(), us.data(), nullptr, theta, K, b.lower.data(),
                                b.upper.data(), &recursion, ws),
              0);
    crossing_bound got{};
    ASSERT_EQ(crossing_prob_bound(theta, K, b.lower.data(), b.upper.data(), &got, ws), 0);
    EXPECT_EQ(got.relative, (1 + walk.relative) * (1 + recursion.relative) - 1);
    EXPECT_EQ(got.absolute, walk.absolute + recursion.absolute);
  }
  crossing_bound untouched{7.0, 7.0};
  std::vector<int> lower(3, -1), upper{0, 0, 1};  // upper[1] < 1: refused
  EXPECT_EQ(crossing_prob_bound(0.2, 2, lower.data(), upper.data(), &untouched, ws), 4);
  EXPECT_EQ(untouched.relative, 7.0);
}

}  // namespace
