// Tests of CrossingProb: hand-worked trials, the refusal statuses and their
// order, and random boundary pairs against the shared reference of
// tests/cross2/reference.h. Each result test runs once per method choice, so
// every method the engine offers meets the same expectations.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "cross2/cross2.h"
#include "cross2/internal.h"
#include "cross2/reference.h"

namespace {

using cross2_internal::method_choice;

// Engine against enumeration: a few dozen roundings of terms of size <= 1.
constexpr double kAgreeTol = 1e-14;
// The three vectors against 1.
constexpr double kSumTol = 1e-12;
// Short products and sums of exactly known values.
constexpr double kFewUlps = 4 * DBL_EPSILON;

struct spending {
  std::vector<double> ls, us, rs;
  explicit spending(int K, double fill = 0.0)
      : ls(static_cast<std::size_t>(K + 1), fill),
        us(static_cast<std::size_t>(K + 1), fill),
        rs(static_cast<std::size_t>(K + 1), fill) {}
};

int run(spending& out, double theta, int K, const std::vector<int>& lower,
        const std::vector<int>& upper) {
  return CrossingProb(out.ls.data(), out.us.data(), out.rs.data(), theta, K, lower.data(),
                      upper.data());
}

// Upper m + 1 at every patient: no count can reach it.
std::vector<int> unreachable(int K) {
  std::vector<int> u(static_cast<std::size_t>(K + 1), 0);
  for (int m = 1; m <= K; ++m) u[static_cast<std::size_t>(m)] = m + 1;
  return u;
}

std::vector<int> constant(int K, int value) {
  std::vector<int> v(static_cast<std::size_t>(K + 1), value);
  v[0] = 0;
  return v;
}

class Crossing : public ::testing::TestWithParam<method_choice> {
 protected:
  void SetUp() override { cross2_internal::choose_method(GetParam()); }
  void TearDown() override { cross2_internal::choose_method(method_choice::by_cost); }
};

INSTANTIATE_TEST_SUITE_P(Methods, Crossing,
                         ::testing::Values(method_choice::by_cost, method_choice::walk,
                                           method_choice::recursion),
                         [](const ::testing::TestParamInfo<method_choice>& info) {
                           switch (info.param) {
                             case method_choice::by_cost: return "ByCost";
                             case method_choice::walk: return "Walk";
                             case method_choice::recursion: return "Recursion";
                           }
                           return "Unknown";
                         });

TEST_P(Crossing, SinglePatient) {
  const double theta = 0.3;
  spending stop(1), run_on(1);
  ASSERT_EQ(run(stop, theta, 1, {0, -1}, {0, 1}), 0);
  EXPECT_EQ(stop.ls, (std::vector<double>{0, 0}));
  EXPECT_EQ(stop.us, (std::vector<double>{0, theta}));
  EXPECT_EQ(stop.rs, (std::vector<double>{1.0 - theta, 0}));

  ASSERT_EQ(run(run_on, theta, 1, {0, -1}, {0, 2}), 0);
  EXPECT_EQ(run_on.us, (std::vector<double>{0, 0}));
  EXPECT_EQ(run_on.rs, (std::vector<double>{1.0 - theta, theta}));
}

// K = 3, upper 2, 2, 3: only two events in the first two patients stop it.
TEST_P(Crossing, ThreePatients) {
  spending out(3);
  ASSERT_EQ(run(out, 0.3, 3, constant(3, -1), {0, 2, 2, 3}), 0);
  const double us[] = {0, 0, 0.09, 0};
  const double rs[] = {0.343, 0.441, 0.126, 0};
  for (std::size_t i = 0; i <= 3; ++i) {
    EXPECT_EQ(out.ls[i], 0.0);
    EXPECT_NEAR(out.us[i], us[i], kFewUlps) << i;
    EXPECT_NEAR(out.rs[i], rs[i], kFewUlps) << i;
  }
  EXPECT_EQ(out.us[3], 0.0);
  EXPECT_EQ(out.rs[3], 0.0);
}

TEST_P(Crossing, UnreachableUpperGivesBinomial) {
  for (const int K : {1, 2, 10, 40, 255}) {
    for (const double theta : {0.05, 0.5, 0.83}) {
      spending out(K);
      ASSERT_EQ(run(out, theta, K, constant(K, -1), unreachable(K)), 0) << K;
      std::vector<long double> ls, us, ref;
      const auto lower = constant(K, -1);
      const auto upper = unreachable(K);
      test_reference::crossing_reference(K, theta, lower.data(), upper.data(), ls, us, ref);
      for (std::size_t m = 0; m <= static_cast<std::size_t>(K); ++m) {
        ASSERT_EQ(out.ls[m], 0.0);
        ASSERT_EQ(out.us[m], 0.0);
        // bin_pdf goes through log-factorials: relative error grows with ln K!.
        const double tol = 1e-12 * static_cast<double>(ref[m]) + 1e-300;
        ASSERT_NEAR(out.rs[m], static_cast<double>(ref[m]), tol) << K << " " << theta << " " << m;
      }
      EXPECT_NEAR(array_sum(out.rs.data(), 0, K), 1.0, kSumTol);
    }
  }
}

// A lower boundary of 0 at patient 1 stops exactly the trials whose first
// patient has no event, and nothing later while it stays at 0 or -1.
TEST_P(Crossing, LowerStopAtFirstPatient) {
  for (const double theta : {0.1, 0.3, 0.77}) {
    spending one(1);
    ASSERT_EQ(run(one, theta, 1, {0, 0, -1}, {0, 2}), 0);
    EXPECT_EQ(one.ls[1], 1.0 - theta);
    EXPECT_EQ(one.rs[1], theta);

    for (const int K : {2, 5, 9}) {
      spending out(K);
      ASSERT_EQ(run(out, theta, K, constant(K, 0), unreachable(K)), 0);
      EXPECT_EQ(out.ls[1], 1.0 - theta) << K;
      for (std::size_t m = 2; m <= static_cast<std::size_t>(K); ++m) EXPECT_EQ(out.ls[m], 0.0);
      EXPECT_EQ(out.rs[0], 0.0);
    }
  }
}

// Each refusal, with later conditions also violated so that only the test
// order explains the status; the arrays keep their sentinel. A boundary that
// decreases (5 and 6 before patients without a look could stop nothing) is
// accepted, as is a value beyond the counts (below -1, above m + 1).
TEST(CrossingStatus, RefusedInOrderWithoutWriting) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct refusal {
    int status;
    double theta;
    int K;
    std::vector<int> lower, upper;
  };
  const std::vector<int> ok_lower = {0, -1, -1, -1}, ok_upper = {0, 1, 2, 2};
  const int too_many = max_trial_patients + 1;
  const refusal cases[] = {
      {1, 0.0, 0, {0, 1, 0, 0}, {0, 0, 0, 0}},
      {1, 1.0, 3, ok_lower, ok_upper},
      {1, nan, 3, ok_lower, ok_upper},
      {1, -0.5, 3, ok_lower, ok_upper},
      {1, std::nextafter(1.0, 2.0), 3, ok_lower, ok_upper},
      {2, 0.5, 0, {0, 1, 0, 0}, {0, 0, 0, 0}},
      {2, 0.5, too_many, ok_lower, ok_upper},
      {2, 0.5, -3, ok_lower, ok_upper},
      {3, 0.5, 3, {0, 1, 0, 0}, {0, 0, 0, 0}},
      {4, 0.5, 3, {0, -1, -2, -2}, {0, 0, 2, 2}},
      {4, 0.5, 3, {0, 0, 5, -1}, {0, 3, 2, 0}},  // at the last patient, after a 7
      {4, 0.5, 3, {0, -1, -1, -1}, {0, 2, -4, 3}},
      {7, 0.5, 3, {0, -1, 2, 2}, {0, 3, 2, 2}},
      {7, 0.5, 3, {0, -1, -1, 2}, {0, 1, 1, 2}},
      {7, 0.5, 3, {0, 0, 1, 1}, {0, 1, 1, 3}},
      {7, 0.5, 3, {0, 0, 4, -1}, {0, 2, 4, 4}},
  };
  for (const refusal& c : cases) {
    // K may be out of range, so the arrays cover any K the checks could read.
    const auto size = static_cast<std::size_t>(too_many) + 1;
    std::vector<int> lower(size, 0), upper(size, 20000);
    std::copy(c.lower.begin(), c.lower.end(), lower.begin());
    std::copy(c.upper.begin(), c.upper.end(), upper.begin());
    const double sentinel = -12.5;
    spending out(4, sentinel);
    EXPECT_EQ(run(out, c.theta, c.K, lower, upper), c.status) << c.theta << " K=" << c.K;
    for (std::size_t i = 0; i <= 4; ++i) {
      ASSERT_EQ(out.ls[i], sentinel);
      ASSERT_EQ(out.us[i], sentinel);
      ASSERT_EQ(out.rs[i], sentinel);
    }
  }
  spending out(3);
  EXPECT_EQ(run(out, 0.5, 3, {0, 0, -1, -2}, {0, 3, 2, 9}), 0);
  EXPECT_EQ(run(out, 0.5, 3, {0, -1, 2, -1}, {0, 1, 4, 1}), 0);
}

