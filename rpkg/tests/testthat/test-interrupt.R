# An interrupt (Ctrl-C at the console: SIGINT) stops a long threaded search
# between pairs, and a long significance run between rounds of shufflings, as
# an R interrupt, and the session can search again.

long_calls <- list(
  "a threaded search between pairs" = "pair_search(t$x, t$labels, ranked = r, threads = 2)",
  # no pair ever stops: rounds of shufflings until the interrupt
  "a threaded significance run between rounds" =
    "pair_signif(t$x[1:40, ], t$labels, p40, perm = 1e15, hits = 1e6, threads = 2)"
)

for (what in names(long_calls)) test_that(paste("SIGINT stops", what), {
  skip_on_os("windows")
  d <- scratch_dir()
  script <- file.path(d, "long.R")
  started <- file.path(d, "started")
  done <- file.path(d, "done")
  writeLines(c(
    sprintf(".libPaths(c(%s))", paste(deparse(.libPaths()), collapse = "")),
    "library(synergy)",
    sprintf("source(%s)", deparse(test_path("helper-tables.R"))),
    "t <- gen_table(6, 600, 60)",
    "r <- probe_rank(t$x, t$labels)",
    "p40 <- pair_search(t$x[1:40, ], t$labels)",
    sprintf("invisible(file.create(%s))", deparse(started)),
    sprintf("res <- tryCatch({ %s; 'finished' }, interrupt = function(e) 'interrupted')", long_calls[[what]]),
    "again <- nrow(pair_search(t$x[1:20, ], t$labels))",
    sprintf("writeLines(paste(res, again > 0), %s)", deparse(done))), script)
  out <- file.path(d, "out.txt")
  pid <- as.integer(system(sprintf("%s --vanilla %s > %s 2>&1 & echo $!",
                                   shQuote(file.path(R.home("bin"), "Rscript")), shQuote(script), shQuote(out)),
                           intern = TRUE))
  for (k in 1:600) if (!file.exists(started)) Sys.sleep(0.1)
  expect_true(file.exists(started))
  Sys.sleep(1)
  tools::pskill(pid, tools::SIGINT)
  t0 <- Sys.time()
  for (k in 1:300) if (!file.exists(done)) Sys.sleep(0.1)
  expect_lt(as.numeric(difftime(Sys.time(), t0, units = "secs")), 10)
  expect_identical(readLines(done), "interrupted TRUE", info = paste(readLines(out), collapse = "\n"))
})
