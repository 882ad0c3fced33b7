// The joint distribution of events and patients at the end of a monitored
// trial, weighted moments over it, and two formulas for a pair of correlated
// binary outcomes.
#include <cmath>

#include "cross2/cross2.h"

namespace {

// P(both outcomes) from the margins p1, p2 and the odds ratio psi: the root
// of (psi - 1) p11^2 - t p11 + psi p1 p2 = 0 that lies in [0, 1].
double joint_probability(double p1, double p2, double psi) {
  if (psi == 1.0) return p1 * p2;
  const double d = psi - 1.0;
  const double t = 1.0 + (p1 + p2) * d;
  return (t - std::sqrt(t * t - 4.0 * psi * d * p1 * p2)) * 0.5 / d;
}

// Appends (y, n, w) for every index first..last of source with w > 0.
int append_outcomes(double* y, double* n, double* w, int next, const double* source, int first,
                    int last, const int* events, int patients) {
  for (int i = first; i <= last; ++i) {
    if (source[i] > 0) {
      y[next] = events != nullptr ? events[i] : i;
      n[next] = patients > 0 ? patients : i;
      w[next] = source[i];
      ++next;
    }
  }
  return next;
}

}  // namespace

// A stop at the upper boundary happens with exactly upper[m] events, since
// the count rises one at a time and the boundary never decreases.
int yn_dstn(double* y, double* n, double* w, int* counts, const double* lspending,
            const double* uspending, const double* rspending, const int* lower, const int* upper,
            int K) {
  int next = append_outcomes(y, n, w, 0, lspending, 1, K, lower, 0);
  counts[1] = next;
  next = append_outcomes(y, n, w, next, uspending, 1, K, upper, 0);
  counts[2] = next - counts[1];
  next = append_outcomes(y, n, w, next, rspending, 0, K, nullptr, K);
  counts[3] = next - counts[1] - counts[2];
  return next - 1;
}

// Two passes: the weighted mean first, then the squared deviations from it,
// which stays accurate where E[x^2] - E[x]^2 would cancel.
void meanvar(double* moments, const double* x, const double* w, int first, int last) {
  double s = 0.0;
  double sx = 0.0;
  for (int i = first; i <= last; ++i) {
    s += w[i];
    sx += w[i] * x[i];
  }
  const double mean = sx / s;
  double ss = 0.0;
  for (int i = first; i <= last; ++i) ss += w[i] * ((x[i] - mean) * (x[i] - mean));
  moments[1] = mean;
  moments[2] = ss / s;
}

int cond_mv(double* mean, double* variance, const double* count, const double* patients, int last,
            const double* params) {
  const double p1 = params[1];
  const double p2 = params[2];
  const double p11 = joint_probability(p1, p2, params[3]);
  const double r1 = p11 / p1;
  const double r0 = (p2 - p11) / (1.0 - p1);
  for (int i = 0; i <= last; ++i) {
    const double f = count[i] / patients[i];
    mean[i] = f * r1 + (1.0 - f) * r0;
    variance[i] = (f * r1 * (1.0 - r1) + (1.0 - f) * r0 * (1.0 - r0)) / patients[i];
  }
  return 0;
}

double psi2cor(double p1, double p2, double psi) {
  const double p11 = joint_probability(p1, p2, psi);
  return (p11 - p1 * p2) / std::sqrt(p1 * (1.0 - p1) * p2 * (1.0 - p2));
}
