// Tests of the level search (FindBndry) and of a boundary's operating
// characteristics (summary), against the crossing probabilities of the
// shared reference, tests/cross2/reference.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bndry/bndry.h"
#include "bndry/internal.h"
#include "cross2/reference.h"

namespace {

using bndry_internal::candidate_count;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kUnset = -99;
constexpr double kUnsetAlpha = -1.5;
constexpr double kUnsetPhiStar = -2.5;
// Program (double) against the long double reference: sums of at most a few
// thousand products of probabilities, each a few ulps off.
constexpr double kProbTol = 1e-13;

using boundary = std::array<int, max_patients + 2>;

double surv(int n, int k) { return bndry_internal::surv_row(n)[k]; }

// ---- Reference ------------------------------------------------------------------

struct outcome {
  int y;
  int n;
  long double w;
  bool stopped;  // reached the upper boundary
};

// Every end of a trial of at most K patients that stops as soon as the count
// reaches b[n], from the shared reference; a stop at patient n has b[n]
// events only where b never decreases, which y assumes.
std::vector<outcome> outcomes(const int* b, int K, double theta) {
  const std::vector<int> lower(static_cast<std::size_t>(K + 1), -1);
  std::vector<long double> ls, us, rs;
  test_reference::crossing_reference(K, theta, lower.data(), b, ls, us, rs);
  std::vector<outcome> out;
  for (int n = 1; n <= K; ++n)
    if (us[static_cast<std::size_t>(n)] > 0) out.push_back({b[n], n, us[static_cast<std::size_t>(n)], true});
  for (int s = 0; s <= K; ++s)
    if (rs[static_cast<std::size_t>(s)] > 0) out.push_back({s, K, rs[static_cast<std::size_t>(s)], false});
  return out;
}

// PHI* of any boundary, decreasing ones included.
long double p_reach(const int* b, int K, double theta) {
  long double sum = 0;
  for (const outcome& o : outcomes(b, K, theta))
    if (o.stopped) sum += o.w;
  return sum;
}

struct moments {
  long double mean, sd;
};

template <class F>
moments weighted(const std::vector<outcome>& out, F value) {
  long double s = 0, m = 0, v = 0;
  for (const outcome& o : out) s += o.w, m += o.w * value(o);
  m /= s;
  for (const outcome& o : out) v += o.w * (value(o) - m) * (value(o) - m);
  return {m, std::sqrt(v / s)};
}

// Smallest k in 1..n with a table tail <= level, else n + 1.
boundary scan(int K, double level) {
  boundary b{};
  for (int n = 1; n <= K; ++n) {
    int k = 1;
    while (k <= n && surv(n, k) > level) ++k;
    b[n] = k;
  }
  return b;
}

// ---- Level search -------------------------------------------------------------

struct design {
  int status;
  double alpha;
  double phi_star;
  boundary b;
};

design find(int K, double theta, double phi) {
  design d{0, kUnsetAlpha, kUnsetPhiStar, {}};
  d.b.fill(kUnset);
  d.status = FindBndry(d.b.data(), &d.alpha, &d.phi_star, K, theta, phi);
  EXPECT_EQ(candidate_count(), 0) << "candidate list left after K " << K << " theta " << theta
                                  << " phi " << phi;
  EXPECT_EQ(d.b[0], kUnset);
  if (K >= 0 && K <= max_patients) {
    EXPECT_EQ(d.b[K + 1], kUnset);
  }
  return d;
}

std::vector<int> entries(const boundary& b, int K) { return {b.begin() + 1, b.begin() + 1 + K}; }

std::string g(double x) {
  char s[32];
  std::snprintf(s, sizeof s, "%g", x);
  return s;
}

// A successful design: PHI* <= PHI is the exact PHI* of a non-decreasing
// boundary in 1..n+1 that is the boundary of ALPHA, and the next step of the
// level (the next table tail above ALPHA) would stop too often.
void expect_sound(const design& d, int K, double theta, double phi) {
  SCOPED_TRACE("K " + std::to_string(K) + " theta " + g(theta) + " phi " + g(phi));
  ASSERT_EQ(d.status, 0);
  EXPECT_LE(d.phi_star, phi);
  for (int n = 1; n <= K; ++n) {
    const int bn = d.b[n];
    EXPECT_TRUE(1 <= bn && bn <= n + 1) << n;
    if (n > 1) {
      EXPECT_LE(d.b[n - 1], bn) << n;
    }
  }
  EXPECT_NEAR(d.phi_star, static_cast<double>(p_reach(d.b.data(), K, theta)), kProbTol);
  // The boundary of ALPHA is the scan's running maximum (rounding can make a
  // raw scan fall by one where the exact tails rise).
  auto expected = scan(K, d.alpha);
  for (int n = 2; n <= K; ++n) expected[n] = std::max(expected[n], expected[n - 1]);
  EXPECT_EQ(entries(d.b, K), entries(expected, K));
  double next = 2;
  for (int n = 1; n <= K; ++n)
    for (int k = 1; k <= n; ++k)
      if (surv(n, k) > d.alpha) next = std::min(next, surv(n, k));
  if (next <= 1) {
    EXPECT_GT(static_cast<double>(p_reach(scan(K, next).data(), K, theta)), phi - kProbTol) << next;
  }
}

TEST(FindBndry, SmallDesigns) {
  design d = find(1, 0.2, 0.5);
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.alpha, (surv(1, 1) + 1.0) * 0.5);
  EXPECT_NEAR(d.alpha, 0.6, DBL_EPSILON);
  EXPECT_NEAR(d.phi_star, 0.2, DBL_EPSILON);
  EXPECT_EQ(entries(d.b, 1), (std::vector<int>{1}));

