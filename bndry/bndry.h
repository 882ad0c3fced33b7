// Boundary design and its support library.
//
// Finds the pointwise level ALPHA of a Pocock-type upper boundary for a
// continuously monitored single-arm trial, evaluates a boundary's operating
// characteristics, and offers the checked allocation, file handling and
// console I/O that the program is built on. The limits and binomial functions
// come from base/base.h, included here so that callers need one header.
#pragma once

#include <cstddef>
#include <cstdio>

#include "base/base.h"

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

/// Operating characteristics of the boundaries at theta, a low stop counted
/// with the events the trial has then; ends the process with status 1 (no
/// message) when the crossing engine refuses the boundaries.
oc_record summary(double theta, int K, const int* lower, const int* upper);

/// r with each figure moved into the range it has for a trial of at most K
/// patients, so that rounding never puts it outside: the probabilities and
/// E[Y/N] in [0, 1], E[Y] in [0, K], E[N] in [1, K], SD[Y] in [0, K / 2],
/// SD[N] in [0, (K - 1) / 2], SD[Y/N] in [0, 1 / 2]; where both stopping
/// probabilities are 0 the trial runs to K: E[N] = K and SD[N] = 0 exactly.
oc_record within_range(const oc_record& r, int K);

/// summary by the cheaper method, and how far summary's figures may lie from
/// these: each field of summary's record is within the same field of *error
/// of this one (all 0: the same, bit for bit). Ends the process as summary.
oc_record summary_estimate(double theta, int K, const int* lower, const int* upper,
                           oc_record* error);

// ---- Errors, memory and files ------------------------------------------------

/// Flushes stdout, prints the message there and ends the process with status 2;
/// after fatal_errors_to_stderr, one line "<prefix>out of memory (<message>)"
/// on stderr instead, stdout untouched.
[[noreturn]] void eprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Sends eprintf's message to stderr after prefix (a string that outlives the
/// run), for callers whose stdout must hold nothing but their report.
void fatal_errors_to_stderr(const char* prefix);

/// malloc that never returns null: "malloc of %u bytes failed:", status 2.
void* emalloc(unsigned size);

/// realloc that never returns null: "realloc of %u bytes failed:", status 2.
void* erealloc(void* block, unsigned size);

/// fopen; on failure one line "Open of %s with mode=%s failed: %s" on stderr
/// and null.
std::FILE* open_file(const char* path, const char* mode);

/// fclose of a stream or null (0); on failure "Close failed: ..." on stderr
/// and EOF.
int close_file(std::FILE* stream);

// ---- Console readers and printers ---------------------------------------------

/// Reads one whitespace-delimited integer token; on end of input or a token
/// that is not wholly an int, prints "int_read: ..." on stdout, exit status 1.
int int_read(std::FILE* in);

/// Reads one whitespace-delimited floating token as "%lf" would read it;
/// failures as int_read, with "dbl_read: ...".
double dbl_read(std::FILE* in);

/// One line "name[i] = %g " per element first..last, or "name[] is empty".
void vec_print(std::FILE* out, const double* v, int first, int last, const char* name);

/// One line "name[i] = %d " per element first..last, or "name[] is empty".
void ivec_print(std::FILE* out, const int* v, int first, int last, const char* name);

/// "Program: name", then the processor time between two millisecond readings.
void printtime(std::FILE* out, const char* program, long start_ms, long end_ms);

/// "Date and time: " and the local asctime text; nothing if that fails.
void printdatetime(std::FILE* out);
