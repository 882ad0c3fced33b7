// The three-panel SVG figure of a boundary: A, the boundary against patient
// n with its stopping region; B, the probability of stopping early against
// the true event probability; C, the expected number of patients with a band
// of one standard deviation.
//
// The page is 180 x 225 mm (a printed page less generous margins, A4 or
// Letter) in units of 0.25 mm. Only presentation attributes and generic font
// families are used, no scripts, no style sheets, no references outside the
// document, so that every SVG 1.1 viewer and printer draws the same thing.
#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "figure/figure.h"
#include "figure/internal.h"

namespace figure {

namespace internal {

void path_data::point(char command, double x, double y) {
  if (!d_.empty()) d_ += ' ';
  d_ += command;
  d_ += coord(x);
  d_ += ',';
  d_ += coord(y);
}

void path_data::move_to(double x, double y) {
  point('M', x, y);
  open_ = true;
}

void path_data::line_to(double x, double y) {
  point(open_ ? 'L' : 'M', x, y);
  open_ = true;
}

void path_data::close() {
  if (!open_) return;
  d_ += " Z";
  open_ = false;
}

}  // namespace internal

namespace {

using internal::coord;
using internal::panel;
using internal::path_data;

// ---- Page geometry, in units of 0.25 mm -----------------------------------

constexpr double page_width = 720;
constexpr double page_height = 900;
constexpr double plot_left = 84;  // room for tick labels and the y label
constexpr double plot_right = 700;
constexpr double plot_height = 170;
constexpr std::array<double, 3> plot_top{112, 377, 642};

constexpr double font_size = 11;  // 2.75 mm, about 8 pt
constexpr double title_size = 15;
// A generous average advance of a sans-serif character, for placing legend
// entries one after another without measuring text.
constexpr double char_width = 0.6 * font_size;

// Most intervals an axis may have before its tick labels crowd.
constexpr int x_intervals = 10;
constexpr int y_intervals = 6;

// The band of E[N] +- 1 SD is cut at the possible range of N.
constexpr double min_patients = 1;

// Colours that stay apart in grey print: dark red and blue for the two
// boundaries and their probabilities, green for E[N], pale fills beneath.
constexpr std::string_view upper_colour = "#b2182b";
constexpr std::string_view upper_fill = "#f7d4cc";
constexpr std::string_view lower_colour = "#2166ac";
constexpr std::string_view lower_fill = "#cfe1f2";
constexpr std::string_view size_colour = "#1b7837";
constexpr std::string_view size_fill = "#cde8c8";
constexpr std::string_view guide_colour = "#555555";
constexpr std::string_view grid_colour = "#e3e3e3";
constexpr std::string_view dash = "6 4";
constexpr std::string_view dots = "2 3";

// ---- Writing elements -------------------------------------------------------

struct stroke_style {
  std::string_view colour;
  double width = 1.5;
  std::string_view dasharray = {};
};

class svg_out {
 public:
  std::string& str() { return s_; }

  void raw(std::string_view text) { s_ += text; }

  void line(double x1, double y1, double x2, double y2, const stroke_style& st,
            std::string_view cls = {}) {
    s_ += "<line";
    class_attr(cls);
    s_ += " x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" +
          coord(y2) + "\"";
    stroke_attrs(st);
    s_ += "/>\n";
  }

  void path(const path_data& d, std::string_view cls, const stroke_style& st) {
    if (d.empty()) return;
    s_ += "<path";
    class_attr(cls);
    s_ += " d=\"" + d.str() + R"(" fill="none")";
    stroke_attrs(st);
    s_ += " stroke-linejoin=\"round\"/>\n";
  }

  void area(const path_data& d, std::string_view cls, std::string_view fill) {
    if (d.empty()) return;
    s_ += "<path";
    class_attr(cls);
    s_ += " d=\"" + d.str() + "\" fill=\"" + std::string(fill) + "\" stroke=\"none\"/>\n";
  }

  void rect(double x, double y, double w, double h, std::string_view fill,
            const stroke_style* st = nullptr) {
    s_ += "<rect x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" width=\"" + coord(w) +
          "\" height=\"" + coord(h) + "\" fill=\"" + std::string(fill) + "\"";
    if (st != nullptr) stroke_attrs(*st);
    s_ += "/>\n";
  }