  d = find(1, 0.6, 0.5);
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.alpha, 0.0);
  EXPECT_EQ(d.phi_star, 0.0);
  EXPECT_EQ(entries(d.b, 1), (std::vector<int>{2}));

  d = find(2, 0.5, 0.001);
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.alpha, 0.0);
  EXPECT_EQ(d.phi_star, 0.0);
  EXPECT_EQ(entries(d.b, 2), (std::vector<int>{2, 3}));

  // A PHI equal to a tail ends the row's run at that tail: the one candidate
  // is the tail itself, not the midpoint between it and 1.
  for (const double theta : {0.2, 0.5}) {
    d = find(1, theta, theta);
    ASSERT_EQ(d.status, 0) << theta;
    EXPECT_EQ(d.alpha, surv(1, 1)) << theta;
    EXPECT_EQ(d.alpha, theta) << theta;
    EXPECT_EQ(d.phi_star, theta) << theta;
  }

  // The one candidate is above PHI, yet its PHI* is not; a PHI* equal to
  // PHI does not exceed it either.
  for (const double phi : {0.3, 0.25}) {
    d = find(2, 0.5, phi);
    ASSERT_EQ(d.status, 0) << phi;
    EXPECT_EQ(d.alpha, 0.375) << phi;
    EXPECT_EQ(d.phi_star, 0.25) << phi;
    EXPECT_EQ(entries(d.b, 2), (std::vector<int>{2, 2})) << phi;
  }
}

TEST(FindBndry, TenPatientDesign) {
  const design d = find(10, 0.2, 0.05);
  expect_sound(d, 10, 0.2, 0.05);
  EXPECT_EQ(g(d.alpha), "0.0299967");
  EXPECT_EQ(g(d.phi_star), "0.0421258");
  EXPECT_EQ(entries(d.b, 10), (std::vector<int>{2, 3, 3, 3, 4, 4, 5, 5, 5, 6}));
  // ALPHA is the midpoint of P(Y_4 >= 3) = 0.0272 and P(Y_10 >= 5).
  EXPECT_NEAR(surv(4, 3), 0.0272, 4 * DBL_EPSILON);
  EXPECT_EQ(d.alpha, (surv(4, 3) + surv(10, 5)) * 0.5);
}

