// Tests of the exact binomial functions: the log-factorial table, the point
// probability and its logarithm with their special-case rules, and the
// probability and tail vectors. Spot values come from
// data/binomial_reference.txt (mpmath at 50 digits, make_binomial_reference.py).
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "base/base.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ref_row {
  int n = 0;
  double theta = 0;
  std::vector<double> p, log_p;  // P(Y_n = k) and ln P(Y_n = k), k = 0..n
};

struct reference {
  std::vector<double> lf;                  // ln(j!), j = 0..255
  std::vector<std::pair<int, double>> lfx;  // (j, ln(j!)) for some j beyond 255
  std::vector<ref_row> rows;
};

const reference& ref() {
  static const reference r = [] {
    reference out;
    std::FILE* f = std::fopen(TEST_DATA_DIR "/binomial_reference.txt", "r");
    if (f == nullptr) std::abort();
    char tag[8];
    while (std::fscanf(f, "%7s", tag) == 1) {
      const std::string t = tag;
      int i = 0;
      double x = 0, y = 0;
      if (t == "lf" && std::fscanf(f, "%d %lf", &i, &x) == 2) {
        out.lf.push_back(x);
      } else if (t == "lfx" && std::fscanf(f, "%d %lf", &i, &x) == 2) {
        out.lfx.emplace_back(i, x);
      } else if (t == "row" && std::fscanf(f, "%d %lf", &i, &x) == 2) {
        out.rows.push_back({i, x, {}, {}});
      } else if (t == "p" && std::fscanf(f, "%d %lf %lf", &i, &x, &y) == 3) {
        out.rows.back().p.push_back(x);
        out.rows.back().log_p.push_back(y);
      } else {
        std::abort();
      }
    }
    std::fclose(f);
    return out;
  }();
  return r;
}

// lf[j] is a running sum of j - 1 logarithms: each log is within 1 ulp and
// each of the j - 2 additions rounds by at most eps/2 of a partial sum below
// lf[j], so the relative error is at most (j/2) eps; j eps leaves a margin.
double lf_tol(int j) { return j * DBL_EPSILON; }

// ln P is formed from k ln(theta), (n-k) ln(q) and three table entries, none
// larger than |ln P| + 2 ln n!; their roundings and exp's give an absolute
// error in ln P, i.e. a relative error in P, of a few eps times that size.
// The table entries' own errors largely cancel along the running sum (their
// bound is lf_tol); 8 is about twice the largest factor seen over all rows.
double log_tol(int n, double log_p) { return 8 * DBL_EPSILON * (1 + std::fabs(log_p) + ilfact(n)); }

// Every step of the walk from the mode rounds three times and carries the
// rounding of r = theta / q once more, so each step adds at most 2 eps.
constexpr double kWalkStepTol = 4 * DBL_EPSILON;

// Values below the normal range lose relative precision in exp and in the
// walk; there only an absolute error of DBL_MIN is asked for.
void expect_prob(double got, double want, double rel_tol, const std::string& where) {
  const double tol = want < DBL_MIN ? DBL_MIN : rel_tol * want;
  EXPECT_NEAR(got, want, tol) << where;
}

int mode_of(int n, double theta) {
  const int c = static_cast<int>(n * theta + 0.5);
  return c > n ? n : c;
}

std::string label(const ref_row& r, int k) {
  return "k=" + std::to_string(k) + " n=" + std::to_string(r.n) + " theta=" + std::to_string(r.theta);
}

TEST(Ilfact, MatchesReferenceOverTheWholeTable) {
  ASSERT_EQ(ref().lf.size(), 256u);
  EXPECT_EQ(ilfact(0), 0.0);
  EXPECT_EQ(ilfact(1), 0.0);
  for (int j = 2; j <= 255; ++j) EXPECT_NEAR(ilfact(j), ref().lf[j], lf_tol(j) * ref().lf[j]) << "j=" << j;
}

