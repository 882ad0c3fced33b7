// The engine's public interface: designs of upper stopping boundaries for a
// single-arm trial with a binary outcome monitored as patients accrue, and
// the exact operating characteristics and stopping distribution of any pair
// of boundaries. The command line, the R and Python packages and C++ callers
// all go through these functions; nothing here reads or writes a stream or
// ends the process: bad arguments throw std::invalid_argument with a message
// naming the quantity, and a failed allocation throws std::bad_alloc.
//
// Boundaries are 0-based: entry i belongs to patient n = i + 1. After
// patient n the trial stops high when Y_n >= upper[i] and low when
// Y_n <= lower[i]; upper[i] = n + 1 and lower[i] = -1 never stop.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stopbound {

/// Most patients a design or an evaluated boundary may have.
inline constexpr int max_k = 10000;

/// The boundary shapes a design can take.
enum class family_kind { pocock, wt, bayes, sprt, maxsprt };

/// A boundary family with its parameters (only those of its kind are read).
struct family {
  family_kind kind = family_kind::pocock;
  double delta = 0.0;   ///< wt: 0 (O'Brien-Fleming) .. 0.5
  double a = 1.0;       ///< bayes: Beta(a, b) prior
  double b = 1.0;
  double theta1 = 0.0;  ///< sprt: the unacceptable rate, theta < theta1 < 1
};

/// The family named "pocock", "obf", "wt:DELTA", "bayes", "bayes:A,B",
/// "sprt:THETA1" or "maxsprt"; throws std::invalid_argument listing them.
family parse_family(std::string_view text);

/// The family as parse_family reads it back, e.g. "wt:0.25", "bayes:1,1".
std::string family_text(const family& f);

/// The family in words for a report, e.g. "an O'Brien-Fleming upper boundary".
std::string family_title(const family& f);

/// What a design is asked for.
struct design_request {
  int K = 0;           ///< 1..max_k
  double theta = 0.0;  ///< strictly inside (0, 1)
  double phi = 0.0;    ///< strictly inside (0, 1)
  family fam{};
  std::vector<int> looks;  ///< strictly increasing in 1..K; empty: every patient
  int min_events = 0;      ///< no stop with fewer events, 0..K
};

/// A pair of boundaries over patients 1..K (see the file comment).
struct boundary {
  std::vector<int> lower;
  std::vector<int> upper;
};

/// The next attainable boundary more liberal than a design's.
struct alternative {
  double threshold = 0.0;   ///< its threshold on the family's statistic
  double alpha_used = 0.0;  ///< its largest pointwise tail
  double phi_star = 0.0;    ///< its crossing probability, > phi
  std::vector<int> upper;
};

/// The most liberal attainable boundary with PHI* <= phi.
struct design {
  design_request request;      ///< as asked, looks made explicit and ending at K
  boundary bounds;       ///< lower all -1
  /// pocock: ALPHA as the dialogue prints it (elsewhere by its rule, midway
  /// between alpha_used and next's); other families: alpha_used
  double alpha = 0.0;
  double alpha_used = 0.0;  ///< max of P(Y_n >= upper) over patients who can stop; 0 if none
  /// the family's threshold: pocock -alpha_used, bayes the posterior
  /// probability P(p > theta | data), others the statistic's value; +inf
  /// (pocock 0) when no attainable threshold qualifies and nothing can stop
  double threshold = 0.0;
  double phi_star = 0.0;    ///< P(reaching the upper boundary) under theta
  bool within_bound = false;  ///< PHI* <= phi was decided inside the stated error bound
  std::optional<alternative> next;  ///< none when no more liberal boundary exists
};

/// Reusable tables and scratch for designs and evaluations; one per thread.
class workspace {
 public:
  workspace();
  ~workspace();
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;
  struct impl;
  impl& get();

 private:
  std::unique_ptr<impl> impl_;
};

/// Throws std::invalid_argument naming the first of K, THETA, PHI, the
/// family, the looks or the minimum that is out of range.
void check_request(const design_request& request);

/// The design for request; equal, for pocock at every patient with no minimum
/// and K <= 255, to the dialogue's boundary, ALPHA and PHI*.
design make_design(const design_request& request, workspace& ws);
design make_design(const design_request& request);

