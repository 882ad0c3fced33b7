// One run of the program, from the banner to the date line: the dialogue,
// the design, the report and the boundary file.
#include <array>
#include <cstdio>

#include "bndry/bndry.h"
#include "cross2/cross2.h"
#include "driver/driver.h"

namespace {

void print_banner() {
  std::printf("Continuous monitoring of clinical trials involving binary outcomes\n");
  std::printf("   using Pocock-type boundaries ");
  std::printf("(version 1.2)\n");
  std::printf("          stopbound: exact boundaries for monitored trials\n\n");
  std::printf("(%s calculations)\n", method());
  std::printf("Defintions: \n");
  std::printf("  K     = the maximum planned sample size\n");
  std::printf("  THETA = the event probability\n");
  std::printf("  PHI   = the desired probability of early stopping (hitting the boundary)\n");
}

int dialogue(const char* program) {
  int K = 0;
  double theta = 0.0;
  double phi = 0.0;
  double alpha = -1.0;
  double phi_star = -1.0;
  std::array<int, max_patients + 1> b{};

  print_banner();
  std::printf("Input  K  THETA  PHI: ");
  ReadData(&K, &theta, &phi);
  std::printf("\n");

  if (FindBndry(b.data(), &alpha, &phi_star, K, theta, phi) != 0) {
    std::printf("Internal processing error\n");
    std::printf("Please report this error and the input parameters to the author\n");
    return 1;
  }
  std::printf("K     = %d \n", K);
  std::printf("THETA = %g \n", theta);
  std::printf("PHI   = %g \n", phi);
  std::printf("PHI*  = %g ", phi_star);
  std::printf("= the actual probability of hitting the upper boundary\n");
  std::printf("ALPHA = %g ", alpha);
  std::printf("= the pointwise stopping probability\n");
  std::printf("\n");
  std::printf("The upper boundary is:\n");
  ivec_print(stdout, b.data(), 1, K, "b");
  std::printf("\n");

  table_print(theta, K, b.data());

  std::fflush(stdout);
  // Output that can never arrive fails the run: then no file is written either.
  const int written = stdout_closed_at_start() ? 1 : ivec_print2(program, b.data(), alpha, phi_star, K, theta, phi);
  std::printf("\n");
  if (written == 0) {
    std::printf("The boundary has been written to file _bndry_.dat in a format\n");
    std::printf("appropriate for reading into other supplied programs (e.g. tolvane).\n");
  } else {
    std::printf("The boundary could not be written to file _bndry_.dat.\n");
  }
  printdatetime(stdout);
  std::printf("\n");
  const int output = check_stdout();
  return written == 0 && output == 0 ? 0 : 1;
}

}  // namespace

int stopbound_run(const char* program) {
  fatal_allocation_failures();
  try {
    return dialogue(program);
  } catch (const run_ended& e) {
    return e.status;
  } catch (const refused_boundary&) {
    // The level search's own boundary: the engine never refuses it.
    return 1;
  }
}
