#!/usr/bin/env bash
# The workflow on this machine (snakemake --cores): sharded runs must give
# the records and progress lines of one whole pair_search run, byte for byte.
# usage: local_test.sh PROBE_RANK PAIR_SEARCH PAIR_SIGNIF PAIR_REPORT SYNERGY   (exit 77 when snakemake is missing)
set -euo pipefail
wf_extra=()
. "$(dirname "$0")/common.sh"
take_args "$@"
need snakemake python3

tmp=$(mktemp -d "${TMPDIR:-/tmp}/wf-local.XXXXXX")
trap 'st=$?; stop_snakemake; rm -rf "$tmp"; exit $st' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
make_stand_in

# Twelve candidates, every pair with a record: three shards of four positions,
# two threads per shard.
make_case main 3 48 40
[ "$(cat "$tmp/main.ref/candidates.txt")" -ge 6 ] || fail "generated table has too few candidates"
: > "$tmp/calls.log"
run_wf main three 3 2 --cores 2 || { show_log three; fail "three shards: snakemake failed"; }
same_as_ref main three
no_leftovers three
for f in logs/rank.log logs/shards/2-of-3.log logs/signif.log benchmarks/rank.tsv benchmarks/shards/0-of-3.tsv \
  benchmarks/signif.tsv; do
  [ -f "$tmp/work/three/$f" ] || fail "three shards: no $f"
done
[ "$(awk '{ print $1 }' "$tmp/calls.log" | sort -u)" = 2 ] ||
  fail "three shards: pair_search was not given the configured thread count"

# A second run finds everything up to date and runs nothing.
: > "$tmp/calls.log"
run_wf main three 3 2 --cores 2 || { show_log three; fail "second run failed"; }
[ ! -s "$tmp/calls.log" ] || fail "second run redid shards that were done"

# One shard stops with status 1 (what pair_search gives after a complete
# run), another with 3; both must fail without leaving output, and the rerun
# redoes just those two.
failed_rerun main failed 3 "0 1
8 3" --cores 2 --keep-going
[ "$(grep -c "Error in rule shard" "$tmp/work/failed.failed.log")" -eq 2 ] ||
  fail "failed shards: not both reported"

# The labels from a sample sheet (the table without its label line): the
# results of the table with it; a rule's own thread count wins.
awk -F'\t' 'NR == 1 { for (k = 2; k <= NF; k++) name[k] = $k; print "sample\tgroup" > "'"$tmp/sheet.tsv"'" }
  NR == 2 { for (k = 2; k <= NF; k++) print name[k] "\t" ($k == 1 ? "case" : "ctrl") > "'"$tmp/sheet.tsv"'"; next }
  { print }' "$tmp/main.tsv" > "$tmp/nolab.tsv"
: > "$tmp/calls.log"
wf_extra=("pheno=$tmp/sheet.tsv" column=group case=case control=ctrl shard_threads=1)
run_wf nolab sheet 3 2 --cores 2 || { show_log sheet; fail "sample sheet: snakemake failed"; }
wf_extra=()
same_as_ref main sheet
[ "$(awk '{ print $1 }' "$tmp/calls.log" | sort -u)" = 1 ] || fail "sample sheet: shard_threads not given to the shards"

# More shards than candidates: some shards are empty ranges.
make_case few 1 20 16
c=$(cat "$tmp/few.ref/candidates.txt")
[ "$c" -ge 2 ] && [ "$c" -lt 6 ] || fail "small table: expected 2 to 5 candidates, got $c"
run_wf few many 6 1 --cores 2 || { show_log many; fail "six shards: snakemake failed"; }
same_as_ref few many
# ... capped at the candidate count, with a note
grep -q "shards=6 capped at $c" "$tmp/work/many.log" || { show_log many; fail "six shards: no note of the cap"; }
[ "$(ls "$tmp/work/many/shards" | wc -l)" -eq $((2 * c)) ] || fail "six shards: not capped at $c"
# A million shards cost no more.
run_wf few million 1000000 1 --cores 2 || { show_log million; fail "a million shards: snakemake failed"; }
same_as_ref few million

