# The table and the page's export written from R objects against the
# programs' files; the walk of the vignette (the ALL ExpressionSet to pairs)
# against the programs run on the bundled example, which is that table's
# first 500 probes.

prog_report <- Sys.getenv("SYN_PAIR_REPORT")

test_that("write_expr writes the table the programs read, and pair_report the program's export", {
  skip_without_programs()
  skip_if(!file.exists(example_table), "SYN_EXAMPLE is not set")
  skip_if(!nzchar(prog_report) || !file.exists(prog_report), "SYN_PAIR_REPORT is not set")
  d <- scratch_dir()
  t <- read_expr(example_table)
  write_expr(t$x, t$labels, file.path(d, "x.tsv"))
  expect_true(same_bytes(file.path(d, "x.tsv"), example_table))
  ranked <- file.path(d, "ranked.tsv")
  rec <- file.path(d, "rec.tsv")
  run_prog(prog_rank, c("-q", example_table, ranked))
  n <- as.integer(run_prog(prog_search, c("--count-candidates", ranked))$text)
  run_prog(prog_search, c("-q", example_table, ranked, 0, n, rec))
  expect_equal(run_prog(prog_report, c("-q", "--top", 5, "--tsv", file.path(d, "prog.tsv"), example_table, ranked,
                                       rec, file.path(d, "prog.html")))$status, 0)
  cls <- factor(ifelse(t$labels == 1, "BCR/ABL", "NEG"))
  p <- pair_search(t$x, cls, case = "BCR/ABL")
  pair_report(t$x, cls, p, file.path(d, "r.html"), case = "BCR/ABL", control = "NEG", top = 5,
              tsv = file.path(d, "r.tsv"))
  expect_identical(body_lines(file.path(d, "r.tsv")), body_lines(file.path(d, "prog.tsv")))
  page <- readLines(file.path(d, "r.html"))
  expect_true(any(grepl("BCR/ABL", page, fixed = TRUE)) && any(grepl("NEG", page, fixed = TRUE)))
  expect_true(any(grepl("pair_report(x = t$x", page, fixed = TRUE)))
  expect_error(pair_report(t$x, cls, p, file.path(d, "r2.html"), case = "BCR/ABL", top = 0),
               "top: must be a whole number from 1 to 1000", fixed = TRUE)
  expect_false(file.exists(file.path(d, "r2.html")))
})

test_that("the vignette's walk from the ALL ExpressionSet gives the programs' files", {
  skip_without_programs()
  skip_if(!file.exists(example_table), "SYN_EXAMPLE is not set")
  skip_if_not_installed("ALL")
  skip_if_not_installed("Biobase")
  d <- scratch_dir()
  env <- new.env()
  utils::data("ALL", package = "ALL", envir = env)
  all <- env$ALL
  e <- all[1:500, startsWith(as.character(all$BT), "B") & all$mol.biol %in% c("BCR/ABL", "NEG")]
  r <- probe_rank(e, "mol.biol", case = "BCR/ABL")
  p <- pair_search(e, "mol.biol", case = "BCR/ABL", ranked = r, threads = 2)
  write_ranked(r, file.path(d, "r_ranked.tsv"))
  write_records(p, file.path(d, "r_rec.tsv"))
  ranked <- file.path(d, "ranked.tsv")
  rec <- file.path(d, "rec.tsv")
  run_prog(prog_rank, c("-q", example_table, ranked))
  n <- as.integer(run_prog(prog_search, c("--count-candidates", ranked))$text)
  run_prog(prog_search, c("-q", example_table, ranked, 0, n, rec))
  expect_true(same_bytes(file.path(d, "r_ranked.tsv"), ranked))
  expect_true(same_bytes(file.path(d, "r_rec.tsv"), rec))
})