  // `text` is plain text; it is escaped here.
  void text(double x, double y, std::string_view text, std::string_view anchor = "start",
            double size = font_size, std::string_view extra = {}) {
    s_ += "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\"";
    if (anchor != "start") s_ += " text-anchor=\"" + std::string(anchor) + "\"";
    if (size != font_size) s_ += " font-size=\"" + coord(size) + "\"";
    if (!extra.empty()) {
      s_ += ' ';
      s_ += extra;
    }
    s_ += '>' + xml_escape(text) + "</text>\n";
  }

  void circle(double cx, double cy, double r, std::string_view fill, std::string_view cls = {}) {
    s_ += "<circle";
    class_attr(cls);
    s_ += " cx=\"" + coord(cx) + "\" cy=\"" + coord(cy) + "\" r=\"" + coord(r) + "\" fill=\"" +
          std::string(fill) + "\"/>\n";
  }

  void open_group(std::string_view attrs) { s_ += "<g " + std::string(attrs) + ">\n"; }
  void close_group() { s_ += "</g>\n"; }

 private:
  void class_attr(std::string_view cls) {
    if (!cls.empty()) s_ += " class=\"" + std::string(cls) + "\"";
  }
  void stroke_attrs(const stroke_style& st) {
    s_ += " stroke=\"" + std::string(st.colour) + "\" stroke-width=\"" + coord(st.width) + "\"";
    if (!st.dasharray.empty()) s_ += " stroke-dasharray=\"" + std::string(st.dasharray) + "\"";
  }

  std::string s_;
};

// ---- Panels -------------------------------------------------------------------

panel make_panel(int index, double x0, double x1, double y0, double y1, tick_set xt, tick_set yt) {
  const double top = plot_top.at(index);
  return {{x0, x1, plot_left, plot_right},
          {y0, y1, top + plot_height, top},
          std::move(xt),
          std::move(yt)};
}

// The counts panel A draws: an upper count above n + 1 can never be reached
// and a lower one below -1 never stops, so clipping there (n + 1 and -1 mean
// "cannot stop") keeps the axis at counts that can occur, whatever a file
// holds (2147483647 for "never").
boundary plotted_counts(const boundary& bd) {
  boundary out = bd;
  for (std::size_t i = 0; i < out.upper.size(); ++i)
    out.upper[i] =
        static_cast<int>(std::min<long long>(out.upper[i], static_cast<long long>(i) + 2));
  for (int& v : out.lower) v = std::max(v, -1);
  return out;
}

double max_upper(const boundary& bd) {
  const std::vector<int> upper = plotted_counts(bd).upper;
  return *std::max_element(upper.begin(), upper.end());
}

// Grid, frame, ticks and axis labels of one panel; the grid goes beneath the
// data, the rest is drawn over it by frame_and_axes.
void grid(svg_out& out, const panel& p) {
  const stroke_style st{grid_colour, 0.75};
  out.open_group("class=\"grid\"");
  for (const double v : p.x_ticks.values) out.line(p.x(v), p.y.p1, p.x(v), p.y.p0, st);
  for (const double v : p.y_ticks.values) out.line(p.x.p0, p.y(v), p.x.p1, p.y(v), st);
  out.close_group();
}

void frame_and_axes(svg_out& out, const panel& p, std::string_view x_label,
                    std::string_view y_label) {
  const stroke_style axis{"#000000", 1};
  const stroke_style frame{"#000000", 1};
  out.rect(p.x.p0, p.y.p1, p.x.p1 - p.x.p0, p.y.p0 - p.y.p1, "none", &frame);
  constexpr double tick_length = 5;
  out.open_group("class=\"axis axis-x\"");
  for (const double v : p.x_ticks.values) {
    out.open_group("class=\"tick\"");
    out.line(p.x(v), p.y.p0, p.x(v), p.y.p0 + tick_length, axis);
    out.text(p.x(v), p.y.p0 + tick_length + font_size + 1, fixed(v, p.x_ticks.decimals), "middle");
    out.close_group();
  }
  out.text((p.x.p0 + p.x.p1) / 2, p.y.p0 + 40, x_label, "middle", font_size + 1,
           "class=\"axis-label\"");
  out.close_group();
  out.open_group("class=\"axis axis-y\"");
  for (const double v : p.y_ticks.values) {
    out.open_group("class=\"tick\"");
    out.line(p.x.p0 - tick_length, p.y(v), p.x.p0, p.y(v), axis);
    out.text(p.x.p0 - tick_length - 3, p.y(v) + font_size * 0.35, fixed(v, p.y_ticks.decimals),
             "end");
    out.close_group();
  }
  const double mid = (p.y.p0 + p.y.p1) / 2;
  const double x = p.x.p0 - 52;
  out.text(x, mid, y_label, "middle", font_size + 1,
           R"(class="axis-label" transform="rotate(-90 )" + coord(x) + " " + coord(mid) + ")\"");
  out.close_group();
}

