#!/usr/bin/env bash
# Build, install, test and check the R package from the repository's sources:
#   rpkg/tools/check.sh REPOSITORY WORK_DIR PROBE_RANK PAIR_SEARCH [PAIR_SIGNIF]
# The package is copied into WORK_DIR and its sources taken there, so the
# repository is left as it is. Exit 77 (skipped) when R or a package the
# build and tests need is missing; 1 on a failure, an R CMD check WARNING or
# ERROR included.
set -euo pipefail
repo=$(cd "$1" && pwd)
work=$2
probe_rank=$3
pair_search=$4
pair_signif=${5:-}

if ! command -v R >/dev/null || ! command -v Rscript >/dev/null; then
  echo "R not installed (Debian: r-base-dev): skipped"
  exit 77
fi
for pkg in Rcpp testthat; do
  if ! Rscript -e "quit(status = !requireNamespace('$pkg', quietly = TRUE))" >/dev/null 2>&1; then
    echo "R package $pkg not installed (see .ci/packages-test): skipped"
    exit 77
  fi
done

rm -rf "$work"
mkdir -p "$work/lib"
cp -R "$repo/rpkg" "$work/synergy"

sh "$work/synergy/tools/sync.sh" "$repo"
cd "$work"
export SYN_PROBE_RANK=$probe_rank SYN_PAIR_SEARCH=$pair_search SYN_PAIR_SIGNIF=$pair_signif SYN_EXAMPLE=$repo/examples/all_bcr_abl_500.tsv

echo "== R CMD build"
R CMD build --no-build-vignettes synergy
tarball=$(ls synergy_*.tar.gz)
echo "== R CMD INSTALL"
R CMD INSTALL -l "$work/lib" "$tarball"
echo "== testthat"
R_LIBS="$work/lib${R_LIBS:+:$R_LIBS}" Rscript -e "library(testthat); library(synergy)
res <- as.data.frame(test_dir('synergy/tests/testthat', package = 'synergy', load_package = 'installed', stop_on_failure = TRUE))
if (any(res\$skipped)) cat('skipped:', res\$test[res\$skipped], sep = '\n  ')"
echo "== R CMD check --no-manual"
# Suggests that are missing only skip the tests that use them
_R_CHECK_FORCE_SUGGESTS_=false R CMD check --no-manual "$tarball" || {
  cat synergy.Rcheck/00check.log
  [ -f synergy.Rcheck/tests/testthat.Rout.fail ] && cat synergy.Rcheck/tests/testthat.Rout.fail
  exit 1
}
status=$(grep '^Status:' synergy.Rcheck/00check.log || true)
echo "$status"
case $status in
  *ERROR* | *WARNING*) exit 1 ;;
esac
exit 0
