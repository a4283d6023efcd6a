# The package's functions: inputs turned into one numeric matrix with probe
# names and a 0/1 label per sample, handed to the C++ entry points in
# src/r_glue.cpp, which run the programs' own routines. The help pages are
# written by hand in man/; the #' comments here only summarise them.

#' @useDynLib synergy, .registration = TRUE
#' @importFrom Rcpp evalCpp
NULL

# Matrix, probe names, labels and sample names of an input.
syn_input <- function(x, labels) {
  pheno <- NULL
  if (is.matrix(x)) {
    vals <- x
  } else if (methods::is(x, "ExpressionSet")) {
    vals <- Biobase::exprs(x)
    pheno <- Biobase::pData(x)
  } else if (methods::is(x, "SummarizedExperiment")) {
    if (length(SummarizedExperiment::assays(x)) == 0) stop("x: the SummarizedExperiment has no assay", call. = FALSE)
    vals <- as.matrix(SummarizedExperiment::assay(x, 1))
    pheno <- SummarizedExperiment::colData(x)
  } else {
    stop("x: expected a numeric matrix (probes in rows, samples in columns), an ExpressionSet or a SummarizedExperiment",
         call. = FALSE)
  }
  if (!is.numeric(vals)) stop("x: the values are not numbers", call. = FALSE)
  if (is.null(rownames(vals)) && nrow(vals) > 0) stop("x: the rows have no names (probe names)", call. = FALSE)
  storage.mode(vals) <- "double"
  list(x = vals, names = as.character(rownames(vals)), labels = syn_labels(labels, pheno, ncol(vals)),
       samples = colnames(vals))
}

# A 0/1 integer label per sample: a 0/1 (or logical) vector, or for an object
# with a phenotype table, a column name and the level that counts as 1.
syn_labels <- function(labels, pheno, n) {
  if (is.character(labels)) {
    if (is.null(pheno))
      stop("labels: a phenotype column and level need an ExpressionSet or a SummarizedExperiment; give a 0/1 vector for a matrix",
           call. = FALSE)
    if (length(labels) != 2 || anyNA(labels))
      stop("labels: expected a 0/1 vector, or a phenotype column name and the level that counts as 1", call. = FALSE)
    if (!labels[1] %in% colnames(pheno)) stop(sprintf("labels: no phenotype column '%s'", labels[1]), call. = FALSE)
    v <- as.character(pheno[[labels[1]]])
    bad <- which(is.na(v))
    if (length(bad)) stop(sprintf("labels: phenotype '%s' is NA in column %d", labels[1], bad[1]), call. = FALSE)
    # a misspelt level would silently label every sample 0
    if (!labels[2] %in% v) stop(sprintf("labels: no sample has phenotype '%s' = '%s'", labels[1], labels[2]), call. = FALSE)
    return(as.integer(v == labels[2]))
  }
  if (!(is.numeric(labels) || is.logical(labels)) || is.object(labels))
    stop("labels: expected a 0/1 vector, or a phenotype column name and the level that counts as 1", call. = FALSE)
  if (length(labels) != n) stop(sprintf("labels: %d labels for %d samples", length(labels), n), call. = FALSE)
  bad <- which(is.na(labels) | !(labels %in% c(0, 1)))
  if (length(bad))
    stop(sprintf("labels: label of column %d is %s, expected 0 or 1", bad[1], format(labels[bad[1]])), call. = FALSE)
  as.integer(labels)
}

# A single whole number, for a candidate position.
syn_pos <- function(v, what) {
  if (!is.numeric(v) || length(v) != 1 || is.na(v) || v != round(v) || abs(v) > .Machine$integer.max)
    stop(sprintf("%s: '%s' is not a whole number", what, format(v)), call. = FALSE)
  as.integer(v)
}

syn_num <- function(v, what) {
  if (!is.numeric(v) || length(v) != 1 || is.na(v)) stop(sprintf("%s: expected one number", what), call. = FALSE)
  as.double(v)
}

# The programs' progress display (on a terminal only) unless options(synergy.quiet = TRUE).
syn_quiet <- function() isTRUE(getOption("synergy.quiet", FALSE))

syn_need <- function(d, cols, what) {
  if (!is.data.frame(d)) stop(sprintf("%s: expected a data.frame", what), call. = FALSE)
  miss <- setdiff(cols, names(d))
  if (length(miss)) stop(sprintf("%s: no column '%s'", what, miss[1]), call. = FALSE)
}

