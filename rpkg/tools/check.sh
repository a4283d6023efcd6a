#!/usr/bin/env bash
# Build, install, test and check the R package from the repository's sources:
#   rpkg/tools/check.sh REPOSITORY WORK_DIR PROBE_RANK PAIR_SEARCH PAIR_SIGNIF [PAIR_REPORT]
# R CMD build copies the C++ sources into the tarball (src/ links to their
# folders); the tarball must then install on its own, with no repository
# around it, into a scratch library. R CMD check --as-cran runs the tests
# against the programs' files and must give no ERROR and no WARNING, and no
# NOTE but the installed size; BiocCheck (where installed, without its network
# checks) no ERROR and no WARNING. Exit 77 (skipped) when R or a package the
# build and tests need is missing; 1 on a failure.
set -euo pipefail
repo=$(cd "$1" && pwd)
work=$2
export SYN_PROBE_RANK=$3 SYN_PAIR_SEARCH=$4 SYN_PAIR_SIGNIF=$5 SYN_PAIR_REPORT=${6:-}
export SYN_EXAMPLE=$repo/examples/all_bcr_abl_500.tsv

if ! command -v R >/dev/null || ! command -v Rscript >/dev/null; then
  echo "R not installed (Debian: r-base-dev): skipped"
  exit 77
fi
have() { Rscript -e "quit(status = !requireNamespace('$1', quietly = TRUE))" >/dev/null 2>&1; }
for pkg in Rcpp testthat; do
  if ! have "$pkg"; then
    echo "R package $pkg not installed (see .ci/packages-test): skipped"
    exit 77
  fi
done
vig=--no-build-vignettes
if have knitr && have rmarkdown && have BiocStyle && have ALL && have Biobase && command -v pandoc >/dev/null; then
  vig=""
fi

rm -rf "$work"
mkdir -p "$work/lib" "$work/alone"
cd "$work"
echo "== R CMD build $vig"
R CMD build $vig "$repo/rpkg"
tarball=$(ls synergy_*.tar.gz)

echo "== the tarball on its own"
tar -xzf "$tarball" -C alone
for f in synergy_core/synergy.h io/io.h pair_search/search.h; do
  [ -f "alone/synergy/src/$f" ] || { echo "the tarball lacks src/$f"; exit 1; }
done
if find alone/synergy -type l | grep -q .; then
  echo "the tarball holds symbolic links"
  exit 1
fi
(cd alone && R CMD INSTALL -l "$work/lib" synergy)
R_LIBS="$work/lib" R_LIBS_USER=/nonexistent Rscript --vanilla -e "
library(synergy, lib.loc = '$work/lib')
x <- matrix(c(1, 1.01, 2, 2.01, 1, 1.5, 2, 2.5), 2, byrow = TRUE, dimnames = list(c('a', 'b'), NULL))
r <- probe_rank(x, c(0, 0, 1, 1))
stopifnot(identical(r\$name[1], 'a'), identical(r\$probe, c(1L, 2L)))
cat('installed from the tarball alone:', format(packageVersion('synergy')), '\n')"

echo "== R CMD check --as-cran --no-manual"
# offline: no incoming checks against the repositories, the system's clock
# for the file times; suggested packages that are missing only skip what
# uses them
export _R_CHECK_CRAN_INCOMING_=false _R_CHECK_CRAN_INCOMING_REMOTE_=false _R_CHECK_FORCE_SUGGESTS_=false
export _R_CHECK_SYSTEM_CLOCK_=false
R CMD check --as-cran --no-manual $( [ -n "$vig" ] && echo --no-build-vignettes --ignore-vignettes ) "$tarball" || {
  cat synergy.Rcheck/00check.log
  [ -f synergy.Rcheck/tests/testthat.Rout.fail ] && cat synergy.Rcheck/tests/testthat.Rout.fail
  exit 1
}
grep -h "^\[ FAIL\|SKIP\|^• " synergy.Rcheck/tests/testthat.Rout || true
status=$(grep '^Status:' synergy.Rcheck/00check.log || true)
echo "$status"
case $status in
  *ERROR*) exit 1 ;;
esac
warns=$(grep -A1 'WARNING$' synergy.Rcheck/00check.log | grep -v -e '^--$' -e 'WARNING$' || true)
# the tools of two checks (Debian: devscripts, qpdf): without them their
# warnings are not the package's
if ! command -v qpdf >/dev/null; then
  warns=$(echo "$warns" | grep -v "qpdf. is needed" || true)
fi
if ! command -v checkbashisms >/dev/null; then
  warns=$(echo "$warns" | grep -v "needs the .checkbashisms. script" || true)
fi
if [ -n "$warns" ]; then
  echo "WARNINGs:"
  echo "$warns"
  exit 1
fi
# a NOTE other than the installed size fails
notes=$(grep '\.\.\. NOTE$' synergy.Rcheck/00check.log | grep -v 'installed package size' || true)
if [ -n "$notes" ]; then
  echo "NOTEs besides the installed size:"
  echo "$notes"
  cat synergy.Rcheck/00check.log
  exit 1
fi

if have BiocCheck; then
  echo "== BiocCheck (no network checks)"
  Rscript -e "r <- BiocCheck::BiocCheck('$tarball', \`no-check-CRAN\` = TRUE, \`no-check-bioc-help\` = TRUE,
    \`no-check-remotes\` = TRUE, \`no-check-dependencies\` = TRUE, \`no-check-deprecated\` = TRUE,
    \`no-check-version-num\` = TRUE, \`no-check-R-ver\` = TRUE, \`no-check-bbs\` = TRUE,
    \`no-check-pkg-size\` = TRUE, \`quit-with-status\` = FALSE)
  n <- c(error = length(r\$error), warning = length(r\$warning))
  cat('BiocCheck:', n[['error']], 'ERRORs,', n[['warning']], 'WARNINGs,', length(r\$note), 'NOTEs\\n')
  quit(status = sum(n) > 0)"
fi
exit 0
