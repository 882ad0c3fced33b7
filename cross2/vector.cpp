// Element-wise operations on double arrays over an inclusive index range;
// an empty range (first > last) touches nothing and sums to 0.
#include "cross2/cross2.h"

double array_sum(const double* x, int first, int last) {
  double s = 0.0;
  for (int i = first; i <= last; ++i) s += x[i];
  return s;
}

double array_csum(double* result, const double* x, int first, int last) {
  double s = 0.0;
  for (int i = first; i <= last; ++i) {
    s += x[i];
    result[i] = s;
  }
  return s;
}

double array_dot(const double* a, const double* b, int first, int last) {
  double s = 0.0;
  for (int i = first; i <= last; ++i) s += a[i] * b[i];
  return s;
}

void array_plus(double* result, const double* a, const double* b, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] + b[i];
}

void array_minus(double* result, const double* a, const double* b, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] - b[i];
}

void array_mul(double* result, const double* a, const double* b, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] * b[i];
}

void array_div(double* result, const double* a, const double* b, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] / b[i];
}

void array_plusc(double* result, const double* a, double c, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] + c;
}

void array_mulc(double* result, const double* a, double c, int first, int last) {
  for (int i = first; i <= last; ++i) result[i] = a[i] * c;
}
