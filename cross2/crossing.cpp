// The crossing engine: exact probabilities of stopping low or high at each
// patient, and of the final count for trials that never stop, under a pair
// of boundaries.
//
// Two exact methods. The walk follows every outcome sequence depth first,
// adding whole subtrees at once from a binomial table where they can reach no
// boundary (the cone); its cost grows exponentially with K, but its order of
// additions decides the last bits of what it returns, and with them printed
// digits at decimal ties, so CrossingProb keeps it wherever it is cheap (and
// K <= max_patients) and results can be compared with earlier ones. The
// recursion merges equal states (patient, count) and costs O(K x band)
// whatever the boundaries, in O(K) memory. The walk's cost is counted exactly
// before it runs, so the choice depends on the input alone.
// crossing_estimate takes the recursion everywhere and says how far results
// can lie from the exact ones; crossing_precise repeats it in long double.
//
// Boundaries need not be monotone: a patient without a look has upper m + 1
// and lower -1, so the upper boundary may fall back after a gap (then several
// counts reach it at once, by an event or without one) and the lower may
// return to -1. For monotone boundaries every path below performs exactly
// the additions it did when only monotone ones were accepted.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"

namespace cross2 {

workspace::workspace() : state_(std::make_unique<workspace_state>()) {}
workspace::~workspace() = default;
workspace::workspace(workspace&&) noexcept = default;
workspace& workspace::operator=(workspace&&) noexcept = default;

workspace& default_workspace() {
  static workspace ws;
  return ws;
}

}  // namespace cross2

namespace {

using cross2::workspace_state;

constexpr const char* method_name = "Exact";

cross2_internal::method_choice choice = cross2_internal::method_choice::by_cost;

int validate(double theta, int K, const int* lower, const int* upper) {
  if (!(theta > 0.0 && theta < 1.0)) return 1;
  if (K < 1 || K > max_trial_patients) return 2;
  if (lower[1] > 0) return 3;
  for (int m = 1; m <= K; ++m)
    if (upper[m] < 1) return 4;
  for (int m = 1; m <= K; ++m)
    if (upper[m] <= lower[m]) return 7;
  return 0;
}

template <typename T>
T* sized(std::vector<T>& v, int K) {
  const auto size = static_cast<std::size_t>(K) + 3;
  if (v.size() < size) v.resize(size);
  return v.data();
}

// The cone after patient m: counts from which no continuation reaches a
// boundary. ucone[m] = min(ucone[m + 1] - 1, upper[m] - 1): from a count at
// or below it even an event at every later patient stays below the upper
// boundary; lcone[m] = max(lower[m + 1..K]) + 1: the count never falls, so
// from there no later lower boundary is reached (lower[K] + 1 when the lower
// boundary does not decrease). Patient K is never tested.
void fill_cones(workspace_state& st, int K, const int* lower, const int* upper) {
  int* ucone = sized(st.ucone, K);
  int* lcone = sized(st.lcone, K);
  int t = upper[K];
  for (int m = K; m >= 1; --m) {
    t = t - 1;
    if (t >= upper[m]) t = upper[m] - 1;
    ucone[m] = t;
  }
  lcone[K] = 0;
  int highest = lower[K];
  for (int m = K - 1; m >= 1; --m) {
    lcone[m] = highest + 1;
    highest = std::max(highest, lower[m]);
  }
}

// One walk's arguments; rs is null when only the stops are wanted.
struct walker {
  workspace_state& st;
  const int* lower;
  const int* upper;
  const int* lcone;
  const int* ucone;
  double* ls;
  double* us;
  double* rs;
  int n;
  double p;
  double q;

  // Row r of the binomial table at the walk's theta, filled on first use.
  const double* bin_prob_row(int r) {
    const auto i = static_cast<std::size_t>(r);
    double* row = st.bin_prob.data() + i * (max_patients + 1);
    if (!st.bin_prob_filled[i]) {
      bin_pdf_row(row, r, st.bin_prob_theta);
      st.bin_prob_filled[i] = true;
    }
    return row;
  }

