// The plan command: the smallest K whose design stops with the target power
// at the unacceptable rate, in text, JSON or CSV, with the designs at the
// answers and, on request, when they stop.
#include <algorithm>
#include <array>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/internal.h"
#include "cli/json.h"
#include "cli/results.h"
#include "cross2/cross2.h"
#include "stopbound/stopbound.h"

namespace cli {

namespace {

using json = nlohmann::ordered_json;

plan_report::answer answer_at(const plan_report& p, int K, std::string role, bool stopping,
                              stopbound::workspace& ws) {
  const stopbound::design d = stopbound::make_design(stopbound::plan_design_request(p.request, K), ws);
  const std::array<double, 2> rates{p.request.theta0, p.request.theta1};
  plan_report::answer a{std::move(role), from_design(d),
                        report_rows(stopbound::operating_characteristics(d.bounds, rates, ws)), {}};
  if (stopping)
    for (const double theta : rates) a.stops.push_back(stopbound::stopping_distribution(d.bounds, theta, ws));
  return a;
}

std::string looks_text(const stopbound::plan_request& s) {
  std::string text = s.looks_every == 1 ? "a look after every patient"
                                        : "a look after every " + std::to_string(s.looks_every) +
                                              " patients and at K";
  if (s.min_events > 0) text += ", no stop before " + std::to_string(s.min_events) + " events";
  return text;
}

std::string range_text(const stopbound::plan_request& s) {
  return std::to_string(s.k_min) + " to " + std::to_string(s.k_max);
}

std::string answer_heading(const plan_report& p, const plan_report::answer& a) {
  const bool both = p.result.first_k == p.result.stable_k;
  if (a.role == "first")
    return both ? "The design at K = " + std::to_string(a.design.K) + " (both answers):"
                : "The design at K = " + std::to_string(a.design.K) + " (the smallest K reaching the power):";
  return "The design at K = " + std::to_string(a.design.K) + " (from which every K reaches the power):";
}

json answer_json(const plan_report& p, const std::optional<int>& K) {
  if (!K) return nullptr;
  for (const plan_report::answer& a : p.answers) {
    if (a.design.K != *K) continue;
    const std::vector<int> upper(a.design.upper.begin() + 1, a.design.upper.end());
    const stopbound::plan_entry& e = p.result.scan[static_cast<std::size_t>(*K - p.request.k_min)];
    json j;
    j["K"] = *K;
    j["power"] = e.power;
    j["phi_star"] = a.design.phi_star;
    j["alpha"] = a.design.alpha;
    j["upper"] = upper;
    j["rule"] = runs(a.design.rule);
    j["oc"] = oc_json(a.oc, a.stops);
    return j;
  }
  return nullptr;
}

std::string render_plan_text(const plan_report& p) {
  const stopbound::plan_request& s = p.request;
  std::string text = program_and_version() + ": plan of " + stopbound::family_title(s.fam) + " (" +
                     method() + " calculations)\n\n";
  text += "THETA0 = " + shortest(s.theta0) + " = the acceptable event probability\n";
  text += "THETA1 = " + shortest(s.theta1) + " = the unacceptable event probability\n";
  text += "PHI    = " + shortest(s.phi) + " = the accepted probability of stopping at THETA0\n";
  text += "POWER  = " + shortest(s.power) + " = the probability of stopping wanted at THETA1\n";
  text += "K      = " + range_text(s) + ", " + looks_text(s) + "\n\n";
  for (const std::string& line : plan_answer(p)) text += line + "\n";
  for (const plan_report::answer& a : p.answers) {
    text += '\n';
    text += answer_heading(p, a) + "\n";
    text += "PHI*  = " + printed("%g", a.design.phi_star) + " = the probability of stopping at THETA0\n";
    text += "ALPHA = " + printed("%g", a.design.alpha) + " = the pointwise stopping probability\n";
    text += "\nStopping rule, on the number of events among patients 1..n after each patient n:\n";
    text += rule_text(a.design);
    text += "\nOperating characteristics at THETA0 and THETA1:\n";
    text += oc_table(a.oc, false, a.stops);
  }
  if (p.answers.empty()) return text;
  text += "\n  PHI*   = the probability of stopping at the upper boundary\n"
          "  Y      = the number of events, N = the number of patients, at the end\n"
          "  E[ ], SD[ ] = expected value (mean) and standard deviation\n";
  if (!p.answers.front().stops.empty()) text += stopping_legend();
  return text;
}

std::string render_plan_json(const plan_report& p) {
  const stopbound::plan_request& s = p.request;
  json j;
  j["theta0"] = s.theta0;
  j["theta1"] = s.theta1;
  j["phi"] = s.phi;
  j["power"] = s.power;
  j["family"] = stopbound::family_text(s.fam);
  j["looks_every"] = s.looks_every;
  j["min_events"] = s.min_events;
  j["k_min"] = s.k_min;
  j["k_max"] = s.k_max;
  j["monotone"] = p.result.first_k == p.result.stable_k;
  j["first"] = answer_json(p, p.result.first_k);
  j["stable"] = answer_json(p, p.result.stable_k);
  j["best"] = json{{"K", p.result.best_k}, {"power", p.result.best_power}};
  json scan = json::array();
  std::transform(p.result.scan.begin(), p.result.scan.end(), std::back_inserter(scan),
                 [](const stopbound::plan_entry& e) {
                   return json{{"K", e.K},           {"phi_star", e.phi_star}, {"power", e.power},
                               {"mean_n0", e.mean_n0}, {"mean_n1", e.mean_n1}};
                 });
  j["scan"] = std::move(scan);
  j["method"] = method();
  j["version"] = version();
  return j.dump(2) + "\n";
}

std::string render_plan_csv(const plan_report& p) {
  std::string text = "K,phi_star,power,mean_n0,mean_n1\n";
  for (const stopbound::plan_entry& e : p.result.scan)
    text += std::to_string(e.K) + "," + shortest(e.phi_star) + "," + shortest(e.power) + "," +
            shortest(e.mean_n0) + "," + shortest(e.mean_n1) + "\n";
  return text;
}

}  // namespace

plan_report make_plan(const stopbound::plan_request& request, bool stopping) {
  plan_report p{request, {}, {}};
  stopbound::workspace ws;
  p.result = stopbound::plan_scan(request, ws);
  if (p.result.first_k) p.answers.push_back(answer_at(p, *p.result.first_k, "first", stopping, ws));
  if (p.result.stable_k && p.result.stable_k != p.result.first_k)
    p.answers.push_back(answer_at(p, *p.result.stable_k, "stable", stopping, ws));
  return p;
}

std::vector<std::string> plan_answer(const plan_report& p) {
  const stopbound::plan_request& s = p.request;
  const stopbound::plan_result& r = p.result;
  const std::string power = shortest(s.power);
  if (!r.first_k)
    return {"No K from " + range_text(s) + " reaches power " + power + ": the largest power is " +
            printed("%g", r.best_power) + ", at K = " + std::to_string(r.best_k) + "."};
  const std::string first = std::to_string(*r.first_k);
  const std::string reached =
      " (power " + printed("%g", r.scan[static_cast<std::size_t>(*r.first_k - s.k_min)].power) + ")";
  if (r.stable_k == r.first_k)
    return {"K = " + first + " is the smallest K whose power reaches " + power + reached +
            ", and every larger K up to " + std::to_string(s.k_max) + " reaches it too."};
  std::vector<std::string> lines{"Power is not monotone in K: K = " + first +
                                 " is the smallest K whose power reaches " + power + reached +
                                 ", but some larger K fall short."};
  if (r.stable_k)
    lines.push_back("Every K from " + std::to_string(*r.stable_k) + " to " + std::to_string(s.k_max) +
                    " reaches it; K = " + std::to_string(*r.stable_k - 1) + " does not.");
  else
    lines.push_back("K = " + std::to_string(s.k_max) +
                    ", the largest K scanned, falls short: no K from which every larger K reaches it.");
  return lines;
}

std::string render_plan(const plan_report& p, format f) {
  switch (f) {
    case format::json: return render_plan_json(p);
    case format::csv: return render_plan_csv(p);
    case format::text: break;
  }
  return render_plan_text(p);
}

}  // namespace cli
