#!/usr/bin/env bash
# pair_signif with its defaults against an older commit's, side by side:
#  1. the whole TABLE (rank and whole search once, then each pair_signif -t 2
#     ROUNDS times, old and new in turn); the new build's --tail none is
#     compared byte for byte with the old default;
#  2. a table of 1000 samples grown from TABLE (bench/grow.h, its first 3000
#     probes): the first 200 records of its search, new defaults timed; the
#     old ones too with SYN_BENCH_OLD_GROWN=1 (about ten minutes on 2 cores).
#   bench/signif_tail_bench.sh BUILD_DIR TABLE [COMMIT] [ROUNDS]
# COMMIT (default 1625f73, the last before the tail estimate) is built apart
# from its own sources in a temporary folder. Prints wall and CPU seconds.
set -euo pipefail
build=$(cd "${1:?usage: bench/signif_tail_bench.sh BUILD_DIR TABLE [COMMIT] [ROUNDS]}" && pwd)
table=${2:?usage: bench/signif_tail_bench.sh BUILD_DIR TABLE [COMMIT] [ROUNDS]}
commit=${3:-1625f73}
rounds=${4:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/signif-tail-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
rank=$build/probe_rank/probe_rank
search=$build/pair_search/pair_search
new=$build/pair_signif/pair_signif
grow=$build/bench/grow_table
for f in "$rank" "$search" "$new" "$grow"; do
  [ -x "$f" ] || { echo "missing $f: build it first" >&2; exit 2; }
done

echo "building pair_signif of $commit ..."
mkdir -p "$tmp/old_src"
git -C "$root" archive "$commit" | tar -x -C "$tmp/old_src"
cmake -S "$tmp/old_src" -B "$tmp/old_build" > "$tmp/old_build.log" 2>&1
cmake --build "$tmp/old_build" -j2 --target pair_signif >> "$tmp/old_build.log" 2>&1
old=$tmp/old_build/pair_signif/pair_signif

# wall and CPU seconds of a command, as "W s (C s CPU)"
timed() {
  /usr/bin/time -f "%e %U %S" -o "$tmp/time" "$@" > /dev/null
  awk '{ printf "%.1f s (%.1f s CPU)", $1, $2 + $3 }' "$tmp/time"
}
# both search programs end with status 1 after a complete run
ok1() { local st=0; "$@" || st=$?; [ "$st" -eq 1 ] || { echo "$1 failed ($st)" >&2; exit 1; }; }

"$rank" -q -t 2 "$table" "$tmp/ranked.tsv" || [ $? -eq 1 ]
n=$("$search" --count-candidates "$tmp/ranked.tsv")
ok1 "$search" -q -t 2 "$table" "$tmp/ranked.tsv" 0 "$n" "$tmp/records.tsv" > /dev/null
echo "whole table: $n candidates"
for r in $(seq "$rounds"); do
  echo "  round $r: $commit defaults $(timed "$old" -q -t 2 "$table" "$tmp/ranked.tsv" "$tmp/records.tsv" "$tmp/old.tsv")"
  echo "  round $r: this tree defaults $(timed "$new" -q -t 2 "$table" "$tmp/ranked.tsv" "$tmp/records.tsv" "$tmp/new.tsv")"
done
"$new" -q -t 2 --tail none "$table" "$tmp/ranked.tsv" "$tmp/records.tsv" "$tmp/none.tsv"
if cmp -s <(grep -v '^#' "$tmp/none.tsv") <(grep -v '^#' "$tmp/old.tsv"); then
  echo "  --tail none: byte for byte the old default table (but for the provenance lines)"
else echo "  --tail none DIFFERS from the old default table" >&2; exit 1; fi
awk -F'\t' '/^#/ { next } !h { h = 1; next } { n++; s[$11]++; if ($7 < 0.05) k++ } END {
  printf "  this tree: %d pairs, p from perm %d, tail %d, floor %d; q < 0.05: %d\n", n, s["perm"], s["tail"], s["floor"], k }' "$tmp/new.tsv"
grep -v '^#' "$tmp/new.tsv" | head -4 | cut -f1,2,6,7,11,12 | sed 's/^/    /'

"$grow" "$table" 1000 3000 "$tmp/g.tsv"
"$rank" -q -t 2 "$tmp/g.tsv" "$tmp/g_ranked.tsv" || [ $? -eq 1 ]
m=$("$search" --count-candidates "$tmp/g_ranked.tsv")
ok1 "$search" -q -t 2 "$tmp/g.tsv" "$tmp/g_ranked.tsv" 0 1 "$tmp/g_rec_all.tsv" > /dev/null
head -400 "$tmp/g_rec_all.tsv" > "$tmp/g_rec.tsv"
echo "grown table, 1000 samples, 3000 probes: $m candidates; the first 200 records"
echo "  this tree defaults $(timed "$new" -q -t 2 "$tmp/g.tsv" "$tmp/g_ranked.tsv" "$tmp/g_rec.tsv" "$tmp/g_new.tsv")"
awk -F'\t' '/^#/ { next } !h { h = 1; next } { s[$11]++ } END { printf "    p from perm %d, tail %d, floor %d\n", s["perm"], s["tail"], s["floor"] }' "$tmp/g_new.tsv"
if [ "${SYN_BENCH_OLD_GROWN:-0}" = 1 ]; then
  echo "  $commit defaults $(timed "$old" -q -t 2 "$tmp/g.tsv" "$tmp/g_ranked.tsv" "$tmp/g_rec.tsv" "$tmp/g_old.tsv")"
else
  echo "  ($commit: set SYN_BENCH_OLD_GROWN=1 to time it too)"
fi
