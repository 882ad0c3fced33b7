# The command line's JSON for the same inputs, when the built program is
# named by STOPBOUND_EXE; the comparisons are skipped without it.
cli_exe <- function() {
  exe <- Sys.getenv("STOPBOUND_EXE")
  if (!nzchar(exe) || !file.exists(exe)) skip("STOPBOUND_EXE does not name the built stopbound program")
  if (!requireNamespace("jsonlite", quietly = TRUE)) skip("jsonlite is not installed")
  exe
}

cli_json <- function(...) {
  out <- system2(cli_exe(), c(...), stdout = TRUE)
  jsonlite::fromJSON(paste(out, collapse = "\n"), simplifyVector = TRUE)
}

# The rule as the command line's JSON gives it (an empty list when none).
rule_frame <- function(rule) {
  if (length(rule) == 0L) return(data.frame(first = integer(), last = integer(), stop_at = integer()))
  data.frame(first = as.integer(rule$first), last = as.integer(rule$last),
             stop_at = as.integer(rule$stop_at))
}

expect_same_oc <- function(ours, cli) {
  expect_identical(names(ours), c("theta", "phi_star", "p_lower", "mean_y", "sd_y", "mean_n",
                                  "sd_n", "mean_yn", "sd_yn"))
  for (column in names(ours)) expect_identical(ours[[column]], as.double(cli[[column]]), label = column)
}

`%||%` <- function(x, y) if (is.null(x)) y else x
