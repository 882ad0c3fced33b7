// The level search's sort of its candidate tails: about 24,500 for K = 255,
// read from the survival rows where they lie and written once, into the
// candidate list. Every fresh page costs a fault, dearer on this kind of
// machine than the sorting itself, so the sort needs no buffer beyond its
// output and a few kilobytes of stack.
#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "bndry/internal.h"

namespace {

using bndry_internal::tail_run;

// For +0 and above the bit patterns of doubles order as the values do, and
// equal values are indistinguishable: sorting by key leaves the list
// std::sort leaves.
std::uint64_t key_of(double v) { return std::bit_cast<std::uint64_t>(v); }

// Buckets this small are insertion-sorted.
constexpr int insertion_limit = 16;
// Buckets up to this size are spread again through a scratch array on the
// stack; a larger one holds clustered values (underflowed tails crowd into
// the lowest bucket), which std::sort takes.
constexpr int scratch_bits = 10;
constexpr int scratch_size = 1 << scratch_bits;

void insertion_sort(double* first, const double* last) {
  for (double* p = first + 1; p < last; ++p) {
    const double v = *p;
    double* q = p;
    for (; q > first && v < q[-1]; --q) *q = q[-1];
    *q = v;
  }
}

// Places the values each_value visits into dest by bucket (key - lo) >> shift,
// buckets 0..end.size() - 2 in order, keeping their order within a bucket.
// end must be all zero; on return end[b] is the end of bucket b in dest.
template <class EachValue>
void spread(const EachValue& each_value, std::uint64_t lo, int shift, std::span<int> end, std::span<double> dest) {
  const auto bucket = [lo, shift](double v) { return static_cast<std::size_t>((key_of(v) - lo) >> shift); };
  // end[b + 1] counts bucket b, then the sums make end[b] its start, then
  // placing the values moves end[b] to its end.
  each_value([&](double v) { ++end[bucket(v) + 1]; });
  for (std::size_t b = 1; b < end.size(); ++b) end[b] += end[b - 1];
  each_value([&](double v) { dest[static_cast<std::size_t>(end[bucket(v)]++)] = v; });
}

// The shift that spreads keys lo..hi over 2^bits buckets.
int shift_for(std::uint64_t lo, std::uint64_t hi, int bits) {
  // Keys of non-negative doubles are below 2^63, so the shift stays below 64.
  return std::max(0, static_cast<int>(std::bit_width(hi - lo)) - bits);
}

// Sorts first[0..n): small buckets by insertion, the others spread again over
// about one bucket a value. A bucket spread again holds at least 17 values,
// so each level narrows the key range by at least 2^5 and the recursion ends
// within 13 levels.
void sort_bucket(double* first, int n, std::array<double, scratch_size>& scratch) {
  if (n <= insertion_limit) {
    insertion_sort(first, first + n);
    return;
  }
  std::uint64_t lo = key_of(first[0]);
  std::uint64_t hi = lo;
  for (int i = 1; i < n; ++i) {
    lo = std::min(lo, key_of(first[i]));
    hi = std::max(hi, key_of(first[i]));
  }
  if (lo == hi) return;
  if (n > scratch_size) {
    std::sort(first, first + n);
    return;
  }
  const int bits = static_cast<int>(std::bit_width(static_cast<unsigned>(n - 1)));
  std::array<int, scratch_size + 1> end;  // zeroed only as far as used
  const std::span<int> ends(end.data(), (std::size_t{1} << bits) + 1);
  std::fill(ends.begin(), ends.end(), 0);
  spread([first, n](auto&& f) { std::for_each(first, first + n, f); }, lo, shift_for(lo, hi, bits), ends,
         std::span<double>(scratch.data(), static_cast<std::size_t>(n)));
  std::copy(scratch.data(), scratch.data() + n, first);
  int begin = 0;
  for (std::size_t b = 0; b + 1 < ends.size(); ++b) {
    if (ends[b] - begin > 1) sort_bucket(first + begin, ends[b] - begin, scratch);
    begin = ends[b];
  }
}

}  // namespace

// A bucket sort: one pass finds the range of the keys, one counts them into
// about one bucket for four values by their leading bits above the smallest,
// one places them, and each bucket is then sorted alone.
void bndry_internal::sort_tails(const tail_run* runs, int run_count, double* out) {
  constexpr int max_bucket_bits = 12;  // 16 KB of counts
  constexpr int values_per_bucket = 4;
  const auto each_value = [runs, run_count](auto&& f) {
    for (int r = 0; r < run_count; ++r) std::for_each(runs[r].first, runs[r].first + runs[r].size, f);
  };
  std::uint64_t lo = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t hi = 0;
  int total = 0;
  each_value([&](double v) {
    assert(v >= 0.0 && !std::signbit(v));
    lo = std::min(lo, key_of(v));
    hi = std::max(hi, key_of(v));
    ++total;
  });
  if (total == 0) return;
  const int bits =
      std::min(max_bucket_bits, static_cast<int>(std::bit_width(static_cast<unsigned>(total / values_per_bucket))));
  std::array<int, (std::size_t{1} << max_bucket_bits) + 1> end;
  const std::span<int> ends(end.data(), (std::size_t{1} << bits) + 1);
  std::fill(ends.begin(), ends.end(), 0);
  spread(each_value, lo, shift_for(lo, hi, bits), ends, std::span<double>(out, static_cast<std::size_t>(total)));
  std::array<double, scratch_size> scratch;
  int begin = 0;
  for (std::size_t b = 0; b + 1 < ends.size(); ++b) {
    if (ends[b] - begin > 1) sort_bucket(out + begin, ends[b] - begin, scratch);
    begin = ends[b];
  }
}
