# The package's functions: inputs turned into one numeric matrix with probe
# names and a 0/1 label per sample, handed to the C++ entry points in
# src/r_glue.cpp, which run the programs' own routines, readers and writers.
# Defaults and checks of the programs' options live in C++ only: an argument
# left NULL takes the programs' default. The help pages are written by hand
# in man/.

#' @useDynLib synergy, .registration = TRUE
#' @importFrom Rcpp evalCpp
NULL

syn_stop <- function(...) stop(sprintf(...), call. = FALSE)

# The values of x as a numeric matrix, with its phenotype table and row table.
syn_values <- function(x, assay, fun) {
    if (is.matrix(x)) {
        if (!is.null(assay)) syn_stop("assay: only for a SummarizedExperiment")
        return(list(vals = x, pheno = NULL, rows = NULL))
    }
    if (methods::is(x, "ExpressionSet")) {
        if (!is.null(assay)) syn_stop("assay: only for a SummarizedExperiment")
        return(list(vals = Biobase::exprs(x), pheno = Biobase::pData(x),
                    rows = Biobase::fData(x)))
    }
    if (!methods::is(x, "SummarizedExperiment"))
        syn_stop(paste("x: expected a numeric matrix (probes in rows, samples in",
                       "columns), an ExpressionSet or a SummarizedExperiment"))
    SE <- "SummarizedExperiment"
    nms <- getExportedValue(SE, "assayNames")(x)
    n <- length(getExportedValue(SE, "assays")(x))
    if (n == 0) syn_stop("x: the SummarizedExperiment has no assay")
    shown <- function(k) {
        if (length(nms) >= k && nzchar(nms[k])) sprintf("'%s'", nms[k])
        else sprintf("number %d", k)
    }
    if (is.null(assay)) {
        assay <- 1L
        if (n > 1)
            message(sprintf("%s: using the first assay, %s, of %d (assay = ",
                            fun, shown(1), n), "to choose)")
    } else if (is.character(assay) && length(assay) == 1 && !is.na(assay)) {
        if (!assay %in% nms)
            syn_stop("assay: no assay '%s'; the object has %s", assay,
                     paste(sprintf("'%s'", nms), collapse = ", "))
    } else if (!is.numeric(assay) || length(assay) != 1 || is.na(assay) ||
               assay != round(assay) || assay < 1 || assay > n) {
        syn_stop("assay: expected an assay name or a number from 1 to %d", n)
    }
    list(vals = as.matrix(getExportedValue(SE, "assay")(x, assay)),
         pheno = getExportedValue(SE, "colData")(x),
         rows = getExportedValue(SE, "rowData")(x))
}

# Matrix, probe names, 0/1 labels, sample names, class names and gene
# symbols of an input; fun names the calling function in messages.
syn_input <- function(x, labels, case = NULL, control = NULL, assay = NULL,
                      symbols = NULL, fun = "synergy") {
    v <- syn_values(x, assay, fun)
    vals <- v$vals
    if (!is.numeric(vals)) syn_stop("x: the values are not numbers")
    if (is.null(rownames(vals)) && nrow(vals) > 0)
        syn_stop("x: the rows have no names (probe names)")
    storage.mode(vals) <- "double"
    lab <- syn_labels(labels, case, control, v$pheno, ncol(vals))
    list(x = vals, names = as.character(rownames(vals)), labels = lab$labels,
         classes = lab$classes, samples = colnames(vals),
         symbols = syn_symbols(symbols, v$rows, nrow(vals)))
}

