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

/// The rates `evaluate` takes by default for a lower boundary that can stop:
/// the 0.05 grid 0.05 .. 0.95, each the double nearest its decimal, with
/// theta in its place unless it is one of them.
std::vector<double> full_grid(double theta);

/// The boundary pair of a file in the boundary file's layout (THETA, K, K
/// lines "lower upper", the rest ignored), from standard input for "-",
/// checked as the crossing engine checks it; throws error naming the file
/// ("standard input") and the line or patient at fault.
boundary_result read_boundary_file(const std::string& path);

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
                        std::span<const oc_row> table, const std::string& date);

}  // namespace cli
