// The engine's two methods and the rule between them: the walk's cost is
// counted exactly before it runs, and the recursion over merged states gives
// the walk's results to within rounding.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"
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
  EXPECT_EQ(CrossingProb(v.ls.data(), v.us.data(), v.rs.data(), theta, K, b.lower.data(),
                         b.upper.data()),
            0);
  cross2_internal::choose_method(method_choice::by_cost);
  return v;
}

constexpr std::uint64_t no_cap = std::uint64_t{1} << 62;

TEST(WalkCost, EqualsTheCallsTheWalkMakes) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 400; ++trial) {
    const int K = 1 + trial % 16;
    const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 3);
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
