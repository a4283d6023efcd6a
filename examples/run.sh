#!/usr/bin/env bash
# Run the whole pipeline on the bundled example table: rank its probes,
# search every ordered pair of candidates, and estimate the significance of
# every distinct pair, writing into out/ in the current folder.
#   usage: examples/run.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: examples/run.sh BUILD_DIR" >&2
  exit 2
fi
build=$1
here=$(cd "$(dirname "$0")" && pwd)
table=$here/all_bcr_abl_500.tsv
rank_bin=$build/probe_rank/probe_rank
pair_bin=$build/pair_search/pair_search
report_bin=$build/pair_report/pair_report
signif_bin=$build/pair_signif/pair_signif
for b in "$rank_bin" "$pair_bin" "$signif_bin"; do
  if [ ! -x "$b" ]; then
    echo "examples/run.sh: $b not found; build first: cmake -S . -B $build && cmake --build $build -j2" >&2
    exit 2
  fi
done

# Both programs end with status 1 after a complete run; anything else is a failure.
run() {
  local st=0
  "$@" || st=$?
  if [ "$st" -ne 1 ]; then
    echo "examples/run.sh: $(basename "$1") failed (exit status $st)" >&2
    exit 1
  fi
}

mkdir -p out
# pair_search appends: start from an empty record file
rm -f out/records.tsv out/progress.tsv

echo "ranking the probes of $(basename "$table") ..."
run "$rank_bin" "$table" out/ranked.tsv
n=$("$pair_bin" --count-candidates out/ranked.tsv)
echo "$n candidates scoring above 0.97175: searching $((n * n)) ordered pairs on 2 threads ..."
run "$pair_bin" -t 2 "$table" out/ranked.tsv 0 "$n" out/records.tsv > out/progress.tsv

echo "significance of every distinct pair under shuffled labels ..."
"$signif_bin" -t 2 "$table" out/ranked.tsv out/records.tsv out/signif.tsv ||
  { echo "examples/run.sh: pair_signif failed" >&2; exit 1; }

rm -f out/report.html out/pairs.tsv out/edges.tsv
if [ -x "$report_bin" ]; then
  # pair_report, unlike the other two, ends with status 0 on success
  "$report_bin" -q --signif out/signif.tsv --tsv out/pairs.tsv --edges out/edges.tsv \
    "$table" out/ranked.tsv out/records.tsv out/report.html > /dev/null ||
    { echo "examples/run.sh: pair_report failed" >&2; exit 1; }
fi

echo
echo "results in $(pwd)/out:"
echo "  ranked.tsv    every probe, highest single-probe score first"
echo "  records.tsv   two lines per pair: best synergy with its labels, then the joint clusters"
echo "  progress.tsv  the candidate positions of every pair searched"
echo "  signif.tsv    one line per distinct pair: base and final synergy, p and q under shuffled labels"
if [ -s out/report.html ]; then
  echo "  report.html   the strongest pairs as a page, with their significance"
  echo "  pairs.tsv     the distinct pairs in the page's order, every figure it shows"
  echo "  edges.tsv     the pairs with q < 0.05 as an edge list (source, target, base, final, q)"
fi
if [ -s out/records.tsv ]; then
  echo
  # signif.tsv holds each pair once (a pair and its mirror are one line), most significant first
  echo "top 5 distinct pairs, smallest p first (q, p, base synergy, final synergy, first probe, second probe):"
  awk -F'\t' 'NR > 1 && NR <= 6 { print "  " $7 "\t" $6 "\t" $3 "\t" $4 "\t" $1 "\t" $2 }' out/signif.tsv
  awk -F'\t' 'NR > 1 { n++; if ($7 < 0.05) k++ } END { printf "%d of %d pairs with q < 0.05\n", k, n }' out/signif.tsv
fi
