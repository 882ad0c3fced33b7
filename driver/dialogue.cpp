// The input dialogue: K, THETA and PHI from standard input, each checked as
// soon as it is read, so a bad K is reported before THETA is asked for.
#include <cstdio>

#include "bndry/bndry.h"
#include "driver/driver.h"

// The range tests are written so that NaN fails them: every comparison with
// NaN is false, and "x > 0 && x < 1" must hold for a value to pass.
void ReadData(int* K, double* theta, double* phi) {
  *K = int_read(stdin);
  if (*K < 1 || *K > max_patients) {
    std::printf("ReadData: n = %d is outside [%d:%d]\n", *K, 1, max_patients);
    throw run_ended{1};
  }
  *theta = dbl_read(stdin);
  if (!(*theta > 0.0 && *theta < 1.0)) {
    std::printf("ReadData: theta = %g is outside (0,1)\n", *theta);
    throw run_ended{1};
  }
  *phi = dbl_read(stdin);
  if (!(*phi > 0.0 && *phi < 1.0)) {
    std::printf("ReadData: phi = %g is outside (0,1)\n", *phi);
    throw run_ended{1};
  }
}
