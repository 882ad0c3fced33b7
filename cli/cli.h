// The command line beside the dialogue: `design K THETA PHI` and
// `evaluate FILE`, with operating characteristics at any rates, in text, JSON
// or CSV.
#pragma once

namespace cli {

/// Runs the command line for argv[1..argc-1] (at least one argument);
/// returns the exit status: 0 done, 1 invalid argument, file or failed
/// output, each failure one line "stopbound: ..." on stderr and nothing on
/// stdout. A failed allocation ends the process with status 2.
int cli_run(int argc, char** argv);

}  // namespace cli
