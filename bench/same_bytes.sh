#!/usr/bin/env bash
# Outputs byte-identical to an older commit: build that commit's four programs
# in a scratch folder and run both versions through the whole chain on the
# bundled example, the planted-pair example and a table grown from the example
# (bench/grow_table, fixed seed). Compared byte for byte: the ranked list, the
# candidate count, the record file, the progress lines, the significance table
# (split and --tail none, with and without a search null), the search-null
# lines, the page and the report's exports. The tables written whole begin
# with provenance lines "# ..." since the file layer (io/), which the
# comparison leaves out; everything else must be the same.
#   bench/same_bytes.sh BUILD [COMMIT]   (default 1625f73)
# Exit status 0 when everything is the same, 1 otherwise.
set -euo pipefail
build=$(cd "${1:?usage: bench/same_bytes.sh BUILD [COMMIT]}" && pwd)
commit=${2:-1625f73}
root=$(cd "$(dirname "$0")/.." && pwd)
work=${SYN_BENCH_DIR:-/tmp/syn_bench}/same_bytes_$commit
mkdir -p "$work"
old=$work/old_build
if [ ! -x "$old/pair_report/pair_report" ]; then
  rm -rf "$work/src" && mkdir -p "$work/src"
  git -C "$root" archive "$commit" | tar -x -C "$work/src"
  cmake -S "$work/src" -B "$old" -DCMAKE_BUILD_TYPE=Release -DSYN_TESTS=OFF -DSYN_BENCH=OFF > "$work/cmake.log"
  cmake --build "$old" -j2 --target probe_rank pair_search pair_signif pair_report > "$work/build.log"
fi

bad=0
# run VERSION_DIR BUILD TABLE: the chain, with relative names so that the
# command lines (and so the page) are the same for both versions
chain() {
  local dir=$1 b=$2 table=$3
  rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
  "$b/probe_rank/probe_rank" -q "$table" ranked.tsv || [ $? -eq 1 ]
  local n
  n=$("$b/pair_search/pair_search" --count-candidates ranked.tsv)
  echo "$n" > candidates.txt
  "$b/pair_search/pair_search" -q -t 2 "$table" ranked.tsv 0 "$n" records.tsv > progress.tsv || [ $? -eq 1 ]
  for k in 1 2 3; do
    "$b/probe_rank/probe_rank" -q --shuffle-labels "$k" "$table" "r$k.tsv" || [ $? -eq 1 ]
    local m
    m=$("$b/pair_search/pair_search" --count-candidates "r$k.tsv")
    "$b/pair_search/pair_search" -q --shuffle-labels "$k" "$table" "r$k.tsv" 0 "$m" "a$k.tsv" > /dev/null || [ $? -eq 1 ]
    "$b/pair_signif/pair_signif" --null-line "$k" "$table" "r$k.tsv" "a$k.tsv" >> null.tsv
    rm -f "a$k.tsv"
  done
  "$b/pair_signif/pair_signif" -q -t 2 --perm 2000 "$table" ranked.tsv records.tsv signif.tsv
  "$b/pair_signif/pair_signif" -q -t 2 --perm 2000 --tail none "$table" ranked.tsv records.tsv none.tsv
  "$b/pair_signif/pair_signif" -q -t 2 --perm 2000 --search-null null.tsv "$table" ranked.tsv records.tsv nulls.tsv
  "$b/pair_report/pair_report" -q --signif nulls.tsv --search-null null.tsv --tsv pairs.tsv --edges edges.tsv \
    "$table" ranked.tsv records.tsv report.html
  "$b/pair_report/pair_report" -q --tsv plain.tsv "$table" ranked.tsv records.tsv plain.html
  cd - > /dev/null
}

compare() {
  local tag=$1 table=$2 f
  chain "$work/$tag/old" "$old" "$table"
  chain "$work/$tag/new" "$build" "$table"
  for f in ranked.tsv candidates.txt records.tsv progress.tsv null.tsv signif.tsv none.tsv nulls.tsv \
           pairs.tsv edges.tsv plain.tsv report.html plain.html; do
    if cmp -s <(grep -v '^#' "$work/$tag/old/$f") <(grep -v '^#' "$work/$tag/new/$f"); then
      printf '  %-14s same\n' "$f"
    else
      printf '  %-14s DIFFERS (%s and %s)\n' "$f" "$work/$tag/old/$f" "$work/$tag/new/$f"
      bad=1
    fi
  done
}

"$build/bench/grow_table" "$root/examples/all_bcr_abl_500.tsv" 120 400 "$work/grown.tsv" > /dev/null
for t in "example $root/examples/all_bcr_abl_500.tsv" "planted $root/examples/planted_pair.tsv" "grown $work/grown.tsv"; do
  set -- $t
  echo "== $1 ($commit against this tree)"
  compare "$1" "$2"
done
[ "$bad" -eq 0 ] && echo "ok: every output byte-identical to $commit (provenance lines aside)"
exit "$bad"