/// Throws std::invalid_argument, naming the patient at fault, unless lower
/// and upper have one length K in 1..max_k and at every patient n
/// -1 <= lower < upper <= n + 1, upper >= 1 and lower[1] <= 0: the pairs the
/// engine evaluates.
void check_boundary(std::span<const int> lower, std::span<const int> upper);

/// Operating characteristics at one event probability; probabilities lie in
/// [0, 1], mean_n in [1, K], standard deviations >= 0.
struct oc_row {
  double theta;
  double phi_star;  ///< P(stop high)
  double p_lower;   ///< P(stop low)
  double mean_y, sd_y;    ///< events at the end
  double mean_n, sd_n;    ///< patients at the end
  double mean_yn, sd_yn;  ///< observed rate Y/N at the end
};

/// One row per rate (each strictly inside (0, 1)), bit for bit the
/// dialogue's figures where the dialogue computes them.
std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates,
                                              workspace& ws);
std::vector<oc_row> operating_characteristics(const boundary& b, std::span<const double> rates);

/// When a trial under b stops, at one event probability. Vectors are
/// 0-based by patient like the boundaries.
struct stopping {
  double theta = 0.0;
  std::vector<double> p_high, p_low;      ///< P(stop high / low right after patient n)
  std::vector<double> cum_high, cum_low;  ///< their running sums
  int q10 = 0, median = 0, q90 = 0;  ///< smallest n with P(N <= n) >= q; no stop ends at K
  std::optional<double> mean_n_stopped;  ///< E[N | stopped early]; none if it never can
};

/// The stopping distribution of b at theta (strictly inside (0, 1)).
stopping stopping_distribution(const boundary& b, double theta, workspace& ws);

/// What a sample-size plan is asked for: the designs for (K, theta0, phi,
/// fam, looks every looks_every patients ending at K, min_events) for K =
/// k_min..k_max, and the power P(stop | theta1) each must reach.
struct plan_request {
  double theta0 = 0.0;  ///< the acceptable rate, strictly inside (0, 1)
  double theta1 = 0.0;  ///< the unacceptable rate, theta0 < theta1 < 1
  double phi = 0.0;     ///< strictly inside (0, 1)
  double power = 0.0;   ///< strictly inside (0, 1)
  family fam{};
  int looks_every = 1;  ///< 1..max_k
  int min_events = 0;   ///< 0..max_k
  int k_min = 1;        ///< 1 <= k_min <= k_max <= max_k
  int k_max = 1000;
};

/// One K of a plan's scan.
struct plan_entry {
  int K = 0;
  double phi_star = 0.0;  ///< the design's PHI* at theta0
  double power = 0.0;     ///< P(stop | theta1)
  double mean_n0 = 0.0;   ///< E[N] at theta0
  double mean_n1 = 0.0;   ///< E[N] at theta1
};

/// A plan: the scan in increasing K and the two answers.
struct plan_result {
  std::vector<plan_entry> scan;
  std::optional<int> first_k;   ///< the smallest K whose power reaches the target
  std::optional<int> stable_k;  ///< the smallest K from which every K up to k_max reaches it
  int best_k = 0;               ///< the smallest K with the largest power
  double best_power = 0.0;
};

/// Throws std::invalid_argument naming the first of THETA0, THETA1, PHI,
/// POWER, --looks-every, --min-events, --k-min and --k-max out of range.
void check_plan(const plan_request& request);

/// The design the plan makes at K: looks at looks_every, 2 looks_every, ...
/// and K (empty, every patient, when looks_every is 1).
design_request plan_design_request(const plan_request& request, int K);

/// The scan over K = k_min..k_max with its answers; a K below min_events
/// has the boundary that never stops.
plan_result plan_scan(const plan_request& request, workspace& ws);
plan_result plan_scan(const plan_request& request);

/// A maximal run of patients first..last sharing one stopping count.
struct rule_run {
  int first;
  int last;
  int stop_at;  ///< upper: this many events or more; lower: this many or fewer
};

/// The runs of an upper boundary over the patients who can stop (upper <= n).
std::vector<rule_run> upper_runs(std::span<const int> upper);

/// The runs of a lower boundary over the patients who can stop (lower >= 0).
std::vector<rule_run> lower_runs(std::span<const int> lower);

}  // namespace stopbound
