// The program driver's reports: the input dialogue, the boundary file, the
// operating-characteristics table, and the output files and standard
// streams every way of running the program shares; and the support library
// of the program's layer, the only one that prints or ends the process.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bndry/bndry.h"

/// Thrown by the dialogue's fatal paths once their message is out: the run
/// ends with this exit status. stopbound_run returns it.
struct run_ended {
  int status;
};

/// The whole run on stdin and stdout, from the banner to the date line;
/// returns the exit status (only a failed allocation ends the process).
int stopbound_run(const char* program);

/// Reads K, THETA and PHI from stdin, each checked right after it is read;
/// returns only with 1 <= K <= 255 and 0 < THETA, PHI < 1, otherwise prints
/// "ReadData: ..." (or a reader's message) and throws run_ended{1}.
void ReadData(int* K, double* theta, double* phi);

/// Name of the boundary file, in the current directory.
inline constexpr const char* boundary_file_name = "_bndry_.dat";

/// The boundary file's K + 6 lines for a design, K >= 1, as the sibling
/// programs read them.
std::string boundary_file_text(const char* program, const int* b, double alpha, double phi_star,
                               int K, double theta, double phi);

/// Writes _bndry_.dat through write_outputs with the design's K + 6 lines;
/// returns 0 (nothing written for K < 1), or write_outputs's 1.
int ivec_print2(const char* program, const int* b, double alpha, double phi_star, int K,
                double theta, double phi);

/// One output file of a run: where it goes, how the messages name it (the
/// option and the path, "--plot a.svg", or the path alone), what it holds.
struct output_file {
  std::string path;
  std::string label;
  std::string content;
};

/// The form of write_outputs's messages: the command line's, always
/// "stopbound: LABEL: what failed: REASON", or the dialogue's, which keeps
/// open_file's "Open of PATH with mode=w failed: REASON" for a file it
/// cannot open.
enum class output_messages { command_line, dialogue };

/// Writes every output whole, all of them or none as far as the file system
/// allows (at most 8): each is found (links followed only where the kernel's
/// link protection would follow them) and checked, and each temporary file
/// made and written, before the first is renamed into place; files that must
/// be written in place (other hard links, an owner or attributes a new file
/// could not carry, no temporary file possible, FIFOs and devices) come
/// last. Returns 0, or 1 after one line on stderr with no temporary file
/// left and, for a failure before the first rename, every old file intact.
int write_outputs(std::span<const output_file> outputs, output_messages form);

/// What would stop write_outputs from writing out, found without writing:
/// empty, or the command line's message without "stopbound: ".
std::string output_obstacle(const output_file& out);

/// The file a path reaches as write_outputs finds it: the device and inode
/// of an existing file, or of the directory a new one would be made in with
/// its name there.
struct file_identity {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;
  bool operator==(const file_identity&) const = default;
};

/// The identity of the file path reaches, or none where it cannot be found.
std::optional<file_identity> output_identity(const std::string& path);

/// Whether descriptor 1 was closed when the run started (its output can
/// never arrive, so no file is written either).
bool stdout_closed_at_start();

/// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
/// no file opened later takes their place; the first thing a run does.
void guard_standard_descriptors();

/// Flushes stdout and checks that everything written there arrived (a
/// stdout closed at start never does); returns 0, or 1 after
/// "stopbound: write error on standard output: <reason>" on stderr, the
/// reason being earlier (the errno of a failed write before) when not 0.
int check_stdout(int earlier = 0);

/// Prints the table of operating characteristics of b at THETA and on the
/// grid 0.05 .. 0.95 from about THETA up, with its header and definitions.
void table_print(double theta, int K, const int* b);

/// The event probabilities of the table's rows, in order: THETA unless it is
/// the grid's first value, then the grid.
std::vector<double> table_thetas(double theta);

/// Whether every value within error of v >= 0 (cut at 0) prints as v does
/// with that many decimals ("%.*f").
bool prints_alike(int decimals, double v, double error);

/// The figures of one row of the table, as table_print1 prints them: those of
/// summary, to every printed digit.
oc_record table_row(double theta, int K, const int* lower, const int* upper);

/// Prints one row of the table for event probability theta.
void table_print1(double theta, int K, const int* lower, const int* upper);

/// The smallest multiple of m not below a, for a >= 0 and m > 0.
int round_up(int a, int m);

/// The truncated percentage of theta >= 0, from the exact product 100 * theta.
int truncated_percent(double theta);

// ---- Support: fatal errors, files, console readers and printers -------------

/// Flushes stdout, prints the message there and ends the process with status 2;
/// after fatal_errors_to_stderr, one line "<prefix>out of memory (<message>)"
/// on stderr instead, stdout untouched.
[[noreturn]] void eprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Sends eprintf's message to stderr after prefix (a string that outlives the
/// run), for callers whose stdout must hold nothing but their report.
void fatal_errors_to_stderr(const char* prefix);

/// Makes the engine's failed allocations end as the program's own do:
/// eprintf's "malloc of %u bytes failed:" (or "realloc ..."), status 2.
void fatal_allocation_failures();

/// fopen; on failure one line "Open of %s with mode=%s failed: %s" on stderr
/// and null.
std::FILE* open_file(const char* path, const char* mode);

/// fclose of a stream or null (0); on failure "Close failed: ..." on stderr
/// and EOF.
int close_file(std::FILE* stream);

/// Reads one whitespace-delimited integer token; on end of input or a token
/// that is not wholly an int, prints "int_read: ..." on stdout and throws
/// run_ended{1}.
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
