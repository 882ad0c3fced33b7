// Tests of the outcome list of a monitored trial (yn_dstn), weighted moments
// (meanvar), the two formulas for correlated binary outcomes (psi2cor,
// cond_mv), the element-wise array operations and the method name.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "cross2/cross2.h"
#include "cross2/reference.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kFewUlps = 4 * DBL_EPSILON;
// Closed-form quadratic root against a 50-digit solution: t - sqrt(...) and
// p11 - p1 p2 both cancel, so allow a few hundred ulps of 1.
constexpr double kQuadraticTol = 256 * DBL_EPSILON;
constexpr double kSumTol = 1e-12;

// An outcome list with room for 3K + 1 entries plus a guard after them.
struct outcomes {
  std::vector<double> y, n, w;
  int counts[4] = {-7, -7, -7, -7};
  explicit outcomes(int K)
      : y(static_cast<std::size_t>(3 * K + 2), -3.0),
        n(static_cast<std::size_t>(3 * K + 2), -3.0),
        w(static_cast<std::size_t>(3 * K + 2), -3.0) {}
  int fill(const double* ls, const double* us, const double* rs, const int* lower, const int* upper,
           int K) {
    return yn_dstn(y.data(), n.data(), w.data(), counts, ls, us, rs, lower, upper, K);
  }
  void expect_entry(int i, double yy, double nn, double ww) const {
    const auto at = static_cast<std::size_t>(i);
    EXPECT_EQ(y[at], yy) << i;
    EXPECT_EQ(n[at], nn) << i;
    EXPECT_EQ(w[at], ww) << i;
  }
  void expect_untouched_from(int i) const {
    for (auto at = static_cast<std::size_t>(i); at < y.size(); ++at) {
      EXPECT_EQ(y[at], -3.0) << at;
      EXPECT_EQ(n[at], -3.0) << at;
      EXPECT_EQ(w[at], -3.0) << at;
    }
  }
};

TEST(YnDstn, SinglePatientUpperStop) {
  double ls[2], us[2], rs[2];
  const int lower[] = {0, -1}, upper[] = {0, 1};
  ASSERT_EQ(CrossingProb(ls, us, rs, 0.3, 1, lower, upper), 0);
  outcomes out(1);
  EXPECT_EQ(out.fill(ls, us, rs, lower, upper, 1), 1);
  out.expect_entry(0, 1, 1, 0.3);
  out.expect_entry(1, 0, 1, 1.0 - 0.3);
  out.expect_untouched_from(2);
  EXPECT_EQ(out.counts[0], -7);
  EXPECT_EQ(out.counts[1], 0);
  EXPECT_EQ(out.counts[2], 1);
  EXPECT_EQ(out.counts[3], 1);
}

// Neither boundary reachable: only the K + 1 full-trial outcomes remain.
TEST(YnDstn, UnreachableBoundariesListFullTrials) {
  constexpr int K = 6;
  double ls[K + 1], us[K + 1], rs[K + 1];
  int lower[K + 1], upper[K + 1];
  for (int m = 0; m <= K; ++m) {
    lower[m] = -1;
    upper[m] = m + 1;
  }
  ASSERT_EQ(CrossingProb(ls, us, rs, 0.45, K, lower, upper), 0);
  outcomes out(K);
  EXPECT_EQ(out.fill(ls, us, rs, lower, upper, K), K);
  EXPECT_EQ(out.counts[1], 0);
  EXPECT_EQ(out.counts[2], 0);
  EXPECT_EQ(out.counts[3], K + 1);
  for (int s = 0; s <= K; ++s) out.expect_entry(s, s, K, rs[s]);
  out.expect_untouched_from(K + 1);
}

