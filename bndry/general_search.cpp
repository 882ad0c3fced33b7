// The exact threshold search: the smallest attainable value c of a family's
// statistic whose boundary has PHI*(c) <= PHI, and the next attainable value
// below it, without a list of the K^2/2 values the statistic takes.
//
// The candidates are held as bands: for each look n the counts y between the
// boundaries of the bracket's two ends, with s(n, y) and P(Y_n >= y). Any
// threshold c in the bracket has b_n(c) inside look n's band, so every
// boundary the search forms reads the bands alone. The bracket starts from
// two pointwise facts: a look whose tail P(Y_n >= b_n) exceeds PHI makes
// PHI* exceed it (the low end), and tails all at most PHI / L, over L looks,
// keep PHI* within PHI (the union bound; the high end). Both ends are then
// evaluated like every other candidate, and a failed expectation widens the
// bracket to all attainable values.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "bndry/design.h"
#include "bndry/family_rows.h"

namespace bndry {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// One look's band: counts first..first + size - 1 with their statistic and
// tail.
struct band {
  int n;
  int first;
  std::size_t offset;
  int size;
};

}  // namespace

struct design_workspace::impl {
  std::vector<band> bands;
  std::vector<double> values;
  std::vector<double> tails;
  phi_scratch phi;
  tail_cache rows;
  // Per band, the bracket's open range of indices [from, to).
  std::vector<int> from, to, sel_from, sel_to;
  std::vector<std::pair<double, int>> medians;
  // The last search's request and threshold: where the next search with the
  // same family, rate, level and minimum starts (a plan's next K).
  std::optional<design_request> last;
  double last_threshold = 0.0;
};

design_workspace::design_workspace() : impl_(std::make_unique<impl>()) {}
design_workspace::~design_workspace() = default;
design_workspace::impl& design_workspace::get() { return *impl_; }

namespace {

class search {
 public:
  search(const design_request& r, design_workspace::impl& w)
      : r_(r), w_(w), stat_(r.fam, r.theta, r.K, &w.rows) {}

  /// The design; a start (a threshold near the answer) only saves work.
  family_design run(std::optional<double> start);

 private:
  const double* values(const band& b) const { return w_.values.data() + b.offset; }
  const double* tails(const band& b) const { return w_.tails.data() + b.offset; }

