// Designs and the crossing engine's methods: the walk's cost on designs and
// the rule that hands larger ones to the recursion; large designs, which
// only the recursion over merged states can compute, complete for every K up
// to 255, meet PHI, keep their probabilities summing to 1, and agree with
// exact rational arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cmath>
#include <vector>

#include "bndry/bndry.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"

#ifdef HAVE_GMP
#include <gmpxx.h>
#endif

namespace {

using boundary = std::array<int, max_patients + 1>;
using cross2_internal::method_choice;

constexpr std::uint64_t no_cap = std::uint64_t{1} << 62;

struct design {
  int K;
  double theta;
  double phi;
};

boundary never_low() {
  boundary lower{};
  lower.fill(-1);
  return lower;
}

// Sum of the three vectors of one crossing computation.
double total_probability(double theta, int K, const int* lower, const int* upper) {
  std::vector<double> ls(static_cast<std::size_t>(K + 1));
  std::vector<double> us(ls.size());
  std::vector<double> rs(ls.size());
  EXPECT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), theta, K, lower, upper), 0);
  return array_sum(ls.data(), 1, K) + array_sum(us.data(), 1, K) + array_sum(rs.data(), 0, K);
}

TEST(WalkCost, DesignsGrowAsTheWalkIsKnownTo) {
  // Calls per crossing computation of the designs at THETA 0.2, PHI 0.05:
  // about 2e2, 9e4, 3e6 and 4e7 for K = 10, 20, 25 and 30.
  std::array<int, max_patients + 1> lower{};
  lower.fill(-1);
  const std::array<std::pair<int, std::uint64_t>, 4> known{{{10, 172}, {20, 92179}, {25, 2621674}, {30, 37894437}}};
  for (const auto& [K, calls] : known) {
    std::array<int, max_patients + 1> b{};
    double alpha = 0.0;
    double phi_star = 0.0;
    ASSERT_EQ(FindBndry(b.data(), &alpha, &phi_star, K, 0.2, 0.05), 0);
    EXPECT_EQ(cross2_internal::walk_cost(K, lower.data(), b.data(), no_cap), calls) << K;
  }
}

TEST(Recursion, RunsWhereTheWalkWouldBeTooCostly) {
  // The program's rule takes the walk up to its budget and the recursion
  // beyond, which makes no proceed call.
  std::array<int, max_patients + 1> lower{};
  lower.fill(-1);
  std::array<int, max_patients + 1> b{};
  double alpha = 0.0;
  double phi_star = 0.0;
  ASSERT_EQ(FindBndry(b.data(), &alpha, &phi_star, 25, 0.2, 0.05), 0);
  std::array<double, max_patients + 1> ls{}, us{}, rs{};
  cross2_internal::choose_method(method_choice::walk);
  ASSERT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), 0.2, 10, lower.data(), b.data()), 0);
  cross2_internal::choose_method(method_choice::by_cost);
  const auto walked = cross2_internal::last_walk_calls();
  EXPECT_GT(walked, 0u);
  ASSERT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), 0.2, 25, lower.data(), b.data()), 0);
  EXPECT_EQ(cross2_internal::last_walk_calls(), walked);
  ASSERT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), 0.2, 10, lower.data(), b.data()), 0);
  EXPECT_EQ(cross2_internal::last_walk_calls(), walked);
}

TEST(LargeDesign, EveryKUpTo255CompletesWithinPhi) {
  constexpr double sums_to_one = 1e-12;
  const boundary lower = never_low();
  for (const design d : {design{255, 0.2, 0.05}, design{255, 0.5, 0.5}, design{255, 0.01, 0.2},
                         design{255, 0.9, 0.01}, design{200, 0.25, 0.9999999999999999},
                         design{255, 0.35, 0.9999999999999999}, design{150, 1e-9, 0.3},
                         design{100, 0.6, 0.1}, design{40, 0.3, 0.05}}) {
    SCOPED_TRACE(testing::Message() << "K=" << d.K << " theta=" << d.theta << " phi=" << d.phi);
    boundary b{};
    double alpha = -1.0;
    double phi_star = -1.0;
    ASSERT_EQ(FindBndry(b.data(), &alpha, &phi_star, d.K, d.theta, d.phi), 0);
    EXPECT_LE(phi_star, d.phi);
    for (int n = 2; n <= d.K; ++n) EXPECT_LE(b[n - 1], b[n]) << n;
    // The final boundary at the table's rows and at levels around ALPHA,
    // as the search tries them.
    for (const double theta : {d.theta, 0.05, 0.5, 0.95})
      EXPECT_NEAR(total_probability(theta, d.K, lower.data(), b.data()), 1.0, sums_to_one);
    boundary tried{};
    for (const double level : {alpha / 4, alpha / 2, alpha * 2, alpha * 8}) {
      if (level <= 0.0 || level >= 1.0) continue;
      ASSERT_EQ(GetPointwiseBndry(tried.data(), d.K, level, d.theta), 0);
      EXPECT_NEAR(total_probability(d.theta, d.K, lower.data(), tried.data()), 1.0, sums_to_one);
    }
  }
}

