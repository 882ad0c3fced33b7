# The package's R face: argument checks that name R's arguments, the engine
# called through the compiled glue, and the classes stopbound_design and
# stopbound_boundary with their print, summary, as.data.frame and plot
# methods. Every number comes from the engine unchanged.

# Runs a call into the engine; its refusals become errors of the user's call.
engine <- function(expr, call) {
  tryCatch(expr, error = function(e) stop(simpleError(conditionMessage(e), call)))
}

whole_number <- function(x, name, call) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != trunc(x) || abs(x) > .Machine$integer.max) {
    shown <- if (is.numeric(x) && length(x) == 1L) format(x, digits = 17) else deparse1(x)
    stop(simpleError(sprintf("`%s` must be a whole number, got %s", name, shown), call))
  }
  as.integer(x)
}

single_number <- function(x, name, call) {
  if (!is.numeric(x) || length(x) != 1L)
    stop(simpleError(sprintf("`%s` must be a single number, got %s", name, deparse1(x)), call))
  as.double(x)
}

integer_vector <- function(x, name, call) {
  if (!is.numeric(x) || anyNA(x) || any(x != trunc(x)) || any(abs(x) > .Machine$integer.max))
    stop(simpleError(sprintf("`%s` must be a vector of whole numbers", name), call))
  as.integer(x)
}

#' Design an upper stopping boundary
#'
#' Finds the most liberal boundary of the given family whose probability
#' PHI* of being reached under the event probability `theta` does not
#' exceed `phi`: the design of `stopbound design K THETA PHI`.
#'
#' @param K the maximum number of patients.
#' @param theta the event probability the design is made for, strictly
#'   between 0 and 1.
#' @param phi the probability of stopping early under `theta` that is
#'   accepted, strictly between 0 and 1.
#' @param family the boundary family, as the command line's `--family`
#'   names it (`"pocock"`, the default).
#' @param looks the patient numbers after which the trial may stop,
#'   increasing; `NULL` for every patient.
#' @param min_events no stop with fewer events than this.
#' @return An object of class `stopbound_design`: a list with the inputs
#'   (`K`, `theta`, `phi`, `family`, `looks`, `min_events`), the boundary
#'   `upper` (`upper[n]` events stop the trial after patient `n`; `n + 1`:
#'   it cannot stop there) and `lower` (all -1), `alpha`, `alpha_used`,
#'   `threshold`, `phi_star`, `rule` (a data frame of runs of patients
#'   `first`..`last` sharing the count `stop_at`) and `next_boundary`, the
#'   next more liberal attainable boundary (`NULL` if none).
#' @seealso [oc()] for the operating characteristics.
#' @examples
#' d <- design(10, 0.2, 0.05)
#' d
#' oc(d, c(0.2, 0.3, 0.4))
#' @export
design <- function(K, theta, phi, family = "pocock", looks = NULL, min_events = 0) {
  call <- sys.call()
  K <- whole_number(K, "K", call)
  theta <- single_number(theta, "theta", call)
  phi <- single_number(phi, "phi", call)
  if (!is.character(family) || length(family) != 1L || is.na(family))
    stop(simpleError("`family` must be a single string", call))
  looks <- if (is.null(looks)) integer() else integer_vector(looks, "looks", call)
  min_events <- whole_number(min_events, "min_events", call)
  d <- engine(.sb_design(K, theta, phi, family, looks, min_events), call)
  structure(c(list(K = K, theta = theta, phi = phi, min_events = min_events), d),
            class = "stopbound_design")
}

#' A given boundary pair
#'
#' Checks a boundary pair as `stopbound evaluate` checks the pair in a file,
#' for [oc()] and the methods to work on.
#'
#' @param lower the lower boundary: the trial stops low after patient `n`
#'   when the number of events is at most `lower[n]` (-1: never); `NULL`
#'   for no lower boundary.
#' @param upper the upper boundary: the trial stops high after patient `n`
#'   when the number of events reaches `upper[n]` (`n + 1`: never).
#' @param theta the event probability the pair was made for.
#' @return An object of class `stopbound_boundary`: a list with `K`,
#'   `theta`, `lower`, `upper`, and the runs `rule` (upper) and `rule_lower`.
#' @examples
#' b <- evaluate(c(-1, -1, 0, 0), c(2, 2, 3, 3), 0.3)
#' oc(b, c(0.1, 0.3, 0.5))
#' @export
evaluate <- function(lower, upper, theta) {
  call <- sys.call()
  upper <- integer_vector(upper, "upper", call)
  lower <- if (is.null(lower)) rep(-1L, length(upper)) else integer_vector(lower, "lower", call)
  theta <- single_number(theta, "theta", call)
  if (!(theta > 0 && theta < 1))
    stop(simpleError(sprintf("THETA must be strictly between 0 and 1, got %s",
                             format(theta, digits = 17)), call))
  runs <- engine(.sb_check(lower, upper), call)
  structure(list(K = length(upper), theta = theta, lower = lower, upper = upper,
                 rule = runs$rule, rule_lower = runs$rule_lower),
            class = "stopbound_boundary")
}