TEST(Ilfact, NaNOutsideTheTable) {
  for (int j : {max_binomial_n + 1, 1 << 20, -1, -256, std::numeric_limits<int>::min(),
                std::numeric_limits<int>::max()})
    EXPECT_TRUE(std::isnan(ilfact(j))) << j;
}

// Past 255 the table continues the same running sum, block after block:
// the dialogue's first 256 entries and every later one are the one sum's
// partial sums, bit for bit, whichever block is asked for first.
TEST(Ilfact, ExtendsTheRunningSumBeyondTheDialoguesTable) {
  EXPECT_FALSE(std::isnan(ilfact(max_binomial_n)));  // the last block first: it fills those before it
  double s = 0.0;
  for (int j = 2; j <= max_binomial_n; ++j) {
    s = std::log(static_cast<double>(j)) + s;
    ASSERT_EQ(ilfact(j), s) << j;
  }
  ASSERT_FALSE(ref().lfx.empty());
  for (const auto& [j, value] : ref().lfx) EXPECT_NEAR(ilfact(j), value, lf_tol(j) * value) << "j=" << j;
}

TEST(Ilgamma, IsTheShiftedTableWithItsLimits) {
  for (int a = 1; a <= 300; ++a) EXPECT_EQ(ilgamma(a), ilfact(a - 1)) << a;
  EXPECT_EQ(ilgamma(max_binomial_n + 1), ilfact(max_binomial_n));
  EXPECT_EQ(ilgamma(1), 0.0);
  for (int a : {0, -1, max_binomial_n + 2}) EXPECT_TRUE(std::isnan(ilgamma(a))) << a;
}

TEST(BinPdf, SpecialCasesAreExact) {
  for (double t : {0.0, 0.3, 1.0}) {
    EXPECT_EQ(bin_pdf(0, 0, t), 1.0);
    EXPECT_EQ(bin_pdf(1, 0, t), 0.0);
    EXPECT_EQ(bin_pdf(-1, 0, t), 0.0);
  }
  EXPECT_EQ(bin_pdf(0, 5, 0.0), 1.0);
  EXPECT_EQ(bin_pdf(2, 5, 0.0), 0.0);
  EXPECT_EQ(bin_pdf(5, 5, 1.0), 1.0);
  EXPECT_EQ(bin_pdf(4, 5, 1.0), 0.0);
  EXPECT_EQ(bin_pdf(-1, 5, 0.3), 0.0);
  EXPECT_EQ(bin_pdf(6, 5, 0.3), 0.0);
  // The degenerate and out-of-range rules come before the table limit.
  EXPECT_EQ(bin_pdf(0, 300, 0.0), 1.0);
  EXPECT_EQ(bin_pdf(300, 300, 1.0), 1.0);
  EXPECT_EQ(bin_pdf(301, 300, 0.3), 0.0);
  EXPECT_TRUE(std::isnan(bin_pdf(2, max_binomial_n + 1, 0.3)));
  EXPECT_FALSE(std::isnan(bin_pdf(2, 300, 0.3)));
  EXPECT_TRUE(std::isnan(bin_pdf(2, -1, 0.3)));
  EXPECT_TRUE(std::isnan(bin_pdf(0, -1, 0.0)));
  EXPECT_TRUE(std::isnan(bin_pdf(2, 5, 1.5)));
  EXPECT_TRUE(std::isnan(bin_pdf(2, 5, -0.1)));
}

