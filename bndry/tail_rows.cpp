// Binomial survival rows P(Y_n >= k) for any number of patients by the
// dialogue's table rule: bit for bit its rows up to 255, the same steps beyond.
#include <cmath>

#include "base/base.h"
#include "bndry/design.h"

namespace {

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
  } else {
    bin_row_from_mode(row, n, theta);
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
