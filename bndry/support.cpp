// Checked allocation for the engine's scratch blocks: a failure throws
// std::bad_alloc, after the handler a program may install to report it and
// end there; the engine itself never prints or ends the process.
#include <atomic>
#include <cstdlib>
#include <new>

#include "bndry/bndry.h"

namespace {

std::atomic<allocation_failure_handler> failure_handler{nullptr};

[[noreturn]] void failed(const char* call, unsigned size) {
  if (const allocation_failure_handler h = failure_handler.load()) h(call, size);
  throw std::bad_alloc();
}

}  // namespace

allocation_failure_handler set_allocation_failure_handler(allocation_failure_handler handler) {
  return failure_handler.exchange(handler);
}

void* emalloc(unsigned size) {
  void* p = std::malloc(size);
  if (p == nullptr) failed("malloc", size);
  return p;
}

void* erealloc(void* block, unsigned size) {
  void* p = std::realloc(block, size);
  if (p == nullptr) failed("realloc", size);
  return p;
}
