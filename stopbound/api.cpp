// The public interface over the dialogue's engine: designs, checks of a
// boundary pair, operating characteristics and the stopping distribution,
// converting between the interface's 0-based boundaries and the engine's
// arrays indexed by patient 1..K.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "bndry/bndry.h"
#include "cross2/cross2.h"
#include "stopbound/internal.h"
#include "stopbound/stopbound.h"

namespace stopbound {

struct workspace::impl {};

workspace::workspace() : impl_(std::make_unique<impl>()) {}
workspace::~workspace() = default;
workspace::impl& workspace::get() { return *impl_; }

namespace {

std::string shortest(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

[[noreturn]] void refuse(const std::string& what) { throw std::invalid_argument(what); }

bool inside_0_1(double v) { return v > 0.0 && v < 1.0; }

// The engine's arrays: entry n for patient n, entry 0 unused.
std::vector<int> one_based(std::span<const int> v, int unused) {
  std::vector<int> out(v.size() + 1, unused);
  std::copy(v.begin(), v.end(), out.begin() + 1);
  return out;
}

}  // namespace

family parse_family(std::string_view text) {
  if (text == "pocock") return {};
  refuse("unknown boundary family '" + std::string(text) + "'; the families are pocock");
}

std::string family_spec(const family&) { return "pocock"; }

std::string family_title(const family&) { return "a Pocock-type upper boundary"; }

void check_spec(const design_spec& s) {
  if (s.K < 1 || s.K > max_patients)
    refuse("K must be a whole number from 1 to " + std::to_string(max_patients) + ", got " +
           std::to_string(s.K));
  if (!inside_0_1(s.theta)) refuse("THETA must be strictly between 0 and 1, got " + shortest(s.theta));
  if (!inside_0_1(s.phi)) refuse("PHI must be strictly between 0 and 1, got " + shortest(s.phi));
  if (s.fam.kind != family_kind::pocock) refuse("only the pocock family is available");
  if (!s.looks.empty()) refuse("looks other than every patient are not available");
  if (s.min_events != 0) refuse("a minimum number of events is not available");
}

design make_design(const design_spec& spec, workspace&) {
  check_spec(spec);
  design d;
  d.spec = spec;
  for (int n = 1; n <= spec.K; ++n) d.spec.looks.push_back(n);
  std::vector<int> b(static_cast<std::size_t>(max_patients) + 1, 0);
  const int status = FindBndry(b.data(), &d.alpha, &d.phi_star, spec.K, spec.theta, spec.phi);
  if (status != 0)
    throw std::runtime_error("internal processing error (status " + std::to_string(status) + ")");
  d.bounds.upper.assign(b.begin() + 1, b.begin() + 1 + spec.K);
  d.bounds.lower.assign(static_cast<std::size_t>(spec.K), -1);
  for (int n = 1; n <= spec.K; ++n) {
    const int u = b[static_cast<std::size_t>(n)];
    if (u <= n) {
      double tail = 0.0;
      for (int k = u; k <= n; ++k) tail += bin_pdf(k, n, spec.theta);
      d.alpha_used = std::max(d.alpha_used, tail);
    }
  }
  d.threshold = -d.alpha_used;
  return d;
}

design make_design(const design_spec& spec) {
  workspace ws;
  return make_design(spec, ws);
}

void check_boundary(std::span<const int> lower, std::span<const int> upper) {
  if (lower.size() != upper.size())
    refuse("the lower and upper boundaries must have the same length, got " +
           std::to_string(lower.size()) + " and " + std::to_string(upper.size()));
  const auto K = static_cast<int>(upper.size());
  if (K < 1 || K > max_patients)
    refuse("K must be from 1 to " + std::to_string(max_patients) + ", got " + std::to_string(K));
  for (int n = 1; n <= K; ++n) {
    const int l = lower[static_cast<std::size_t>(n - 1)];
    const int u = upper[static_cast<std::size_t>(n - 1)];
    const std::string at = "patient " + std::to_string(n) + ": ";
    if (l < -1 || l > n) refuse(at + "the lower boundary must lie in -1.." + std::to_string(n));
    if (u < 1 || u > n + 1) refuse(at + "the upper boundary must lie in 1.." + std::to_string(n + 1));
    if (u <= l) refuse(at + "the upper boundary must lie above the lower");
    if (n > 1 && l < lower[static_cast<std::size_t>(n - 2)])
      refuse(at + "the lower boundary must not decrease");
    if (n > 1 && u < upper[static_cast<std::size_t>(n - 2)])
      refuse(at + "the upper boundary must not decrease");
  }
}

std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates,
                                              workspace&) {
  check_boundary(b.lower, b.upper);
  const auto K = static_cast<int>(b.upper.size());
  const std::vector<int> lower = one_based(b.lower, -1);
  const std::vector<int> upper = one_based(b.upper, 0);
  std::vector<oc_row> rows;
  rows.reserve(rates.size());
  for (const double theta : rates) {
    if (!inside_0_1(theta)) refuse("a rate must be strictly between 0 and 1, got " + shortest(theta));
    const oc_record r = summary(theta, K, lower.data(), upper.data());
    rows.push_back({theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn,
                    r.sd_yn});
  }
  return rows;
}

std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates) {
  workspace ws;
  return operating_characteristics(b, rates, ws);
}

stopping stopping_distribution(const boundary& b, double theta, workspace&) {
  check_boundary(b.lower, b.upper);
  if (!inside_0_1(theta)) refuse("a rate must be strictly between 0 and 1, got " + shortest(theta));
  const auto K = static_cast<int>(b.upper.size());
  const std::vector<int> lower = one_based(b.lower, -1);
  const std::vector<int> upper = one_based(b.upper, 0);
  std::vector<double> ls(static_cast<std::size_t>(K) + 1);
  std::vector<double> us(static_cast<std::size_t>(K) + 1);
  std::vector<double> rs(static_cast<std::size_t>(K) + 1);
  // The bound of the walk where CrossingProb walks; otherwise both are the
  // recursion, whose entries lie within gamma(4K + 2) of the exact ones.
  crossing_bound bound{};
  if (crossing_estimate(ls.data(), us.data(), rs.data(), theta, K, lower.data(), upper.data(),
                        &bound) != 0 ||
      CrossingProb(ls.data(), us.data(), rs.data(), theta, K, lower.data(), upper.data()) != 0)
    throw std::logic_error("the crossing engine refused a checked boundary");
  if (bound.relative == 0.0 && bound.absolute == 0.0) bound = {2 * rounding_gamma(4.0 * K + 2), 1e-300};
  return internal::summarize_stopping(b, theta, {us.begin() + 1, us.end()}, {ls.begin() + 1, ls.end()},
                                      bound.relative, bound.absolute);
}

namespace {

std::vector<rule_run> runs(std::span<const int> bound, bool upper) {
  std::vector<rule_run> out;
  for (std::size_t i = 0; i < bound.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const int v = bound[i];
    if (upper ? v > n : v < 0) continue;
    if (!out.empty() && out.back().last == n - 1 && out.back().stop_at == v)
      out.back().last = n;
    else
      out.push_back({n, n, v});
  }
  return out;
}

}  // namespace

std::vector<rule_run> upper_runs(std::span<const int> upper) { return runs(upper, true); }

std::vector<rule_run> lower_runs(std::span<const int> lower) { return runs(lower, false); }

}  // namespace stopbound
