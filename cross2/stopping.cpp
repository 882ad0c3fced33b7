// The joint distribution of events and patients at the end of a monitored
// trial, weighted moments over it, and two formulas for a pair of correlated
// binary outcomes.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "base/base.h"
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

// After `lows` lower stops: the upper stops, then the full trials; fills
// counts[1..3] and returns the index of the last outcome.
int append_high_and_full(double* y, double* n, double* w, int* counts, int lows,
                         const double* uspending, const double* rspending, const int* upper, int K) {
  counts[1] = lows;
  int next = append_outcomes(y, n, w, lows, uspending, 1, K, upper, 0);
  counts[2] = next - counts[1];
  next = append_outcomes(y, n, w, next, rspending, 0, K, nullptr, K);
  counts[3] = next - counts[1] - counts[2];
  return next - 1;
}

// True when the lower boundary rises by more than one from some patient to
// the next: only then can a low stop happen below lower[m].
bool lower_jumps(const int* lower, int K) {
  for (int m = 1; m < K; ++m)
    if (lower[m + 1] > lower[m] + 1) return true;
  return false;
}

// Appends the lower stops split by the count the trial has when it stops.
// A forward pass over (patient, count) at theta gives, for each patient m,
// the exact probabilities of stopping low with each count; they share out
// lspending[m], which stays the engine's own figure, in their proportions.
int append_low_stops(double* y, double* n, double* w, const double* lspending, double theta,
                     const int* lower, const int* upper, int K) {
  const double p = theta;
  const double q = 1.0 - theta;
  std::array<double, max_patients + 2> row_a{};
  std::array<double, max_patients + 2> row_b{};
  std::array<double, max_patients + 2> low{};
  double* alive = row_a.data();
  double* next = row_b.data();
  alive[0] = 1.0;
  int next_free = 0;
  for (int m = 1; m <= K; ++m) {
    std::fill(next, next + m + 1, 0.0);
    std::fill(low.begin(), low.begin() + m + 1, 0.0);
    for (int s = 0; s < m; ++s) {
      if (alive[s] == 0.0) continue;
      for (const auto& [c, pr] : {std::pair{s, alive[s] * q}, std::pair{s + 1, alive[s] * p}}) {
        if (c <= lower[m])
          low[c] += pr;
        else if (c < upper[m])
          next[c] += pr;
      }
    }
    std::swap(alive, next);
    if (!(lspending[m] > 0)) continue;
    const double total = array_sum(low.data(), 0, m);
    if (!(total > 0)) {  // every path underflowed: keep the engine's figure whole
      y[next_free] = std::min(lower[m], m);
      n[next_free] = m;
      w[next_free++] = lspending[m];
      continue;
    }
    for (int c = 0; c <= m; ++c) {
      if (!(low[c] > 0)) continue;
      y[next_free] = c;
      n[next_free] = m;
      w[next_free++] = lspending[m] * (low[c] / total);
    }
  }
  return next_free;
}

}  // namespace

// A stop at the upper boundary happens with exactly upper[m] events, since
// the count rises one at a time and the boundary never decreases.
int yn_dstn(double* y, double* n, double* w, int* counts, const double* lspending,
            const double* uspending, const double* rspending, const int* lower, const int* upper,
            int K) {
  return append_high_and_full(y, n, w, counts, append_outcomes(y, n, w, 0, lspending, 1, K, lower, 0),
                              uspending, rspending, upper, K);
}

int yn_dstn_at(double* y, double* n, double* w, int* counts, double theta,
               const double* lspending, const double* uspending, const double* rspending,
               const int* lower, const int* upper, int K) {
  if (!lower_jumps(lower, K))
    return yn_dstn(y, n, w, counts, lspending, uspending, rspending, lower, upper, K);
  return append_high_and_full(y, n, w, counts,
                              append_low_stops(y, n, w, lspending, theta, lower, upper, K),
                              uspending, rspending, upper, K);
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