# A 0/1 integer label per sample, and the names of the two classes: a 0/1
# (or logical) vector; a factor or character vector with the case value (and
# optionally the control value); a phenotype column name with the case value;
# or the older c(column, case value).
syn_labels <- function(labels, case, control, pheno, n) {
    if (is.character(labels) && length(labels) == 2 && is.null(case) &&
        !is.null(pheno) && labels[1] %in% colnames(pheno)) {
        case <- labels[2]
        labels <- labels[1]
    }
    column <- NULL
    if (is.character(labels) && length(labels) == 1 && n != 1) {
        if (is.null(pheno))
            syn_stop(paste("labels: a phenotype column needs an ExpressionSet or a",
                           "SummarizedExperiment; give the labels themselves for a matrix"))
        if (is.na(labels) || !labels %in% colnames(pheno))
            syn_stop("labels: no phenotype column '%s'", labels)
        column <- labels
        labels <- pheno[[labels]]
    }
    if (is.factor(labels) || is.character(labels)) {
        what <- if (is.null(column)) "labels" else sprintf("phenotype '%s'", column)
        if (length(labels) != n) syn_stop("labels: %d labels for %d samples", length(labels), n)
        if (is.null(case))
            syn_stop("case: give the value of the case samples (%s has %s)", what,
                     paste(sprintf("'%s'", utils::head(sort(unique(as.character(labels))), 5)),
                           collapse = ", "))
        for (a in list(list("case", case), list("control", control)))
            if (!is.null(a[[2]]) && (!is.character(a[[2]]) || length(a[[2]]) != 1 || is.na(a[[2]])))
                syn_stop("%s: expected one value", a[[1]])
        val <- as.character(labels)
        bad <- which(is.na(val))
        if (length(bad)) syn_stop("labels: %s is NA for sample %d", what, bad[1])
        # a misspelt value would label every sample 0
        if (!case %in% val) syn_stop("case: no sample has %s '%s'", what, case)
        if (!is.null(control)) {
            if (!control %in% val) syn_stop("control: no sample has %s '%s'", what, control)
            bad <- which(val != case & val != control)
            if (length(bad))
                syn_stop("labels: sample %d has %s '%s', neither case nor control (leave such samples out of x)",
                         bad[1], what, val[bad[1]])
        }
        return(list(labels = as.integer(val == case),
                    classes = c(if (is.null(control)) paste("not", case) else control, case)))
    }
    if (!is.null(case) || !is.null(control))
        syn_stop("case: only with labels as a factor, characters or a phenotype column")
    if (!(is.numeric(labels) || is.logical(labels)) || is.object(labels))
        syn_stop(paste("labels: expected 0/1 labels, a factor or character vector with case =,",
                       "or a phenotype column name with case ="))
    if (length(labels) != n) syn_stop("labels: %d labels for %d samples", length(labels), n)
    bad <- which(is.na(labels) | !(labels %in% c(0, 1)))
    if (length(bad))
        syn_stop("labels: label of column %d is %s, expected 0 or 1", bad[1], format(labels[bad[1]]))
    list(labels = as.integer(labels), classes = NULL)
}

# Gene symbols, one per probe row (NA: none), or NULL: a column of the row
# table, or the symbols themselves.
syn_symbols <- function(symbols, rows, n) {
    if (is.null(symbols)) return(NULL)
    if (is.character(symbols) && length(symbols) == 1 && n != 1) {
        if (is.null(rows) || !symbols %in% colnames(rows))
            syn_stop("symbols: no row data column '%s'", symbols)
        symbols <- rows[[symbols]]
    }
    if (is.factor(symbols)) symbols <- as.character(symbols)
    if (!is.character(symbols) || length(symbols) != n)
        syn_stop("symbols: expected a row data column name or one symbol per probe row")
    symbols
}

# The symbols of the named probes, as columns beside them.
syn_add_symbols <- function(d, inp, cols) {
    if (is.null(inp$symbols)) return(d)
    for (cl in cols)
        d[[paste0(cl, "_symbol")]] <- inp$symbols[match(d[[cl]], inp$names)]
    d
}

syn_pos <- function(v, what) {
    if (!is.numeric(v) || length(v) != 1 || is.na(v) || v != round(v) || abs(v) > .Machine$integer.max)
        syn_stop("%s: '%s' is not a whole number", what, format(v))
    as.integer(v)
}

