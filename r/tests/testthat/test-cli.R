# The package's numbers against the command line's JSON, bit for bit: the
# design, its operating characteristics and a given boundary pair's.

designs <- list(c("1", "0.2", "0.5"), c("10", "0.2", "0.05"), c("12", "0.23", "0.1"),
                c("40", "0.15", "0.1"), c("100", "0.05", "0.2"), c("255", "0.2", "0.05"),
                c("60", "0.9", "0.3"))
# Every family, looks and minimum, where the command line has them.
options_designs <- list(c("40", "0.2", "0.1", "--family", "obf"),
                        c("40", "0.2", "0.1", "--family", "wt:0.25"),
                        c("30", "0.15", "0.1", "--family", "bayes"),
                        c("30", "0.15", "0.1", "--family", "bayes:0.5,2"),
                        c("30", "0.2", "0.1", "--family", "sprt:0.4"),
                        c("30", "0.2", "0.1", "--family", "maxsprt"),
                        c("40", "0.2", "0.1", "--looks", "10,20,35"),
                        c("40", "0.3", "0.1", "--looks", "5:40:5", "--min-events", "3"),
                        c("25", "0.2", "0.1", "--family", "obf", "--min-events", "2"),
                        c("1000", "0.2", "0.05"))
rates <- "0.01,0.1,0.2,0.23,0.35,0.5,0.75,0.99"

# The value after option in args, or NULL.
option_value <- function(args, option) {
  at <- match(option, args)
  if (is.na(at)) NULL else args[at + 1L]
}

test_that("designs equal the command line's", {
  has_options <- any(grepl("--family", system2(cli_exe(), c("design", "--help"), stdout = TRUE),
                           fixed = TRUE))
  for (args in c(designs, if (has_options) options_designs)) {
    cli <- cli_json("design", args, "--format", "json", "--no-boundary-file", "--oc", rates)
    # The inputs as the program read them: JSON's digits read back exactly.
    d <- design(cli$K, cli$theta, cli$phi, family = option_value(args, "--family") %||% "pocock",
                looks = if (!is.null(option_value(args, "--looks"))) cli$looks,
                min_events = cli$min_events %||% 0)
    label <- paste(args, collapse = " ")
    expect_identical(d$upper, as.integer(cli$upper), label = label)
    expect_identical(d$alpha, cli$alpha, label = label)
    expect_identical(d$phi_star, cli$phi_star, label = label)
    expect_identical(d$rule, rule_frame(cli$rule), label = label)
    if (!is.null(cli$alpha_used)) {
      expect_identical(d$alpha_used, cli$alpha_used, label = label)
      # A threshold no count reaches is null in JSON.
      if (is.null(cli$threshold)) expect_false(is.finite(d$threshold), label = label)
      else expect_identical(d$threshold, cli$threshold, label = label)
      expect_identical(d$looks, as.integer(cli$looks), label = label)
      expect_identical(is.null(d$next_boundary), is.null(cli[["next"]]), label = label)
      if (!is.null(cli[["next"]])) {
        expect_identical(d$next_boundary$phi_star, cli[["next"]]$phi_star, label = label)
        expect_identical(d$next_boundary$upper, as.integer(cli[["next"]]$upper), label = label)
      }
    }
    expect_same_oc(oc(d, cli$oc$theta), cli$oc)
  }
})

test_that("a boundary pair's figures equal the command line's", {
  path <- test_path("futility-k40.dat")
  lines <- readLines(path)
  K <- as.integer(lines[2])
  pair <- do.call(rbind, lapply(strsplit(lines[3:(K + 2)], " +"), as.integer))
  cli <- cli_json("evaluate", path, "--format", "json", "--oc", rates)
  b <- evaluate(pair[, 1], pair[, 2], as.double(lines[1]))
  expect_identical(b$theta, cli$theta)
  expect_identical(b$lower, as.integer(cli$lower))
  expect_identical(b$rule, rule_frame(cli$rule))
  expect_identical(b$rule_lower, rule_frame(cli$rule_lower))
  expect_same_oc(oc(b, cli$oc$theta), cli$oc)
})

test_that("a plan's scan and answers equal the command line's", {
  if (!any(grepl("plan", system2(cli_exe(), "--help", stdout = TRUE), fixed = TRUE)))
    skip("the command line has no plan")
  # Power falls back at K = 15 here: the two answers differ.
  cli <- cli_json("plan", "0.3", "0.5", "0.1", "0.53", "--k-max", "30", "--format", "json")
  p <- plan(0.3, 0.5, 0.1, 0.53, k_max = 30)
  for (column in c("phi_star", "power", "mean_n0", "mean_n1"))
    expect_identical(p$scan[[column]], as.double(cli$scan[[column]]), label = column)
  expect_identical(p$scan$K, as.integer(cli$scan$K))
  expect_identical(p$first_k, as.integer(cli$first$K))
  expect_identical(p$stable_k, as.integer(cli$stable$K))
  expect_output(print(p), "Power is not monotone in K: every K from 16")
  expect_error(plan(0.5, 0.3, 0.1, 0.8), "THETA1")
})
