// PHI* of an upper boundary of any shape: the probability that a trial of at
// most K patients ever has Y_n >= upper[n], by the running-count recursion,
// with a bound on its distance from the exact value, in double and in
// extended precision.
#include <algorithm>
#include <cfloat>
#include <vector>

#include "bndry/design.h"

namespace bndry {

namespace {

// gamma(m) = m u / (1 - m u) in the arithmetic of Real.
template <class Real>
Real gamma_of(Real m, Real u) {
  return m * u / (1 - m * u);
}

// a[s] holds the probability that a running trial has count s after the
// patients so far (index s + 1, so that count -1 is a zero). Each patient
// updates the row in place from the top, a[s] = a[s-1] p + a[s] q; at a look
// every count >= upper[d] stops (after a gap in the looks several can), and
// the counts that are exactly 0 at either end (underflow) leave the band.
template <class Real>
Real crossing(const int* upper, int K, Real p, Real q, std::vector<Real>& row) {
  row.assign(static_cast<std::size_t>(K) + 3, Real(0));
  Real* a = row.data() + 1;
  a[0] = 1;
  int lo = 0;
  int hi = 0;
  Real phi = 0;
  for (int d = 1; d <= K; ++d) {
    for (int s = hi + 1; s >= lo; --s) a[s] = a[s - 1] * p + a[s] * q;
    ++hi;
    const int u = upper[d];
    if (u <= hi) {
      Real stopped = 0;
      for (int s = u < lo ? lo : u; s <= hi; ++s) {
        stopped = stopped + a[s];
        a[s] = 0;
      }
      phi = phi + stopped;
      hi = u - 1;
    }
    while (lo <= hi && a[lo] == 0) ++lo;
    while (hi >= lo && a[hi] == 0) --hi;
    if (lo > hi) break;
    a[lo - 1] = 0;
  }
  return phi;
}

// Every path's probability is a product of d factors p or q after d
// patients, each factor in error by at most u (q = 1 - theta rounds), and
// goes through a product and a sum per patient; a look's stops add at most
// d sums and the total K more: within gamma(5K + 2) of the exact value,
// relatively, as all terms are non-negative. Roundings below the normal
// range add at most 2^-1074 each, fewer than 4 K^2 of them. Doubled as margin.
template <class Real>
Real error_of(Real phi, int K, Real u, Real underflow) {
  const Real k = K;
  return 2 * (gamma_of(5 * k + 2, u) * phi + 4 * k * k * underflow);
}

}  // namespace

phi_value upper_crossing_phi(std::span<const int> upper, int K, double theta,
                             std::vector<double>& scratch) {
  const auto phi = crossing<double>(upper.data(), K, theta, 1.0 - theta, scratch);
  return {phi, error_of<double>(phi, K, DBL_EPSILON / 2, DBL_TRUE_MIN)};
}

precise_phi_value upper_crossing_phi_precise(std::span<const int> upper, int K, double theta) {
  std::vector<long double> row;
  const long double p = theta;
  const auto phi = crossing<long double>(upper.data(), K, p, 1.0L - p, row);
  return {phi, error_of<long double>(phi, K, LDBL_EPSILON / 2, LDBL_TRUE_MIN)};
}

}  // namespace bndry

namespace bndry {

// The recursion of PHI* with both boundaries: counts <= lower[d] stop low
// and counts >= upper[d] stop high after patient d, each credited with the
// count it has.
trial_endings general_endings(std::span<const int> lower, std::span<const int> upper, int K,
                              double theta) {
  const double p = theta;
  const double q = 1.0 - theta;
  trial_endings e;
  e.low.assign(static_cast<std::size_t>(K) + 1, 0.0);
  e.high.assign(static_cast<std::size_t>(K) + 1, 0.0);
  e.rest.assign(static_cast<std::size_t>(K) + 1, 0.0);
  std::vector<double> row(static_cast<std::size_t>(K) + 3, 0.0);
  double* a = row.data() + 1;
  a[0] = 1.0;
  int lo = 0;
  int hi = 0;
  std::vector<double> hy, hn, hw;
  for (int d = 1; d <= K && lo <= hi; ++d) {
    for (int s = hi + 1; s >= lo; --s) a[s] = a[s - 1] * p + a[s] * q;
    ++hi;
    const auto at = static_cast<std::size_t>(d);
    for (int s = lo; s <= hi && s <= lower[at]; ++s) {
      if (a[s] > 0) {
        e.low[at] += a[s];
        e.y.push_back(s);
        e.n.push_back(d);
        e.w.push_back(a[s]);
      }
      a[s] = 0.0;
    }
    for (int s = std::max(lo, upper[at]); s <= hi; ++s) {
      if (a[s] > 0) {
        e.high[at] += a[s];
        hy.push_back(s);
        hn.push_back(d);
        hw.push_back(a[s]);
      }
      a[s] = 0.0;
    }
    while (lo <= hi && a[lo] == 0) ++lo;
    while (hi >= lo && a[hi] == 0) --hi;
    a[lo - 1] = 0.0;
    if (d == K)
      for (int s = lo; s <= hi; ++s) e.rest[static_cast<std::size_t>(s)] = a[s];
  }
  e.y.insert(e.y.end(), hy.begin(), hy.end());
  e.n.insert(e.n.end(), hn.begin(), hn.end());
  e.w.insert(e.w.end(), hw.begin(), hw.end());
  for (int s = 0; s <= K; ++s) {
    if (e.rest[static_cast<std::size_t>(s)] > 0) {
      e.y.push_back(s);
      e.n.push_back(K);
      e.w.push_back(e.rest[static_cast<std::size_t>(s)]);
    }
  }
  return e;
}

}  // namespace bndry
