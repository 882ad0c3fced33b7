// The base of the program: the limit every table is sized for and the exact
// binomial probability functions. Both the design and the crossing engine
// build on it; it depends on the standard library alone.
#pragma once

/// Largest number of patients a design may have; every table is sized for it.
inline constexpr int max_patients = 255;

/// ln(j!) for 0 <= j <= 255 from a table filled on first use; NaN otherwise.
double ilfact(int j);

/// ln Gamma(a) = ln((a-1)!) for 1 <= a <= 256; NaN otherwise.
double ilgamma(int a);

/// P(Y_n = k) for Y_n ~ Binomial(n, theta); NaN for n < 0, theta outside
/// [0, 1] or n > 255; 0 for k outside 0..n.
double bin_pdf(int k, int n, double theta);

/// row[k] = bin_pdf(k, n, theta) bit for bit, k = 0..n, for 0 <= n <= 255;
/// the logarithms of theta and 1 - theta are taken once for the row.
void bin_pdf_row(double* row, int n, double theta);

/// ln P(Y_n = k) under the rules of bin_pdf (-inf where bin_pdf gives 0).
double bin_log_pdf(int k, int n, double theta);

/// p[k] = P(Y_n = k), k = 0..n; returns 0, or 1 (p untouched) for n < 0 or
/// theta outside [0, 1].
int bin_pdf_vec(double* p, int n, double theta);

/// s[k] = sum of P(Y_n = j) over j >= k, k = 0..n; statuses of bin_pdf_vec.
int bin_srv_vec(double* s, int n, double theta);

/// row[k] = P(Y_n = k), k = 0..n, for 1 <= n <= 255 and theta in [0, 1], by
/// the walk outwards from the mode, one exponential per row, unchecked.
void bin_row_from_mode(double* row, int n, double theta);
