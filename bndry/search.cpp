// The level search: the largest candidate level ALPHA whose Pocock-type
// boundary is reached with probability PHI* <= PHI under THETA.
//
// PHI* is a step function of the level, changing only where the level passes
// a tail probability P(Y_n >= k). One candidate inside each step (a midpoint
// of neighbouring tails) therefore stands for every boundary there is, and a
// bisection over the sorted candidates finds the last step below PHI.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "bndry/internal.h"
#include "cross2/cross2.h"

namespace {

using bndry_internal::bin_surv;
using bndry_internal::evec;

// The candidate list: empty outside FindBndry, grown by doubling.
double* alpha_val = nullptr;
int alpha_siz = 0;
int alpha_n = 0;

void append_candidate(double v) {
  if (alpha_n == alpha_siz) {
    alpha_siz = alpha_n == 0 ? 1 : 2 * alpha_n;
    alpha_val = static_cast<double*>(
        erealloc(alpha_val, static_cast<unsigned>(alpha_siz) * static_cast<unsigned>(sizeof(double))));
  }
  alpha_val[alpha_n++] = v;
}

// Empties the candidate list on every path out of FindBndry.
struct candidate_list_guard {
  candidate_list_guard() = default;
  candidate_list_guard(const candidate_list_guard&) = delete;
  candidate_list_guard& operator=(const candidate_list_guard&) = delete;
  ~candidate_list_guard() {
    std::free(alpha_val);
    alpha_val = nullptr;
    alpha_siz = 0;
    alpha_n = 0;
  }
};

// Row n gives its tails from k = n down to the first that is >= phi: a level
// at or above that tail already stops by patient n with probability >= phi,
// so no larger tail of the row, and no candidate past the first >= phi, can
// be the answer.
void FindAlpha(double phi, int K) {
  for (int n = 1; n <= K; ++n) {
    const auto& row = bin_surv[n];
    for (int k = n; k >= 0; --k) {
      const double tail = row[k];
      append_candidate(tail);
      if (tail >= phi) break;
    }
  }
  std::sort(alpha_val, alpha_val + alpha_n);
  alpha_n = static_cast<int>(std::unique(alpha_val, alpha_val + alpha_n) - alpha_val);
  midpoints(alpha_val, alpha_n);
  // Keep the list up to its first entry >= phi; the largest tail, 1, always is.
  int last = 0;
  while (last + 1 < alpha_n && alpha_val[last] < phi) ++last;
  alpha_n = last + 1;
}

// PHI* of one level: the probability that its boundary is ever reached.
double p_hit_upper(int* status, const int* lower, int* upper, int K, double theta, double level) {
  *status = 0;
  if (level <= 0.0) return 0.0;
  if (level >= 1.0) return 1.0;
  *status = GetPointwiseBndry(upper, K, level, theta);
  if (*status != 0) return std::numeric_limits<double>::quiet_NaN();
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  evec<double> rspending(K + 1);
  *status = CrossingProb(lspending.data(), uspending.data(), rspending.data(), theta, K, lower, upper);
  if (*status != 0) return std::numeric_limits<double>::quiet_NaN();
  return array_sum(uspending.data(), 1, K);
}

// Invariant of the bisection: PHI*(candidate lo) <= phi < PHI*(candidate hi).
int SolveAlpha(double* alpha, double* phi_star, int K, double theta, double phi) {
  evec<int> lower(K + 1);
  evec<int> upper(K + 1);
  bndry_internal::init_lb(lower.data(), K);
  int lo = 0;
  int hi = alpha_n - 1;
  int status = 0;
  double p_lo = p_hit_upper(&status, lower.data(), upper.data(), K, theta, alpha_val[lo]);
  if (status != 0) return status;
  const double p_hi = p_hit_upper(&status, lower.data(), upper.data(), K, theta, alpha_val[hi]);
  if (status != 0) return status;
  if (p_lo > phi) {
    *alpha = 0.0;
    *phi_star = 0.0;
    return 0;
  }
  if (p_hi <= phi) {
    *alpha = alpha_val[hi];
    *phi_star = p_hi;
    return 0;
  }
  while (lo + 1 != hi) {
    const int mid = lo + (hi - lo) / 2;
    const double p = p_hit_upper(&status, lower.data(), upper.data(), K, theta, alpha_val[mid]);
    if (status != 0) return status;
    if (p <= phi) {
      lo = mid;
      p_lo = p;
    } else {
      hi = mid;
    }
  }
  *alpha = alpha_val[lo];
  *phi_star = p_lo;
  return 0;
}

}  // namespace

int bndry_internal::candidate_count() { return alpha_n; }

int FindBndry(int* b, double* alpha, double* phi_star, int K, double theta, double phi) {
  if (K < 1 || K > max_patients) return 1;
  const int status = bndry_internal::init_bin(bndry_internal::bin_prob, bin_surv, theta, max_patients);
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
