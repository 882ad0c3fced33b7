// PHI* of an upper boundary of any shape, the probability that a trial of at
// most K patients ever has Y_n >= upper[n], through the crossing engine, with
// a bound on its distance from the exact value: by the double recursion, and
// by the extended one for the comparisons the first leaves open.
#include <span>
#include <stdexcept>

#include "bndry/design.h"
#include "cross2/cross2.h"

namespace bndry {

namespace {

// Fills s.ls and s.us by the engine's double or extended recursion, with
// the never-stopping lower boundary; returns the entries' bound.
crossing_bound stops(std::span<const int> upper, int K, double theta, phi_scratch& s, bool precise) {
  const auto size = static_cast<std::size_t>(K) + 1;
  s.lower.assign(size, -1);
  s.ls.resize(size);
  s.us.resize(size);
  crossing_bound bound{};
  const int status =
      precise ? crossing_precise(s.ls.data(), s.us.data(), theta, K, s.lower.data(), upper.data(), &bound,
                                 s.engine)
              : crossing_estimate(s.ls.data(), s.us.data(), nullptr, theta, K, s.lower.data(), upper.data(),
                                  &bound, s.engine);
  if (status != 0) throw std::logic_error("the crossing engine refused a family's boundary");
  return bound;
}

}  // namespace

// Each of the K entries lies within relative e + absolute of its exact e,
// all non-negative, and the sum adds gamma(K) relatively: within (relative
// + gamma(K)) PHI* + K absolute, doubled as margin for second-order terms.
phi_value upper_crossing_phi(std::span<const int> upper, int K, double theta, phi_scratch& s) {
  const crossing_bound bound = stops(upper, K, theta, s, false);
  const double phi = array_sum(s.us.data(), 1, K);
  return {phi, 2 * ((bound.relative + rounding_gamma(K)) * phi + K * bound.absolute)};
}

precise_phi_value upper_crossing_phi_precise(std::span<const int> upper, int K, double theta,
                                             phi_scratch& s) {
  const crossing_bound bound = stops(upper, K, theta, s, true);
  double error = 0.0;
  const double phi = precise_sum(s.us.data(), 1, K, bound, &error);
  return {phi, error};
}

}  // namespace bndry