#' Rank probes by their single-probe score
#'
#' @param x numeric matrix (probes in rows, with row names; samples in
#'   columns), ExpressionSet, or SummarizedExperiment (first assay).
#' @param labels 0/1 vector, one per sample; or, for the two object types, the
#'   name of a phenotype column and the level that counts as 1.
#' @param threads worker threads (0: every core); the result does not depend on it.
#' @return data.frame in ranked order: name, probe (0-based row), score, clusters.
#' @export
probe_rank <- function(x, labels, threads = 1) {
  inp <- syn_input(x, labels)
  r <- syn_rank(inp$x, inp$names, inp$labels, syn_num(threads, "threads"), syn_quiet())
  data.frame(r, stringsAsFactors = FALSE)
}

#' Search candidate pairs with the greedy label-flip search
#'
#' @inheritParams probe_rank
#' @param ranked the ranked list of the same table (as probe_rank returns it);
#'   NULL to rank first.
#' @param start,end candidate positions [start, end), 0-based; end NULL: all.
#' @param bound candidate bound: ranked probes scoring above it are candidates.
#' @return data.frame of class synergy_records: first, second, synergy, flips,
#'   and the integer matrices labels and clusters (one row per record).
#' @export
pair_search <- function(x, labels, ranked = NULL, start = 0, end = NULL, threads = 1, bound = 0.97175) {
  inp <- syn_input(x, labels)
  nt <- syn_num(threads, "threads")
  start <- syn_pos(start, "start")
  end <- if (is.null(end)) NA_integer_ else syn_pos(end, "end")
  bound <- syn_num(bound, "bound")
  if (is.null(ranked)) {
    ranked <- syn_rank(inp$x, inp$names, inp$labels, nt, syn_quiet())
  } else {
    syn_need(ranked, c("probe", "score"), "ranked")
  }
  rec <- tempfile("records")
  on.exit(unlink(rec), add = TRUE)
  r <- syn_search(inp$x, inp$names, inp$labels, as.integer(ranked$probe), as.double(ranked$score), bound,
                  start, end, nt, syn_quiet(), rec)
  if (r$candidates == 0) message(sprintf("pair_search: no probe scores above the bound %g: no pairs to search", bound))
  colnames(r$labels) <- colnames(r$clusters) <- inp$samples
  out <- data.frame(first = r$first, second = r$second, synergy = r$synergy, flips = r$flips,
                    stringsAsFactors = FALSE)
  out$labels <- r$labels
  out$clusters <- r$clusters
  class(out) <- c("synergy_records", "data.frame")
  out
}

#' @export
print.synergy_records <- function(x, ...) {
  d <- x[c("first", "second", "synergy", "flips")]
  class(d) <- "data.frame"
  print(d, ...)
  cat(sprintf("%d records over %d samples; final labels in $labels, joint clusters in $clusters\n",
              nrow(x), ncol(x$labels)))
  invisible(x)
}

#' Write a ranked probe list as probe_rank writes it
#'
#' @param ranked data.frame with name, probe, score, clusters.
#' @param file path; replaced as a whole, or left as it was on failure.
#' @export
write_ranked <- function(ranked, file) {
  syn_need(ranked, c("name", "probe", "score", "clusters"), "ranked")
  syn_write_ranked(as.character(ranked$name), as.integer(ranked$probe), as.double(ranked$score),
                   as.integer(ranked$clusters), path.expand(file))
  invisible(file)
}

#' Write pair records as pair_search writes them
#'
#' @param records what pair_search returns (rows may be selected or reordered).
#' @param file path.
#' @param append FALSE: replace the file as a whole; TRUE: append record by
#'   record, as pair_search does.
#' @export
write_records <- function(records, file, append = FALSE) {
  syn_need(records, c("first", "second", "synergy", "labels", "clusters"), "records")
  lab <- records$labels
  cl <- records$clusters
  if (!is.matrix(lab) || !is.matrix(cl) || nrow(lab) != nrow(records) || !identical(dim(lab), dim(cl)))
    stop("records: labels and clusters must be matrices with one row per record", call. = FALSE)
  nm <- c(as.character(records$first), as.character(records$second))
  if (any(grepl("[\t\n\r]", nm))) stop("records: a probe name holds a tab or a line break", call. = FALSE)
  storage.mode(lab) <- storage.mode(cl) <- "integer"
  syn_write_records(as.character(records$first), as.character(records$second), as.double(records$synergy),
                    lab, cl, path.expand(file), isTRUE(append))
  invisible(file)
}

#' Read an expression table file as the programs read it
#'
#' @param file tab-separated table, plain or gzip.
#' @return list: x (matrix, probes in rows) and labels (0/1 integers).
#' @export
read_expr <- function(file) {
  r <- syn_read(path.expand(file))
  x <- r$x
  rownames(x) <- r$names
  if (!is.null(r$samples)) colnames(x) <- r$samples
  list(x = x, labels = r$labels)
}
