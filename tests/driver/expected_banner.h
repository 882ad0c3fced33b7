// The banner, definitions and prompt every run prints before it reads any
// input, as the whole-program tests and the fuzzing oracle expect them.
#pragma once

#include <string>

namespace test_driver {

inline const std::string expected_banner =
    "Continuous monitoring of clinical trials involving binary outcomes\n"
    "   using Pocock-type boundaries (version 1.2)\n"
    "          stopbound: exact boundaries for monitored trials\n"
    "\n"
    "(Exact calculations)\n"
    "Defintions: \n"
    "  K     = the maximum planned sample size\n"
    "  THETA = the event probability\n"
    "  PHI   = the desired probability of early stopping (hitting the boundary)\n"
    "Input  K  THETA  PHI: ";

}  // namespace test_driver