# One number, or NA for the programs' default.
syn_num <- function(v, what) {
    if (is.null(v)) return(NA_real_)
    if (!is.numeric(v) || length(v) != 1 || is.na(v)) syn_stop("%s: expected one number", what)
    as.double(v)
}

# The programs' progress display (on a terminal only) unless options(synergy.quiet = TRUE).
syn_quiet <- function() isTRUE(getOption("synergy.quiet", FALSE))

# The programs' note when the values do not look like log-scale expression.
# (suppressWarnings() silences it, where the programs take -q)
syn_scale <- function(r) {
    for (m in r$scale[nzchar(r$scale)])
        warning(sub(" [(]-q silences this note[)]", "", m), call. = FALSE)
}

syn_need <- function(d, cols, what) {
    if (!is.data.frame(d)) syn_stop("%s: expected a data.frame", what)
    miss <- setdiff(cols, names(d))
    if (length(miss)) syn_stop("%s: no column '%s'", what, miss[1])
}

probe_rank <- function(x, labels, case = NULL, control = NULL, assay = NULL,
                       symbols = NULL, threads = 1) {
    inp <- syn_input(x, labels, case, control, assay, symbols, "probe_rank")
    r <- syn_rank(inp$x, inp$names, inp$labels, syn_num(threads, "threads"), syn_quiet())
    syn_scale(r)
    if (length(inp$names) == 0) message("probe_rank: x has no probe rows: the list is empty")
    r$scale <- NULL
    d <- data.frame(r, stringsAsFactors = FALSE)
    if (!is.null(inp$symbols)) d$symbol <- inp$symbols[d$probe]
    d
}

# A ranked list for the programs' reader: a file name as it is, else the
# data.frame (ranked as probe_rank ranks when NULL) written to a scratch file
# that the caller removes.
syn_ranked_file <- function(ranked, inp, nt) {
    if (is.null(ranked)) {
        ranked <- syn_rank(inp$x, inp$names, inp$labels, nt, TRUE)
        ranked$scale <- NULL
        ranked <- data.frame(ranked)
    }
    if (is.data.frame(ranked)) {
        syn_need(ranked, setdiff(syn_columns()$ranked, "clusters"), "ranked")
        if (is.null(ranked$clusters)) ranked$clusters <- 0L
    }
    syn_file(ranked, "ranked", write_ranked)
}

pair_search <- function(x, labels, case = NULL, control = NULL, assay = NULL,
                        ranked = NULL, start = 1, end = NULL, bound = NULL,
                        distinct = TRUE, symbols = NULL, threads = 1) {
    inp <- syn_input(x, labels, case, control, assay, symbols, "pair_search")
    nt <- syn_num(threads, "threads")
    start <- syn_pos(start, "start")
    end <- if (is.null(end)) NA_integer_ else syn_pos(end, "end")
    rk <- syn_ranked_file(ranked, inp, nt)
    if (rk$path != rk$name) on.exit(unlink(rk$path), add = TRUE)
    rec <- tempfile("records")
    on.exit(unlink(rec), add = TRUE)
    r <- syn_search(inp$x, inp$names, inp$labels, rk$path, rk$name, syn_num(bound, "bound"),
                    start, end, nt, syn_quiet(), rec)
    syn_scale(r)
    if (length(inp$names) == 0) {
        message("pair_search: no candidates: x has no probe rows")
    } else if (r$candidates == 0) {
        message(sprintf("pair_search: no probe scores above the bound %g: no pairs to search", r$bound))
    } else if (!is.na(end) && start > end) {
        message(sprintf("pair_search: start %d is above end %d: the range is empty, no pair searched",
                        start, end))
    }
    rec_all <- list(first = r$first, second = r$second, synergy = r$synergy, flips = r$flips,
                    pair = r$pair, part = r$part, labels = r$labels, clusters = r$clusters,
                    samples = if (is.null(inp$samples)) character() else inp$samples)
    keep <- if (isTRUE(distinct)) which(r$pair == seq_along(r$pair)) else seq_along(r$pair)
    out <- data.frame(first = r$first[keep], second = r$second[keep],
                      synergy = r$synergy[keep], flips = r$flips[keep],
                      stringsAsFactors = FALSE)
    out <- syn_add_symbols(out, inp, c("first", "second"))
    # the row names are the records' numbers in the search: they tie a row to
    # its labels and clusters, kept out of the table
    attr(out, "row.names") <- keep
    attr(out, "records") <- rec_all
    class(out) <- c("synergy_records", "data.frame")
    out
}

