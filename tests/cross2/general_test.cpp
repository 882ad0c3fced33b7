// The engine beyond monotone boundaries and the dialogue's K: results on the
// monotone boundaries it took before, bit for bit against its frozen form;
// boundaries with looks (falling upper, lower returning to -1) against exact
// rationals with the stated bounds; the bound at large K against the precise
// evaluation; the stops split by count; workspaces side by side.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
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
  explicit vectors(int K)
      : ls(static_cast<std::size_t>(K + 1)), us(ls.size()), rs(ls.size()) {}
};

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

vectors crossing(method_choice choice, double theta, const test_reference::boundary_pair& b) {
  const int K = static_cast<int>(b.lower.size()) - 1;
  vectors v(K);
  cross2_internal::choose_method(choice);
  EXPECT_EQ(CrossingProb(v.ls.data(), v.us.data(), v.rs.data(), theta, K, b.lower.data(),
                         b.upper.data()),
            0);
  cross2_internal::choose_method(method_choice::by_cost);
  return v;
}

double pick_theta(std::mt19937& rng, int trial) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  if (trial % 11 == 0) return 1e-6 * (1 + unit(rng));
  if (trial % 7 == 0) return 0.05 * (1 + static_cast<int>(unit(rng) * 19));  // on the 0.05 grid
  return 0.001 + 0.998 * unit(rng);
}

// Every method, and the list of outcomes, on the monotone boundaries the
// engine took before: the bits it gave then. STOPBOUND_MONOTONE_PAIRS sets
// how many pairs (1,000 by default), for a long differential run by hand.
TEST(Monotone, EveryMethodKeepsItsBits) {
  std::mt19937 rng(20250101);
  constexpr std::uint64_t walkable = 200000;
  const char* wanted = std::getenv("STOPBOUND_MONOTONE_PAIRS");
  const int pairs = wanted != nullptr ? std::atoi(wanted) : 1000;
  for (int trial = 0; trial < pairs; ++trial) {
    const int K = trial % 10 == 0 ? 1 + (trial * 37) % max_patients : 1 + trial % 28;
    const auto b = test_reference::random_boundaries(rng, K, 1 + trial % 3);
    const double theta = pick_theta(rng, trial);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    const auto old_rec = old_engine::recursion(theta, b.lower, b.upper);
    const auto rec = crossing(method_choice::recursion, theta, b);
    ASSERT_TRUE(same_bits(rec.ls, old_rec.ls) && same_bits(rec.us, old_rec.us) &&
                same_bits(rec.rs, old_rec.rs));
    const std::uint64_t cost = cross2_internal::walk_cost(K, b.lower.data(), b.upper.data(), walkable);
    const vectors by_cost = crossing(method_choice::by_cost, theta, b);
    if (cost > walkable) {
      ASSERT_TRUE(same_bits(by_cost.ls, old_rec.ls) && same_bits(by_cost.us, old_rec.us) &&
                  same_bits(by_cost.rs, old_rec.rs));
      continue;
    }
    const auto old_walk = old_engine::walk(theta, K, b.lower.data(), b.upper.data());
    ASSERT_EQ(cost, old_walk.calls);
    const auto w = crossing(method_choice::walk, theta, b);
    ASSERT_TRUE(same_bits(w.ls, old_walk.ls) && same_bits(w.us, old_walk.us) &&
                same_bits(w.rs, old_walk.rs));
    const auto& expected = cost <= cross2_internal::walk_budget ? old_walk : old_rec;
    ASSERT_TRUE(same_bits(by_cost.ls, expected.ls) && same_bits(by_cost.us, expected.us) &&
                same_bits(by_cost.rs, expected.rs));

    // The outcome list: lower stops split as before, upper stops at upper[m].
    std::vector<double> y, n, wt;
    old_engine::low_stops(y, n, wt, by_cost.ls.data(), theta, b.lower.data(), b.upper.data(), K);
    for (int m = 1; m <= K; ++m)
      if (by_cost.us[static_cast<std::size_t>(m)] > 0) {
        y.push_back(b.upper[static_cast<std::size_t>(m)]);
        n.push_back(m);
        wt.push_back(by_cost.us[static_cast<std::size_t>(m)]);
      }
    const auto most = static_cast<std::size_t>(3 * K + 1);
    std::vector<double> ny(most), nn(most), nw(most);
    int counts[4];
    const int last = yn_dstn_at(ny.data(), nn.data(), nw.data(), counts, theta, by_cost.ls.data(),
                                by_cost.us.data(), by_cost.rs.data(), b.lower.data(),
                                b.upper.data(), K);
    ASSERT_GE(last + 1, counts[1] + counts[2]);
    const auto stops = static_cast<std::size_t>(counts[1] + counts[2]);
    ny.resize(stops);
    nn.resize(stops);
    nw.resize(stops);
    ASSERT_TRUE(same_bits(ny, y) && same_bits(nn, n) && same_bits(nw, wt));
  }
}

