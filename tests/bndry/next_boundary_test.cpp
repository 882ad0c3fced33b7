// The discreteness gap of a design: the level its boundary actually uses
// (alpha_used), the next attainable boundary one step more liberal
// (next_boundary), and the operating characteristics moved into their ranges
// (within_range); with what the documents promise about PHI*, THETA and the
// tails checked in exact rational arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bndry/bndry.h"
#include "bndry/internal.h"
#include "cross2/cross2.h"

#ifdef HAVE_GMP
#include <gmpxx.h>
#endif

namespace {

using boundary = std::array<int, max_patients + 2>;

double surv(int n, int k) { return bndry_internal::surv_row(n)[k]; }

std::vector<int> entries(const boundary& b, int K) { return {b.begin() + 1, b.begin() + 1 + K}; }

struct gap {
  double alpha = 0, phi_star = 0, used = 0;
  boundary b{};
  int next_status = 0;
  double next_phi_star = 0, next_used = 0;
  boundary next{};
};

gap design_gap(int K, double theta, double phi) {
  gap g;
  EXPECT_EQ(FindBndry(g.b.data(), &g.alpha, &g.phi_star, K, theta, phi), 0);
  g.used = alpha_used(g.b.data(), K, theta);
  g.next.fill(-7);
  g.next_status = next_boundary(g.next.data(), &g.next_phi_star, K, theta, g.alpha);
  if (g.next_status == 0) g.next_used = alpha_used(g.next.data(), K, theta);
  EXPECT_EQ(bndry_internal::candidate_count(), 0);
  return g;
}

boundary pointwise(int K, double level, double theta) {
  boundary b{};
  EXPECT_EQ(GetPointwiseBndry(b.data(), K, level, theta), 0);
  return b;
}

// PHI* of a boundary as the design computes it for its own: the engine's
// upper crossings, summed from patient 1 up.
double engine_phi_star(const boundary& b, int K, double theta) {
  std::vector<int> lower(static_cast<std::size_t>(K + 1), -1);
  std::vector<double> ls(lower.size()), us(lower.size()), rs(lower.size());
  EXPECT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), theta, K, lower.data(), b.data()), 0);
  return array_sum(us.data(), 1, K);
}

TEST(AlphaUsed, LargestTailOverThePatientsWhoCanStop) {
  const gap g = design_gap(10, 0.2, 0.05);
  // b = 2 3 3 3 4 4 5 5 5 6: patients 1 and 2 cannot stop.
  double largest = 0;
  for (int n = 3; n <= 10; ++n) largest = std::max(largest, surv(n, g.b[n]));
  EXPECT_EQ(g.used, largest);
  EXPECT_LE(g.used, g.alpha);
  char text[32];
  std::snprintf(text, sizeof text, "%g", g.used);
  EXPECT_STREQ(text, "0.0272");  // P(Y_4 >= 3) = 4 x 0.2^3 x 0.8 + 0.2^4
  EXPECT_EQ(g.used, surv(4, 3));
  // Nobody can stop: 0; a bad K or theta: -1.
  boundary never{};
  for (int n = 1; n <= 5; ++n) never[n] = n + 1;
  EXPECT_EQ(alpha_used(never.data(), 5, 0.3), 0.0);
  EXPECT_EQ(alpha_used(never.data(), 0, 0.3), -1.0);
  EXPECT_EQ(alpha_used(never.data(), 5, 1.5), -1.0);
  // Stop at the first event, one patient: the tail is THETA itself.
  const boundary one{0, 1};
  EXPECT_EQ(alpha_used(one.data(), 1, 0.3), 0.3);
}

TEST(NextBoundary, TheDialoguesExample) {
  const gap g = design_gap(10, 0.2, 0.05);
  ASSERT_EQ(g.next_status, 0);
  EXPECT_EQ(entries(g.next, 10), (std::vector<int>{2, 3, 3, 3, 4, 4, 5, 5, 5, 5}));
  EXPECT_EQ(g.next[0], -7);  // b[1..K] only
  EXPECT_EQ(g.next[11], -7);
  char text[64];
  std::snprintf(text, sizeof text, "%g %g", g.next_phi_star, g.next_used);
  EXPECT_STREQ(text, "0.0525067 0.0327935");
  EXPECT_EQ(g.next_used, surv(10, 5));
  EXPECT_EQ(g.next_phi_star, engine_phi_star(g.next, 10, 0.2));
}

