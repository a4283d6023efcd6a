#!/usr/bin/env bash
# Run the whole chain on each bundled example table: rank its probes, search
# every ordered pair of candidates, estimate the significance of every
# distinct pair and write the report, into out/NAME/ in the current folder
# (NAME: the table's name without .tsv).
#   usage: examples/run.sh [BUILD_DIR]
# With BUILD_DIR, the synergy program built there; without, the one on PATH.
set -euo pipefail

if [ $# -gt 1 ]; then
  echo "usage: examples/run.sh [BUILD_DIR]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  syn=$1/synergy/synergy
  if [ ! -x "$syn" ]; then
    echo "examples/run.sh: $syn not found; build first: cmake -S . -B $1 && cmake --build $1 -j2" >&2
    exit 2
  fi
else
  syn=$(command -v synergy) || {
    echo "examples/run.sh: synergy not found on PATH; give the build folder: examples/run.sh BUILD_DIR" >&2
    exit 2
  }
fi
here=$(cd "$(dirname "$0")" && pwd)

# Every command ends with status 0 on success; set -e stops at the first failure.
run_table() {
  local table=$1 name out n
  name=$(basename "$table" .tsv)
  out=out/$name
  mkdir -p "$out"
  # the search appends: start from an empty record file
  rm -f "$out/records.tsv" "$out/progress.tsv" "$out/report.html" "$out/pairs.tsv" "$out/edges.tsv"

  echo "== $name: ranking the probes ..."
  "$syn" rank "$table" "$out/ranked.tsv"
  n=$("$syn" search --count-candidates "$out/ranked.tsv")
  echo "$n candidates scoring above 0.97175: searching $((n * n)) ordered pairs on 2 threads ..."
  "$syn" search -t 2 "$table" "$out/ranked.tsv" 0 "$n" "$out/records.tsv" > "$out/progress.tsv"
  echo "significance of every distinct pair under shuffled labels ..."
  "$syn" signif -t 2 "$table" "$out/ranked.tsv" "$out/records.tsv" "$out/signif.tsv"
  "$syn" report -q --signif "$out/signif.tsv" --tsv "$out/pairs.tsv" --edges "$out/edges.tsv" \
    "$table" "$out/ranked.tsv" "$out/records.tsv" "$out/report.html"
  # signif.tsv holds each pair once (a pair and its mirror are one line), most significant
  # first, after comment lines "# ..." that say how it was made; columns found by name
  cols='/^#/ { next } !h { for (i = 1; i <= NF; i++) c[$i] = i; h = 1; next }'
  if [ -s "$out/records.tsv" ]; then
    echo "top 5 distinct pairs, smallest p first (q, p, base synergy, final synergy, first probe, second probe):"
    awk -F'\t' "$cols"' ++n <= 5 { print "  " $c["q"] "\t" $c["p"] "\t" $c["base"] "\t" $c["final"] "\t" $1 "\t" $2 }' \
      "$out/signif.tsv"
  fi
  awk -F'\t' "$cols"' { n++; if ($c["q"] < 0.05) k++ } END { printf "%d of %d pairs with q < 0.05\n", k, n }' \
    "$out/signif.tsv"
  echo
}

for table in "$here"/all_bcr_abl_500.tsv "$here"/planted_pair.tsv; do
  run_table "$table"
done

echo "results in $(pwd)/out/NAME for each table:"
echo "  ranked.tsv    every probe, highest single-probe score first"
echo "  records.tsv   two lines per pair: best synergy with its labels, then the joint clusters"
echo "  progress.tsv  the candidate positions of every pair searched"
echo "  signif.tsv    one line per distinct pair: base and final synergy, p and q under shuffled labels"
echo "  report.html   the strongest pairs as a page, with their significance"
echo "  pairs.tsv     the distinct pairs in the page's order, every figure it shows"
echo "  edges.tsv     the pairs with q < 0.05 as an edge list (source, target, base, final, q)"
