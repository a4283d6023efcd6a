# pair_signif from R against the program: the table written by write_signif
# equals the program's OUT byte for byte, at every thread count, from records
# in memory or in a file, with and without a search null; bad records stop
# with the program's message.

prog_signif <- Sys.getenv("SYN_PAIR_SIGNIF")

skip_without_signif <- function() {
  skip_without_programs()
  skip_if(!nzchar(prog_signif) || !file.exists(prog_signif), "SYN_PAIR_SIGNIF is not set")
}

# A table, its ranked list and records, from the programs.
signif_inputs <- function(cs, d) {
  if (isTRUE(cs$example)) {
    skip_if(!file.exists(example_table), "SYN_EXAMPLE is not set")
    tsv <- example_table
    t <- read_expr(tsv)
  } else {
    t <- gen_table(cs$seed, cs$n_prob, cs$n_samp)
    tsv <- file.path(d, "t.tsv")
    write_table(t, tsv)
  }
  ranked <- file.path(d, "ranked.tsv")
  rec <- file.path(d, "rec.tsv")
  run_prog(prog_rank, c("-q", tsv, ranked))
  n <- as.integer(run_prog(prog_search, c("--count-candidates", ranked))$text)
  run_prog(prog_search, c("-q", tsv, ranked, 0, n, rec))
  list(t = t, tsv = tsv, ranked = ranked, rec = rec)
}

signif_cases <- list(
  list(name = "generated", seed = 7, n_prob = 40, n_samp = 30, perm = 3000, threads = c(1, 2, 0)),
  list(name = "generated, seed 5, search null", seed = 8, n_prob = 30, n_samp = 41, perm = 2000, sig_seed = 5,
       null = TRUE, threads = c(1, 2)),
  list(name = "bundled example, tail none", example = TRUE, perm = 2000, tail = "none", threads = c(2, 1))
)

for (cs in signif_cases) {
  test_that(paste("pair_signif writes the program's table:", cs$name), {
    skip_without_signif()
    d <- scratch_dir()
    f <- signif_inputs(cs, d)
    seed <- if (is.null(cs$sig_seed)) 1 else cs$sig_seed
    tl <- if (is.null(cs$tail)) "split" else cs$tail
    args <- c("-q", "--perm", cs$perm, "--seed", seed, "--tail", tl)
    nl <- NULL
    if (isTRUE(cs$null)) {
      nl <- data.frame(seed = 1:4, candidates = c(9, 12, 0, 7), best_base = c(0.41, 0.5, NA, 0.38),
                       best_final = c(0.97, 0.999, NA, 0.9))
      nf <- file.path(d, "null.tsv")
      write.table(nl, nf, sep = "\t", quote = FALSE, row.names = FALSE, na = "NA")
      args <- c(args, "--search-null", nf)
    }
    out <- file.path(d, "out.tsv")
    expect_equal(run_prog(prog_signif, c(args, f$tsv, f$ranked, f$rec, out))$status, 0)
    pairs <- pair_search(f$t$x, f$t$labels)
    for (th in cs$threads) {
      s <- pair_signif(f$t$x, f$t$labels, pairs, ranked = f$ranked, perm = cs$perm, seed = seed, threads = th,
                       tail = tl, search_null = nl)
      mine <- file.path(d, sprintf("r%d.tsv", th))
      write_signif(s, mine)
      # byte for byte but for the provenance lines, which say who made it
      expect_identical(body_lines(mine), body_lines(out), label = paste("threads", th))
    }
    expect_identical(names(s), strsplit(body_lines(out)[1], "\t")[[1]])
    pv <- grep("^#", readLines(mine), value = TRUE)
    expect_true(any(grepl("pair_signif(", pv, fixed = TRUE)) && any(grepl(paste0("seed: ", seed), pv, fixed = TRUE)))
    # a pair and its mirror count once
    expect_equal(nrow(s), nrow(unique(t(apply(cbind(pairs$first, pairs$second), 1, sort)))))
    # records and the null from files, ranked from memory: the same table
    s2 <- pair_signif(f$t$x, f$t$labels, f$rec, ranked = probe_rank(f$t$x, f$t$labels), perm = cs$perm,
                      seed = seed, tail = tl, search_null = if (is.null(nl)) NULL else nf)
    expect_identical(structure(s2, prov = NULL), structure(s, prov = NULL))
  })
}

test_that("bad records and options stop with the program's message", {
  skip_without_signif()
  d <- scratch_dir()
  f <- signif_inputs(list(seed = 9, n_prob = 20, n_samp = 16), d)
  rec <- readLines(f$rec)
  other <- gen_table(10, 20, 12)
  bad <- list(
    "unknown probe" = sub("^p001", "zz1", rec),
    "short record" = sub("\t[01]$", "", rec),
    "cut in its last line" = NULL
  )
  for (nm in names(bad)) {
    b <- file.path(d, paste0(gsub(" ", "_", nm), ".tsv"))
    if (is.null(bad[[nm]])) writeBin(charToRaw(substr(paste(rec, collapse = "\n"), 1, sum(nchar(rec) + 1) - 5)), b)
    else writeLines(bad[[nm]], b)
    want <- sub("^pair_signif: ", "", run_prog(prog_signif, c("-q", f$tsv, f$ranked, b, file.path(d, "o")))$text)
    expect_length(want, 1)
    expect_error(pair_signif(f$t$x, f$t$labels, b, perm = 10), want, fixed = TRUE, label = nm)
  }
  # records of another table, from memory: named as the argument
  wrong <- pair_search(other$x, other$labels)
  expect_error(pair_signif(f$t$x, f$t$labels, wrong, perm = 10), "^records:1: ")
  cases <- list(
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, perm = 0)), "perm: must be at least 1"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, perm = 1.5)),
         "perm: '1.5' is not a whole number from 0 to 18446744073709551615"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, seed = "x1")),
         "seed: 'x1' is not a whole number from 0 to 18446744073709551615"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, hits = 0)), "hits: must be from 1 to 1000000"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, tail = "all")), "tail: must be split or none, not 'all'"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, particles = 1)), "particles: must be from 2 to 100000"),
    list(quote(pair_signif(f$t$x, f$t$labels, f$rec, search_null = data.frame(seed = 1))),
         "search_null: no column 'candidates'"),
    list(quote(write_signif(data.frame(first = "a"), tempfile())), "signif: no column 'second'")
  )
  expect_messages(cases, environment())
})
