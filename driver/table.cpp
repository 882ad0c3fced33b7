// The operating-characteristics table: PHI* and the moments of Y, N and Y/N
// for the design's THETA and for the grid 0.05 .. 0.95 from about THETA up.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bndry/bndry.h"
#include "driver/driver.h"

namespace {

constexpr int grid_step = 5;   // hundredths: the grid is 0.05, 0.10, ...
constexpr int grid_last = 99;  // so 0.95 is the last grid value, 1 never
// THETA within this of the grid's first value is that value and gets no row.
constexpr double on_grid = 1e-10;

constexpr int phi_decimals = 3;  // PHI* is the one figure with three decimals
constexpr int figure_decimals = 2;

}  // namespace

int round_up(int a, int m) { return a % m == 0 ? a : (a / m + 1) * m; }

// trunc(100 * theta) of the exact product, not of its rounding to double: a
// THETA stored a hair below a whole percentage (0.15, 0.21) must truncate
// below it. The rounded product p and its exact error e = fma(100, theta, -p)
// tell where the exact value lies: the nearest double to a value below a
// whole number N is at most N, and equals N only when e < 0.
int truncated_percent(double theta) {
  const double p = 100.0 * theta;
  const double e = std::fma(100.0, theta, -p);
  double t = std::trunc(p);
  if (t == p && e < 0.0) t -= 1.0;
  return static_cast<int>(t);
}

// Every figure here is >= 0, and the correctly rounded conversion never
// decreases with its argument, so when both ends of [v - error, v + error]
// (cut at 0) print alike, so does every value between them. The digits
// change only where v 10^decimals passes a half-integer: an interval
// clear of those, with room for the rounding of the product, needs no
// conversion at all.
bool prints_alike(int decimals, double v, double error) {
  if (error == 0.0) return true;
  constexpr double margin = 8 * DBL_EPSILON;
  const double scale = decimals == 3 ? 1000.0 : decimals == 2 ? 100.0 : std::pow(10.0, decimals);
  const double t = v * scale;
  if (std::fabs(t - std::floor(t) - 0.5) > error * scale * (1 + margin) + margin * t) return true;
  std::array<char, 400> low{};
  std::array<char, 400> high{};
  std::snprintf(low.data(), low.size(), "%.*f", decimals, std::max(0.0, v - error));
  std::snprintf(high.data(), high.size(), "%.*f", decimals, v + error);
  return std::strcmp(low.data(), high.data()) == 0;
}

// summary's record, from the cheaper estimate wherever that prints the same
// digits as any value within its error would.
oc_record table_row(double theta, int K, const int* lower, const int* upper) {
  oc_record error{};
  oc_record r = summary_estimate(theta, K, lower, upper, &error);
  const bool settled = prints_alike(phi_decimals, r.phi_star, error.phi_star) &&
                       prints_alike(figure_decimals, r.mean_y, error.mean_y) &&
                       prints_alike(figure_decimals, r.sd_y, error.sd_y) &&
                       prints_alike(figure_decimals, r.mean_n, error.mean_n) &&
                       prints_alike(figure_decimals, r.sd_n, error.sd_n) &&
                       prints_alike(figure_decimals, r.mean_yn, error.mean_yn) &&
                       prints_alike(figure_decimals, r.sd_yn, error.sd_yn);
  return settled ? r : summary(theta, K, lower, upper);
}

void table_print1(double theta, int K, const int* lower, const int* upper) {
  const oc_record r = table_row(theta, K, lower, upper);
  std::printf("%-8.2f", theta);
  std::printf("%-8.*f", phi_decimals, r.phi_star);
  for (const double v : {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn})
    std::printf("%-8.*f", figure_decimals, v);
  std::printf("\n");
}

// A grid value of 0 (THETA below 0.01) gets no row: no trial can be evaluated
// there. THETA then keeps its own row however close to 0 it lies.
std::vector<double> table_thetas(double theta) {
  std::vector<double> rows;
  const int i0 = round_up(truncated_percent(theta), grid_step);
  if (i0 == 0 || std::fabs(theta - i0 / 100.0) > on_grid) rows.push_back(theta);
  for (int i = i0 == 0 ? grid_step : i0; i <= grid_last; i += grid_step) rows.push_back(i / 100.0);
  return rows;
}

void table_print(double theta, int K, const int* b) {
  std::array<int, max_patients + 1> lower{};
  for (int i = 0; i <= K; ++i) lower[i] = -1;

  for (const char* column : {"THETA", "PHI*", "E[Y]", "SD[Y]", "E[N]", "SD[N]", "E[Y/N]", "SD[Y/N]"})
    std::printf("%-8s", column);
  std::printf("\n\n");

  for (const double row : table_thetas(theta)) table_print1(row, K, lower.data(), b);

  std::printf("\nDefintions: \n");
  std::printf("  Y    = the number of events, random, between 0 and N\n");
  std::printf("  N    = the number of patients, random, between 1 and K\n");
  std::printf("  PHI* = the actual probability of early stopping (hitting the boundary)\n");
  std::printf("  E[ ]   denotes the expected value (mean)\n");
  std::printf("  SD[ ]  denotes the standard deviation\n");
  std::printf("\n");
}
