#!/usr/bin/env bash
# Benchmark of the significance step on a whole table: the ordinary search,
# pair_signif with its defaults on 1 and 2 threads (outputs compared), and one
# shuffled-label search of the search-level null. Prints wall times and ratios.
#   usage: bench/signif_bench.sh BUILD_DIR TABLE
# TABLE: the whole B-cell ALL table, made by Rscript bench/make_all_bcrb.R all_bcrb.tsv
set -euo pipefail
build=${1:?usage: bench/signif_bench.sh BUILD_DIR TABLE}
table=${2:?usage: bench/signif_bench.sh BUILD_DIR TABLE}
rank=$build/probe_rank/probe_rank
search=$build/pair_search/pair_search
signif=$build/pair_signif/pair_signif
tmp=$(mktemp -d "${TMPDIR:-/tmp}/signif-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

now() { date +%s.%N; }
secs() { echo "$2 - $1" | bc; }
# both search programs end with status 1 after a complete run
ok1() { local st=0; "$@" || st=$?; [ "$st" -eq 1 ] || { echo "$1 failed ($st)" >&2; exit 1; }; }

t0=$(now)
ok1 "$rank" -q -t 2 "$table" "$tmp/ranked.tsv"
n=$("$search" --count-candidates "$tmp/ranked.tsv")
ok1 "$search" -q -t 2 "$table" "$tmp/ranked.tsv" 0 "$n" "$tmp/records.tsv" > /dev/null
t1=$(now)
search_s=$(secs "$t0" "$t1")
pairs=$(awk 'NR % 2 == 1 { a = $1 < $2 ? $1 "\t" $2 : $2 "\t" $1; if (!(a in s)) { s[a]; k++ } } END { print k }' "$tmp/records.tsv")
echo "table $table: $n candidates, $pairs distinct pairs"
echo "rank + search, -t 2:            ${search_s} s"

declare -A took
for t in 1 2; do
  a=$(now)
  "$signif" -q -t "$t" "$table" "$tmp/ranked.tsv" "$tmp/records.tsv" "$tmp/signif$t.tsv"
  b=$(now)
  took[$t]=$(secs "$a" "$b")
  echo "pair_signif -t $t (defaults):    ${took[$t]} s"
done
cmp -s <(grep -v '^#' "$tmp/signif1.tsv") <(grep -v '^#' "$tmp/signif2.tsv") || { echo "outputs of -t 1 and -t 2 differ" >&2; exit 1; }
echo "2 threads against 1:            $(echo "scale=2; ${took[1]} / ${took[2]}" | bc)x (outputs identical)"
awk -F'\t' '/^#/ { next } !h { h = 1; next } { n++; if ($7 < 0.05) k++; if ($8 == 10000000) c++ } END { printf "pairs with q < 0.05: %d of %d; pairs run to the cap: %d\n", k, n, c }' "$tmp/signif1.tsv"

a=$(now)
ok1 "$rank" -q -t 2 --shuffle-labels 1 "$table" "$tmp/r1.tsv"
m=$("$search" --count-candidates "$tmp/r1.tsv")
ok1 "$search" -q -t 2 --shuffle-labels 1 "$table" "$tmp/r1.tsv" 0 "$m" "$tmp/a1.tsv" > /dev/null
b=$(now)
"$signif" -t 2 --null-line 1 "$table" "$tmp/r1.tsv" "$tmp/a1.tsv" > "$tmp/null1.tsv"
c=$(now)
echo "one shuffled-label search, -t 2: $(secs "$a" "$b") s rank + search ($m candidates) + $(secs "$b" "$c") s null line"