# Links planted at the temporary names of earlier versions lead nowhere.
mkdir -p "$tmp/work/planted"
for f in ranked.tsv candidates.txt records.tsv progress.tsv; do
  ln -s "$tmp/outside.$f" "$tmp/work/planted/$f.part"
done
run_wf few planted 2 1 --cores 2 || { show_log planted; fail "planted links: snakemake failed"; }
same_as_ref few planted
[ -z "$(ls "$tmp" | grep '^outside')" ] && [ ! -L "$tmp/work/planted/records.tsv" ] ||
  fail "planted links: written through"

# No candidates at all (every probe follows the labels): empty results.
printf 'probe\ts0\ts1\ts2\ts3\nlabel\t1\t1\t0\t0\ng0\t0\t0\t1\t1\ng1\t1\t1\t0\t0\n' > "$tmp/none.tsv"
ref_case none
[ "$(cat "$tmp/none.ref/candidates.txt")" = 0 ] || fail "table without candidates has some"
run_wf none empty 2 1 --cores 2 || { show_log empty; fail "no candidates: snakemake failed"; }
same_as_ref none empty
[ ! -s "$tmp/work/empty/records.tsv" ] && [ ! -s "$tmp/work/empty/progress.tsv" ] ||
  fail "no candidates: results not empty"

# A program that stops with an error (status 2: a short probe row) fails
# the workflow and leaves no ranked list.
printf 'probe\ts0\ts1\nlabel\t1\t0\ng0\t0\n' > "$tmp/bad.tsv"
if run_wf bad bad 2 1 --cores 2; then fail "bad table: workflow reported success"; fi
grep -q "synergy rank: .*bad.tsv:3: " "$tmp/work/bad/logs/rank.log" || { show_log bad; fail "bad table: no reason given"; }
[ ! -e "$tmp/work/bad/ranked.tsv" ] || fail "bad table: ranked list written"
no_leftovers bad

# Snakemake stopped with Ctrl-C in the middle of a shard: docs/cluster.md's rerun
# command (with --rerun-incomplete) finishes the run without complaint.
echo 3 > "$tmp/slow"
: > "$tmp/calls.log"
mkdir -p "$tmp/work"
snakemake -s "$wf_dir/Snakefile" -d "$tmp/work" --cores 2 \
  --config "expr=$tmp/main.tsv" outdir=killed shards=3 threads=1 mem_mb=200 \
    "synergy=$tmp/synergy" perm=2000 report=false \
    > "$tmp/work/killed.log" 2>&1 &
sm_pid=$!
for _ in $(seq 100); do [ -s "$tmp/calls.log" ] && break; sleep 0.1; done
sleep 0.5
kill -INT "$sm_pid"
wait "$sm_pid" 2>/dev/null || true
sm_pid=
rm -f "$tmp/slow"
run_wf main killed 3 1 --cores 2 --rerun-incomplete || { show_log killed; fail "rerun after Ctrl-C failed"; }
same_as_ref main killed
no_leftovers killed

# Snakemake killed hard (kill -9) in the middle of a shard, its jobs going on:
# docs/cluster.md's recovery (--unlock, then the command with --rerun-incomplete)
# works at once, and the killed run's jobs, ending later, change nothing.
echo 2 > "$tmp/slow"
: > "$tmp/calls.log"
setsid snakemake -s "$wf_dir/Snakefile" -d "$tmp/work" --cores 2 \
  --config "expr=$tmp/main.tsv" outdir=hard shards=3 threads=1 mem_mb=200 \
    "synergy=$tmp/synergy" perm=2000 report=false \
    > "$tmp/work/hard.log" 2>&1 &
