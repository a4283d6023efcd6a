#!/usr/bin/env bash
# The package route: build the .deb with cpack in the build folder, unpack it
# into a scratch root with dpkg -x, check its library dependencies, render
# every manual page with man -l (each option of --help in it), and run the
# example from the installed files with synergy: every command must end
# with 0, and the planted pair must come first with q < 0.05; and run the
# installed workflow (where Snakemake is) on the planted table.
# usage: install_test.sh BUILD_DIR SCRATCH   (exit 77 when a tool is missing)
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SCRATCH" >&2
  exit 2
fi
build=$(realpath "$1")
scratch=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for tool in cpack dpkg-deb dpkg-shlibdeps man file; do
  command -v "$tool" > /dev/null 2>&1 || { echo "skipped: $tool not found"; exit 77; }
done
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")

(cd "$build" && cpack -G DEB -B "$scratch/pkg") > "$scratch/cpack.log" 2>&1 ||
  { tail -20 "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$scratch"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
dpkg-deb -f "$deb" Depends | grep -q "libc6" && dpkg-deb -f "$deb" Depends | grep -q "zlib1g" ||
  fail "the package does not depend on the libraries the programs need: $(dpkg-deb -f "$deb" Depends)"
dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr

for p in synergy probe_rank pair_search pair_signif pair_report; do
  [ -x "$usr/bin/$p" ] || fail "$p not installed"
  page=$usr/share/man/man1/$p.1
  [ -f "$page" ] || fail "no manual page for $p"
  MANWIDTH=100 man -l "$page" > "$scratch/$p.txt" 2> "$scratch/$p.err" || fail "man -l $page failed"
  [ ! -s "$scratch/$p.err" ] || fail "man -l $page: $(cat "$scratch/$p.err")"
  opts=OPTIONS
  [ "$p" = synergy ] && opts=COMMANDS
  for section in NAME SYNOPSIS "$opts" "EXIT STATUS"; do
    grep -q "^$section" "$scratch/$p.txt" || fail "$p.1 has no $section section"
  done
  # the page comes from the option tables that print --help: every option is in both
  for cmd in $([ "$p" = synergy ] && echo rank search signif report || echo -); do
    if [ "$cmd" = - ]; then "$usr/bin/$p" --help; else "$usr/bin/synergy" "$cmd" --help; fi
  done | grep -o -- '--[a-z][a-z-]*' | sort -u > "$scratch/$p.opts"
  [ -s "$scratch/$p.opts" ] || fail "$p --help lists no options"
  while read -r o; do
    grep -q -- "$o" "$scratch/$p.txt" || fail "$p.1 lacks $o"
  done < "$scratch/$p.opts"
done
echo "ok: package $(basename "$deb"), five programs and their manual pages"

# the example from the installed files, with the installed synergy
mkdir -p "$scratch/run"
cd "$scratch/run"
PATH=$usr/bin:$PATH bash "$usr/share/synergy/examples/run.sh" > run.out 2> run.err ||
  { cat run.err >&2; fail "examples/run.sh from the package failed"; }
[ "$(grep -Ec "^[0-9]+ of [0-9]+ pairs with q < 0.05$" run.out)" -eq 2 ] || fail "expected a pair count for each of the two tables"
grep -Eq "^[1-9][0-9]* of [0-9]+ pairs with q < 0.05" run.out || fail "the planted pair does not pass"
# the pass column found by its name: the columns before it depend on the significance table
first=$(grep -v '^#' out/planted_pair/pairs.tsv |
  awk -F '\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "pass") c = i } NR == 2 { print $2 "\t" $3 "\t" $c }')
[ "$first" = "$(printf 'plant_a\tplant_b\t1')" ] || fail "the page's first pair is '$first', not the planted pair passing"
[ -s out/all_bcr_abl_500/report.html ] && [ -s out/planted_pair/report.html ] || fail "no report written"
echo "ok: the example from the installed files"

# the installed workflow finds its settings and the installed synergy on PATH
if command -v snakemake > /dev/null 2>&1; then
  PATH=$usr/bin:$PATH snakemake -s "$usr/share/synergy/workflow/Snakefile" -d "$scratch/wf" --cores 2 \
    --config "expr=$usr/share/synergy/examples/planted_pair.tsv" outdir=res shards=2 > "$scratch/wf.log" 2>&1 ||
    { tail -30 "$scratch/wf.log" >&2; fail "the installed workflow failed"; }
  cmp <(grep -v '^#' "$scratch/wf/res/signif.tsv") <(grep -v '^#' out/planted_pair/signif.tsv) ||
    fail "the installed workflow's signif.tsv differs from the example's"
  echo "ok: the installed workflow"
fi
