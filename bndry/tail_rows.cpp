// Binomial survival rows P(Y_n >= k) for any number of patients by the
// dialogue's table rule: bit for bit its rows up to 255, the same steps beyond.
#include "bndry/design.h"
#include "bndry/internal.h"

// The survival table's own steps, for any n.
void bndry::tail_row(double* s, int n, double theta) {
  if (n == 0) {
    s[0] = 1.0;
    return;
  }
  bndry_internal::init_bin2(s, theta, n);
  bndry_internal::survival_row(s, s, n);
}
