# Bad input stops with one line: for a file, the programs' own message; for
# objects in memory, the same check naming the row and column.

test_that("a bad table file gives the program's message", {
  skip_without_programs()
  d <- scratch_dir()
  head <- c("probe\ta\tb\tc", "label\t0\t1\t1")
  bad_files <- list(
    "label not 0/1" = c("probe\ta\tb\tc", "label\t0\t2\t1", "p\t1\t2\t3"),
    "short row" = c(head, "p\t1\t2\t3", "q\t1\t2"),
    "not a number" = c(head, "p\t1\tnan\t3"),
    "span" = c(head, "p\t0\t1\t8e6"),
    "no label line" = "probe\ta\tb",
    "empty" = character()
  )
  for (nm in names(bad_files)) {
    f <- file.path(d, "bad.tsv")
    writeLines(bad_files[[nm]], f)
    prog <- run_prog(prog_rank, c(f, file.path(d, "out.tsv")))
    expect_equal(prog$status, 2, label = nm)
    err <- tryCatch(read_expr(f), error = conditionMessage)
    expect_identical(paste0("probe_rank: ", err), prog$text, label = nm)
  }
})

test_that("bad objects and arguments give one-line messages naming the place", {
  t <- gen_table(5, 12, 6)
  x <- t$x
  lab <- t$labels
  with_na <- x
  with_na[2, 3] <- NA
  wide <- x
  wide[1, ] <- 0
  wide[1, 4] <- 8e6
  tabbed <- x
  rownames(tabbed)[1] <- "a\tb"
  noname <- unname(x)
  r <- probe_rank(x, lab)
  other <- data.frame(name = "zz", probe = 57L, score = 0.99)
  cases <- list(
    list(quote(probe_rank(with_na, lab)), "x: row 2: probe 'p002': value in column 3 is not a finite number"),
    list(quote(probe_rank(wide, lab)),
         "x: row 1: probe 'p001': values span 8000000.000000, too wide for the clustering (limit 7e6); log-transform the data"),
    list(quote(probe_rank(tabbed, lab)), "x: row 1: probe 'a\tb': the name holds a tab or a line break"),
    list(quote(probe_rank(noname, lab)), "x: the rows have no names (probe names)"),
    list(quote(probe_rank(as.data.frame(x), lab)),
         "x: expected a numeric matrix (probes in rows, samples in columns), an ExpressionSet or a SummarizedExperiment"),
    list(quote(probe_rank(x > 0, lab)), "x: the values are not numbers"),
    list(quote(probe_rank(x, c(0, 1, 2, 0, 1, 0))), "labels: label of column 3 is 2, expected 0 or 1"),
    list(quote(probe_rank(x, c(0, 1, NA, 0, 1, 0))), "labels: label of column 3 is NA, expected 0 or 1"),
    list(quote(probe_rank(x, c(0, 1, 0.5, 0, 1, 0))), "labels: label of column 3 is 0.5, expected 0 or 1"),
    list(quote(probe_rank(x, lab[-1])), "labels: 5 labels for 6 samples"),
    list(quote(probe_rank(x, "group", case = "case")),
         "labels: a phenotype column needs an ExpressionSet or a SummarizedExperiment; give the labels themselves for a matrix"),
    list(quote(probe_rank(x, c("a", "b", "a", "b", "a", "b"))),
         "case: give the value of the case samples (labels has 'a', 'b')"),
    list(quote(probe_rank(x, c("a", "b", "a", "b", "a", "c"), case = "a", control = "b")),
         "labels: sample 6 has labels 'c', neither case nor control (leave such samples out of x)"),
    list(quote(probe_rank(x, factor(c("a", "b", "a", "b", "a", "b")), case = "A")), "case: no sample has labels 'A'"),
    list(quote(probe_rank(x, lab, case = "1")), "case: only with labels as a factor, characters or a phenotype column"),
    list(quote(probe_rank(x, lab, assay = 1)), "assay: only for a SummarizedExperiment"),
    list(quote(probe_rank(x, lab, threads = -1)), "threads: thread count '-1' is not a number from 0 to 1024"),
    list(quote(probe_rank(x, lab, threads = 2.5)), "threads: thread count '2.5' is not a number from 0 to 1024"),
    list(quote(pair_search(x, lab, ranked = r, start = 1.5)), "start: '1.5' is not a whole number"),
    list(quote(pair_search(x, lab, ranked = r, end = 99)),
         sprintf("start, end: 1 to 99 reaches outside the candidates 1 to %d of ranked", sum(r$score > 0.97175))),
    list(quote(pair_search(x, lab, ranked = r, start = 0)),
         sprintf("start, end: 0 to %d reaches outside the candidates 1 to %d of ranked", sum(r$score > 0.97175),
                 sum(r$score > 0.97175))),
    list(quote(pair_search(x, lab, ranked = other)), "ranked:1: probe number '56' is not a probe of the table (0 to 11)"),
    list(quote(write_ranked(transform(r, probe = 0L), tempfile())), "ranked: row 1: probe number 0 is out of range"),
    list(quote(pair_search(x, lab, ranked = r[c("name", "score")])), "ranked: no column 'probe'"),
    list(quote(write_ranked(r, "/nonexistent/r.tsv")),
         "/nonexistent/r.tsv: cannot write into folder '/nonexistent': No such file or directory"),
    list(quote(write_records(r, tempfile())), "records: expected what pair_search returns")
  )
  expect_messages(cases, environment())
  if (requireNamespace("Biobase", quietly = TRUE)) {
    pd <- Biobase::AnnotatedDataFrame(data.frame(group = c("case", "ctrl", NA, "ctrl", "case", "ctrl"),
                                                 row.names = colnames(x)))
    es <- Biobase::ExpressionSet(x, phenoData = pd)
    expect_error(probe_rank(es, "nope", case = "case"), "labels: no phenotype column 'nope'", fixed = TRUE)
    expect_error(probe_rank(es, "group", case = "case"), "labels: phenotype 'group' is NA for sample 3", fixed = TRUE)
    es$group[3] <- "ctrl"
    expect_error(probe_rank(es, c("group", "CASE")), "case: no sample has phenotype 'group' 'CASE'", fixed = TRUE)
  }
})