// One entry of a legend: a swatch and its label.
struct legend_entry {
  enum class swatch { line, fill, point };
  std::string label;
  std::string_view colour;
  swatch kind = swatch::line;
  std::string_view dasharray = {};
};

// The panel's title on the first row above its plot, its legend on the
// second, so that labels never lie on the data.
void heading(svg_out& out, const panel& p, std::string_view title,
             std::span<const legend_entry> legend) {
  out.text(p.x.p0 - 2, p.y.p1 - 24, title, "start", font_size + 1,
           R"(font-weight="bold" class="panel-title")");
  const double y = p.y.p1 - 8;
  double x = p.x.p0;
  out.open_group("class=\"legend\"");
  for (const legend_entry& e : legend) {
    switch (e.kind) {
      case legend_entry::swatch::fill:
        out.rect(x, y - 8, 18, 9, e.colour);
        break;
      case legend_entry::swatch::point:
        out.circle(x + 9, y - 3.5, 3.5, e.colour);
        break;
      case legend_entry::swatch::line:
        out.line(x, y - 3.5, x + 18, y - 3.5, {e.colour, 2, e.dasharray});
        break;
    }
    out.text(x + 23, y, e.label);
    x += 23 + (static_cast<double>(e.label.size()) + 3) * char_width;
  }
  out.close_group();
}

// Patients are drawn as columns of width one centred on n.
constexpr double half_step = 0.5;

// The boundary as a step line: level v[n-1] over [n - 1/2, n + 1/2]; counts
// that cannot stop (below 0 for a lower boundary) break the line.
// Patients without a look break the line too.
path_data step_line(const panel& p, std::span<const int> v, bool lower,
                    const std::vector<bool>& looked) {
  path_data d;
  bool drawing = false;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const double n = static_cast<double>(i) + 1;
    if ((lower && v[i] < 0) || (!looked.empty() && !looked[i])) {
      drawing = false;
      continue;
    }
    const double y = p.y(v[i]);
    if (drawing) {
      d.line_to(p.x(n - half_step), y);
    } else {
      d.move_to(p.x(n - half_step), y);
    }
    d.line_to(p.x(n + half_step), y);
    drawing = true;
  }
  return d;
}

// Whether the stopping region above the upper boundary has an area: some
// patient n can stop (b[n] <= n) below K events, the most there can be.
bool upper_region_has_area(const boundary& bd) {
  for (std::size_t i = 0; i < bd.upper.size(); ++i)
    if (bd.upper[i] <= static_cast<int>(i) + 1 && bd.upper[i] < bd.K) return true;
  return false;
}

// Whether the stopping region below a lower boundary has a height: some
// lower[n] is above 0 (a boundary at 0 stops on the zero line itself).
bool lower_region_has_height(const boundary& bd) {
  return std::any_of(bd.lower.begin(), bd.lower.end(), [](int v) { return v > 0; });
}

