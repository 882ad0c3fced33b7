// Sample-size planning: the design for every K of a range, the power each
// reaches at an unacceptable rate, and the smallest K that reaches a target
// power, once and for good. Exact discrete designs are not monotone in K (a
// K that reaches the power can be followed by one that does not), so the
// scan tells the two apart.
#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>
#include <string>
#include <system_error>

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
    throw std::invalid_argument(std::string(name) + " must be strictly between 0 and 1, got " +
                                number(v));
}

void require_count(const char* name, int v, int least) {
  if (v < least || v > max_k)
    throw std::invalid_argument(std::string(name) + " must be a whole number from " +
                                std::to_string(least) + " to " + std::to_string(max_k) + ", got " +
                                std::to_string(v));
}

}  // namespace

void check_plan(const plan_request& request) {
  require_inside_0_1("THETA0", request.theta0);
  require_inside_0_1("THETA1", request.theta1);
  if (!(request.theta0 < request.theta1))
    throw std::invalid_argument("THETA0 must be below THETA1, got " + number(request.theta0) +
                                " and " + number(request.theta1));
  require_inside_0_1("PHI", request.phi);
  require_inside_0_1("POWER", request.power);
  require_count("--looks-every", request.looks_every, 1);
  require_count("--min-events", request.min_events, 0);
  require_count("--k-min", request.k_min, 1);
  require_count("--k-max", request.k_max, 1);
  if (request.k_min > request.k_max)
    throw std::invalid_argument("--k-min must not exceed --k-max, got " +
                                std::to_string(request.k_min) + " and " +
                                std::to_string(request.k_max));
}

design_request plan_design_request(const plan_request& request, int K) {
  design_request d{K, request.theta0, request.phi, request.fam, {}, request.min_events};
  if (request.looks_every > 1) {
    for (int n = request.looks_every; n <= K; n += request.looks_every) d.looks.push_back(n);
    if (d.looks.empty() || d.looks.back() != K) d.looks.push_back(K);
  }
  return d;
}

plan_result plan_scan(const plan_request& request, workspace& ws) {
  check_plan(request);
  // The family and the rest are checked once, at the largest design the
  // scan makes, before any work.
  check_request(plan_design_request(request, std::max(request.k_max, request.min_events)));
  plan_result r;
  r.scan.reserve(static_cast<std::size_t>(request.k_max) - static_cast<std::size_t>(request.k_min) +
                 1);
  const std::array<double, 2> rates{request.theta0, request.theta1};
  std::optional<int> last_short;  // the largest K so far whose power falls short
  for (int K = request.k_min; K <= request.k_max; ++K) {
    plan_entry e{K, 0.0, 0.0, static_cast<double>(K), static_cast<double>(K)};
    // Fewer patients than the minimum number of events: no count can stop.
    if (request.min_events <= K) {
      const design d = make_design(plan_design_request(request, K), ws);
      const std::vector<oc_row> oc = operating_characteristics(d.bounds, rates, ws);
      e.phi_star = d.phi_star;
      e.power = oc[1].phi_star;
      e.mean_n0 = oc[0].mean_n;
      e.mean_n1 = oc[1].mean_n;
    }
    if (e.power >= request.power) {
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
    const int after = last_short ? *last_short + 1 : request.k_min;
    if (after <= request.k_max) r.stable_k = after;
  }
  return r;
}

plan_result plan_scan(const plan_request& request) {
  workspace ws;
  return plan_scan(request, ws);
}

}  // namespace stopbound
