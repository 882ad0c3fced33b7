// The JSON pieces the reports of the commands share; only the command
// line's own sources include this, as only they link the JSON writer.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <vector>

#include "cli/results.h"

namespace cli {

/// The rule runs as JSON objects {"first", "last", "stop_at"}.
nlohmann::ordered_json runs(const std::vector<rule_run>& rule);

/// The JSON "oc" array, with "stopping" in each entry when stops is not empty.
nlohmann::ordered_json oc_json(std::span<const oc_row> oc, std::span<const stopping> stops);

}  // namespace cli
