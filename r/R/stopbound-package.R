# The package's documentation page and its compiled code's registration.

#' stopbound: exact stopping boundaries for monitored single-arm trials
#'
#' Designs an upper stopping boundary for a single-arm trial with a binary
#' outcome, monitored as patients accrue, and computes exactly how often a
#' boundary pair is crossed. The numbers are those of the `stopbound`
#' command line, bit for bit: both call the same compiled engine.
#'
#' Start with [design()]; [evaluate()] takes a boundary pair from elsewhere,
#' and [oc()] gives the operating characteristics of either at any rates.
#'
#' @useDynLib stopbound, .registration = TRUE
#' @importFrom Rcpp evalCpp
#' @keywords internal
"_PACKAGE"
