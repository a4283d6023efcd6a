# Shared parts of the workflow tests; sourced by local_test.sh and slurm_test.sh.
# The caller sets tmp (a fresh folder that the caller removes) and calls
# take_args "$@" for the paths of the real programs: probe_rank, pair_search,
# pair_signif, pair_report, synergy. The workflow runs synergy; the
# references are made with the other programs. run_wf passes
# wf_extra (an array of further --config settings) when set.

take_args() {
  if [ $# -ne 5 ]; then
    echo "usage: $0 PROBE_RANK PAIR_SEARCH PAIR_SIGNIF PAIR_REPORT SYNERGY" >&2
    exit 2
  fi
  probe_rank=$(realpath "$1")
  pair_search=$(realpath "$2")
  pair_signif=$(realpath "$3")
  pair_report=$(realpath "$4")
  synergy=$(realpath "$5")
}

wf_dir=$(cd "$(dirname "$0")/.." && pwd)
test_dir=$wf_dir/test

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Exit 77 (skipped) when a tool is missing.
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool not found"; exit 77; }
  done
}

# make_case NAME SEED SAMPLES PROBES: a generated table tmp/NAME.tsv and the
# results of one whole pair_search over it in tmp/NAME.ref/.
make_case() {
  local name=$1 ref=$tmp/$1.ref
  python3 "$test_dir/gen_table.py" "$2" "$3" "$4" "$tmp/$name.tsv"
  ref_case "$name"
}

# ref_case NAME: the reference results for the table tmp/NAME.tsv.
ref_case() {
  local name=$1 ref=$tmp/$1.ref st=0
  mkdir -p "$ref"
  "$probe_rank" "$tmp/$name.tsv" "$ref/ranked.tsv" || st=$?
  [ "$st" -eq 1 ] || fail "$name: probe_rank exit status $st"
  "$pair_search" --count-candidates "$ref/ranked.tsv" > "$ref/candidates.txt" ||
    fail "$name: pair_search --count-candidates failed"
  : > "$ref/records.tsv"
  st=0
  "$pair_search" "$tmp/$name.tsv" "$ref/ranked.tsv" 0 "$(cat "$ref/candidates.txt")" \
    "$ref/records.tsv" > "$ref/progress.tsv" || st=$?
  [ "$st" -eq 1 ] || fail "$name: pair_search exit status $st"
  "$pair_signif" -q --perm 2000 "$tmp/$name.tsv" "$ref/ranked.tsv" "$ref/records.tsv" "$ref/signif.tsv" ||
    fail "$name: pair_signif failed"
}

# A stand-in for synergy that runs the real one and, for a search (not a
# count), logs each range it is given (tmp/calls.log: threads, start, end),
# waits first for the seconds in tmp/slow when that file exists, and can fail
# chosen ranges: each line "START STATUS" of tmp/fail makes the range
# starting at START end with STATUS, after the real run has written its
# output.
make_stand_in() {
  cat > "$tmp/synergy" <<EOF
#!/bin/sh
case " \$* " in *" --count-candidates "*) exec "$synergy" "\$@" ;; esac
[ "\$1" = search ] || exec "$synergy" "\$@"
echo "\$3 \$7 \$8" >> "$tmp/calls.log"
[ -f "$tmp/slow" ] && sleep "\$(cat "$tmp/slow")"
"$synergy" "\$@"
st=\$?
if [ -f "$tmp/fail" ]; then
  forced=\$(awk -v s="\$7" '\$1 == s { print \$2 }' "$tmp/fail")
  [ -n "\$forced" ] && exit "\$forced"
fi
exit \$st
EOF
  chmod +x "$tmp/synergy"
}

# run_wf NAME OUTDIR SHARDS THREADS [snakemake options...]: the workflow on
# tmp/NAME.tsv, run in tmp/work, results in tmp/work/OUTDIR. Leaves the
# snakemake output in tmp/work/OUTDIR.log and returns snakemake's status.
run_wf() {
  local name=$1 out=$2 shards=$3 threads=$4
  shift 4
  mkdir -p "$tmp/work"
  # In the background, so that a signal to the test is handled at once.
  snakemake -s "$wf_dir/Snakefile" -d "$tmp/work" "$@" \
    --config "expr=$tmp/$name.tsv" "outdir=$out" "shards=$shards" "threads=$threads" \
      mem_mb=200 "synergy=$tmp/synergy" perm=2000 report=false "${wf_extra[@]}" \
    > "$tmp/work/$out.log" 2>&1 &
  sm_pid=$!
  local st=0
  wait "$sm_pid" || st=$?
  sm_pid=
  return "$st"
}

