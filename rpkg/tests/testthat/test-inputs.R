# A matrix, an ExpressionSet and a SummarizedExperiment of one table, with the
# labels as 0/1, logical, factor, characters or a phenotype column, give the
# same results; assay= picks the assay; a linear assay warns.

test_that("every input kind and label form gives the matrix's ranking and records", {
  t <- gen_table(4, 30, 20)
  ref_r <- probe_rank(t$x, t$labels)
  ref_p <- pair_search(t$x, t$labels)
  expect_gt(nrow(ref_p), 0)
  grp <- ifelse(t$labels == 1, "case", "ctrl")
  pd <- data.frame(group = grp, other = rev(grp), row.names = colnames(t$x))
  nocol <- t$x
  colnames(nocol) <- NULL
  inputs <- list("logical" = list(t$x, t$labels == 1), "no column names" = list(nocol, t$labels),
                 "factor" = list(t$x, factor(grp), case = "case"),
                 "factor, control" = list(t$x, factor(grp, levels = c("ctrl", "case")), case = "case",
                                          control = "ctrl"),
                 "characters" = list(t$x, grp, case = "case"))
  if (requireNamespace("Biobase", quietly = TRUE)) {
    es <- Biobase::ExpressionSet(t$x, phenoData = Biobase::AnnotatedDataFrame(pd))
    inputs[["ExpressionSet, 0/1"]] <- list(es, t$labels)
    inputs[["ExpressionSet, column"]] <- list(es, "group", case = "case")
    inputs[["ExpressionSet, column and level"]] <- list(es, c("group", "case"))
  }
  if (requireNamespace("SummarizedExperiment", quietly = TRUE)) {
    se <- SummarizedExperiment::SummarizedExperiment(assays = list(e = t$x), colData = pd)
    inputs[["SummarizedExperiment, 0/1"]] <- list(se, t$labels)
    inputs[["SummarizedExperiment, column"]] <- list(se, "group", case = "case", control = "ctrl")
  }
  for (nm in names(inputs)) {
    a <- inputs[[nm]]
    expect_identical(do.call(probe_rank, a), ref_r, label = nm)
    got <- do.call(pair_search, c(a, threads = 2))
    expect_identical(as.data.frame(unclass(got)), as.data.frame(unclass(ref_p)), label = nm)
    expect_identical(unname(pair_labels(got)), unname(pair_labels(ref_p)), label = nm)
    expect_identical(unname(pair_clusters(got)), unname(pair_clusters(ref_p)), label = nm)
  }
  # an integer matrix holds the same numbers
  ix <- round(t$x * 100)
  storage.mode(ix) <- "integer"
  expect_identical(probe_rank(ix, t$labels), probe_rank(ix + 0, t$labels))
  # probe indexes the rows of x; symbols follow the probes
  expect_identical(rownames(t$x)[ref_r$probe], ref_r$name)
  sym <- paste0("G", seq_len(nrow(t$x)))
  rs <- probe_rank(t$x, t$labels, symbols = sym)
  expect_identical(rs$symbol, sym[rs$probe])
  ps <- pair_search(t$x, t$labels, symbols = sym)
  expect_identical(ps$second_symbol, sym[match(ps$second, rownames(t$x))])
})

test_that("assay= picks the assay of a SummarizedExperiment; a linear one warns", {
  skip_if_not_installed("SummarizedExperiment")
  t <- gen_table(4, 30, 20)
  lin <- 2^(t$x * 20)
  se <- SummarizedExperiment::SummarizedExperiment(assays = list(counts = lin, log = t$x),
                                                   rowData = data.frame(sym = paste0("G", 1:30)))
  ref <- probe_rank(t$x, t$labels)
  expect_identical(probe_rank(se, t$labels, assay = "log"), ref)
  expect_identical(probe_rank(se, t$labels, assay = 2), ref)
  expect_identical(probe_rank(se, t$labels, assay = "log", symbols = "sym")$symbol, paste0("G", ref$probe))
  expect_message(expect_warning(probe_rank(se, t$labels), "looks like linear intensities or counts"),
                 "probe_rank: using the first assay, 'counts', of 2 (assay = to choose)", fixed = TRUE)
  expect_error(probe_rank(se, t$labels, assay = "lg"), "assay: no assay 'lg'; the object has 'counts', 'log'",
               fixed = TRUE)
  expect_error(probe_rank(se, t$labels, assay = 3), "assay: expected an assay name or a number from 1 to 2",
               fixed = TRUE)
  expect_error(probe_rank(se, t$labels, assay = "log", symbols = "gene"), "symbols: no row data column 'gene'",
               fixed = TRUE)
  expect_silent(probe_rank(se, t$labels, assay = "log"))
})

test_that("the bound picks the candidates by the score as written", {
  t <- gen_table(4, 30, 20)
  r <- probe_rank(t$x, t$labels)
  w <- as.numeric(sprintf("%g", r$score))
  b <- w[5]
  k <- match(FALSE, w > b) - 1
  expect_gt(k, 1)
  expect_identical(pair_search(t$x, t$labels, ranked = r, bound = b),
                   pair_search(t$x, t$labels, ranked = r[seq_len(k), ], bound = 0))
  expect_message(none <- pair_search(t$x, t$labels, ranked = r, bound = 1), "no probe scores above the bound 1")
  expect_identical(dim(pair_labels(none)), c(0L, 20L))
  f <- tempfile()
  write_records(none, f)
  expect_identical(file.size(f), 0)
  unlink(f)
})
