// The public interface against the engine it wraps: the same design as the
// level search, the stopping distribution adding up, and the checks'
// messages naming what is wrong.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bndry/bndry.h"
#include "cross2/reference.h"
#include "stopbound/stopbound.h"

namespace {

TEST(Design, PocockIsTheLevelSearchsDesign) {
  for (const auto& [K, theta, phi] : std::vector<std::tuple<int, double, double>>{
           {1, 0.2, 0.5}, {10, 0.2, 0.05}, {40, 0.15, 0.1}, {255, 0.2, 0.05}}) {
    int b[max_patients + 1];
    double alpha = 0.0;
    double phi_star = 0.0;
    ASSERT_EQ(FindBndry(b, &alpha, &phi_star, K, theta, phi), 0);
    const stopbound::design d = stopbound::make_design({K, theta, phi, {}, {}, 0});
    EXPECT_EQ(d.alpha, alpha);
    EXPECT_EQ(d.phi_star, phi_star);
    ASSERT_EQ(d.bounds.upper.size(), static_cast<std::size_t>(K));
    for (int n = 1; n <= K; ++n) EXPECT_EQ(d.bounds.upper[static_cast<std::size_t>(n - 1)], b[n]);
    EXPECT_LE(d.alpha_used, alpha);
    EXPECT_EQ(d.request.looks.size(), static_cast<std::size_t>(K));
  }
}

TEST(Design, RefusesEachQuantityByName) {
  const auto message = [](const stopbound::design_request& s) {
    try {
      stopbound::check_request(s);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message({10, 1.5, 0.05, {}, {}, 0}), "THETA must be strictly between 0 and 1, got 1.5");
  EXPECT_EQ(message({10, 0.2, 0.0, {}, {}, 0}), "PHI must be strictly between 0 and 1, got 0");
  EXPECT_NE(message({0, 0.2, 0.05, {}, {}, 0}).find("K must be"), std::string::npos);
}

TEST(Stopping, AddsUpToTheOperatingCharacteristics) {
  const stopbound::design d = stopbound::make_design({30, 0.2, 0.1, {}, {}, 0});
  stopbound::workspace ws;
  const stopbound::stopping s = stopbound::stopping_distribution(d.bounds, 0.2, ws);
  const double rates[] = {0.2};
  const auto oc = stopbound::operating_characteristics(d.bounds, rates, ws);
  EXPECT_NEAR(s.cum_high.back(), oc[0].phi_star, 1e-15);
  EXPECT_EQ(s.cum_low.back(), 0.0);
  // Under the design's rate most trials run to K.
  EXPECT_EQ(s.median, 30);
  ASSERT_TRUE(s.mean_n_stopped.has_value());
  EXPECT_LT(*s.mean_n_stopped, 30.0);
}

TEST(Boundary, RefusesPairsTheEngineCannotEvaluate) {
  EXPECT_THROW(stopbound::check_boundary(std::vector<int>{-1}, std::vector<int>{}),
               std::invalid_argument);
  EXPECT_THROW(stopbound::check_boundary(std::vector<int>{-1, -1}, std::vector<int>{2, 0}),
               std::invalid_argument);
  EXPECT_THROW(stopbound::check_boundary(std::vector<int>{1}, std::vector<int>{1}),
               std::invalid_argument);
  EXPECT_NO_THROW(stopbound::check_boundary(std::vector<int>{-1, 0}, std::vector<int>{2, 2}));
}

TEST(Rule, RunsSkipPatientsWhoCannotStop) {
  const std::vector<int> upper{2, 3, 3, 3, 6};
  const auto runs = stopbound::upper_runs(upper);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].first, 3);
  EXPECT_EQ(runs[0].last, 4);
  EXPECT_EQ(runs[0].stop_at, 3);
}

}  // namespace