TEST(NextBoundary, NoneBelowLevelOneAndRefusals) {
  // K = 1, THETA = 0.2, PHI = 0.5: b[1] = 1 already stops at the first
  // event; only level 1, every trial stopped, is more liberal.
  gap g = design_gap(1, 0.2, 0.5);
  EXPECT_EQ(g.alpha, (0.2 + 1.0) * 0.5);  // ALPHA = 0.6 lies above PHI ...
  EXPECT_EQ(g.used, 0.2);                 // ... the boundary uses 0.2
  EXPECT_EQ(g.next_status, -1);
  EXPECT_EQ(g.next[1], -7);
  // ALPHA = 0 (nothing can stop): the next boundary is the first that can.
  g = design_gap(2, 0.5, 0.001);
  EXPECT_EQ(g.alpha, 0.0);
  EXPECT_EQ(g.used, 0.0);
  ASSERT_EQ(g.next_status, 0);
  EXPECT_EQ(entries(g.next, 2), (std::vector<int>{2, 2}));  // 2 events of 2
  EXPECT_EQ(g.next_used, 0.25);
  EXPECT_EQ(g.next_phi_star, 0.25);
  double phi_star = -1;
  boundary b{};
  EXPECT_EQ(next_boundary(b.data(), &phi_star, 0, 0.2, 0.1), 1);
  EXPECT_EQ(next_boundary(b.data(), &phi_star, 256, 0.2, 0.1), 1);
  EXPECT_EQ(next_boundary(b.data(), &phi_star, 5, -0.2, 0.1), 1);
  EXPECT_EQ(phi_star, -1);
}

// What the documents promise of every design: PHI* <= PHI < next PHI*,
// alpha_used <= ALPHA < next alpha_used, and every level from alpha_used up
// to (not including) the next boundary's gives the design's boundary, the
// next one at its own alpha_used; the next boundary is more liberal, and its
// PHI* is the engine's, as the design's is.
void expect_gap_sound(int K, double theta, double phi) {
  SCOPED_TRACE(testing::Message() << "design " << K << " " << theta << " " << phi);
  const gap g = design_gap(K, theta, phi);
  EXPECT_LE(g.phi_star, phi);
  EXPECT_LE(g.used, g.alpha);
  EXPECT_EQ(entries(pointwise(K, g.used, theta), K), entries(g.b, K));
  if (g.next_status == -1) {
    // Then every level below 1 gives this boundary.
    EXPECT_EQ(entries(pointwise(K, std::nextafter(1.0, 0.0), theta), K), entries(g.b, K));
    return;
  }
  ASSERT_EQ(g.next_status, 0);
  EXPECT_GT(g.next_phi_star, phi);
  EXPECT_GT(g.next_used, g.alpha);
  EXPECT_LT(g.next_used, 1.0);
  EXPECT_EQ(entries(pointwise(K, std::nextafter(g.next_used, 0.0), theta), K), entries(g.b, K));
  EXPECT_EQ(entries(pointwise(K, g.next_used, theta), K), entries(g.next, K));
  bool lower_somewhere = false;
  for (int n = 1; n <= K; ++n) {
    EXPECT_LE(g.next[n], g.b[n]) << n;
    lower_somewhere = lower_somewhere || g.next[n] < g.b[n];
  }
  EXPECT_TRUE(lower_somewhere);
  EXPECT_EQ(g.next_phi_star, engine_phi_star(g.next, K, theta));
}

TEST(NextBoundary, RandomDesignsKeepEveryPromise) {
  std::mt19937 rng(18);
  std::uniform_int_distribution<int> small_k(1, 40);
  std::uniform_int_distribution<int> any_k(1, max_patients);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 300; ++i) {
    const int K = i % 2 == 0 ? small_k(rng) : any_k(rng);
    const double theta = std::clamp(std::pow(10.0, -3 * unit(rng)), 1e-3, 0.999);
    const double phi = std::clamp(std::pow(10.0, -3 * unit(rng)), 1e-3, 0.999);
    expect_gap_sound(K, theta, phi);
  }
  // Exact decimal ties, where equal tails may differ in their last bit.
  for (int K = 1; K <= 40; K += 3)
    for (const double theta : {0.25, 0.5})
      for (const double phi : {0.02, 0.05, 0.1, 0.3}) expect_gap_sound(K, theta, phi);
  for (const double phi : {0.05, 0.5, 0.999}) expect_gap_sound(255, 0.2, phi);
}

