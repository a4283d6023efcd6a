# Time pair_search from R against the program on the same table and ranked
# list, best of N runs each, and print the ratio.
#   Rscript rpkg/bench/search_time.R BUILD_DIR [TABLE] [N] [THREADS] [END]
# (candidate positions 0 to END, default all, against every candidate)
# (the package installed; TABLE defaults to the bundled example)
args <- commandArgs(trailingOnly = TRUE)
if (length(args) < 1) stop("usage: Rscript search_time.R BUILD_DIR [TABLE] [N] [THREADS] [END]")
build <- args[1]
table <- if (length(args) >= 2) args[2] else "examples/all_bcr_abl_500.tsv"
n <- if (length(args) >= 3) as.integer(args[3]) else 20L
thr <- if (length(args) >= 4) args[4] else "1"
suppressPackageStartupMessages(library(synergy))
prog <- file.path(build, "pair_search", "pair_search")
d <- tempfile("bench")
dir.create(d)
ranked <- file.path(d, "ranked.tsv")
st <- system2(file.path(build, "probe_rank", "probe_rank"), c("-q", table, ranked))
cand <- as.integer(system2(prog, c("--count-candidates", ranked), stdout = TRUE))
end <- if (length(args) >= 5) min(cand, as.integer(args[5])) else cand

best <- function(f) min(vapply(seq_len(n), function(k) f(), 0))
t_prog <- best(function() {
  rec <- file.path(d, "rec.tsv")
  unlink(rec)
  t0 <- proc.time()[["elapsed"]]
  system2(prog, c("-q", "-t", thr, table, ranked, 0, end, rec), stdout = FALSE)
  proc.time()[["elapsed"]] - t0
})
t <- read_expr(table)
r <- probe_rank(t$x, t$labels)
t_r <- best(function() {
  t0 <- proc.time()[["elapsed"]]
  p <- pair_search(t$x, t$labels, ranked = r, end = end, threads = as.numeric(thr))
  proc.time()[["elapsed"]] - t0
})
cat(sprintf("%s: %d candidates, %d pairs, %s thread(s), best of %d\n", basename(table), cand, end * cand, thr, n))
cat(sprintf("program pair_search (whole process): %.3f s\n", t_prog))
cat(sprintf("R pair_search (table in memory):     %.3f s\n", t_r))
cat(sprintf("R / program: %.2f\n", t_r / t_prog))
unlink(d, recursive = TRUE)
