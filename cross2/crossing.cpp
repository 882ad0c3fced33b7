// The crossing engine: exact probabilities of stopping low or high at each
// patient, and of the final count for trials that never stop, under a pair
// of boundaries.
//
// The walk follows every outcome sequence depth first, adding whole subtrees
// at once from a binomial table where they can reach no boundary (the cone).
// Its order of additions decides the last bits of what it returns, and with
// them printed digits at decimal ties.
#include <array>
#include <cassert>
#include <cstdint>

#include "bndry/bndry.h"
#include "cross2/cross2.h"
#include "cross2/engine.h"

namespace {

constexpr const char* method_name = "Exact";

// The walk's state, set by prep at the start of every call.
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
    ucone[static_cast<std::size_t>(m)] = t;
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
      bin_prob[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = bin_pdf(j, i, theta);
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
    if (lcone <= s && s <= ucone[static_cast<std::size_t>(d - 1)]) {
      const int r = n - d + 1;
      const auto& row = bin_prob[static_cast<std::size_t>(r)];
      for (int i = 0; i <= r; ++i) rspending[s + i] += w * row[static_cast<std::size_t>(i)];
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

}  // namespace

int CrossingProb(double* ls, double* us, double* rs, double theta, int K, const int* lower,
                 const int* upper) {
  const int status = validate(theta, K, lower, upper);
  if (status != 0) return status;
  prep(ls, us, rs, theta, K, lower, upper);
  walk(theta, K);
  return 0;
}

const char* method() { return method_name; }

void cross2_internal::choose_method(method_choice c) { choice = c; }

std::uint64_t cross2_internal::last_walk_calls() { return proceed_calls; }
