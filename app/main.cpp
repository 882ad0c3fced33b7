// stopbound: designs a Pocock-type upper stopping boundary for a single-arm
// trial with a binary outcome monitored after every patient, prints its
// operating characteristics and writes it to _bndry_.dat.
//
// Without arguments it runs the dialogue; with arguments, the command line.
#include "cli/cli.h"
#include "driver/driver.h"

int main(int argc, char** argv) {
  guard_standard_descriptors();
  if (argc > 1) return cli::cli_run(argc, argv);
  // The invocation name goes into the boundary file.
  return stopbound_run(argc > 0 && argv[0] != nullptr ? argv[0] : "stopbound");
}
