# Shared fixtures: generated tables, the programs (paths from the environment,
# set by the ctest suite), and a runner that compares files byte for byte.

prog_rank <- Sys.getenv("SYN_PROBE_RANK")
prog_search <- Sys.getenv("SYN_PAIR_SEARCH")
example_table <- Sys.getenv("SYN_EXAMPLE")

skip_without_programs <- function() {
  skip_if(!nzchar(prog_rank) || !file.exists(prog_rank), "SYN_PROBE_RANK is not set")
  skip_if(!nzchar(prog_search) || !file.exists(prog_search), "SYN_PAIR_SEARCH is not set")
}

# Values on a coarse grid, so distances tie and land on the cut height; a few
# probes carry the labels in pairs only.
gen_table <- function(seed, n_prob, n_samp, step = 0.01) {
  set.seed(seed)
  lab <- sample(rep(0:1, length.out = n_samp))
  x <- matrix(round(runif(n_prob * n_samp, 0, 0.5) / step) * step, n_prob, n_samp)
  k <- min(n_prob, 6)
  x[seq_len(k), ] <- x[seq_len(k), ] + 0.3 * outer(rep(1, k), lab) * (runif(k) > 0.5)
  dimnames(x) <- list(sprintf("p%03d", seq_len(n_prob)), sprintf("s%02d", seq_len(n_samp)))
  list(x = x, labels = lab)
}

# The table in the programs' input format; %.17g reads back as the same doubles.
write_table <- function(t, file) {
  body <- apply(matrix(sprintf("%.17g", t$x), nrow(t$x)), 1, paste, collapse = "\t")
  writeLines(c(paste(c("probe", colnames(t$x)), collapse = "\t"),
               paste(c("label", t$labels), collapse = "\t"),
               paste(rownames(t$x), body, sep = "\t")), file)
}

# Run a program; both end with status 1 after a complete run.
run_prog <- function(prog, args, stdout = FALSE) {
  out <- tempfile()
  st <- system2(prog, args, stdout = out, stderr = out)
  list(status = st, text = if (file.exists(out)) readLines(out) else character())
}

# A table's lines without its provenance comment lines.
body_lines <- function(f) grep("^#", readLines(f), invert = TRUE, value = TRUE)

same_bytes <- function(a, b) {
  identical(readBin(a, "raw", file.size(a)), readBin(b, "raw", file.size(b)))
}

# A fresh folder, removed when the calling test ends.
scratch_dir <- function(env = parent.frame()) {
  d <- tempfile("syn")
  dir.create(d)
  do.call(on.exit, list(substitute(unlink(d, recursive = TRUE), list(d = d)), add = TRUE), envir = env)
  d
}

# Each case is list(quoted call, message): the call, evaluated in env, must
# fail with exactly that message.
expect_messages <- function(cases, env) {
  for (cs in cases) {
    err <- tryCatch({
      eval(cs[[1]], env)
      "no error"
    }, error = conditionMessage)
    expect_identical(err, cs[[2]], label = deparse(cs[[1]]))
  }
}