`[.synergy_records` <- function(x, ...) {
    r <- NextMethod()
    if (is.data.frame(r)) {
        attr(r, "records") <- attr(x, "records")
        class(r) <- class(x)
    }
    r
}

# The numbers of the records behind the rows of a pair_search result.
syn_rec_index <- function(p, what = "records") {
    rec <- attr(p, "records")
    if (!is.data.frame(p) || is.null(rec)) syn_stop("%s: expected what pair_search returns", what)
    k <- suppressWarnings(as.integer(attr(p, "row.names")))
    if (anyNA(k) || any(k < 1 | k > length(rec$first)) ||
        (!is.null(p$first) && !identical(as.character(p$first), rec$first[k])) ||
        (!is.null(p$second) && !identical(as.character(p$second), rec$second[k])))
        syn_stop("%s: the rows no longer match their records (were the row names changed?)", what)
    k
}

syn_matrix <- function(p, part) {
    k <- syn_rec_index(p)
    rec <- attr(p, "records")
    m <- rec[[part]]
    out <- t(matrix(as.integer(m[, rec$part[k], drop = FALSE]), nrow(m)))
    dimnames(out) <- list(rownames(p), if (length(rec$samples)) rec$samples else NULL)
    out
}

pair_labels <- function(p) syn_matrix(p, "labels")

pair_clusters <- function(p) syn_matrix(p, "clusters")

print.synergy_records <- function(x, ...) {
    d <- x
    attr(d, "records") <- NULL
    class(d) <- "data.frame"
    print(d, ...)
    rec <- attr(x, "records")
    cat(sprintf("%d rows of %d records over %d samples; final labels by pair_labels(), joint clusters by pair_clusters()\n",
                nrow(x), length(rec$first), nrow(rec$labels)))
    invisible(x)
}

write_ranked <- function(ranked, file) {
    syn_need(ranked, syn_columns()$ranked, "ranked")
    syn_write_ranked(as.character(ranked$name), as.integer(ranked$probe), as.double(ranked$score),
                     as.integer(ranked$clusters), path.expand(file))
    invisible(file)
}

write_records <- function(records, file, append = FALSE) {
    k <- syn_rec_index(records)
    rec <- attr(records, "records")
    # every record of the rows' pairs, mirrors included, in search order
    k <- which(rec$pair %in% rec$pair[k])
    syn_write_records(rec$first, rec$second, rec$synergy, rec$part, rec$labels, rec$clusters, k,
                      path.expand(file), isTRUE(append))
    invisible(file)
}

read_expr <- function(file) {
    r <- syn_read(path.expand(file))
    x <- r$x
    rownames(x) <- r$names
    if (!is.null(r$samples)) colnames(x) <- r$samples
    list(x = x, labels = r$labels)
}

write_expr <- function(x, labels, file, case = NULL, control = NULL, assay = NULL) {
    inp <- syn_input(x, labels, case, control, assay, NULL, "write_expr")
    syn_write_expr(inp$x, inp$names, inp$labels, syn_sample_names(inp$samples, ncol(inp$x)),
                   path.expand(file))
    invisible(file)
}

syn_sample_names <- function(s, n) if (is.null(s)) sprintf("sample%d", seq_len(n)) else as.character(s)