// The stopping region above the upper boundary: between the step line and
// y = n (more events than patients cannot happen), cut at K events (no more
// can happen at all) and at the top of the panel. Over patient n's column
// the top is min(cap, max(b, x)) with cap = min(top, max(b, K)), piecewise
// linear with kinks where x meets b or the cap; past x = K nothing rises.
path_data upper_region(const panel& p, std::span<const int> b) {
  const double top = p.y.d1;
  path_data d;
  const auto K = b.size();
  const auto most = static_cast<double>(K);
  for (std::size_t i = 0; i < K; ++i) {
    const double n = static_cast<double>(i) + 1;
    d.line_to(p.x(n - half_step), p.y(b[i]));
    d.line_to(p.x(n + half_step), p.y(b[i]));
  }
  for (std::size_t i = K; i-- > 0;) {
    const double n = static_cast<double>(i) + 1;
    const double a = n - half_step;
    const double c = n + half_step;
    const double level = b[i];
    const double cap = std::min(top, std::max(level, most));
    const auto edge = [&](double x) { d.line_to(p.x(x), p.y(std::min(cap, std::max(level, x)))); };
    edge(c);
    const double high = std::max(level, cap);
    const double low = std::min(level, cap);
    if (high > a && high < c) edge(high);
    if (low > a && low < c && low != high) edge(low);
    edge(a);
  }
  d.close();
  return d;
}

// The stopping region below a lower boundary: counts 0..lower[n].
path_data lower_region(const panel& p, std::span<const int> lower) {
  path_data d;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if (lower[i] <= 0) continue;
    const double n = static_cast<double>(i) + 1;
    d.move_to(p.x(n - half_step), p.y(0));
    d.line_to(p.x(n - half_step), p.y(lower[i]));
    d.line_to(p.x(n + half_step), p.y(lower[i]));
    d.line_to(p.x(n + half_step), p.y(0));
    d.close();
  }
  return d;
}

// A curve through (theta, f(row)); a non-finite value breaks it.
template <class F>
path_data curve_line(const panel& p, std::span<const oc_row> curve, F f) {
  path_data d;
  bool drawing = false;
  for (const oc_row& r : curve) {
    const double v = f(r);
    if (!std::isfinite(v) || !std::isfinite(r.theta)) {
      drawing = false;
      continue;
    }
    if (drawing) {
      d.line_to(p.x(r.theta), p.y(v));
    } else {
      d.move_to(p.x(r.theta), p.y(v));
    }
    drawing = true;
  }
  return d;
}

// E[N] +- SD[N], cut at 1..K: along the upper edge, back along the lower.
path_data size_band(const panel& p, std::span<const oc_row> curve, int K) {
  path_data d;
  for (const oc_row& r : curve)
    d.line_to(p.x(r.theta), p.y(std::clamp(r.mean_n + r.sd_n, min_patients, double(K))));
  for (std::size_t i = curve.size(); i-- > 0;) {
    const oc_row& r = curve[i];
    d.line_to(p.x(r.theta), p.y(std::clamp(r.mean_n - r.sd_n, min_patients, double(K))));
  }
  d.close();
  return d;
}

// A guide's label, drawn beneath the series without a ground: a curve may
// cross the text, but the label never hides any of the data.
struct guide_label {
  double x, y;
  std::string text;
  std::string_view anchor;
};

void draw_labels(svg_out& out, std::span<const guide_label> labels) {
  for (const guide_label& l : labels)
    out.text(l.x, l.y, l.text, l.anchor, font_size, R"(class="guide-label" fill="#555555")");
}

// A dashed guide across the panel at x = v; its label goes near the top.
guide_label vertical_guide(svg_out& out, const panel& p, double v, std::string label,
                           std::string_view cls) {
  out.line(p.x(v), p.y.p0, p.x(v), p.y.p1, {guide_colour, 1, dash}, cls);
  const bool right_half = v > (p.x.d0 + p.x.d1) / 2;
  return {p.x(v) + (right_half ? -4 : 4), p.y.p1 + font_size + 2, std::move(label),
          right_half ? "end" : "start"};
}

// A dashed guide across the panel at y = v; its label goes at the right end,
// above the line, or below it when the line runs along the top.
guide_label horizontal_guide(svg_out& out, const panel& p, double v, std::string label,
                             std::string_view cls) {
  out.line(p.x.p0, p.y(v), p.x.p1, p.y(v), {guide_colour, 1, dash}, cls);
  const bool near_top = p.y(v) - p.y.p1 < 2 * font_size;
  return {p.x.p1 - 4, p.y(v) + (near_top ? font_size + 3 : -4), std::move(label), "end"};
}

// A long file name keeps its end, where the name itself is.
std::string shortened(std::string_view name, std::size_t max_bytes) {
  if (name.size() <= max_bytes) return std::string(name);
  std::size_t start = name.size() - max_bytes;
  while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0u) == 0x80u) ++start;
  return "..." + std::string(name.substr(start));
}

