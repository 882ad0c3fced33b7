// Internals of the command line shared by its source files and its tests:
// the grammar of numbers and rate lists, and the reader of boundary files.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/results.h"

namespace cli {

/// Most rates one --oc list may give.
inline constexpr std::size_t max_rates = 10000;

/// Most decimal places a range bound or step may have.
inline constexpr int max_range_places = 60;

/// The name `evaluate` reads standard input by.
inline constexpr std::string_view standard_input = "-";

/// An argument without the blanks (spaces and tabs) around it: K, THETA, PHI
/// and every --oc item and range part are read so, the boundary file's
/// tokens by its lines' blanks.
std::string trimmed(std::string_view text);

/// ", which rounds to 0 as a double" (or 1) when the token's exact decimal
/// lies strictly between 0 and 1 but v, its double, does not; else empty.
std::string rounding_note(std::string_view token, double v);

/// An argument or line as a message quotes it: its first 40 bytes, control
/// and other non-ASCII bytes as '?', and "..." where it was cut.
std::string shown(std::string_view text);

/// The whole token as a decimal int (optional sign, digits only, in range).
std::optional<int> parse_int(std::string_view token);

/// The whole token as a decimal number ([sign] digits [. digits] [e exp]),
/// rounded to the nearest double; no hex, infinities or NaN.
std::optional<double> parse_number(std::string_view token);

/// Whether the token, read as parse_number reads it but as the exact decimal
/// it writes, lies strictly between 0 and 1 (1e-400 does, 0e-400 does not).
bool decimal_inside_0_1(std::string_view token);

/// The rates of an --oc list in the order given: comma-separated numbers
/// strictly between 0 and 1 and ranges FROM:TO:STEP, each range rate the
/// double nearest the exact decimal FROM + i STEP; throws error naming the
/// item at fault.
std::vector<double> parse_rates(std::string_view text);

/// The patients of a --looks list in the order given: comma-separated whole
/// numbers and ranges FROM:TO:STEP (inclusive), strictly increasing, each in
/// 1..K; throws error naming the item at fault.
std::vector<int> parse_looks(std::string_view text, int K);

/// Looks as --looks reads them back, arithmetic runs of three or more as
/// ranges: "5:50:5", "10,20,35,50", "1:40:1".
std::string looks_text(std::span<const int> looks);

/// The rates `evaluate` takes by default for a lower boundary that can stop:
/// the 0.05 grid 0.05 .. 0.95, each the double nearest its decimal, with
/// theta in its place unless it is one of them.
std::vector<double> full_grid(double theta);

/// The boundary pair of a file in the boundary file's layout (THETA, K, K
/// lines "lower upper", the rest ignored), from standard input for "-",
/// checked as the crossing engine checks it; throws error naming the file
/// ("standard input") and the line or patient at fault.
boundary_result read_boundary_file(const std::string& path);

/// b's pair 0-based, as the public interface takes it: counts that cannot
/// stop (upper past n + 1, lower below -1) at n + 1 and -1.
stopbound::boundary engine_pair(const boundary_result& b);

/// The rates the figure's curves pass through: 0.005 to 0.995 in steps of
/// 0.005, THETA and the given rates, increasing, each once.
std::vector<double> figure_rates(double theta, std::span<const double> rates);

/// "YYYY-MM-DD HH:MM UTC": now, or SOURCE_DATE_EPOCH when that is set and
/// not empty; throws error when it is not a count of seconds.
std::string report_date();

/// What the figure module draws of b: the boundaries, a design's figures, the
/// evaluated file's name.
figure::boundary figure_boundary(const boundary_result& b);

/// The SVG figure of b, its curves through the rows at figure_rates.
std::string plot_svg(const boundary_result& b, std::span<const oc_row> curve);

/// The report page of b: the table's rows, and the figure through curve's.
std::string report_html(const boundary_result& b, std::span<const oc_row> curve,
                        std::span<const oc_row> table, const std::string& date,
                        std::span<const figure::stopping_curve> stopping = {});

// ---- Pieces of the reports, shared by the commands ----

/// printf of one double with fmt.
std::string printed(const char* fmt, double v);

/// The shortest decimal that reads back as v.
std::string shortest(double v);

/// The stopping rule in runs of patients, one indented line per run.
std::string rule_text(const boundary_result& b);

/// The text table of operating characteristics; with stops (one per row),
/// N's quantiles and E[N | stopped] in four more columns.
std::string oc_table(std::span<const oc_row> oc, bool lower, std::span<const stopping> stops);

/// The legend lines of the stopping columns.
std::string stopping_legend();

/// The report page's curves of the stopping distribution.
std::vector<figure::stopping_curve> stopped_by_curves(std::span<const stopping> stops);

// ---- The plan command ----

/// A plan with the designs at its answers, as the command line shows it.
struct plan_report {
  stopbound::plan_request request;
  stopbound::plan_result result;
  /// The design at one answer, with its rows at THETA0 and THETA1.
  struct answer {
    std::string role;  ///< "first", "stable"
    boundary_result design;
    std::vector<oc_row> oc;
    std::vector<stopping> stops;  ///< empty unless asked for
  };
  std::vector<answer> answers;  ///< the first answer, then the stable one when it differs
};

/// The scan, and the designs at its answers (with their stopping
/// distributions when `stopping`); throws std::invalid_argument for a request
/// the plan or a design refuses.
plan_report make_plan(const stopbound::plan_request& request, bool stopping);

/// The answer in sentences, as the text and the page state it.
std::vector<std::string> plan_answer(const plan_report& p);

/// The plan in the given format: text the answer and the designs, JSON the
/// answer with "scan", CSV the scan.
std::string render_plan(const plan_report& p, format f);

/// The SVG figure of the scan.
std::string plan_svg(const plan_report& p);

/// The report page: the answer, the scan's figure and the first answer's design.
std::string plan_html(const plan_report& p, const std::string& date);

}  // namespace cli
