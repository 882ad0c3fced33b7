// The crossing engine's walk and the outcome list's split of low stops as
// they stood when only monotone boundaries were accepted, frozen here so that
// the engine's results on such boundaries can be checked bit for bit against
// them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/base.h"
#include "cross2/cross2.h"

namespace old_engine {

struct walk_result {
  std::vector<double> ls, us, rs;
  std::uint64_t calls = 0;
};

/// The walk on monotone boundaries, K <= 255, theta in (0, 1).
inline walk_result walk(double theta, int K, const int* lower, const int* upper) {
  struct walker {
    const int* lower;
    const int* upper;
    int n;
    double p, q;
    int lcone;
    std::vector<int> ucone;
    std::vector<std::vector<double>> rows;
    walk_result r;

    void proceed(int s, int d, double w) {
      ++r.calls;
      for (;;) {
        if (d > n) {
          r.rs[static_cast<std::size_t>(s)] += w;
          return;
        }
        if (lcone <= s && s <= ucone[static_cast<std::size_t>(d - 1)]) {
          const int k = n - d + 1;
          auto& row = rows[static_cast<std::size_t>(k)];
          if (row.empty()) {
            row.resize(static_cast<std::size_t>(k + 1));
            bin_pdf_row(row.data(), k, p);
          }
          for (int i = 0; i <= k; ++i) r.rs[static_cast<std::size_t>(s + i)] += w * row[static_cast<std::size_t>(i)];
          return;
        }
        if (s <= lower[d])
          r.ls[static_cast<std::size_t>(d)] += w * q;
        else
          proceed(s, d + 1, w * q);
        if (s + 1 <= lower[d]) {
          r.ls[static_cast<std::size_t>(d)] += w * p;
          return;
        }
        if (s + 1 >= upper[d]) {
          r.us[static_cast<std::size_t>(d)] += w * p;
          return;
        }
        s = s + 1;
        w = w * p;
        d = d + 1;
      }
    }
  };
  const auto size = static_cast<std::size_t>(K + 1);
  walker w{lower, upper, K, theta, 1.0 - theta, lower[K] + 1, std::vector<int>(size),
           std::vector<std::vector<double>>(size), {}};
  w.r.ls.assign(size, 0.0);
  w.r.us.assign(size, 0.0);
  w.r.rs.assign(size, 0.0);
  int t = upper[K];
  for (int m = K; m >= 1; --m) {
    t = t - 1;
    if (t >= upper[m]) t = upper[m] - 1;
    w.ucone[static_cast<std::size_t>(m)] = t;
  }
  if (0 <= lower[1])
    w.r.ls[1] += w.q;
  else
    w.proceed(0, 2, w.q);
  if (1 <= lower[1])
    w.r.ls[1] += w.p;
  else if (1 >= upper[1])
    w.r.us[1] += w.p;
  else
    w.proceed(1, 2, w.p);
  return w.r;
}

/// The recursion as first written, one state at a time with its branches,
/// on monotone boundaries (entry 0 unused), K >= 1.
inline walk_result recursion(double theta, const std::vector<int>& lower_b,
                             const std::vector<int>& upper_b) {
  const int K = static_cast<int>(lower_b.size()) - 1;
  walk_result v;
  v.ls.assign(lower_b.size(), 0.0);
  v.us.assign(lower_b.size(), 0.0);
  v.rs.assign(lower_b.size(), 0.0);
  const double p = theta;
  const double q = 1.0 - theta;
  std::vector<double> alive(static_cast<std::size_t>(K + 2)), next(alive.size());
  alive[0] = 1.0;
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= K; ++d) {
    const auto at = static_cast<std::size_t>(d);
    const int lower = lower_b[at];
    const int upper = upper_b[at];
    const int next_lo = std::max(lo, lower + 1);
    const int next_hi = std::min(hi + 1, upper - 1);
    for (int s = next_lo; s <= next_hi; ++s) next[static_cast<std::size_t>(s)] = 0.0;
    for (int s = lo; s <= hi; ++s) {
      const double w = alive[static_cast<std::size_t>(s)];
      if (s <= lower)
        v.ls[at] += w * q;
      else
        next[static_cast<std::size_t>(s)] += w * q;
      if (s + 1 <= lower)
        v.ls[at] += w * p;
      else if (s + 1 >= upper)
        v.us[at] += w * p;
      else
        next[static_cast<std::size_t>(s + 1)] += w * p;
    }
    alive.swap(next);
    lo = next_lo;
    hi = next_hi;
  }
  for (int s = lo; s <= hi; ++s) v.rs[static_cast<std::size_t>(s)] = alive[static_cast<std::size_t>(s)];
  return v;
}

/// yn_dstn_at's list of lower stops by count as it was: (y, n, w) triples
/// appended to the three vectors.
inline void low_stops(std::vector<double>& y, std::vector<double>& n, std::vector<double>& w,
                      const double* lspending, double theta, const int* lower, const int* upper,
                      int K) {
  const double p = theta;
  const double q = 1.0 - theta;
  const auto size = static_cast<std::size_t>(K + 2);
  std::vector<double> alive(size), next(size), low(size);
  alive[0] = 1.0;
  for (int m = 1; m <= K; ++m) {
    std::fill(next.begin(), next.begin() + m + 1, 0.0);
    std::fill(low.begin(), low.begin() + m + 1, 0.0);
    for (int s = 0; s < m; ++s) {
      const double a = alive[static_cast<std::size_t>(s)];
      if (a == 0.0) continue;
      const int cs[2] = {s, s + 1};
      const double prs[2] = {a * q, a * p};
      for (int i = 0; i < 2; ++i) {
        const auto c = static_cast<std::size_t>(cs[i]);
        if (cs[i] <= lower[m])
          low[c] += prs[i];
        else if (cs[i] < upper[m])
          next[c] += prs[i];
      }
    }
    alive.swap(next);
    if (!(lspending[m] > 0)) continue;
    const double total = array_sum(low.data(), 0, m);
    if (!(total > 0)) {
      y.push_back(std::min(lower[m], m));
      n.push_back(m);
      w.push_back(lspending[m]);
      continue;
    }
    for (int c = 0; c <= m; ++c) {
      const double l = low[static_cast<std::size_t>(c)];
      if (!(l > 0)) continue;
      y.push_back(c);
      n.push_back(m);
      w.push_back(lspending[m] * (l / total));
    }
  }
}

}  // namespace old_engine
