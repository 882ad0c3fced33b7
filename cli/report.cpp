// The three formats of the command line's report: a readable text, one JSON
// object, and CSV of the operating characteristics; JSON and CSV write each
// number in the shortest form that reads back as exactly the program's double.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>

#include "cli/internal.h"
#include "cli/results.h"
#include "cross2/cross2.h"
#include "figure/figure.h"

namespace cli {

namespace {

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

std::string patients(int first, int last) {
  return first == last ? "patient " + std::to_string(first)
                       : "patients " + std::to_string(first) + "-" + std::to_string(last);
}

// The stopping rule in runs of patients with one wording each, the runs
// where no count can stop the trial included.
std::string rule_text(const boundary_result& b) {
  auto says = [&](int n) {
    const int u = b.upper[static_cast<std::size_t>(n)];
    const int l = b.lower[static_cast<std::size_t>(n)];
    std::string low = l > 0    ? "stop at " + std::to_string(l) + " or fewer events"
                      : l == 0 ? std::string("stop at 0 events")
                               : "";
    std::string high = u <= n ? "stop at " + std::to_string(u) + " or more events" : "";
    if (!low.empty() && !high.empty()) return low + ", or " + high;
    if (low.empty() && high.empty()) return std::string("no count can stop the trial");
    return low + high;
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

std::string oc_table(std::span<const oc_row> oc, bool lower) {
  // THETA as given, in a column wide enough that one blank always follows.
  std::size_t width = 10;
  for (const oc_row& r : oc) width = std::max(width, shortest(r.theta).size() + 1);
  std::string text = "THETA" + std::string(width - 5, ' ') + "PHI*    ";
  if (lower) text += "P(LOW)  ";
  text += "E[Y]    SD[Y]   E[N]    SD[N]   E[Y/N]  SD[Y/N]\n";
  for (const oc_row& r : oc) {
    std::string row = shortest(r.theta);
    row.resize(width, ' ');
    row += printed("%-8.3f", r.phi_star);
    if (lower) row += printed("%-8.3f", r.p_lower);
    for (const double v : {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn}) row += printed("%-8.2f", v);
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + "\n";
  }
  return text;
}

std::string render_text(const boundary_result& b, std::span<const oc_row> oc) {
  const bool design = b.kind == command::design;
  std::string text =
      program_and_version() + ": " +
      (design ? "design of a Pocock-type upper boundary"
              : "operating characteristics of the boundaries " +
                    (b.file == standard_input ? std::string("read from standard input")
                                              : "in " + b.file)) +
      " (" + method() + " calculations)\n\n";
  text += "K     = " + std::to_string(b.K) + "\n";
  text += "THETA = " + shortest(b.theta) + "\n";
  if (design) {
    text += "PHI   = " + shortest(b.phi) + "\n";
    text += "PHI*  = " + printed("%g", b.phi_star) + " = the actual probability of hitting the upper boundary\n";
    text += "ALPHA = " + printed("%g", b.alpha) + " = the pointwise stopping probability\n";
    text += "Next more liberal boundary: " + figure::next_boundary_text(figure_boundary(b)) + "\n";
  }
  text += "\nStopping rule, on the number of events among patients 1..n after each patient n:\n";
  text += rule_text(b);
  text += "\nOperating characteristics:\n";
  text += oc_table(oc, !design);
  text += "\n  PHI*   = the probability of stopping at the upper boundary\n";
  if (!design) text += "  P(LOW) = the probability of stopping at the lower boundary\n";
  text += "  Y      = the number of events, N = the number of patients, at the end\n"
          "  E[ ], SD[ ] = expected value (mean) and standard deviation\n";
  return text;
}

json runs(const std::vector<rule_run>& rule) {
  json a = json::array();
  std::transform(rule.begin(), rule.end(), std::back_inserter(a), [](const rule_run& r) {
    return json{{"first", r.first}, {"last", r.last}, {"stop_at", r.stop_at}};
  });
  return a;
}

json oc_json(std::span<const oc_row> oc) {
  json a = json::array();
  std::transform(oc.begin(), oc.end(), std::back_inserter(a), [](const oc_row& r) {
    return json{{"theta", r.theta},     {"phi_star", r.phi_star}, {"p_lower", r.p_lower},
                {"mean_y", r.mean_y},   {"sd_y", r.sd_y},         {"mean_n", r.mean_n},
                {"sd_n", r.sd_n},       {"mean_yn", r.mean_yn},   {"sd_yn", r.sd_yn}};
  });
  return a;
}

std::string render_json(const boundary_result& b, std::span<const oc_row> oc) {
  const std::vector<int> upper(b.upper.begin() + 1, b.upper.end());
  const std::vector<int> lower(b.lower.begin() + 1, b.lower.end());
  json j;
  if (b.kind == command::design) {
    j["K"] = b.K;
    j["theta"] = b.theta;
    j["phi"] = b.phi;
    j["alpha"] = b.alpha;
    j["alpha_used"] = b.alpha_used;
    j["phi_star"] = b.phi_star;
    j["upper"] = upper;
    if (b.next) {
      const std::vector<int> next_upper(b.next->upper.begin() + 1, b.next->upper.end());
      j["next"] = json{{"alpha_used", b.next->alpha_used},
                       {"phi_star", b.next->phi_star},
                       {"upper", next_upper}};
    } else {
      j["next"] = nullptr;
    }
    j["rule"] = runs(b.rule);
  } else {
    j["file"] = b.file;
    j["K"] = b.K;
    j["theta"] = b.theta;
    j["lower"] = lower;
    j["upper"] = upper;
    j["rule"] = runs(b.rule);
    j["rule_lower"] = runs(b.rule_lower);
  }
  j["oc"] = oc_json(oc);
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

}  // namespace

std::string render(const boundary_result& b, std::span<const oc_row> oc, format f) {
  switch (f) {
    case format::json: return render_json(b, oc);
    case format::csv: return render_csv(oc);
    case format::text: break;
  }
  return render_text(b, oc);
}

}  // namespace cli
