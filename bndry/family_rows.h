// Internal to the design module: a family's statistic along one row n,
// with the row's binomial tails, computed once per row.
#pragma once

#include <vector>

#include "bndry/design.h"

namespace bndry {

/// Binomial tail rows at one theta, kept across searches while they fit a
/// memory budget: consecutive designs (a plan's scan over K) and the
/// search's several passes over the looks read each row once.
class tail_cache {
 public:
  /// Row m (P(Y_m >= y), y = 0..m) at theta: the kept copy, or spare filled.
  /// A kept row stays put until theta changes.
  const double* row(int m, double theta, std::vector<double>& spare);

 private:
  double theta_ = -1.0;
  std::size_t kept_ = 0;  // doubles held
  std::vector<std::vector<double>> rows_;
};

/// s(n, y) and P(Y_n >= y) for one n at a time.
class row_statistic {
 public:
  /// With cache, rows come from (and are kept in) it.
  row_statistic(const family_params& f, double theta, int K, tail_cache* cache = nullptr);
  /// Makes n (1..K) the current row.
  void load(int n);
  /// s(n, y), 0 <= y <= n.
  double value(int y) const;
  /// P(Y_n >= y), 0 <= y <= n.
  double tail(int y) const { return tails_[y]; }

 private:
  family_params f_;
  double theta_, q_;
  int K_;
  bool whole_prior_;
  int n_ = 0;
  double up_ = 0.0, down_ = 0.0;    // sprt: ln(theta1/theta), ln((1 - theta1)/q)
  double sd_ = 1.0, weight_ = 1.0;  // wt: sqrt(n theta q), (n/K)^(1/2 - delta)
  tail_cache* cache_;
  const double* tails_ = nullptr;
  const double* prior_ = nullptr;
  std::vector<double> tails_spare_, prior_spare_;
};

}  // namespace bndry
