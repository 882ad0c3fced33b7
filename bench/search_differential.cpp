// Differential run of the family search against the dialogue's level search
// for pocock at every patient: random (K, THETA, PHI), seeded, and the
// boundaries and PHI* of the two compared. Prints the count of inputs and of
// mismatches, with each mismatch's input.
//
//   search_differential [COUNT [SEED]]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bndry/bndry.h"
#include "bndry/design.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 19u;
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> k_of(1, max_patients);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  bndry::design_workspace ws;
  int boundary_mismatches = 0;
  int phi_mismatches = 0;
  for (int i = 0; i < count; ++i) {
    const int K = k_of(rng);
    // Rates on and off the 0.05 grid, levels from 1e-4 to 0.5.
    const double theta = unit(rng) < 0.3 ? 0.05 * std::uniform_int_distribution<int>(1, 19)(rng)
                                         : 0.001 + 0.998 * unit(rng);
    const double phi = std::exp(std::log(1e-4) + unit(rng) * (std::log(0.5) - std::log(1e-4)));
    std::vector<int> b(max_patients + 1, 0);
    double alpha = 0.0;
    double phi_star = 0.0;
    if (FindBndry(b.data(), &alpha, &phi_star, K, theta, phi) != 0) {
      std::printf("FindBndry failed: %d %.17g %.17g\n", K, theta, phi);
      return 1;
    }
    bndry::design_request r{K, theta, phi, {}, {}, 0};
    for (int n = 1; n <= K; ++n) r.looks.push_back(n);
    const bndry::family_design d = bndry::design_family(r, ws);
    bool same = true;
    for (int n = 1; n <= K; ++n) same = same && d.chosen.upper[static_cast<std::size_t>(n)] == b[n];
    if (!same) {
      ++boundary_mismatches;
      std::printf("boundary differs: %d %.17g %.17g\n", K, theta, phi);
    } else if (d.chosen.phi_star != phi_star &&
               std::fabs(d.chosen.phi_star - phi_star) > 1e-13 * phi_star) {
      ++phi_mismatches;
      std::printf("PHI* differs beyond 1e-13: %d %.17g %.17g: %.17g %.17g\n", K, theta, phi,
                  d.chosen.phi_star, phi_star);
    }
  }
  std::printf("%d inputs, %d boundaries differ, %d PHI* differ beyond 1e-13 relative\n", count,
              boundary_mismatches, phi_mismatches);
  return boundary_mismatches == 0 ? 0 : 1;
}
