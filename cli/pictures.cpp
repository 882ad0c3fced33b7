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
          figure::next_boundary{b.next->phi_star, b.next->alpha_used, patients(b.next->upper, b.K)};
  } else {
    f.file = b.file == standard_input ? "standard input" : b.file;
  }
  f.upper = patients(b.upper, b.K);
  f.lower = patients(b.lower, b.K);
  f.program = program_and_version();
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
                        std::span<const oc_row> table, const std::string& date) {
  const figure::report_extras extras{table, program_and_version(), date};
  return figure::html_report(figure_boundary(b), curve, extras);
}

}  // namespace cli
