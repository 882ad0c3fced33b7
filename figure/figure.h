// Pictures of a stopping boundary: a three-panel SVG figure (the boundary,
// the probability of stopping early and the expected number of patients
// against the true event probability) and a self-contained HTML report.
//
// The module only draws: it takes the numbers a design or an evaluation has
// already computed and never calls the engine. Its output is a pure function
// of its input (fixed-precision, locale-free number formatting), so the same
// numbers always give the same bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace figure {

// ---- Scales, ticks and numbers ---------------------------------------------

/// Maps the data interval [d0, d1] linearly onto the page interval [p0, p1]
/// (p1 < p0 for a y axis, which grows downwards on the page); d0 != d1.
struct linear_scale {
  double d0, d1, p0, p1;
  /// The page coordinate of data value v.
  [[nodiscard]] double operator()(double v) const;
  /// The data value at page coordinate p; invert(s(v)) == v up to rounding.
  [[nodiscard]] double invert(double p) const;
};

/// Evenly spaced tick values and the decimals that print them exactly.
struct tick_set {
  double step = 1;
  int decimals = 0;
  std::vector<double> values;
};

/// The smallest step of 1, 2 or 5 times a power of ten that cuts span > 0
/// into at most max_intervals >= 1 intervals (at least 1 when integer).
[[nodiscard]] double nice_step(double span, int max_intervals, bool integer = false);

/// The multiples of nice_step(hi - lo, max_intervals, integer) in [lo, hi],
/// lo < hi; each value is the double nearest its decimal.
[[nodiscard]] tick_set nice_ticks(double lo, double hi, int max_intervals, bool integer = false);

/// Ticks on a whole number of steps covering [lo, hi], lo < hi: from the
/// largest multiple of the step not above lo to the smallest not below hi.
[[nodiscard]] tick_set nice_axis(double lo, double hi, int max_intervals, bool integer = false);

/// v rounded to `decimals` places in the C locale, trailing zeros and a
/// trailing point dropped, never "-0"; "0" for a non-finite v.
[[nodiscard]] std::string fixed(double v, int decimals);

/// v with `digits` significant digits, as printf's %g prints it in the C
/// locale.
[[nodiscard]] std::string general(double v, int digits = 6);

/// Text made safe inside XML and HTML elements and quoted attributes: & < >
/// " ' as references; control characters and bytes that are not UTF-8 as
/// U+FFFD, so that any file name gives well-formed output.
[[nodiscard]] std::string xml_escape(std::string_view text);

// ---- What is drawn ---------------------------------------------------------

/// The operating characteristics at one true event probability theta.
struct oc_row {
  double theta;     ///< the true event probability
  double phi_star;  ///< probability of reaching the upper boundary
  double p_lower;   ///< probability of stopping at the lower boundary
  double mean_y, sd_y, mean_n, sd_n, mean_yn, sd_yn;
};

/// The attainable boundary one step more liberal than a design's.
struct next_boundary {
  double phi_star = 0;     ///< its probability of stopping early at THETA
  double alpha_used = 0;   ///< the largest tail P(Y_n >= b[n]) it uses
  std::vector<int> upper;  ///< its b[1..K] at index 0..K-1
};

/// A boundary pair with what is known about it: a design carries PHI, ALPHA,
/// PHI*, the largest tail it uses and its next more liberal boundary; an
/// evaluated file carries its name.
struct boundary {
  int K = 0;
  double theta = 0;                   ///< the event probability it was made for
  std::optional<double> phi;          ///< a design's requested PHI
  std::optional<double> alpha;        ///< a design's pointwise level
  std::optional<double> phi_star;     ///< a design's achieved PHI*
  std::optional<double> alpha_used;   ///< a design's largest tail used
  std::optional<next_boundary> next;  ///< a design's; none where no level below 1 gives one
  std::string file;                   ///< the evaluated file, empty for a design
  std::vector<int> upper;             ///< b[1..K] at index 0..K-1
  std::vector<int> lower;             ///< lower[1..K] at 0..K-1; empty: never stops low
  std::string program = "stopbound";  ///< program and version, for the credit line
  std::string family;                 ///< a design beyond the dialogue's: its family in words
  std::string looks;                  ///< and its looks, e.g. "10,20:30:5,40"; empty: every patient
  std::vector<bool> looked;           ///< at 0..K-1: whether patient n is looked at; empty: all
};