// Only patients 1..K are checked: what follows K may break every rule.
TEST(CrossingStatus, ChecksStopAtK) {
  spending out(1);
  EXPECT_EQ(run(out, 0.4, 1, {0, 0, -5}, {0, 1, 0}), 0);
  spending big(max_trial_patients);
  EXPECT_EQ(run(big, 0.4, max_trial_patients, constant(max_trial_patients, -1),
                unreachable(max_trial_patients)),
            0);
}

// Random pairs against the enumeration, and the properties every result has.
TEST_P(Crossing, RandomBoundariesMatchEnumeration) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> pick_K(1, 15);
  std::uniform_real_distribution<double> pick_theta(0.02, 0.98);
  for (int trial = 0; trial < 300; ++trial) {
    const int K = pick_K(rng);
    const auto b = test_reference::random_boundaries(rng, K, trial % 5 == 0 ? 3 : 1);
    const auto counts = test_reference::count_endings(K, b.lower.data(), b.upper.data());
    for (int t = 0; t < 3; ++t) {
      const double theta = pick_theta(rng);
      // One entry past K, to see that nothing beyond the result range is written.
      spending out(K + 1, -1.0);
      ASSERT_EQ(run(out, theta, K, b.lower, b.upper), 0);
      std::vector<long double> ls, us, rs;
      test_reference::evaluate<long double>(counts, theta, ls, us, rs);
      const auto last = static_cast<std::size_t>(K + 1);
      EXPECT_EQ(out.ls[last], -1.0);
      EXPECT_EQ(out.us[last], -1.0);
      EXPECT_EQ(out.rs[last], -1.0);
      EXPECT_EQ(out.ls[0], 0.0);
      EXPECT_EQ(out.us[0], 0.0);
      double total = 0.0;
      for (std::size_t i = 0; i < last; ++i) {
        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << " K=" << K << " theta=" << theta << " i=" << i);
        EXPECT_NEAR(out.ls[i], static_cast<double>(ls[i]), kAgreeTol);
        EXPECT_NEAR(out.us[i], static_cast<double>(us[i]), kAgreeTol);
        EXPECT_NEAR(out.rs[i], static_cast<double>(rs[i]), kAgreeTol);
        EXPECT_GE(out.ls[i], 0.0);
        EXPECT_GE(out.us[i], 0.0);
        EXPECT_GE(out.rs[i], 0.0);
        const int m = static_cast<int>(i);
        if (i >= 1 && b.upper[i] > m) {
          EXPECT_EQ(out.us[i], 0.0);
        }
        if (i >= 1 && b.lower[i] < 0) {
          EXPECT_EQ(out.ls[i], 0.0);
        }
        // A trial that runs on ends strictly between the last two boundaries.
        if (m <= b.lower[last - 1] || m >= b.upper[last - 1]) {
          EXPECT_EQ(out.rs[i], 0.0);
        }
        total += out.ls[i] + out.us[i] + out.rs[i];
      }
      EXPECT_NEAR(total, 1.0, kSumTol);
    }
  }
}

