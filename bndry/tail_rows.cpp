// Binomial survival rows P(Y_n >= k) for any number of patients: the
// dialogue's table rows, bit for bit, up to 255, and the same walk from the
// mode beyond, whose mode probability comes from ln Gamma.
#include <cmath>

#include "base/base.h"
#include "bndry/design.h"

namespace {

// row[k] = P(Y_n = k) for n > 255, 0 < theta < 1: the walk of
// bin_row_from_mode from a mode probability exp(ln C(n, c) + c ln theta +
// (n - c) ln q).
void large_row(double* row, int n, double theta) {
  const double q = 1.0 - theta;
  const double r = theta / q;
  int c = static_cast<int>(n * theta + 0.5);  // NOLINT(bugprone-incorrect-roundings)
  if (c > n) c = n;
  const double log_choose = std::lgamma(n + 1.0) - std::lgamma(c + 1.0) - std::lgamma(n - c + 1.0);
  row[c] = std::exp(log_choose + (c * std::log(theta) + (n - c) * std::log(q)));
  for (int i = c; i < n; ++i) row[i + 1] = row[i] * (((n - i) * r) / (i + 1));
  for (int j = c - 1; j >= 0; --j) row[j] = row[j + 1] / (((n - j) * r) / (j + 1));
}

// The table's point rows: closed forms up to n = 3, then the walk.
void point_row(double* row, int n, double theta) {
  const double q = 1.0 - theta;
  if (n == 0) {
    row[0] = 1.0;
  } else if (n == 1) {
    row[0] = q;
    row[1] = theta;
  } else if (n == 2) {
    row[0] = q * q;
    row[1] = (2 * theta) * q;
    row[2] = theta * theta;
  } else if (n == 3) {
    row[0] = (q * q) * q;
    row[1] = ((3 * theta) * q) * q;
    row[2] = q * ((3 * theta) * theta);
    row[3] = (theta * theta) * theta;
  } else if (n <= max_patients) {
    bin_row_from_mode(row, n, theta);
  } else {
    large_row(row, n, theta);
  }
}

}  // namespace

// s[k] = (sum of P(Y_n = j), j = k..n) / (the row's total): the division
// keeps s[0] exactly 1 and the row non-increasing.
void bndry::tail_row(double* s, int n, double theta) {
  point_row(s, n, theta);
  double sum = 0.0;
  for (int k = n; k >= 0; --k) {
    sum = sum + s[k];
    s[k] = sum;
  }
  for (int k = n; k >= 1; --k) s[k] = s[k] / s[0];
  s[0] = 1.0;
}