double phi_star_at_theta(const boundary& bd, std::span<const oc_row> curve) {
  if (bd.phi_star) return *bd.phi_star;
  const oc_row* r = internal::row_at(curve, bd.theta);
  return r != nullptr ? r->phi_star : std::nan("");
}

void title(svg_out& out, const boundary& bd, std::span<const oc_row> curve) {
  std::string first;
  std::string second;
  const std::string theta = "THETA = " + general(bd.theta);
  const std::string K = "K = " + std::to_string(bd.K);
  if (bd.file.empty()) {
    first = "Stopping boundary for " + K + ", " + theta;
    if (bd.phi) first += ", PHI = " + general(*bd.phi);
    if (bd.alpha) second = "ALPHA = " + general(*bd.alpha) + ", ";
  } else {
    constexpr std::size_t longest_name = 48;
    first = "Boundary from " + shortened(bd.file, longest_name) + ": " + K + ", " + theta;
  }
  if (!bd.family.empty()) {
    first += ": " + bd.family;
    if (!bd.looks.empty()) second += "looks at " + bd.looks + ", ";
  }
  const double ps = phi_star_at_theta(bd, curve);
  if (std::isfinite(ps)) second += "PHI* = " + general(ps) + ", ";
  second += "exact binomial calculations";
  out.text(page_width / 2, 30, first, "middle", title_size, R"(font-weight="bold" class="title")");
  out.text(page_width / 2, 50, second, "middle", font_size + 1, "class=\"subtitle\"");
}

// A region without area is not drawn, and its legend shows no filled
// swatch: a lower boundary at 0 alone is its line, named for what it does.
void boundary_panel(svg_out& out, const panel& p, const boundary& bd) {
  const bool lower = has_lower(bd);
  const bool upper_area = upper_region_has_area(bd);
  const bool lower_area = lower && lower_region_has_height(bd);
  using kind = legend_entry::swatch;
  std::vector<legend_entry> legend{{"upper boundary b[n]", upper_colour}};
  if (upper_area) legend.push_back({"stop high", upper_fill, kind::fill});
  if (lower) {
    legend.push_back(
        {lower_area ? "lower boundary" : "lower boundary: stop low at 0 events", lower_colour});
    if (lower_area) legend.push_back({"stop low", lower_fill, kind::fill});
  }
  legend.push_back({"y = n", guide_colour, kind::line, dots});
  out.open_group(R"(id="panel-boundary" class="panel")");
  heading(out, p, "A. Stopping boundary", legend);
  grid(out, p);
  if (upper_area) out.area(upper_region(p, bd.upper), "region-upper", upper_fill);
  if (lower_area) out.area(lower_region(p, bd.lower), "region-lower", lower_fill);
  // y = n from the origin to where it leaves the panel.
  const double end = std::min(p.x.d1, p.y.d1);
  out.line(p.x(0), p.y(0), p.x(end), p.y(end), {guide_colour, 1, dots}, "series-diagonal");
  if (lower) out.path(step_line(p, bd.lower, true, bd.looked), "series-lower", {lower_colour, 2});
  out.path(step_line(p, bd.upper, false, bd.looked), "series-upper", {upper_colour, 2});
  frame_and_axes(out, p, "Patient n", "Events after patient n");
  out.close_group();
}

