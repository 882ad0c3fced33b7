// The crossing engine: exact probabilities of stopping low or high at each
// patient, and of the final count for trials that never stop, under a pair
// of boundaries.
//
// Two exact methods. The walk follows every outcome sequence depth first,
// adding whole subtrees at once from a binomial table where they can reach no
// boundary (the cone); its cost grows exponentially with K, but its order of
// additions decides the last bits of what it returns, and with them printed
// digits at decimal ties, so CrossingProb keeps it wherever it is cheap and
// results can be compared with earlier ones. The recursion merges equal
// states (patient, count) and costs O(K^2) whatever the boundaries. The
// walk's cost is counted exactly before it runs, so the choice depends on the
// input alone. crossing_estimate takes the recursion everywhere and says how
// far the walk's results can lie from it, so that a caller walks only where
// that distance could change what it prints or decides.
#include <algorithm>
#include <array>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"

namespace {

constexpr const char* method_name = "Exact";

// One call's arguments and cones, set by prep and read by both methods
// (rspending is null when only the stops are wanted); the walk's binomial
// rows are filled by the walk as it needs them, its call counter by walk
// and read by last_walk_calls.
const int* lboundary = nullptr;
const int* uboundary = nullptr;
double* lspending = nullptr;
double* uspending = nullptr;
double* rspending = nullptr;
int n = 0;
double p = 0.0;
double q = 0.0;
int lcone = 0;                              // lboundary[K] + 1
std::array<int, max_patients + 1> ucone{};  // largest count at m that can never go up
// Row r holds P(j events among r patients), j = 0..r, at bin_prob_theta,
// filled when a walk first enters the cone with r patients to come. The rows
// depend on theta alone, so later calls at the same theta reuse them.
std::array<std::array<double, max_patients + 1>, max_patients + 1> bin_prob{};
std::array<bool, max_patients + 1> bin_prob_filled{};
double bin_prob_theta = -1.0;  // matches no valid theta
std::uint64_t proceed_calls = 0;

cross2_internal::method_choice choice = cross2_internal::method_choice::by_cost;

int validate(double theta, int K, const int* lower, const int* upper) {
  if (!(theta > 0.0 && theta < 1.0)) return 1;
  if (K < 1 || K > max_patients) return 2;
  if (lower[1] > 0) return 3;
  if (upper[1] < 1) return 4;
  for (int m = 1; m < K; ++m)
    if (lower[m] > lower[m + 1]) return 5;
  for (int m = 1; m < K; ++m)
    if (upper[m] > upper[m + 1]) return 6;
  for (int m = 1; m <= K; ++m)
    if (upper[m] <= lower[m]) return 7;
  return 0;
}

// ucone[m] = min(ucone[m + 1] - 1, upper[m] - 1): from a count at or below it
// even an event at every later patient stays below the upper boundary.
void fill_cones(int K, const int* lower, const int* upper) {
  lcone = lower[K] + 1;
  int t = upper[K];
  for (int m = K; m >= 1; --m) {
    t = t - 1;
    if (t >= upper[m]) t = upper[m] - 1;
    ucone[m] = t;
  }
}

void prep(double* ls, double* us, double* rs, double theta, int K, const int* lower,
          const int* upper) {
  lboundary = lower;
  uboundary = upper;
  lspending = ls;
  uspending = us;
  rspending = rs;
  n = K;
  p = theta;
  q = 1.0 - theta;
  for (int i = 0; i <= K; ++i) {
    ls[i] = 0.0;
    us[i] = 0.0;
    if (rs != nullptr) rs[i] = 0.0;
  }
  fill_cones(K, lower, upper);
}

void use_bin_prob_theta(double theta) {
  if (theta == bin_prob_theta) return;
  bin_prob_filled.fill(false);
  bin_prob_theta = theta;
}

const std::array<double, max_patients + 1>& bin_prob_row(int r) {
  const auto i = static_cast<std::size_t>(r);
  if (!bin_prob_filled[i]) {
    bin_pdf_row(bin_prob[i].data(), r, bin_prob_theta);
    bin_prob_filled[i] = true;
  }
  return bin_prob[i];
}

// Adds every continuation of one sequence with s events after patients
// 1..d-1 and probability w. The no-event branch recurses (at most K calls
// deep); the event branch continues in the same call. Without the remaining
// vector a sequence that enters the cone just ends: the cone adds to nothing
// else, and the stops keep their order of additions.
template <bool with_remaining>
void proceed(int s, int d, double w) {
  ++proceed_calls;
  for (;;) {
    if (d > n) {
      if constexpr (with_remaining) rspending[s] += w;
      return;
    }
    if (lcone <= s && s <= ucone[d - 1]) {
      if constexpr (with_remaining) {
        const int r = n - d + 1;
        const auto& row = bin_prob_row(r);
        for (int i = 0; i <= r; ++i) rspending[s + i] += w * row[i];
      }
      return;
    }
    if (s <= lboundary[d])
      lspending[d] += w * q;
    else
      proceed<with_remaining>(s, d + 1, w * q);
    if (s + 1 <= lboundary[d]) {
      lspending[d] += w * p;
      return;
    }
    if (s + 1 >= uboundary[d]) {
      uspending[d] += w * p;
      return;
    }
    s = s + 1;
    w = w * p;
    d = d + 1;
  }
}

template <bool with_remaining>
void walk(double theta) {
  if constexpr (with_remaining) use_bin_prob_theta(theta);
  proceed_calls = 0;
  if (0 <= lboundary[1])
    lspending[1] += q;
  else
    proceed<with_remaining>(0, 2, q);
  if (1 <= lboundary[1])
    lspending[1] += p;
  else if (1 >= uboundary[1])
    uspending[1] += p;
  else
    proceed<with_remaining>(1, 2, p);
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

// Probabilities of the counts still running after each patient, one row at a
// time; what reaches a boundary moves into the spending vectors, the lower
// boundary tested first as in the walk. The running counts after patient d
// lie in lo..hi: above the lower boundary, below the upper one, and at most
// one above the previous range (a count without an event cannot reach the
// upper boundary, which never decreases).
//
// Count s after patient d comes from s - 1 by an event and from s by none,
// added in that order to a zero: next[s] = a[s-1] p + a[s] q, the same
// roundings whether or not both neighbours run, since +0 + x = x for x >= 0.
// With zeros beside the running range that is one loop without branches.
void recursion(int K) {
  // Index s + 1 holds count s, so that count -1 is a zero like count hi + 1.
  std::array<double, max_patients + 3> row_a{};
  std::array<double, max_patients + 3> row_b{};
  double* alive = row_a.data() + 1;  // the two rows trade places after each patient
  double* next = row_b.data() + 1;
  alive[0] = 1.0;
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= K; ++d) {
    const int lower = lboundary[d];
    const int upper = uboundary[d];
    assert(hi < upper);  // no count without an event reaches the upper boundary
    // Lower stops in the order the states come: no event, then an event.
    for (int s = lo; s <= std::min(hi, lower); ++s) {
      lspending[d] += alive[s] * q;
      if (s + 1 <= lower) lspending[d] += alive[s] * p;
    }
    // Only the top count can reach the upper boundary, by an event.
    if (hi + 1 >= upper) uspending[d] += alive[hi] * p;
    const int next_lo = std::max(lo, lower + 1);
    const int next_hi = std::min(hi + 1, upper - 1);
    if (next_lo > next_hi) return;  // every sequence has stopped
    alive[lo - 1] = 0.0;
    alive[hi + 1] = 0.0;
    step(next, alive, next_lo, next_hi, p, q);
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
  }
  if (rspending != nullptr)
    for (int s = lo; s <= hi; ++s) rspending[s] = alive[s];
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
std::uint64_t count_walk_calls(int K, const int* lower, const int* upper, std::uint64_t cap) {
  std::array<std::uint64_t, max_patients + 2> row_a{};
  std::array<std::uint64_t, max_patients + 2> row_b{};
  std::uint64_t* alive = row_a.data();
  std::uint64_t* next = row_b.data();
  std::uint64_t calls = 0;
  if (0 > lower[1]) {
    alive[0] = 1;
    calls = 1;
  }
  if (1 > lower[1] && 1 < upper[1]) {
    alive[1] = 1;
    calls += 1;
  }
  // Sequences still running after patient m have counts in lo..hi; those
  // in the cone end, so the range narrows to the band above it.
  int lo = 0;
  int hi = 1;
  for (int m = 1; m < K; ++m) {
    const int d = m + 1;
    const int next_lo = std::max(lo, lower[d] + 1);
    const int next_hi = std::min(hi + 1, upper[d] - 1);
    for (int s = next_lo; s <= next_hi; ++s) next[s] = 0;
    for (int s = lo; s <= hi; ++s) {
      const std::uint64_t c = alive[s];
      if (c == 0 || (lcone <= s && s <= ucone[m])) continue;
      if (s > lower[d]) {
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
// recursion beyond; *calls gets the walk's calls when it runs. The cones
// must be filled.
bool walks(int K, const int* lower, const int* upper, std::uint64_t* calls) {
  using cross2_internal::method_choice;
  using cross2_internal::walk_budget;
  constexpr std::uint64_t no_cap = std::uint64_t{1} << 62;
  if (choice == method_choice::recursion) return false;
  *calls = count_walk_calls(K, lower, upper, choice == method_choice::walk ? no_cap : walk_budget);
  return choice == method_choice::walk || *calls <= walk_budget;
}

// How far the walk's results may lie from the recursion's.
//
// Both methods approximate the same exact sums over outcome sequences of
// products of the doubles p and q: all terms non-negative, so an entry whose
// terms went through at most m roundings each lies within gamma(m) =
// m u / (1 - m u) of its exact value, relatively, with u = DBL_EPSILON / 2.
// - Recursion: an entry after d patients went through a product and a sum
//   per patient; a lower stop adds up to 2 (d + 1) terms: gamma(4K + 2).
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

}  // namespace

std::uint64_t cross2_internal::walk_cost(int K, const int* lower, const int* upper,
                                         std::uint64_t cap) {
  fill_cones(K, lower, upper);
  return count_walk_calls(K, lower, upper, cap);
}

namespace {

// CrossingProb's rule: the walk within its budget, the recursion beyond;
// without `rs` the walk skips the cone's additions to the remaining vector.
template <bool with_remaining>
int crossing_by_cost(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                     const int* upper) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  prep(ls, us, rs, theta, K, lower, upper);  // fills the cones the count reads
  std::uint64_t calls = 0;
  if (walks(K, lower, upper, &calls))
    walk<with_remaining>(theta);
  else
    recursion(K);
  return 0;
}

}  // namespace

int CrossingProb(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                 const int* upper) {
  return crossing_by_cost<true>(ls, us, rs, theta, K, lower, upper);
}

int upper_crossing(double* ls, double* us, double theta, int K, const int* lower,
                   const int* upper) {
  return crossing_by_cost<false>(ls, us, nullptr, theta, K, lower, upper);
}

int crossing_estimate(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                      const int* upper, crossing_bound* bound) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  prep(ls, us, rs, theta, K, lower, upper);
  std::uint64_t calls = 0;
  *bound = walks(K, lower, upper, &calls) ? walk_from_recursion(theta, K, calls)
                                          : crossing_bound{0.0, 0.0};
  recursion(K);
  return 0;
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

std::uint64_t cross2_internal::last_walk_calls() { return proceed_calls; }
