// The program's support library: fatal errors, with failed allocations (the
// engine's and every C++ one) reported and ending the run, file opening and
// closing with diagnostics, console readers, vector printers and time stamps.
// The program's layer alone prints and ends the process; the engine below
// it throws.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "driver/driver.h"

namespace {

// The next token of white-space-free characters after any white space (the
// white space "%d" and "%lf" skip); false when input ends or fails first.
bool read_token(std::FILE* in, std::string& token) {
  int c = 0;
  do c = std::getc(in);
  while (c != EOF && std::isspace(c));
  if (c == EOF) return false;
  do {
    token.push_back(static_cast<char>(c));
    c = std::getc(in);
  } while (c != EOF && !std::isspace(c));
  if (c != EOF) std::ungetc(c, in);
  return true;
}

[[noreturn]] void reader_failure(const char* reader, const char* what) {
  std::printf("%s: %s error.\n", reader, what);
  throw run_ended{1};
}

// Null: the dialogue's fatal message on stdout, as it always was.
const char* fatal_prefix = nullptr;

}  // namespace

void fatal_errors_to_stderr(const char* prefix) { fatal_prefix = prefix; }

void eprintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  if (fatal_prefix == nullptr) {
    std::fflush(stdout);
    std::vfprintf(stdout, fmt, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
  } else {
    // One line on stderr, formatted without allocating: memory may be gone.
    char text[256];
    std::vsnprintf(text, sizeof text, fmt, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
    std::size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == ':') text[--n] = '\0';
    std::fprintf(stderr, "%sout of memory (%s)\n", fatal_prefix, text);
  }
  va_end(args);
  std::exit(2);
}

void fatal_allocation_failures() {
  set_allocation_failure_handler(
      [](const char* call, std::size_t size) { eprintf("%s of %zu bytes failed:", call, size); });
}

// The C++ allocations (strings, vectors) fail as emalloc does: the message on
// stdout and status 2, instead of an uncaught std::bad_alloc and an abort that
// loses the buffered report. The nothrow forms keep their null result.
void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) eprintf("malloc of %zu bytes failed:", size);
  return p;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t& /*unused*/) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t& /*unused*/) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t /*unused*/) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t /*unused*/) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t& /*unused*/) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t& /*unused*/) noexcept { std::free(p); }

std::FILE* open_file(const char* path, const char* mode) {
  errno = 0;
  std::FILE* f = std::fopen(path, mode);
  if (f == nullptr) std::fprintf(stderr, "Open of %s with mode=%s failed: %s\n", path, mode, std::strerror(errno));
  return f;
}

int close_file(std::FILE* stream) {
  if (stream == nullptr) return 0;
  errno = 0;
  const int r = std::fclose(stream);
  if (r == EOF) std::perror("Close failed");
  return r;
}

// A number must fill its whole token: "10.5" is not the int 10 followed by
// ".5", and a value beyond int is refused rather than left undefined.
int int_read(std::FILE* in) {
  std::string token;
  if (!read_token(in, token)) reader_failure("int_read", "end of file");
  const char* text = token.c_str();
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  const bool whole = end != text && end == text + token.size();
  if (!whole || errno == ERANGE || v < INT_MIN || v > INT_MAX) reader_failure("int_read", "input");
  return static_cast<int>(v);
}

// strtod reads exactly the forms "%lf" reads (signs, ".05", "5e-2",
// hexadecimal, inf, nan); out-of-range magnitudes give inf or a tiny value
// as they do there, so only a partly numeric token is refused.
double dbl_read(std::FILE* in) {
  std::string token;
  if (!read_token(in, token)) reader_failure("dbl_read", "end of file");
  const char* text = token.c_str();
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || end != text + token.size()) reader_failure("dbl_read", "input");
  return v;
}

void vec_print(std::FILE* out, const double* v, int first, int last, const char* name) {
  if (first > last) {
    std::fprintf(out, "%s[] is empty\n", name);
    return;
  }
  for (int i = first; i <= last; ++i) std::fprintf(out, "%s[%d] = %g \n", name, i, v[i]);
}

void ivec_print(std::FILE* out, const int* v, int first, int last, const char* name) {
  if (first > last) {
    std::fprintf(out, "%s[] is empty\n", name);
    return;
  }
  for (int i = first; i <= last; ++i) std::fprintf(out, "%s[%d] = %d \n", name, i, v[i]);
}

void printtime(std::FILE* out, const char* program, long start_ms, long end_ms) {
  std::fprintf(out, "Program: %s\n", program);
  std::fprintf(out, "CPU time: ");
  const double seconds = static_cast<double>(end_ms - start_ms) / 1000;
  if (seconds >= 1)
    std::fprintf(out, "%g seconds\n", seconds);
  else
    std::fprintf(out, "%g milliseconds\n", seconds * 1000);
}

void printdatetime(std::FILE* out) {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  // The sibling programs' date line is asctime's text, newline included.
  // cppcheck-suppress asctimeCalled
  if (local != nullptr) std::fprintf(out, "Date and time: %s\n", std::asctime(local));
}