#ifdef HAVE_GMP
// x = numerator / 2^e exactly, for a double 0 < x < 1 and e = 1074 (every
// such double is a multiple of the smallest subnormal).
constexpr unsigned fraction_bits = 1074;
mpz_class scaled(double x) {
  int exponent = 0;
  const double mantissa = std::frexp(x, &exponent);
  return mpz_class(std::ldexp(mantissa, 53)) << static_cast<unsigned>(fraction_bits - 53 + exponent);
}

// PHI* of a boundary in exact arithmetic, with the event probability theta
// and the no-event probability q. A state's probability after m patients is
// an integer over 2^(e m), so integers alone carry the recursion, with no
// rational reductions. With q = 1 - theta exactly this is the probability of
// the trial; with q the double nearest to 1 - theta, as the engine holds it,
// it isolates the engine's own rounding.
double exact_phi_star(int K, double theta, double q, const int* upper) {
  const unsigned e = fraction_bits;
  const mpz_class a = scaled(theta);
  const mpz_class one = mpz_class(1) << e;
  const mpz_class b = q < 0 ? one - a : scaled(q);
  std::vector<mpz_class> alive(static_cast<std::size_t>(K + 2));
  alive[0] = 1;
  mpz_class stopped = 0;  // over 2^(e m) after patient m
  for (int m = 1; m <= K; ++m) {
    std::vector<mpz_class> next(alive.size());
    stopped *= one;
    for (int s = 0; s < m; ++s) {
      const auto at = static_cast<std::size_t>(s);
      if (alive[at] == 0) continue;
      next[at] += alive[at] * b;
      if (s + 1 >= upper[m])
        stopped += alive[at] * a;
      else
        next[at + 1] += alive[at] * a;
    }
    alive.swap(next);
  }
  const mpq_class p(stopped, mpz_class(1) << (e * static_cast<unsigned>(K)));
  return p.get_d();
}

constexpr double exact_q = -1.0;

TEST(LargeDesign, RecursionMatchesExactRationalPhiStar) {
  // The engine's arithmetic on its own p and q.
  constexpr double relative = 1e-15;
  // The double nearest to 1 - theta is off by up to half an ulp, which K
  // factors of q carry into PHI* about K / 4 ulps: 2.5e-15 at K = 100.
  constexpr double relative_to_trial = 4e-15;
  cross2_internal::choose_method(cross2_internal::method_choice::recursion);
  const boundary lower = never_low();
  for (const design d : {design{25, 0.2, 0.05}, design{40, 0.37, 0.2}, design{60, 0.1, 0.1},
                         design{80, 0.5, 0.3}, design{100, 0.2, 0.05}, design{100, 0.83, 0.6}}) {
    SCOPED_TRACE(testing::Message() << "K=" << d.K << " theta=" << d.theta);
    boundary b{};
    double alpha = 0.0;
    double phi_star = 0.0;
    ASSERT_EQ(FindBndry(b.data(), &alpha, &phi_star, d.K, d.theta, d.phi), 0);
    const double exact = exact_phi_star(d.K, d.theta, 1.0 - d.theta, b.data());
    EXPECT_NEAR(phi_star, exact, relative * exact);
    const double trial = exact_phi_star(d.K, d.theta, exact_q, b.data());
    EXPECT_NEAR(phi_star, trial, relative_to_trial * trial);
    for (const double theta : {0.05, 0.45, 0.9}) {
      std::vector<double> ls(static_cast<std::size_t>(d.K + 1)), us(ls.size()), rs(ls.size());
      ASSERT_EQ(CrossingProb(ls.data(), us.data(), rs.data(), theta, d.K, lower.data(), b.data()), 0);
      const double exact_at = exact_phi_star(d.K, theta, 1.0 - theta, b.data());
      EXPECT_NEAR(array_sum(us.data(), 1, d.K), exact_at, relative * exact_at) << theta;
    }
  }
  cross2_internal::choose_method(cross2_internal::method_choice::by_cost);
}
#endif

}  // namespace