#' Operating characteristics
#'
#' The probability of stopping high and low, and the means and standard
#' deviations of the number of events `Y`, of patients `N` and of the
#' observed rate `Y/N` at the end of the trial, at each event probability.
#'
#' @param x a `stopbound_design` or `stopbound_boundary`.
#' @param rates event probabilities, each strictly between 0 and 1.
#' @return A data frame with one row per rate and the columns of the
#'   command line's CSV: `theta`, `phi_star`, `p_lower`, `mean_y`, `sd_y`,
#'   `mean_n`, `sd_n`, `mean_yn`, `sd_yn`.
#' @examples
#' oc(design(20, 0.2, 0.1), seq(0.1, 0.5, by = 0.1))
#' @export
oc <- function(x, rates) {
  call <- sys.call()
  if (!inherits(x, c("stopbound_design", "stopbound_boundary")))
    stop(simpleError("`x` must be a stopbound_design or a stopbound_boundary", call))
  if (!is.numeric(rates)) stop(simpleError("`rates` must be numeric", call))
  engine(.sb_oc(x$lower, x$upper, as.double(rates)), call)
}

# "patients 3-5" or "patient 3".
patients <- function(first, last) {
  ifelse(first == last, paste("patient", first), paste0("patients ", first, "-", last))
}

# The stopping rule as a protocol states it, one line per run of patients,
# those who cannot stop the trial included.
rule_lines <- function(lower, upper) {
  n <- seq_along(upper)
  says <- ifelse(lower > 0, paste("stop at", lower, "or fewer events"),
                 ifelse(lower == 0, "stop at 0 events", ""))
  high <- ifelse(upper <= n, paste("stop at", upper, "or more events"), "")
  says <- ifelse(says != "" & high != "", paste0(says, ", or ", high), paste0(says, high))
  says[says == ""] <- "no count can stop the trial"
  starts <- which(c(TRUE, says[-1L] != says[-length(says)]))
  ends <- c(starts[-1L] - 1L, length(says))
  paste0("  ", format(patients(starts, ends)), "  ", says[starts])
}

#' @export
print.stopbound_design <- function(x, ...) {
  cat("Design of ", x$family_title, " (", x$family, ")\n", sep = "")
  cat("K = ", x$K, ", THETA = ", format(x$theta), ", PHI = ", format(x$phi), "\n", sep = "")
  cat("PHI* = ", sprintf("%g", x$phi_star), " = the probability of reaching the boundary under THETA\n",
      sep = "")
  cat("ALPHA = ", sprintf("%g", x$alpha), " = the pointwise stopping probability\n", sep = "")
  cat("\nStopping rule, on the number of events among patients 1..n after each patient n:\n")
  writeLines(rule_lines(x$lower, x$upper))
  invisible(x)
}

#' @export
print.stopbound_boundary <- function(x, ...) {
  cat("Boundary pair: K = ", x$K, ", THETA = ", format(x$theta), "\n", sep = "")
  cat("\nStopping rule, on the number of events among patients 1..n after each patient n:\n")
  writeLines(rule_lines(x$lower, x$upper))
  invisible(x)
}

#' @export
summary.stopbound_design <- function(object, ...) {
  structure(list(design = object, oc = oc(object, object$theta)),
            class = "summary.stopbound_design")
}

#' @export
print.summary.stopbound_design <- function(x, ...) {
  d <- x$design
  cat("Design of ", d$family_title, " (", d$family, ")\n", sep = "")
  cat("  K = ", d$K, ", THETA = ", format(d$theta), ", PHI = ", format(d$phi), "\n", sep = "")
  cat("  PHI* = ", format(d$phi_star), ", ALPHA = ", format(d$alpha), ", alpha used = ",
      format(d$alpha_used), "\n", sep = "")
  first <- if (nrow(d$rule) > 0L) d$rule$first[1L] else NA
  cat("  first possible stop: ", if (is.na(first)) "none" else paste("patient", first), "\n", sep = "")
  if (!is.null(d$next_boundary))
    cat("  next more liberal boundary: PHI* = ", format(d$next_boundary$phi_star), "\n", sep = "")
  r <- x$oc
  cat("  at THETA: E[N] = ", format(r$mean_n), " (SD ", format(r$sd_n), "), E[Y] = ",
      format(r$mean_y), " (SD ", format(r$sd_y), ")\n", sep = "")
  invisible(x)
}

boundary_frame <- function(x) {
  data.frame(n = seq_along(x$upper), lower = x$lower, upper = x$upper)
}

#' @export
as.data.frame.stopbound_design <- function(x, ...) boundary_frame(x)

#' @export
as.data.frame.stopbound_boundary <- function(x, ...) boundary_frame(x)

