#!/usr/bin/env bash
# Size and time of the report page for a whole search, outside pass/fail.
#
#   bench/report_big.sh BUILD_DIR EXPR [WORK_DIR]
#
# Ranks EXPR, searches every candidate pair (2 threads), makes up a
# significance table and a search null of the same pairs (tests/fake_signif.py:
# invented numbers, only for measuring), and times pair_report with both and
# with the exports, printing the page's size.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: bench/report_big.sh BUILD_DIR EXPR [WORK_DIR]" >&2; exit 2; }
build=$(realpath "$1") expr=$(realpath "$2") work=${3:-$1/report_big}
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$work"
cd "$work"
"$build/probe_rank/probe_rank" -q -t 2 "$expr" ranked.tsv || [ $? -eq 1 ]
n=$("$build/pair_search/pair_search" --count-candidates ranked.tsv)
if [ ! -s records.tsv ] || [ ranked.tsv -nt records.tsv ]; then
  rm -f records.tsv
  echo "searching $n candidates ($((n * n)) ordered pairs)..."
  "$build/pair_search/pair_search" -q -t 2 "$expr" ranked.tsv 0 "$n" records.tsv >/dev/null || [ $? -eq 1 ]
fi
python3 "$src/tests/fake_signif.py" records.tsv signif.tsv --expr "$expr" --p-search --null null.tsv 100
pairs=$(($(grep -vc '^#' signif.tsv) - 1))
TIMEFORMAT='%R %U'
t=$( { time "$build/pair_report/pair_report" --signif signif.tsv --search-null null.tsv --tsv pairs.tsv --edges edges.tsv \
  "$expr" ranked.tsv records.tsv report.html; } 2>&1 )
echo "command: pair_report --signif signif.tsv --search-null null.tsv --tsv pairs.tsv --edges edges.tsv $expr ranked.tsv records.tsv report.html"
awk -v p="$pairs" -v r="$(($(wc -l <records.tsv) / 2))" -v s="$(stat -c %s report.html)" -v t="$t" \
  -v x="$(($(stat -c %s pairs.tsv) + $(stat -c %s edges.tsv)))" \
  'BEGIN { split(t, a, " "); printf "%d records, %d distinct pairs: page %.2f MB, exports %.0f MB, in %.2f s (%.2f s user)\n", r, p, s / 1e6, x / 1e6, a[1], a[2] }'
