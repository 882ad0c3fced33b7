// The figure and the report from fixed numbers: plotted points read back
// through the panel's scales to the numbers given, the same numbers give the
// same bytes, nothing from outside the document is referenced, and names from
// users cannot break the markup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "figure/figure.h"
#include "figure/internal.h"

namespace {

using point = std::pair<double, double>;

// K = 10, THETA = 0.2, PHI = 0.05: the design of the dialogue's example.
figure::boundary example_design() {
  figure::boundary bd;
  bd.K = 10;
  bd.theta = 0.2;
  bd.phi = 0.05;
  bd.alpha = 0.0299967;
  bd.phi_star = 0.0421258;
  bd.upper = {2, 3, 3, 3, 4, 4, 5, 5, 5, 6};
  bd.program = "stopbound 1.2";
  return bd;
}

// The example's boundary read back from a file with the given lower
// boundary: no PHI, ALPHA or PHI*, as evaluate knows none.
figure::boundary evaluated_pair(const std::string& file, std::vector<int> lower) {
  figure::boundary bd = example_design();
  bd.phi.reset();
  bd.alpha.reset();
  bd.phi_star.reset();
  bd.file = file;
  bd.lower = std::move(lower);
  return bd;
}

// Smooth made-up rows on 0.05 .. 0.95; E[N] + SD[N] passes K and E[N] - SD[N]
// passes 1, so that the band is cut.
std::vector<figure::oc_row> example_curve() {
  std::vector<figure::oc_row> rows;
  for (int i = 1; i <= 19; ++i) {
    const double t = i / 20.0;
    const double mean_n = 10 - 8 * t * t;
    rows.push_back({t, t * t, 0.1 * (1 - t), 10 * t, 1, mean_n, 1.5 + 2 * t, t, 0.1});
  }
  return rows;
}

// The value of attribute `name` of the first element carrying class `cls`.
std::string attribute(const std::string& doc, const std::string& cls, const std::string& name) {
  const std::size_t at = doc.find("class=\"" + cls + "\"");
  if (at == std::string::npos) return {};
  const std::size_t start = doc.rfind('<', at);
  const std::size_t end = doc.find('>', at);
  const std::string element = doc.substr(start, end - start);
  const std::size_t a = element.find(" " + name + "=\"");
  if (a == std::string::npos) return {};
  const std::size_t v = a + name.size() + 3;
  return element.substr(v, element.find('"', v) - v);
}

// The vertices of path data "M x,y L x,y ... Z", and how many pieces it has.
std::vector<point> vertices(const std::string& d, int* pieces = nullptr) {
  std::vector<point> out;
  int moves = 0;
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (d[i] != 'M' && d[i] != 'L') continue;
    moves += d[i] == 'M';
    std::size_t used = 0;
    const double x = std::stod(d.substr(i + 1), &used);
    const std::size_t comma = i + 1 + used;
    EXPECT_EQ(d[comma], ',');
    const double y = std::stod(d.substr(comma + 1));
    out.emplace_back(x, y);
  }
  if (pieces != nullptr) *pieces = moves;
  return out;
}

// The area of a closed polygon, on the page.
double area(const std::vector<point>& v) {
  double twice = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const point& a = v[i];
    const point& b = v[(i + 1) % v.size()];
    twice += a.first * b.second - b.first * a.second;
  }
  return std::abs(twice) / 2;
}

// Half a unit in the last written decimal of a coordinate, in data units.
double tolerance(const figure::linear_scale& s) {
  return 0.5 * std::pow(10.0, -figure::internal::coordinate_decimals) * std::abs(s.d1 - s.d0) /
         std::abs(s.p1 - s.p0) * 1.000001;
}