// Hand-made vectors: entries that are not positive (0, -0, negative, NaN) are
// left out, entry 0 of the spending vectors is never read, and the count of a
// stop is the boundary value at that patient.
TEST(YnDstn, SkipsNonPositiveEntries) {
  const double ls[] = {5.0, 0.0, 0.1, -0.0};
  const double us[] = {5.0, kNaN, 0.2, 0.05};
  const double rs[] = {0.4, -1e-300, 0.25, 0.0};
  const int lower[] = {9, 0, 0, 1}, upper[] = {9, 2, 2, 3};
  outcomes out(3);
  EXPECT_EQ(out.fill(ls, us, rs, lower, upper, 3), 4);
  out.expect_entry(0, 0, 2, 0.1);
  out.expect_entry(1, 2, 2, 0.2);
  out.expect_entry(2, 3, 3, 0.05);
  out.expect_entry(3, 0, 3, 0.4);
  out.expect_entry(4, 2, 3, 0.25);
  out.expect_untouched_from(5);
  EXPECT_EQ(out.counts[1], 1);
  EXPECT_EQ(out.counts[2], 2);
  EXPECT_EQ(out.counts[3], 2);

  const double zero[] = {0, 0, 0, 0};
  outcomes none(3);
  EXPECT_EQ(none.fill(zero, zero, zero, lower, upper, 3), -1);
  EXPECT_EQ(none.counts[1] + none.counts[2] + none.counts[3], 0);
  none.expect_untouched_from(0);
}

// Engine, list and moments together: the weights sum to 1, and by Wald's
// identity E[Y] = theta E[N] at any stopping time, which holds only if every
// stop is recorded with its true count (lower rising by at most one).
TEST(YnDstn, ListOfRandomTrialsObeysWald) {
  std::mt19937 rng(4242);
  for (int trial = 0; trial < 60; ++trial) {
    const int K = 1 + trial % 14;
    const auto b = test_reference::random_boundaries(rng, K);
    const double theta = 0.05 + 0.015 * trial;
    std::vector<double> ls(static_cast<std::size_t>(K + 1)), us(ls), rs(ls);
    ASSERT_EQ(
        CrossingProb(ls.data(), us.data(), rs.data(), theta, K, b.lower.data(), b.upper.data()), 0);
    outcomes out(K);
    const int last = out.fill(ls.data(), us.data(), rs.data(), b.lower.data(), b.upper.data(), K);
    ASSERT_GE(last, 0);
    EXPECT_EQ(out.counts[1] + out.counts[2] + out.counts[3], last + 1);
    EXPECT_NEAR(array_sum(out.w.data(), 0, last), 1.0, kSumTol);
    double my[3], mn[3];
    meanvar(my, out.y.data(), out.w.data(), 0, last);
    meanvar(mn, out.n.data(), out.w.data(), 0, last);
    EXPECT_NEAR(my[1], theta * mn[1], 1e-12) << trial;
    EXPECT_GE(mn[2], 0.0);
  }
}

TEST(Meanvar, ExactSmallExample) {
  // Entries 0 and 4 lie outside the range and must not count.
  const double x[] = {kNaN, 1, 2, 4, kNaN};
  const double w[] = {kNaN, 0.25, 0.5, 0.25, kNaN};
  double moments[3] = {-1, -1, -1};
  meanvar(moments, x, w, 1, 3);
  EXPECT_EQ(moments[0], -1);
  EXPECT_EQ(moments[1], 2.25);
  EXPECT_EQ(moments[2], 1.1875);  // 0.25*1.25^2 + 0.5*0.25^2 + 0.25*1.75^2

  // Weights summing to 2, then halved: halving is exact, so the bits agree.
  const double x2[] = {0.3, 1.7, 2.2, 9.1};
  const double w2[] = {0.6, 0.2, 0.8, 0.4};
  const double half[] = {0.3, 0.1, 0.4, 0.2};
  double a[3], b[3];
  meanvar(a, x2, w2, 0, 3);
  meanvar(b, x2, half, 0, 3);
  EXPECT_EQ(a[1], b[1]);
  EXPECT_EQ(a[2], b[2]);
  const double mean = (0.09 + 0.17 + 0.88 + 1.82);
  EXPECT_NEAR(a[1], mean, kFewUlps * mean);
}

