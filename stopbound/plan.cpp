// Sample-size planning: the design for every K of a range, the power each
// reaches at an unacceptable rate, and the smallest K that reaches a target
// power, once and for good. Exact discrete designs are not monotone in K (a
// K that reaches the power can be followed by one that does not), so the
// scan tells the two apart.
#include <algorithm>
#include <array>
#include <charconv>
#include <system_error>
#include <stdexcept>
#include <string>

#include "stopbound/stopbound.h"

namespace stopbound {

namespace {

// The shortest decimal that reads back as v, as the command line prints it.
std::string number(double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc{} ? std::string(buf, end) : std::string("?");
}

void require_inside_0_1(const char* name, double v) {
  if (!(v > 0.0 && v < 1.0))
    throw std::invalid_argument(std::string(name) + " must be strictly between 0 and 1, got " + number(v));
}

void require_count(const char* name, int v, int least) {
  if (v < least || v > max_k)
    throw std::invalid_argument(std::string(name) + " must be a whole number from " + std::to_string(least) +
                                " to " + std::to_string(max_k) + ", got " + std::to_string(v));
}

}  // namespace

void check_plan(const plan_request& s) {
  require_inside_0_1("THETA0", s.theta0);
  require_inside_0_1("THETA1", s.theta1);
  if (!(s.theta0 < s.theta1))
    throw std::invalid_argument("THETA0 must be below THETA1, got " + number(s.theta0) + " and " +
                                number(s.theta1));
  require_inside_0_1("PHI", s.phi);
  require_inside_0_1("POWER", s.power);
  require_count("--looks-every", s.looks_every, 1);
  require_count("--min-events", s.min_events, 0);
  require_count("--k-min", s.k_min, 1);
  require_count("--k-max", s.k_max, 1);
  if (s.k_min > s.k_max)
    throw std::invalid_argument("--k-min must not exceed --k-max, got " + std::to_string(s.k_min) + " and " +
                                std::to_string(s.k_max));
}

design_request plan_design_request(const plan_request& s, int K) {
  design_request d{K, s.theta0, s.phi, s.fam, {}, s.min_events};
  if (s.looks_every > 1) {
    for (int n = s.looks_every; n <= K; n += s.looks_every) d.looks.push_back(n);
    if (d.looks.empty() || d.looks.back() != K) d.looks.push_back(K);
  }
  return d;
}

plan_result plan_scan(const plan_request& s, workspace& ws) {
  check_plan(s);
  // The family and the rest are checked once, at the largest design the
  // scan makes, before any work.
  check_request(plan_design_request(s, std::max(s.k_max, s.min_events)));
  plan_result r;
  r.scan.reserve(static_cast<std::size_t>(s.k_max) - static_cast<std::size_t>(s.k_min) + 1);
  const std::array<double, 2> rates{s.theta0, s.theta1};
  std::optional<int> last_short;  // the largest K so far whose power falls short
  for (int K = s.k_min; K <= s.k_max; ++K) {
    plan_entry e{K, 0.0, 0.0, static_cast<double>(K), static_cast<double>(K)};
    // Fewer patients than the minimum number of events: no count can stop.
    if (s.min_events <= K) {
      const design d = make_design(plan_design_request(s, K), ws);
      const std::vector<oc_row> oc = operating_characteristics(d.bounds, rates, ws);
      e.phi_star = d.phi_star;
      e.power = oc[1].phi_star;
      e.mean_n0 = oc[0].mean_n;
      e.mean_n1 = oc[1].mean_n;
    }
    if (e.power >= s.power) {
      if (!r.first_k) r.first_k = K;
    } else {
      last_short = K;
    }
    if (r.scan.empty() || e.power > r.best_power) {
      r.best_k = K;
      r.best_power = e.power;
    }
    r.scan.push_back(e);
  }
  if (r.first_k) {
    const int after = last_short ? *last_short + 1 : s.k_min;
    if (after <= s.k_max) r.stable_k = after;
  }
  return r;
}

plan_result plan_scan(const plan_request& s) {
  workspace ws;
  return plan_scan(s, ws);
}

}  // namespace stopbound
