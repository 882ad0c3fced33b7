# The package's numbers against the command line's JSON, bit for bit: the
# design, its operating characteristics and a given boundary pair's.

designs <- list(c("1", "0.2", "0.5"), c("10", "0.2", "0.05"), c("12", "0.23", "0.1"),
                c("40", "0.15", "0.1"), c("100", "0.05", "0.2"), c("255", "0.2", "0.05"),
                c("60", "0.9", "0.3"))
rates <- "0.01,0.1,0.2,0.23,0.35,0.5,0.75,0.99"

test_that("designs equal the command line's", {
  for (args in designs) {
    cli <- cli_json("design", args, "--format", "json", "--no-boundary-file", "--oc", rates)
    # The inputs as the program read them: JSON's digits read back exactly.
    d <- design(cli$K, cli$theta, cli$phi)
    label <- paste(args, collapse = " ")
    expect_identical(d$upper, as.integer(cli$upper), label = label)
    expect_identical(d$alpha, cli$alpha, label = label)
    expect_identical(d$phi_star, cli$phi_star, label = label)
    expect_identical(d$rule, rule_frame(cli$rule), label = label)
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