// Two passes keep a small spread around a large mean exact, where
// E[x^2] - E[x]^2 would lose every digit.
TEST(Meanvar, VarianceWithoutCancellation) {
  const double x[] = {1e8, 1e8 + 1};
  const double w[] = {0.5, 0.5};
  double m[3];
  meanvar(m, x, w, 0, 1);
  EXPECT_EQ(m[1], 1e8 + 0.5);
  EXPECT_EQ(m[2], 0.25);
}

// Reference values: the odds-ratio equation p11 (1 - p1 - p2 + p11) =
// psi (p1 - p11)(p2 - p11) solved by root finding in 50-digit mpmath, for
// the double values of the inputs; mean and variance for 3 of 8 patients.
struct joint_case {
  double p1, p2, psi, correlation, mean, variance;
};
constexpr joint_case kJoint[] = {
    {0.3, 0.6, 2.5, 0.19297781841912001727, 0.61547264742367328274, 0.028336368783489212861},
    {0.5, 0.5, 4.0, 0.33333333333333333333, 0.45833333333333333333, 0.027777777777777777778},
    {0.2, 0.7, 0.25, -0.27663120515600299757, 0.64453884962187687095, 0.02569602123998710514},
    {0.9, 0.15, 10.0, 0.1220003077360855715, 0.073765059228722437116, 0.0079227246511553444521},
    {0.05, 0.4, 0.5, -0.067457004627583456791, 0.3507201667277236603, 0.027790855447605232404},
};

TEST(CorrelatedOutcomes, AgainstOddsRatioRoot) {
  for (const joint_case& c : kJoint) {
    EXPECT_NEAR(psi2cor(c.p1, c.p2, c.psi), c.correlation, kQuadraticTol) << c.psi;
    const double params[] = {kNaN, c.p1, c.p2, c.psi};
    const double count[] = {3, 0}, patients[] = {8, 1};
    double mean[2] = {-1, -1}, variance[2] = {-1, -1};
    EXPECT_EQ(cond_mv(mean, variance, count, patients, 0, params), 0);
    EXPECT_NEAR(mean[0], c.mean, kQuadraticTol) << c.psi;
    EXPECT_NEAR(variance[0], c.variance, kQuadraticTol) << c.psi;
    EXPECT_EQ(mean[1], -1);  // groups after the last index are left alone
    EXPECT_EQ(variance[1], -1);
  }
}

// Odds ratio 1: independence, so no correlation and both conditional
// probabilities equal p2.
TEST(CorrelatedOutcomes, IndependentOutcomes) {
  for (const double p1 : {0.01, 0.3, 0.5, 0.93})
    for (const double p2 : {0.2, 0.5, 0.999}) {
      EXPECT_EQ(psi2cor(p1, p2, 1.0), 0.0);
      const double params[] = {kNaN, p1, p2, 1.0};
      const double count[] = {0, 3, 8, 5}, patients[] = {8, 8, 8, 5};
      double mean[4], variance[4];
      EXPECT_EQ(cond_mv(mean, variance, count, patients, 3, params), 0);
      for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(mean[i], p2, kFewUlps);
        // r1 = p1 p2 / p1 is p2 within an ulp, and 1 - r1 keeps that
        // absolute error however small it is.
        EXPECT_NEAR(variance[i], p2 * (1 - p2) / patients[i], kFewUlps / patients[i]);
      }
    }
}

TEST(ArrayOps, SumsOverTheGivenRange) {
  const double x[] = {kNaN, 0.125, 0.25, 0.5, 0.125};
  EXPECT_EQ(array_sum(x, 1, 4), 1.0);
  const double cdf[] = {0.125, 0.375, 0.875, 1.0};
  double running[5] = {-1, -1, -1, -1, -1};
  EXPECT_EQ(array_csum(running, x, 1, 4), 1.0);
  EXPECT_EQ(running[0], -1);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(running[i], cdf[i - 1]);

  // In place: a probability vector becomes its distribution function.
  double pdf[] = {0.1, 0.2, 0.3, 0.4};
  const double last = array_csum(pdf, pdf, 0, 3);
  EXPECT_EQ(last, pdf[3]);
  EXPECT_EQ(pdf[0], 0.1);
  EXPECT_EQ(pdf[1], 0.1 + 0.2);
  EXPECT_EQ(pdf[2], 0.1 + 0.2 + 0.3);
  EXPECT_EQ(pdf[3], 0.1 + 0.2 + 0.3 + 0.4);

  const double a[] = {1, 2, 3}, b[] = {4, -5, 0.5};
  EXPECT_EQ(array_dot(a, b, 0, 2), 4 - 10 + 1.5);
}