TEST(Figure, BoundaryStepsLieAtTheirCounts) {
  const figure::boundary bd = example_design();
  const std::string svg = figure::svg_document(bd, example_curve());
  const figure::internal::panel p = figure::internal::figure_layout(bd).boundary;
  const std::vector<point> v = vertices(attribute(svg, "series-upper", "d"));
  ASSERT_EQ(v.size(), 2u * bd.upper.size());
  for (std::size_t i = 0; i < bd.upper.size(); ++i) {
    const double n = static_cast<double>(i) + 1;
    // Patient n's step spans n - 1/2 .. n + 1/2 at height b[n].
    EXPECT_NEAR(p.x.invert(v[2 * i].first), n - 0.5, tolerance(p.x));
    EXPECT_NEAR(p.x.invert(v[2 * i + 1].first), n + 0.5, tolerance(p.x));
    EXPECT_NEAR(p.y.invert(v[2 * i].second), bd.upper[i], tolerance(p.y)) << n;
    EXPECT_NEAR(p.y.invert(v[2 * i + 1].second), bd.upper[i], tolerance(p.y)) << n;
  }
  // The axis shows patients 0..K and counts up past the largest b[n].
  EXPECT_EQ(p.x_ticks.values.front(), 0);
  EXPECT_GE(p.x.d1, bd.K + 0.5);
  EXPECT_GT(p.y.d1, 6);
  // The stopping region lies above the step line and below y = n (or the
  // step, where that is higher): counts that stop and can happen.
  const std::vector<point> region = vertices(attribute(svg, "region-upper", "d"));
  ASSERT_FALSE(region.empty());
  for (const auto& [px, py] : region) {
    const double x = p.x.invert(px);
    const double y = p.y.invert(py);
    // The columns on either side of x, which differ only on a boundary.
    const auto column = [&](double at) {
      return bd.upper.at(static_cast<std::size_t>(std::clamp(std::round(at), 1.0, 10.0)) - 1);
    };
    // A vertex on y = n carries the rounding of both its coordinates.
    const double tol = tolerance(p.y) + tolerance(p.x);
    EXPECT_GE(y, std::min(column(x - 0.01), column(x + 0.01)) - tol) << x;
    EXPECT_LE(y, std::max({double(column(x - 0.01)), double(column(x + 0.01)), x}) + tol) << x;
  }
}

TEST(Figure, CurvesPassThroughEveryRow) {
  const figure::boundary bd = example_design();
  const std::vector<figure::oc_row> curve = example_curve();
  const std::string svg = figure::svg_document(bd, curve);
  const figure::internal::layout lay = figure::internal::figure_layout(bd);

  const std::vector<point> stop = vertices(attribute(svg, "series-phi-star", "d"));
  const std::vector<point> size = vertices(attribute(svg, "series-mean-n", "d"));
  ASSERT_EQ(stop.size(), curve.size());
  ASSERT_EQ(size.size(), curve.size());
  for (std::size_t i = 0; i < curve.size(); ++i) {
    const auto& s = lay.stopping;
    EXPECT_NEAR(s.x.invert(stop[i].first), curve[i].theta, tolerance(s.x));
    EXPECT_NEAR(s.y.invert(stop[i].second), curve[i].phi_star, tolerance(s.y));
    const auto& c = lay.patients;
    EXPECT_NEAR(c.x.invert(size[i].first), curve[i].theta, tolerance(c.x));
    EXPECT_NEAR(c.y.invert(size[i].second), curve[i].mean_n, tolerance(c.y));
  }
  // The band is E[N] +- SD[N] cut at 1 and K: forward along the top edge.
  const std::vector<point> band = vertices(attribute(svg, "band-n", "d"));
  ASSERT_EQ(band.size(), 2 * curve.size());
  for (std::size_t i = 0; i < curve.size(); ++i) {
    const double top = lay.patients.y.invert(band[i].second);
    const double bottom = lay.patients.y.invert(band[2 * curve.size() - 1 - i].second);
    const double tol = tolerance(lay.patients.y);
    EXPECT_NEAR(top, std::min(10.0, curve[i].mean_n + curve[i].sd_n), tol);
    EXPECT_NEAR(bottom, std::max(1.0, curve[i].mean_n - curve[i].sd_n), tol);
  }
  // No lower boundary: neither its line nor its probability is drawn.
  EXPECT_EQ(svg.find("series-lower"), std::string::npos);
  EXPECT_EQ(svg.find("series-p-lower"), std::string::npos);
}