# Two panels: the boundary against the patient number, and the probability
# of stopping against the true event probability.
plot_boundary <- function(x, ...) {
  old <- graphics::par(mfrow = c(1L, 2L))
  on.exit(graphics::par(old))
  n <- seq_along(x$upper)
  can <- x$upper <= n
  graphics::plot(n, n, type = "n", xlab = "patient n", ylab = "events",
                 main = "Boundary", ylim = c(0, max(1, x$upper[can])), ...)
  graphics::lines(n[can], x$upper[can], type = "s", lwd = 2)
  low <- x$lower >= 0
  if (any(low)) graphics::lines(n[low], x$lower[low], type = "s", lwd = 2, lty = 2)
  rates <- sort(unique(c(seq(0.005, 0.995, by = 0.005), x$theta)))
  r <- oc(x, rates)
  graphics::plot(r$theta, r$phi_star + r$p_lower, type = "l", lwd = 2, ylim = c(0, 1),
                 xlab = "true event probability", ylab = "P(stop early)", main = "Stopping")
  graphics::abline(v = x$theta, lty = 3)
  invisible(x)
}

#' @export
plot.stopbound_design <- function(x, ...) plot_boundary(x, ...)

#' @export
plot.stopbound_boundary <- function(x, ...) plot_boundary(x, ...)

#' Plan a trial: how many patients for a given power
#'
#' For every K from `k_min` to `k_max`, the design for K, `theta0` and
#' `phi`, and its power, the probability of stopping when the event
#' probability is `theta1`: the scan of `stopbound plan`. Power is not
#' monotone in K for exact discrete designs, so two answers are given.
#'
#' @param theta0 the acceptable event probability the designs are made for.
#' @param theta1 the unacceptable event probability, above `theta0`.
#' @param phi the probability of stopping early under `theta0` that is
#'   accepted.
#' @param power the probability of stopping under `theta1` to reach.
#' @param family the boundary family, as for [design()].
#' @param looks_every a look after every `looks_every` patients and at K.
#' @param min_events no stop with fewer events than this.
#' @param k_min,k_max the range of K scanned.
#' @return An object of class `stopbound_plan`: a list with the inputs,
#'   `scan` (a data frame `K`, `phi_star`, `power`, `mean_n0`, `mean_n1`),
#'   `first_k` (the smallest K whose power reaches `power`), `stable_k` (the
#'   smallest K from which every larger K up to `k_max` reaches it), each
#'   `NULL` when none does, and `best_k` and `best_power`.
#' @examples
#' p <- plan(0.2, 0.35, 0.1, 0.8, k_max = 80)
#' p
#' @export
plan <- function(theta0, theta1, phi, power, family = "pocock", looks_every = 1, min_events = 0,
                 k_min = 1, k_max = 1000) {
  call <- sys.call()
  theta0 <- single_number(theta0, "theta0", call)
  theta1 <- single_number(theta1, "theta1", call)
  phi <- single_number(phi, "phi", call)
  power <- single_number(power, "power", call)
  if (!is.character(family) || length(family) != 1L || is.na(family))
    stop(simpleError("`family` must be a single string", call))
  looks_every <- whole_number(looks_every, "looks_every", call)
  min_events <- whole_number(min_events, "min_events", call)
  k_min <- whole_number(k_min, "k_min", call)
  k_max <- whole_number(k_max, "k_max", call)
  p <- engine(.sb_plan(theta0, theta1, phi, power, family, looks_every, min_events, k_min, k_max), call)
  structure(c(list(theta0 = theta0, theta1 = theta1, phi = phi, power = power, family = family,
                   looks_every = looks_every, min_events = min_events, k_min = k_min, k_max = k_max), p),
            class = "stopbound_plan")
}

#' @export
print.stopbound_plan <- function(x, ...) {
  cat(sprintf("Plan: THETA0 = %s, THETA1 = %s, PHI = %s, POWER = %s (%s), K = %d..%d\n",
              format(x$theta0), format(x$theta1), format(x$phi), format(x$power), x$family,
              x$k_min, x$k_max))
  if (is.null(x$first_k)) {
    cat(sprintf("No K up to %d reaches the power; the largest is %s at K = %d.\n", x$k_max,
                format(x$best_power, digits = 6), x$best_k))
  } else {
    at <- function(k) format(x$scan$power[x$scan$K == k], digits = 6)
    cat(sprintf("K = %d is the smallest K whose power reaches %s (power %s).\n", x$first_k,
                format(x$power), at(x$first_k)))
    if (!is.null(x$stable_k) && x$stable_k != x$first_k)
      cat(sprintf("Power is not monotone in K: every K from %d up to %d reaches it (power %s at K = %d).\n",
                  x$stable_k, x$k_max, at(x$stable_k), x$stable_k))
    else if (!is.null(x$stable_k))
      cat(sprintf("Every larger K up to %d reaches it too.\n", x$k_max))
  }
  invisible(x)
}