TEST(ArrayOps, EmptyRangeTouchesNothing) {
  const double x[] = {kNaN, kNaN};
  double r[2] = {-2, -2};
  EXPECT_EQ(array_sum(x, 1, 0), 0.0);
  EXPECT_EQ(array_csum(r, x, 1, 0), 0.0);
  EXPECT_EQ(array_dot(x, x, 5, 4), 0.0);
  array_plus(r, x, x, 1, 0);
  array_minus(r, x, x, 1, 0);
  array_mul(r, x, x, 1, 0);
  array_div(r, x, x, 1, 0);
  array_plusc(r, x, 1.0, 1, 0);
  array_mulc(r, x, 1.0, 1, 0);
  EXPECT_EQ(r[0], -2);
  EXPECT_EQ(r[1], -2);
}

TEST(ArrayOps, ElementWise) {
  const double a[] = {kNaN, 1.5, -2, 8}, b[] = {kNaN, 0.5, 4, -0.25};
  double r[4] = {-9, 0, 0, 0};
  array_plus(r, a, b, 1, 3);
  EXPECT_EQ(std::vector<double>(r, r + 4), (std::vector<double>{-9, 2, 2, 7.75}));
  array_minus(r, a, b, 1, 3);
  EXPECT_EQ(std::vector<double>(r, r + 4), (std::vector<double>{-9, 1, -6, 8.25}));
  array_mul(r, a, b, 1, 3);
  EXPECT_EQ(std::vector<double>(r, r + 4), (std::vector<double>{-9, 0.75, -8, -2}));
  array_div(r, a, b, 1, 3);
  EXPECT_EQ(std::vector<double>(r, r + 4), (std::vector<double>{-9, 3, -0.5, -32}));

  double c[] = {kNaN, 1.5, -2, 8};
  array_plusc(c, c, 0.5, 1, 3);
  EXPECT_EQ(std::vector<double>(c + 1, c + 4), (std::vector<double>{2, -1.5, 8.5}));
  array_mulc(c, c, -2, 1, 3);
  EXPECT_EQ(std::vector<double>(c + 1, c + 4), (std::vector<double>{-4, 3, -17}));
  double d[] = {1, 2, 3};
  array_plus(d, a + 1, d, 0, 2);  // result aliases the second operand
  EXPECT_EQ(std::vector<double>(d, d + 3), (std::vector<double>{2.5, 0, 11}));
}

TEST(ArrayOps, DivisionByZeroGoesOn) {
  const double a[] = {1, -1, 0, 6}, b[] = {0, 0, 0, 3};
  double r[4];
  array_div(r, a, b, 0, 3);
  EXPECT_EQ(r[0], kInf);
  EXPECT_EQ(r[1], -kInf);
  EXPECT_TRUE(std::isnan(r[2]));
  EXPECT_EQ(r[3], 2.0);
}

TEST(Method, NamesExactAroundEngineCalls) {
  EXPECT_STREQ(method(), "Exact");
  double ls[4], us[4], rs[4];
  const int lower[] = {0, -1, -1, -1}, upper[] = {0, 2, 2, 3};
  ASSERT_EQ(CrossingProb(ls, us, rs, 0.6, 3, lower, upper), 0);
  EXPECT_STREQ(method(), "Exact");
  char banner[64];
  std::snprintf(banner, sizeof banner, "(%s calculations)\n", method());
  EXPECT_STREQ(banner, "(Exact calculations)\n");
}

}  // namespace