# A whole number as the programs' options take it: digits (a string keeps
# seeds above 2^53 exact); NULL: the program's default; C++ applies the rule.
syn_whole <- function(v, what) {
    if (is.null(v)) return("")
    if (is.character(v) && length(v) == 1 && !is.na(v)) return(v)
    if (!is.numeric(v) || length(v) != 1 || is.na(v) || v != round(v) || v < 0 || v > 2^53)
        syn_stop("%s: '%s' is not a whole number from 0 to 18446744073709551615", what, format(v))
    sprintf("%.0f", v)
}

# An R object written to a scratch file for the programs' readers, or a path
# given as is; name: how messages call it.
syn_file <- function(v, what, writer) {
    if (is.character(v) && length(v) == 1 && !is.na(v)) return(list(path = path.expand(v), name = path.expand(v)))
    if (!is.data.frame(v)) syn_stop("%s: expected a data.frame or a file name", what)
    f <- tempfile(what)
    writer(v, f)
    list(path = f, name = what)
}

# Search-null lines: seed, candidates, best base, best final (NA for both
# when that search found no pair), written as pair_signif --null-line prints them.
syn_write_null <- function(d, f) {
    syn_need(d, syn_columns()$search_null, "search_null")
    syn_write_null_lines(syn_whole_text(d$seed), as.integer(d$candidates),
                         as.double(d$best_base), as.double(d$best_final), f)
}

syn_whole_text <- function(v) if (is.numeric(v)) sprintf("%.0f", v) else as.character(v)

# A records argument as a file for the programs' readers; a scratch file is
# streamed record by record.
syn_records_file <- function(records) {
    if (is.character(records) && length(records) == 1 && !is.na(records))
        return(list(path = path.expand(records), name = path.expand(records)))
    f <- tempfile("records")
    write_records(records, f, append = TRUE)
    list(path = f, name = "records")
}

pair_signif <- function(x, labels, records, case = NULL, control = NULL, assay = NULL,
                        ranked = NULL, perm = NULL, seed = NULL, hits = NULL, tail = NULL,
                        particles = NULL, bound = NULL, search_null = NULL, symbols = NULL,
                        threads = 1) {
    call <- paste(deparse(match.call(), width.cutoff = 500L), collapse = " ")
    inp <- syn_input(x, labels, case, control, assay, symbols, "pair_signif")
    nt <- syn_num(threads, "threads")
    if (!is.null(tail) && (!is.character(tail) || length(tail) != 1 || is.na(tail)))
        syn_stop("tail: must be \"split\" or \"none\"")
    scratch <- character()
    on.exit(unlink(scratch), add = TRUE)
    rec <- syn_records_file(records)
    if (rec$path != rec$name) scratch <- c(scratch, rec$path)
    rk <- syn_ranked_file(ranked, inp, nt)
    if (rk$path != rk$name) scratch <- c(scratch, rk$path)
    nl <- list(path = "", name = "")
    if (!is.null(search_null)) {
        nl <- syn_file(search_null, "search_null", syn_write_null)
        if (nl$path != nl$name) scratch <- c(scratch, nl$path)
    }
    r <- syn_signif(inp$x, inp$names, inp$labels, rec$path, rec$name, rk$path, rk$name, nl$path, nl$name,
                    syn_whole(perm, "perm"), syn_whole(seed, "seed"), syn_num(hits, "hits"),
                    if (is.null(tail)) "" else tail, syn_num(particles, "particles"),
                    syn_num(bound, "bound"), nt, syn_quiet())
    syn_scale(r)
    r$scale <- NULL
    if (length(r$first) == 0) message(sprintf("pair_signif: %s holds no pair record: the table is empty", rec$name))
    out <- syn_add_symbols(data.frame(r, stringsAsFactors = FALSE), inp, c("first", "second"))
    # for write_signif's provenance lines: how the table was made
    attr(out, "prov") <- c(syn_made_by("pair_signif"), call, attr(r, "prov"))
    out
}

syn_made_by <- function(fun) sprintf("%s (R package synergy %s)", fun, utils::packageVersion("synergy"))