# Stop a snakemake run that the test started and left running (test
# interrupted): SIGINT first, on which snakemake cancels its cluster jobs.
sm_pid=
stop_snakemake() {
  [ -n "$sm_pid" ] || return 0
  kill -INT "$sm_pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$sm_pid" 2>/dev/null || break; sleep 0.2; done
  kill -9 "$sm_pid" 2>/dev/null || true
  wait "$sm_pid" 2>/dev/null || true
  sm_pid=
}

show_log() {
  echo "---- snakemake output ($1) ----" >&2
  tail -n 60 "$tmp/work/$1.log" >&2
}

# same_table A B: the same bytes but for the leading provenance lines "# ..."
# of a table written whole (they hold the command line).
same_table() {
  cmp <(grep -v '^#' "$1") <(grep -v '^#' "$2")
}

# same_as_ref NAME OUTDIR: joined results byte-identical to the whole run
# (the significance table but for its provenance lines).
same_as_ref() {
  local name=$1 out=$tmp/work/$2 ref=$tmp/$1.ref f
  for f in ranked.tsv candidates.txt records.tsv progress.tsv signif.tsv; do
    [ -f "$out/$f" ] || { show_log "$2"; fail "$2: $f missing"; }
    same_table "$ref/$f" "$out/$f" || fail "$2: $f differs from one whole pair_search run"
  done
  echo "ok: $2 ($(cat "$ref/candidates.txt") candidates, $(wc -l < "$ref/records.tsv") record lines)"
}

# no_leftovers OUTDIR: no temporary output anywhere under it.
no_leftovers() {
  local left
  [ -d "$tmp/work/$1" ] || return 0
  left=$(find "$tmp/work/$1" -name '*.part*')
  [ -z "$left" ] || fail "$1: temporary outputs left behind: $left"
}

# Modification times of the shard outputs of OUTDIR, one per line.
shard_times() {
  (cd "$tmp/work/$1/shards" && stat -c '%n %Y.%y' -- *)
}

# failed_rerun NAME OUTDIR SHARDS FAILS [snakemake options...]: make the
# shards whose start positions FAILS lists ("START STATUS" lines) fail, check
# that they leave no output and that the run fails; then rerun and check that
# only those shards run again and the results match the whole run.
failed_rerun() {
  local name=$1 out=$2 shards=$3 fails=$4 st=0 k start want
  shift 4
  printf '%s\n' "$fails" > "$tmp/fail"
  : > "$tmp/calls.log"
  run_wf "$name" "$out" "$shards" 1 "$@" || st=$?
  [ "$st" -ne 0 ] || { show_log "$out"; fail "$out: a failed shard was taken as done"; }
  cp "$tmp/work/$out.log" "$tmp/work/$out.failed.log"
  [ ! -e "$tmp/work/$out/records.tsv" ] || fail "$out: joined records written after a failure"
  want=$(echo "$fails" | awk '{ print $1 }' | sort -n)
  local c
  c=$(cat "$tmp/$name.ref/candidates.txt")
  for k in $(seq 0 $((shards - 1))); do
    start=$((k * c / shards))
    if echo "$want" | grep -qx "$start"; then
      [ ! -e "$tmp/work/$out/shards/$k-of-$shards.records.tsv" ] &&
        [ ! -e "$tmp/work/$out/shards/$k-of-$shards.progress.tsv" ] ||
        fail "$out: failed shard $k left its output behind"
    else
      [ -f "$tmp/work/$out/shards/$k-of-$shards.records.tsv" ] ||
        { show_log "$out"; fail "$out: shard $k did not finish while another failed"; }
    fi
  done
  no_leftovers "$out"
  shard_times "$out" > "$tmp/times.before"

  rm -f "$tmp/fail"
  : > "$tmp/calls.log"
  run_wf "$name" "$out" "$shards" 1 "$@" || { show_log "$out"; fail "$out: rerun failed"; }
  ran=$(awk '{ print $2 }' "$tmp/calls.log" | sort -n)
  [ "$ran" = "$want" ] ||
    fail "$out: the rerun ran the ranges starting at [$(echo $ran)], expected only [$(echo $want)]"
  shard_times "$out" > "$tmp/times.after"
  # Shards that had finished keep their files untouched.
  grep -Fxf "$tmp/times.before" "$tmp/times.after" > "$tmp/times.kept" || true
  cmp -s "$tmp/times.before" "$tmp/times.kept" ||
    fail "$out: the rerun rewrote shards that had finished"
  same_as_ref "$name" "$out"
  no_leftovers "$out"
}
