// Internals of the public interface shared by its source files and tests:
// the stopping distribution formed from an engine's per-patient stops.
#pragma once

#include <vector>

#include "stopbound/stopbound.h"

namespace stopbound::internal {

/// The engine's per-patient stops of b at theta, each within relative *
/// e + absolute of its exact value e, turned into the stopping distribution:
/// running sums, the 10 %, 50 % and 90 % quantiles of N decided exactly (or,
/// where the exact probability lies within 1e-25 of the level, as reached),
/// and E[N | stopped].
stopping summarize_stopping(const boundary& b, double theta, std::vector<double> p_high,
                            std::vector<double> p_low, double relative, double absolute);

/// An unevaluated sum hi + lo with |lo| <= ulp(hi) / 2: about 106 bits.
struct double_double {
  double hi = 0.0;
  double lo = 0.0;
};

/// P(N <= n) for n = 1..K at index n - 1, by the running-count recursion in
/// double-double arithmetic, each within *bound relatively (plus 1e-290 n)
/// of its exact value.
std::vector<double_double> stopped_by_precise(const boundary& b, double theta, double* bound);

}  // namespace stopbound::internal
