// Whether the tests are built with AddressSanitizer: its shadow memory does
// not fit under a small address-space limit, and it intercepts allocation
// failures itself, so tests that inject them are skipped there.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define STOPBOUND_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STOPBOUND_TEST_ASAN 1
#endif
#endif
