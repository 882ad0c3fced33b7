// Drawing the figure and the report page for the largest design, K = 255,
// with curves at 200 rates: the cost --plot and --html add to a run beyond
// computing the rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "figure/figure.h"

namespace {

figure::boundary largest_design() {
  figure::boundary bd;
  bd.K = 255;
  bd.theta = 0.2;
  bd.phi = 0.05;
  bd.alpha = 0.00671754;
  bd.phi_star = 0.0498432;
  // About the designed boundary's shape: a first stop at patient 4, then a
  // rise of a little over one event in four patients.
  for (int n = 1; n <= 255; ++n) bd.upper.push_back(std::min(n + 1, 3 + (n * 26) / 100));
  return bd;
}

std::vector<figure::oc_row> curve() {
  std::vector<figure::oc_row> rows;
  for (int i = 1; i <= 200; ++i) {
    const double t = i / 201.0;
    const double p = 1 / (1 + std::exp(-30 * (t - 0.26)));
    rows.push_back({t, p, 0, 50 * t, 5, 255 * (1 - p) + 4 * p, 20 * p * (1 - p), t, 0.1});
  }
  return rows;
}

void BM_SvgK255(benchmark::State& state) {
  const figure::boundary bd = largest_design();
  const std::vector<figure::oc_row> rows = curve();
  for (auto _ : state) benchmark::DoNotOptimize(figure::svg_document(bd, rows));
}
BENCHMARK(BM_SvgK255)->Unit(benchmark::kMicrosecond);

void BM_HtmlK255(benchmark::State& state) {
  const figure::boundary bd = largest_design();
  const std::vector<figure::oc_row> rows = curve();
  const std::vector<figure::oc_row> table(rows.begin(), rows.begin() + 20);
  const figure::report_extras extras{table, "stopbound", "2026-01-01 00:00"};
  for (auto _ : state) benchmark::DoNotOptimize(figure::html_report(bd, rows, extras));
}
BENCHMARK(BM_HtmlK255)->Unit(benchmark::kMicrosecond);

}  // namespace
