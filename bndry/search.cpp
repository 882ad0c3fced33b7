// The level search: the largest candidate level ALPHA whose Pocock-type
// boundary is reached with probability PHI* <= PHI under THETA.
//
// PHI* is a step function of the level, changing only where the level passes
// a tail probability P(Y_n >= k). One candidate inside each step (a midpoint
// of neighbouring tails) therefore stands for every boundary there is, and a
// bisection over the sorted candidates finds the last step below PHI.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <limits>

#include "bndry/internal.h"
#include "cross2/cross2.h"

namespace {

using bndry_internal::evec;

// The candidate list: empty outside FindBndry, sized once to the tails it
// takes.
double* alpha_val = nullptr;
int alpha_n = 0;

// Empties the candidate list on every path out of FindBndry.
struct candidate_list_guard {
  candidate_list_guard() = default;
  candidate_list_guard(const candidate_list_guard&) = delete;
  candidate_list_guard& operator=(const candidate_list_guard&) = delete;
  ~candidate_list_guard() {
    std::free(alpha_val);
    alpha_val = nullptr;
    alpha_n = 0;
  }
};

// The run of row n a scan from k = n down takes, up to and including the
// first tail >= phi: the tails never increase along a row, so that is the
// largest k whose tail is >= phi, found by bisection, or k = 0 when none is
// (phi above 1, or NaN, leaves the scan running to the end of the row).
bndry_internal::tail_run row_run(int n, double phi) {
  const double* row = bndry_internal::surv_row(n);
  // First k whose tail is not >= phi, or n + 1.
  const auto first =
      std::partition_point(row, row + n + 1, [phi](double tail) { return tail >= phi; }) - row;
  const int k = first > 0 ? static_cast<int>(first) - 1 : 0;
  return {row + k, n - k + 1};
}

// The candidate list from one run of tails per row 1..K: every value once,
// in increasing order, each then the midpoint of it and the next.
void fill_candidates(const std::array<bndry_internal::tail_run, max_patients>& runs, int K) {
  int total = 0;
  for (int n = 1; n <= K; ++n) total += runs[static_cast<std::size_t>(n - 1)].size;
  alpha_val = static_cast<double*>(
      emalloc(static_cast<unsigned>(total) * static_cast<unsigned>(sizeof(double))));
  bndry_internal::sort_tails(runs.data(), K, alpha_val);
  alpha_n = static_cast<int>(std::unique(alpha_val, alpha_val + total) - alpha_val);
  midpoints(alpha_val, alpha_n);
}

// Row n gives its tails from k = n down to the first that is >= phi: a level
// at or above that tail already stops by patient n with probability >= phi,
// so no larger tail of the row, and no candidate past the first >= phi, can
// be the answer.
void FindAlpha(double phi, int K) {
  std::array<bndry_internal::tail_run, max_patients> runs{};
  for (int n = 1; n <= K; ++n) runs[static_cast<std::size_t>(n - 1)] = row_run(n, phi);
  fill_candidates(runs, K);
  // Keep the list up to its first entry >= phi; the largest tail, 1, always is.
  int last = 0;
  while (last + 1 < alpha_n && alpha_val[last] < phi) ++last;
  alpha_n = last + 1;
}

// The candidates above a level: row n gives its tails from k = 0 up to the
// first that is <= level (the whole row when none is). The list then holds
// every tail from the largest <= level up, in every row, and so the same
// candidates above the level as a list of all the tails; FindAlpha's lists
// the same too, all but perhaps its last, the first at or above its phi
// (the tails below phi and the first at or above it are the same in both).
void FindAbove(double level, int K) {
  std::array<bndry_internal::tail_run, max_patients> runs{};
  for (int n = 1; n <= K; ++n) {
    const double* row = bndry_internal::surv_row(n);
    const std::ptrdiff_t k =
        std::partition_point(row, row + n + 1, [level](double tail) { return !(level >= tail); }) -
        row;
    runs[static_cast<std::size_t>(n - 1)] = {row,
                                             static_cast<int>(std::min<std::ptrdiff_t>(k, n)) + 1};
  }
  fill_candidates(runs, K);
}

// PHI* of a level, and how far the exact one may lie from it (0: it is the
// exact one, bit for bit).
struct phi_estimate {
  double value;
  double error;
};

// PHI* of one level, the probability that its boundary is ever reached:
// exact, as CrossingProb gives it, or estimated by the recursion.
phi_estimate p_hit_upper(int* status, const int* lower, int* upper, int K, double theta,
                         double level, bool exact) {
  *status = 0;
  if (level <= 0.0) return {0.0, 0.0};
  if (level >= 1.0) return {1.0, 0.0};
  *status = GetPointwiseBndry(upper, K, level, theta);
  if (*status != 0) return {std::numeric_limits<double>::quiet_NaN(), 0.0};
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  crossing_bound bound{};  // all 0: exact
  *status = exact ? upper_crossing(lspending.data(), uspending.data(), theta, K, lower, upper)
                  : crossing_estimate(lspending.data(), uspending.data(), nullptr, theta, K, lower,
                                      upper, &bound);
  if (*status != 0) return {std::numeric_limits<double>::quiet_NaN(), 0.0};
  const double sum = array_sum(uspending.data(), 1, K);
  return {sum, sum_bound(sum, K, bound)};
}

phi_estimate estimate_phi(int* status, const int* lower, int* upper, int K, double theta,
                          double level) {
  return p_hit_upper(status, lower, upper, K, theta, level, false);
}

// Makes *p exact (p_hit_upper's) unless it already is.
void make_exact(int* status, phi_estimate* p, const int* lower, int* upper, int K, double theta,
                double level) {
  *status = 0;
  if (p->error == 0.0) return;
  *p = p_hit_upper(status, lower, upper, K, theta, level, true);
}

// Whether p_hit_upper's PHI* of the level is <= phi: the estimate decides
// where it lies farther than its error from phi, p_hit_upper otherwise.
bool at_most_phi(int* status, phi_estimate* p, const int* lower, int* upper, int K, double theta,
                 double level, double phi) {
  *status = 0;
  if (!(p->value + p->error <= phi) && !(p->value - p->error > phi))
    make_exact(status, p, lower, upper, K, theta, level);
  return p->value <= phi;
}

// Invariant of the bisection: PHI*(candidate lo) <= phi < PHI*(candidate hi).
// Each PHI* is first estimated by the recursion; the exact one is computed
// only to settle a comparison the estimate cannot, and for the result.
int SolveAlpha(double* alpha, double* phi_star, int K, double theta, double phi) {
  evec<int> lower(K + 1);
  evec<int> upper(K + 1);
  bndry_internal::init_lb(lower.data(), K);
  int* ub = upper.data();
  const int* lb = lower.data();
  int lo = 0;
  int hi = alpha_n - 1;
  int status = 0;
  phi_estimate p_lo = estimate_phi(&status, lb, ub, K, theta, alpha_val[lo]);
  if (status != 0) return status;
  phi_estimate p_hi = estimate_phi(&status, lb, ub, K, theta, alpha_val[hi]);
  if (status != 0) return status;
  const bool lo_fits = at_most_phi(&status, &p_lo, lb, ub, K, theta, alpha_val[lo], phi);
  if (status != 0) return status;
  if (!lo_fits) {
    *alpha = 0.0;
    *phi_star = 0.0;
    return 0;
  }
  const bool hi_fits = at_most_phi(&status, &p_hi, lb, ub, K, theta, alpha_val[hi], phi);
  if (status != 0) return status;
  if (hi_fits) {
    make_exact(&status, &p_hi, lb, ub, K, theta, alpha_val[hi]);
    if (status != 0) return status;
    *alpha = alpha_val[hi];
    *phi_star = p_hi.value;
    return 0;
  }
  while (lo + 1 != hi) {
    const int mid = lo + (hi - lo) / 2;
    phi_estimate p = estimate_phi(&status, lb, ub, K, theta, alpha_val[mid]);
    if (status != 0) return status;
    const bool fits = at_most_phi(&status, &p, lb, ub, K, theta, alpha_val[mid], phi);
    if (status != 0) return status;
    if (fits) {
      lo = mid;
      p_lo = p;
    } else {
      hi = mid;
    }
  }
  make_exact(&status, &p_lo, lb, ub, K, theta, alpha_val[lo]);
  if (status != 0) return status;
  *alpha = alpha_val[lo];
  *phi_star = p_lo.value;
  return 0;
}

}  // namespace

