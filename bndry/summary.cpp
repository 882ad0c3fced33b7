// Operating characteristics of a designed boundary at one event probability:
// PHI* and the moments of the events Y, the patients N and the rate Y/N at
// the end of the trial.
#include <cmath>
#include <cstdlib>

#include "bndry/internal.h"
#include "cross2/cross2.h"

using bndry_internal::evec;

oc_record summary(double theta, int K, const int* lower, const int* upper) {
  evec<double> lspending(K + 1);
  evec<double> uspending(K + 1);
  evec<double> rspending(K + 1);
  // At most K lower stops, K upper stops and K + 1 final counts.
  const int outcomes = 3 * K + 1;
  evec<double> y(outcomes);
  evec<double> n(outcomes);
  evec<double> ratio(outcomes);
  evec<double> w(outcomes);

  if (CrossingProb(lspending.data(), uspending.data(), rspending.data(), theta, K, lower, upper) != 0)
    std::exit(1);
  int counts[4];
  const int last = yn_dstn_at(y.data(), n.data(), w.data(), counts, theta, lspending.data(),
                              uspending.data(), rspending.data(), lower, upper, K);
  array_div(ratio.data(), y.data(), n.data(), 0, last);

  oc_record r{};
  double moments[3];
  meanvar(moments, ratio.data(), w.data(), 0, last);
  r.mean_yn = moments[1];
  r.sd_yn = std::sqrt(moments[2]);
  meanvar(moments, y.data(), w.data(), 0, last);
  r.mean_y = moments[1];
  r.sd_y = std::sqrt(moments[2]);
  meanvar(moments, n.data(), w.data(), 0, last);
  r.mean_n = moments[1];
  r.sd_n = std::sqrt(moments[2]);
  r.phi_star = array_sum(uspending.data(), 1, K);
  r.p_lower = array_sum(lspending.data(), 1, K);
  return r;
}
