// The figure module's own pieces, shared by its sources and its tests: SVG
// path data, the page layout with each panel's scales, and the figure as an
// element that the report embeds.
#pragma once

#include <span>
#include <string>

#include "figure/figure.h"

namespace figure::internal {

/// Decimals of every page coordinate: 0.01 unit is 2.5 micrometres on paper.
inline constexpr int coordinate_decimals = 2;

/// v with exactly `places` (0 to 17) decimals in the C locale, trailing zeros
/// kept, never a minus sign before a value that rounds to zero.
[[nodiscard]] std::string fixed_places(double v, int places);

/// A page coordinate as written into the figure.
inline std::string coord(double v) { return fixed(v, coordinate_decimals); }

/// SVG path data in absolute page coordinates: "M x,y L x,y ... Z".
class path_data {
 public:
  /// Starts a new piece at (x, y).
  void move_to(double x, double y);
  /// A straight segment from the last point to (x, y); starts a piece when
  /// there is none.
  void line_to(double x, double y);
  /// Closes the current piece back to its start.
  void close();
  [[nodiscard]] bool empty() const { return d_.empty(); }
  [[nodiscard]] const std::string& str() const { return d_; }

 private:
  void point(char command, double x, double y);
  std::string d_;
  bool open_ = false;
};

/// One panel's plot area: data scales onto the page and the ticks drawn.
struct panel {
  linear_scale x, y;
  tick_set x_ticks, y_ticks;
};

/// The three panels of a figure: the boundary against patient n, and the
/// probability of stopping early and E[N] against the true event probability.
struct layout {
  panel boundary, stopping, patients;
};

/// Where the figure of bd puts its panels.
[[nodiscard]] layout figure_layout(const boundary& bd);

/// The figure as one <svg> element, ready to stand alone or to be inlined.
[[nodiscard]] std::string svg_element(const boundary& bd, std::span<const oc_row> curve);

/// The row of the curve at exactly theta, or nullptr.
[[nodiscard]] const oc_row* row_at(std::span<const oc_row> curve, double theta);

}  // namespace figure::internal
