// The level search: the largest candidate level ALPHA whose Pocock-type
// boundary is reached with probability PHI* <= PHI under THETA.
//
// PHI* is a step function of the level, changing only where the level passes
// a tail probability P(Y_n >= k). One candidate inside each step (a midpoint
// of neighbouring tails) therefore stands for every boundary there is, and a
// bisection over the sorted candidates finds the last step below PHI.
#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

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
  bndry_internal::sort_tails(alpha_val, alpha_n);
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
  *status = upper_crossing(lspending.data(), uspending.data(), theta, K, lower, upper);
  if (*status != 0) return std::numeric_limits<double>::quiet_NaN();
  return array_sum(uspending.data(), 1, K);
}

// PHI* of a level as the recursion gives it, and how far p_hit_upper's may
// lie from it (0: the same, bit for bit).
struct phi_estimate {
  double value;
  double error;
};

phi_estimate estimate_phi(int* status, const int* lower, int* upper, int K, double theta,
                          double level) {
  *status = 0;
  if (level <= 0.0) return {0.0, 0.0};
  if (level >= 1.0) return {1.0, 0.0};
  *status = GetPointwiseBndry(upper, K, level, theta);
  if (*status != 0) return {std::numeric_limits<double>::quiet_NaN(), 0.0};
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  crossing_bound bound{};
  *status = crossing_estimate(lspending.data(), uspending.data(), nullptr, theta, K, lower, upper,
                              &bound);
  if (*status != 0) return {std::numeric_limits<double>::quiet_NaN(), 0.0};
  const double sum = array_sum(uspending.data(), 1, K);
  return {sum, sum_bound(sum, K, bound)};
}

// Makes *p exact (p_hit_upper's) unless it already is.
void make_exact(int* status, phi_estimate* p, const int* lower, int* upper, int K, double theta,
                double level) {
  *status = 0;
  if (p->error == 0.0) return;
  *p = {p_hit_upper(status, lower, upper, K, theta, level), 0.0};
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

// Sorts non-negative doubles into ascending order by their bit patterns,
// which for +0 and above order as the values do: a least-significant-digit
// radix sort, 11 bits a pass, skipping the digits all values share. The same
// list as a comparison sort gives, in a few linear passes: about 7 times
// faster for the 24,500 candidates of K = 255 (bench/sort_bench.cpp).
void bndry_internal::sort_tails(double* v, int n) {
  constexpr int digit_bits = 11;
  constexpr int passes = (64 + digit_bits - 1) / digit_bits;
  constexpr std::uint64_t digit_mask = (std::uint64_t{1} << digit_bits) - 1;
  // Below a few thousand values a comparison sort is faster than zeroing
  // and summing the digit counts; both leave the same list.
  constexpr int few = 4096;
  if (n < few) {
    std::sort(v, v + std::max(n, 0));
    return;
  }
  evec<std::uint64_t> key_a(n);
  evec<std::uint64_t> key_b(n);
  std::uint64_t* keys = key_a.data();
  std::uint64_t* sorted = key_b.data();
  std::array<std::array<std::uint32_t, digit_mask + 1>, passes> counts{};
  for (int i = 0; i < n; ++i) {
    assert(v[i] >= 0.0 && !std::signbit(v[i]));
    const auto key = std::bit_cast<std::uint64_t>(v[i]);
    keys[i] = key;
    for (int pass = 0; pass < passes; ++pass) ++counts[pass][(key >> (pass * digit_bits)) & digit_mask];
  }
  for (int pass = 0; pass < passes; ++pass) {
    auto& count = counts[static_cast<std::size_t>(pass)];
    const int shift = pass * digit_bits;
    if (count[(keys[0] >> shift) & digit_mask] == static_cast<std::uint32_t>(n)) continue;
    std::uint32_t start = 0;
    for (auto& c : count) start += std::exchange(c, start);
    for (int i = 0; i < n; ++i) sorted[count[(keys[i] >> shift) & digit_mask]++] = keys[i];
    std::swap(keys, sorted);
  }
  for (int i = 0; i < n; ++i) v[i] = std::bit_cast<double>(keys[i]);
}


int FindBndry(int* b, double* alpha, double* phi_star, int K, double theta, double phi) {
  if (K < 1 || K > max_patients) return 1;
  // Rows up to K are all the search and the boundary read.
  const int status = bndry_internal::init_bin(nullptr, bin_surv, theta, K);
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
