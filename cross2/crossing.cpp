// The crossing engine: exact probabilities of stopping low or high at each
// patient, and of the final count for trials that never stop, under a pair
// of boundaries.
//
// Two exact methods. The walk follows every outcome sequence depth first,
// adding whole subtrees at once from a binomial table where they can reach no
// boundary (the cone); its cost grows exponentially with K, but its order of
// additions decides the last bits of what it returns, and with them printed
// digits at decimal ties, so it stays wherever it is cheap and results can be
// compared with earlier ones. The recursion merges equal states (patient,
// count) and costs O(K^2) whatever the boundaries. The walk's cost is counted
// exactly before it runs, so the choice depends on the input alone.
#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <utility>

#include "base/base.h"
#include "cross2/cross2.h"
#include "cross2/internal.h"

namespace {

constexpr const char* method_name = "Exact";

// One call's arguments and cones, set by prep and read by both methods; the
// walk's binomial table is filled by walk itself, its call counter by walk
// and read by last_walk_calls.
const int* lboundary = nullptr;
const int* uboundary = nullptr;
double* lspending = nullptr;
double* uspending = nullptr;
double* rspending = nullptr;
int n = 0;
double p = 0.0;
double q = 0.0;
int lcone = 0;                                 // lboundary[K] + 1
std::array<int, max_patients + 1> ucone{};     // largest count at m that can never go up
std::array<std::array<double, max_patients + 1>, max_patients + 1> bin_prob{};
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
    rs[i] = 0.0;
  }
  fill_cones(K, lower, upper);
}

void fill_bin_prob(double theta, int K) {
  for (int i = 0; i <= K; ++i)
    for (int j = 0; j <= i; ++j)
      bin_prob[i][j] = bin_pdf(j, i, theta);
}

// Adds every continuation of one sequence with s events after patients
// 1..d-1 and probability w. The no-event branch recurses (at most K calls
// deep); the event branch continues in the same call.
void proceed(int s, int d, double w) {
  ++proceed_calls;
  for (;;) {
    if (d > n) {
      rspending[s] += w;
      return;
    }
    if (lcone <= s && s <= ucone[d - 1]) {
      const int r = n - d + 1;
      const auto& row = bin_prob[r];
      for (int i = 0; i <= r; ++i) rspending[s + i] += w * row[i];
      return;
    }
    if (s <= lboundary[d])
      lspending[d] += w * q;
    else
      proceed(s, d + 1, w * q);
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

void walk(double theta, int K) {
  fill_bin_prob(theta, K);
  proceed_calls = 0;
  if (0 <= lboundary[1])
    lspending[1] += q;
  else
    proceed(0, 2, q);
  if (1 <= lboundary[1])
    lspending[1] += p;
  else if (1 >= uboundary[1])
    uspending[1] += p;
  else
    proceed(1, 2, p);
}

// Probabilities of the counts still running after each patient, one row at a
// time; what reaches a boundary moves into the spending vectors, the lower
// boundary tested first as in the walk. The running counts after patient d
// lie in lo..hi: above the lower boundary, below the upper one, and at most
// one above the previous range (a count without an event cannot reach the
// upper boundary, which never decreases).
void recursion(int K) {
  std::array<double, max_patients + 2> row_a{};
  std::array<double, max_patients + 2> row_b{};
  double* alive = row_a.data();  // the two rows trade places after each patient
  double* next = row_b.data();
  alive[0] = 1.0;
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= K; ++d) {
    const int lower = lboundary[d];
    const int upper = uboundary[d];
    assert(hi < upper);  // no count without an event reaches the upper boundary
    const int next_lo = std::max(lo, lower + 1);
    const int next_hi = std::min(hi + 1, upper - 1);
    for (int s = next_lo; s <= next_hi; ++s) next[s] = 0.0;
    for (int s = lo; s <= hi; ++s) {
      const double w = alive[s];
      if (s <= lower)
        lspending[d] += w * q;
      else
        next[s] += w * q;
      if (s + 1 <= lower)
        lspending[d] += w * p;
      else if (s + 1 >= upper)
        uspending[d] += w * p;
      else
        next[s + 1] += w * p;
    }
    std::swap(alive, next);
    lo = next_lo;
    hi = next_hi;
  }
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
  for (int m = 1; m < K; ++m) {
    const int d = m + 1;
    for (int s = 0; s <= m + 1; ++s) next[s] = 0;
    for (int s = 0; s <= m; ++s) {
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
  }
  return calls;
}

}  // namespace

std::uint64_t cross2_internal::walk_cost(int K, const int* lower, const int* upper,
                                         std::uint64_t cap) {
  fill_cones(K, lower, upper);
  return count_walk_calls(K, lower, upper, cap);
}

int CrossingProb(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                 const int* upper) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  prep(ls, us, rs, theta, K, lower, upper);  // fills the cones the count reads
  using cross2_internal::method_choice;
  using cross2_internal::walk_budget;
  const bool cheap = choice == method_choice::walk ||
                     (choice == method_choice::by_cost &&
                      count_walk_calls(K, lower, upper, walk_budget) <= walk_budget);
  if (cheap)
    walk(theta, K);
  else
    recursion(K);
  return 0;
}

const char* method() { return method_name; }

void cross2_internal::choose_method(method_choice c) { choice = c; }

std::uint64_t cross2_internal::last_walk_calls() { return proceed_calls; }