TEST(FindBndry, FailureLeavesOutputsAsTheCallerHadThem) {
  // Theta 0 passes the tables and is refused by the crossing engine mid-search.
  const struct {
    int K;
    double theta;
  } refused[] = {{0, 0.3}, {256, 0.3}, {-4, 0.3}, {10, kNaN}, {10, 1.5}, {10, -0.2}, {10, 0.0}};
  for (const auto& r : refused) {
    const design d = find(r.K, r.theta, 0.5);
    EXPECT_NE(d.status, 0) << r.K << ' ' << r.theta;
    if (r.K <= 0 || r.K > max_patients) {
      EXPECT_EQ(d.status, 1);
    }
    EXPECT_EQ(d.alpha, kUnsetAlpha);
    EXPECT_EQ(d.phi_star, kUnsetPhiStar);
    for (const int v : d.b) ASSERT_EQ(v, kUnset) << r.K << ' ' << r.theta;
  }
  // A design after the failures starts from an empty candidate list.
  const design d = find(10, 0.2, 0.05);
  EXPECT_EQ(entries(d.b, 10), (std::vector<int>{2, 3, 3, 3, 4, 4, 5, 5, 5, 6}));
  EXPECT_EQ(g(d.alpha), "0.0299967");
}

// The candidate close to 1 has a boundary whose tails round to a decrease at
// patient 182; the design must still come out sound.
TEST(FindBndry, LevelNearOneAtTwoHundredPatients) {
  const design d = find(200, 0.25, 0.9999999999999999);
  expect_sound(d, 200, 0.25, 0.9999999999999999);
}

TEST(FindBndry, RandomDesignsAreSound) {
  std::mt19937 gen(7741);
  std::uniform_int_distribution<int> pick_k(1, 20);
  std::uniform_real_distribution<double> pick_theta(0.02, 0.98);
  std::uniform_real_distribution<double> pick_phi(0.001, 0.999);
  int never = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int K = pick_k(gen);
    const double theta = pick_theta(gen);
    const double phi = pick_phi(gen);
    const design d = find(K, theta, phi);
    expect_sound(d, K, theta, phi);
    if (d.alpha == 0) {
      ++never;
      EXPECT_EQ(d.phi_star, 0.0);
      continue;
    }
    // Asking for exactly the PHI* obtained must give the same design: the
    // tie counts as not exceeding PHI wherever the bisection meets it.
    const design again = find(K, theta, d.phi_star);
    EXPECT_EQ(again.phi_star, d.phi_star) << K << ' ' << theta << ' ' << phi;
    EXPECT_EQ(entries(again.b, K), entries(d.b, K)) << K << ' ' << theta << ' ' << phi;
  }
  EXPECT_GT(never, 0);
  EXPECT_LT(never, 200);
}

// ---- Operating characteristics ------------------------------------------------

std::array<int, max_patients + 2> never_low() {
  std::array<int, max_patients + 2> lower;
  lower.fill(-1);
  return lower;
}

// The record against the reference moments, each field within kProbTol.
void expect_record(const oc_record& r, const int* b, int K, double theta) {
  const std::vector<outcome> out = outcomes(b, K, theta);
  const moments y = weighted(out, [](const outcome& o) { return static_cast<long double>(o.y); });
  const moments n = weighted(out, [](const outcome& o) { return static_cast<long double>(o.n); });
  const moments yn =
      weighted(out, [](const outcome& o) { return static_cast<long double>(o.y) / o.n; });
  EXPECT_NEAR(r.mean_y, static_cast<double>(y.mean), kProbTol);
  EXPECT_NEAR(r.sd_y, static_cast<double>(y.sd), kProbTol);
  EXPECT_NEAR(r.mean_n, static_cast<double>(n.mean), kProbTol * K);
  EXPECT_NEAR(r.sd_n, static_cast<double>(n.sd), kProbTol * K);
  EXPECT_NEAR(r.mean_yn, static_cast<double>(yn.mean), kProbTol);
  EXPECT_NEAR(r.sd_yn, static_cast<double>(yn.sd), kProbTol);
  EXPECT_NEAR(r.phi_star, static_cast<double>(p_reach(b, K, theta)), kProbTol);
}

