// Internals of the command line shared by its source files and its tests:
// the grammar of numbers and rate lists, and the reader of boundary files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/results.h"

namespace cli {

/// Most rates one --oc list may give.
inline constexpr std::size_t max_rates = 10000;

/// Most decimal places a range bound or step may have.
inline constexpr int max_range_places = 60;

/// The whole token as a decimal int (optional sign, digits only, in range).
std::optional<int> parse_int(std::string_view token);

/// The whole token as a decimal number ([sign] digits [. digits] [e exp]),
/// rounded to the nearest double; no hex, infinities or NaN.
std::optional<double> parse_number(std::string_view token);

/// The rates of an --oc list in the order given: comma-separated numbers
/// strictly between 0 and 1 and ranges FROM:TO:STEP, each range rate the
/// double nearest the exact decimal FROM + i STEP; throws error naming the
/// item at fault.
std::vector<double> parse_rates(std::string_view text);

/// The boundary pair of a file in the boundary file's layout (THETA, K, K
/// lines "lower upper", the rest ignored), checked as the crossing engine
/// checks it; throws error naming the file and the line or patient at fault.
boundary_result read_boundary_file(const std::string& path);

}  // namespace cli