TEST(Figure, GuidesMarkThetaPhiAndTheDesignPoint) {
  const figure::boundary bd = example_design();
  const std::string svg = figure::svg_document(bd, example_curve());
  const figure::internal::layout lay = figure::internal::figure_layout(bd);
  const auto& s = lay.stopping;
  EXPECT_NEAR(s.x.invert(std::stod(attribute(svg, "guide-theta", "x1"))), 0.2, tolerance(s.x));
  EXPECT_NEAR(s.y.invert(std::stod(attribute(svg, "guide-phi", "y1"))), 0.05, tolerance(s.y));
  EXPECT_EQ(attribute(svg, "guide-phi", "stroke-dasharray"), "6 4");
  EXPECT_NEAR(s.y.invert(std::stod(attribute(svg, "design-point", "cy"))), 0.0421258,
              tolerance(s.y));
  for (const char* text :
       {"K = 10", "THETA = 0.2", "PHI = 0.05", "ALPHA = 0.0299967", "PHI* = 0.0421258", "Patient n",
        "True event probability", "P(stop early)", "Patients, E[N]"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
}

TEST(Figure, LowerBoundaryIsDrawnWhereItCanStop) {
  // Gaps where it cannot stop.
  const figure::boundary bd = evaluated_pair("pair.dat", {-1, -1, -1, 0, 0, -5, 1, 1, 2, 2});
  const std::vector<figure::oc_row> curve = example_curve();
  const std::string svg = figure::svg_document(bd, curve);
  const figure::internal::panel p = figure::internal::figure_layout(bd).boundary;
  int pieces = 0;
  const std::vector<point> v = vertices(attribute(svg, "series-lower", "d"), &pieces);
  EXPECT_EQ(pieces, 2);
  ASSERT_EQ(v.size(), 12u);
  EXPECT_NEAR(p.x.invert(v.front().first), 3.5, tolerance(p.x));
  EXPECT_NEAR(p.y.invert(v.front().second), 0, tolerance(p.y));
  EXPECT_NEAR(p.y.invert(v.back().second), 2, tolerance(p.y));
  // A count of 0 must not vanish into the frame.
  EXPECT_LT(p.y.d0, 0);
  EXPECT_NE(svg.find("series-p-lower"), std::string::npos);
  // Without a design, PHI* is the curve's value at THETA.
  EXPECT_NE(svg.find("PHI* = 0.04 at THETA = 0.2"), std::string::npos);
  EXPECT_EQ(svg.find("guide-phi"), std::string::npos);
}

TEST(Figure, SameNumbersSameBytesAndNothingFromOutside) {
  const figure::boundary bd = example_design();
  const std::vector<figure::oc_row> curve = example_curve();
  const std::string a = figure::svg_document(bd, curve);
  EXPECT_EQ(a, figure::svg_document(bd, curve));
  EXPECT_EQ(a.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u);
  for (const char* id : {"id=\"panel-boundary\"", "id=\"panel-stopping\"", "id=\"panel-patients\""})
    EXPECT_NE(a.find(id), std::string::npos) << id;
  for (const char* banned :
       {"<script", "href", "url(", "@import", "<image", "<style", "nan", "inf", "e+", "e-0"})
    EXPECT_EQ(a.find(banned), std::string::npos) << banned;
  // The only URI is the namespace's.
  std::size_t uris = 0;
  for (std::size_t at = a.find("http"); at != std::string::npos; at = a.find("http", at + 1))
    ++uris;
  EXPECT_EQ(uris, 1u);
  EXPECT_NE(a.find("font-family=\"sans-serif\""), std::string::npos);
}

TEST(Figure, LargestDesignAndUnreachableBoundary) {
  figure::boundary bd = example_design();
  bd.K = 255;
  bd.upper.clear();
  for (int n = 1; n <= 255; ++n) bd.upper.push_back(std::min(n + 1, 3 + n / 4));
  const figure::internal::layout lay = figure::internal::figure_layout(bd);
  EXPECT_EQ(lay.boundary.x_ticks.step, 50);
  EXPECT_EQ(lay.patients.y_ticks.step, 50);
  EXPECT_GE(lay.patients.y.d1, 255);
  const std::string svg = figure::svg_document(bd, example_curve());
  EXPECT_EQ(vertices(attribute(svg, "series-upper", "d")).size(), 510u);

  EXPECT_GT(area(vertices(attribute(svg, "region-upper", "d"))), 0);

  // ALPHA = 0: b[n] = n + 1, nothing can stop; the region has no area.
  for (int n = 1; n <= 255; ++n) bd.upper[n - 1] = n + 1;
  const figure::internal::panel p = figure::internal::figure_layout(bd).boundary;
  const std::string none = figure::svg_document(bd, example_curve());
  EXPECT_NEAR(area(vertices(attribute(none, "region-upper", "d"))), 0, 1e-6);
  EXPECT_GE(p.y.d1, 256);
}

// The text of the legend of panel A: its labels, in order.
std::vector<std::string> legend_a(const std::string& svg) {
  const std::size_t start = svg.find("class=\"legend\"", svg.find("id=\"panel-boundary\""));
  const std::size_t end = svg.find("</g>", start);
  std::vector<std::string> labels;
  for (std::size_t at = svg.find("<text", start); at < end; at = svg.find("<text", at + 1)) {
    const std::size_t open = svg.find('>', at) + 1;
    labels.push_back(svg.substr(open, svg.find("</text>", open) - open));
  }
  return labels;
}

bool has_fill_swatch(const std::string& svg, std::string_view fill) {
  const std::size_t start = svg.find("class=\"legend\"", svg.find("id=\"panel-boundary\""));
  const std::size_t end = svg.find("</g>", start);
  const std::size_t at = svg.find("<rect", start);
  return at < end && svg.find("fill=\"" + std::string(fill) + "\"", at) < end;
}

TEST(Figure, PanelAEndsWithTheLastPatientsColumn) {
  for (const int K : {1, 2, 10, 37, 255}) {
    figure::boundary bd = example_design();
    bd.K = K;
    bd.upper.clear();
    for (int n = 1; n <= K; ++n) bd.upper.push_back(std::min(n, 2 + n / 4));
    const figure::internal::panel p = figure::internal::figure_layout(bd).boundary;
    EXPECT_EQ(p.x.d0, 0) << K;
    EXPECT_EQ(p.x.d1, K + 0.5) << K;
    EXPECT_LE(p.x_ticks.values.back(), K) << K;
    // No region past the last patient: nothing right of K + 1/2, nothing
    // above K events.
    const std::string svg = figure::svg_document(bd, example_curve());
    for (const auto& [px, py] : vertices(attribute(svg, "region-upper", "d"))) {
      EXPECT_LE(p.x.invert(px), K + 0.5 + tolerance(p.x)) << K;
      EXPECT_LE(p.y.invert(py), K + tolerance(p.y)) << K;
    }
  }
}

TEST(Figure, OnePatientDesignDrawsNoTrianglePastItsPatient) {
  // K = 1, b[1] = 1: the one count that stops is 1 event of 1, a point.
  figure::boundary bd = example_design();
  bd.K = 1;
  bd.upper = {1};
  const std::string svg = figure::svg_document(bd, example_curve());
  EXPECT_EQ(svg.find("region-upper"), std::string::npos);
  EXPECT_FALSE(has_fill_swatch(svg, "#f7d4cc"));
  EXPECT_EQ(legend_a(svg), (std::vector<std::string>{"upper boundary b[n]", "y = n"}));
  EXPECT_EQ(vertices(attribute(svg, "series-upper", "d")).size(), 2u);
  // b[1] = 2 for K = 2 (2 events of 2) is a point too; b = 1, 2 is not.
  bd.K = 2;
  bd.upper = {3, 2};
  EXPECT_EQ(figure::svg_document(bd, example_curve()).find("region-upper"), std::string::npos);
  bd.upper = {1, 2};
  const std::string two = figure::svg_document(bd, example_curve());
  EXPECT_GT(area(vertices(attribute(two, "region-upper", "d"))), 0);
  EXPECT_EQ(legend_a(two), (std::vector<std::string>{"upper boundary b[n]", "stop high", "y = n"}));
}

TEST(Figure, LowerBoundaryAtZeroIsItsLineAlone) {
  const figure::boundary zero = evaluated_pair("zero.dat", {-1, -1, -1, 0, 0, 0, 0, 0, 0, 0});
  const std::string svg = figure::svg_document(zero, example_curve());
  EXPECT_EQ(svg.find("region-lower"), std::string::npos);
  EXPECT_NE(svg.find("series-lower"), std::string::npos);
  EXPECT_FALSE(has_fill_swatch(svg, "#cfe1f2"));
  EXPECT_EQ(legend_a(svg),
            (std::vector<std::string>{"upper boundary b[n]", "stop high",
                                      "lower boundary: stop low at 0 events", "y = n"}));
  // A lower boundary above 0 somewhere has a region, and its swatch.
  const figure::boundary some = evaluated_pair("some.dat", {-1, -1, -1, 0, 0, 0, 1, 1, 2, 2});
  const std::string with_region = figure::svg_document(some, example_curve());
  EXPECT_NE(with_region.find("region-lower"), std::string::npos);
  EXPECT_TRUE(has_fill_swatch(with_region, "#cfe1f2"));
  EXPECT_EQ(legend_a(with_region),
            (std::vector<std::string>{"upper boundary b[n]", "stop high", "lower boundary",
                                      "stop low", "y = n"}));
}

TEST(Figure, GuideLabelsHideNoSeries) {
  figure::boundary bd = example_design();
  for (const bool pair : {false, true}) {
    if (pair) {  // an evaluated pair also draws the probability of stopping low
      bd.phi.reset();
      bd.file = "pair.dat";
      bd.lower = {-1, -1, -1, 0, 0, 0, 1, 1, 2, 2};
    }
    const std::string svg = figure::svg_document(bd, example_curve());
    // No ground beneath a label: the page is the only white shape.
    EXPECT_EQ(svg.find("fill-opacity"), std::string::npos);
    EXPECT_EQ(svg.find("fill=\"#ffffff\""), svg.rfind("fill=\"#ffffff\""));
    // Within each panel every label comes before the first series, so that
    // the series are painted over it.
    for (const char* id : {"id=\"panel-stopping\"", "id=\"panel-patients\""}) {
      const std::size_t start = svg.find(id);
      const std::size_t end = svg.find("id=\"panel-", start + 1);
      const std::size_t last_label = svg.rfind("class=\"guide-label\"", end);
      ASSERT_NE(last_label, std::string::npos);
      EXPECT_GT(last_label, start) << id;
      EXPECT_LT(last_label, svg.find("class=\"series-", start)) << id << pair;
    }
  }
}

TEST(Figure, CountsBeyondReachDrawAsCannotStop) {
  figure::boundary bd = example_design();
  bd.phi.reset();
  bd.file = "never.dat";
  bd.lower = {-1, -1, -1, 0, 0, -1, 1, 1, 2, 2};
  figure::boundary far = bd;
  // A file's "never": the largest int above, the smallest below.
  far.upper[0] = far.upper[9] = std::numeric_limits<int>::max();
  far.lower[0] = far.lower[5] = std::numeric_limits<int>::min();
  bd.upper[0] = 2;
  bd.upper[9] = 11;  // n + 1: cannot stop
  const figure::internal::panel p = figure::internal::figure_layout(far).boundary;
  EXPECT_LE(p.y.d1, 12);  // counts up to K + 1, not billions
  const std::string svg = figure::svg_document(far, example_curve());
  EXPECT_EQ(svg, figure::svg_document(bd, example_curve()));
  const std::vector<point> v = vertices(attribute(svg, "series-upper", "d"));
  ASSERT_EQ(v.size(), 20u);
  EXPECT_NEAR(p.y.invert(v.back().second), 11, tolerance(p.y));
}

TEST(StoppingRule, RunsOfEqualReachableCounts) {
  figure::boundary bd = example_design();
  const std::vector<figure::rule_run> runs = figure::stopping_rule(bd);
  // b = 2 3 3 3 4 4 5 5 5 6: patients 1 and 2 cannot reach theirs.
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[0].first, 1);
  EXPECT_EQ(runs[0].last, 2);
  EXPECT_EQ(runs[0].stop_at, 0);
  EXPECT_EQ(runs[1].first, 3);
  EXPECT_EQ(runs[1].last, 4);
  EXPECT_EQ(runs[1].stop_at, 3);
  EXPECT_EQ(runs[3].first, 7);
  EXPECT_EQ(runs[3].last, 9);
  EXPECT_EQ(runs[4].first, 10);
  EXPECT_EQ(runs[4].stop_at, 6);
  for (const figure::rule_run& r : runs) EXPECT_EQ(r.stop_below, -1);

  bd.lower = {-1, -1, -1, 0, 0, -5, 1, 1, 2, 2};
  const std::vector<figure::rule_run> pair = figure::stopping_rule(bd);
  ASSERT_EQ(pair.size(), 8u);
  EXPECT_EQ(pair[2].first, 4);  // 4: stop at 3 or at 0
  EXPECT_EQ(pair[2].stop_below, 0);
  EXPECT_EQ(pair[4].first, 6);  // 6: -5 cannot stop low
  EXPECT_EQ(pair[4].stop_below, -1);
  EXPECT_FALSE(figure::has_lower(example_design()));
  EXPECT_TRUE(figure::has_lower(bd));
}

TEST(Report, TablesHoldOneRowPerRateAndNamesAreEscaped) {
  const figure::boundary bd = evaluated_pair("</td><script>alert('x')</script>&\x01\xFF.dat",
                                             {-1, -1, -1, 0, 0, 0, 1, 1, 2, 2});
  const std::vector<figure::oc_row> curve = example_curve();
  const std::vector<figure::oc_row> table(curve.begin() + 3, curve.begin() + 7);
  const figure::report_extras extras{table, "stopbound 1.2", "2026-12-08 15:00"};
  const std::string html = figure::html_report(bd, curve, extras);
  EXPECT_EQ(html, figure::html_report(bd, curve, extras));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_NE(html.find("&lt;/td&gt;&lt;script&gt;alert(&#39;x&#39;)"), std::string::npos);
  EXPECT_NE(html.find("&amp;\xEF\xBF\xBD\xEF\xBF\xBD.dat"), std::string::npos);

  const auto count = [&](const std::string& what, std::size_t from, std::size_t to) {
    std::size_t n = 0;
    for (std::size_t at = html.find(what, from); at < to; at = html.find(what, at + 1)) ++n;
    return n;
  };
  const std::size_t oc = html.find("<table class=\"oc\">");
  const std::size_t oc_end = html.find("</table>", oc);
  EXPECT_EQ(count("<tr", oc, oc_end), 1 + table.size());  // the header and one per rate
  EXPECT_NE(html.find("P(stop low)"), std::string::npos);
  const std::size_t rule = html.find("<table class=\"rule\">");
  // 1-2, 3, 4, 5-6, 7-8, 9, 10: a run ends where either count changes.
  EXPECT_EQ(count("<tr", rule, html.find("</table>", rule)), 1 + 7u);
  EXPECT_NE(html.find("0 or fewer events"), std::string::npos);
  EXPECT_NE(html.find("3 or more events"), std::string::npos);
  // The figure is inline, and so is everything else.
  EXPECT_NE(html.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_EQ(html.find("<?xml"), std::string::npos);
  for (const char* banned : {"href", "src=", "url(", "@import"})
    EXPECT_EQ(html.find(banned), std::string::npos) << banned;
  EXPECT_NE(html.find("@media print"), std::string::npos);
  EXPECT_NE(html.find("Made by stopbound 1.2 on 2026-12-08 15:00."), std::string::npos);
  // THETA = 0.2 is the table's first row, in bold.
  EXPECT_NE(html.find("(the row for THETA in bold)."), std::string::npos);
  EXPECT_NE(html.find("<tr class=\"design\"><td>0.2</td>"), std::string::npos);
}

TEST(Report, TheBoldRowIsPromisedOnlyWhereThereIsOne) {
  const figure::boundary bd = example_design();
  const std::vector<figure::oc_row> curve = example_curve();
  const std::vector<figure::oc_row> table(curve.begin() + 5, curve.begin() + 7);  // 0.3 and 0.35
  const std::string html =
      figure::html_report(bd, curve, {table, "stopbound 1.2", "2026-12-08 15:00 UTC"});
  EXPECT_EQ(html.find("in bold"), std::string::npos);
  EXPECT_EQ(html.find("class=\"design\""), std::string::npos);
  EXPECT_NE(html.find("in the first column.</p>"), std::string::npos);
}

TEST(Report, ADesignShowsTheTailItUsesAndItsNextBoundary) {
  figure::boundary bd = example_design();
  bd.alpha_used = 0.0272;
  bd.next = figure::next_boundary{0.0525067264, 0.0327934976, {2, 3, 3, 3, 4, 4, 5, 5, 5, 5}};
  EXPECT_EQ(figure::next_boundary_text(bd),
            "PHI* = 0.0525067, using tails up to 0.0327935 (b[10] = 5)");
  const std::vector<figure::oc_row> curve = example_curve();
  const std::string html =
      figure::html_report(bd, curve, {curve, "stopbound 1.2", "2026-12-08 15:00 UTC"});
  EXPECT_NE(
      html.find("<p class=\"next\">Next more liberal boundary: PHI* = 0.0525067, using tails up to "
                "0.0327935 (b[10] = 5)</p>"),
      std::string::npos);
  EXPECT_NE(html.find("<td class=\"text\">0.0272</td>"), std::string::npos);
  // Runs of patients whose count differs, each with its new count.
  bd.next->upper = {1, 2, 2, 3, 4, 4, 4, 4, 5, 6};
  EXPECT_EQ(figure::next_boundary_text(bd),
            "PHI* = 0.0525067, using tails up to 0.0327935 (b[1] = 1, b[2..3] = 2, b[7..8] = 4)");
  // A PHI* that six digits would print as PHI gets the digits that tell.
  bd.phi = 0.01;
  bd.next->phi_star = 0.010000000000000002;
  bd.next->alpha_used = 0.010000000000000002;
  EXPECT_EQ(
      figure::next_boundary_text(bd),
      "PHI* = 0.010000000000000002, using tails up to 0.01 (b[1] = 1, b[2..3] = 2, b[7..8] = 4)");
  bd.phi = 0.0525;
  bd.next->phi_star = 0.0525067;
  EXPECT_EQ(figure::next_boundary_text(bd).substr(0, 17), "PHI* = 0.0525067,");
  bd.next->phi_star = 0.05250000001;
  EXPECT_EQ(figure::next_boundary_text(bd).substr(0, 22), "PHI* = 0.05250000001, ");
  bd.next.reset();
  EXPECT_EQ(figure::next_boundary_text(bd), "none (every level below 1 gives this boundary)");
  // An evaluated file has neither.
  const std::string evaluated = figure::html_report(
      evaluated_pair("pair.dat", {}), curve, {curve, "stopbound 1.2", "2026-12-08 15:00 UTC"});
  EXPECT_EQ(evaluated.find("Next more liberal"), std::string::npos);
  EXPECT_EQ(evaluated.find("Largest tail used"), std::string::npos);
}

}  // namespace