  // Index in b's band of the first count with s >= c.
  int index_at(const band& b, double c) const {
    const double* v = values(b);
    return static_cast<int>(std::lower_bound(v, v + b.size, c) - v);
  }
  // The first count >= first_count of the loaded row with s >= c (n + 1: none).
  int row_count_at(int n, int first_count, double c) const {
    int lo = first_count;
    int hi = n + 1;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (stat_.value(mid) >= c)
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  void build_bands(double c_lo, double c_hi);
  void form(double c, family_boundary& out);
  bool fits(double c, double* phi_star);
  long long narrow(double c_lo, double c_hi);
  double select(long long k);
  double attainable_at_least(double c) const;

  const design_request& r_;
  design_workspace::impl& w_;
  row_statistic stat_;
  bool within_bound_ = false;
};

// Bands for thresholds in [c_lo, c_hi]: counts from b_n(c_lo) to b_n(c_hi)
// (at most n).
void search::build_bands(double c_lo, double c_hi) {
  w_.bands.clear();
  w_.values.clear();
  w_.tails.clear();
  for (const int n : r_.looks) {
    const int first_count = family_first_count(r_.fam, r_.theta, n, r_.min_events);
    band b{n, n + 1, w_.values.size(), 0};
    if (first_count <= n) {
      stat_.load(n);
      b.first = c_lo == -inf ? first_count : row_count_at(n, first_count, c_lo);
      const int last = c_hi == inf ? n : std::min(n, row_count_at(n, first_count, c_hi));
      for (int y = b.first; y <= last; ++y) {
        w_.values.push_back(stat_.value(y));
        w_.tails.push_back(stat_.tail(y));
      }
      b.size = std::max(0, last - b.first + 1);
    }
    w_.bands.push_back(b);
  }
}

// The boundary of threshold c (within the bands' range), its largest tail
// and its threshold; +inf never stops.
void search::form(double c, family_boundary& out) {
  out.threshold = c;
  out.alpha_used = 0.0;
  out.upper.assign(static_cast<std::size_t>(r_.K) + 1, 0);
  for (int n = 1; n <= r_.K; ++n) out.upper[static_cast<std::size_t>(n)] = n + 1;
  if (c == inf) return;
  for (const band& b : w_.bands) {
    const int i = index_at(b, c);
    if (i == b.size) continue;  // beyond the band only at its end, n + 1
    out.upper[static_cast<std::size_t>(b.n)] = b.first + i;
    out.alpha_used = std::max(out.alpha_used, tails(b)[i]);
  }
}

// Whether PHI*(c) <= PHI: the double recursion decides unless PHI lies
// within its error bound, then the extended one; where that cannot either,
// the double value decides and the design says so.
bool search::fits(double c, double* phi_star) {
  if (c == inf) {
    *phi_star = 0.0;
    return true;
  }
  family_boundary b;
  form(c, b);
  const phi_value v = upper_crossing_phi(b.upper, r_.K, r_.theta, w_.phi);
  *phi_star = v.value;
  if (v.value + v.error <= r_.phi) return true;
  if (v.value - v.error > r_.phi) return false;
  const precise_phi_value p = upper_crossing_phi_precise(b.upper, r_.K, r_.theta, w_.phi);
  const long double phi = r_.phi;
  if (p.value + p.error <= phi) return true;
  if (p.value - p.error > phi) return false;
  within_bound_ = true;
  return v.value <= r_.phi;
}

// The candidates strictly between c_lo and c_hi, as per-band index ranges
// [from, to); their number.
long long search::narrow(double c_lo, double c_hi) {
  w_.from.resize(w_.bands.size());
  w_.to.resize(w_.bands.size());
  long long total = 0;
  for (std::size_t j = 0; j < w_.bands.size(); ++j) {
    const band& b = w_.bands[j];
    const double* v = values(b);
    w_.from[j] = c_lo == -inf ? 0 : static_cast<int>(std::upper_bound(v, v + b.size, c_lo) - v);
    w_.to[j] = static_cast<int>(std::lower_bound(v, v + b.size, c_hi) - v);
    if (w_.to[j] < w_.from[j]) w_.to[j] = w_.from[j];
    total += w_.to[j] - w_.from[j];
  }
  return total;
}

// The k-th smallest (from 0) of the candidates narrow last counted, by
// weighted medians of the bands' middle entries: each round keeps at most
// three quarters of what it had.
double search::select(long long k) {
  const std::size_t L = w_.bands.size();
  w_.sel_from = w_.from;
  w_.sel_to = w_.to;
  for (;;) {
    w_.medians.clear();
    long long remaining = 0;
    for (std::size_t j = 0; j < L; ++j) {
      const int size = w_.sel_to[j] - w_.sel_from[j];
      if (size == 0) continue;
      const int mid = w_.sel_from[j] + size / 2;
      w_.medians.emplace_back(values(w_.bands[j])[mid], size);
      remaining += size;
    }
    std::sort(w_.medians.begin(), w_.medians.end());
    double pivot = w_.medians.back().first;
    long long seen = 0;
    for (const auto& [value, weight] : w_.medians) {
      seen += weight;
      if (2 * seen >= remaining) {
        pivot = value;
        break;
      }
    }
    long long below = 0;
    long long at_most = 0;
    for (std::size_t j = 0; j < L; ++j) {
      const double* v = values(w_.bands[j]);
      below += std::lower_bound(v + w_.sel_from[j], v + w_.sel_to[j], pivot) - (v + w_.sel_from[j]);
      at_most +=
          std::upper_bound(v + w_.sel_from[j], v + w_.sel_to[j], pivot) - (v + w_.sel_from[j]);
    }
    if (k >= below && k < at_most) return pivot;
    for (std::size_t j = 0; j < L; ++j) {
      const double* v = values(w_.bands[j]);
      if (k < below)
        w_.sel_to[j] =
            static_cast<int>(std::lower_bound(v + w_.sel_from[j], v + w_.sel_to[j], pivot) - v);
      else
        w_.sel_from[j] =
            static_cast<int>(std::upper_bound(v + w_.sel_from[j], v + w_.sel_to[j], pivot) - v);
    }
    if (k >= at_most) k -= at_most;
  }
}

// The smallest value in the bands at least c (+inf: none).
double search::attainable_at_least(double c) const {
  double found = inf;
  for (const band& b : w_.bands) {
    const int i = index_at(b, c);
    if (i < b.size) found = std::min(found, values(b)[i]);
  }
  return found;
}

family_design search::run(std::optional<double> start) {
  const int L = static_cast<int>(r_.looks.size());
  // The bracket's expected ends from the pointwise tails.
  double c_lo = -inf;
  double t_hi = -inf;
  for (const int n : r_.looks) {
    const int first_count = family_first_count(r_.fam, r_.theta, n, r_.min_events);
    if (first_count > n) continue;
    stat_.load(n);
    auto first_tail_at_most = [&](double level) {
      int lo = first_count;
      int hi = n + 1;
      while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (stat_.tail(mid) <= level)
          hi = mid;
        else
          lo = mid + 1;
      }
      return lo;
    };
    const int y_a = first_tail_at_most(r_.phi);
    const int y_b = first_tail_at_most(r_.phi / L);
    if (y_a > first_count) c_lo = std::max(c_lo, stat_.value(y_a - 1));
    if (y_b > first_count) t_hi = std::max(t_hi, stat_.value(y_b - 1));
  }
  // The smallest attainable value above t_hi.
  double c_hi = inf;
  for (const int n : r_.looks) {
    const int first_count = family_first_count(r_.fam, r_.theta, n, r_.min_events);
    if (first_count > n) continue;
    stat_.load(n);
    const int y =
        t_hi == -inf ? first_count : row_count_at(n, first_count, std::nextafter(t_hi, inf));
    if (y <= n) c_hi = std::min(c_hi, stat_.value(y));
  }
  if (c_hi != inf && c_lo >= c_hi) c_lo = -inf;  // ties of the two ends: no prior bracket
  build_bands(c_lo, c_hi);

