// The three formats of the command line's report: a readable text, one JSON
// object, and CSV of the operating characteristics; JSON and CSV write each
// number in the shortest form that reads back as exactly the program's double.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "cli/internal.h"
#include "cli/json.h"
#include "cli/results.h"
#include "cross2/cross2.h"
#include "figure/figure.h"

namespace cli {

using json = nlohmann::ordered_json;

std::string printed(const char* fmt, double v) {
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, fmt, v);
  return {buf, static_cast<std::size_t>(n)};
}

// The shortest decimal that reads back as v: rates that differ print apart.
std::string shortest(double v) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc{} ? std::string(buf, end) : printed("%.17g", v);
}

namespace {

std::string patients(int first, int last) {
  return first == last ? "patient " + std::to_string(first)
                       : "patients " + std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

// The stopping rule in runs of patients with one wording each, the runs
// where no count can stop the trial included, built from the interface's
// upper and lower runs. A design looked at fewer patients says which ones
// it passes over.
std::string rule_text(const boundary_result& b) {
  const auto K = static_cast<std::size_t>(b.K);
  std::vector<int> high(K + 1, 0);
  std::vector<int> low(K + 1, -1);
  for (const rule_run& r : b.rule)
    for (int n = r.first; n <= r.last; ++n) high[static_cast<std::size_t>(n)] = r.stop_at;
  for (const rule_run& r : b.rule_lower)
    for (int n = r.first; n <= r.last; ++n) low[static_cast<std::size_t>(n)] = r.stop_at;
  std::vector<bool> looked(K + 1, true);
  if (b.kind == command::design && b.looks.size() != K) {
    looked.assign(K + 1, false);
    for (const int n : b.looks) looked[static_cast<std::size_t>(n)] = true;
  }
  auto says = [&](int n) {
    const auto i = static_cast<std::size_t>(n);
    if (!looked[i]) return std::string("no look");
    const int u = high[i];
    const int l = low[i];
    std::string lo = l > 0    ? "stop at " + std::to_string(l) + " or fewer events"
                     : l == 0 ? std::string("stop at 0 events")
                              : "";
    std::string hi = u > 0 ? "stop at " + std::to_string(u) + " or more events" : "";
    if (!lo.empty() && !hi.empty()) return lo + ", or " + hi;
    if (lo.empty() && hi.empty()) return std::string("no count can stop the trial");
    return lo + hi;
  };
  std::string text;
  for (int first = 1; first <= b.K;) {
    const std::string s = says(first);
    int last = first;
    while (last < b.K && says(last + 1) == s) ++last;
    text += "  " + patients(first, last) + ": " + s + "\n";
    first = last + 1;
  }
  return text;
}

namespace {

// N's quantiles and E[N | stopped], in the table's columns.
std::string stopping_columns(const stopping& st) {
  std::string row;
  for (const int n : {st.q10, st.median, st.q90}) row += printed("%-8.0f", n);
  row += st.mean_n_stopped ? printed("%-8.2f", *st.mean_n_stopped) : std::string("-");
  return row;
}

// The rows of the stopping distribution, patient by patient.
std::string stopping_patients(const stopping& st) {
  std::string text = "\nWhen the trial stops, at THETA = " + shortest(st.theta) + ":\n" +
                     "n       P(HIGH)       P(LOW)        CUM HIGH      CUM LOW\n";
  for (std::size_t i = 0; i < st.p_high.size(); ++i) {
    std::string row = printed("%-8.0f", static_cast<double>(i + 1));
    for (const double v : {st.p_high[i], st.p_low[i], st.cum_high[i], st.cum_low[i]}) row += printed("%-14.6g", v);
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + "\n";
  }
  return text;
}

}  // namespace

std::string oc_table(std::span<const oc_row> oc, bool lower, std::span<const stopping> stops) {
  // THETA as given, in a column wide enough that one blank always follows.
  std::size_t width = 10;
  for (const oc_row& r : oc) width = std::max(width, shortest(r.theta).size() + 1);
  std::string text = "THETA" + std::string(width - 5, ' ') + "PHI*    ";
  if (lower) text += "P(LOW)  ";
  text += "E[Y]    SD[Y]   E[N]    SD[N]   E[Y/N]  SD[Y/N]";
  text += stops.empty() ? "\n" : " N(10%)  N(50%)  N(90%)  E[N|STOP]\n";
  for (std::size_t i = 0; i < oc.size(); ++i) {
    const oc_row& r = oc[i];
    std::string row = shortest(r.theta);
    row.resize(width, ' ');
    row += printed("%-8.3f", r.phi_star);
    if (lower) row += printed("%-8.3f", r.p_lower);
    for (const double v : {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn}) row += printed("%-8.2f", v);
    if (!stops.empty()) row += stopping_columns(stops[i]);
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + "\n";
  }
  return text;
}

std::string stopping_legend() {
  return "  N(q%)  = the smallest n with P(N <= n) >= q, a trial that never stops ending at K\n"
         "  E[N|STOP] = the mean of N among the trials a boundary stops (- where none can)\n";
}

namespace {

// The family's statistic in one line, as the threshold applies to it.
std::string statistic(const stopbound::family& f) {
  switch (f.kind) {
    case stopbound::family_kind::pocock:
      return "-P(Y_n >= y) at THETA";
    case stopbound::family_kind::wt:
      return "(y - n THETA) / sqrt(n THETA (1 - THETA)) x (n/K)^(1/2 - DELTA)";
    case stopbound::family_kind::bayes:
      return "the posterior probability P(p > THETA | y events in n)";
    case stopbound::family_kind::sprt:
      return "y ln(THETA1/THETA) + (n - y) ln((1 - THETA1)/(1 - THETA))";
    case stopbound::family_kind::maxsprt:
      return "the log likelihood ratio of y/n against THETA, 0 for y <= n THETA";
  }
  return "";
}

// What a design beyond the dialogue's adds to the results block: the
// family's threshold, the looks and the minimum number of events.
std::string design_extras(const boundary_result& b) {
  std::string text;
  if (b.fam.kind != stopbound::family_kind::pocock)
    text += "THRESHOLD = " + printed("%g", b.threshold) + " = where the trial stops on " + statistic(b.fam) + "\n";
  const bool every = static_cast<int>(b.looks.size()) == b.K;
  text += "LOOKS = " + (every ? std::string("every patient") : looks_text(b.looks)) + " (" +
          std::to_string(b.looks.size()) + (b.looks.size() == 1 ? " look" : " looks") + ")\n";
  text += "MINIMUM = " + std::to_string(b.min_events) + " events before any stop\n";
  if (b.within_bound)
    text += "Note: PHI* <= PHI was decided within the crossing probabilities' error bound\n";
  return text;
}

std::string render_text(const boundary_result& b, std::span<const oc_row> oc, std::span<const stopping> stops,
                        bool per_patient) {
  const bool design = b.kind == command::design;
  std::string text =
      program_and_version() + ": " +
      (design ? "design of " + stopbound::family_title(b.fam)
              : "operating characteristics of the boundaries " +
                    (b.file == standard_input ? std::string("read from standard input")
                                              : "in " + b.file)) +
      " (" + method() + " calculations)\n\n";
  text += "K     = " + std::to_string(b.K) + "\n";
  text += "THETA = " + shortest(b.theta) + "\n";
  if (design) {
    text += "PHI   = " + shortest(b.phi) + "\n";
    text += "PHI*  = " + printed("%g", b.phi_star) + " = the actual probability of hitting the upper boundary\n";
    if (b.fam.kind == stopbound::family_kind::pocock)
      text += "ALPHA = " + printed("%g", b.alpha) + " = the pointwise stopping probability\n";
    else
      text += "ALPHA = " + printed("%g", b.alpha) +
              " = the largest pointwise tail P(Y_n >= b[n]) the boundary uses\n";
    text += "Next more liberal boundary: " + figure::next_boundary_text(figure_boundary(b)) + "\n";
    if (beyond_dialogue(b)) text += design_extras(b);
  }
  text += "\nStopping rule, on the number of events among patients 1..n after each patient n:\n";
  text += rule_text(b);
  text += "\nOperating characteristics:\n";
  text += oc_table(oc, !design, stops);
  text += "\n  PHI*   = the probability of stopping at the upper boundary\n";
  if (!design) text += "  P(LOW) = the probability of stopping at the lower boundary\n";
  text += "  Y      = the number of events, N = the number of patients, at the end\n"
          "  E[ ], SD[ ] = expected value (mean) and standard deviation\n";
  if (!stops.empty()) text += stopping_legend();
  if (per_patient)
    for (const stopping& st : stops) text += stopping_patients(st);
  return text;
}

}  // namespace

json runs(const std::vector<rule_run>& rule) {
  json a = json::array();
  std::transform(rule.begin(), rule.end(), std::back_inserter(a), [](const rule_run& r) {
    return json{{"first", r.first}, {"last", r.last}, {"stop_at", r.stop_at}};
  });
  return a;
}

json stopping_json(const stopping& st) {
  return json{{"q10", st.q10},
              {"median", st.median},
              {"q90", st.q90},
              {"mean_n_stopped", st.mean_n_stopped ? json(*st.mean_n_stopped) : json(nullptr)},
              {"p_high", st.p_high},
              {"p_low", st.p_low},
              {"cum_high", st.cum_high},
              {"cum_low", st.cum_low}};
}

json oc_json(std::span<const oc_row> oc, std::span<const stopping> stops) {
  json a = json::array();
  for (std::size_t i = 0; i < oc.size(); ++i) {
    const oc_row& r = oc[i];
    json row{{"theta", r.theta},     {"phi_star", r.phi_star}, {"p_lower", r.p_lower},
             {"mean_y", r.mean_y},   {"sd_y", r.sd_y},         {"mean_n", r.mean_n},
             {"sd_n", r.sd_n},       {"mean_yn", r.mean_yn},   {"sd_yn", r.sd_yn}};
    if (!stops.empty()) row["stopping"] = stopping_json(stops[i]);
    a.push_back(std::move(row));
  }
  return a;
}

namespace {

json family_json(const stopbound::family& f) {
  switch (f.kind) {
    case stopbound::family_kind::pocock: return json{{"name", "pocock"}};
    case stopbound::family_kind::wt: return json{{"name", "wt"}, {"delta", f.delta}};
    case stopbound::family_kind::bayes: return json{{"name", "bayes"}, {"a", f.a}, {"b", f.b}};
    case stopbound::family_kind::sprt: return json{{"name", "sprt"}, {"theta1", f.theta1}};
    case stopbound::family_kind::maxsprt: return json{{"name", "maxsprt"}};
  }
  return json{{"name", "pocock"}};
}

// A threshold that no count reaches (nothing can stop) is null.
json finite_or_null(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

std::string render_json(const boundary_result& b, std::span<const oc_row> oc, std::span<const stopping> stops) {
  const std::vector<int> upper(b.upper.begin() + 1, b.upper.end());
  const std::vector<int> lower(b.lower.begin() + 1, b.lower.end());
  json j;
  if (b.kind == command::design) {
    j["K"] = b.K;
    j["theta"] = b.theta;
    j["phi"] = b.phi;
    j["alpha"] = b.alpha;
    j["phi_star"] = b.phi_star;
    j["upper"] = upper;
    j["rule"] = runs(b.rule);
    j["family"] = family_json(b.fam);
    j["threshold"] = finite_or_null(b.threshold);
    j["alpha_used"] = b.alpha_used;
    j["looks"] = b.looks;
    j["min_events"] = b.min_events;
    j["within_bound"] = b.within_bound;
    if (b.next)
      j["next"] = json{{"threshold", finite_or_null(b.next->threshold)},
                       {"alpha_used", b.next->alpha_used},
                       {"phi_star", b.next->phi_star},
                       {"upper", b.next->upper}};
    else
      j["next"] = nullptr;
  } else {
    j["file"] = b.file;
    j["K"] = b.K;
    j["theta"] = b.theta;
    j["lower"] = lower;
    j["upper"] = upper;
    j["rule"] = runs(b.rule);
    j["rule_lower"] = runs(b.rule_lower);
  }
  j["oc"] = oc_json(oc, stops);
  j["method"] = method();
  j["version"] = version();
  // A file name that is not UTF-8 is shown with replacement characters
  // rather than refused.
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string render_csv(std::span<const oc_row> oc) {
  std::string text = "theta,phi_star,p_lower,mean_y,sd_y,mean_n,sd_n,mean_yn,sd_yn\n";
  for (const oc_row& r : oc) {
    std::string row;
    for (const double v : {r.theta, r.phi_star, r.p_lower, r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn})
      row.append(row.empty() ? "" : ",").append(shortest(v));
    text += row + "\n";
  }
  return text;
}

// The long table of the stopping distribution: one row per rate and patient.
std::string stopping_csv(std::span<const stopping> stops) {
  std::string text = "theta,n,p_high,p_low,cum_high,cum_low\n";
  for (const stopping& st : stops)
    for (std::size_t i = 0; i < st.p_high.size(); ++i) {
      text += shortest(st.theta) + "," + std::to_string(i + 1);
      for (const double v : {st.p_high[i], st.p_low[i], st.cum_high[i], st.cum_low[i]}) {
        text += ',';
        text += shortest(v);
      }
      text += "\n";
    }
  return text;
}

}  // namespace

std::string render(const boundary_result& b, std::span<const oc_row> oc, format f) {
  return render(b, oc, {}, false, f);
}

std::string render(const boundary_result& b, std::span<const oc_row> oc, std::span<const stopping> stops,
                   bool per_patient, format f) {
  switch (f) {
    case format::json: return render_json(b, oc, stops);
    case format::csv: return stops.empty() ? render_csv(oc) : stopping_csv(stops);
    case format::text: break;
  }
  return render_text(b, oc, stops, per_patient);
}

}  // namespace cli
