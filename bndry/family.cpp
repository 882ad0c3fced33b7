// The families' statistics s(n, y), each non-decreasing in the count y, and
// the smallest count a family's threshold may stop at.
#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <vector>

#include "base/base.h"
#include "bndry/design.h"
#include "bndry/family_rows.h"

namespace bndry {

namespace {

// Whole prior parameters whose binomial rows A + B + n - 1 the binomial
// functions reach.
bool binomial_prior(const family_params& f, int K) {
  return f.a == std::floor(f.a) && f.b == std::floor(f.b) && f.a + f.b + K - 1 <= max_binomial_n;
}

// The binomial likelihood ratio's logarithm above n theta, 0 below; 0 ln 0
// = 0 at y = n.
double maxsprt_value(int n, int y, double theta, double q) {
  const double expected = n * theta;
  if (!(y > expected)) return 0.0;
  const double high = y * std::log(y / expected);
  if (y == n) return high;
  return high + (n - y) * std::log((n - y) / (n * q));
}

}  // namespace

// Rows are kept while the whole stays within this many doubles (8 MB: a
// scan to K = 1,400).
constexpr std::size_t kept_budget = std::size_t{1} << 20;

const double* tail_cache::row(int m, double theta, std::vector<double>& spare) {
  // Only an exactly equal theta shares rows: bit for bit the same tails.
  if (theta != theta_) {
    rows_.clear();
    kept_ = 0;
    theta_ = theta;
  }
  const auto i = static_cast<std::size_t>(m);
  if (i < rows_.size() && !rows_[i].empty()) return rows_[i].data();
  const std::size_t size = i + 1;
  if (kept_ + size > kept_budget) {
    spare.resize(size);
    tail_row(spare.data(), m, theta);
    return spare.data();
  }
  if (rows_.size() <= i) rows_.resize(i + 1);
  rows_[i].resize(size);
  tail_row(rows_[i].data(), m, theta);
  kept_ += size;
  return rows_[i].data();
}

row_statistic::row_statistic(const family_params& f, double theta, int K, tail_cache* cache)
    : f_(f),
      theta_(theta),
      q_(1.0 - theta),
      K_(K),
      whole_prior_(binomial_prior(f, K)),
      cache_(cache) {
  if (f.kind == family_kind::sprt) {
    up_ = std::log(f.theta1 / theta);
    down_ = std::log((1.0 - f.theta1) / q_);
  }
}

// Row n's tails always (for the pointwise levels), and the prior's binomial
// row A + B + n - 1 for a whole Beta prior: I_theta(A + y, B + n - y) =
// P(Bin(A + B + n - 1, theta) >= A + y).
void row_statistic::load(int n) {
  n_ = n;
  auto row = [&](int m, std::vector<double>& spare) -> const double* {
    if (cache_ != nullptr) return cache_->row(m, theta_, spare);
    spare.resize(static_cast<std::size_t>(m) + 1);
    tail_row(spare.data(), m, theta_);
    return spare.data();
  };
  tails_ = row(n, tails_spare_);
  if (f_.kind == family_kind::bayes && whole_prior_)
    prior_ = row(static_cast<int>(f_.a + f_.b) + n - 1, prior_spare_);
  if (f_.kind == family_kind::wt && f_.delta != 0.0) {
    sd_ = std::sqrt(n * theta_ * q_);
    weight_ = std::pow(static_cast<double>(n) / K_, 0.5 - f_.delta);
  }
}

double row_statistic::value(int y) const {
  const int n = n_;
  switch (f_.kind) {
    case family_kind::pocock:
      return -tails_[y];
    case family_kind::wt:
      // O'Brien-Fleming in its own form, (y - n theta) / sqrt(K theta q).
      if (f_.delta == 0.0) return (y - n * theta_) / std::sqrt(K_ * theta_ * q_);
      return (y - n * theta_) / sd_ * weight_;
    case family_kind::bayes:
      if (whole_prior_) return -prior_[static_cast<int>(f_.a) + y];
      return -boost::math::ibeta(f_.a + y, f_.b + (n - y), theta_);
    case family_kind::sprt:
      return y * up_ + (n - y) * down_;
    case family_kind::maxsprt:
      return maxsprt_value(n, y, theta_, q_);
  }
  return 0.0;
}

double family_statistic(const family_params& f, double theta, int K, int n, int y) {
  row_statistic s(f, theta, K);
  s.load(n);
  return s.value(y);
}

int family_first_count(const family_params& f, double theta, int n, int min_events) {
  int y = min_events > 1 ? min_events : 1;
  if (f.kind == family_kind::maxsprt && y <= n) {
    // Only thresholds above 0 are attainable: the first count whose
    // statistic is positive.
    if (y <= n * theta) y = static_cast<int>(n * theta) + 1;
    while (y <= n && !(maxsprt_value(n, y, theta, 1.0 - theta) > 0.0)) ++y;
  }
  return y > n ? n + 1 : y;
}

}  // namespace bndry
