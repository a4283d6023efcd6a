library(testthat)
library(synergy)
test_check("synergy")