#ifdef HAVE_GMP
// Looks in cohorts and at chosen patients, a minimum of events, lower
// boundaries returning to -1: every method within its stated bound of the
// exact values, and the exact recursion itself checked by enumeration.
TEST(Looks, EveryMethodWithinItsBoundOfTheExactValues) {
  std::mt19937 rng(424242);
  cross2::workspace ws;
  for (int trial = 0; trial < 160; ++trial) {
    const int K = 1 + trial % 40;
    const auto b = test_reference::random_looked_boundaries(rng, K);
    const double theta = pick_theta(rng, trial);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    std::vector<mpq_class> els, eus, ers;
    test_reference::crossing_reference_rational(K, theta, b.lower.data(), b.upper.data(), els, eus, ers);
    if (K <= 14) {
      std::vector<mpq_class> cls, cus, crs;
      test_reference::crossing_reference_exact(K, theta, b.lower.data(), b.upper.data(), cls, cus, crs);
      ASSERT_TRUE(cls == els && cus == eus && crs == ers);
    }
    vectors est(K), pre(K);
    crossing_bound eb{}, pb{}, ob{};
    ASSERT_EQ(crossing_estimate(est.ls.data(), est.us.data(), est.rs.data(), theta, K,
                                b.lower.data(), b.upper.data(), &eb, ws),
              0);
    ASSERT_EQ(crossing_precise(pre.ls.data(), pre.us.data(), theta, K, b.lower.data(),
                               b.upper.data(), &pb, ws),
              0);
    EXPECT_LT(pb.relative, eb.relative);
    const bool walkable = cross2_internal::walk_cost(K, b.lower.data(), b.upper.data(), 100000) <= 100000;
    const vectors prob = crossing(walkable ? method_choice::walk : method_choice::by_cost, theta, b);
    vectors old_est(K);
    ASSERT_EQ(crossing_estimate(old_est.ls.data(), old_est.us.data(), old_est.rs.data(), theta, K,
                                b.lower.data(), b.upper.data(), &ob),
              0);
    // CrossingProb (by the walk wherever it can run) within the old bound of
    // its distance from the recursion, which is within eb of the exact value.
    const double prob_rel = eb.relative + 2 * ob.relative;
    const double prob_abs = eb.absolute + 2 * ob.absolute;
    for (std::size_t i = 0; i <= static_cast<std::size_t>(K); ++i) {
      EXPECT_TRUE(test_reference::within(est.ls[i], els[i], eb.relative, eb.absolute)) << i;
      EXPECT_TRUE(test_reference::within(est.us[i], eus[i], eb.relative, eb.absolute)) << i;
      EXPECT_TRUE(test_reference::within(est.rs[i], ers[i], eb.relative, eb.absolute)) << i;
      EXPECT_TRUE(test_reference::within(pre.ls[i], els[i], pb.relative, pb.absolute)) << i;
      EXPECT_TRUE(test_reference::within(pre.us[i], eus[i], pb.relative, pb.absolute)) << i;
      EXPECT_TRUE(test_reference::within(prob.ls[i], els[i], prob_rel, prob_abs)) << i;
      EXPECT_TRUE(test_reference::within(prob.us[i], eus[i], prob_rel, prob_abs)) << i;
      EXPECT_TRUE(test_reference::within(prob.rs[i], ers[i], prob_rel, prob_abs)) << i;
      // Without a look nothing stops.
      if (b.upper[i] == static_cast<int>(i) + 1 && b.lower[i] == -1) {
        EXPECT_EQ(est.ls[i], 0.0);
        EXPECT_EQ(est.us[i], 0.0);
      }
    }
    double error = 0;
    const double phi = precise_sum(pre.us.data(), 1, K, pb, &error);
    mpq_class exact_phi = 0;
    for (int m = 1; m <= K; ++m) exact_phi += eus[static_cast<std::size_t>(m)];
    EXPECT_LE(abs(mpq_class(phi) - exact_phi), mpq_class(error));
    EXPECT_LT(error, 1e-13);
  }
}

