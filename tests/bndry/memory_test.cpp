// The engine's checked allocation: a failure reaches the caller as
// std::bad_alloc, after the handler a program may install, and never ends
// the process itself.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bndry/bndry.h"

#include "sanitizer.h"

namespace {

#ifndef STOPBOUND_TEST_ASAN
// Caps the address space a little above its current size, then allocates
// through alloc until it throws; status 0 when it threw std::bad_alloc.
[[noreturn]] void exhaust_then_exit(void* (*alloc)()) {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (16u << 20);
  const rlimit limit{cap, cap};
  if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(97);
  try {
    for (;;) static_cast<void>(alloc());
  } catch (const std::bad_alloc&) {
    std::_Exit(0);
  }
}
#endif

TEST(MemoryDeathTest, FailedAllocationThrowsWithoutAHandler) {
#ifdef STOPBOUND_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator ends the process itself";
#else
  EXPECT_EXIT(exhaust_then_exit([] { return emalloc(2048); }), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exhaust_then_exit([] { return erealloc(nullptr, 2048); }), testing::ExitedWithCode(0), "");
#endif
}

TEST(MemoryDeathTest, HandlerSeesTheCallAndSize) {
#ifdef STOPBOUND_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator ends the process itself";
#else
  EXPECT_EXIT(
      {
        set_allocation_failure_handler([](const char* call, std::size_t size) {
          std::_Exit(std::strcmp(call, "realloc") == 0 && size == 4096 ? 3 : 4);
        });
        exhaust_then_exit([] { return erealloc(nullptr, 4096); });
      },
      testing::ExitedWithCode(3), "");
#endif
}

}  // namespace