  // Adds every continuation of one sequence with s events after patients
  // 1..d-1 and probability w. The no-event branch recurses (at most K calls
  // deep); the event branch continues in the same call. Without the
  // remaining vector a sequence that enters the cone just ends: the cone
  // adds to nothing else, and the stops keep their order of additions.
  template <bool with_remaining>
  void proceed(int s, int d, double w) {
    ++st.proceed_calls;
    for (;;) {
      if (d > n) {
        if constexpr (with_remaining) rs[s] += w;
        return;
      }
      if (lcone[d - 1] <= s && s <= ucone[d - 1]) {
        if constexpr (with_remaining) {
          const int r = n - d + 1;
          const double* row = bin_prob_row(r);
          for (int i = 0; i <= r; ++i) rs[s + i] += w * row[i];
        }
        return;
      }
      if (s <= lower[d])
        ls[d] += w * q;
      else if (s >= upper[d])  // only where the upper boundary falls back
        us[d] += w * q;
      else
        proceed<with_remaining>(s, d + 1, w * q);
      if (s + 1 <= lower[d]) {
        ls[d] += w * p;
        return;
      }
      if (s + 1 >= upper[d]) {
        us[d] += w * p;
        return;
      }
      s = s + 1;
      w = w * p;
      d = d + 1;
    }
  }

  // Patient 1 from 0 events; no count of 0 reaches an upper boundary >= 1.
  template <bool with_remaining>
  void walk() {
    st.proceed_calls = 0;
    if (0 <= lower[1])
      ls[1] += q;
    else
      proceed<with_remaining>(0, 2, q);
    if (1 <= lower[1])
      ls[1] += p;
    else if (1 >= upper[1])
      us[1] += p;
    else
      proceed<with_remaining>(1, 2, p);
  }
};

// The walk's table keeps its rows while theta stays; K <= max_patients.
void use_bin_prob_theta(workspace_state& st, double theta) {
  if (theta == st.bin_prob_theta) return;
  st.bin_prob_filled.fill(false);
  st.bin_prob_theta = theta;
}

// Two doubles at once; element-wise products and sums round as the scalar
// ones do (no contraction: -ffp-contract=off).
using double_pair = double __attribute__((vector_size(2 * sizeof(double))));

// next[s] = a[s-1] p + a[s] q for s = first..last, two counts at a time.
void step(double* next, const double* a, int first, int last, double p_, double q_) {
  const double_pair pp = {p_, p_};
  const double_pair qq = {q_, q_};
  int s = first;
  for (; s < last; s += 2) {
    double_pair below;
    double_pair same;
    std::memcpy(&below, a + s - 1, sizeof below);
    std::memcpy(&same, a + s, sizeof same);
    const double_pair sum = below * pp + same * qq;
    std::memcpy(next + s, &sum, sizeof sum);
  }
  if (s == last) next[s] = a[s - 1] * p_ + a[s] * q_;
}

void step(long double* next, const long double* a, int first, int last, long double p_,
          long double q_) {
  for (int s = first; s <= last; ++s) next[s] = a[s - 1] * p_ + a[s] * q_;
}

// Narrows lo..hi to its first and last entries of at least `floor`. With
// floor DBL_TRUE_MIN only exact zeros go: they would add +0 to what they
// reach (x + 0 = x for x >= 0), so no result changes by a bit. Past the
// dialogue's K the floor is DBL_MIN: far tails would otherwise never reach
// 0 (with q > 1/2, q times the least subnormal rounds back to it) and the
// band would keep every count, in slow subnormal arithmetic; what is cut
// (each entry below DBL_MIN, its later mass below twice that) is in the
// absolute part of the bound.
template <typename Real>
void trim(const Real* row, int* lo, int* hi, Real floor) {
  while (*lo <= *hi && row[*lo] < floor) ++*lo;
  while (*hi >= *lo && row[*hi] < floor) --*hi;
}

double band_floor(int K) { return K > max_patients ? DBL_MIN : DBL_TRUE_MIN; }

// Probabilities of the counts still running after each patient, one row at a
// time; what reaches a boundary moves into the spending vectors, the lower
// boundary tested first as in the walk. Stops are credited in the order the
// states come, the no-event branch before the event branch. The running
// counts after patient d lie in lo..hi: above the lower boundary, below the
// upper one, at most one above the previous range, and trimmed of zeros.
//
// Count s after patient d comes from s - 1 by an event and from s by none,
// added in that order to a zero: next[s] = a[s-1] p + a[s] q, the same
// roundings whether or not both neighbours run, since +0 + x = x for x >= 0.
// With zeros beside the running range that is one loop without branches.
// Real is double, or long double for the precise evaluation.
template <typename Real>
void recursion(Real* alive, Real* next, Real* ls, Real* us, double* rs, Real p, Real q, int K,
               const int* lboundary, const int* uboundary, Real floor) {
  alive[0] = 1;
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= K; ++d) {
    const int lower = lboundary[d];
    const int upper = uboundary[d];
    for (int s = lo; s <= std::min(hi, lower); ++s) {
      ls[d] += alive[s] * q;
      if (s + 1 <= lower) ls[d] += alive[s] * p;
    }
    // With a monotone upper boundary only the top count reaches it, by an
    // event; where it falls back, every count at or above it stops.
    for (int s = std::max(lo, upper - 1); s <= hi; ++s) {
      if (s >= upper) us[d] += alive[s] * q;
      us[d] += alive[s] * p;
    }
    int next_lo = std::max(lo, lower + 1);
    int next_hi = std::min(hi + 1, upper - 1);
    if (next_lo > next_hi) return;  // every sequence has stopped
    alive[lo - 1] = 0;
    alive[hi + 1] = 0;
    step(next, alive, next_lo, next_hi, p, q);
    trim(next, &next_lo, &next_hi, floor);
    if (next_lo > next_hi) return;  // what runs on is below the floor
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
  }
  if (rs != nullptr)
    for (int s = lo; s <= hi; ++s) rs[s] = static_cast<double>(alive[s]);
}

