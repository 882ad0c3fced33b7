// Internals of the crossing engine, for its own sources, tests and
// benchmarks: the workspace's contents, the choice between its two exact
// methods, the walk's cost and the stops split by count.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/base.h"
#include "cross2/cross2.h"

namespace cross2 {

/// One stop of the split: at patient m with `count` events, probability w.
struct stop {
  int m;
  int count;
  double w;
};

/// Everything one engine call works in, kept between calls so that rows are
/// allocated once per workspace: O(K) for the recursion, plus the walk's
/// binomial rows (the walk runs for K <= max_patients only).
struct workspace_state {
  std::vector<double> row_a, row_b;  // the recursion's two rows, count s at s + 1
  std::vector<long double> precise_a, precise_b, precise_ls, precise_us;
  std::vector<int> ucone, lcone;  // per patient 1..K
  // Row r of the walk's table, r (max_patients + 1) .. + r, holds P(j events
  // among r patients) at bin_prob_theta once bin_prob_filled[r].
  std::vector<double> bin_prob;
  std::array<bool, max_patients + 1> bin_prob_filled{};
  double bin_prob_theta = -1.0;  // matches no valid theta
  std::uint64_t proceed_calls = 0;
  std::vector<std::uint64_t> count_a, count_b;
  std::vector<stop> split_low, split_high;  // yn_dstn_at's stops by count
};

/// The state behind a workspace.
struct workspace_access {
  // cppcheck-suppress constParameter ; the state behind it is what callers change
  static workspace_state& of(workspace& ws) { return *ws.state_; }
};

/// The probabilities of stopping low (into *low, when low is not null) and
/// high (into *high) at each patient by the count the trial has then, in
/// order of patient and count: the recursion's own terms at theta, each
/// count's two summed as the engine sums them. Boundaries valid for the engine.
void stops_by_count(workspace& ws, double theta, int K, const int* lboundary, const int* uboundary,
                    std::vector<stop>* low, std::vector<stop>* high);

}  // namespace cross2

namespace cross2_internal {

/// How CrossingProb computes: by the walk's cost (the program's rule), or
/// always by one method (tests and benchmarks compare the two). The walk
/// runs for K <= max_patients only; beyond, every choice is the recursion.
enum class method_choice { by_cost, walk, recursion };

/// Sets the method of later CrossingProb calls; the program never calls it.
void choose_method(method_choice choice);

/// The walk runs when it makes at most this many proceed calls (about the
/// designs of K = 20). The recursion is faster at every K measured; the walk
/// stays below this for its order of additions, which earlier results carry.
inline constexpr std::uint64_t walk_budget = 100000;

/// The number of proceed calls the walk makes for valid boundaries; counts
/// above `cap` are reported as `cap` + 1.
std::uint64_t walk_cost(int K, const int* lower, const int* upper, std::uint64_t cap);

/// The proceed calls of the last walk that CrossingProb ran in the
/// process-wide workspace.
std::uint64_t last_walk_calls();

}  // namespace cross2_internal
