// What the command line computes and prints: a designed or given boundary
// pair, its stopping rule in runs of patients, and operating characteristics
// at any list of event probabilities; with the writers of the three formats.
// Everything here is plain data and free functions, so that other outputs of
// the command line (pictures, pages) work from the same numbers.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "figure/figure.h"
#include "stopbound/stopbound.h"

namespace cli {

/// A failure the command line reports as one line "stopbound: <what>" on
/// standard error, with exit status 1.
struct error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The project's version, e.g. "1.2".
const char* version();

/// "stopbound " and the version, as --version and every report name the program.
std::string program_and_version();

/// Which command produced a boundary.
enum class command { design, evaluate };

/// A maximal run of patients first..last sharing one stopping count, as the
/// public interface builds them.
using rule_run = stopbound::rule_run;

/// A boundary pair with what is known about it. Vectors are indexed by
/// patient 1..K; entry 0 is unused (and set to the never-stopping value).
struct boundary_result {
  command kind = command::design;
  std::string program;  ///< the invocation name, for the boundary file
  std::string file;     ///< evaluate: the file as named on the command line
  int K = 0;
  double theta = 0.0;     ///< the design's (or the file's) event probability
  double phi = 0.0;       ///< design only: the PHI asked for
  double alpha = 0.0;     ///< design only: ALPHA (other families: alpha_used)
  double phi_star = 0.0;  ///< design only: PHI* at THETA
  stopbound::family fam{};             ///< design only: the boundary family
  std::vector<int> looks;              ///< design only: the patients looked at, ending at K
  int min_events = 0;                  ///< design only: no stop with fewer events
  double alpha_used = 0.0;             ///< design only: the largest pointwise tail used
  double threshold = 0.0;              ///< design only: the family's threshold
  bool within_bound = false;           ///< design only: PHI* <= PHI decided inside the error bound
  std::optional<stopbound::alternative> next;  ///< design only: the next more liberal boundary
  std::vector<int> lower;  ///< stop low after patient n when Y_n <= lower[n]
  std::vector<int> upper;  ///< stop high after patient n when Y_n >= upper[n]
  std::vector<rule_run> rule;        ///< runs of equal upper[n] <= n
  std::vector<rule_run> rule_lower;  ///< runs of equal lower[n] >= 0
};

/// Operating characteristics at one event probability: the figure's own row,
/// so that the pictures draw the very rows the report prints.
using oc_row = figure::oc_row;

/// Output formats of both commands.
enum class format { text, json, csv };

/// Whether a design asks for more than the dialogue's: another family,
/// looks at fewer patients or a minimum number of events.
bool beyond_dialogue(const boundary_result& b);

/// The design for request through the public interface (for pocock at every
/// patient, K <= 255 and no minimum, the dialogue's ALPHA, PHI* and
/// boundary), with lower[n] = -1; throws std::invalid_argument on a bad request.
boundary_result design_boundary(const stopbound::design_request& request);

/// Fills rule and rule_lower from lower and upper.
void fill_rule(boundary_result& b);

/// Operating characteristics of b at each rate, in order, through the public
/// interface (the dialogue's summary wherever it applies). Rates must lie
/// strictly between 0 and 1, and b must be a pair check_boundary accepts.
std::vector<oc_row> oc_rows(const boundary_result& b, std::span<const double> rates);

/// The report in the given format, ready for standard output.
std::string render(const boundary_result& b, std::span<const oc_row> oc, format f);

/// When the trial stops, at one rate (--stopping).
using stopping = stopbound::stopping;

/// The report with the stopping distribution at each oc row (stops[i] at
/// oc[i]): quantiles in the text's table (and rows per patient when
/// per_patient), "stopping" in each JSON "oc" entry, CSV the long table.
std::string render(const boundary_result& b, std::span<const oc_row> oc,
                   std::span<const stopping> stops, bool per_patient, format f);

/// b as the interface takes it: 0-based, with an upper count past n + 1
/// written n + 1 and a lower one below -1 written -1 (both: cannot stop).
stopbound::boundary interface_boundary(const boundary_result& b);

/// The stopping distribution of b at each rate, in order.
std::vector<stopping> stopping_rows(const boundary_result& b, std::span<const double> rates);

/// The interface's rows as the reports and pictures take them.
std::vector<oc_row> report_rows(std::span<const stopbound::oc_row> rows);

/// A design made through the interface, as the reports show it.
boundary_result from_design(const stopbound::design& d);

}  // namespace cli
