# The package's files against the programs' files, byte for byte: generated
# tables (coarse grids force ties at the cut height) and the bundled example.

file_cases <- list(
  list(name = "grid 0.01", seed = 1, n_prob = 40, n_samp = 24, step = 0.01, threads = 1),
  list(name = "grid 0.02, odd samples", seed = 2, n_prob = 60, n_samp = 37, step = 0.02, threads = 2),
  list(name = "grid 0.05, few samples", seed = 3, n_prob = 25, n_samp = 9, step = 0.05, threads = 0),
  list(name = "bundled example", example = TRUE, threads = 2)
)

for (cs in file_cases) {
  test_that(paste("ranked list and records match the programs:", cs$name), {
    skip_without_programs()
    d <- scratch_dir()
    if (isTRUE(cs$example)) {
      skip_if(!file.exists(example_table), "SYN_EXAMPLE is not set")
      tsv <- example_table
      t <- read_expr(tsv)
    } else {
      t <- gen_table(cs$seed, cs$n_prob, cs$n_samp, cs$step)
      tsv <- file.path(d, "t.tsv")
      write_table(t, tsv)
    }
    ranked <- file.path(d, "ranked.tsv")
    expect_equal(run_prog(prog_rank, c("-q", tsv, ranked))$status, 1)
    n <- as.integer(run_prog(prog_search, c("--count-candidates", ranked))$text)
    expect_gt(n, 1)
    half <- n %/% 2
    rec1 <- file.path(d, "rec1.tsv")
    rec2 <- file.path(d, "rec2.tsv")
    expect_equal(run_prog(prog_search, c("-q", tsv, ranked, 0, n, rec1))$status, 1)
    expect_equal(run_prog(prog_search, c("-q", tsv, ranked, half, n, rec2))$status, 1)

    r <- probe_rank(t$x, t$labels, threads = cs$threads)
    expect_identical(rownames(t$x)[r$probe], r$name)
    write_ranked(r, file.path(d, "r_ranked.tsv"))
    expect_true(same_bytes(file.path(d, "r_ranked.tsv"), ranked))

    p <- pair_search(t$x, t$labels, ranked = r, threads = cs$threads)
    write_records(p, file.path(d, "r_rec1.tsv"))
    expect_true(same_bytes(file.path(d, "r_rec1.tsv"), rec1))
    # ranked = NULL ranks first; a range is the program's range
    # 1-based and inclusive: the program's positions half to n - 1
    p2 <- pair_search(t$x, t$labels, ranked = r, start = half + 1, end = n)
    expect_identical(pair_search(t$x, t$labels, start = half + 1, threads = cs$threads), p2)
    write_records(p2, file.path(d, "r_rec2.tsv"))
    expect_true(same_bytes(file.path(d, "r_rec2.tsv"), rec2))
    # shards appended in range order give the whole search
    write_records(pair_search(t$x, t$labels, ranked = r, end = half), file.path(d, "r_app.tsv"), append = TRUE)
    write_records(p2, file.path(d, "r_app.tsv"), append = TRUE)
    expect_true(same_bytes(file.path(d, "r_app.tsv"), rec1))
    # flips count the labels the search changed; one row per unordered pair,
    # the mirror's record kept for the writers
    expect_identical(p$flips, as.integer(rowSums(pair_labels(p) != matrix(t$labels, nrow(p), ncol(t$x), byrow = TRUE))))
    all <- pair_search(t$x, t$labels, ranked = r, distinct = FALSE)
    expect_equal(nrow(all), length(readLines(rec1)) / 2)
    key <- function(d) paste(pmin(d$first, d$second), pmax(d$first, d$second))
    expect_identical(key(p), unique(key(all)))
    write_records(all[order(-all$synergy), ], file.path(d, "r_all.tsv"))
    expect_true(same_bytes(file.path(d, "r_all.tsv"), rec1))
    # a selection writes its pairs' records, mirrors included, in search order
    write_records(p[2:1, ], file.path(d, "r_two.tsv"))
    two <- readLines(file.path(d, "r_two.tsv"))
    expect_identical(two, readLines(rec1)[sort(c(2 * which(key(all) %in% key(p)[1:2]) - 1, 2 * which(key(all) %in% key(p)[1:2])))])
  })
}
