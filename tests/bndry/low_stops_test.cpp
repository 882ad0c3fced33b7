// Lower boundaries that can stop the trial: the operating characteristics
// against an enumeration of every outcome sequence, and the count a low stop
// is listed with when the lower boundary rises by more than one per patient.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "bndry/bndry.h"
#include "cross2/cross2.h"

namespace {

// Tolerance for sums over at most 2^12 sequences of probabilities below 1.
constexpr double kTol = 64 * DBL_EPSILON;

// What every one of the 2^K sequences gives, followed patient by patient in
// long double: low tested before high, as the engine does.
struct enumeration {
  long double p_lower = 0, p_upper = 0;
  long double ey = 0, ey2 = 0, en = 0, en2 = 0, er = 0, er2 = 0;
};

// Each full sequence of K outcomes carries its own probability; where the
// trial stops first decides (Y, N), so the sequences sharing a stop add up
// to the probability of that stop.
enumeration enumerate(double theta, int K, const std::vector<int>& lower, const std::vector<int>& upper) {
  enumeration e;
  for (unsigned long seq = 0; seq < (1UL << K); ++seq) {
    long double w = 1;
    int s = 0;
    int y = -1;
    int n = K;
    int end = 0;  // 1 low, 2 high
    for (int m = 1; m <= K; ++m) {
      const bool event = ((seq >> (m - 1)) & 1U) != 0;
      w *= event ? theta : 1.0L - theta;
      s += event ? 1 : 0;
      if (end != 0) continue;
      if (s <= lower[static_cast<std::size_t>(m)]) end = 1;
      else if (s >= upper[static_cast<std::size_t>(m)]) end = 2;
      if (end != 0) {
        y = s;
        n = m;
      }
    }
    if (end == 0) y = s;
    if (end == 1) e.p_lower += w;
    if (end == 2) e.p_upper += w;
    const long double r = static_cast<long double>(y) / n;
    e.ey += w * y;
    e.ey2 += w * y * y;
    e.en += w * n;
    e.en2 += w * n * n;
    e.er += w * r;
    e.er2 += w * r * r;
  }
  return e;
}

void expect_matches(double theta, int K, const std::vector<int>& lower, const std::vector<int>& upper) {
  const enumeration e = enumerate(theta, K, lower, upper);
  const oc_record r = summary(theta, K, lower.data(), upper.data());
  auto sd = [](long double m1, long double m2) { return static_cast<double>(std::sqrt(m2 - m1 * m1)); };
  EXPECT_NEAR(r.p_lower, static_cast<double>(e.p_lower), kTol) << theta;
  EXPECT_NEAR(r.phi_star, static_cast<double>(e.p_upper), kTol) << theta;
  EXPECT_NEAR(r.mean_y, static_cast<double>(e.ey), K * kTol) << theta;
  EXPECT_NEAR(r.mean_n, static_cast<double>(e.en), K * kTol) << theta;
  EXPECT_NEAR(r.mean_yn, static_cast<double>(e.er), kTol) << theta;
  // Variances from raw moments cancel: allow for it (values are O(1)..O(K)).
  EXPECT_NEAR(r.sd_y, sd(e.ey, e.ey2), 1e-9) << theta;
  EXPECT_NEAR(r.sd_n, sd(e.en, e.en2), 1e-9) << theta;
  EXPECT_NEAR(r.sd_yn, sd(e.er, e.er2), 1e-9) << theta;
}

TEST(LowStops, LowerBoundaryRisingByMoreThanOneAgainstEnumeration) {
  // Rises by 2 at patient 4 and by 3 at patient 9: a low stop there can come
  // with fewer events than the boundary value.
  const std::vector<int> lower{-1, -1, -1, 0, 2, 2, 2, 3, 3, 6, 6, 7, 7};
  const std::vector<int> upper{0, 2, 3, 3, 4, 5, 5, 6, 6, 8, 8, 9, 9};
  for (const double theta : {0.1, 0.35, 0.5, 0.8}) expect_matches(theta, 12, lower, upper);
}

TEST(LowStops, LowerBoundaryAboveEveryPossibleCount) {
  // lower[5] = 9 > 5: every trial still running after patient 5 stops low.
  const std::vector<int> lower{-1, 0, 0, 1, 1, 9};
  const std::vector<int> upper{0, 2, 3, 3, 4, 10};
  for (const double theta : {0.2, 0.6}) expect_matches(theta, 5, lower, upper);
}

TEST(LowStops, LowerBoundaryRisingByOneKeepsTheEngineFigures) {
  const std::vector<int> lower{-1, -1, 0, 1, 1, 2, 3, 3, 4};
  const std::vector<int> upper{0, 2, 3, 3, 4, 5, 5, 6, 6};
  for (const double theta : {0.15, 0.5}) expect_matches(theta, 8, lower, upper);

  // Where the boundary rises by at most one, the list is yn_dstn's, bit for bit.
  constexpr int K = 8;
  double ls[K + 1], us[K + 1], rs[K + 1];
  ASSERT_EQ(CrossingProb(ls, us, rs, 0.3, K, lower.data(), upper.data()), 0);
  std::vector<double> y1(3 * K + 1), n1(3 * K + 1), w1(3 * K + 1), y2(3 * K + 1), n2(3 * K + 1), w2(3 * K + 1);
  int c1[4], c2[4];
  const int l1 = yn_dstn(y1.data(), n1.data(), w1.data(), c1, ls, us, rs, lower.data(), upper.data(), K);
  const int l2 = yn_dstn_at(y2.data(), n2.data(), w2.data(), c2, 0.3, ls, us, rs, lower.data(), upper.data(), K);
  ASSERT_EQ(l1, l2);
  for (int i = 0; i <= l1; ++i) {
    const auto at = static_cast<std::size_t>(i);
    EXPECT_EQ(y1[at], y2[at]);
    EXPECT_EQ(n1[at], n2[at]);
    EXPECT_EQ(w1[at], w2[at]);
  }
}

TEST(LowStops, ASplitStopKeepsTheEngineTotalAndListsTrueCounts) {
  // The lower boundary jumps from -1 to 1 at patient 2: every trial stops
  // there, low with 0 or 1 events or high with 2.
  constexpr int K = 2;
  const int lower[] = {0, -1, 1};
  const int upper[] = {0, 2, 3};
  double ls[K + 1], us[K + 1], rs[K + 1];
  const double theta = 0.3;
  ASSERT_EQ(CrossingProb(ls, us, rs, theta, K, lower, upper), 0);
  double y[7], n[7], w[7];
  int counts[4];
  const int last = yn_dstn_at(y, n, w, counts, theta, ls, us, rs, lower, upper, K);
  // Low stops at patient 2 with 0 events (0.49) and 1 event (0.42); the
  // patient-1 event followed by another ends high (0.09).
  ASSERT_EQ(last, 2);
  EXPECT_EQ(counts[1], 2);
  EXPECT_EQ(y[0], 0);
  EXPECT_EQ(y[1], 1);
  EXPECT_NEAR(w[0], 0.49, kTol);
  EXPECT_NEAR(w[1], 0.42, kTol);
  EXPECT_NEAR(w[0] + w[1], ls[2], kTol);
  EXPECT_EQ(y[2], 2);
  EXPECT_NEAR(w[2], 0.09, kTol);
}

}  // namespace
