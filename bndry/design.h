// Designs of upper stopping boundaries from a family of statistics, on any
// schedule of looks, with a minimum number of events, for K up to 10,000.
//
// A family is a statistic s(n, y) of the count y after patient n, non-
// decreasing in y. For a threshold c the boundary at a look n is the
// smallest count y >= first_count(n) with s(n, y) >= c (n + 1, "cannot
// stop", where none is); between looks no count stops. PHI*(c) does not rise
// as c rises, and only values s takes at looks change the boundary, so the
// design is the smallest such attainable value with PHI* <= PHI, found
// exactly by bisection on brackets of attainable values. Nothing here reads
// or writes a stream or ends the process: failures throw.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "cross2/cross2.h"

namespace bndry {

/// The boundary shapes a design can take.
enum class family_kind { pocock, wt, bayes, sprt, maxsprt };

/// A family with its parameters (only those of its kind are read).
struct family_params {
  family_kind kind = family_kind::pocock;
  double delta = 0.0;   ///< wt: 0..0.5
  double a = 1.0;       ///< bayes: Beta(a, b) prior, a, b > 0
  double b = 1.0;
  double theta1 = 0.0;  ///< sprt: theta < theta1 < 1
};

/// What to design: looks strictly increasing in 1..K, the last K.
struct design_request {
  int K = 0;
  double theta = 0.0;
  double phi = 0.0;
  family_params fam{};
  std::vector<int> looks;
  int min_events = 0;
};

/// One boundary of the family, 1-based like the engine's arrays.
struct family_boundary {
  double threshold = 0.0;   ///< the attainable value c it stands for
  double alpha_used = 0.0;  ///< max of P(Y_n >= upper[n]) over looks that can stop; 0 if none
  double phi_star = 0.0;    ///< PHI* under theta
  std::vector<int> upper;   ///< entries 1..K; entry 0 unused
};

/// The search's result; `next` is the boundary at the largest attainable
/// value below the design's, none when there is no such value.
struct family_design {
  family_boundary chosen;
  bool never_stops = false;   ///< no attainable value qualifies: threshold +inf
  bool within_bound = false;  ///< a decision PHI* <= PHI fell inside the error bound
  std::optional<family_boundary> next;
};

/// Scratch and caches of the search, reusable across designs; one per thread.
class design_workspace {
 public:
  design_workspace();
  ~design_workspace();
  design_workspace(const design_workspace&) = delete;
  design_workspace& operator=(const design_workspace&) = delete;
  struct impl;
  impl& get();

 private:
  std::unique_ptr<impl> impl_;
};

/// The design for r (checked by the caller); throws std::bad_alloc.
family_design design_family(const design_request& r, design_workspace& ws);

/// s(n, y) of the family at theta for K patients, 0 <= y <= n <= K.
double family_statistic(const family_params& f, double theta, int K, int n, int y);

/// The smallest count a family's threshold can stop at after patient n:
/// at least min_events and 1, and for maxsprt above n theta.
int family_first_count(const family_params& f, double theta, int n, int min_events);

/// s[k] = P(Y_n >= k), k = 0..n, non-increasing with s[0] = 1 exactly; for
/// n <= 255 bit for bit the dialogue's survival table row.
void tail_row(double* s, int n, double theta);

/// Scratch of the PHI* evaluations: the engine's workspace and vectors.
struct phi_scratch {
  cross2::workspace engine;
  std::vector<int> lower;
  std::vector<double> ls, us;
};

/// PHI* of a 1-based upper boundary over K patients (any shape; n + 1 never
/// stops) under theta, and how far the exact value may lie from it.
struct phi_value {
  double value;
  double error;
};
phi_value upper_crossing_phi(std::span<const int> upper, int K, double theta, phi_scratch& s);

/// The same by the engine's extended recursion, with its tighter bound.
struct precise_phi_value {
  long double value;
  long double error;
};
precise_phi_value upper_crossing_phi_precise(std::span<const int> upper, int K, double theta,
                                             phi_scratch& s);

}  // namespace bndry