namespace {

std::string refusal(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(Family, NamesReadBackAndBadOnesListTheFamilies) {
  for (const char* text : {"pocock", "obf", "wt:0.25", "bayes:1,1", "bayes:0.5,2.5", "sprt:0.4", "maxsprt"})
    EXPECT_EQ(stopbound::family_text(stopbound::parse_family(text)), text);
  EXPECT_EQ(stopbound::family_text(stopbound::parse_family("bayes")), "bayes:1,1");
  EXPECT_EQ(stopbound::family_text(stopbound::parse_family("wt:0")), "obf");
  EXPECT_EQ(stopbound::family_title(stopbound::parse_family("obf")), "an O'Brien-Fleming upper boundary");
  for (const char* bad : {"", "obf:1", "wt", "wt:0.6", "wt:x", "bayes:1", "bayes:0,1", "bayes:1,2,3",
                          "sprt:1", "sprt:", "pocock ", "Pocock"}) {
    const std::string m = refusal([&] { stopbound::parse_family(bad); });
    EXPECT_NE(m.find("the families are pocock, obf, wt:DELTA"), std::string::npos) << bad << ": " << m;
  }
}

TEST(Design, RefusesFamilyLooksAndMinimumByName) {
  using stopbound::family_kind;
  const auto message = [](const stopbound::design_request& s) {
    return refusal([&] { stopbound::check_request(s); });
  };
  EXPECT_EQ(message({10001, 0.2, 0.05, {}, {}, 0}), "K must be a whole number from 1 to 10000, got 10001");
  EXPECT_EQ(message({10, 0.2, 0.05, {family_kind::sprt, 0, 1, 1, 0.2}, {}, 0}),
            "THETA1 must be strictly between THETA (0.2) and 1, got 0.2");
  EXPECT_EQ(message({10, 0.2, 0.05, {family_kind::wt, 0.7}, {}, 0}), "DELTA must be from 0 to 0.5, got 0.7");
  EXPECT_EQ(message({10, 0.2, 0.05, {}, {3, 3}, 0}), "the looks must increase strictly, got 3 after 3");
  EXPECT_EQ(message({10, 0.2, 0.05, {}, {0}, 0}), "a look must be a patient number from 1 to K (10), got 0");
  EXPECT_EQ(message({10, 0.2, 0.05, {}, {}, 11}),
            "the minimum number of events must be from 0 to K (10), got 11");
  EXPECT_EQ(message({10, 0.2, 0.05, {}, {5}, 10}), "");
}

// Looks end at K, a minimum holds at every look, patients without a look
// cannot stop, and the next boundary is more liberal and costs more.
TEST(Design, LooksMinimumAndNextBoundary) {
  stopbound::workspace ws;
  const stopbound::design d =
      stopbound::make_design({30, 0.2, 0.1, stopbound::parse_family("obf"), {10, 20}, 4}, ws);
  EXPECT_EQ(d.request.looks, (std::vector<int>{10, 20, 30}));
  for (int n = 1; n <= 30; ++n) {
    const int u = d.bounds.upper[static_cast<std::size_t>(n - 1)];
    if (n % 10 != 0) {
      EXPECT_EQ(u, n + 1);
    } else {
      EXPECT_GE(u, 4);
    }
  }
  EXPECT_LE(d.phi_star, 0.1);
  ASSERT_TRUE(d.next.has_value());
  EXPECT_GT(d.next->phi_star, 0.1);
  EXPECT_LT(d.next->threshold, d.threshold);
  // A design with looks is evaluated by the general engine: the same PHI*.
  const double rate[] = {0.2};
  EXPECT_NEAR(stopbound::operating_characteristics(d.bounds, rate, ws)[0].phi_star, d.phi_star, 1e-15);
}

// Random designs of every family: PHI* <= PHI < next PHI*, and the tail
// the next boundary uses is at least the design's.
TEST(Design, NextIsTheDiscretenessGapForEveryFamily) {
  std::mt19937 rng(18);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  stopbound::workspace ws;
  const char* names[] = {"pocock", "obf", "wt:0.3", "bayes", "bayes:0.4,1.6", "maxsprt"};
  for (int i = 0; i < 60; ++i) {
    stopbound::design_request s;
    s.K = 1 + static_cast<int>(unit(rng) * 200);
    s.theta = 0.02 + 0.6 * unit(rng);
    s.phi = 0.005 + 0.3 * unit(rng);
    s.fam = stopbound::parse_family(names[i % 6]);
    if (i % 3 == 1) s.min_events = static_cast<int>(unit(rng) * 4);
    const stopbound::design d = stopbound::make_design(s, ws);
    SCOPED_TRACE(std::to_string(s.K) + " " + std::to_string(s.theta) + " " + names[i % 6]);
    EXPECT_LE(d.phi_star, s.phi);
    if (!d.next) continue;
    EXPECT_GT(d.next->phi_star, s.phi);
    EXPECT_LE(d.alpha_used, d.next->alpha_used);
  }
}

// Clamping keeps every figure in its range.
TEST(OperatingCharacteristics, FiguresStayInRange) {
  std::mt19937 rng(7);
  stopbound::workspace ws;
  const double rates[] = {0.05, 0.3, 0.7};
  for (int i = 0; i < 20; ++i) {
    const int K = 5 + i * 3;
    const test_reference::boundary_pair p = test_reference::random_boundaries(rng, K);
    stopbound::boundary b;
    b.lower.assign(p.lower.begin() + 1, p.lower.end());
    b.upper.assign(p.upper.begin() + 1, p.upper.end());
    for (int n = 1; n <= K; ++n) b.upper[static_cast<std::size_t>(n - 1)] = std::min(b.upper[static_cast<std::size_t>(n - 1)], n + 1);
    const auto dialogue = stopbound::operating_characteristics(b, rates, ws);
    for (const auto& r : dialogue) {
      EXPECT_GE(r.phi_star, 0.0);
      EXPECT_LE(r.phi_star + r.p_lower, 1.0 + 1e-15);
      EXPECT_GE(r.mean_n, 1.0);
      EXPECT_LE(r.mean_n, K);
      EXPECT_GE(r.sd_n, 0.0);
    }
  }
  // A boundary that cannot stop runs every trial to K exactly.
  stopbound::boundary never{std::vector<int>(40, -1), {}};
  for (int n = 1; n <= 40; ++n) never.upper.push_back(n + 1);
  for (const auto& r : stopbound::operating_characteristics(never, rates, ws)) {
    EXPECT_EQ(r.mean_n, 40.0);
    EXPECT_EQ(r.sd_n, 0.0);
    EXPECT_EQ(r.phi_star, 0.0);
  }
}

// A patient at whom no running count can reach the upper boundary (it rose
// by more than one) may as well be unable to stop: the pair becomes non-
// monotone, goes to the general engine, and must give the same figures.
TEST(OperatingCharacteristics, GeneralEngineIsTheDialoguesOnEquivalentPairs) {
  const stopbound::design d = stopbound::make_design({60, 0.2, 0.1, {}, {}, 0});
  const double rates[] = {0.1, 0.2, 0.45};
  const auto dialogue = stopbound::operating_characteristics(d.bounds, rates);
  stopbound::boundary b = d.bounds;
  int changed = 0;
  for (std::size_t i = 1; i + 1 < b.upper.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    if (d.bounds.upper[i] > d.bounds.upper[i - 1] && n + 1 > d.bounds.upper[i + 1]) {
      b.upper[i] = n + 1;
      ++changed;
    }
  }
  ASSERT_GT(changed, 0);
  stopbound::workspace ws;
  const auto general = stopbound::operating_characteristics(b, rates, ws);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(general[i].phi_star, dialogue[i].phi_star, 1e-14);
    EXPECT_NEAR(general[i].mean_n, dialogue[i].mean_n, 1e-12);
    EXPECT_NEAR(general[i].sd_n, dialogue[i].sd_n, 1e-12);
    EXPECT_NEAR(general[i].mean_y, dialogue[i].mean_y, 1e-12);
    EXPECT_NEAR(general[i].sd_yn, dialogue[i].sd_yn, 1e-12);
  }
}

TEST(Boundary, AcceptsGapsInTheLooksAndNamesThePatient) {
  // Upper drops back after patients who cannot stop; lower returns to -1.
  EXPECT_NO_THROW(stopbound::check_boundary(std::vector<int>{-1, 0, -1}, std::vector<int>{2, 3, 2}));
  EXPECT_EQ(refusal([] { stopbound::check_boundary(std::vector<int>{-1, 2}, std::vector<int>{2, 2}); }),
            "at patient 2 the upper boundary 2 is not above the lower boundary 2");
  EXPECT_EQ(refusal([] { stopbound::check_boundary(std::vector<int>{-1, -1}, std::vector<int>{2, 4}); }),
            "at patient 2 the upper boundary must be from 1 to 3, got 4");
}

TEST(Stopping, NonMonotoneBoundaryAddsUp) {
  stopbound::workspace ws;
  const stopbound::design d =
      stopbound::make_design({400, 0.2, 0.05, stopbound::parse_family("bayes"), {50, 100, 200, 300}, 0}, ws);
  const stopbound::stopping s = stopbound::stopping_distribution(d.bounds, 0.2, ws);
  EXPECT_NEAR(s.cum_high.back(), d.phi_star, 1e-15);
  for (int n = 1; n <= 400; ++n) {
    if (n % 50 != 0 && n != 400) {
      EXPECT_EQ(s.p_high[static_cast<std::size_t>(n - 1)], 0.0);
    }
  }
}

}  // namespace