TEST(BinLogPdf, SpecialCasesAreExact) {
  EXPECT_EQ(bin_log_pdf(0, 0, 0.7), 0.0);
  EXPECT_EQ(bin_log_pdf(1, 0, 0.7), -kInf);
  EXPECT_EQ(bin_log_pdf(0, 5, 0.0), 0.0);
  EXPECT_EQ(bin_log_pdf(2, 5, 0.0), -kInf);
  EXPECT_EQ(bin_log_pdf(5, 5, 1.0), 0.0);
  EXPECT_EQ(bin_log_pdf(4, 5, 1.0), -kInf);
  EXPECT_EQ(bin_log_pdf(6, 5, 0.3), -kInf);
  EXPECT_EQ(bin_log_pdf(-1, 5, 0.3), -kInf);
  for (double got : {bin_log_pdf(2, -1, 0.3), bin_log_pdf(2, 5, 1.5), bin_log_pdf(2, 5, -0.1),
                     bin_log_pdf(2, max_binomial_n + 1, 0.3)})
    EXPECT_TRUE(std::isnan(got));
}

TEST(BinPdf, AgreesWithReferenceIncludingTails) {
  ASSERT_FALSE(ref().rows.empty());
  for (const ref_row& r : ref().rows) {
    for (int k = 0; k <= r.n; ++k) {
      const double tol = log_tol(r.n, r.log_p[k]);
      expect_prob(bin_pdf(k, r.n, r.theta), r.p[k], tol, label(r, k));
      // The logarithm stays accurate where the probability underflows.
      EXPECT_NEAR(bin_log_pdf(k, r.n, r.theta), r.log_p[k], tol) << label(r, k);
    }
  }
}

TEST(BinPdfVec, RefusalWritesNothing) {
  for (auto [n, theta] : {std::pair{-1, 0.5}, {3, 1.2}, {3, -0.2}, {3, kNaN}, {0, kNaN}}) {
    std::vector<double> p(8, 42.0);
    EXPECT_EQ(bin_pdf_vec(p.data(), n, theta), 1) << n << " " << theta;
    EXPECT_EQ(p, std::vector<double>(8, 42.0));
  }
}

TEST(BinPdfVec, DegenerateRowsAreExact) {
  for (int n : {0, 1, 2, 3, 10, 255}) {
    std::vector<double> p(static_cast<std::size_t>(n + 1), 42.0), want(p.size(), 0.0);
    ASSERT_EQ(bin_pdf_vec(p.data(), n, 0.0), 0);
    want.front() = 1.0;
    EXPECT_EQ(p, want) << "theta 0, n=" << n;
    ASSERT_EQ(bin_pdf_vec(p.data(), n, 1.0), 0);
    want.assign(want.size(), 0.0);
    want.back() = 1.0;
    EXPECT_EQ(p, want) << "theta 1, n=" << n;
  }
}

TEST(BinPdfVec, SmallRows) {
  double p[4];
  ASSERT_EQ(bin_pdf_vec(p, 3, 0.5), 0);
  const double want[] = {0.125, 0.375, 0.375, 0.125};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(p[k], want[k], 8 * DBL_EPSILON * want[k]) << k;
  // Closed forms for one and two patients.
  ASSERT_EQ(bin_pdf_vec(p, 2, 0.5), 0);
  EXPECT_EQ(p[0], 0.25);
  EXPECT_EQ(p[1], 0.5);
  EXPECT_EQ(p[2], 0.25);
  ASSERT_EQ(bin_pdf_vec(p, 1, 0.25), 0);
  EXPECT_EQ(p[0], 0.75);
  EXPECT_EQ(p[1], 0.25);
}

TEST(BinPdfVec, AgreesWithReferenceAndSumsToOne) {
  for (const ref_row& r : ref().rows) {
    std::vector<double> p(static_cast<std::size_t>(r.n + 1));
    ASSERT_EQ(bin_pdf_vec(p.data(), r.n, r.theta), 0);
    const int c = mode_of(r.n, r.theta);
    const double start_tol = log_tol(r.n, r.log_p[c]);
    double sum = 0;
    for (int k = 0; k <= r.n; ++k) {
      expect_prob(p[k], r.p[k], start_tol + kWalkStepTol * std::abs(k - c), label(r, k));
      sum += p[k];
    }
    // Entries near the mode carry the mass: their error, the walk's and one
    // rounding per addition.
    EXPECT_NEAR(sum, 1.0, start_tol + (kWalkStepTol + DBL_EPSILON) * r.n) << label(r, c);
  }
}