TEST(WithinRange, EachFigureInItsRange) {
  oc_record r{};
  r.phi_star = 1.0000000000000002;
  r.p_lower = -1e-17;
  r.mean_y = 40.000000000000007;
  r.sd_y = 20.5;
  r.mean_n = 0.9999999999999999;
  r.sd_n = 19.6;
  r.mean_yn = 1.0000000000000002;
  r.sd_yn = 0.50000000000000011;
  const oc_record c = within_range(r, 40);
  EXPECT_EQ(c.phi_star, 1.0);
  EXPECT_EQ(c.p_lower, 0.0);
  EXPECT_EQ(c.mean_y, 40.0);
  EXPECT_EQ(c.sd_y, 20.0);
  EXPECT_EQ(c.mean_n, 1.0);
  EXPECT_EQ(c.sd_n, 19.5);
  EXPECT_EQ(c.mean_yn, 1.0);
  EXPECT_EQ(c.sd_yn, 0.5);
  // Figures inside their ranges stay as they are, bit for bit.
  const oc_record inside{1.5, 0.7, 3.25, 1.125, 0.25, 0.125, 0.375, 0.0625};
  const oc_record same = within_range(inside, 4);
  EXPECT_EQ(same.mean_y, 1.5);
  EXPECT_EQ(same.sd_y, 0.7);
  EXPECT_EQ(same.mean_n, 3.25);
  EXPECT_EQ(same.sd_n, 1.125);
  EXPECT_EQ(same.mean_yn, 0.25);
  EXPECT_EQ(same.sd_yn, 0.125);
  EXPECT_EQ(same.phi_star, 0.375);
  EXPECT_EQ(same.p_lower, 0.0625);
}

TEST(WithinRange, ABoundaryThatCannotStopRunsToK) {
  // The summary of a boundary that cannot stop, as the engine gives it: a
  // mean of 40 patients off in its last bits, a standard deviation of noise.
  boundary never{};
  std::vector<int> lower(41, -1);
  for (int n = 1; n <= 40; ++n) never[n] = n + 1;
  const oc_record raw = summary(0.2, 40, lower.data(), never.data());
  EXPECT_EQ(raw.phi_star, 0.0);
  EXPECT_EQ(raw.p_lower, 0.0);
  const oc_record c = within_range(raw, 40);
  EXPECT_EQ(c.mean_n, 40.0);
  EXPECT_EQ(c.sd_n, 0.0);
  EXPECT_EQ(c.mean_y, raw.mean_y);
}

#ifdef HAVE_GMP
// A double 0 < x < 1 as the exact rational it is: numerator / 2^e with the
// smallest e (53 less its binary exponent, at most 1074).
struct dyadic {
  mpz_class numerator;
  unsigned e;
};

dyadic exact(double x) {
  int exponent = 0;
  const double mantissa = std::frexp(x, &exponent);  // x = mantissa 2^exponent
  return {mpz_class(std::ldexp(mantissa, 53)), static_cast<unsigned>(53 - exponent)};
}

// The probability that a trial of at most K patients with event probability
// theta (the double, exactly) reaches b[n] after some patient n: a state's
// probability after m patients is an integer over 2^(e m), so integers
// alone carry the recursion.
mpq_class exact_phi_star(const int* b, int K, double theta) {
  const dyadic p = exact(theta);
  const mpz_class one = mpz_class(1) << p.e;
  const mpz_class q = one - p.numerator;
  std::vector<mpz_class> alive(static_cast<std::size_t>(K + 2));
  alive[0] = 1;
  mpz_class stopped = 0;  // over 2^(e m) after patient m
  for (int m = 1; m <= K; ++m) {
    std::vector<mpz_class> next(alive.size());
    stopped *= one;
    for (int s = 0; s < m; ++s) {
      const auto at = static_cast<std::size_t>(s);
      if (alive[at] == 0) continue;
      next[at] += alive[at] * q;
      if (s + 1 >= b[m])
        stopped += alive[at] * p.numerator;
      else
        next[at + 1] += alive[at] * p.numerator;
    }
    // Stops with no event at patient m (b[m] <= s) are not among these
    // boundaries, which never fall: a count at b[m] stopped before.
    alive.swap(next);
  }
  mpq_class value(stopped, mpz_class(1) << (p.e * static_cast<unsigned>(K)));
  value.canonicalize();
  return value;
}

// The exact tail P(Y_n >= k) at the double theta.
mpq_class exact_tail(int n, int k, double theta) {
  mpq_class p(exact(theta).numerator, mpz_class(1) << exact(theta).e);
  p.canonicalize();
  const mpq_class q = 1 - p;
  mpq_class sum = 0;
  mpz_class choose = 1;  // C(n, j)
  for (int j = 0; j <= n; ++j) {
    if (j > 0) choose = choose * (n - j + 1) / j;
    if (j < k) continue;
    mpq_class term = choose;
    for (int i = 0; i < j; ++i) term *= p;
    for (int i = j; i < n; ++i) term *= q;
    sum += term;
  }
  return sum;
}

