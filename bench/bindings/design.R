# CPU time of design(K, 0.2, 0.05) from R, K = 20, 60 and 255: the median
# over repeated calls, for comparison with the in-process C++ figure (its CPU
# column) of `stopbound_bench --benchmark_filter=BM_make_design`. CPU time,
# because a shared machine's wall clock measures the other jobs too.
#   R_LIBS=build/default/tests/r/lib Rscript bench/bindings/design.R
library(stopbound)
for (K in c(20, 60, 255)) {
  design(K, 0.2, 0.05)  # warm
  reps <- if (K > 100) 200L else 1000L
  per_call <- vapply(seq_len(15L), function(i) {
    cpu <- function() sum(proc.time()[c("user.self", "sys.self")])
    t <- cpu()
    for (j in seq_len(reps)) design(K, 0.2, 0.05)
    (cpu() - t) / reps
  }, numeric(1))
  cat(sprintf("design(%d, 0.2, 0.05): %.1f us\n", K, 1e6 * stats::median(per_call)))
}