TEST(BinPdfVec, BeyondTheTableIsAllNaN) {
  std::vector<double> p(static_cast<std::size_t>(max_binomial_n) + 2, 0.0);
  ASSERT_EQ(bin_pdf_vec(p.data(), max_binomial_n + 1, 0.3), 0);
  for (double x : p) EXPECT_TRUE(std::isnan(x));
}

TEST(BinSrvVec, TwoFairCoins) {
  double s[3];
  ASSERT_EQ(bin_srv_vec(s, 2, 0.5), 0);
  EXPECT_EQ(s[0], 1.0);
  EXPECT_EQ(s[1], 0.75);
  EXPECT_EQ(s[2], 0.25);
}

TEST(BinSrvVec, IsTheRunningTailSumOfThePdf) {
  for (const ref_row& r : ref().rows) {
    const auto size = static_cast<std::size_t>(r.n + 1);
    std::vector<double> p(size), s(size);
    ASSERT_EQ(bin_pdf_vec(p.data(), r.n, r.theta), 0);
    ASSERT_EQ(bin_srv_vec(s.data(), r.n, r.theta), 0);
    double tail = 0;
    for (int k = r.n; k >= 0; --k) {
      tail = k == r.n ? p[k] : tail + p[k];
      EXPECT_EQ(s[k], tail) << label(r, k);
    }
  }
}

TEST(BinSrvVec, PassesRefusalOn) {
  std::vector<double> s(4, 42.0);
  EXPECT_EQ(bin_srv_vec(s.data(), -1, 0.5), 1);
  EXPECT_EQ(bin_srv_vec(s.data(), 3, 1.2), 1);
  EXPECT_EQ(bin_srv_vec(s.data(), 3, kNaN), 1);
  EXPECT_EQ(s, std::vector<double>(4, 42.0));
}

}  // namespace

namespace {

TEST(BinPdfRow, IsBinPdfBitForBit) {
  // Hoisting the logarithms out of the row must not move a rounding.
  std::vector<double> row(max_patients + 1);
  for (const double theta : {0.0, 1e-300, 1e-7, 0.001, 0.2, 0.25, 0.5, 0.61, 0.999, 1 - 1e-12, 1.0}) {
    for (int n = 0; n <= max_patients; n += (n < 10 ? 1 : 17)) {
      bin_pdf_row(row.data(), n, theta);
      for (int k = 0; k <= n; ++k) {
        const double expected = bin_pdf(k, n, theta);
        EXPECT_EQ(std::memcmp(&row[static_cast<std::size_t>(k)], &expected, sizeof expected), 0)
            << theta << ' ' << n << ' ' << k;
      }
    }
  }
}

}  // namespace

namespace {

// bin_surv_row is bin_srv_vec without the status, bit for bit, and stays a
// running tail sum of the probability row beyond the dialogue's table.
TEST(BinSurvRow, IsBinSrvVecAndTheTailSumEverywhere) {
  for (const double theta : {0.0, 1e-9, 0.003, 0.2, 0.5, 0.77, 1.0}) {
    for (const int n : {0, 1, 2, 3, 17, 254, 255, 256, 1000, 20000}) {
      const auto size = static_cast<std::size_t>(n + 1);
      std::vector<double> s(size), v(size), p(size);
      bin_surv_row(s.data(), n, theta);
      ASSERT_EQ(bin_srv_vec(v.data(), n, theta), 0);
      ASSERT_EQ(bin_pdf_vec(p.data(), n, theta), 0);
      ASSERT_EQ(std::memcmp(s.data(), v.data(), size * sizeof(double)), 0) << theta << ' ' << n;
      double tail = p[size - 1];
      for (int k = n; k >= 0; --k) {
        if (k < n) tail = tail + p[static_cast<std::size_t>(k)];
        ASSERT_EQ(s[static_cast<std::size_t>(k)], tail) << theta << ' ' << n << ' ' << k;
      }
    }
  }
}

}  // namespace