TEST(Summary, TenPatientDesign) {
  const int b[] = {kUnset, 2, 3, 3, 3, 4, 4, 5, 5, 5, 6};
  const auto lower = never_low();
  const struct {
    double theta;
    const char* printed[7];
  } rows[] = {
      {0.2, {"1.95856", "1.1897", "9.79282", "1.07481", "0.212405", "0.161949", "0.0421258"}},
      {0.5, {"3.7041", "0.931933", "7.4082", "2.82832", "0.580197", "0.229003", "0.560547"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.theta);
    const oc_record r = summary(row.theta, 10, lower.data(), b);
    const double fields[] = {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn, r.phi_star};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(g(fields[i]), row.printed[i]) << "field " << i;
    expect_record(r, b, 10, row.theta);
  }
}

// Nothing stops the trial: N = K always and Y is binomial (K, theta).
TEST(Summary, NeverStoppingBoundary) {
  const auto lower = never_low();
  for (const int K : {1, 8, 25, max_patients}) {
    boundary b;
    for (int n = 0; n <= K; ++n) b[n] = n + 1;
    for (const double theta : {0.1, 0.5, 0.83}) {
      SCOPED_TRACE("K " + std::to_string(K) + " theta " + g(theta));
      const oc_record r = summary(theta, K, lower.data(), b.data());
      // Relative error: each moment is a sum of K + 1 terms, each with a few
      // roundings, over weights that add up to 1 only up to rounding.
      const double tol = 4 * (K + 1) * DBL_EPSILON;
      const double sd = std::sqrt(theta * (1 - theta));
      EXPECT_EQ(r.phi_star, 0.0);
      EXPECT_NEAR(r.mean_n, K, tol * K);
      EXPECT_NEAR(r.sd_n, 0.0, tol * K);
      EXPECT_NEAR(r.mean_y, K * theta, tol * K * theta);
      EXPECT_NEAR(r.sd_y, sd * std::sqrt(K), tol * sd * std::sqrt(K));
      EXPECT_NEAR(r.mean_yn, theta, tol * theta);
      EXPECT_NEAR(r.sd_yn, sd / std::sqrt(K), tol * sd / std::sqrt(K));
      // Scaling the weights by a power of two is exact, so there N = K is too.
      if (K == 1 || K == 8) {
        EXPECT_EQ(r.mean_n, K);
        EXPECT_EQ(r.sd_n, 0.0);
      }
      if (K <= 25) expect_record(r, b.data(), K, theta);
    }
  }
}

TEST(Summary, OnePatientThatAlwaysCanStop) {
  const auto lower = never_low();
  const int b[] = {kUnset, 1};
  for (const double theta : {0.1, 0.35, 0.5, 0.9}) {
    const oc_record r = summary(theta, 1, lower.data(), b);
    const double sd = std::sqrt(theta * (1 - theta));
    EXPECT_NEAR(r.phi_star, theta, DBL_EPSILON) << theta;
    EXPECT_NEAR(r.mean_y, theta, 2 * DBL_EPSILON) << theta;
    EXPECT_NEAR(r.mean_yn, theta, 2 * DBL_EPSILON) << theta;
    EXPECT_NEAR(r.sd_y, sd, 4 * DBL_EPSILON) << theta;
    EXPECT_NEAR(r.sd_yn, sd, 4 * DBL_EPSILON) << theta;
    EXPECT_EQ(r.mean_n, 1.0) << theta;
    EXPECT_EQ(r.sd_n, 0.0) << theta;
  }
}

// The core reports a refused pair to its caller and prints nothing.
TEST(Summary, RefusedBoundaryThrowsWithoutPrinting) {
  const auto lower = never_low();
  const int refused[] = {kUnset, 2, 3, 0};  // no count can be below 0
  const int fine[] = {kUnset, 2, 3, 3};
  testing::internal::CaptureStdout();
  EXPECT_THROW(summary(0.3, 3, lower.data(), refused), refused_boundary);
  EXPECT_THROW(summary(1.0, 3, lower.data(), fine), refused_boundary);
  EXPECT_THROW(summary(kNaN, 3, lower.data(), fine), refused_boundary);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace

namespace {

// The estimate's figures, and summary's within the estimate's error of them
// (the same bits when the error is 0), for the designs where the walk runs.
TEST(SummaryEstimate, SummaryLiesWithinItsError) {
  const auto lower = never_low();
  int estimated = 0;
  for (const auto& [K, theta, phi] : {std::tuple{5, 0.2, 0.05}, std::tuple{10, 0.2, 0.05},
                                      std::tuple{20, 0.2, 0.05}, std::tuple{12, 0.5, 0.3},
                                      std::tuple{40, 0.01, 0.5}, std::tuple{60, 0.995, 0.999},
                                      std::tuple{120, 0.2, 0.05}}) {
    const design d = find(K, theta, phi);
    ASSERT_EQ(d.status, 0);
    for (const double at : {theta, 0.05, 0.3, 0.65, 0.95}) {
      SCOPED_TRACE(testing::Message() << "K=" << K << " theta=" << theta << " at " << at);
      oc_record error{};
      const oc_record e = summary_estimate(at, K, lower.data(), d.b.data(), &error);
      const oc_record r = summary(at, K, lower.data(), d.b.data());
      const double got[] = {e.mean_y, e.sd_y, e.mean_n, e.sd_n, e.mean_yn, e.sd_yn, e.phi_star, e.p_lower};
      const double exact[] = {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn, r.phi_star, r.p_lower};
      const double err[] = {error.mean_y, error.sd_y, error.mean_n, error.sd_n, error.mean_yn,
                            error.sd_yn, error.phi_star, error.p_lower};
      for (int i = 0; i < 8; ++i) {
        if (err[i] == 0.0) {
          EXPECT_EQ(std::memcmp(&got[i], &exact[i], sizeof(double)), 0) << "field " << i;
        } else {
          ++estimated;
          EXPECT_LE(std::fabs(got[i] - exact[i]), err[i]) << "field " << i;
          EXPECT_LT(err[i], 1e-9 * std::max(1.0, exact[i])) << "field " << i;  // settles all but near-ties
        }
      }
    }
  }
  EXPECT_GT(estimated, 0);
}

TEST(SummaryEstimate, AllOrNothingErrorAndTheSameRefusal) {
  // Beyond the walk's budget the estimate is summary itself.
  const auto lower = never_low();
  const design d = find(max_patients, 0.2, 0.05);
  oc_record error{1, 1, 1, 1, 1, 1, 1, 1};
  const oc_record e = summary_estimate(0.4, max_patients, lower.data(), d.b.data(), &error);
  const oc_record r = summary(0.4, max_patients, lower.data(), d.b.data());
  EXPECT_EQ(std::memcmp(&e, &r, sizeof e), 0);
  const oc_record zero{};
  EXPECT_EQ(std::memcmp(&error, &zero, sizeof error), 0);
}

TEST(SummaryEstimate, RefusedBoundaryThrows) {
  const auto lower = never_low();
  const int b[] = {kUnset, 0};
  oc_record error{};
  EXPECT_THROW(summary_estimate(0.3, 1, lower.data(), b, &error), refused_boundary);
}

}  // namespace

namespace {

TEST(SummaryEstimate, BoundHoldsWithLowerStopsThatJump) {
  // A lower boundary that rises by two at patient 6: lower stops are shared
  // among counts by a factor both methods' weights carry alike.
  const int lower[] = {kUnset, -1, -1, -1, 0, 0, 2, 2, 3, 3, 4, 4, 5};
  int upper[13];
  upper[0] = kUnset;
  for (int m = 1; m <= 12; ++m) upper[m] = m / 2 + 3;
  for (const double theta : {0.05, 0.25, 0.5, 0.8}) {
    oc_record error{};
    const oc_record e = summary_estimate(theta, 12, lower, upper, &error);
    const oc_record r = summary(theta, 12, lower, upper);
    EXPECT_GT(error.p_lower, 0.0) << theta;
    const double got[] = {e.mean_y, e.sd_y, e.mean_n, e.sd_n, e.mean_yn, e.sd_yn, e.phi_star, e.p_lower};
    const double exact[] = {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn, r.phi_star, r.p_lower};
    const double err[] = {error.mean_y, error.sd_y, error.mean_n, error.sd_n, error.mean_yn,
                          error.sd_yn, error.phi_star, error.p_lower};
    for (int i = 0; i < 8; ++i) EXPECT_LE(std::fabs(got[i] - exact[i]), err[i]) << theta << " field " << i;
  }
}

}  // namespace