test_that("ranked lists, bounds and names are checked as the programs check them", {
  skip_without_programs()
  d <- scratch_dir()
  t <- gen_table(5, 12, 6)
  r <- probe_rank(t$x, t$labels)
  f <- file.path(d, "t.tsv")
  write_table(t, f)
  na_score <- r
  na_score$score[2] <- NA
  bad <- list("another matrix" = transform(r, name = rev(name)), "NA score" = na_score,
              "a probe twice" = r[c(1, 2, 1), ])
  for (nm in names(bad)) {
    rf <- file.path(d, "r.tsv")
    write_ranked(bad[[nm]], rf)
    want <- sub("^pair_search: ", "", run_prog(prog_search, c(f, rf, "0", "0", file.path(d, "o")))$text)
    expect_length(want, 1)
    expect_error(pair_search(t$x, t$labels, ranked = bad[[nm]]), sub(rf, "ranked", want, fixed = TRUE),
                 fixed = TRUE, label = nm)
  }
  gz <- t$x
  rownames(gz)[1] <- "\x1f\x8bz"
  tabbed <- r
  tabbed$name[1] <- "a\tb"
  sig <- data.frame(first = "a\nb", second = "c", base = 0, final = 0, flips = 0L, p = 1, q = 1, perms = 1,
                    admissible = 1, hits = 0)
  cases <- list(
    list(quote(pair_search(t$x, t$labels, bound = 1.5)), "bound: '1.5' is not from 0 to 1 (bits)"),
    list(quote(pair_signif(t$x, t$labels, tempfile(), bound = -0.1)), "bound: '-0.1' is not from 0 to 1 (bits)"),
    list(quote(write_ranked(tabbed, tempfile())), "ranked: row 1: probe 'a\\x09b': the name holds a tab or a line break"),
    list(quote(write_signif(sig, tempfile())), "signif: row 1: probe 'a\\x0ab': the name holds a tab or a line break")
  )
  expect_messages(cases, environment())
  err <- tryCatch(probe_rank(gz, t$labels), error = conditionMessage)
  expect_true(grepl("name starts with the bytes of a gzip header (1f 8b)", err, fixed = TRUE, useBytes = TRUE))
  expect_message(probe_rank(t$x[0, , drop = FALSE], t$labels), "probe_rank: x has no probe rows: the list is empty")
  expect_message(pair_search(t$x, t$labels, start = 3, end = 1), "start 3 is above end 1: the range is empty")
})