#ifdef HAVE_GMP
// The long double recursion of the reference, and the engine, against the
// enumeration in exact rationals.
TEST_P(Crossing, RandomBoundariesMatchExactRationals) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    const int K = 6 + trial % 10;
    const auto b = test_reference::random_boundaries(rng, K);
    const double theta = std::uniform_real_distribution<double>(0.05, 0.95)(rng);
    spending out(K);
    ASSERT_EQ(run(out, theta, K, b.lower, b.upper), 0);
    std::vector<mpq_class> els, eus, ers;
    std::vector<long double> ls, us, rs;
    test_reference::crossing_reference_exact(K, theta, b.lower.data(), b.upper.data(), els, eus,
                                             ers);
    test_reference::crossing_reference(K, theta, b.lower.data(), b.upper.data(), ls, us, rs);
    for (std::size_t i = 0; i <= static_cast<std::size_t>(K); ++i) {
      EXPECT_LE(test_reference::abs_error(out.ls[i], els[i]), kAgreeTol);
      EXPECT_LE(test_reference::abs_error(out.us[i], eus[i]), kAgreeTol);
      EXPECT_LE(test_reference::abs_error(out.rs[i], ers[i]), kAgreeTol);
      EXPECT_LE(test_reference::abs_error(ls[i], els[i]), 1e-17 * els[i].get_d());
      EXPECT_LE(test_reference::abs_error(us[i], eus[i]), 1e-17 * eus[i].get_d());
      EXPECT_LE(test_reference::abs_error(rs[i], ers[i]), 1e-17 * ers[i].get_d());
    }
  }
}
#endif

// Nothing of an earlier call reaches a later one: A, then B, then A again
// gives A's bits, including where B used more patients than A.
TEST_P(Crossing, NoStateCarriesOver) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 20; ++trial) {
    const int ka = 3 + trial % 8, kb = 14 - trial % 6;
    const auto a = test_reference::random_boundaries(rng, ka);
    const auto b = test_reference::random_boundaries(rng, kb);
    const double ta = 0.2 + 0.03 * trial, tb = 0.9 - 0.035 * trial;
    spending first(ka), other(kb), again(ka, 7.0);
    ASSERT_EQ(run(first, ta, ka, a.lower, a.upper), 0);
    ASSERT_EQ(run(other, tb, kb, b.lower, b.upper), 0);
    ASSERT_EQ(run(again, ta, ka, a.lower, a.upper), 0);
    const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(ka + 1);
    EXPECT_EQ(std::memcmp(first.ls.data(), again.ls.data(), bytes), 0) << trial;
    EXPECT_EQ(std::memcmp(first.us.data(), again.us.data(), bytes), 0) << trial;
    EXPECT_EQ(std::memcmp(first.rs.data(), again.rs.data(), bytes), 0) << trial;
  }
}

}  // namespace
