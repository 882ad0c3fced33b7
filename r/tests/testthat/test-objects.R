# The objects R users work with, and the errors of each argument.

test_that("a design carries its inputs, rule and methods", {
  d <- design(10, 0.2, 0.05)
  expect_s3_class(d, "stopbound_design")
  expect_identical(d$family, "pocock")
  expect_identical(d$looks, 1:10)
  expect_identical(d$lower, rep(-1L, 10))
  expect_true(d$alpha_used <= d$alpha && d$phi_star <= 0.05)
  expect_identical(d$threshold, -d$alpha_used)
  expect_identical(as.data.frame(d), data.frame(n = 1:10, lower = rep(-1L, 10), upper = d$upper))
  # The rule table, as a protocol states it.
  expect_output(print(d), "patients 1-2  no count can stop the trial", fixed = TRUE)
  expect_output(print(d), "patients 3-4  stop at 3 or more events", fixed = TRUE)
  expect_output(print(summary(d)), "first possible stop: patient 3", fixed = TRUE)
  pdf(NULL)
  on.exit(dev.off())
  expect_identical(plot(d), d)
})

test_that("a boundary pair without a lower boundary never stops low", {
  d <- design(20, 0.2, 0.1)
  b <- evaluate(NULL, d$upper, 0.2)
  expect_s3_class(b, "stopbound_boundary")
  expect_identical(oc(b, c(0.2, 0.4)), oc(d, c(0.2, 0.4)))
  expect_identical(nrow(b$rule_lower), 0L)
  expect_output(print(evaluate(c(-1, 0, 0), c(2, 3, 3), 0.3)),
                "patient 3  stop at 0 events, or stop at 3 or more events", fixed = TRUE)
})

test_that("each argument's error names it", {
  expect_error(design(10, 1.5, 0.05), "THETA must be strictly between 0 and 1, got 1.5", fixed = TRUE)
  expect_error(design(10, 0.2, 0), "PHI must be strictly between 0 and 1, got 0", fixed = TRUE)
  expect_error(design(0, 0.2, 0.05), "^K must be")
  expect_error(design(10.5, 0.2, 0.05), "`K` must be a whole number, got 10.5", fixed = TRUE)
  expect_error(design("10", 0.2, 0.05), "`K` must be a whole number", fixed = TRUE)
  expect_error(design(10, c(0.2, 0.3), 0.05), "`theta` must be a single number", fixed = TRUE)
  expect_error(design(10, 0.2, 0.05, family = 1), "`family` must be a single string", fixed = TRUE)
  expect_error(design(10, 0.2, 0.05, family = "nonesuch"), "nonesuch", fixed = TRUE)
  expect_error(design(10, 0.2, 0.05, looks = c(2.5, 10)), "`looks` must be a vector of whole numbers",
               fixed = TRUE)
  expect_error(design(10, 0.2, 0.05, min_events = NA), "`min_events` must be a whole number", fixed = TRUE)
  expect_error(evaluate(-1, 3, 0.2), "patient 1\\b.*upper boundary")
  expect_error(evaluate(c(-1, -1), 2, 0.2), "the same length", fixed = TRUE)
  expect_error(evaluate(NULL, c(2, NA), 0.2), "`upper` must be a vector of whole numbers", fixed = TRUE)
  expect_error(evaluate(NULL, 2, 1), "THETA must be strictly between 0 and 1, got 1", fixed = TRUE)
  d <- design(10, 0.2, 0.05)
  expect_error(oc(d, 1.2), "a rate must be strictly between 0 and 1, got 1.2", fixed = TRUE)
  expect_error(oc(list(), 0.2), "`x` must be a stopbound_design", fixed = TRUE)
  # The error belongs to the user's call, not to the glue.
  expect_identical(conditionCall(tryCatch(design(10, 1.5, 0.05), error = identity))[[1]],
                   as.name("design"))
})
