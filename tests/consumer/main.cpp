// Designs a boundary through the installed public header and prints its
// stopping rule; a refused argument must arrive as std::invalid_argument.
#include <cstdio>
#include <stdexcept>

#include <stopbound/stopbound.h>

int main() {
  const stopbound::design d = stopbound::make_design({10, 0.2, 0.05, {}, {}, 0});
  std::printf("PHI* = %.17g\n", d.phi_star);
  for (const stopbound::rule_run& r : stopbound::upper_runs(d.bounds.upper))
    std::printf("patients %d-%d: stop at %d\n", r.first, r.last, r.stop_at);
  try {
    stopbound::make_design({10, 1.5, 0.05, {}, {}, 0});
  } catch (const std::invalid_argument& e) {
    std::printf("refused: %s\n", e.what());
    return 0;
  }
  return 1;
}