void stopping_panel(svg_out& out, const panel& p, const boundary& bd,
                    std::span<const oc_row> curve) {
  const bool lower = has_lower(bd);
  std::vector<legend_entry> legend{{"reaching the upper boundary", upper_colour}};
  if (lower) legend.push_back({"stopping low", lower_colour});
  // The design point: THETA and the probability of stopping early there.
  const double ps = phi_star_at_theta(bd, curve);
  if (std::isfinite(ps))
    legend.push_back({"PHI* = " + general(ps) + " at THETA = " + general(bd.theta), "#000000",
                      legend_entry::swatch::point});
  out.open_group(R"(id="panel-stopping" class="panel")");
  heading(out, p, "B. Probability of stopping early", legend);
  grid(out, p);
  std::vector<guide_label> labels{
      vertical_guide(out, p, bd.theta, "THETA = " + general(bd.theta), "guide-theta")};
  if (bd.phi)
    labels.push_back(horizontal_guide(out, p, *bd.phi, "PHI = " + general(*bd.phi), "guide-phi"));
  draw_labels(out, labels);
  if (lower)
    out.path(curve_line(p, curve, [](const oc_row& r) { return r.p_lower; }), "series-p-lower",
             {lower_colour, 2});
  out.path(curve_line(p, curve, [](const oc_row& r) { return r.phi_star; }), "series-phi-star",
           {upper_colour, 2});
  if (std::isfinite(ps)) out.circle(p.x(bd.theta), p.y(ps), 3.5, "#000000", "design-point");
  frame_and_axes(out, p, "True event probability", "P(stop early)");
  out.close_group();
}

void patients_panel(svg_out& out, const panel& p, const boundary& bd,
                    std::span<const oc_row> curve) {
  const std::vector<legend_entry> legend{
      {"E[N]", size_colour},
      {"E[N] \u00b1 1 SD, within 1 to K", size_fill, legend_entry::swatch::fill}};
  out.open_group(R"(id="panel-patients" class="panel")");
  heading(out, p, "C. Patients when the trial ends", legend);
  grid(out, p);
  if (!curve.empty()) out.area(size_band(p, curve, bd.K), "band-n", size_fill);
  const std::array<guide_label, 2> labels{
      vertical_guide(out, p, bd.theta, "THETA", "guide-theta"),
      horizontal_guide(out, p, bd.K, "K = " + std::to_string(bd.K), "guide-k")};
  draw_labels(out, labels);
  out.path(curve_line(p, curve, [](const oc_row& r) { return r.mean_n; }), "series-mean-n",
           {size_colour, 2});
  frame_and_axes(out, p, "True event probability", "Patients, E[N]");
  out.close_group();
}

}  // namespace

bool has_lower(const boundary& bd) {
  return std::any_of(bd.lower.begin(), bd.lower.end(), [](int v) { return v >= 0; });
}

