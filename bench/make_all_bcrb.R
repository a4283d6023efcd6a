#!/usr/bin/env Rscript
# Write the whole B-cell ALL table (79 samples: BCR/ABL = 1, NEG = 0; all
# 12625 probes) in the toolkit's input format, from the Bioconductor ALL
# data package (Debian: r-base-core, r-bioc-all).
#   Rscript make_all_bcrb.R OUT.tsv
# The bundled examples/all_bcr_abl_500.tsv is this table's first 500 probes.
out <- commandArgs(trailingOnly = TRUE)[1]
if (is.na(out)) stop("usage: Rscript make_all_bcrb.R OUT.tsv")
suppressPackageStartupMessages(library(ALL))
data(ALL)
bt <- as.character(ALL$BT); mb <- as.character(ALL$mol.biol)
keep <- startsWith(bt, "B") & mb %in% c("BCR/ABL", "NEG")
x <- exprs(ALL)[, keep]
lab <- as.integer(mb[keep] == "BCR/ABL")
con <- file(out, open = "wb"); on.exit(close(con))
writeLines(paste(c("probe", colnames(x)), collapse = "\t"), con, sep = "\n")
writeLines(paste(c("label", lab), collapse = "\t"), con, sep = "\n")
vals <- matrix(sprintf("%.17g", x), nrow = nrow(x))
writeLines(do.call(paste, c(list(rownames(x)), as.data.frame(vals), sep = "\t")), con, sep = "\n")