// The recursion in double into the caller's vectors; index s + 1 of a row
// holds count s, so that count -1 is a zero like count hi + 1.
void run_recursion(workspace_state& st, double* ls, double* us, double* rs, double theta, int K,
                   const int* lower, const int* upper) {
  recursion<double>(sized(st.row_a, K) + 1, sized(st.row_b, K) + 1, ls, us, rs, theta, 1.0 - theta,
                    K, lower, upper, band_floor(K));
}

// a + b, held at cap + 1 once it passes cap.
std::uint64_t add_capped(std::uint64_t a, std::uint64_t b, std::uint64_t cap) {
  return a > cap || b > cap || a + b > cap ? cap + 1 : a + b;
}

// Counts the walk's sequences per state (patient, count) as the recursion
// counts probabilities, with the cones of these boundaries already filled.
// Every sequence that goes on from a state after a no-event patient starts a
// proceed call, as do both of patient 1's branches; an event continues the
// same call. Sequences at patient K or in the cone end there.
std::uint64_t count_walk_calls(workspace_state& st, int K, const int* lower, const int* upper,
                               std::uint64_t cap) {
  std::uint64_t* alive = sized(st.count_a, K);
  std::uint64_t* next = sized(st.count_b, K);
  const int* lcone = st.lcone.data();
  const int* ucone = st.ucone.data();
  std::uint64_t calls = 0;
  alive[0] = 0;
  alive[1] = 0;
  if (0 > lower[1]) {
    alive[0] = 1;
    calls = 1;
  }
  if (1 > lower[1] && 1 < upper[1]) {
    alive[1] = 1;
    calls += 1;
  }
  // Sequences still running after patient m have counts in lo..hi; those
  // in the cone end, so the range narrows to the band outside it.
  int lo = 0;
  int hi = 1;
  for (int m = 1; m < K; ++m) {
    const int d = m + 1;
    const int next_lo = std::max(lo, lower[d] + 1);
    const int next_hi = std::min(hi + 1, upper[d] - 1);
    for (int s = next_lo; s <= next_hi; ++s) next[s] = 0;
    for (int s = lo; s <= hi; ++s) {
      const std::uint64_t c = alive[s];
      if (c == 0 || (lcone[m] <= s && s <= ucone[m])) continue;
      if (s > lower[d] && s < upper[d]) {
        next[s] = add_capped(next[s], c, cap);
        calls = add_capped(calls, c, cap);
      }
      if (s + 1 > lower[d] && s + 1 < upper[d]) next[s + 1] = add_capped(next[s + 1], c, cap);
    }
    if (calls > cap) return cap + 1;
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
    while (lo <= hi && alive[lo] == 0) ++lo;
    if (lo > hi) break;  // every sequence has ended
  }
  return calls;
}

// The program's rule: the walk while it makes at most walk_budget calls, the
// recursion beyond and for every K past max_patients; *calls gets the
// walk's calls when it runs. The cones must be filled.
bool walks(workspace_state& st, int K, const int* lower, const int* upper, std::uint64_t* calls) {
  using cross2_internal::method_choice;
  using cross2_internal::walk_budget;
  constexpr std::uint64_t no_cap = std::uint64_t{1} << 62;
  if (choice == method_choice::recursion || K > max_patients) return false;
  *calls =
      count_walk_calls(st, K, lower, upper, choice == method_choice::walk ? no_cap : walk_budget);
  return choice == method_choice::walk || *calls <= walk_budget;
}

