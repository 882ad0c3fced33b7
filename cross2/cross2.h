// Crossing-probability engine: how a continuously monitored single-arm trial
// with a binary outcome ends under a pair of stopping boundaries, the joint
// distribution of events and patients at its end with weighted moments, and
// small vector operations over inclusive index ranges.
//
// Boundaries are 1-based arrays (entry 0 unused) of any K in
// 1..max_trial_patients and need not be monotone: where a patient has no
// look, upper[m] = m + 1 and lower[m] = -1 keep every count running.
#pragma once

#include <memory>

namespace cross2 {

struct workspace_state;

/// The engine's rows, cones and caches, reused across calls and rates: one
/// per thread, so that designs run side by side; O(K) memory.
class workspace {
 public:
  workspace();
  ~workspace();
  workspace(workspace&&) noexcept;
  workspace& operator=(workspace&&) noexcept;
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;

 private:
  friend struct workspace_access;
  std::unique_ptr<workspace_state> state_;
};

/// The process-wide workspace of the entries that name none.
workspace& default_workspace();

}  // namespace cross2

/// Fills lspending[1..K] and uspending[1..K] (probability of stopping low or
/// high right after patient m) and rspending[0..K] (probability of running to
/// K with s events) for event probability theta; a trial stops low when the
/// count is <= lower[m], else high when it is >= upper[m]. Returns 0, or the
/// first failing check (arrays untouched): 1 theta not in (0, 1), 2 K not in
/// 1..max_trial_patients, 3 lower[1] > 0, 4 upper[m] < 1 for some m, 7
/// upper[m] <= lower[m] for some m. (5 and 6, a decreasing boundary, are no
/// longer refused.) Uses the process-wide workspace.
int CrossingProb(double* lspending, double* uspending, double* rspending, double theta, int K,
                 const int* lower, const int* upper);

/// CrossingProb in the given workspace.
int CrossingProb(double* lspending, double* uspending, double* rspending, double theta, int K,
                 const int* lower, const int* upper, cross2::workspace& ws);

/// lspending[1..K] and uspending[1..K] as CrossingProb gives them, bit for
/// bit, without the remaining vector (cheaper when only the stops are
/// wanted); the statuses of CrossingProb.
int upper_crossing(double* lspending, double* uspending, double theta, int K, const int* lower,
                   const int* upper);

/// upper_crossing in the given workspace.
int upper_crossing(double* lspending, double* uspending, double theta, int K, const int* lower,
                   const int* upper, cross2::workspace& ws);

/// How far CrossingProb's vectors may lie from crossing_estimate's.
struct crossing_bound {
  double relative;  ///< 0 with absolute 0: the two are the same, bit for bit
  double absolute;
};

/// CrossingProb's vectors by the recursion, the cheaper method, whatever the
/// walk would cost (rspending may be null when only the stops are wanted);
/// *bound: each entry of these and of CrossingProb's lies within
/// relative * e + absolute of the same exact value e. Statuses of CrossingProb.
int crossing_estimate(double* lspending, double* uspending, double* rspending, double theta, int K,
                      const int* lower, const int* upper, crossing_bound* bound);

/// CrossingProb's vectors by the recursion (rspending may be null), O(K)
/// memory beyond the results; *bound: each entry lies within relative * e +
/// absolute of the exact value e at theta (with 1 - theta exact): relative
/// 2 gamma(5K + 2), absolute 2 (K + 1)(K + 2)(DBL_MIN + 2.5 DBL_TRUE_MIN)
/// (1.1e-11 and 4.5e-300 at K = 10,000). Statuses of CrossingProb.
int crossing_estimate(double* lspending, double* uspending, double* rspending, double theta, int K,
                      const int* lower, const int* upper, crossing_bound* bound,
                      cross2::workspace& ws);

/// *bound: how far each entry of CrossingProb's vectors (in any workspace)
/// may lie from its exact value, without computing them. Statuses of
/// CrossingProb.
int crossing_prob_bound(double theta, int K, const int* lower, const int* upper,
                        crossing_bound* bound, cross2::workspace& ws);

