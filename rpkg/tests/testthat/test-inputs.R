# A matrix, an ExpressionSet and a SummarizedExperiment of one table, with the
# labels as a vector or as a phenotype column and level, give the same results.

test_that("every input kind gives the matrix's ranking and records", {
  t <- gen_table(4, 30, 20)
  ref_r <- probe_rank(t$x, t$labels)
  ref_p <- pair_search(t$x, t$labels)
  expect_gt(nrow(ref_p), 0)
  pd <- data.frame(group = ifelse(t$labels == 1, "case", "ctrl"), row.names = colnames(t$x))
  nocol <- t$x
  colnames(nocol) <- NULL
  inputs <- list("logical labels" = list(t$x, t$labels == 1), "no column names" = list(nocol, t$labels))
  if (requireNamespace("Biobase", quietly = TRUE)) {
    es <- Biobase::ExpressionSet(t$x, phenoData = Biobase::AnnotatedDataFrame(pd))
    inputs[["ExpressionSet, vector"]] <- list(es, t$labels)
    inputs[["ExpressionSet, column"]] <- list(es, c("group", "case"))
  }
  if (requireNamespace("SummarizedExperiment", quietly = TRUE)) {
    se <- SummarizedExperiment::SummarizedExperiment(assays = list(e = t$x), colData = pd)
    inputs[["SummarizedExperiment, vector"]] <- list(se, t$labels)
    inputs[["SummarizedExperiment, column"]] <- list(se, c("group", "case"))
  }
  for (nm in names(inputs)) {
    a <- inputs[[nm]]
    expect_identical(probe_rank(a[[1]], a[[2]]), ref_r, label = nm)
    got <- pair_search(a[[1]], a[[2]], threads = 2)
    expect_identical(unclass(got)[1:4], unclass(ref_p)[1:4], label = nm)
    expect_identical(unname(got$labels), unname(ref_p$labels), label = nm)
    expect_identical(unname(got$clusters), unname(ref_p$clusters), label = nm)
  }
  # an integer matrix holds the same numbers
  ix <- round(t$x * 100)
  storage.mode(ix) <- "integer"
  expect_identical(probe_rank(ix, t$labels), probe_rank(ix + 0, t$labels))
})

test_that("the bound picks the candidates by the score as written", {
  t <- gen_table(4, 30, 20)
  r <- probe_rank(t$x, t$labels)
  w <- as.numeric(sprintf("%g", r$score))
  b <- w[5]
  k <- match(FALSE, w > b) - 1
  expect_gt(k, 1)
  expect_identical(pair_search(t$x, t$labels, r, bound = b), pair_search(t$x, t$labels, r[seq_len(k), ], bound = 0))
  expect_message(none <- pair_search(t$x, t$labels, r, bound = 1), "no probe scores above the bound 1")
  expect_identical(dim(none$labels), c(0L, 20L))
  f <- tempfile()
  write_records(none, f)
  expect_identical(file.size(f), 0)
  unlink(f)
})
