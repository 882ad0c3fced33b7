// The report page: one self-contained XHTML document (inline style sheet,
// inline figure, no scripts, nothing fetched) with the inputs and results,
// the stopping rule, the table of operating characteristics, the figure and
// the columns explained, laid out to print on A4 and on Letter.
//
// The markup is XML as well as HTML (every element closed, only numeric
// character references), so any XML parser can check it.
#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "figure/figure.h"
#include "figure/internal.h"

namespace figure {

namespace {

constexpr std::string_view style_sheet = R"(
body { font-family: sans-serif; font-size: 10.5pt; line-height: 1.35; color: #111;
       max-width: 180mm; margin: 1.5em auto; padding: 0 1em; }
h1 { font-size: 15pt; margin: 0 0 0.2em; }
h2 { font-size: 12pt; margin: 1.2em 0 0.4em; border-bottom: 1px solid #999; }
p { margin: 0.3em 0; }
.meta { color: #444; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; margin: 0.3em 0; }
th, td { padding: 0.12em 0.6em; border-bottom: 1px solid #ddd; text-align: right; }
th { background: #eee; font-weight: bold; }
th.text, td.text { text-align: left; }
tr.design td { font-weight: bold; background: #fbeeea; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: 0.2em 1em; margin: 0.5em 0; }
dt { font-weight: bold; }
dd { margin: 0; }
figure { margin: 0.5em 0; }
figure svg { display: block; width: 100%; height: auto; }
figcaption { font-size: 9pt; color: #444; }
@page { margin: 12mm 13mm; }
@media print {
  body { max-width: none; margin: 0; padding: 0; font-size: 8.5pt; line-height: 1.25; }
  h1 { font-size: 13pt; }
  h2 { font-size: 10.5pt; margin: 0.8em 0 0.3em; }
  h2 { break-after: avoid; }
  tr, dt, dd { break-inside: avoid; }
  thead { display: table-header-group; }
  section.figure { break-before: page; }
  figure { break-inside: avoid; }
  /* Room on a Letter page for the heading and the caption. */
  figure svg { max-height: 210mm; }
}
)";

// Places of the table's columns: probabilities to 1e-4, counts to 1e-2,
// the observed rate to 1e-3.
constexpr int probability_places = 4;
constexpr int count_places = 2;
constexpr int rate_places = 3;

class html_out {
 public:
  std::string& str() { return s_; }
  void raw(std::string_view t) { s_ += t; }
  // An element holding escaped text.
  void element(std::string_view tag, std::string_view text, std::string_view attrs = {}) {
    s_ += '<';
    s_ += tag;
    if (!attrs.empty()) {
      s_ += ' ';
      s_ += attrs;
    }
    s_ += '>' + xml_escape(text) + "</" + std::string(tag) + ">";
  }

 private:
  std::string s_;
};

std::string patients(const rule_run& r) {
  return r.first == r.last ? std::to_string(r.first)
                           : std::to_string(r.first) + "\u2013" + std::to_string(r.last);
}

void inputs(html_out& out, const boundary& bd, std::span<const oc_row> curve) {
  out.raw("<section class=\"inputs\">\n<h2>Inputs and results</h2>\n<table class=\"inputs\">\n");
  const auto row = [&](std::string_view name, const std::string& value, std::string_view what) {
    out.raw("<tr>");
    out.element("th", name, R"(class="text" scope="row")");
    out.element("td", value, "class=\"text\"");
    out.element("td", what, "class=\"text\"");
    out.raw("</tr>\n");
  };
  if (!bd.file.empty()) row("File", bd.file, "the boundary evaluated");
  row("K", std::to_string(bd.K), "the largest number of patients");
  row("THETA", general(bd.theta),
      bd.file.empty() ? "the event probability the design is made for"
                      : "the event probability the boundary was made for");
  if (bd.phi) row("PHI", general(*bd.phi), "the accepted probability of stopping early at THETA");
  if (!bd.family.empty()) row("Family", bd.family, "the shape of the boundary");
  if (!bd.family.empty())
    row("Looks", bd.looks.empty() ? "every patient" : bd.looks,
        "the patients after whom the count is compared with the boundary");
  if (bd.alpha)
    row("ALPHA", general(*bd.alpha),
        "the pointwise level: at each patient n, P(events \u2265 b[n]) at THETA is at most "
        "ALPHA");
  if (bd.alpha_used)
    row("Largest tail used", general(*bd.alpha_used),
        "the largest P(events \u2265 b[n]) at THETA over the patients who can stop; every level "
        "from it up to the next boundary's gives this boundary");
  const oc_row* at = internal::row_at(curve, bd.theta);
  if (bd.phi_star) {
    row("PHI*", general(*bd.phi_star),
        "the actual probability of stopping early at THETA, as computed never above PHI");
  } else if (at != nullptr) {
    row("PHI*", general(at->phi_star), "the probability of reaching the upper boundary at THETA");
  }
  row("Method", "Exact", "every probability from the binomial distribution");
  out.raw("</table>\n");
  if (bd.alpha_used) {
    out.element("p", "Next more liberal boundary: " + next_boundary_text(bd), "class=\"next\"");
    out.raw("\n");
  }
  out.raw("</section>\n");
}

void rule(html_out& out, const boundary& bd) {
  const bool lower = has_lower(bd);
  out.raw("<section class=\"rule\">\n<h2>Stopping rule</h2>\n");
  out.element("p",
              "After each patient, count the events so far. Stop the trial as soon as the count "
              "reaches the number in the table" +
                  std::string(lower ? ", or falls to the lower number or below" : "") + ".");
  out.raw("\n<table class=\"rule\">\n<thead><tr>");
  out.element("th", "Patients", "class=\"text\"");
  out.element("th", "Stop at", "class=\"text\"");
  if (lower) out.element("th", "Stop low at", "class=\"text\"");
  out.raw("</tr></thead>\n<tbody>\n");
  for (const rule_run& r : stopping_rule(bd)) {
    out.raw("<tr>");
    out.element("td", patients(r), "class=\"text\"");
    const bool look = bd.looked.empty() || bd.looked[static_cast<std::size_t>(r.first - 1)];
    out.element("td",
                !look           ? "no look"
                : r.stop_at > 0 ? std::to_string(r.stop_at) + " or more events"
                                : "cannot stop",
                "class=\"text\"");
    if (lower)
      out.element(
          "td",
          r.stop_below >= 0 ? std::to_string(r.stop_below) + " or fewer events" : "cannot stop",
          "class=\"text\"");
    out.raw("</tr>\n");
  }
  out.raw("</tbody>\n</table>\n</section>\n");
}

void oc_table(html_out& out, const boundary& bd, std::span<const oc_row> rows) {
  const bool lower = has_lower(bd);
  out.raw("<section class=\"oc\">\n<h2>Operating characteristics</h2>\n");
  const bool theta_row =
      std::any_of(rows.begin(), rows.end(), [&](const oc_row& r) { return r.theta == bd.theta; });
  out.element("p",
              "How the rule behaves if the true event probability is the one in the first column" +
                  std::string(theta_row ? " (the row for THETA in bold)." : "."));
  out.raw("\n<table class=\"oc\">\n<thead><tr>");
  constexpr std::array<std::string_view, 9> heads{"True event probability",
                                                  "P(stop early)",
                                                  "P(stop low)",
                                                  "E[Y]",
                                                  "SD[Y]",
                                                  "E[N]",
                                                  "SD[N]",
                                                  "E[Y/N]",
                                                  "SD[Y/N]"};
  // Beside a lower boundary a low stop is early too: the upper one is "high".
  for (const std::string_view h : heads) {
    if (h == "P(stop early)" && lower)
      out.element("th", "P(stop high)");
    else if (lower || h != "P(stop low)")
      out.element("th", h);
  }
  out.raw("</tr></thead>\n<tbody>\n");
  for (const oc_row& r : rows) {
    out.raw(r.theta == bd.theta ? "<tr class=\"design\">" : "<tr>");
    out.element("td", general(r.theta));
    out.element("td", internal::fixed_places(r.phi_star, probability_places));
    if (lower) out.element("td", internal::fixed_places(r.p_lower, probability_places));
    for (const double v : {r.mean_y, r.sd_y, r.mean_n, r.sd_n})
      out.element("td", internal::fixed_places(v, count_places));
    for (const double v : {r.mean_yn, r.sd_yn})
      out.element("td", internal::fixed_places(v, rate_places));
    out.raw("</tr>\n");
  }
  out.raw("</tbody>\n</table>\n");

  out.raw("<dl class=\"columns\">\n");
  const auto item = [&](std::string_view term, std::string_view text) {
    out.element("dt", term);
    out.element("dd", text);
    out.raw("\n");
  };
  item("True event probability",
       "The event rate the trial might really have. Each row answers: if this were the true "
       "rate, how would the rule behave?");
  item(lower ? "P(stop high)" : "P(stop early)",
       "The chance that the events reach the upper boundary, which stops the trial. At THETA "
       "this is PHI*.");
  if (lower)
    item("P(stop low)",
         "The chance that the count falls to the lower boundary, which also stops the trial.");
  item("E[Y], SD[Y]",
       "The number of events when the trial ends: its average over many such trials, and the "
       "standard deviation, how far single trials typically fall from that average.");
  item("E[N], SD[N]",
       "The number of patients when the trial ends (K when it is never stopped): average and "
       "standard deviation.");
  item("E[Y/N], SD[Y/N]",
       "The event rate the trial reports when it ends, events divided by patients: average and "
       "standard deviation. Trials that stop, stop on an extreme count, so this average can "
       "differ from the true event probability.");
  out.raw("</dl>\n</section>\n");
}

}  // namespace

std::vector<rule_run> stopping_rule(const boundary& bd) {
  assert(bd.upper.size() == static_cast<std::size_t>(bd.K));
  assert(bd.lower.empty() || bd.lower.size() == bd.upper.size());
  std::vector<rule_run> runs;
  for (int n = 1; n <= bd.K; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    // Counts run from 0 to n: a boundary beyond them cannot stop the trial.
    const int b = bd.upper[i];
    assert(b >= 1);
    const int stop_at = b <= n ? b : 0;
    const int l = bd.lower.empty() ? -1 : bd.lower[i];
    const int stop_below = l >= 0 ? std::min(l, n) : -1;
    const bool same_look =
        bd.looked.empty() || bd.looked[i] == bd.looked[static_cast<std::size_t>(n - 2 < 0 ? 0 : n - 2)];
    if (!runs.empty() && runs.back().stop_at == stop_at && runs.back().stop_below == stop_below &&
        same_look) {
      runs.back().last = n;
    } else {
      runs.push_back({n, n, stop_at, stop_below});
    }
  }
  return runs;
}

std::string next_boundary_text(const boundary& bd) {
  if (!bd.next) return "none (every level below 1 gives this boundary)";
  const next_boundary& next = *bd.next;
  assert(next.upper.size() == bd.upper.size());
  std::string where;
  const auto K = bd.upper.size();
  for (std::size_t i = 0; i < K;) {
    if (next.upper[i] == bd.upper[i]) {
      ++i;
      continue;
    }
    std::size_t last = i;
    while (last + 1 < K && next.upper[last + 1] != bd.upper[last + 1] &&
           next.upper[last + 1] == next.upper[i])
      ++last;
    where += (where.empty() ? "b[" : ", b[") + std::to_string(i + 1) +
             (last > i ? ".." + std::to_string(last + 1) : "") +
             "] = " + std::to_string(next.upper[i]);
    i = last + 1;
  }
  // Six digits, or as many more as tell the next PHI*, above PHI, from PHI.
  constexpr int most_digits = 17;
  int digits = 6;
  while (bd.phi && digits < most_digits &&
         general(next.phi_star, digits) == general(*bd.phi, digits))
    ++digits;
  return "PHI* = " + general(next.phi_star, digits) + ", using tails up to " +
         general(next.alpha_used) + " (" + where + ")";
}

namespace {

// The document up to and including the page's header.
void page_head(html_out& out, const std::string& heading, const report_extras& extras) {
  out.raw(
      "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
      "<meta charset=\"UTF-8\"/>\n");
  out.raw(R"(<meta name="generator" content=")" + xml_escape(extras.version) + "\"/>\n");
  out.element("title", heading);
  out.raw("\n<style>");
  out.raw(style_sheet);
  out.raw("</style>\n</head>\n<body>\n<header>\n");
  out.element("h1", heading);
  out.raw("\n");
  out.element("p", "Made by " + extras.version + " on " + extras.date + ".", "class=\"meta\"");
  out.raw("\n</header>\n");
}

// Inputs, rule, table and figure of one boundary, then when the trial stops.
void boundary_sections(html_out& out, const boundary& bd, std::span<const oc_row> curve,
                       const report_extras& extras) {
  inputs(out, bd, curve);
  rule(out, bd);
  oc_table(out, bd, extras.table);
  out.raw("<section class=\"figure\">\n<h2>Figure</h2>\n<figure>\n");
  out.raw(internal::svg_element(bd, curve));
  out.element("figcaption",
              "A: the boundary against the patient number; the trial stops in the shaded "
              "region. B: the probability of stopping early against the true event probability. "
              "C: the number of patients when the trial ends, its mean and a band of one "
              "standard deviation.");
  out.raw("\n</figure>\n</section>\n");
  if (extras.stopping.empty()) return;
  out.raw("<section class=\"stopping\">\n<h2>When the trial stops</h2>\n<figure>\n");
  out.raw(stopping_svg_element(bd.K, extras.stopping));
  out.element("figcaption",
              "The probability that a boundary has stopped the trial by patient n, at each true "
              "event probability shown" +
                  std::string(extras.stopping.size() > max_stopping_curves
                                  ? " (the first " + std::to_string(max_stopping_curves) + " rates)"
                                  : "") +
                  ". Where the curve ends below 1, the rest of the trials run to K.");
  out.raw("\n</figure>\n</section>\n");
}

}  // namespace

std::string html_report(const boundary& bd, std::span<const oc_row> curve,
                        const report_extras& extras) {
  html_out out;
  std::string heading =
      bd.file.empty()
          ? "Stopping boundary: K = " + std::to_string(bd.K) + ", THETA = " + general(bd.theta)
          : "Evaluated boundary: K = " + std::to_string(bd.K) + ", THETA = " + general(bd.theta);
  if (bd.phi) heading += ", PHI = " + general(*bd.phi);
  page_head(out, heading, extras);
  boundary_sections(out, bd, curve, extras);
  out.raw("</body>\n</html>\n");
  return std::move(out.str());
}

std::string plan_html_report(const plan_chart& chart, std::span<const std::string> answer,
                             const boundary* design, std::span<const oc_row> curve,
                             const report_extras& extras) {
  html_out out;
  page_head(out,
            "Sample-size plan: THETA0 = " + general(chart.theta0) + ", THETA1 = " +
                general(chart.theta1) + ", PHI = " + general(chart.phi) + ", POWER = " +
                general(chart.power),
            extras);
  out.raw("<section class=\"answer\">\n<h2>Answer</h2>\n");
  for (const std::string& line : answer) {
    out.element("p", line);
    out.raw("\n");
  }
  out.raw("</section>\n<section class=\"plan\">\n<h2>Power and PHI* against K</h2>\n<figure>\n");
  // The standalone document less its XML declaration.
  const std::string svg = plan_svg_document(chart);
  out.raw(std::string_view(svg).substr(svg.find("<svg")));
  out.element("figcaption",
              "A: the probability of stopping at THETA1 (the power) of the design for each K, "
              "with the target and the answers. B: the probability of stopping at THETA0 (PHI*), "
              "never above PHI.");
  out.raw("\n</figure>\n</section>\n");
  if (design != nullptr) {
    out.raw("<h2 class=\"design\">The design at K = " + std::to_string(design->K) + "</h2>\n");
    boundary_sections(out, *design, curve, extras);
  }
  out.raw("</body>\n</html>\n");
  return std::move(out.str());
}

}  // namespace figure
