#!/usr/bin/env bash
# Render a report of the bundled example in headless Chromium: the page must
# load, hold the expected number of plots, and give screenshots of the page and
# of one pair plot.
#
#   report_browser.sh PAIR_REPORT PROBE_RANK PAIR_SEARCH SOURCE_DIR WORK_DIR [PAIR_PNG]
#
# PAIR_PNG: also copy the pair plot screenshot there (docs/pair_report.png is
# made this way). Exit 77 (skipped) when chromium is not installed.
set -euo pipefail

if [ $# -lt 5 ]; then
  echo "usage: report_browser.sh PAIR_REPORT PROBE_RANK PAIR_SEARCH SOURCE_DIR WORK_DIR [PAIR_PNG]" >&2
  exit 2
fi
report=$1 rank=$2 search=$3 src=$4 work=$5 keep=${6:-}
chromium=/usr/bin/chromium
if [ ! -x "$chromium" ]; then
  echo "skipped: $chromium not installed (Debian package chromium)"
  exit 77
fi

top=5
rm -rf "$work"
mkdir -p "$work"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The example's whole search takes well under a second.
table=$(realpath "$src/examples/all_bcr_abl_500.tsv")
"$rank" "$table" "$work/ranked.tsv" || [ $? -eq 1 ] || fail "probe_rank"
n_cand=$("$search" --count-candidates "$work/ranked.tsv")
"$search" -q -t 2 "$table" "$work/ranked.tsv" 0 "$n_cand" "$work/records.tsv" >/dev/null || [ $? -eq 1 ] || fail "pair_search"
# from inside the work folder, so the page names its inputs briefly
report=$(realpath "$report")
(cd "$work" && "$report" --top "$top" "$table" ranked.tsv records.tsv report.html) || fail "pair_report"

# No network, no first-run work, a throwaway profile.
browse() {
  HOME=$profile timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
    --user-data-dir="$profile" "$@" 2>>"$work/chromium.log"
}

# PNG signature, then the width and height from the IHDR chunk.
png_size() {
  [ -s "$1" ] || return 1
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return 1
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

# Occurrences of a fixed string in a file (0 is an answer, not a failure).
count() { { grep -oF "$1" "$2" || true; } | wc -l; }

# The page as the browser built it.
browse --dump-dom "file://$work/report.html" >"$work/dom.html" || fail "chromium --dump-dom (see $work/chromium.log)"
n_scatter=$(count 'class="fig scatter"' "$work/dom.html")
n_hist=$(count 'class="fig hist"' "$work/dom.html")
n_rows=$(count '<tr><td class="n"><a href="#pair-' "$work/dom.html")
[ "$n_scatter" -eq "$top" ] || fail "expected $top pair plots in the rendered page, found $n_scatter"
[ "$n_hist" -eq 2 ] || fail "expected 2 histograms in the rendered page, found $n_hist"
[ "$n_rows" -eq "$top" ] || fail "expected $top rows in the top-pair table, found $n_rows"
grep -q '</html>' "$work/dom.html" || fail "rendered page is incomplete"

# The whole page.
browse --screenshot="$work/page.png" --window-size=1280,2400 "file://$work/report.html" >/dev/null ||
  fail "chromium --screenshot of the page"
size=$(png_size "$work/page.png") || fail "no page screenshot"
[ "$size" = 1280x2400 ] || fail "page screenshot is $size, expected 1280x2400"

# The first pair alone: the page's head (styles) and its first pair card.
awk '
  /^<\/head>/ { print; print "<body style=\"background:#fff\"><main style=\"padding:12px\">"; next }
  /^<body>/ { skip = 1 }
  /^<article class="pair" id="pair-1">/ { card = 1 }
  card { print; if (/^<\/article>/) { print "</main></body></html>"; exit } next }
  !skip { print }
' "$work/report.html" >"$work/pair1.html"
grep -q 'class="fig scatter"' "$work/pair1.html" || fail "no pair card in the page"
browse --screenshot="$work/pair.png" --window-size=1000,600 "file://$work/pair1.html" >/dev/null ||
  fail "chromium --screenshot of a pair"
size=$(png_size "$work/pair.png") || fail "no pair screenshot"
[ "$size" = 1000x600 ] || fail "pair screenshot is $size, expected 1000x600"

if [ -n "$keep" ]; then
  cp "$work/pair.png" "$keep"
  echo "pair plot screenshot: $keep"
fi
echo "ok: $n_scatter pair plots, $n_hist histograms; screenshots in $work"
