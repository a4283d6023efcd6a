# Memory of the whole ALL chain in R, from the ExpressionSet to the page:
# the B-cell samples with BCR/ABL or NEG, every probe, ranked, searched,
# tested and reported, with the files written. Run under GNU time and read
# its "Maximum resident set size":
#   /usr/bin/time -v Rscript rpkg/bench/all_chain.R OUT_DIR [PERM] [THREADS]
# (the package and the ALL data package installed; PERM: shufflings per pair,
# default 1000, with the tail off so that the run stays short)
args <- commandArgs(trailingOnly = TRUE)
if (length(args) < 1) stop("usage: Rscript all_chain.R OUT_DIR [PERM] [THREADS]")
out <- args[1]
perm <- if (length(args) >= 2) as.numeric(args[2]) else 1000
thr <- if (length(args) >= 3) as.numeric(args[3]) else 2
dir.create(out, showWarnings = FALSE, recursive = TRUE)
suppressPackageStartupMessages({
    library(synergy)
    library(Biobase)
    library(ALL)
})
options(synergy.quiet = TRUE)
data(ALL)
e <- ALL[, startsWith(as.character(ALL$BT), "B") & ALL$mol.biol %in% c("BCR/ABL", "NEG")]
rm(ALL)
# the R heap now, and the process's peak so far (Linux: VmHWM)
mem <- function(what) {
    g <- gc()
    st <- if (file.exists("/proc/self/status")) readLines("/proc/self/status") else character()
    hwm <- gsub("[^0-9]", "", grep("^VmHWM", st, value = TRUE))
    cat(sprintf("%-28s R heap %6.1f MB, peak so far %s MB\n", what, sum(g[, 2]),
                if (length(hwm)) format(round(as.numeric(hwm) / 1024)) else "?"))
}
t0 <- proc.time()[["elapsed"]]
lap <- function(what) cat(sprintf("%-28s %7.1f s\n", what, proc.time()[["elapsed"]] - t0))
r <- probe_rank(e, "mol.biol", case = "BCR/ABL", threads = thr)
write_ranked(r, file.path(out, "ranked.tsv"))
lap("probe_rank")
mem("after probe_rank")
p <- pair_search(e, "mol.biol", case = "BCR/ABL", ranked = r, threads = thr)
lap("pair_search")
mem("after pair_search")
cat(sprintf("%d pairs, %d records; records object %.1f MB\n", nrow(p), length(attr(p, "records")$first),
            as.numeric(object.size(p)) / 2^20))
write_records(p, file.path(out, "records.tsv"))
lap("write_records")
mem("after write_records")
s <- pair_signif(e, "mol.biol", case = "BCR/ABL", records = p, ranked = r, perm = perm, tail = "none",
                 threads = thr)
write_signif(s, file.path(out, "signif.tsv"))
lap("pair_signif")
mem("after pair_signif")
pair_report(e, "mol.biol", case = "BCR/ABL", control = "NEG", records = p, ranked = r, signif = s,
            file = file.path(out, "page.html"))
lap("pair_report")
mem("end")
