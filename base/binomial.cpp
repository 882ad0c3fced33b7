// Exact binomial probabilities for at most max_binomial_n patients:
// log-factorials from a table filled on demand, point probabilities, and
// whole probability and tail vectors by a walk outwards from the mode.
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <mutex>

#include "base/base.h"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double log_zero = -std::numeric_limits<double>::infinity();

// ln P(Y_n = k) from ln theta and ln(1 - theta), with no argument check;
// indices outside the table give NaN through ilfact, theta of 0 or 1 gives
// infinite or NaN terms.
double un_checked_bin_log_pdf(int k, int n, double log_theta, double log_q) {
  const double a = k * log_theta;
  const double b = (n - k) * log_q;
  const double h = ilfact(n) + (a + b);
  const double d = ilfact(k) + ilfact(n - k);
  return h - d;
}

double un_checked_bin_log_pdf(int k, int n, double theta) {
  return un_checked_bin_log_pdf(k, n, std::log(theta), std::log(1.0 - theta));
}

// lf[j] = ln(j!) as one running sum of logarithms, s = ln(j) + s from j = 2
// up; the sum's rounding is part of every probability the program prints, so
// no other formula is used. The table grows in blocks of 256 as requests
// reach them: block b continues the sum from block b - 1's last entry, so
// the first block is the dialogue's table bit for bit and a request costs
// only the logarithms up to its own block. Each block is filled once, under
// its once_flag; `ready` lets later readers skip the lock.
constexpr int lf_block_size = 256;
constexpr int lf_blocks = (max_binomial_n + 1) / lf_block_size;
static_assert((max_binomial_n + 1) % lf_block_size == 0);

struct lf_block {
  std::atomic<bool> ready{false};
  std::once_flag once;
  std::array<double, lf_block_size> v{};
};

const double* lf_block_values(int b) {
  static std::array<lf_block, lf_blocks> blocks;
  lf_block& block = blocks[static_cast<std::size_t>(b)];
  if (!block.ready.load(std::memory_order_acquire)) {
    std::call_once(block.once, [b, &block] {
      double s = 0.0;
      int first = 2;  // ln 0! = ln 1! = 0
      if (b > 0) {
        s = lf_block_values(b - 1)[lf_block_size - 1];
        first = 0;
      }
      for (int i = first; i < lf_block_size; ++i) {
        s = std::log(static_cast<double>(b * lf_block_size + i)) + s;
        block.v[static_cast<std::size_t>(i)] = s;
      }
      block.ready.store(true, std::memory_order_release);
    });
  }
  return block.v.data();
}

}  // namespace

double ilfact(int j) {
  if (j < 0 || j > max_binomial_n) return nan_value;
  return lf_block_values(j / lf_block_size)[j % lf_block_size];
}

double ilgamma(int a) {
  if (a < 1 || a > max_binomial_n + 1) return nan_value;
  return ilfact(a - 1);
}

double bin_pdf(int k, int n, double theta) {
  if (n < 0 || theta < 0.0 || theta > 1.0) return nan_value;
  if (n == 0 || theta == 0.0) return k == 0 ? 1.0 : 0.0;
  if (theta == 1.0) return k == n ? 1.0 : 0.0;
  if (k < 0 || k > n) return 0.0;
  return std::exp(un_checked_bin_log_pdf(k, n, theta));
}

// The same operations as bin_pdf, entry by entry, with the two logarithms
// hoisted: one exponential per entry instead of an exponential and two logs.
void bin_pdf_row(double* row, int n, double theta) {
  if (n == 0 || !(theta > 0.0 && theta < 1.0)) {
    for (int k = 0; k <= n; ++k) row[k] = bin_pdf(k, n, theta);
    return;
  }
  const double log_theta = std::log(theta);
  const double log_q = std::log(1.0 - theta);
  for (int k = 0; k <= n; ++k) row[k] = std::exp(un_checked_bin_log_pdf(k, n, log_theta, log_q));
}

double bin_log_pdf(int k, int n, double theta) {
  if (n < 0 || theta < 0.0 || theta > 1.0) return nan_value;
  if (n == 0 || theta == 0.0) return k == 0 ? 0.0 : log_zero;
  if (theta == 1.0) return k == n ? 0.0 : log_zero;
  if (k < 0 || k > n) return log_zero;
  return un_checked_bin_log_pdf(k, n, theta);
}

// From the mode c outwards: P(i+1) = P(i) * ((n-i) r / (i+1)) upwards and
// P(j) = P(j+1) / ((n-j) r / (j+1)) downwards, r = theta / (1 - theta), so a
// whole row costs one exponential. With theta 0 or 1 the ratios are 0 or
// +inf and the walk yields the degenerate rows exactly.
void bin_row_from_mode(double* row, int n, double theta) {
  const double r = theta / (1.0 - theta);
  // The mode index is n theta + 0.5 truncated, not rounded to nearest: it
  // decides which entry comes from the exponential and so the last bits.
  int c = static_cast<int>(n * theta + 0.5);  // NOLINT(bugprone-incorrect-roundings)
  if (c > n) c = n;
  row[c] = bin_pdf(c, n, theta);
  for (int i = c; i < n; ++i) row[i + 1] = row[i] * (((n - i) * r) / (i + 1));
  for (int j = c - 1; j >= 0; --j) row[j] = row[j + 1] / (((n - j) * r) / (j + 1));
}

int bin_pdf_vec(double* p, int n, double theta) {
  if (n < 0 || !(theta >= 0.0 && theta <= 1.0)) return 1;
  const double q = 1.0 - theta;
  if (n == 0) {
    p[0] = 1.0;
  } else if (n == 1) {
    p[1] = theta;
    p[0] = q;
  } else if (n == 2) {
    p[0] = q * q;
    p[2] = theta * theta;
    p[1] = q * (2 * theta);
  } else {
    bin_row_from_mode(p, n, theta);
  }
  return 0;
}

int bin_srv_vec(double* s, int n, double theta) {
  const int r = bin_pdf_vec(s, n, theta);
  if (r != 0) return r;
  for (int k = n - 1; k >= 0; --k) s[k] = s[k + 1] + s[k];
  return 0;
}

// P(Y_n >= k) = P(Y_n = k) + P(Y_n >= k + 1), from k = n down: the tails are
// summed smallest first, so none is lost against the mass near the mode.
void bin_surv_row(double* s, int n, double theta) { bin_srv_vec(s, n, theta); }