// gamma(m) in the unit roundoff of long double.
double rounding_gamma_long(double m) {
  constexpr long double u = LDBL_EPSILON / 2;
  return static_cast<double>(m * u / (1.0L - m * u));
}

// How far the recursion's results may lie from the exact values at theta.
//
// Every entry is an exact sum, over outcome sequences, of products of
// theta and 1 - theta, all terms non-negative, so an entry whose terms went
// through at most m roundings each lies within gamma(m) = m u / (1 - m u) of
// its exact value, relatively:
// - a running count after d patients went through a product and a sum per
//   patient; a stop adds a product and at most 2 (d + 1) - 1 sums: 4K + 2;
// - q = fl(1 - theta) is within u of 1 - theta, and a sequence takes it at
//   most K times: K more. In all gamma(5K + 2), 5.6e-12 at K = 10,000.
// - Underflow: a rounding below the normal range errs by at most 2^-1075
//   absolutely (eta), and no more when later multiplied by p or q <= 1; the
//   part of a running count that an eta becomes is spread over the later
//   counts with weights summing to (p + q)^(K - d) <= (1 + u)^K < 2. There
//   are at most 5 roundings per state (two products and a sum to the next
//   row, two products to a stop, its sums exact or covered by the relative
//   part) and (K + 1)(K + 2) / 2 states: 5 (K + 1)(K + 2) eta.
// - The band's floor: each count cut off is below DBL_MIN, and what it would
//   have become below 2 DBL_MIN in all: (K + 1)(K + 2) DBL_MIN.
//   With the underflow, 2.2e-300 at K = 10,000.
// Both parts are doubled, a margin for the second-order terms.
crossing_bound recursion_bound(int K) {
  const double k = K;
  const double states = (k + 1) * (k + 2);
  // 5 eta = 2.5 DBL_TRUE_MIN, DBL_TRUE_MIN = 2^-1074.
  return {2 * rounding_gamma(5 * k + 2), 2 * states * (DBL_MIN + 2.5 * DBL_TRUE_MIN)};
}

// The same in long double, whose range leaves only the floor's part, each
// entry then rounded once to double (u relatively, or 2^-1075 absolutely
// below the normal range).
crossing_bound precise_bound(int K) {
  const double k = K;
  constexpr double u = DBL_EPSILON / 2;
  const long double underflow = 5 * (k + 1) * (k + 2) * (LDBL_TRUE_MIN / 2);
  return {2 * (rounding_gamma_long(5 * k + 2) + u),
          2 * ((k + 1) * (k + 2) * DBL_MIN + static_cast<double>(underflow) + DBL_TRUE_MIN)};
}

// How far the walk's results may lie from the recursion's (K <= max_patients).
//
// Both methods approximate the same exact sums over outcome sequences of
// products of the doubles p and q: all terms non-negative, so an entry whose
// terms went through at most m roundings each lies within gamma(m) of its
// exact value, relatively, with u = DBL_EPSILON / 2.
// - Recursion: an entry after d patients went through a product and a sum
//   per patient; a stop adds up to 2 (d + 1) terms: gamma(4K + 2).
// - Walk: a weight after d patients went through d - 1 products; an entry
//   receives at most two terms per proceed call (a call meets each patient
//   once, and a stop there adds at most two) and two from patient 1:
//   gamma(K + 2 calls + 4). A cone addition also multiplies by bin_pdf =
//   exp(ln K! - ln k! - ln(K-k)! + k ln p + (K-k) ln q), whose exponent errs
//   by at most u (2K + 8) (ln K! + K (|ln p| + |ln q|)) (an ulp per logarithm,
//   a running sum of at most K of them per log-factorial, a few sums and
//   products), and exp adds an ulp.
// - Underflow: a rounding below the normal range errs by up to 2^-1075
//   absolutely, which later products by p, q <= 1 do not enlarge; fewer than
//   1e9 roundings (at most 1e5 calls of at most K patients and K + 1 cone
//   additions each; 3 K^2 in the recursion) stay far below 1e-300.
// Both relative bounds are doubled, a margin for the second-order terms.
crossing_bound walk_from_recursion(double theta, int K, std::uint64_t calls) {
  constexpr double u = DBL_EPSILON / 2;
  const double k = K;
  const double logs = std::fabs(std::log(theta)) + std::fabs(std::log(1.0 - theta));
  const double exponent = u * (2 * k + 8) * (ilfact(K) + k * logs);
  const double pdf = std::expm1(exponent) + 2 * u;
  const double walk_error =
      (1 + pdf) * (1 + rounding_gamma(k + 2 * static_cast<double>(calls) + 4)) - 1;
  const double recursion_error = rounding_gamma(4 * k + 2);
  return {2 * std::max(walk_error, recursion_error), 1e-300};
}