  double phi_lo = 0.0;
  double phi_hi = 0.0;
  bool lo_checked = false;
  bool hi_checked = false;
  // Moves the end of the bracket that c's PHI* decides; whether c fits.
  auto decide = [&](double c) {
    double phi_star = 0.0;
    const bool fit = fits(c, &phi_star);
    (fit ? c_hi : c_lo) = c;
    (fit ? phi_hi : phi_lo) = phi_star;
    (fit ? hi_checked : lo_checked) = true;
    return fit;
  };
  // From a start inside the bracket, gallop by rank away from it, towards
  // the answer: 1, 2, 4, ... candidates at a time, until one step crosses
  // PHI. The bracket it leaves holds the same answer, so only the work
  // changes.
  const double h = start && c_hi != inf && *start > c_lo ? attainable_at_least(*start) : inf;
  if (h < c_hi) {
    const bool rising = !decide(h);
    for (long long step = 1;; step *= 2) {
      const long long between = narrow(c_lo, c_hi);
      if (between == 0) break;
      const long long k = rising ? std::min(between, step) - 1 : std::max(0LL, between - step);
      if (decide(select(k)) == rising) break;
    }
  }
  if (!hi_checked && !fits(c_hi, &phi_hi)) {
    c_hi = inf;
    phi_hi = 0.0;
    build_bands(c_lo, c_hi);
  }
  if (!lo_checked && c_lo != -inf && fits(c_lo, &phi_lo)) {
    c_hi = c_lo;
    phi_hi = phi_lo;
    c_lo = -inf;
    build_bands(c_lo, c_hi);
  }

  // Invariant: PHI*(c_lo) > PHI >= PHI*(c_hi); the candidates are the
  // attainable values strictly between.
  for (long long total = narrow(c_lo, c_hi); total > 0; total = narrow(c_lo, c_hi))
    decide(select(total / 2));

  family_design d;
  form(c_hi, d.chosen);
  d.chosen.phi_star = phi_hi;
  d.never_stops = c_hi == inf;
  if (c_lo != -inf) {
    family_boundary next;
    form(c_lo, next);
    next.phi_star = phi_lo;
    d.next = std::move(next);
  }
  d.within_bound = within_bound_;
  return d;
}

// Requests that differ at most in K and the looks: one threshold scale.
bool same_scan(const design_request& a, const design_request& b) {
  return a.theta == b.theta && a.phi == b.phi && a.min_events == b.min_events &&
         a.fam.kind == b.fam.kind && a.fam.delta == b.fam.delta && a.fam.a == b.fam.a &&
         a.fam.b == b.fam.b && a.fam.theta1 == b.fam.theta1;
}

}  // namespace

family_design design_family(const design_request& r, design_workspace& ws) {
  design_workspace::impl& w = ws.get();
  std::optional<double> start;
  if (w.last && same_scan(*w.last, r)) start = w.last_threshold;
  family_design d = search(r, w).run(start);
  // A decision inside the error bound makes the answer depend on the path:
  // the cold search's path is the one every caller gets.
  if (start && d.within_bound) d = search(r, w).run(std::nullopt);
  w.last.reset();
  if (!d.never_stops) {
    w.last = r;
    w.last_threshold = d.chosen.threshold;
  }
  return d;
}

}  // namespace bndry
