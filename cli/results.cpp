// The numbers of the command line: the design, its stopping rule in runs of
// patients, and the operating characteristics at any list of rates, all
// through the same level search and summary as the dialogue.
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
  b.alpha_used = alpha_used(b.upper.data(), K, theta);
  next_design next;
  next.upper.assign(static_cast<std::size_t>(K) + 1, 0);
  const int found = next_boundary(next.upper.data(), &next.phi_star, K, theta, b.alpha);
  if (found > 0)
    throw error("internal processing error (status " + std::to_string(found) +
                " of the next boundary); please report it with K, THETA and PHI");
  if (found == 0) {
    next.alpha_used = alpha_used(next.upper.data(), K, theta);
    b.next = std::move(next);
  }
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
    const oc_record r = within_range(summary(theta, b.K, b.lower.data(), b.upper.data()), b.K);
    rows.push_back({theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn,
                    r.sd_yn});
  }
  return rows;
}

}  // namespace cli
