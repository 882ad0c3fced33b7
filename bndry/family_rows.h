// Internal to the design module: a family's statistic along one row n,
// with the row's binomial tails, computed once per row.
#pragma once

#include <vector>

#include "bndry/design.h"

namespace bndry {

/// s(n, y) and P(Y_n >= y) for one n at a time.
class row_statistic {
 public:
  row_statistic(const family_params& f, double theta, int K);
  /// Makes n (1..K) the current row.
  void load(int n);
  /// s(n, y), 0 <= y <= n.
  double value(int y) const;
  /// P(Y_n >= y), 0 <= y <= n.
  double tail(int y) const { return tails_[static_cast<std::size_t>(y)]; }

 private:
  family_params f_;
  double theta_, q_;
  int K_;
  bool whole_prior_;
  int n_ = 0;
  double up_ = 0.0, down_ = 0.0;  // sprt: ln(theta1/theta), ln((1 - theta1)/q)
  double sd_ = 1.0, weight_ = 1.0;  // wt: sqrt(n theta q), (n/K)^(1/2 - delta)
  std::vector<double> tails_;
  std::vector<double> prior_;
};

}  // namespace bndry
