// Operating characteristics of a designed boundary at one event probability:
// PHI* and the moments of the events Y, the patients N and the rate Y/N at
// the end of the trial; exactly, or by the cheaper method with a bound on
// how far each figure may lie from the exact one.
#include <algorithm>
#include <cmath>

#include "bndry/internal.h"
#include "cross2/cross2.h"

namespace {

using bndry_internal::evec;

// The record from the engine's three vectors at theta; *outcomes gets the
// length of the list of stopping outcomes the moments are taken over.
oc_record moments(double theta, const double* ls, const double* us, const double* rs, int K,
                  const int* lower, const int* upper, int* outcomes, cross2::workspace& ws) {
  // At most K lower stops, K upper stops and K + 1 final counts.
  const int most = 3 * K + 1;
  evec<double> y(most);
  evec<double> n(most);
  evec<double> ratio(most);
  evec<double> w(most);
  int counts[4];
  const int last =
      yn_dstn_at(y.data(), n.data(), w.data(), counts, theta, ls, us, rs, lower, upper, K, ws);
  array_div(ratio.data(), y.data(), n.data(), 0, last);
  *outcomes = last + 1;

  oc_record r{};
  double m[3];
  meanvar(m, ratio.data(), w.data(), 0, last);
  r.mean_yn = m[1];
  r.sd_yn = std::sqrt(m[2]);
  meanvar(m, y.data(), w.data(), 0, last);
  r.mean_y = m[1];
  r.sd_y = std::sqrt(m[2]);
  meanvar(m, n.data(), w.data(), 0, last);
  r.mean_n = m[1];
  r.sd_n = std::sqrt(m[2]);
  r.phi_star = array_sum(us, 1, K);
  r.p_lower = array_sum(ls, 1, K);
  return r;
}

// How far summary's figures may lie from those computed from vectors within
// `bound` of summary's. Weights w = e (1 + d) + a with |d| <= r, |a| <= a0
// around the exact e, which sum to 1, and values 0 <= x <= K, over L outcomes:
// - a weighted mean moves by at most a factor (1 + r) / (1 - r) (all terms
//   non-negative), and meanvar's sums and division add gamma(2L + 2);
// - a weighted variance moves by the same factor: the mean minimises the
//   sum of squares, so sum w'(x - m')^2 <= sum w'(x - m)^2 <= (1 + r) sum
//   w (x - m)^2, and S' >= (1 - r) S; its computation adds gamma(2L + 5)
//   relatively and, through the computed mean, (gamma(2L + 2) mean)^2, so the
//   standard deviation moves by about r + gamma(2L + 5) relatively and
//   gamma(2L + 2) mean absolutely;
// - a0 moves a mean by at most 2 L a0 K and a variance by 2 L a0 K^2.
// A lower stop's share among the counts multiplies both methods' weight by
// the same factor: one rounding more, within the margin.
// Both sides carry such errors, and every bound is doubled as margin.
oc_record record_bound(const oc_record& r, const crossing_bound& bound, int K, int L) {
  const double rel = bound.relative;
  const double a0 = bound.absolute;
  const double k = K;
  const double mean_rel = 2 * (4 * rel + 4 * rounding_gamma(2.0 * L + 2));
  const double mean_abs = 2 * 8 * L * a0 * k;
  const double sd_rel = 2 * (2 * rel + 4 * rounding_gamma(2.0 * L + 5));
  const double sd_of_mean = 2 * 4 * rounding_gamma(2.0 * L + 2);
  const double sd_abs = 2 * 4 * std::sqrt(L * a0) * k;
  auto mean = [&](double m) { return mean_rel * m + mean_abs; };
  auto sd = [&](double s, double m) { return sd_rel * s + sd_of_mean * m + sd_abs; };
  oc_record e{};
  e.mean_y = mean(r.mean_y);
  e.sd_y = sd(r.sd_y, r.mean_y);
  e.mean_n = mean(r.mean_n);
  e.sd_n = sd(r.sd_n, r.mean_n);
  e.mean_yn = mean(r.mean_yn);
  e.sd_yn = sd(r.sd_yn, r.mean_yn);
  e.phi_star = sum_bound(r.phi_star, K, bound);
  e.p_lower = sum_bound(r.p_lower, K, bound);
  return e;
}

}  // namespace

oc_record summary(double theta, int K, const int* lower, const int* upper) {
  return summary(theta, K, lower, upper, cross2::default_workspace());
}

oc_record summary(double theta, int K, const int* lower, const int* upper, cross2::workspace& ws) {
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  evec<double> rspending(K + 1);
  if (CrossingProb(lspending.data(), uspending.data(), rspending.data(), theta, K, lower, upper,
                   ws) != 0)
    throw refused_boundary("the crossing engine refused the boundaries");
  int outcomes = 0;
  return moments(theta, lspending.data(), uspending.data(), rspending.data(), K, lower, upper,
                 &outcomes, ws);
}

oc_record summary_estimate(double theta, int K, const int* lower, const int* upper,
                           oc_record* error) {
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  evec<double> rspending(K + 1);
  crossing_bound bound{};
  if (crossing_estimate(lspending.data(), uspending.data(), rspending.data(), theta, K, lower,
                        upper, &bound) != 0)
    throw refused_boundary("the crossing engine refused the boundaries");
  int outcomes = 0;
  const oc_record r = moments(theta, lspending.data(), uspending.data(), rspending.data(), K, lower,
                              upper, &outcomes, cross2::default_workspace());
  *error = bound.relative == 0.0 && bound.absolute == 0.0 ? oc_record{}
                                                          : record_bound(r, bound, K, outcomes);
  return r;
}

// Each bound is what the figure can be for a trial of at most K patients:
// a standard deviation of values within [lo, hi] is at most (hi - lo) / 2.
oc_record within_range(const oc_record& r, int K) {
  const double k = K;
  oc_record c = r;
  c.phi_star = std::clamp(r.phi_star, 0.0, 1.0);
  c.p_lower = std::clamp(r.p_lower, 0.0, 1.0);
  c.mean_y = std::clamp(r.mean_y, 0.0, k);
  c.sd_y = std::clamp(r.sd_y, 0.0, k / 2);
  c.mean_n = std::clamp(r.mean_n, 1.0, k);
  c.sd_n = std::clamp(r.sd_n, 0.0, (k - 1) / 2);
  c.mean_yn = std::clamp(r.mean_yn, 0.0, 1.0);
  c.sd_yn = std::clamp(r.sd_yn, 0.0, 0.5);
  if (c.phi_star == 0.0 && c.p_lower == 0.0) {
    c.mean_n = k;
    c.sd_n = 0.0;
  }
  return c;
}
