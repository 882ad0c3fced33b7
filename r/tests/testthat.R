# Runs the package's tests under R CMD check.
library(testthat)
library(stopbound)

test_check("stopbound")
