// The whole design and its table (FindBndry, then one summary per table row)
// at THETA = 0.2, PHI = 0.05: with the walk alone, with the recursion alone,
// and with the program's rule that picks between them.
#include <benchmark/benchmark.h>

#include "bench/design_then_rows.h"
#include "cross2/internal.h"

namespace {

using cross2_internal::method_choice;

void design_and_table(benchmark::State& state, method_choice choice) {
  cross2_internal::choose_method(choice);
  design_then_rows(state, static_cast<int>(state.range(0)), 0.2, 0.05,
                   [](double rate, int K, const int* lower, const int* upper) {
                     return summary(rate, K, lower, upper);
                   });
  cross2_internal::choose_method(method_choice::by_cost);
}

void BM_walk(benchmark::State& state) { design_and_table(state, method_choice::walk); }
void BM_recursion(benchmark::State& state) { design_and_table(state, method_choice::recursion); }
void BM_program_rule(benchmark::State& state) { design_and_table(state, method_choice::by_cost); }

BENCHMARK(BM_walk)->Arg(10)->Arg(20)->Arg(25)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_recursion)->Arg(10)->Arg(20)->Arg(25)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_program_rule)->Arg(10)->Arg(20)->Arg(25)->Arg(30)->Arg(60)->Arg(120)->Arg(255)
    ->Unit(benchmark::kMillisecond);

}  // namespace
