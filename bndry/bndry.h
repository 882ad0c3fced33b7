// Boundary design and its support library.
//
// Finds the pointwise level ALPHA of a Pocock-type upper boundary for a
// continuously monitored single-arm trial, evaluates a boundary's operating
// characteristics, and offers the checked allocation the engine is built on.
// Nothing here reads or writes a stream or ends the process: failures throw,
// so that a library caller (the language bindings) is never ended by the
// engine. The limits and binomial functions come from base/base.h, included
// here so that callers need one header.
#pragma once

#include <cstddef>
#include <stdexcept>

#include "base/base.h"

namespace cross2 {
class workspace;
}

// ---- Level search and boundary --------------------------------------------

/// Design: fills b[1..K], *alpha (ALPHA) and *phi_star (PHI*) for K, theta and
/// phi; returns 0, or a non-zero status and leaves all three untouched.
int FindBndry(int* b, double* alpha, double* phi_star, int K, double theta, double phi);

/// b[n] = the running maximum over m = 1..n of the smallest k with
/// P(Y_m >= k) <= alpha under theta, n = 1..K (0 when alpha >= 1); returns 0,
/// or 1 (b untouched) for a bad K or theta.
int GetPointwiseBndry(int* b, int K, double alpha, double theta);

/// The level b actually uses: the largest tail P(Y_n >= b[n]) under theta
/// over the patients n = 1..K who can stop (b[n] <= n); 0 when none can, -1
/// for a bad K or theta.
double alpha_used(const int* b, int K, double theta);

/// The next attainable boundary: b[1..K] and its PHI* (as FindBndry computes
/// PHI*) of the first candidate level above alpha whose boundary differs from
/// the one at alpha; returns 0, -1 (nothing written) when only level 1 gives
/// a more liberal boundary, or a positive status (1 for a bad K or theta).
int next_boundary(int* b, double* phi_star, int K, double theta, double alpha);

/// v[i] = (v[i+1] + v[i]) * 0.5 for i = 0..n-2, in increasing order.
void midpoints(double* v, int n);

/// ln(x / (1 - x)), unchecked.
double logit(double x);

/// 1 / (exp(-x) + 1), unchecked.
double alogit(double x);

// ---- Operating characteristics ---------------------------------------------

/// Moments of a monitored trial's end at one event probability.
struct oc_record {
  double mean_y;    ///< E[Y], events at the end
  double sd_y;      ///< SD[Y]
  double mean_n;    ///< E[N], patients at the end
  double sd_n;      ///< SD[N]
  double mean_yn;   ///< E[Y/N], the observed rate
  double sd_yn;     ///< SD[Y/N]
  double phi_star;  ///< probability of reaching the upper boundary
  double p_lower;   ///< probability of stopping at the lower boundary
};

/// What summary and summary_estimate throw when the crossing engine refuses
/// the boundaries.
struct refused_boundary : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

/// Operating characteristics of the boundaries at theta, a low stop counted
/// with the events the trial has then; throws refused_boundary when the
/// crossing engine refuses the boundaries.
oc_record summary(double theta, int K, const int* lower, const int* upper);

/// summary in the given engine workspace, for callers that run side by side.
oc_record summary(double theta, int K, const int* lower, const int* upper, cross2::workspace& ws);

/// r with each figure moved into the range it has for a trial of at most K
/// patients, so that rounding never puts it outside: the probabilities and
/// E[Y/N] in [0, 1], E[Y] in [0, K], E[N] in [1, K], SD[Y] in [0, K / 2],
/// SD[N] in [0, (K - 1) / 2], SD[Y/N] in [0, 1 / 2]; where both stopping
/// probabilities are 0 the trial runs to K: E[N] = K and SD[N] = 0 exactly.
oc_record within_range(const oc_record& r, int K);

/// summary by the cheaper method, and how far summary's figures may lie from
/// these: each field of summary's record is within the same field of *error
/// of this one (all 0: the same, bit for bit). Throws as summary.
oc_record summary_estimate(double theta, int K, const int* lower, const int* upper,
                           oc_record* error);

// ---- Memory ------------------------------------------------------------------

/// Called with the failed call's name ("malloc" or "realloc") and the size
/// asked for when emalloc or erealloc fails, before std::bad_alloc is thrown;
/// a program installs one to report the failure and end there instead.
using allocation_failure_handler = void (*)(const char* call, std::size_t size);

/// Installs handler (null: none, the failure just throws); returns the
/// previous one. Like std::set_new_handler, one for the whole process.
allocation_failure_handler set_allocation_failure_handler(allocation_failure_handler handler);

/// malloc that never returns null: throws std::bad_alloc after the handler.
void* emalloc(unsigned size);

/// realloc that never returns null: throws std::bad_alloc (block untouched)
/// after the handler.
void* erealloc(void* block, unsigned size);