write_signif <- function(signif, file) {
    syn_need(signif, syn_columns()$signif, "signif")
    pv <- attr(signif, "prov")
    if (is.null(pv)) pv <- c(syn_made_by("write_signif"), "")
    ps <- if ("p_search" %in% names(signif)) as.double(signif$p_search) else NULL
    tl <- all(c("p_source", "p_log2err") %in% names(signif))
    syn_write_signif(as.character(signif$first), as.character(signif$second), as.double(signif$base),
                     as.double(signif$final), as.integer(signif$flips), as.double(signif$p),
                     as.double(signif$q), ps, as.double(signif$perms), as.double(signif$admissible),
                     as.double(signif$hits), if (tl) as.character(signif$p_source) else NULL,
                     if (tl) as.double(signif$p_log2err) else NULL, as.character(pv), path.expand(file))
    invisible(file)
}

pair_report <- function(x, labels, records, file, case = NULL, control = NULL, assay = NULL,
                        ranked = NULL, signif = NULL, search_null = NULL, symbols = NULL,
                        top = NULL, q = NULL, bound = NULL, tsv = NULL, edges = NULL) {
    call <- paste(deparse(match.call(), width.cutoff = 500L), collapse = " ")
    inp <- syn_input(x, labels, case, control, assay, symbols, "pair_report")
    # the inputs as the program's files, in a scratch folder whose names the
    # page shows; the sample sheet gives the page the classes' names
    d <- tempfile("report")
    dir.create(d)
    on.exit(unlink(d, recursive = TRUE), add = TRUE)
    out <- vapply(list(file, tsv, edges), function(f)
        if (is.null(f)) "" else file.path(normalizePath(dirname(path.expand(f)), mustWork = FALSE),
                                          basename(f)), "")
    samples <- syn_sample_names(inp$samples, ncol(inp$x))
    classes <- if (is.null(inp$classes) || anyDuplicated(samples) || !all(nzchar(samples)))
        character() else inp$classes
    syn_write_expr(inp$x, inp$names, inp$labels, samples, file.path(d, "x.tsv"),
                   with_labels = length(classes) == 0)
    if (length(classes)) syn_write_sheet(samples, inp$labels, classes, file.path(d, "samples.tsv"))
    # a file given is read where it is; an object is written into d
    place <- function(v, name, writer) {
        if (is.null(v)) return("")
        if (is.character(v) && length(v) == 1 && !is.na(v)) return(normalizePath(v, mustWork = FALSE))
        writer(v, file.path(d, name))
        name
    }
    if (is.null(ranked)) ranked <- suppressWarnings(probe_rank(inp$x, inp$labels))  # the report warns
    f_rank <- place(ranked, "ranked.tsv", function(v, f) {
        syn_need(v, setdiff(syn_columns()$ranked, "clusters"), "ranked")
        if (is.null(v$clusters)) v$clusters <- 0L
        write_ranked(v, f)
    })
    f_rec <- place(records, "records.tsv", function(v, f) write_records(v, f, append = TRUE))
    f_sig <- place(signif, "signif.tsv", write_signif)
    f_nul <- place(search_null, "search_null.tsv", syn_write_null)
    ann <- ""
    if (!is.null(inp$symbols)) {
        ann <- "symbols.tsv"
        syn_write_annot(inp$names, ifelse(is.na(inp$symbols), "", inp$symbols), file.path(d, ann))
    }
    owd <- setwd(d)
    on.exit(setwd(owd), add = TRUE, after = FALSE)
    r <- syn_report("x.tsv", if (length(classes)) "samples.tsv" else "", if (length(classes)) classes[2] else "",
                    f_rank, f_rec, out[1], f_sig, f_nul, ann, out[2], out[3], syn_num(top, "top"),
                    syn_num(q, "q"), syn_num(bound, "bound"), call)
    syn_scale(r)
    for (m in r$notes) message("pair_report: ", m)
    invisible(file)
}
