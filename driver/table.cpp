// The operating-characteristics table: PHI* and the moments of Y, N and Y/N
// for the design's THETA and for the grid 0.05 .. 0.95 from about THETA up.
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bndry/bndry.h"
#include "driver/driver.h"

namespace {

constexpr int grid_step = 5;   // hundredths: the grid is 0.05, 0.10, ...
constexpr int grid_last = 99;  // so 0.95 is the last grid value, 1 never
// THETA within this of the grid's first value is that value and gets no row.
constexpr double on_grid = 1e-10;

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

void table_print1(double theta, int K, const int* lower, const int* upper) {
  const oc_record r = summary(theta, K, lower, upper);
  std::printf("%-8.2f", theta);
  std::printf("%-8.3f", r.phi_star);
  for (const double v : {r.mean_y, r.sd_y, r.mean_n, r.sd_n, r.mean_yn, r.sd_yn}) std::printf("%-8.2f", v);
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
