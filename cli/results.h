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

/// A maximal run of patients first..last sharing one stopping count.
struct rule_run {
  int first;
  int last;
  int stop_at;  ///< upper runs: stop at this many events or more; lower: this many or fewer
};

/// A design's next attainable boundary, one step more liberal: the boundary
/// of the first candidate level above ALPHA that gives another one.
struct next_design {
  double phi_star = 0.0;    ///< its PHI* at THETA, computed as the design's is
  double alpha_used = 0.0;  ///< the largest tail P(Y_n >= upper[n]) it uses
  std::vector<int> upper;   ///< indexed by patient 1..K, entry 0 unused
};

/// A boundary pair with what is known about it. Vectors are indexed by
/// patient 1..K; entry 0 is unused (and set to the never-stopping value).
struct boundary_result {
  command kind = command::design;
  std::string program;  ///< the invocation name, for the boundary file
  std::string file;     ///< evaluate: the file as named on the command line
  int K = 0;
  double theta = 0.0;     ///< the design's (or the file's) event probability
  double phi = 0.0;       ///< design only: the PHI asked for
  double alpha = 0.0;     ///< design only: ALPHA
  double phi_star = 0.0;  ///< design only: PHI* at THETA
  double alpha_used = 0.0;  ///< design only: the largest tail P(Y_n >= upper[n]) used, 0 if none
  std::optional<next_design> next;  ///< design only: none when no level below 1 gives one
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

/// The design for K, theta and phi: the dialogue's ALPHA, PHI* and boundary,
/// with lower[n] = -1, the largest tail it uses and its next more liberal
/// boundary; throws cli::error if the level search fails.
boundary_result design_boundary(int K, double theta, double phi);

/// Fills rule and rule_lower from lower and upper.
void fill_rule(boundary_result& b);

/// Operating characteristics of b at each rate, in order: the dialogue's
/// summary for each, plus the probability of stopping low, each figure within
/// its range (within_range). Rates must lie strictly between 0 and 1, and b
/// must be a pair the crossing engine accepts.
std::vector<oc_row> oc_rows(const boundary_result& b, std::span<const double> rates);

/// The report in the given format, ready for standard output.
std::string render(const boundary_result& b, std::span<const oc_row> oc, format f);

}  // namespace cli
