// The numbers of the command line: the design, its stopping rule in runs of
// patients, and the operating characteristics at any list of rates, all
// through the public interface, which keeps the dialogue's level search and
// summary wherever they apply.
#include <algorithm>
#include <cassert>
#include <string>
#include <utility>
#include <vector>

#include "cli/internal.h"
#include "cli/results.h"
#include "stopbound/stopbound.h"

#ifndef STOPBOUND_VERSION
#error "STOPBOUND_VERSION must name the project version"
#endif

namespace cli {

const char* version() { return STOPBOUND_VERSION; }

std::string program_and_version() { return std::string("stopbound ") + version(); }

namespace {

// The command line's vectors are indexed by patient 1..K; entry 0 is unused.
std::vector<int> one_based(const std::vector<int>& v, int unused) {
  std::vector<int> out;
  out.reserve(v.size() + 1);
  out.push_back(unused);
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

std::vector<int> zero_based(const std::vector<int>& v, int K) {
  return {v.begin() + 1, v.begin() + 1 + K};
}

// One workspace for the whole run: its tables serve the design and every
// row that follows.
stopbound::workspace& run_workspace() {
  static stopbound::workspace ws;
  return ws;
}

}  // namespace

bool beyond_dialogue(const boundary_result& b) {
  return b.fam.kind != stopbound::family_kind::pocock || static_cast<int>(b.looks.size()) != b.K ||
         b.min_events != 0;
}

boundary_result design_boundary(const stopbound::design_request& request) {
  stopbound::design d = stopbound::make_design(request, run_workspace());
  boundary_result b;
  b.kind = command::design;
  b.K = request.K;
  b.theta = request.theta;
  b.phi = request.phi;
  b.alpha = d.alpha;
  b.phi_star = d.phi_star;
  b.fam = d.request.fam;
  b.looks = std::move(d.request.looks);
  b.min_events = d.request.min_events;
  b.alpha_used = d.alpha_used;
  b.threshold = d.threshold;
  b.within_bound = d.within_bound;
  b.next = std::move(d.next);
  b.upper = one_based(d.bounds.upper, 0);
  b.lower = one_based(d.bounds.lower, -1);
  fill_rule(b);
  return b;
}

void fill_rule(boundary_result& b) {
  b.rule = stopbound::upper_runs(zero_based(b.upper, b.K));
  b.rule_lower = stopbound::lower_runs(zero_based(b.lower, b.K));
}

std::vector<oc_row> oc_rows(const boundary_result& b, std::span<const double> rates) {
  const std::vector<stopbound::oc_row> found =
      stopbound::operating_characteristics(engine_pair(b), rates, run_workspace());
  std::vector<oc_row> rows;
  rows.reserve(found.size());
  for (const stopbound::oc_row& r : found)
    rows.push_back({r.theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn,
                    r.sd_yn});
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
  b.K = d.request.K;
  b.theta = d.request.theta;
  b.phi = d.request.phi;
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
