// The pointwise boundary: for each number of patients the smallest count
// whose upper tail under THETA is at most a level, read from the survival
// table; the never-reached lower boundary; and the helpers of the level scale.
#include <algorithm>
#include <cmath>

#include "bndry/internal.h"

// The scan is inclusive (alpha >= tail admits the count) and ends at k = 0,
// whose tail is exactly 1. Rounding can make a tail fall by an ulp from one
// patient to the next although the exact tail rises with n, so the result is
// made a running maximum: the exact boundary never decreases, and the
// crossing engine refuses one that does.
int GetPointwiseBndry(int* b, int K, double alpha, double theta) {
  if (K < 1 || K > max_patients) return 1;
  // Rows up to K are all the boundary reads.
  const int status = bndry_internal::init_bin(nullptr, theta, K);
  if (status != 0) return status;
  for (int n = K; n >= 1; --n) {
    if (alpha >= 1.0) {
      b[n] = 0;
      continue;
    }
    // The first k whose tail is <= alpha, by bisection: the tails never
    // increase along a row, so that is where the scan from k = n down stops
    // (at k - 1, giving k), and n + 1 when no tail is that small.
    const double* row = bndry_internal::surv_row(n);
    b[n] = static_cast<int>(
        std::partition_point(row, row + n + 1, [alpha](double tail) { return !(alpha >= tail); }) -
        row);
  }
  if (alpha < 1.0) {
    for (int n = 2; n <= K; ++n)
      if (b[n] < b[n - 1]) b[n] = b[n - 1];
  }
  return 0;
}

double alpha_used(const int* b, int K, double theta) {
  if (K < 1 || K > max_patients) return -1.0;
  if (bndry_internal::init_bin(nullptr, theta, K) != 0) return -1.0;
  double used = 0.0;
  for (int n = 1; n <= K; ++n)
    if (b[n] <= n) used = std::max(used, bndry_internal::surv_row(n)[std::max(b[n], 0)]);
  return used;
}

void midpoints(double* v, int n) {
  for (int i = 0; i + 1 < n; ++i) v[i] = (v[i + 1] + v[i]) * 0.5;
}

double logit(double x) { return std::log(x / (1.0 - x)); }

double alogit(double x) { return 1.0 / (std::exp(-x) + 1.0); }

void bndry_internal::init_lb(int* lb, int K) {
  for (int n = 1; n <= K; ++n) lb[n] = -1;
}