// The outcome list splits the stops where the upper boundary falls back or
// the lower one jumps: each (patient, count) gets its exact share, and every
// outcome list has at most 3K + 1 entries.
TEST(Looks, OutcomesAreListedByTheirTrueCounts) {
  std::mt19937 rng(515);
  cross2::workspace ws;
  for (int trial = 0; trial < 120; ++trial) {
    const int K = 2 + trial % 30;
    const auto b = test_reference::random_looked_boundaries(rng, K);
    const double theta = 0.02 + 0.9 * std::uniform_real_distribution<double>(0, 1)(rng);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " K=" << K << " theta=" << theta);
    std::vector<mpq_class> els, eus, ers;
    std::vector<test_reference::stop_at<mpq_class>> stops;
    test_reference::crossing_reference_rational(K, theta, b.lower.data(), b.upper.data(), els, eus,
                                                ers, &stops);
    vectors v(K);
    crossing_bound bound{};
    ASSERT_EQ(crossing_estimate(v.ls.data(), v.us.data(), v.rs.data(), theta, K, b.lower.data(),
                                b.upper.data(), &bound, ws),
              0);
    const auto most = static_cast<std::size_t>(3 * K + 1);
    std::vector<double> y(most + 1, -5.0), n(most + 1, -5.0), w(most + 1, -5.0);
    int counts[4];
    const int last = yn_dstn_at(y.data(), n.data(), w.data(), counts, theta, v.ls.data(),
                                v.us.data(), v.rs.data(), b.lower.data(), b.upper.data(), K, ws);
    ASSERT_LT(last, static_cast<int>(most));
    EXPECT_EQ(w[most], -5.0);
    // Each stop listed once, with its exact probability within the bound
    // and one more rounding for its share.
    std::size_t listed = 0;
    for (const auto& s : stops) {
      for (int i = s.high ? counts[1] : 0; i < (s.high ? counts[1] + counts[2] : counts[1]); ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (n[at] != s.m || y[at] != s.count) continue;
        ++listed;
        EXPECT_TRUE(test_reference::within(w[at], s.w, 3 * bound.relative, bound.absolute))
            << s.m << " " << s.count;
      }
    }
    EXPECT_EQ(listed, static_cast<std::size_t>(counts[1] + counts[2]));
    EXPECT_EQ(listed, stops.size());
    // Wald's identity holds only with every stop at its true count.
    double my[3], mn[3];
    meanvar(my, y.data(), w.data(), 0, last);
    meanvar(mn, n.data(), w.data(), 0, last);
    EXPECT_NEAR(my[1], theta * mn[1], 1e-12);
  }
}
#endif

// Past what exact rationals reach, the double recursion against the long
// double one: their distance stays within the sum of the two bounds.
TEST(LargeK, EstimateWithinItsBoundOfThePreciseEvaluation) {
  std::mt19937 rng(8080);
  cross2::workspace ws;
  for (const int K : {256, 1000, 3000}) {
    for (int trial = 0; trial < 3; ++trial) {
      const double theta = trial == 0 ? 0.2 : pick_theta(rng, trial + 1);
      test_reference::boundary_pair b = trial == 2 ? test_reference::random_boundaries(rng, K)
                                                   : test_reference::random_looked_boundaries(rng, K);
      SCOPED_TRACE(testing::Message() << "K=" << K << " theta=" << theta);
      vectors est(K), pre(K);
      crossing_bound eb{}, pb{};
      ASSERT_EQ(crossing_estimate(est.ls.data(), est.us.data(), est.rs.data(), theta, K,
                                  b.lower.data(), b.upper.data(), &eb, ws),
                0);
      ASSERT_EQ(crossing_precise(pre.ls.data(), pre.us.data(), theta, K, b.lower.data(),
                                 b.upper.data(), &pb, ws),
                0);
      EXPECT_LT(eb.relative, 1e-11);
      double total = 0;
      for (std::size_t i = 0; i <= static_cast<std::size_t>(K); ++i) {
        const double rel = eb.relative + pb.relative, abs = eb.absolute + pb.absolute;
        EXPECT_LE(std::fabs(est.ls[i] - pre.ls[i]), rel * pre.ls[i] + abs) << i;
        EXPECT_LE(std::fabs(est.us[i] - pre.us[i]), rel * pre.us[i] + abs) << i;
        total += est.ls[i] + est.us[i] + est.rs[i];
      }
      EXPECT_NEAR(total, 1.0, 1e-11);
      // CrossingProb beyond the walk's reach is the recursion itself.
      const vectors prob = crossing(method_choice::by_cost, theta, b);
      EXPECT_TRUE(same_bits(prob.ls, est.ls) && same_bits(prob.us, est.us) &&
                  same_bits(prob.rs, est.rs));
    }
  }
}