void clear(double* ls, double* us, double* rs, int K) {
  for (int i = 0; i <= K; ++i) {
    ls[i] = 0.0;
    us[i] = 0.0;
    if (rs != nullptr) rs[i] = 0.0;
  }
}

// CrossingProb's rule: the walk within its budget, the recursion beyond;
// without `rs` the walk skips the cone's additions to the remaining vector.
template <bool with_remaining>
int crossing_by_cost(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                     const int* upper, cross2::workspace& ws) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  workspace_state& st = cross2::workspace_access::of(ws);
  fill_cones(st, K, lower, upper);
  std::uint64_t calls = 0;
  const bool walk = walks(st, K, lower, upper, &calls);
  // Rows first: a failed allocation leaves the caller's vectors untouched.
  if (walk && with_remaining && st.bin_prob.empty())
    st.bin_prob.resize(static_cast<std::size_t>(max_patients + 1) * (max_patients + 1));
  sized(st.row_a, K);
  sized(st.row_b, K);
  clear(ls, us, rs, K);
  if (walk) {
    if constexpr (with_remaining) use_bin_prob_theta(st, theta);
    walker w{st, lower, upper, st.lcone.data(), st.ucone.data(), ls, us, rs, K, theta, 1.0 - theta};
    w.walk<with_remaining>();
  } else {
    run_recursion(st, ls, us, rs, theta, K, lower, upper);
  }
  return 0;
}

}  // namespace

std::uint64_t cross2_internal::walk_cost(int K, const int* lower, const int* upper,
                                         std::uint64_t cap) {
  cross2::workspace ws;
  workspace_state& st = cross2::workspace_access::of(ws);
  fill_cones(st, K, lower, upper);
  return count_walk_calls(st, K, lower, upper, cap);
}

int CrossingProb(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                 const int* upper, cross2::workspace& ws) {
  return crossing_by_cost<true>(ls, us, rs, theta, K, lower, upper, ws);
}

int CrossingProb(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                 const int* upper) {
  return CrossingProb(ls, us, rs, theta, K, lower, upper, cross2::default_workspace());
}

int upper_crossing(double* ls, double* us, double theta, int K, const int* lower, const int* upper,
                   cross2::workspace& ws) {
  return crossing_by_cost<false>(ls, us, nullptr, theta, K, lower, upper, ws);
}

int upper_crossing(double* ls, double* us, double theta, int K, const int* lower,
                   const int* upper) {
  return upper_crossing(ls, us, theta, K, lower, upper, cross2::default_workspace());
}

int crossing_estimate(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                      const int* upper, crossing_bound* bound) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  workspace_state& st = cross2::workspace_access::of(cross2::default_workspace());
  fill_cones(st, K, lower, upper);
  sized(st.row_a, K);
  sized(st.row_b, K);
  std::uint64_t calls = 0;
  const crossing_bound b = walks(st, K, lower, upper, &calls) ? walk_from_recursion(theta, K, calls)
                                                              : crossing_bound{0.0, 0.0};
  clear(ls, us, rs, K);
  run_recursion(st, ls, us, rs, theta, K, lower, upper);
  *bound = b;
  return 0;
}

// The recursion's distance from the exact values, widened by the walk's from
// the recursion where CrossingProb walks: (1 + w)(1 + r) - 1 relatively.
int crossing_prob_bound(double theta, int K, const int* lower, const int* upper,
                        crossing_bound* bound, cross2::workspace& ws) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  workspace_state& st = cross2::workspace_access::of(ws);
  fill_cones(st, K, lower, upper);
  std::uint64_t calls = 0;
  const crossing_bound walk = walks(st, K, lower, upper, &calls)
                                  ? walk_from_recursion(theta, K, calls)
                                  : crossing_bound{0.0, 0.0};
  const crossing_bound recursion = recursion_bound(K);
  *bound = {(1 + walk.relative) * (1 + recursion.relative) - 1, walk.absolute + recursion.absolute};
  return 0;
}