int bndry_internal::candidate_count() { return alpha_n; }

// The candidates are the level search's, without its cut at PHI: a level
// passes one tail value from one candidate to the next, so the boundary
// changes at most once between them, and candidates above alpha whose
// boundary is the same (a tail the running maximum hides) are passed over.
// The tails below alpha, most of them, are left out of the list (FindAbove).
int next_boundary(int* b, double* phi_star, int K, double theta, double alpha) {
  if (K < 1 || K > max_patients) return 1;
  if (bndry_internal::init_bin(nullptr, theta, K) != 0) return 1;
  evec<int> chosen(K + 1);
  evec<int> lower(K + 1);
  evec<int> upper(K + 1);
  if (GetPointwiseBndry(chosen.data(), K, alpha, theta) != 0) return 1;
  double level = 0.0;
  bool found = false;
  {
    const candidate_list_guard guard;
    FindAbove(alpha, K);
    for (const double* c = std::upper_bound(alpha_val, alpha_val + alpha_n, alpha);
         c != alpha_val + alpha_n && *c < 1.0 && !found; ++c) {
      (void)GetPointwiseBndry(upper.data(), K, *c, theta);
      found = !std::equal(upper.data() + 1, upper.data() + K + 1, chosen.data() + 1);
      level = *c;
    }
  }
  if (!found) return -1;
  // PHI* as SolveAlpha settles it for the design: estimated, then made exact.
  bndry_internal::init_lb(lower.data(), K);
  int status = 0;
  phi_estimate p = estimate_phi(&status, lower.data(), upper.data(), K, theta, level);
  if (status == 0) make_exact(&status, &p, lower.data(), upper.data(), K, theta, level);
  if (status != 0) return status;
  std::copy(upper.data() + 1, upper.data() + K + 1, b + 1);
  *phi_star = p.value;
  return 0;
}

int FindBndry(int* b, double* alpha, double* phi_star, int K, double theta, double phi) {
  if (K < 1 || K > max_patients) return 1;
  // Rows up to K are all the search and the boundary read.
  const int status = bndry_internal::init_bin(nullptr, theta, K);
  if (status != 0) return status;
  double found_alpha = 0.0;
  double found_phi_star = 0.0;
  {
    const candidate_list_guard guard;
    FindAlpha(phi, K);
    const int solved = SolveAlpha(&found_alpha, &found_phi_star, K, theta, phi);
    if (solved != 0) return solved;
  }
  const int formed = GetPointwiseBndry(b, K, found_alpha, theta);
  if (formed != 0) return formed;
  *alpha = found_alpha;
  *phi_star = found_phi_star;
  return 0;
}