// Workspaces hold everything a call works in: two threads, each with its
// own, give the bits of one thread doing both in turn.
TEST(Workspace, DesignsRunSideBySide) {
  std::mt19937 rng(77);
  std::vector<test_reference::boundary_pair> pairs;
  for (int i = 0; i < 6; ++i) pairs.push_back(test_reference::random_looked_boundaries(rng, 200 + 150 * i));
  auto run_all = [&pairs](int first, std::vector<vectors>& out) {
    cross2::workspace ws;
    for (std::size_t i = static_cast<std::size_t>(first); i < pairs.size(); i += 2) {
      const int K = static_cast<int>(pairs[i].lower.size()) - 1;
      vectors v(K);
      crossing_bound bound{};
      for (const double theta : {0.1, 0.35})
        EXPECT_EQ(crossing_estimate(v.ls.data(), v.us.data(), v.rs.data(), theta, K,
                                    pairs[i].lower.data(), pairs[i].upper.data(), &bound, ws),
                  0);
      out.push_back(v);
    }
  };
  std::vector<vectors> alone_even, alone_odd, even, odd;
  run_all(0, alone_even);
  run_all(1, alone_odd);
  std::thread a(run_all, 0, std::ref(even));
  std::thread c(run_all, 1, std::ref(odd));
  a.join();
  c.join();
  ASSERT_EQ(even.size(), alone_even.size());
  ASSERT_EQ(odd.size(), alone_odd.size());
  for (std::size_t i = 0; i < even.size(); ++i)
    EXPECT_TRUE(same_bits(even[i].us, alone_even[i].us) && same_bits(even[i].rs, alone_even[i].rs));
  for (std::size_t i = 0; i < odd.size(); ++i)
    EXPECT_TRUE(same_bits(odd[i].us, alone_odd[i].us) && same_bits(odd[i].rs, alone_odd[i].rs));
}

// At the largest K a never-stopping pair leaves the binomial distribution,
// whose far tails the band trims without losing mass.
TEST(LargeK, LargestTrialRunsToTheEnd) {
  const int K = max_trial_patients;
  test_reference::boundary_pair b{std::vector<int>(static_cast<std::size_t>(K + 1), -1),
                                  std::vector<int>(static_cast<std::size_t>(K + 1))};
  for (int m = 0; m <= K; ++m) b.upper[static_cast<std::size_t>(m)] = m + 1;
  vectors v(K);
  cross2::workspace ws;
  crossing_bound bound{};
  ASSERT_EQ(upper_crossing(v.ls.data(), v.us.data(), 0.2, K, b.lower.data(), b.upper.data(), ws), 0);
  ASSERT_EQ(crossing_estimate(v.ls.data(), v.us.data(), v.rs.data(), 0.2, K, b.lower.data(),
                              b.upper.data(), &bound, ws),
            0);
  EXPECT_EQ(array_sum(v.us.data(), 1, K), 0.0);
  EXPECT_NEAR(array_sum(v.rs.data(), 0, K), 1.0, 1e-11);
  for (const int s : {1000, 2000, 3000})
    EXPECT_NEAR(v.rs[static_cast<std::size_t>(s)], bin_pdf(s, K, 0.2), 1e-9 * bin_pdf(s, K, 0.2) + 1e-300) << s;
  EXPECT_EQ(v.rs[0], 0.0);  // 0.8^10000 underflows
}

}  // namespace
