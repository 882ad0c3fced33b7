// The base of the program: the limits tables and the engine are sized for,
// and the exact binomial probability functions. Both the design and the
// crossing engine build on it; it depends on the standard library alone.
#pragma once

/// Largest number of patients of the dialogue's designs; its tables are sized for it.
inline constexpr int max_patients = 255;

/// Largest number of patients the crossing engine and the designs beyond the
/// dialogue take.
inline constexpr int max_trial_patients = 10000;

/// Largest n of the binomial functions: the log-factorials run to it, enough
/// for Binomial(A + B + K - 1) rows with whole A + B up to 55,536 at K = 10,000.
inline constexpr int max_binomial_n = 65535;

/// ln(j!) for 0 <= j <= max_binomial_n from a running sum of logarithms,
/// filled on first use in blocks of 256 (the first block is the dialogue's
/// table); NaN otherwise. Relative error at most (j + 2) DBL_EPSILON / 2.
double ilfact(int j);

/// ln Gamma(a) = ln((a-1)!) for 1 <= a <= max_binomial_n + 1; NaN otherwise.
double ilgamma(int a);

/// P(Y_n = k) for Y_n ~ Binomial(n, theta); NaN for n < 0, theta outside
/// [0, 1] or n > max_binomial_n; 0 for k outside 0..n.
double bin_pdf(int k, int n, double theta);

/// row[k] = bin_pdf(k, n, theta) bit for bit, k = 0..n, for 0 <= n <=
/// max_binomial_n; the logarithms of theta and 1 - theta are taken once.
void bin_pdf_row(double* row, int n, double theta);

/// ln P(Y_n = k) under the rules of bin_pdf (-inf where bin_pdf gives 0).
double bin_log_pdf(int k, int n, double theta);

/// p[k] = P(Y_n = k), k = 0..n; returns 0, or 1 (p untouched) for n < 0 or
/// theta outside [0, 1]; every entry NaN for n > max_binomial_n.
int bin_pdf_vec(double* p, int n, double theta);

/// s[k] = sum of P(Y_n = j) over j >= k, k = 0..n; statuses of bin_pdf_vec.
int bin_srv_vec(double* s, int n, double theta);

/// s[k] = P(Y_n >= k), k = 0..n, for 0 <= n <= max_binomial_n and theta in
/// [0, 1] (unchecked): bin_srv_vec's values bit for bit, without a status.
void bin_surv_row(double* s, int n, double theta);

/// row[k] = P(Y_n = k), k = 0..n, for 1 <= n <= max_binomial_n and theta in
/// [0, 1], by the walk outwards from the mode, one exponential per row, unchecked.
void bin_row_from_mode(double* row, int n, double theta);
