// The binomial point and survival tables for one event probability, kept
// until another is asked for.
#include <array>

#include "bndry/internal.h"

namespace bndry_internal {

bin_table bin_prob{};
surv_table bin_surv{};

namespace {

// Cache key of the two tables; -1 matches no valid request, so the first
// builds. The point table is only kept when asked for: the design reads the
// tails alone, and half a megabyte nobody reads is pages touched for nothing.
int bin_prob_max_m = -1;
double bin_prob_theta = -1.0;
bool bin_prob_kept = false;

}  // namespace

// row[k] = P(Y_n = k), k = 0..n, for 0 < theta < 1 and n >= 1: closed
// forms up to n = 3 (one more than bin_pdf_vec has), then the walk from the mode.
void init_bin2(double* row, double theta, int n) {
  const double q = 1.0 - theta;
  if (n == 1) {
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

// s[k] = (sum of p[k..n]) / (sum of p[0..n]), summed from k = n down
// (s may be p): normalising by the row total keeps s[0] exactly 1 and the
// row non-increasing in k.
void survival_row(double* s, const double* p, int n) {
  double sum = 0.0;
  for (int k = n; k >= 0; --k) {
    sum = sum + p[k];
    s[k] = sum;
  }
  for (int k = n; k >= 1; --k) s[k] = s[k] / s[0];
  s[0] = 1.0;
}

// surv[n][k] = (sum of prob[n][k..n]) / (sum of prob[n][0..n]): normalising by
// the row total keeps surv[n][0] exactly 1 and every row non-increasing in k.
int init_bin(bin_table* prob, double theta, int m) {
  if (m < 1 || m > max_patients) return 1;
  if (!(theta >= 0.0 && theta <= 1.0)) return 1;
  if (m == bin_prob_max_m && theta == bin_prob_theta && (prob == nullptr || bin_prob_kept)) return 0;
  std::array<double, max_patients + 1> row{};
  for (int n = 1; n <= m; ++n) {
    double* p = prob != nullptr ? (*prob)[n].data() : row.data();
    double* s = bin_surv.data() + surv_offset(n);
    if (theta == 0.0) {
      p[0] = 1.0;
      for (int k = 1; k <= n; ++k) p[k] = 0.0;
    } else if (theta == 1.0) {
      for (int k = 0; k < n; ++k) p[k] = 0.0;
      p[n] = 1.0;
    } else {
      init_bin2(p, theta, n);
    }
    survival_row(s, p, n);
  }
  bin_prob_theta = theta;
  bin_prob_max_m = m;
  bin_prob_kept = prob != nullptr;
  return 0;
}

}  // namespace bndry_internal