sm_pid=$!
for _ in $(seq 100); do [ -s "$tmp/calls.log" ] && break; sleep 0.1; done
kill -KILL "$sm_pid"
wait "$sm_pid" 2>/dev/null || true
group=$sm_pid
sm_pid=
rm -f "$tmp/slow"
kill -0 -- "-$group" 2>/dev/null || fail "kill -9: no job of the killed run left to test with"
snakemake -s "$wf_dir/Snakefile" -d "$tmp/work" --unlock --config "expr=$tmp/main.tsv" outdir=hard \
  > "$tmp/work/unlock.log" 2>&1 || { cat "$tmp/work/unlock.log"; fail "kill -9: --unlock failed"; }
run_wf main hard 3 1 --cores 2 --rerun-incomplete || { show_log hard; fail "rerun after kill -9 failed"; }
same_as_ref main hard
for _ in $(seq 300); do kill -0 -- "-$group" 2>/dev/null || break; sleep 0.1; done
same_as_ref main hard
no_leftovers hard

# The search-level null: two shuffled-label searches as jobs, their lines
# joined, and signif.tsv with p_search, as the programs give them run by hand.
ref=$tmp/main.ref
printf 'seed\tcandidates\tbest_base\tbest_final\n' > "$ref/null.tsv"
for k in 1 2; do
  st=0
  "$probe_rank" --shuffle-labels $k "$tmp/main.tsv" "$ref/r$k.tsv" || st=$?
  [ "$st" -eq 1 ] || fail "shuffled ranking $k: exit status $st"
  c=$("$pair_search" --count-candidates "$ref/r$k.tsv")
  st=0
  "$pair_search" --shuffle-labels $k "$tmp/main.tsv" "$ref/r$k.tsv" 0 "$c" "$ref/a$k.tsv" > /dev/null || st=$?
  [ "$st" -eq 1 ] || fail "shuffled search $k: exit status $st"
  touch "$ref/a$k.tsv"
  "$pair_signif" --null-line $k "$tmp/main.tsv" "$ref/r$k.tsv" "$ref/a$k.tsv" >> "$ref/null.tsv" ||
    fail "null line $k failed"
done
"$pair_signif" -q --perm 2000 --search-null "$ref/null.tsv" "$tmp/main.tsv" "$ref/ranked.tsv" "$ref/records.tsv" \
  "$ref/signif.tsv" || fail "pair_signif with the search null failed"
wf_extra=(permutations=2 report=true)
run_wf main nulls 2 1 --cores 2 || { show_log nulls; fail "search null: snakemake failed"; }
cmp "$ref/null.tsv" "$tmp/work/nulls/null.tsv" || fail "search null: null.tsv differs from the runs by hand"
same_as_ref main nulls
grep -q p_search "$tmp/work/nulls/signif.tsv" || fail "search null: no p_search column"
[ -z "$(find "$tmp/work/nulls/null" -name '*.part*')" ] || fail "search null: scratch folders left behind"
if [ ${#wf_extra[@]} -gt 1 ]; then
  for f in report.html pairs.tsv edges.tsv; do
    [ -s "$tmp/work/nulls/$f" ] || fail "report: $f missing"
  done
  echo "ok: report with the significance table"
fi
wf_extra=()
no_leftovers nulls

# Settings that make no sense are refused before anything runs.
for bad in shards=0 shards=two threads=1.5 mem_mb=-5 runtime=0 shard_threads=x bound=2 bound=x permutations=-1 perm=0 \
  seed=x report=maybe "pheno=$tmp/sheet.tsv" drop_other=maybe; do
  if snakemake -s "$wf_dir/Snakefile" -d "$tmp/work" -n --cores 1 \
      --config "expr=$tmp/main.tsv" "$bad" > "$tmp/work/bad-config.log" 2>&1; then
    fail "config $bad accepted"
  fi
  grep -q "config: '${bad%%=*}'" "$tmp/work/bad-config.log" || fail "config $bad: no reason given"
done

echo "local workflow test passed"