namespace internal {

const oc_row* row_at(std::span<const oc_row> curve, double theta) {
  const auto it =
      std::find_if(curve.begin(), curve.end(), [&](const oc_row& r) { return r.theta == theta; });
  return it == curve.end() ? nullptr : &*it;
}

layout figure_layout(const boundary& bd) {
  assert(bd.K >= 1 && bd.upper.size() == static_cast<std::size_t>(bd.K));
  assert(bd.lower.empty() || bd.lower.size() == bd.upper.size());
  const double K = bd.K;
  // A: patients 1..K as columns of width one, the last ending at K + 1/2,
  // with room for b[n] + 1 above.
  tick_set bx = nice_ticks(0, K + half_step, x_intervals, true);
  tick_set by = nice_axis(0, std::max(max_upper(bd), 1.0) + 1, y_intervals, true);
  // A lower boundary at 0 would lie on the frame: lift the zero line.
  const double by0 = has_lower(bd) ? -0.03 * by.values.back() : 0;
  const double by1 = by.values.back();
  // B and C share the rate axis; C has room above K for the guide's label.
  tick_set rates = nice_ticks(0, 1, x_intervals);
  tick_set probs = nice_ticks(0, 1, 5);
  constexpr double room_above_k = 1.08;
  tick_set ny = nice_axis(0, K * room_above_k, y_intervals, true);
  const double ny1 = ny.values.back();
  return {make_panel(0, 0, K + half_step, by0, by1, std::move(bx), std::move(by)),
          make_panel(1, 0, 1, 0, 1, rates, std::move(probs)),
          make_panel(2, 0, 1, 0, ny1, rates, std::move(ny))};
}

std::string svg_element(const boundary& bd, std::span<const oc_row> curve) {
  const layout lay = figure_layout(bd);
  svg_out out;
  out.raw(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"180mm\" "
      "height=\"225mm\" viewBox=\"0 0 " +
      coord(page_width) + " " + coord(page_height) + R"(" font-family="sans-serif" font-size=")" +
      coord(font_size) + "\">\n");
  const std::string what = bd.file.empty() ? "designed" : "evaluated";
  out.raw("<title>" +
          xml_escape("Stopping boundary, K = " + std::to_string(bd.K) +
                     ", THETA = " + general(bd.theta)) +
          "</title>\n");
  out.raw("<desc>" +
          xml_escape("The " + what +
                     " boundary against patient n; the probability of stopping early and the "
                     "expected number of patients against the true event probability.") +
          "</desc>\n");
  out.rect(0, 0, page_width, page_height, "#ffffff");
  title(out, bd, curve);
  boundary_panel(out, lay.boundary, plotted_counts(bd));
  stopping_panel(out, lay.stopping, bd, curve);
  patients_panel(out, lay.patients, bd, curve);
  out.text(plot_right, page_height - 14, bd.program, "end", font_size - 1,
           R"(fill="#555555" class="credit")");
  out.raw("</svg>\n");
  return std::move(out.str());
}

}  // namespace internal

// ---- The stopping distribution and the plan's scan ---------------------------

namespace {

// Five rates that stay apart in grey print.
constexpr std::array<std::string_view, max_stopping_curves> curve_colours{
    "#b2182b", "#2166ac", "#1b7837", "#762a83", "#e08214"};

std::string svg_open(double height, std::string_view title_text, std::string_view desc) {
  return R"(<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="180mm" height=")" +
         fixed(height / 4, 2) + "mm\" viewBox=\"0 0 " + coord(page_width) + " " + coord(height) +
         R"(" font-family="sans-serif" font-size=")" + coord(font_size) + "\">\n<title>" +
         xml_escape(title_text) + "</title>\n<desc>" + xml_escape(desc) + "</desc>\n";
}

// K = first..last on the x axis, widened by one each side for a single K.
panel k_panel(int index, int first, int last, double y1, tick_set yt) {
  const double x0 = first == last ? first - 1 : first;
  const double x1 = first == last ? last + 1 : last;
  return make_panel(index, x0, x1, 0, y1, nice_ticks(x0, x1, x_intervals, true), std::move(yt));
}

template <typename F>
path_data k_line(const panel& p, std::span<const plan_point> scan, F f) {
  path_data d;
  for (const plan_point& e : scan) d.line_to(p.x(e.K), p.y(f(e)));
  return d;
}

// The answers as dashed guides; one guide when they coincide.
void answer_guides(svg_out& out, const panel& p, const plan_chart& c, bool labelled) {
  std::vector<guide_label> labels;
  if (c.first_k) {
    const bool same = c.stable_k == c.first_k;
    labels.push_back(vertical_guide(out, p, *c.first_k,
                                    (same ? "K = " : "first K = ") + std::to_string(*c.first_k),
                                    "guide-first"));
  }
  if (c.stable_k && c.stable_k != c.first_k)
    labels.push_back(vertical_guide(out, p, *c.stable_k, "from K = " + std::to_string(*c.stable_k),
                                    "guide-stable"));
  if (labelled) draw_labels(out, labels);
}

}  // namespace

std::string stopping_svg_element(int K, std::span<const stopping_curve> curves) {
  assert(K >= 1);
  constexpr double height = 330;
  svg_out out;
  out.raw(svg_open(height, "Probability of having stopped by patient n",
                   "The probability that a boundary has stopped the trial by patient n, against "
                   "n, at each true event probability."));
  out.rect(0, 0, page_width, height, "#ffffff");
  const panel p = make_panel(0, 0, K, 0, 1, nice_ticks(0, K, x_intervals, true), nice_ticks(0, 1, 5));
  const std::size_t count = std::min(curves.size(), max_stopping_curves);
  std::vector<legend_entry> legend;
  for (std::size_t i = 0; i < count; ++i)
    legend.push_back({"THETA = " + general(curves[i].theta), curve_colours.at(i)});
  out.open_group(R"(id="panel-stopped-by" class="panel")");
  heading(out, p, "Probability of having stopped by patient n", legend);
  grid(out, p);
  for (std::size_t i = 0; i < count; ++i) {
    // A step up at each patient where the trial can stop, flat in between.
    path_data d;
    d.move_to(p.x(0), p.y(0));
    double last = 0;
    for (std::size_t n = 1; n <= curves[i].stopped_by.size(); ++n) {
      const double v = std::clamp(curves[i].stopped_by[n - 1], 0.0, 1.0);
      d.line_to(p.x(static_cast<double>(n)), p.y(last));
      d.line_to(p.x(static_cast<double>(n)), p.y(v));
      last = v;
    }
    out.path(d, "series-stopped-by", {curve_colours.at(i), 2});
  }
  frame_and_axes(out, p, "Patient n", "P(stopped by n)");
  out.close_group();
  out.raw("</svg>\n");
  return std::move(out.str());
}

