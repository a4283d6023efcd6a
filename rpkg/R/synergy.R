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
  if (length(inp$names) == 0) message("probe_rank: x has no probe rows: the list is empty")
  data.frame(r, stringsAsFactors = FALSE)
}

# A ranked list for the programs' reader: a file name as it is, else the
# data.frame (ranked as probe_rank ranks when NULL) written to a scratch file
# that the caller removes; name: how messages call it.
syn_ranked_file <- function(ranked, inp, nt) {
  if (is.null(ranked)) ranked <- data.frame(syn_rank(inp$x, inp$names, inp$labels, nt, syn_quiet()))
  if (is.data.frame(ranked)) {
    syn_need(ranked, c("name", "probe", "score"), "ranked")
    if (is.null(ranked$clusters)) ranked$clusters <- 0L
  }
  syn_file(ranked, "ranked", write_ranked)
}

#' Search candidate pairs with the greedy label-flip search
#'
#' @inheritParams probe_rank
#' @param ranked the ranked list of the same table (as probe_rank returns it,
#'   or a ranked list file), read and checked as the program reads RANKED;
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
  rk <- syn_ranked_file(ranked, inp, nt)
  if (rk$path != rk$name) on.exit(unlink(rk$path), add = TRUE)
  rec <- tempfile("records")
  on.exit(unlink(rec), add = TRUE)
  r <- syn_search(inp$x, inp$names, inp$labels, rk$path, rk$name, bound, start, end, nt, syn_quiet(), rec)
  if (length(inp$names) == 0) {
    message("pair_search: no candidates: x has no probe rows")
  } else if (r$candidates == 0) {
    message(sprintf("pair_search: no probe scores above the bound %g: no pairs to search", bound))
  } else if (!is.na(end) && start > end) {
    message(sprintf("pair_search: START %d is above END %d: the range is empty, no pair searched", start, end))
  }
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

# A whole number as the programs' options take it: digits (a string keeps
# seeds above 2^53 exact); the C++ side applies the program's rule.
syn_whole <- function(v, what) {
  if (is.character(v) && length(v) == 1 && !is.na(v)) return(v)
  if (!is.numeric(v) || length(v) != 1 || is.na(v) || v != round(v) || v < 0 || v > 2^53)
    stop(sprintf("%s: '%s' is not a whole number from 0 to 18446744073709551615", what, format(v)), call. = FALSE)
  sprintf("%.0f", v)
}

# An R object written to a scratch file for the programs' readers, or a path
# given as is; name: how messages call it.
syn_file <- function(v, what, writer) {
  if (is.character(v) && length(v) == 1 && !is.na(v)) return(list(path = path.expand(v), name = path.expand(v)))
  if (!is.data.frame(v)) stop(sprintf("%s: expected a data.frame or a file name", what), call. = FALSE)
  f <- tempfile(what)
  writer(v, f)
  list(path = f, name = what)
}

# Search-null lines: seed, candidates, best base, best final (NA for both
# when that search found no pair), read by the program's reader.
syn_write_null <- function(d, f) {
  syn_need(d, c("seed", "candidates", "best_base", "best_final"), "search_null")
  cell <- function(v) ifelse(is.na(v), "NA", if (is.numeric(v)) sprintf("%.17g", v) else as.character(v))
  body <- paste(cell(d$seed), cell(d$candidates), cell(d$best_base), cell(d$best_final), sep = "\t")
  writeLines(c("seed\tcandidates\tbest_base\tbest_final", body), f)
}

#' Permutation significance of the pairs of a search
#'
#' @inheritParams probe_rank
#' @param records what pair_search returns, or a pair record file.
#' @param ranked the ranked list (data.frame or file) the search used, checked
#'   against the table; NULL: the table's own ranking. The records must belong
#'   to it at the bound (both probes candidates, partitions of this table, a
#'   sample of records searched again gives their labels and synergy).
#' @param perm,seed,hits,bound as pair_signif's --perm, --seed, --hits, --bound; perm NULL: the
#'   program's default for the tail mode (1e6 with "split", 1e7 with "none").
#' @param tail,particles as pair_signif's --tail ("split" or "none") and --particles.
#' @param search_null NULL, or the search-null lines (data.frame or file): adds p_search.
#' @return data.frame: first, second, base, final, flips, p, q, [p_search],
#'   perms, admissible, hits, and with tail "split" p_source and p_log2err, in the program's order.
#' @export
pair_signif <- function(x, labels, records, ranked = NULL, perm = NULL, seed = 1, hits = 20, tail = "split",
                        particles = 64, bound = 0.97175, threads = 1, search_null = NULL) {
  inp <- syn_input(x, labels)
  nt <- syn_num(threads, "threads")
  perm <- if (is.null(perm)) "" else syn_whole(perm, "perm")
  seed <- syn_whole(seed, "seed")
  hits <- syn_num(hits, "hits")
  if (!is.character(tail) || length(tail) != 1 || is.na(tail))
    stop("tail: must be \"split\" or \"none\"", call. = FALSE)
  particles <- syn_num(particles, "particles")
  bound <- syn_num(bound, "bound")
  scratch <- character()
  on.exit(unlink(scratch), add = TRUE)
  # a scratch file written here is removed on exit; optional NULL: no file
  file_of <- function(v, what, writer, optional = TRUE) {
    if (optional && is.null(v)) return(list(path = "", name = ""))
    f <- syn_file(v, what, writer)
    if (f$path != f$name) scratch <<- c(scratch, f$path)
    f
  }
  rec <- file_of(records, "records", write_records, optional = FALSE)
  rk <- syn_ranked_file(ranked, inp, nt)
  if (rk$path != rk$name) scratch <- c(scratch, rk$path)
  nl <- file_of(search_null, "search_null", syn_write_null)
  r <- syn_signif(inp$x, inp$names, inp$labels, rec$path, rec$name, rk$path, rk$name, nl$path, nl$name,
                  perm, seed, hits, tail, particles, bound, nt, syn_quiet())
  if (length(r$first) == 0) message(sprintf("pair_signif: %s holds no pair record: the table is empty", rec$name))
  out <- data.frame(r, stringsAsFactors = FALSE)
  out
}

#' Write a significance table as pair_signif writes it
#'
#' @param signif what pair_signif returns (rows may be selected or reordered).
#' @param file path; replaced as a whole, or left as it was on failure.
#' @export
write_signif <- function(signif, file) {
  cols <- c("first", "second", "base", "final", "flips", "p", "q", "perms", "admissible", "hits")
  syn_need(signif, cols, "signif")
  ps <- if ("p_search" %in% names(signif)) as.double(signif$p_search) else NULL
  tl <- all(c("p_source", "p_log2err") %in% names(signif))
  syn_write_signif(as.character(signif$first), as.character(signif$second), as.double(signif$base),
                   as.double(signif$final), as.integer(signif$flips), as.double(signif$p), as.double(signif$q), ps,
                   as.double(signif$perms), as.double(signif$admissible), as.double(signif$hits),
                   if (tl) as.character(signif$p_source) else NULL, if (tl) as.double(signif$p_log2err) else NULL,
                   path.expand(file))
  invisible(file)
}