/// lspending and uspending by the recursion in long double, each rounded
/// once to double; *bound: each entry lies within relative * e + absolute of
/// the exact value e (relative 2 u + 2 gamma_long(5K + 2) with long double's
/// u: 5.7e-15 at K = 10,000 on x86; absolute as crossing_estimate's), for
/// the comparisons crossing_estimate's bound leaves open.
/// Statuses of CrossingProb.
int crossing_precise(double* lspending, double* uspending, double theta, int K, const int* lower,
                     const int* upper, crossing_bound* bound, cross2::workspace& ws);

/// Sum of x[first..last] in long double, rounded once; *error: how far it
/// may lie from the exact sum of the exact values the x[i] stand for, each
/// within `bound` of its own (crossing_precise's PHI* with its bound).
double precise_sum(const double* x, int first, int last, const crossing_bound& bound,
                   double* error);

/// gamma(m) = m u / (1 - m u), u = DBL_EPSILON / 2: the relative distance
/// from its exact value of a result whose non-negative terms each went
/// through at most m roundings.
double rounding_gamma(double m);

/// How far array_sum over count entries of CrossingProb's vector may lie
/// from the same sum over crossing_estimate's, which is `sum`.
double sum_bound(double sum, int count, const crossing_bound& bound);

/// The name of the calculation method for the banner: "Exact".
const char* method();

/// Lists the outcomes (y, n, w) of positive probability: lower stops (at
/// lower[m] events), then upper stops (at upper[m]), then full trials;
/// counts[1..3] get the three run lengths. Returns the index of the last
/// outcome (-1 when there is none). The counts are the trial's own where the
/// lower boundary rises by at most one per patient and the upper does not
/// fall; yn_dstn_at lists them by count everywhere.
int yn_dstn(double* y, double* n, double* w, int* counts, const double* lspending,
            const double* uspending, const double* rspending, const int* lower, const int* upper,
            int K);

/// yn_dstn with each stop listed by the count the trial has then: where the
/// lower boundary rises by more than one per patient, a low stop at m may
/// come below lower[m], and where the upper boundary falls, a high stop may
/// come above upper[m]; lspending[m] and uspending[m] are then shared among
/// the counts in their proportions at theta. Identical to yn_dstn everywhere
/// else. At most 3K + 1 outcomes, as yn_dstn. Uses the process-wide workspace.
int yn_dstn_at(double* y, double* n, double* w, int* counts, double theta, const double* lspending,
               const double* uspending, const double* rspending, const int* lower, const int* upper,
               int K);

/// yn_dstn_at in the given workspace.
int yn_dstn_at(double* y, double* n, double* w, int* counts, double theta, const double* lspending,
               const double* uspending, const double* rspending, const int* lower, const int* upper,
               int K, cross2::workspace& ws);

/// moments[1] = sum w x / sum w and moments[2] = sum w (x - mean)^2 / sum w
/// over first..last.
void meanvar(double* moments, const double* x, const double* w, int first, int last);

/// Conditional mean and variance of the proportion with the second of two
/// binary outcomes, per group of patients[i] of whom count[i] have the first;
/// params[1..3] = p1, p2, odds ratio. Returns 0.
int cond_mv(double* mean, double* variance, const double* count, const double* patients, int last,
            const double* params);

/// Correlation of two binary outcomes of probabilities p1, p2 and odds ratio psi.
double psi2cor(double p1, double p2, double psi);

/// Sum of x[first..last], from the lowest index up.
double array_sum(const double* x, int first, int last);
/// result[i] = x[first] + ... + x[i]; returns the total (result may be x).
double array_csum(double* result, const double* x, int first, int last);
/// Sum of a[i] * b[i] over first..last.
double array_dot(const double* a, const double* b, int first, int last);
/// result[i] = a[i] + b[i].
void array_plus(double* result, const double* a, const double* b, int first, int last);
/// result[i] = a[i] - b[i].
void array_minus(double* result, const double* a, const double* b, int first, int last);
/// result[i] = a[i] * b[i].
void array_mul(double* result, const double* a, const double* b, int first, int last);
/// result[i] = a[i] / b[i].
void array_div(double* result, const double* a, const double* b, int first, int last);
/// result[i] = a[i] + c.
void array_plusc(double* result, const double* a, double c, int first, int last);
/// result[i] = a[i] * c.
void array_mulc(double* result, const double* a, double c, int first, int last);