std::string plan_svg_document(const plan_chart& c) {
  assert(!c.scan.empty());
  constexpr double height = 620;
  svg_out out;
  out.raw("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n");
  out.raw(svg_open(height, "Sample-size plan, THETA0 = " + general(c.theta0) + ", THETA1 = " + general(c.theta1),
                   "The power at THETA1 and the probability of stopping early at THETA0 of the "
                   "design for each K, with the target power and the answers."));
  out.rect(0, 0, page_width, height, "#ffffff");
  out.text(page_width / 2, 30,
           "Sample-size plan: THETA0 = " + general(c.theta0) + ", THETA1 = " + general(c.theta1) +
               ", PHI = " + general(c.phi) + ", POWER = " + general(c.power),
           "middle", title_size, R"(font-weight="bold" class="title")");
  out.text(page_width / 2, 50, "the design for each K, exact binomial calculations", "middle", font_size + 1,
           "class=\"subtitle\"");
  const int first = c.scan.front().K;
  const int last = c.scan.back().K;

  const panel a = k_panel(0, first, last, 1, nice_ticks(0, 1, 5));
  out.open_group(R"(id="panel-power" class="panel")");
  heading(out, a, "A. Power: P(stop) at THETA1",
          std::vector<legend_entry>{{"power of the design for K", upper_colour}});
  grid(out, a);
  answer_guides(out, a, c, true);
  const std::array<guide_label, 1> target{
      horizontal_guide(out, a, c.power, "POWER = " + general(c.power), "guide-power")};
  draw_labels(out, target);
  out.path(k_line(a, c.scan, [](const plan_point& e) { return e.power; }), "series-power", {upper_colour, 1.5});
  for (const std::optional<int>& k : {c.first_k, c.stable_k})
    if (k)
      for (const plan_point& e : c.scan)
        if (e.K == *k) out.circle(a.x(e.K), a.y(e.power), 3.5, "#000000", "answer-point");
  frame_and_axes(out, a, "Largest number of patients K", "Power");
  out.close_group();

  double top = c.phi;
  for (const plan_point& e : c.scan) top = std::max(top, e.phi_star);
  tick_set yt = nice_axis(0, top * 1.1, y_intervals);
  const double y1 = yt.values.back();
  const panel b = k_panel(1, first, last, y1, std::move(yt));
  out.open_group(R"(id="panel-phi-star" class="panel")");
  heading(out, b, "B. PHI*: P(stop) at THETA0",
          std::vector<legend_entry>{{"PHI* of the design for K", lower_colour}});
  grid(out, b);
  answer_guides(out, b, c, false);
  const std::array<guide_label, 1> phi{horizontal_guide(out, b, c.phi, "PHI = " + general(c.phi), "guide-phi")};
  draw_labels(out, phi);
  out.path(k_line(b, c.scan, [](const plan_point& e) { return e.phi_star; }), "series-phi-star",
           {lower_colour, 1.5});
  frame_and_axes(out, b, "Largest number of patients K", "PHI*");
  out.close_group();
  out.text(plot_right, height - 14, c.program, "end", font_size - 1, R"(fill="#555555" class="credit")");
  out.raw("</svg>\n");
  return std::move(out.str());
}


std::string svg_document(const boundary& bd, std::span<const oc_row> curve) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n" +
         internal::svg_element(bd, curve);
}

}  // namespace figure
