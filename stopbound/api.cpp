// The public interface over the design and crossing modules: families and
// their names, the checks with the command line's messages, designs (the
// dialogue's search where it applies, the family search everywhere else),
// operating characteristics, the stopping distribution and rule runs,
// converting between 0-based boundaries and the engine's 1-based arrays.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>

#include "bndry/bndry.h"
#include "bndry/design.h"
#include "cross2/cross2.h"
#include "stopbound/internal.h"
#include "stopbound/stopbound.h"

namespace stopbound {

struct workspace::impl {
  bndry::design_workspace design;
  cross2::workspace engine;
};

workspace::workspace() : impl_(std::make_unique<impl>()) {}
workspace::~workspace() = default;
workspace::impl& workspace::get() { return *impl_; }

namespace {

// The shortest text that reads back as the same double.
std::string shortest(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return {buf, r.ptr};
}

[[noreturn]] void refuse(const std::string& what) { throw std::invalid_argument(what); }

bool inside_0_1(double v) { return v > 0.0 && v < 1.0; }

constexpr const char* family_list =
    "the families are pocock, obf, wt:DELTA (0 <= DELTA <= 0.5), bayes, bayes:A,B (A, B > 0), "
    "sprt:THETA1 (THETA < THETA1 < 1) and maxsprt";

// A whole-text finite number, or nothing.
std::optional<double> number(std::string_view text) {
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return {};
  return v;
}

// The engine's arrays: entry n for patient n, entry 0 unused.
std::vector<int> one_based(std::span<const int> v, int unused) {
  std::vector<int> out(v.size() + 1, unused);
  std::copy(v.begin(), v.end(), out.begin() + 1);
  return out;
}

bool every_patient(const std::vector<int>& looks, int K) {
  return static_cast<int>(looks.size()) == K;
}

bndry::family_params core_family(const family& f) {
  return {static_cast<bndry::family_kind>(f.kind), f.delta, f.a, f.b, f.theta1};
}

}  // namespace

family parse_family(std::string_view text) {
  const auto colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  const bool has_params = colon != std::string_view::npos;
  const std::string_view params = has_params ? text.substr(colon + 1) : std::string_view();
  const auto bad = [&](const std::string& why) -> family {
    refuse("bad boundary family '" + std::string(text) + "': " + why + "; " + family_list);
  };
  family f;
  if (name == "pocock" || name == "obf" || name == "maxsprt") {
    if (has_params) return bad(std::string(name) + " takes no parameters");
    if (name == "obf") f.kind = family_kind::wt;
    if (name == "maxsprt") f.kind = family_kind::maxsprt;
    return f;
  }
  if (name == "wt") {
    const auto d = number(params);
    if (!d || !(*d >= 0.0 && *d <= 0.5)) return bad("DELTA must be a number from 0 to 0.5");
    f.kind = family_kind::wt;
    f.delta = *d;
    return f;
  }
  if (name == "bayes") {
    f.kind = family_kind::bayes;
    if (!has_params) return f;
    const auto comma = params.find(',');
    const auto a = number(params.substr(0, comma));
    const auto b =
        comma == std::string_view::npos ? std::nullopt : number(params.substr(comma + 1));
    if (!a || !b || !(*a > 0.0) || !(*b > 0.0)) return bad("A and B must be positive numbers");
    f.a = *a;
    f.b = *b;
    return f;
  }
  if (name == "sprt") {
    const auto t = number(params);
    if (!t || !inside_0_1(*t)) return bad("THETA1 must be a number strictly between THETA and 1");
    f.kind = family_kind::sprt;
    f.theta1 = *t;
    return f;
  }
  refuse("unknown boundary family '" + std::string(text) + "'; " + family_list);
}

std::string family_text(const family& f) {
  switch (f.kind) {
    case family_kind::pocock:
      return "pocock";
    case family_kind::wt:
      return f.delta == 0.0 ? "obf" : "wt:" + shortest(f.delta);
    case family_kind::bayes:
      return "bayes:" + shortest(f.a) + "," + shortest(f.b);
    case family_kind::sprt:
      return "sprt:" + shortest(f.theta1);
    case family_kind::maxsprt:
      return "maxsprt";
  }
  return "pocock";
}

std::string family_title(const family& f) {
  switch (f.kind) {
    case family_kind::pocock:
      return "a Pocock-type upper boundary";
    case family_kind::wt:
      return f.delta == 0.0 ? "an O'Brien-Fleming upper boundary"
                            : "a Wang-Tsiatis upper boundary (DELTA = " + shortest(f.delta) + ")";
    case family_kind::bayes:
      return "a Bayesian upper boundary (Beta(" + shortest(f.a) + ", " + shortest(f.b) + ") prior)";
    case family_kind::sprt:
      return "a truncated SPRT upper boundary (THETA1 = " + shortest(f.theta1) + ")";
    case family_kind::maxsprt:
      return "a MaxSPRT upper boundary";
  }
  return "a Pocock-type upper boundary";
}

void check_request(const design_request& request) {
  const std::string K = std::to_string(request.K);
  if (request.K < 1 || request.K > max_k)
    refuse("K must be a whole number from 1 to " + std::to_string(max_k) + ", got " + K);
  if (!inside_0_1(request.theta))
    refuse("THETA must be strictly between 0 and 1, got " + shortest(request.theta));
  if (!inside_0_1(request.phi))
    refuse("PHI must be strictly between 0 and 1, got " + shortest(request.phi));
  const family& f = request.fam;
  switch (f.kind) {
    case family_kind::pocock:
    case family_kind::maxsprt:
      break;
    case family_kind::wt:
      if (!(f.delta >= 0.0 && f.delta <= 0.5))
        refuse("DELTA must be from 0 to 0.5, got " + shortest(f.delta));
      break;
    case family_kind::bayes:
      if (!(f.a > 0.0 && std::isfinite(f.a)))
        refuse("A must be a positive number, got " + shortest(f.a));
      if (!(f.b > 0.0 && std::isfinite(f.b)))
        refuse("B must be a positive number, got " + shortest(f.b));
      break;
    case family_kind::sprt:
      if (!(f.theta1 > request.theta && f.theta1 < 1.0))
        refuse("THETA1 must be strictly between THETA (" + shortest(request.theta) +
               ") and 1, got " + shortest(f.theta1));
      break;
    default:
      refuse("unknown boundary family; " + std::string(family_list));
  }
  int previous = 0;
  for (const int n : request.looks) {
    if (n < 1 || n > request.K)
      refuse("a look must be a patient number from 1 to K (" + K + "), got " + std::to_string(n));
    if (n <= previous)
      refuse("the looks must increase strictly, got " + std::to_string(n) + " after " +
             std::to_string(previous));
    previous = n;
  }
  if (request.min_events < 0 || request.min_events > request.K)
    refuse("the minimum number of events must be from 0 to K (" + K + "), got " +
           std::to_string(request.min_events));
}

namespace {

// The dialogue's design, with the level it uses and the next more liberal
// boundary as the level search finds them.
design dialogue_design(const design_request& request) {
  const int K = request.K;
  design d;
  d.request = request;
  std::vector<int> b(static_cast<std::size_t>(max_patients) + 1, 0);
  const int status = FindBndry(b.data(), &d.alpha, &d.phi_star, K, request.theta, request.phi);
  if (status != 0)
    throw std::logic_error("the level search failed (status " + std::to_string(status) + ")");
  d.bounds.upper.assign(b.begin() + 1, b.begin() + 1 + K);
  d.bounds.lower.assign(static_cast<std::size_t>(K), -1);
  d.alpha_used = alpha_used(b.data(), K, request.theta);
  d.threshold = d.alpha_used == 0.0 ? 0.0 : -d.alpha_used;
  std::vector<int> nb(static_cast<std::size_t>(K) + 1, 0);
  alternative next;
  const int found = next_boundary(nb.data(), &next.phi_star, K, request.theta, d.alpha);
  if (found > 0)
    throw std::logic_error("the next boundary failed (status " + std::to_string(found) + ")");
  if (found == 0) {
    next.upper.assign(nb.begin() + 1, nb.end());
    next.alpha_used = alpha_used(nb.data(), K, request.theta);
    next.threshold = -next.alpha_used;
    d.next = std::move(next);
  }
  return d;
}

// The reported threshold: the Bayesian family's is the posterior
// probability 1 - I_theta, whose statistic is -I_theta.
double reported_threshold(const family& f, double c) {
  return f.kind == family_kind::bayes && std::isfinite(c) ? 1.0 + c : c;
}

std::vector<int> zero_based(const std::vector<int>& upper) {
  return {upper.begin() + 1, upper.end()};
}

}  // namespace

design make_design(const design_request& request, workspace& ws) {
  check_request(request);
  design_request full = request;
  if (full.looks.empty())
    for (int n = 1; n <= request.K; ++n) full.looks.push_back(n);
  else if (full.looks.back() != request.K)
    full.looks.push_back(request.K);
  if (request.fam.kind == family_kind::pocock && every_patient(full.looks, request.K) &&
      request.min_events == 0 && request.K <= max_patients) {
    design d = dialogue_design(full);
    return d;
  }
  const bndry::design_request r{request.K,   request.theta,
                                request.phi, core_family(request.fam),
                                full.looks,  request.min_events};
  const bndry::family_design found = bndry::design_family(r, ws.get().design);
  design d;
  d.request = full;
  d.bounds.upper = zero_based(found.chosen.upper);
  d.bounds.lower.assign(static_cast<std::size_t>(request.K), -1);
  d.alpha_used = found.chosen.alpha_used;
  d.phi_star = found.chosen.phi_star;
  d.within_bound = found.within_bound;
  if (request.fam.kind == family_kind::pocock) {
    d.threshold = d.alpha_used == 0.0 ? 0.0 : -d.alpha_used;
    // The dialogue's ALPHA lies midway between the level used and the next.
    d.alpha = found.next ? (found.next->alpha_used + d.alpha_used) * 0.5 : d.alpha_used;
  } else {
    d.threshold = reported_threshold(request.fam, found.chosen.threshold);
    d.alpha = d.alpha_used;
  }
  if (found.next) {
    alternative next;
    next.threshold = request.fam.kind == family_kind::pocock
                         ? -found.next->alpha_used
                         : reported_threshold(request.fam, found.next->threshold);
    next.alpha_used = found.next->alpha_used;
    next.phi_star = found.next->phi_star;
    next.upper = zero_based(found.next->upper);
    d.next = std::move(next);
  }
  return d;
}

design make_design(const design_request& request) {
  workspace ws;
  return make_design(request, ws);
}

void check_boundary(std::span<const int> lower, std::span<const int> upper) {
  if (lower.size() != upper.size())
    refuse("the lower and upper boundaries must have the same length, got " +
           std::to_string(lower.size()) + " and " + std::to_string(upper.size()));
  const auto K = static_cast<int>(upper.size());
  if (K < 1 || K > max_k)
    refuse("K must be a whole number from 1 to " + std::to_string(max_k) + ", got " +
           std::to_string(K));
  for (int n = 1; n <= K; ++n) {
    const int l = lower[static_cast<std::size_t>(n - 1)];
    const int u = upper[static_cast<std::size_t>(n - 1)];
    const std::string at = "at patient " + std::to_string(n) + " ";
    // The engine takes no certain low stop at the first patient.
    const int lowest_stop = n == 1 ? 0 : n;
    if (l < -1 || l > lowest_stop)
      refuse(at + "the lower boundary must be from -1 to " + std::to_string(lowest_stop) +
             ", got " + std::to_string(l));
    if (u < 1 || u > n + 1)
      refuse(at + "the upper boundary must be from 1 to " + std::to_string(n + 1) + ", got " +
             std::to_string(u));
    if (u <= l)
      refuse(at + "the upper boundary " + std::to_string(u) + " is not above the lower boundary " +
             std::to_string(l));
  }
}

namespace {

// Whether the dialogue's engine takes the pair: K <= 255 and both
// boundaries non-decreasing (its other checks check_boundary has made).
bool dialogue_engine_takes(const boundary& b) {
  if (b.upper.size() > static_cast<std::size_t>(max_patients)) return false;
  return std::is_sorted(b.lower.begin(), b.lower.end()) &&
         std::is_sorted(b.upper.begin(), b.upper.end()) && b.lower.front() <= 0;
}

void check_rate(double theta) {
  if (!inside_0_1(theta)) refuse("a rate must be strictly between 0 and 1, got " + shortest(theta));
}

}  // namespace

// The dialogue's summary for every pair, held to the figures' ranges.
std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates,
                                              workspace& ws) {
  check_boundary(b.lower, b.upper);
  for (const double theta : rates) check_rate(theta);
  const auto K = static_cast<int>(b.upper.size());
  const std::vector<int> lower = one_based(b.lower, -1);
  const std::vector<int> upper = one_based(b.upper, 0);
  std::vector<oc_row> rows;
  rows.reserve(rates.size());
  for (const double theta : rates) {
    const oc_record r =
        within_range(summary(theta, K, lower.data(), upper.data(), ws.get().engine), K);
    rows.push_back(
        {theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn});
  }
  return rows;
}

