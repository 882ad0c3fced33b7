// Internals of the boundary-design module, shared by its own source files and
// its tests; nothing outside bndry/ and tests/ includes this header.
#pragma once

#include <array>
#include <cstdlib>

#include "bndry/bndry.h"

namespace bndry_internal {

/// One row per number of patients 0..255, one column per number of events.
using bin_table = std::array<std::array<double, max_patients + 1>, max_patients + 1>;

/// Where row n of a survival table starts: rows 0..255 packed end to end,
/// row n holding k = 0..n. A build for K touches only the first
/// surv_offset(K + 1) entries, half the pages of square rows.
constexpr int surv_offset(int n) { return n * (n + 1) / 2; }
using surv_table = std::array<double, surv_offset(max_patients + 1)>;

/// P(Y_n = k) (bin_prob[n][k], only where a build was asked to keep it) and
/// P(Y_n >= k) (surv_row(n)[k]) for the theta of the last successful init_bin.
extern bin_table bin_prob;
extern surv_table bin_surv;

/// Row n of bin_surv: entries k = 0..n, non-increasing, the first exactly 1.
inline const double* surv_row(int n) { return bin_surv.data() + surv_offset(n); }

/// Fills rows 1..m of bin_surv, and of *prob unless prob is null, for theta
/// unless they already hold them; returns 0, or 1 (nothing changed) for m
/// outside 1..255 or theta outside [0, 1].
int init_bin(bin_table* prob, double theta, int m);

/// row[k] = P(Y_n = k), k = 0..n, for 0 < theta < 1 and n >= 1, as the
/// tables hold it: closed forms up to n = 3, then the walk from the mode.
void init_bin2(double* row, double theta, int n);

/// s[k] = P(Y_n >= k) from the point row p (s may be p), as the tables hold
/// it: summed from k = n down, normalised by the total, s[0] exactly 1.
void survival_row(double* s, const double* p, int n);

/// lb[1..K] = -1: a lower boundary no count can reach.
void init_lb(int* lb, int K);

/// A run of tails in any order (the rows give them non-increasing), each >= +0
/// and not NaN.
struct tail_run {
  const double* first;
  int size;
};

/// out[0..total) = the values of all runs in ascending order, as std::sort
/// of them together leaves them; total is the sum of the runs' sizes.
void sort_tails(const tail_run* runs, int run_count, double* out);

/// Entries of the level search's candidate list in use; 0 outside FindBndry.
int candidate_count();

/// A block from emalloc, released on every path out of the owning scope.
template <class T>
class evec {
 public:
  explicit evec(int n) : p_(static_cast<T*>(emalloc(static_cast<unsigned>(n) * sizeof(T)))) {}
  ~evec() { std::free(p_); }
  evec(const evec&) = delete;
  evec& operator=(const evec&) = delete;

  T* data() { return p_; }

 private:
  T* p_;
};

}  // namespace bndry_internal
