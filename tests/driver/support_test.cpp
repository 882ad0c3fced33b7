// Tests of the program's support library: fatal errors and failed
// allocations, the engine's and C++'s (exit status 2 and the unterminated
// message last on stdout), file opening and closing diagnostics, the console
// readers with their messages, the vector printers and the time stamps.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>

#include "driver/driver.h"

#include "sanitizer.h"

namespace {

std::string slurp(std::FILE* f) {
  std::string s;
  std::rewind(f);
  for (int c; (c = std::getc(f)) != EOF;) s.push_back(static_cast<char>(c));
  return s;
}

std::string unique_path(const char* what) {
  static int serial = 0;
  return testing::TempDir() + "support_test_" + what + "_" + std::to_string(getpid()) + "_" +
         std::to_string(++serial);
}

// Runs body in a death-test child whose stdout goes to a fresh file, expects
// the child to end with the given status, and returns what it wrote there.
std::string stdout_of_exit(const std::function<void()>& body, int status) {
  const std::string path = unique_path("stdout");
  EXPECT_EXIT(
      {
        if (std::freopen(path.c_str(), "w", stdout) == nullptr) std::_Exit(99);
        // A static buffer: writing must not need memory once allocation fails.
        static char buf[BUFSIZ];
        std::setvbuf(stdout, buf, _IOFBF, sizeof buf);
        body();
        std::_Exit(98);
      },
      testing::ExitedWithCode(status), "");
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "r")) {
    text = slurp(f);
    std::fclose(f);
  }
  std::remove(path.c_str());
  return text;
}

// Runs body in this process with file descriptor fd (1 or 2) sent to a
// temporary file; returns what was written there.
std::string output_of(int fd, const std::function<void()>& body) {
  std::FILE* stream = fd == 1 ? stdout : stderr;
  std::FILE* sink = std::tmpfile();
  std::fflush(stream);
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  body();
  std::fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text = slurp(sink);
  std::fclose(sink);
  return text;
}

// An input stream holding exactly text (tmpfile, so empty input works too).
std::FILE* input(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fputs(text.c_str(), f);
  std::rewind(f);
  return f;
}

template <class Print>
std::string printed(Print print) {
  std::FILE* f = std::tmpfile();
  print(f);
  std::string text = slurp(f);
  std::fclose(f);
  return text;
}

#ifndef STOPBOUND_TEST_ASAN
// Keeps allocating through alloc with the address space capped a little
// above its current size, so the allocation soon fails inside the child.
[[noreturn]] void exhaust(void* (*alloc)()) {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) std::_Exit(97);
  const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (16u << 20);
  const rlimit limit{cap, cap};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(96);
  for (;;) static_cast<void>(alloc());
}
#endif

TEST(SupportDeathTest, EmallocFailureIsTheLastTextWithStatus2) {
#ifdef STOPBOUND_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator ends the process itself";
#else
  // The engine throws; the program's handler reports and ends instead.
  fatal_allocation_failures();
  EXPECT_EQ(stdout_of_exit([] { exhaust([] { return emalloc(2048); }); }, 2), "malloc of 2048 bytes failed:");
  EXPECT_EQ(stdout_of_exit([] { exhaust([] { return erealloc(nullptr, 2048); }); }, 2),
            "realloc of 2048 bytes failed:");
  set_allocation_failure_handler(nullptr);
  // C++ allocations end the same way rather than in an uncaught bad_alloc.
  EXPECT_EQ(stdout_of_exit([] { exhaust([] { return static_cast<void*>(new char[2048]); }); }, 2),
            "malloc of 2048 bytes failed:");
#endif
}

TEST(SupportDeathTest, EprintfFlushesEarlierTextFirst) {
  EXPECT_EQ(stdout_of_exit(
                [] {
                  std::fputs("earlier text\n", stdout);
                  eprintf("fatal %d:", 7);
                },
                2),
            "earlier text\nfatal 7:");
}

TEST(Support, OpenFileReportsOneLineOnStderr) {
  const std::string path = unique_path("missing_dir") + "/sub/_bndry_.dat";
  std::FILE* f = stdin;  // any non-null value
  std::string out;
  const std::string err = output_of(2, [&] { out = output_of(1, [&] { f = open_file(path.c_str(), "w"); }); });
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "Open of " + path + " with mode=w failed: " + std::strerror(ENOENT) + "\n");
}