int crossing_estimate(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                      const int* upper, crossing_bound* bound, cross2::workspace& ws) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  workspace_state& st = cross2::workspace_access::of(ws);
  sized(st.row_a, K);
  sized(st.row_b, K);
  clear(ls, us, rs, K);
  run_recursion(st, ls, us, rs, theta, K, lower, upper);
  *bound = recursion_bound(K);
  return 0;
}

int crossing_precise(double* ls, double* us, double theta, int K, const int* lower,
                     const int* upper, crossing_bound* bound, cross2::workspace& ws) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  workspace_state& st = cross2::workspace_access::of(ws);
  long double* lls = sized(st.precise_ls, K);
  long double* lus = sized(st.precise_us, K);
  long double* alive = sized(st.precise_a, K) + 1;
  long double* next = sized(st.precise_b, K) + 1;
  std::fill(lls, lls + K + 1, 0.0L);
  std::fill(lus, lus + K + 1, 0.0L);
  const long double p = theta;
  recursion<long double>(alive, next, lls, lus, nullptr, p, 1.0L - p, K, lower, upper, DBL_MIN);
  for (int i = 0; i <= K; ++i) {
    ls[i] = static_cast<double>(lls[i]);
    us[i] = static_cast<double>(lus[i]);
  }
  *bound = precise_bound(K);
  return 0;
}

double precise_sum(const double* x, int first, int last, const crossing_bound& bound,
                   double* error) {
  constexpr double u = DBL_EPSILON / 2;
  long double sum = 0.0L;
  for (int i = first; i <= last; ++i) sum += x[i];
  const double count = last >= first ? static_cast<double>(last - first + 1) : 0.0;
  const auto result = static_cast<double>(sum);
  // The terms within bound of theirs, their long double sum within
  // gamma_long(count), the final rounding u: doubled as margin.
  const double r = bound.relative + rounding_gamma_long(count) + u;
  *error = 2 * (r / (1 - r) * result + count * bound.absolute + DBL_TRUE_MIN);
  return result;
}

void cross2::stops_by_count(workspace& ws, double theta, int K, const int* lboundary,
                            const int* uboundary, std::vector<stop>* low, std::vector<stop>* high) {
  workspace_state& st = workspace_access::of(ws);
  double* alive = sized(st.row_a, K) + 1;
  double* next = sized(st.row_b, K) + 1;
  const double p = theta;
  const double q = 1.0 - theta;
  alive[0] = 1.0;
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= K; ++d) {
    const int lower = lboundary[d];
    const int upper = uboundary[d];
    // Count c is reached from c - 1 by an event and from c without one, and
    // both stop alike: its stopping mass is a[c-1] p + a[c] q, summed as the
    // recursion sums next[c] and as the engine adds the two to a stop.
    alive[lo - 1] = 0.0;
    alive[hi + 1] = 0.0;
    for (int c = lo; c <= std::min(hi + 1, lower); ++c) {
      const double w = alive[c - 1] * p + alive[c] * q;
      if (low != nullptr && w > 0) low->push_back({d, c, w});
    }
    for (int c = std::max(lo, upper); c <= hi + 1; ++c) {
      const double w = alive[c - 1] * p + alive[c] * q;
      if (high != nullptr && w > 0) high->push_back({d, c, w});
    }
    int next_lo = std::max(lo, lower + 1);
    int next_hi = std::min(hi + 1, upper - 1);
    if (next_lo > next_hi) return;
    step(next, alive, next_lo, next_hi, p, q);
    trim(next, &next_lo, &next_hi, band_floor(K));
    if (next_lo > next_hi) return;
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
  }
}

double rounding_gamma(double m) {
  constexpr double u = DBL_EPSILON / 2;
  return m * u / (1.0 - m * u);
}

double sum_bound(double sum, int count, const crossing_bound& bound) {
  if (bound.relative == 0.0 && bound.absolute == 0.0) return 0.0;
  // Each of the two sums adds count - 1 roundings to terms already within
  // bound.relative of the same exact ones; doubled as margin.
  const double r = 2 * (bound.relative + rounding_gamma(count));
  return 2 * (r / (1 - r) * sum + 2 * count * bound.absolute);
}

const char* method() { return method_name; }

void cross2_internal::choose_method(method_choice c) { choice = c; }

std::uint64_t cross2_internal::last_walk_calls() {
  return cross2::workspace_access::of(cross2::default_workspace()).proceed_calls;
}