double relative_error(double computed, const mpq_class& exact_value) {
  if (exact_value == 0) return computed == 0 ? 0 : 1;
  const mpq_class d = (mpq_class(computed) - exact_value) / exact_value;
  return std::abs(d.get_d());
}

// README: PHI* agrees with the exact probability of its boundary to about
// 1e-14 relative, never more than 5e-14 apart (3.2e-14 the most over 8,000
// random designs). Designs on a sweep (every 25th K, THETA and PHI over their
// ranges) and random ones, the design's PHI* and the next boundary's,
// against the exact rational probability at the double THETA.
TEST(Exactness, PhiStarAgreesWithExactRationalToAbout1e14) {
  constexpr double promised = 5e-14;
  double worst = 0;
  int designs = 0;
  const auto check = [&](int K, double theta, double phi) {
    SCOPED_TRACE(testing::Message() << "design " << K << " " << theta << " " << phi);
    const gap g = design_gap(K, theta, phi);
    if (g.phi_star > 0) {
      const double e = relative_error(g.phi_star, exact_phi_star(g.b.data(), K, theta));
      EXPECT_LE(e, promised);
      worst = std::max(worst, e);
    }
    if (g.next_status == 0) {
      const double e = relative_error(g.next_phi_star, exact_phi_star(g.next.data(), K, theta));
      EXPECT_LE(e, promised);
      worst = std::max(worst, e);
    }
    ++designs;
  };
  for (int K = 1; K <= max_patients; K += 25)
    for (const double theta : {0.001, 0.05, 0.2, 0.5, 0.8, 0.99})
      for (const double phi : {0.001, 0.05, 0.2, 0.9}) check(K, theta, phi);
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> any_k(1, max_patients);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 40; ++i)
    check(any_k(rng), 0.001 + 0.998 * unit(rng), 0.001 + 0.998 * unit(rng));
  std::printf("largest relative error of PHI* over %d designs: %.3g\n", designs, worst);
}

// README: PHI* never exceeds PHI as computed, but the exact probability of
// the chosen boundary can exceed PHI by less than one unit in the last place.
TEST(Exactness, ExactPhiStarCanExceedPhiByLessThanAnUlp) {
  const double phi = 0.001464146847791604;
  const gap g = design_gap(45, 0.15, phi);
  EXPECT_LE(g.phi_star, phi);
  const mpq_class exact_value = exact_phi_star(g.b.data(), 45, 0.15);
  EXPECT_GT(exact_value, mpq_class(phi));
  EXPECT_LT(exact_value, mpq_class(std::nextafter(phi, 1.0)));
}

// README: where THETA is stored exactly, tails equal in exact arithmetic can
// differ in their last bit and fall on either side of a level: at 0.25,
// P(Y_3 >= 3) = P(Y_5 >= 4) = 1/64, yet 3 events of 3 cannot stop the
// design 5 0.25 0.02 while 4 of 5 can.
TEST(Exactness, EqualExactTailsDifferInTheirLastBitAtAnExactTheta) {
  const gap g = design_gap(5, 0.25, 0.02);
  EXPECT_EQ(entries(g.b, 5), (std::vector<int>{2, 3, 4, 4, 4}));
  EXPECT_EQ(exact_tail(3, 3, 0.25), mpq_class(1, 64));
  EXPECT_EQ(exact_tail(5, 4, 0.25), mpq_class(1, 64));
  EXPECT_NE(surv(3, 3), surv(5, 4));
  EXPECT_GT(surv(3, 3), g.alpha);
  EXPECT_LE(surv(5, 4), g.alpha);
}

// README: THETA and PHI are the doubles nearest the decimals typed. For
// design 2 0.1 0.01 the one boundary that can stop (2 events of 2) is reached
// with probability 0.1 x 0.1, which in binary exceeds the double 0.01: no
// boundary can stop.
TEST(Exactness, BinaryThetaAndPhiDecideAtDecimalTies) {
  EXPECT_GT(mpq_class(0.1) * mpq_class(0.1), mpq_class(0.01));
  const gap g = design_gap(2, 0.1, 0.01);
  EXPECT_EQ(g.alpha, 0.0);
  EXPECT_EQ(g.phi_star, 0.0);
  EXPECT_EQ(entries(g.b, 2), (std::vector<int>{2, 3}));
  ASSERT_EQ(g.next_status, 0);
  EXPECT_EQ(entries(g.next, 2), (std::vector<int>{2, 2}));
  EXPECT_GT(g.next_phi_star, 0.01);
}
#endif

}  // namespace