TEST(Support, CloseFileOfNullIsSilentZero) {
  int r = -7;
  const std::string err = output_of(2, [&] { r = close_file(nullptr); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(err, "");
}

TEST(Support, CloseFileReportsAFailedFlush) {
  // /dev/full accepts the buffered text and refuses it when the close flushes.
  std::FILE* f = std::fopen("/dev/full", "w");
  ASSERT_NE(f, nullptr);
  std::fputs("lost\n", f);
  int r = 0;
  const std::string err = output_of(2, [&] { r = close_file(f); });
  EXPECT_EQ(r, EOF);
  EXPECT_EQ(err, std::string("Close failed: ") + std::strerror(ENOSPC) + "\n");
}

TEST(Support, VectorPrinters) {
  const int b[] = {-99, 2, 3, 3};
  EXPECT_EQ(printed([&](std::FILE* f) { ivec_print(f, b, 1, 3, "b"); }), "b[1] = 2 \nb[2] = 3 \nb[3] = 3 \n");
  const double v[] = {0.125, 1e-5, -3, 123456.7};
  EXPECT_EQ(printed([&](std::FILE* f) { vec_print(f, v, 0, 3, "x"); }),
            "x[0] = 0.125 \nx[1] = 1e-05 \nx[2] = -3 \nx[3] = 123457 \n");
  // An empty range reads no element, so a null array is fine.
  EXPECT_EQ(printed([](std::FILE* f) { ivec_print(f, nullptr, 1, 0, "b"); }), "b[] is empty\n");
  EXPECT_EQ(printed([](std::FILE* f) { vec_print(f, nullptr, 5, 2, "v"); }), "v[] is empty\n");
}

TEST(Support, PrintTime) {
  const auto line = [](long start, long end) {
    return printed([&](std::FILE* f) { printtime(f, "prog", start, end); });
  };
  EXPECT_EQ(line(0, 250), "Program: prog\nCPU time: 250 milliseconds\n");
  EXPECT_EQ(line(0, 0), "Program: prog\nCPU time: 0 milliseconds\n");
  EXPECT_EQ(line(0, 999), "Program: prog\nCPU time: 999 milliseconds\n");
  EXPECT_EQ(line(0, 1000), "Program: prog\nCPU time: 1 seconds\n");
  EXPECT_EQ(line(0, 1500), "Program: prog\nCPU time: 1.5 seconds\n");
  EXPECT_EQ(line(500, 2500), "Program: prog\nCPU time: 2 seconds\n");
}

TEST(Support, PrintDateTime) {
  const std::time_t before = std::time(nullptr);
  const std::string text = printed([](std::FILE* f) { printdatetime(f); });
  const std::time_t after = std::time(nullptr);
  bool matched = false;
  for (std::time_t t = before; t <= after && !matched; ++t)
    matched = text == "Date and time: " + std::string(std::asctime(std::localtime(&t))) + "\n";
  EXPECT_TRUE(matched) << text;
}

TEST(Support, ReadersSkipWhiteSpaceAndTakeOneToken) {
  std::FILE* in = input("  \n\n\t 42\n3 0.2 .05\n5e-2 0x1p-3 -3 +7 -2147483648 2147483647 nan");
  EXPECT_EQ(int_read(in), 42);
  EXPECT_EQ(int_read(in), 3);
  EXPECT_EQ(dbl_read(in), 0.2);
  EXPECT_EQ(dbl_read(in), 0.05);
  EXPECT_EQ(dbl_read(in), 0.05);
  EXPECT_EQ(dbl_read(in), 0.125);
  EXPECT_EQ(int_read(in), -3);
  EXPECT_EQ(int_read(in), 7);
  EXPECT_EQ(int_read(in), -2147483647 - 1);
  EXPECT_EQ(int_read(in), 2147483647);
  EXPECT_TRUE(std::isnan(dbl_read(in)));  // range checks belong to the caller
  std::fclose(in);
  in = input("-3 +7");
  EXPECT_EQ(dbl_read(in), -3.0);
  EXPECT_EQ(dbl_read(in), 7.0);
  std::fclose(in);
}

// The reader's message on stdout (whatever stream it reads), then run_ended
// with status 1; "no end" when the reader returned.
template <class Read>
std::string read_failure(Read read, const std::string& text) {
  std::FILE* in = input(text);
  int status = 0;
  std::string out = output_of(1, [&] {
    try {
      read(in);
    } catch (const run_ended& e) {
      status = e.status;
    }
  });
  std::fclose(in);
  return status == 1 ? out : "no end";
}
std::string int_failure(const std::string& text) { return read_failure(int_read, text); }
std::string dbl_failure(const std::string& text) { return read_failure(dbl_read, text); }

TEST(Support, IntReadFailures) {
  EXPECT_EQ(int_failure(""), "int_read: end of file error.\n");
  EXPECT_EQ(int_failure(" \n\t\n"), "int_read: end of file error.\n");
  // Tokens not wholly an int, or beyond its range.
  for (const char* bad : {"abc", "x42", "10.5", "12abc", "2147483648", "-2147483649", "99999999999999999999"})
    EXPECT_EQ(int_failure(bad), "int_read: input error.\n") << bad;
}

TEST(Support, DblReadFailures) {
  EXPECT_EQ(dbl_failure(""), "dbl_read: end of file error.\n");
  for (const char* bad : {"x", "abc", "0.2abc", "0.2,0.05", "."})
    EXPECT_EQ(dbl_failure(bad), "dbl_read: input error.\n") << bad;
}

}  // namespace
