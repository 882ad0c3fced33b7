// Internals of the boundary-design module, shared by its own source files and
// its tests; nothing outside bndry/ and tests/ includes this header.
#pragma once

#include <array>
#include <cstdlib>

#include "bndry/bndry.h"

namespace bndry_internal {

/// One row per number of patients 0..255, one column per number of events.
using bin_table = std::array<std::array<double, max_patients + 1>, max_patients + 1>;

/// P(Y_n = k) and P(Y_n >= k) for the theta of the last successful init_bin
/// (bin_prob only where that was asked to keep it).
extern bin_table bin_prob;
extern bin_table bin_surv;

/// Fills rows 1..m of surv, and of *prob unless prob is null, for theta
/// unless they already hold them; returns 0, or 1 (nothing changed) for m
/// outside 1..255 or theta outside [0, 1].
int init_bin(bin_table* prob, bin_table& surv, double theta, int m);

/// lb[1..K] = -1: a lower boundary no count can reach.
void init_lb(int* lb, int K);

/// v[0..n-1] in ascending order, as std::sort leaves them; every v[i] >= +0.
void sort_tails(double* v, int n);

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
