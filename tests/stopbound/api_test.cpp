// The public interface against the engine it wraps: the same design as the
// level search, the stopping distribution adding up, and the checks'
// messages naming what is wrong.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "bndry/bndry.h"
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
    EXPECT_EQ(d.spec.looks.size(), static_cast<std::size_t>(K));
  }
}

TEST(Design, RefusesEachQuantityByName) {
  const auto message = [](const stopbound::design_spec& s) {
    try {
      stopbound::check_spec(s);
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
  EXPECT_THROW(stopbound::check_boundary(std::vector<int>{-1, -1}, std::vector<int>{2, 1}),
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
