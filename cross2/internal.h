// Internals of the crossing engine, for its tests and benchmarks: the choice
// between its two exact methods and the walk's cost.
#pragma once

#include <cstdint>

namespace cross2_internal {

/// How CrossingProb computes: by the walk's cost (the program's rule), or
/// always by one method (tests and benchmarks compare the two).
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

/// The proceed calls of the last walk that CrossingProb ran.
std::uint64_t last_walk_calls();

}  // namespace cross2_internal
