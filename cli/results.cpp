// The numbers of the command line: the design, its stopping rule in runs of
// patients, and the operating characteristics at any list of rates, all
// through the same level search and summary as the dialogue.
#include <algorithm>
#include <cassert>
#include <string>
#include <vector>

#include "bndry/bndry.h"
#include "cli/results.h"

#ifndef STOPBOUND_VERSION
#error "STOPBOUND_VERSION must name the project version"
#endif

namespace cli {

const char* version() { return STOPBOUND_VERSION; }

std::string program_and_version() { return std::string("stopbound ") + version(); }

boundary_result design_boundary(int K, double theta, double phi) {
  assert(K >= 1 && K <= max_patients && theta > 0.0 && theta < 1.0 && phi > 0.0 && phi < 1.0);
  boundary_result b;
  b.kind = command::design;
  b.K = K;
  b.theta = theta;
  b.phi = phi;
  b.upper.assign(static_cast<std::size_t>(max_patients) + 1, 0);
  b.alpha = -1.0;
  b.phi_star = -1.0;
  const int status = FindBndry(b.upper.data(), &b.alpha, &b.phi_star, K, theta, phi);
  if (status != 0)
    throw error("internal processing error (status " + std::to_string(status) +
                "); please report it with K, THETA and PHI");
  b.upper.resize(static_cast<std::size_t>(K) + 1);
  b.upper[0] = 0;
  b.lower.assign(static_cast<std::size_t>(K) + 1, -1);
  fill_rule(b);
  return b;
}

namespace {

// Patient n joins the last run when it follows it with the same count.
void extend(std::vector<rule_run>& runs, int n, int count) {
  if (!runs.empty() && runs.back().last == n - 1 && runs.back().stop_at == count)
    runs.back().last = n;
  else
    runs.push_back({n, n, count});
}

}  // namespace

void fill_rule(boundary_result& b) {
  b.rule.clear();
  b.rule_lower.clear();
  for (int n = 1; n <= b.K; ++n) {
    const int u = b.upper[static_cast<std::size_t>(n)];
    if (u <= n) extend(b.rule, n, u);
    const int l = b.lower[static_cast<std::size_t>(n)];
    if (l >= 0) extend(b.rule_lower, n, l);
  }
}

std::vector<oc_row> oc_rows(const boundary_result& b, std::span<const double> rates) {
  std::vector<oc_row> rows;
  rows.reserve(rates.size());
  for (const double theta : rates) {
    assert(theta > 0.0 && theta < 1.0);
    const oc_record r = summary(theta, b.K, b.lower.data(), b.upper.data());
    rows.push_back({theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn,
                    r.sd_yn});
  }
  return rows;
}

stopbound::boundary interface_boundary(const boundary_result& b) {
  stopbound::boundary out;
  for (int n = 1; n <= b.K; ++n) {
    const auto i = static_cast<std::size_t>(n);
    out.lower.push_back(std::max(b.lower[i], -1));
    out.upper.push_back(std::min(b.upper[i], n + 1));
  }
  return out;
}

std::vector<stopping> stopping_rows(const boundary_result& b, std::span<const double> rates) {
  const stopbound::boundary pair = interface_boundary(b);
  stopbound::workspace ws;
  std::vector<stopping> rows;
  rows.reserve(rates.size());
  for (const double theta : rates) rows.push_back(stopbound::stopping_distribution(pair, theta, ws));
  return rows;
}

std::vector<oc_row> report_rows(std::span<const stopbound::oc_row> rows) {
  std::vector<oc_row> out(rows.size());
  std::transform(rows.begin(), rows.end(), out.begin(), [](const stopbound::oc_row& r) {
    return oc_row{r.theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn};
  });
  return out;
}

boundary_result from_design(const stopbound::design& d) {
  boundary_result b;
  b.kind = command::design;
  b.K = d.spec.K;
  b.theta = d.spec.theta;
  b.phi = d.spec.phi;
  b.alpha = d.alpha;
  b.phi_star = d.phi_star;
  b.upper.assign(1, 0);
  b.upper.insert(b.upper.end(), d.bounds.upper.begin(), d.bounds.upper.end());
  b.lower.assign(1, -1);
  b.lower.insert(b.lower.end(), d.bounds.lower.begin(), d.bounds.lower.end());
  fill_rule(b);
  return b;
}

}  // namespace cli
