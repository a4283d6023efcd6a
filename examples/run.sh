#!/usr/bin/env bash
# Run the whole pipeline on the bundled example table: rank its probes, then
# search every ordered pair of candidates, writing into out/ in the current
# folder.
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
for b in "$rank_bin" "$pair_bin"; do
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

rm -f out/report.html
if [ -x "$report_bin" ]; then
  # pair_report, unlike the other two, ends with status 0 on success
  "$report_bin" "$table" out/ranked.tsv out/records.tsv out/report.html > /dev/null ||
    { echo "examples/run.sh: pair_report failed" >&2; exit 1; }
fi

echo
echo "results in $(pwd)/out:"
echo "  ranked.tsv    every probe, highest single-probe score first"
echo "  records.tsv   two lines per pair: best synergy with its labels, then the joint clusters"
echo "  progress.tsv  the candidate positions of every pair searched"
if [ -s out/report.html ]; then
  echo "  report.html   the strongest pairs as a page"
fi
if [ -s out/records.tsv ]; then
  echo
  echo "strongest pairs (synergy, first probe, second probe):"
  awk -F'\t' 'NR % 2 == 1 { print $3 "\t" $1 "\t" $2 }' out/records.tsv | sort -t$'\t' -k1,1gr | awk 'NR <= 5 { print "  " $0 }'
fi
