#!/usr/bin/env bash
# Render reports of the bundled example in headless Chromium, without and with
# a (made-up) significance table, search null and gene names: each page must
# load, hold the expected plots and columns, and have every section reachable
# by its link; screenshots of the top of the page and of one pair plot.
#
#   report_browser.sh PAIR_REPORT PROBE_RANK PAIR_SEARCH SOURCE_DIR WORK_DIR [TOP_PNG]
#
# TOP_PNG: also copy the screenshot of the top of the full page there
# (docs/pair_report.png is made this way). Exit 77 (skipped) when chromium
# or python3 is not installed.
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
command -v python3 >/dev/null || { echo "skipped: python3 not installed"; exit 77; }

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
python3 "$src/tests/fake_signif.py" "$work/records.tsv" "$work/signif.tsv" --expr "$table" --p-search \
  --null "$work/null.tsv" 60 || fail "fake_signif.py"
cp "$src/tests/fixtures/report/annot_example.tsv" "$work/annot.tsv"
(cd "$work" && "$report" --top "$top" "$table" ranked.tsv records.tsv plain.html) || fail "pair_report (plain)"
(cd "$work" && "$report" --top "$top" --signif signif.tsv --search-null null.tsv --annot annot.tsv \
  --tsv pairs.tsv --edges edges.tsv "$table" ranked.tsv records.tsv report.html) || fail "pair_report (--signif --annot)"

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

# Sections every page has, by their link targets.
sections="summary signif top flips dist plots pair-1"

# The page as the browser built it: plots and table columns.
check_page() { # PAGE SIGNIF(0/1)
  local page=$1 sig=$2 dom="$work/${1%.html}.dom.html"
  browse --dump-dom "file://$work/$page" >"$dom" || fail "chromium --dump-dom $page (see $work/chromium.log)"
  grep -q '</html>' "$dom" || fail "$page: rendered page is incomplete"
  n_scatter=$(count 'class="fig scatter"' "$dom")
  n_hist=$(count 'class="fig hist"' "$dom")
  n_volc=$(count 'class="fig volcano"' "$dom")
  n_rows=$(count '<td class="n"><a href="#pair-' "$dom")
  [ "$n_scatter" -eq "$top" ] || fail "$page: expected $top pair plots, found $n_scatter"
  [ "$n_rows" -eq "$top" ] || fail "$page: expected $top rows in the top-pair table, found $n_rows"
  [ "$(count '<td class="names"><details><summary>' "$dom")" -eq "$top" ] || fail "$page: flipped samples not folded"
  if [ "$sig" = 1 ]; then
    [ "$n_hist" -eq 3 ] || fail "$page: expected 3 histograms (with the search null), found $n_hist"
    [ "$n_volc" -eq 1 ] || fail "$page: expected the base synergy / -log10 p plot, found $n_volc"
    for th in '<th>base synergy</th>' '<th>p</th>' '<th>q</th>' '<th>p_search</th>' '<th>q &lt; 0.05</th>'; do
      grep -qF "$th" "$dom" || fail "$page: no column $th"
    done
    grep -qF 'Top 5 pairs by q' "$dom" || fail "$page: top pairs not ordered by q"
    grep -qF '>MADE1 (1111_at)</text>' "$dom" || fail "$page: no gene name on a pair plot's axis"
    grep -q 'class="probe">MADE[0-9]* ([0-9a-z_]*)</td>' "$dom" || fail "$page: no gene name in the top-pair table"
    grep -qF 'real search: ' "$dom" || fail "$page: real best not marked on the search null"
  else
    [ "$n_hist" -eq 2 ] || fail "$page: expected 2 histograms, found $n_hist"
    [ "$n_volc" -eq 0 ] || fail "$page: a significance plot without --signif"
    grep -qF 'No significance was computed' "$dom" || fail "$page: does not say that no significance was computed"
    grep -qF '<code>pair_signif ' "$dom" || fail "$page: does not say how to compute significance"
  fi

  # Every section reachable by its link: a copy of the page with a probe
  # script (the page itself has none) follows each link and looks at what
  # lands at the top of the window, below the sticky navigation bar.
  local probe="$work/${page%.html}.probe.html"
  python3 - "$work/$page" "$probe" "$sections" <<'PY'
import sys
page, out, ids = sys.argv[1], sys.argv[2], sys.argv[3]
js = """<script>window.onload = function () {
  var out = [];
  "%s".split(" ").forEach(function (id) {
    var a = document.querySelector("a[href='#" + id + "']"), e = document.getElementById(id);
    if (!a || !e) { out.push(id + ":missing"); return; }
    a.click();
    var r = e.getBoundingClientRect(), nav = document.querySelector("nav").getBoundingClientRect();
    var h = document.elementFromPoint(80, Math.max(r.top, nav.bottom) + 6);
    var ok = r.height > 0 && r.top >= nav.bottom - 1 && r.top < nav.bottom + 60 && h && (e.contains(h) || h.contains(e));
    out.push(id + ":" + (ok ? "ok" : "top=" + Math.round(r.top) + ",h=" + Math.round(r.height) + ",at=" + (h ? h.tagName : "none")));
  });
  var p = document.createElement("pre"); p.id = "reach"; p.textContent = out.join(" "); document.body.appendChild(p);
};</script>""" % ids
text = open(page, encoding="utf-8").read()
open(out, "w", encoding="utf-8").write(text.replace("</body>", js + "</body>"))
PY
  # links to the pair cards come from the table, not the navigation bar
  browse --window-size=1280,900 --dump-dom "file://$probe" >"$probe.dom" || fail "chromium --dump-dom $probe"
  reach=$(sed -n 's#.*<pre id="reach">\([^<]*\)</pre>.*#\1#p' "$probe.dom")
  [ -n "$reach" ] || fail "$page: section check did not run"
  for id in $sections; do
    case " $reach " in *" $id:ok "*) ;; *) fail "$page: section #$id not reachable by its link: $reach" ;; esac
  done
}
check_page plain.html 0
check_page report.html 1

# The top of the full page.
browse --screenshot="$work/page.png" --window-size=1280,1500 "file://$work/report.html" >/dev/null ||
  fail "chromium --screenshot of the page"
size=$(png_size "$work/page.png") || fail "no page screenshot"
[ "$size" = 1280x1500 ] || fail "page screenshot is $size, expected 1280x1500"

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
  cp "$work/page.png" "$keep"
  echo "page screenshot: $keep"
fi
echo "ok: pages with and without significance and gene names; sections reachable; screenshots in $work"