/// One line of the stopping rule: the patients first..last share the same
/// stopping counts; 0 for "cannot stop high", -1 for "cannot stop low".
struct rule_run {
  int first, last;
  int stop_at;     ///< stop once the events reach this count; 0: cannot
  int stop_below;  ///< stop once the events are at most this count; -1: cannot
};

/// The maximal runs of patients with the same reachable stopping counts.
[[nodiscard]] std::vector<rule_run> stopping_rule(const boundary& bd);

/// What a design's next more liberal boundary costs, for the line "Next more
/// liberal boundary: " of the reports: "PHI* = 0.0525067, using tails up to
/// 0.0327935 (b[10] = 5)", naming each run of patients whose b[n] differs
/// ("b[7..9] = 4"), PHI* with more than 6 digits where 6 would print it as
/// PHI; or "none (every level below 1 gives this boundary)".
[[nodiscard]] std::string next_boundary_text(const boundary& bd);

/// True when a lower boundary can stop the trial at some patient.
[[nodiscard]] bool has_lower(const boundary& bd);

/// The standalone SVG 1.1 document: the three panels for bd, with the
/// curves drawn through `curve` (rows in increasing theta, all finite).
[[nodiscard]] std::string svg_document(const boundary& bd, std::span<const oc_row> curve);

/// The probability that a boundary has stopped the trial by patient n, at
/// one true event probability; stopped_by[n - 1] for n = 1..K.
struct stopping_curve {
  double theta;
  std::vector<double> stopped_by;
};

/// What the report shows besides the boundary and its curve.
struct report_extras {
  std::span<const oc_row> table;  ///< the rows of the table, at the requested rates
  std::string version;            ///< e.g. "stopbound 1.2"
  std::string date;               ///< when the report was made
  /// When the trial stops, at the first (at most five) rates drawn; empty: not shown.
  std::span<const stopping_curve> stopping = {};
};

/// Most rates the figure of the stopping distribution draws.
inline constexpr std::size_t max_stopping_curves = 5;

/// The figure of the probability of having stopped by n, one line per curve (at most
/// max_stopping_curves drawn), as one <svg> element for a page.
[[nodiscard]] std::string stopping_svg_element(int K, std::span<const stopping_curve> curves);

/// One K of a sample-size plan's scan.
struct plan_point {
  int K;
  double power;     ///< P(stop) at the unacceptable rate
  double phi_star;  ///< P(stop) at the acceptable rate
};

/// A sample-size plan: the scan, its target and its two answers.
struct plan_chart {
  double theta0 = 0, theta1 = 0, phi = 0, power = 0;
  std::vector<plan_point> scan;  ///< increasing K, at least one
  std::optional<int> first_k;    ///< the smallest K reaching the power
  std::optional<int> stable_k;   ///< the smallest K from which every larger K reaches it
  std::string program = "stopbound";
};

/// The standalone SVG document of a plan: power and PHI* against K, the
/// target and the answers marked.
[[nodiscard]] std::string plan_svg_document(const plan_chart& chart);

/// The plan's report page: the answer in the given sentences, the plan's
/// figure, and when `design` is given the report of that design.
[[nodiscard]] std::string plan_html_report(const plan_chart& chart,
                                           std::span<const std::string> answer,
                                           const boundary* design, std::span<const oc_row> curve,
                                           const report_extras& extras);

/// The self-contained, printable XHTML report page: inputs and results, the
/// stopping rule, the table, the figure, the columns explained.
[[nodiscard]] std::string html_report(const boundary& bd, std::span<const oc_row> curve,
                                      const report_extras& extras);

}  // namespace figure
