// The plan's scan against the designs it is made of, its two answers where
// power falls back as K grows, and the checks of what a plan is asked for.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "stopbound/stopbound.h"

namespace {

stopbound::plan_request request(double theta0, double theta1, double phi, double power, int k_min, int k_max) {
  stopbound::plan_request s;
  s.theta0 = theta0;
  s.theta1 = theta1;
  s.phi = phi;
  s.power = power;
  s.k_min = k_min;
  s.k_max = k_max;
  return s;
}

TEST(Plan, ScanIsTheDesignAtEachK) {
  const stopbound::plan_request s = request(0.2, 0.35, 0.1, 0.8, 1, 60);
  const stopbound::plan_result r = stopbound::plan_scan(s);
  ASSERT_EQ(r.scan.size(), 60u);
  for (const stopbound::plan_entry& e : r.scan) {
    const stopbound::design d = stopbound::make_design({e.K, 0.2, 0.1, {}, {}, 0});
    const double rates[] = {0.2, 0.35};
    const auto oc = stopbound::operating_characteristics(d.bounds, rates);
    EXPECT_EQ(e.phi_star, d.phi_star) << e.K;
    EXPECT_EQ(e.power, oc[1].phi_star) << e.K;
    EXPECT_EQ(e.mean_n0, oc[0].mean_n) << e.K;
    EXPECT_EQ(e.mean_n1, oc[1].mean_n) << e.K;
  }
  // Power rises steadily here: both answers are K = 53.
  EXPECT_EQ(r.first_k, 53);
  EXPECT_EQ(r.stable_k, 53);
}

TEST(Plan, PowerThatFallsBackSeparatesTheAnswers) {
  // Power 0.5367 at K = 14, 0.5197 at K = 15, 0.5495 at K = 16 and above.
  const stopbound::plan_result r = stopbound::plan_scan(request(0.3, 0.5, 0.1, 0.53, 1, 40));
  EXPECT_EQ(r.first_k, 14);
  EXPECT_EQ(r.stable_k, 16);
  EXPECT_EQ(r.scan[13].power, 4397.0 / 8192);
  EXPECT_LT(r.scan[14].power, 0.53);
  // A scan that starts past the drop finds one answer; one that ends on it, no stable one.
  const stopbound::plan_result later = stopbound::plan_scan(request(0.3, 0.5, 0.1, 0.53, 15, 40));
  EXPECT_EQ(later.first_k, 16);
  EXPECT_EQ(later.stable_k, 16);
  const stopbound::plan_result ends_short = stopbound::plan_scan(request(0.3, 0.5, 0.1, 0.53, 1, 15));
  EXPECT_EQ(ends_short.first_k, 14);
  EXPECT_FALSE(ends_short.stable_k.has_value());
}

TEST(Plan, NoKReachingThePowerReportsTheLargest) {
  const stopbound::plan_result r = stopbound::plan_scan(request(0.3, 0.5, 0.1, 0.99, 1, 20));
  EXPECT_FALSE(r.first_k.has_value());
  EXPECT_FALSE(r.stable_k.has_value());
  EXPECT_EQ(r.best_k, 19);  // the smallest K at the largest power (K = 20 has the same design)
  EXPECT_EQ(r.best_power, r.scan[18].power);
}

TEST(Plan, LooksEveryLEndAtK) {
  stopbound::plan_request s = request(0.2, 0.35, 0.1, 0.8, 1, 30);
  EXPECT_TRUE(stopbound::plan_design_request(s, 23).looks.empty());
  s.looks_every = 5;
  EXPECT_EQ(stopbound::plan_design_request(s, 23).looks, (std::vector<int>{5, 10, 15, 20, 23}));
  EXPECT_EQ(stopbound::plan_design_request(s, 20).looks, (std::vector<int>{5, 10, 15, 20}));
  EXPECT_EQ(stopbound::plan_design_request(s, 3).looks, (std::vector<int>{3}));
}

TEST(Plan, RefusesEachQuantityByName) {
  const auto message = [](const stopbound::plan_request& s) {
    try {
      stopbound::check_plan(s);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const stopbound::plan_request good = request(0.2, 0.35, 0.1, 0.8, 1, 1000);
  EXPECT_EQ(message(good), "");
  auto with = [&](auto change) {
    stopbound::plan_request s = good;
    change(s);
    return message(s);
  };
  EXPECT_EQ(with([](auto& s) { s.theta0 = 0; }), "THETA0 must be strictly between 0 and 1, got 0");
  EXPECT_EQ(with([](auto& s) { s.theta1 = 1; }), "THETA1 must be strictly between 0 and 1, got 1");
  EXPECT_EQ(with([](auto& s) { s.theta1 = 0.2; }), "THETA0 must be below THETA1, got 0.2 and 0.2");
  EXPECT_EQ(with([](auto& s) { s.phi = 1.5; }), "PHI must be strictly between 0 and 1, got 1.5");
  EXPECT_EQ(with([](auto& s) { s.power = 1; }), "POWER must be strictly between 0 and 1, got 1");
  EXPECT_EQ(with([](auto& s) { s.power = 0; }), "POWER must be strictly between 0 and 1, got 0");
  EXPECT_EQ(with([](auto& s) { s.looks_every = 0; }), "--looks-every must be a whole number from 1 to 10000, got 0");
  EXPECT_EQ(with([](auto& s) { s.min_events = -1; }), "--min-events must be a whole number from 0 to 10000, got -1");
  EXPECT_EQ(with([](auto& s) { s.k_min = 0; }), "--k-min must be a whole number from 1 to 10000, got 0");
  EXPECT_EQ(with([](auto& s) { s.k_max = 10001; }), "--k-max must be a whole number from 1 to 10000, got 10001");
  EXPECT_EQ(with([](auto& s) { s.k_min = 40; s.k_max = 30; }), "--k-min must not exceed --k-max, got 40 and 30");
  // plan_scan checks before it scans.
  stopbound::plan_request s = good;
  s.power = 2;
  EXPECT_THROW(stopbound::plan_scan(s), std::invalid_argument);
}

}  // namespace