#ifdef HAVE_GMP
#include <gmpxx.h>

namespace {

// P(Y_n = k) exactly, for the double theta = a / 2^e: C(n, k) a^k (2^e -
// a)^(n-k) / 2^(e n), as a rational.
mpq_class exact_pdf(int k, int n, double theta) {
  int e = 0;
  const double m = std::frexp(theta, &e);  // theta = m 2^e, 0.5 <= m < 1
  const mpz_class a(std::ldexp(m, 53));    // theta = a / 2^(53 - e)
  const auto shift = static_cast<unsigned long>(53 - e);
  mpz_class one(1);
  one <<= shift;
  mpz_class c, ak, bk;
  mpz_bin_uiui(c.get_mpz_t(), static_cast<unsigned long>(n), static_cast<unsigned long>(k));
  mpz_pow_ui(ak.get_mpz_t(), a.get_mpz_t(), static_cast<unsigned long>(k));
  const mpz_class b = one - a;
  mpz_pow_ui(bk.get_mpz_t(), b.get_mpz_t(), static_cast<unsigned long>(n - k));
  // The denominator is a power of two: cancel the numerator's factors of 2
  // by shifts, much cheaper than a general gcd of million-bit numbers.
  mpz_class num = c * ak * bk;
  const auto twos = std::min<unsigned long>(mpz_scan1(num.get_mpz_t(), 0), shift * static_cast<unsigned long>(n));
  num >>= twos;
  mpz_class den(1);
  den <<= shift * static_cast<unsigned long>(n) - twos;
  return mpq_class(num, den);
}

// Beyond the dialogue's table the running sum's roundings cancel less in
// ln n! - ln k! - ln (n-k)!: the errors seen reach about 11 eps (1 + |ln P| +
// ln n!) at n = 65535 (2e-12 relative at n = 10,000), so the tolerance is
// 32 eps times that size. The whole row's walk from the mode adds its steps'
// roundings; entries below the double range are 0 or subnormals within DBL_MIN.
TEST(BinPdf, BeyondTheDialoguesTableAgreesWithExactRationals) {
  struct spot {
    int n;
    double theta;
  };
  for (const spot& c : {spot{256, 0.3}, spot{300, 0.05}, spot{1000, 0.2}, spot{4097, 0.61},
                        spot{10000, 0.2}, spot{20000, 0.003}, spot{max_binomial_n, 0.5}}) {
    std::vector<double> row(static_cast<std::size_t>(c.n + 1));
    ASSERT_EQ(bin_pdf_vec(row.data(), c.n, c.theta), 0);
    const int mode = mode_of(c.n, c.theta);
    auto tol = [&](double log_p) { return 4 * log_tol(c.n, log_p); };
    const double mode_tol = tol(bin_log_pdf(mode, c.n, c.theta));
    for (const int k : {0, 1, mode / 3, mode - 7, mode, mode + 1, mode + 40, (mode + c.n) / 2, c.n}) {
      if (k < 0 || k > c.n) continue;
      const mpq_class exact = exact_pdf(k, c.n, c.theta);
      const double log_p = bin_log_pdf(k, c.n, c.theta);
      const std::string where = "n=" + std::to_string(c.n) + " k=" + std::to_string(k);
      auto check = [&](double got, double rel) {
        const mpq_class err = abs(mpq_class(got) - exact);
        if (exact.get_d() < DBL_MIN) {
          EXPECT_LE(err.get_d(), DBL_MIN) << where;
        } else {
          EXPECT_LE(err.get_d(), rel * exact.get_d()) << where;
        }
      };
      check(bin_pdf(k, c.n, c.theta), tol(log_p));
      check(row[static_cast<std::size_t>(k)], mode_tol + kWalkStepTol * std::abs(k - mode));
    }
  }
}

}  // namespace
#endif
