// Tests of the cached binomial tables, the pointwise boundary read from them,
// and the small level helpers (midpoints, logit, alogit).
//
// The tables and their cache key are process-wide and shared with the level
// search, so every test builds the state it reads, and a test that pokes an
// entry leaves the tables rebuilt (Tables::TearDown), never a stale entry
// behind a matching key.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "bndry/bndry.h"
#include "bndry/internal.h"

namespace {

using bndry_internal::bin_prob;
using bndry_internal::bin_surv;
using bndry_internal::bin_table;
using bndry_internal::surv_offset;
using bndry_internal::surv_table;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSentinel = -7.25;  // no probability; a build overwrites it
constexpr int kUnset = -99;          // boundary entries a call must not write

int build(double theta, int m = max_patients) {
  return bndry_internal::init_bin(&bin_prob, theta, m);
}

template <class Table>
std::unique_ptr<Table> copy_of(const Table& t) {
  return std::make_unique<Table>(t);
}
template <class Table>
bool same_bits(const Table& a, const Table& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
bool same_row(const bin_table& a, const bin_table& b, int n) {
  return std::memcmp(a[n].data(), b[n].data(), sizeof a[0]) == 0;
}
bool same_row(const surv_table& a, const surv_table& b, int n) {
  return std::memcmp(a.data() + surv_offset(n), b.data() + surv_offset(n), (n + 1) * sizeof a[0]) == 0;
}
double& surv_entry(int n, int k) { return bin_surv[static_cast<std::size_t>(surv_offset(n) + k)]; }
void poke(int n, int k) { bin_prob[n][k] = surv_entry(n, k) = kSentinel; }
double prob(int n, int k) { return bin_prob[n][k]; }
double surv(int n, int k) { return surv_entry(n, k); }

// Relative error of a row of n: the mode's start value carries the rounding
// of the log-factorial running sums, a few ulps of ln(n!), and every step of
// the walk outwards and every tail sum adds a couple of roundings.
double row_tol(int n) { return (8 * std::lgamma(n + 1.0) + 2 * n + 16) * DBL_EPSILON; }

class Tables : public ::testing::Test {
 protected:
  // The second build always differs from the key the first leaves, so every
  // row is rewritten whatever a test did.
  void TearDown() override {
    build(0.25);
    build(0.75);
  }
};

TEST_F(Tables, CertainThetasGiveExactRowsAndLeaveTheRestZero) {
  ASSERT_EQ(build(0.0), 0);
  for (int n = 1; n <= max_patients; ++n) {
    EXPECT_EQ(prob(n, 0), 1.0) << n;
    EXPECT_EQ(surv(n, 0), 1.0) << n;
    for (int k = 1; k <= n; ++k)
      ASSERT_TRUE(prob(n, k) == 0.0 && surv(n, k) == 0.0) << n << ' ' << k;
  }
  ASSERT_EQ(build(1.0), 0);
  for (int n = 1; n <= max_patients; ++n) {
    EXPECT_EQ(prob(n, n), 1.0) << n;
    for (int k = 0; k < n; ++k) ASSERT_EQ(prob(n, k), 0.0) << n << ' ' << k;
    for (int k = 0; k <= n; ++k) ASSERT_EQ(surv(n, k), 1.0) << n << ' ' << k;
  }
  // Row 0 and the point table's entries past k = n belong to no build (the
  // survival rows are packed: nothing lies past k = n).
  EXPECT_EQ(surv(0, 0), 0.0);
  for (int n = 0; n <= max_patients; ++n)
    for (int k = n == 0 ? 0 : n + 1; k <= max_patients; ++k) ASSERT_EQ(prob(n, k), 0.0);
}

TEST_F(Tables, OnePatientAtHalf) {
  ASSERT_EQ(build(0.5), 0);
  EXPECT_TRUE(prob(1, 0) == 0.5 && prob(1, 1) == 0.5 && surv(1, 0) == 1.0 && surv(1, 1) == 0.5);
}

// Rows against rational arithmetic (data/make_design_reference.py).
TEST_F(Tables, RowsMatchExactBinomial) {
  std::FILE* f = std::fopen(TEST_DATA_DIR "/design_reference.txt", "r");
  ASSERT_NE(f, nullptr);
  int lines = 0;
  char text[256];
  while (std::fgets(text, sizeof text, f) != nullptr) {
    if (text[0] == '#') continue;
    double theta = 0, p = 0, s = 0;
    int n = 0, k = 0;
    ASSERT_EQ(std::sscanf(text, "%la %d %d %la %la", &theta, &n, &k, &p, &s), 5) << text;
    ASSERT_EQ(build(theta), 0);
    EXPECT_NEAR(prob(n, k), p, row_tol(n) * p) << "theta " << theta << " n " << n << " k " << k;
    EXPECT_NEAR(surv(n, k), s, row_tol(n) * s) << "theta " << theta << " n " << n << " k " << k;
    ++lines;
  }
  std::fclose(f);
  EXPECT_EQ(lines, 461);
}

TEST_F(Tables, SurvivalRowsAreNormalisedNonIncreasingTails) {
  for (const double theta : {1e-3, 0.2, 0.5, 0.77, 0.999}) {
    ASSERT_EQ(build(theta), 0);
    for (int n = 1; n <= max_patients; ++n) {
      ASSERT_EQ(surv(n, 0), 1.0) << theta << ' ' << n;
      double total = 0;
      for (int k = 0; k <= n; ++k) total += prob(n, k);
      EXPECT_NEAR(total, 1.0, row_tol(n)) << theta << ' ' << n;
      for (int k = 0; k < n; ++k) {
        ASSERT_LE(surv(n, k + 1), surv(n, k)) << theta << ' ' << n << ' ' << k;
        ASSERT_NEAR(surv(n, k) - surv(n, k + 1), prob(n, k), row_tol(n))
            << theta << ' ' << n << ' ' << k;
      }
    }
  }
}

// A non-rebuild shows as a poked entry that survives the call.
TEST_F(Tables, SameRequestIsServedFromTheCache) {
  ASSERT_EQ(build(0.3), 0);
  const double before = prob(7, 3);
  poke(7, 3);
  const auto p = copy_of(bin_prob);
  const auto s = copy_of(bin_surv);
  EXPECT_EQ(build(0.3), 0);
  EXPECT_TRUE(same_bits(bin_prob, *p));
  EXPECT_TRUE(same_bits(bin_surv, *s));

  EXPECT_EQ(build(std::nextafter(0.3, 1.0)), 0);
  EXPECT_NEAR(prob(7, 3), before, 16 * DBL_EPSILON * before);
  EXPECT_GT(surv(7, 3), 0.0);

  poke(7, 3);
  EXPECT_EQ(build(std::nextafter(0.3, 1.0), max_patients - 1), 0) << "another m is another key";
  EXPECT_GT(prob(7, 3), 0.0);
}

TEST_F(Tables, RefusedRequestsChangeNeitherTablesNorKey) {
  ASSERT_EQ(build(0.3), 0);
  poke(7, 3);
  const auto p = copy_of(bin_prob);
  const auto s = copy_of(bin_surv);
  const struct {
    double theta;
    int m;
  } refused[] = {
      {0.5, 0},   {0.5, 256},  {0.5, -1},  {-0.1, 255},
      {1.1, 255}, {kNaN, 255}, {kNaN, 10}, {std::numeric_limits<double>::infinity(), 255}};
  for (const auto& r : refused) {
    EXPECT_EQ(build(r.theta, r.m), 1) << r.theta << ' ' << r.m;
    EXPECT_TRUE(same_bits(bin_prob, *p) && same_bits(bin_surv, *s)) << r.theta << ' ' << r.m;
  }
  EXPECT_EQ(build(0.3), 0);
  EXPECT_EQ(prob(7, 3), kSentinel) << "the key moved";
}

TEST_F(Tables, SmallerBuildRewritesOnlyItsRows) {
  ASSERT_EQ(build(0.5), 0);
  const auto p5 = copy_of(bin_prob);
  const auto s5 = copy_of(bin_surv);
  ASSERT_EQ(build(0.3), 0);
  const auto p3 = copy_of(bin_prob);
  const auto s3 = copy_of(bin_surv);
  ASSERT_EQ(build(0.5, 10), 0);
  for (int n = 1; n <= max_patients; ++n) {
    const bin_table& p = n <= 10 ? *p5 : *p3;
    const surv_table& s = n <= 10 ? *s5 : *s3;
    EXPECT_TRUE(same_row(bin_prob, p, n) && same_row(bin_surv, s, n)) << n;
  }
  // The key covers rows 1..10 only, so the full request builds again.
  ASSERT_EQ(build(0.5), 0);
  EXPECT_TRUE(same_bits(bin_prob, *p5) && same_bits(bin_surv, *s5));
}

TEST_F(Tables, TheDesignKeepsNoPointTableAndAsksOnlyForRowsUpToK) {
  ASSERT_EQ(build(0.3), 0);
  poke(7, 3);
  poke(12, 3);
  std::array<int, max_patients + 2> b{};
  ASSERT_EQ(GetPointwiseBndry(b.data(), 10, 0.05, 0.6), 0);
  EXPECT_EQ(prob(7, 3), kSentinel) << "point table written";
  EXPECT_GT(surv(7, 3), 0.0);
  EXPECT_EQ(surv(12, 3), kSentinel) << "row beyond K built";
  // The tails alone for 0.6 and 10 do not serve a request for the points.
  EXPECT_EQ(build(0.6, 10), 0);
  EXPECT_NEAR(prob(7, 3), 35 * std::pow(0.6, 3) * std::pow(0.4, 4), 1e-15);
}

// ---- Pointwise boundary -----------------------------------------------------

using boundary = std::array<int, max_patients + 2>;

boundary pointwise(int K, double alpha, double theta, int expected_status = 0) {
  boundary b;
  b.fill(kUnset);
  EXPECT_EQ(GetPointwiseBndry(b.data(), K, alpha, theta), expected_status)
      << K << ' ' << alpha << ' ' << theta;
  if (K >= 0 && K <= max_patients) {
    EXPECT_EQ(b[K + 1], kUnset);
  }
  EXPECT_EQ(b[0], kUnset);
  return b;
}

std::vector<int> entries(const boundary& b, int K) { return {b.begin() + 1, b.begin() + 1 + K}; }

// Smallest k in 1..n with a table tail <= alpha, else n + 1, for each n: the
// boundary rule with no smoothing over n.
std::vector<int> raw_scan(int K, double alpha) {
  std::vector<int> b;
  for (int n = 1; n <= K; ++n) {
    int k = 1;
    while (k <= n && surv(n, k) > alpha) ++k;
    b.push_back(k);
  }
  return b;
}

bool non_decreasing(const std::vector<int>& b) {
  for (std::size_t i = 1; i < b.size(); ++i)
    if (b[i] < b[i - 1]) return false;
  return true;
}

TEST(PointwiseBndry, LevelEqualToATailAdmitsTheCount) {
  EXPECT_EQ(entries(pointwise(1, 0.5, 0.5), 1), (std::vector<int>{1}));
  EXPECT_EQ(entries(pointwise(1, 0.4, 0.5), 1), (std::vector<int>{2}));
  EXPECT_EQ(entries(pointwise(3, 0.125, 0.5), 3), (std::vector<int>{2, 3, 3}));
  EXPECT_EQ(entries(pointwise(10, 0.0299967, 0.2), 10),
            (std::vector<int>{2, 3, 3, 3, 4, 4, 5, 5, 5, 6}));
}

TEST(PointwiseBndry, ExtremeLevelsAndThetas) {
  for (const double alpha : {1.0, 2.0}) {
    const boundary b = pointwise(max_patients, alpha, 0.4);
    for (int n = 1; n <= max_patients; ++n) ASSERT_EQ(b[n], 0) << alpha << ' ' << n;
    EXPECT_NEAR(surv(1, 1), 0.4, DBL_EPSILON) << "the tables are built for theta all the same";
  }
  for (const double alpha : {0.0, 0.5, std::nextafter(1.0, 0.0)}) {
    const boundary never = pointwise(max_patients, alpha, 1.0);
    const boundary at_once = pointwise(max_patients, alpha, 0.0);
    for (int n = 1; n <= max_patients; ++n) {
      ASSERT_EQ(never[n], n + 1) << alpha << ' ' << n;
      ASSERT_EQ(at_once[n], 1) << alpha << ' ' << n;
    }
  }
}

TEST_F(Tables, RefusedBoundaryWritesNothing) {
  ASSERT_EQ(build(0.3), 0);
  poke(7, 3);
  for (const int K : {0, 256, -1}) {
    const boundary b = pointwise(K, 0.1, 0.7, 1);
    for (const int v : b) ASSERT_EQ(v, kUnset) << K;
  }
  EXPECT_EQ(prob(7, 3), kSentinel) << "a refused K must not rebuild the tables";
  for (const double theta : {kNaN, -0.1, 1.1}) {
    const boundary b = pointwise(10, 0.1, theta, 1);
    for (const int v : b) ASSERT_EQ(v, kUnset) << theta;
  }
}

// Here the tail of 6 events falls by an ulp from 181 to 182 patients, so the
// plain scan would give b[181] = 7 and b[182] = 6.
TEST(PointwiseBndry, RoundingCannotMakeTheBoundaryDecrease) {
  const boundary b = pointwise(200, 0.9999999999999998, 0.25);
  EXPECT_LT(surv(182, 6), surv(181, 6)) << "the rounding this test is about is gone";
  EXPECT_EQ(raw_scan(200, 0.9999999999999998)[181], 6);
  const std::vector<int> got = entries(b, 200);
  EXPECT_TRUE(non_decreasing(got));
  EXPECT_EQ(got[180], 7);
  EXPECT_EQ(got[181], 7);
}

// For ordinary levels (midpoints of neighbouring tails, as the search uses)
// the plain scan already never decreases, and the running maximum must not
// change it.
TEST(PointwiseBndry, RunningMaximumLeavesOrdinaryLevelsAlone) {
  std::mt19937 gen(20240611);
  std::uniform_int_distribution<int> pick_k(1, max_patients);
  std::uniform_real_distribution<double> pick_theta(0.02, 0.98);
  std::uniform_real_distribution<double> pick_log_level(std::log(0.001), std::log(0.5));
  int checked = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int K = pick_k(gen);
    const double theta = pick_theta(gen);
    ASSERT_EQ(build(theta), 0);
    const int n0 = std::uniform_int_distribution<int>(1, K)(gen);
    const double target = std::exp(pick_log_level(gen));
    int k = n0;
    while (k >= 1 && surv(n0, k) <= target) --k;
    if (k == n0) continue;  // row n0 has no tail at or below the target
    const double alpha = (surv(n0, k) + surv(n0, k + 1)) * 0.5;
    const std::vector<int> raw = raw_scan(K, alpha);
    EXPECT_TRUE(non_decreasing(raw)) << K << ' ' << theta << ' ' << alpha;
    EXPECT_EQ(entries(pointwise(K, alpha, theta), K), raw) << K << ' ' << theta << ' ' << alpha;
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

// ---- Level helpers ------------------------------------------------------------

TEST(Midpoints, AveragesNeighboursAsTheyStoodBefore) {
  double v[] = {1, 3, 7};
  midpoints(v, 3);
  EXPECT_EQ(v[0], 2.0);
  EXPECT_EQ(v[1], 5.0);
  EXPECT_EQ(v[2], 7.0);
  double one[] = {4, 9};
  midpoints(one, 1);
  midpoints(one, 0);
  EXPECT_EQ(one[0], 4.0);
  EXPECT_EQ(one[1], 9.0);
}

TEST(Logit, InverseOfAlogit) {
  EXPECT_EQ(logit(0.5), 0.0);
  EXPECT_EQ(alogit(0.0), 0.5);
  EXPECT_EQ(logit(0.0), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(logit(1.0), std::numeric_limits<double>::infinity());
  // logit magnifies x's rounding by 1 / (1 - x) near 1.
  for (const double x : {1e-9, 0.01, 0.2, 0.5, 0.73, 0.99, 0.999999})
    EXPECT_NEAR(alogit(logit(x)), x, 8 * DBL_EPSILON * x / (1 - x)) << x;
}

}  // namespace

namespace {

TEST(PointwiseBndry, BisectionStopsWhereTheScanDoes) {
  // Levels at, between and just beside the table's tails, where the
  // inclusive comparison decides, for thetas from near 0 to near 1.
  std::mt19937 rng(5);
  for (const double theta : {1e-9, 0.001, 0.2, 0.5, 0.77, 0.999999}) {
    for (int trial = 0; trial < 200; ++trial) {
      const int K = 1 + static_cast<int>(rng() % max_patients);
      pointwise(K, 0.5, theta);  // builds the tables for theta
      const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(K));
      const int k = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
      const double tail = surv(n, k);
      for (const double alpha : {tail, std::nextafter(tail, 0.0), std::nextafter(tail, 1.0)}) {
        if (alpha >= 1.0) continue;
        std::vector<int> expected = raw_scan(K, alpha);
        for (std::size_t i = 1; i < expected.size(); ++i) expected[i] = std::max(expected[i], expected[i - 1]);
        EXPECT_EQ(entries(pointwise(K, alpha, theta), K), expected) << theta << ' ' << alpha;
      }
    }
  }
}

// v cut into runs of random lengths (empty ones too), as the rows give them.
std::vector<double> sorted_in_runs(const std::vector<double>& v, std::mt19937_64& rng) {
  std::vector<bndry_internal::tail_run> runs;
  for (std::size_t at = 0; at < v.size() || runs.empty();) {
    const std::size_t size = std::min(v.size() - at, static_cast<std::size_t>(rng() % 300));
    runs.push_back({v.data() + at, static_cast<int>(size)});
    at += size;
  }
  std::vector<double> out(v.size() + 1, kSentinel);
  bndry_internal::sort_tails(runs.data(), static_cast<int>(runs.size()), out.data());
  EXPECT_EQ(out.back(), kSentinel) << "written past the end";
  out.pop_back();
  return out;
}

TEST(SortTails, OrdersAsAComparisonSortDoes) {
  std::mt19937_64 rng(6);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const int n : {0, 1, 2, 3, 100, 5000, 40000}) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (auto& x : v) {
      switch (rng() % 6) {
        case 0: x = 0.0; break;                                       // underflowed tails
        case 1: x = 1.0; break;                                       // P(Y >= 0)
        case 2: x = std::ldexp(unit(rng), -1060); break;              // subnormal
        case 3: x = v.empty() ? 0.5 : v[rng() % v.size()]; break;     // duplicates
        case 4: x = std::pow(10.0, -300 * unit(rng)); break;
        default: x = unit(rng);
      }
    }
    std::vector<double> expected = v;
    std::sort(expected.begin(), expected.end());
    const std::vector<double> got = sorted_in_runs(v, rng);
    EXPECT_TRUE(got.empty() || std::memcmp(got.data(), expected.data(), got.size() * sizeof(double)) == 0) << n;
  }
  // Thousands of values a few ulps apart beside values far from them: the
  // cluster shares one bucket and takes the comparison sort.
  std::vector<double> clustered{0.0, 1.0, 1e-300};
  for (int i = 0; i < 3000; ++i) clustered.push_back(0.25 + static_cast<double>(rng() % 5000) * 0x1p-54);
  for (int i = 0; i < 2000; ++i) clustered.push_back(0.0);
  std::vector<double> expected = clustered;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted_in_runs(clustered, rng), expected);
  // Clusters inside clusters, each of a few dozen values: buckets spread
  // again level after level, down to keys a unit apart.
  std::vector<double> nested{0.0, 1.0};
  for (const double width : {0x1p-8, 0x1p-20, 0x1p-32, 0x1p-44, 0x1p-54})
    for (int i = 0; i < 40; ++i) nested.push_back(0.25 + width * static_cast<double>(rng() % 64));
  for (int i = 0; i < 40; ++i) nested.push_back(0.75 + 0x1p-53 * static_cast<double>(rng() % 3));  // 3 ulps
  expected = nested;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted_in_runs(nested, rng), expected);
  // Values that share all but their last bits.
  const std::vector<double> close{0.25, std::nextafter(0.25, 1.0), 0.25, std::nextafter(0.25, 0.0)};
  EXPECT_EQ(sorted_in_runs(close, rng),
            (std::vector<double>{std::nextafter(0.25, 0.0), 0.25, 0.25, std::nextafter(0.25, 1.0)}));
}

}  // namespace
