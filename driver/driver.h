// The program driver's reports: the input dialogue, the boundary file and the
// operating-characteristics table.
#pragma once

#include <vector>

/// The whole run on stdin and stdout, from the banner to the date line;
/// returns the exit status (failures of the dialogue end the process).
int stopbound_run(const char* program);

/// Reads K, THETA and PHI from stdin, each checked right after it is read;
/// returns only with 1 <= K <= 255 and 0 < THETA, PHI < 1, otherwise prints
/// "ReadData: ..." (or a reader's message) and ends with status 1.
void ReadData(int* K, double* theta, double* phi);

/// Name of the boundary file, in the current directory.
inline constexpr const char* boundary_file_name = "_bndry_.dat";

/// Replaces _bndry_.dat, all or nothing, with the design's K + 6 lines;
/// returns 0, or 1 after a diagnostic on stderr with any earlier file intact;
/// for K < 1 returns 0 and writes nothing.
int ivec_print2(const char* program, const int* b, double alpha, double phi_star, int K,
                double theta, double phi);

/// Prints the table of operating characteristics of b at THETA and on the
/// grid 0.05 .. 0.95 from about THETA up, with its header and definitions.
void table_print(double theta, int K, const int* b);

/// The event probabilities of the table's rows, in order: THETA unless it is
/// the grid's first value, then the grid.
std::vector<double> table_thetas(double theta);

/// Prints one row of the table for event probability theta.
void table_print1(double theta, int K, const int* lower, const int* upper);

/// The smallest multiple of m not below a, for a >= 0 and m > 0.
int round_up(int a, int m);

/// The truncated percentage of theta >= 0, from the exact product 100 * theta.
int truncated_percent(double theta);
