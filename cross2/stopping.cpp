// The joint distribution of events and patients at the end of a monitored
// trial, weighted moments over it, and two formulas for a pair of correlated
// binary outcomes.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"

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

// True when the upper boundary falls from some patient to the next (after
// patients without a look): only then can a high stop happen above upper[m].
bool upper_falls(const int* upper, int K) {
  for (int m = 1; m < K; ++m)
    if (upper[m + 1] < upper[m]) return true;
  return false;
}

// Appends the stops of one side split by the count the trial has when it
// stops: `stops` holds the exact-as-computed probabilities of each (patient,
// count) at theta, in order; they share out spending[m], which stays the
// engine's own figure, in their proportions. Where every path underflowed,
// the figure stays whole at the count `whole` names.
template <typename Whole>
int append_split(double* y, double* n, double* w, int next, const double* spending,
                 const std::vector<cross2::stop>& stops, int K, Whole whole) {
  std::size_t i = 0;
  for (int m = 1; m <= K; ++m) {
    const std::size_t first = i;
    double total = 0.0;
    for (; i < stops.size() && stops[i].m == m; ++i) total += stops[i].w;
    if (!(spending[m] > 0)) continue;
    if (!(total > 0)) {
      y[next] = whole(m);
      n[next] = m;
      w[next++] = spending[m];
      continue;
    }
    for (std::size_t j = first; j < i; ++j) {
      y[next] = stops[j].count;
      n[next] = m;
      w[next++] = spending[m] * (stops[j].w / total);
    }
  }
  return next;
}

}  // namespace

// A stop at the upper boundary happens with exactly upper[m] events where the
// count rises one at a time and the boundary does not fall (yn_dstn_at
// splits the stops where it does).
int yn_dstn(double* y, double* n, double* w, int* counts, const double* lspending,
            const double* uspending, const double* rspending, const int* lower, const int* upper,
            int K) {
  return append_high_and_full(y, n, w, counts, append_outcomes(y, n, w, 0, lspending, 1, K, lower, 0),
                              uspending, rspending, upper, K);
}

int yn_dstn_at(double* y, double* n, double* w, int* counts, double theta,
               const double* lspending, const double* uspending, const double* rspending,
               const int* lower, const int* upper, int K, cross2::workspace& ws) {
  const bool split_low = lower_jumps(lower, K);
  const bool split_high = upper_falls(upper, K);
  if (!split_low && !split_high)
    return yn_dstn(y, n, w, counts, lspending, uspending, rspending, lower, upper, K);
  cross2::workspace_state& st = cross2::workspace_access::of(ws);
  st.split_low.clear();
  st.split_high.clear();
  cross2::stops_by_count(ws, theta, K, lower, upper, split_low ? &st.split_low : nullptr,
                         split_high ? &st.split_high : nullptr);
  const int lows =
      split_low ? append_split(y, n, w, 0, lspending, st.split_low, K,
                               [lower](int m) { return std::min(lower[m], m); })
                : append_outcomes(y, n, w, 0, lspending, 1, K, lower, 0);
  if (!split_high) return append_high_and_full(y, n, w, counts, lows, uspending, rspending, upper, K);
  counts[1] = lows;
  int next = append_split(y, n, w, lows, uspending, st.split_high, K, [upper](int m) { return upper[m]; });
  counts[2] = next - counts[1];
  next = append_outcomes(y, n, w, next, rspending, 0, K, nullptr, K);
  counts[3] = next - counts[1] - counts[2];
  return next - 1;
}

int yn_dstn_at(double* y, double* n, double* w, int* counts, double theta,
               const double* lspending, const double* uspending, const double* rspending,
               const int* lower, const int* upper, int K) {
  return yn_dstn_at(y, n, w, counts, theta, lspending, uspending, rspending, lower, upper, K,
                    cross2::default_workspace());
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