std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates) {
  workspace ws;
  return operating_characteristics(b, rates, ws);
}

stopping stopping_distribution(const boundary& b, double theta, workspace& ws) {
  check_boundary(b.lower, b.upper);
  check_rate(theta);
  const auto K = static_cast<int>(b.upper.size());
  const std::vector<int> lower = one_based(b.lower, -1);
  const std::vector<int> upper = one_based(b.upper, 0);
  std::vector<double> ls(static_cast<std::size_t>(K) + 1);
  std::vector<double> us(static_cast<std::size_t>(K) + 1);
  crossing_bound bound{};
  if (dialogue_engine_takes(b)) {
    // CrossingProb's bits, so that the sums meet the operating characteristics'.
    if (upper_crossing(ls.data(), us.data(), theta, K, lower.data(), upper.data(),
                       ws.get().engine) != 0 ||
        crossing_prob_bound(theta, K, lower.data(), upper.data(), &bound, ws.get().engine) != 0)
      throw std::logic_error("the crossing engine refused a checked boundary");
  } else if (crossing_estimate(ls.data(), us.data(), nullptr, theta, K, lower.data(), upper.data(),
                               &bound, ws.get().engine) != 0) {
    throw std::logic_error("the crossing engine refused a checked boundary");
  }
  return internal::summarize_stopping(b, theta, {us.begin() + 1, us.end()},
                                      {ls.begin() + 1, ls.end()}, bound.relative, bound.absolute);
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
