// The pictures of both commands: --plot draws the boundary and its operating
// characteristics as an SVG figure, --html writes the printable report page.
// The numbers come from the same oc_rows as the text, JSON and CSV; the
// figure module only draws them.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/internal.h"
#include "cli/results.h"
#include "figure/figure.h"

namespace cli {

namespace {

// The curves' grid: 0.005, 0.010, ..., 0.995, fine enough that a straight
// segment between neighbours is within a line's width of the curve.
constexpr int grid_points = 199;
constexpr double grid_denominator = 200;

// The patients' entries 1..K of a boundary indexed from 1.
std::vector<int> patients(const std::vector<int>& v, int K) {
  return {v.begin() + 1, v.begin() + 1 + K};
}

}  // namespace

figure::boundary figure_boundary(const boundary_result& b) {
  figure::boundary f;
  f.K = b.K;
  f.theta = b.theta;
  if (b.kind == command::design) {
    f.phi = b.phi;
    f.alpha = b.alpha;
    f.phi_star = b.phi_star;
    f.alpha_used = b.alpha_used;
    if (b.next)
      f.next =
          figure::next_boundary{b.next->phi_star, b.next->alpha_used, b.next->upper};
  } else {
    f.file = b.file == standard_input ? "standard input" : b.file;
  }
  f.upper = patients(b.upper, b.K);
  f.lower = patients(b.lower, b.K);
  f.program = program_and_version();
  if (b.kind == command::design && beyond_dialogue(b)) {
    // "an O'Brien-Fleming upper boundary" without its article.
    const std::string title = stopbound::family_title(b.fam);
    f.family = title.substr(title.find(' ') + 1);
    if (b.min_events > 0) f.family += ", at least " + std::to_string(b.min_events) + " events";
    if (static_cast<int>(b.looks.size()) != b.K) {
      f.looks = looks_text(b.looks);
      f.looked.assign(static_cast<std::size_t>(b.K), false);
      for (const int n : b.looks) f.looked[static_cast<std::size_t>(n - 1)] = true;
    }
  }
  return f;
}

std::vector<double> figure_rates(double theta, std::span<const double> rates) {
  std::vector<double> all;
  all.reserve(grid_points + 1 + rates.size());
  // i / 200 is one correctly rounded division: the double nearest i x 0.005.
  for (int i = 1; i <= grid_points; ++i) all.push_back(i / grid_denominator);
  all.push_back(theta);
  all.insert(all.end(), rates.begin(), rates.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

std::string report_date() {
  // A fixed SOURCE_DATE_EPOCH makes the page reproducible, byte for byte.
  std::time_t t = std::time(nullptr);
  // Set but empty counts as unset, as other tools that read it do.
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    const std::string_view text(epoch);
    long long seconds = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec != std::errc{} || end != text.data() + text.size() || seconds < 0)
      throw error(std::string("SOURCE_DATE_EPOCH must be a whole number of seconds, got '") +
                  epoch + "'");
    t = static_cast<std::time_t>(seconds);
  }
  // UTC, named: a page read elsewhere, or made again, tells the same time.
  std::tm parts{};
  char text[64];
  if (::gmtime_r(&t, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts) == 0)
    throw error("cannot tell the date for the report");
  return text;
}

std::string plot_svg(const boundary_result& b, std::span<const oc_row> curve) {
  return figure::svg_document(figure_boundary(b), curve);
}

std::string report_html(const boundary_result& b, std::span<const oc_row> curve,
                        std::span<const oc_row> table, const std::string& date,
                        std::span<const figure::stopping_curve> stopping) {
  const figure::report_extras extras{table, program_and_version(), date, stopping};
  return figure::html_report(figure_boundary(b), curve, extras);
}

std::vector<figure::stopping_curve> stopped_by_curves(std::span<const stopping> stops) {
  std::vector<figure::stopping_curve> curves;
  for (const stopping& st : stops) {
    figure::stopping_curve c{st.theta, {}};
    for (std::size_t i = 0; i < st.cum_high.size(); ++i) c.stopped_by.push_back(st.cum_high[i] + st.cum_low[i]);
    curves.push_back(std::move(c));
  }
  return curves;
}

namespace {

figure::plan_chart plan_chart(const plan_report& p) {
  figure::plan_chart c;
  c.theta0 = p.request.theta0;
  c.theta1 = p.request.theta1;
  c.phi = p.request.phi;
  c.power = p.request.power;
  for (const stopbound::plan_entry& e : p.result.scan) c.scan.push_back({e.K, e.power, e.phi_star});
  c.first_k = p.result.first_k;
  c.stable_k = p.result.stable_k;
  c.program = program_and_version();
  return c;
}

}  // namespace

std::string plan_svg(const plan_report& p) { return figure::plan_svg_document(plan_chart(p)); }

std::string plan_html(const plan_report& p, const std::string& date) {
  const std::vector<std::string> answer = plan_answer(p);
  if (p.answers.empty())
    return figure::plan_html_report(plan_chart(p), answer, nullptr, {},
                                    {{}, program_and_version(), date, {}});
  // The first answer's design, its curves over the figure's rates.
  const plan_report::answer& a = p.answers.front();
  const std::vector<double> rates = figure_rates(a.design.theta, {});
  const std::vector<oc_row> curve =
      report_rows(stopbound::operating_characteristics(interface_boundary(a.design), rates));
  const std::vector<figure::stopping_curve> stopping = stopped_by_curves(a.stops);
  const figure::boundary design = figure_boundary(a.design);
  return figure::plan_html_report(plan_chart(p), answer, &design, curve,
                                  {a.oc, program_and_version(), date, stopping});
}

}  // namespace cli
