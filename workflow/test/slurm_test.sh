#!/usr/bin/env bash
# The workflow through Slurm: starts a private one-node cluster on this
# machine (munged, slurmctld, slurmd, configured from workflow/test/slurm.conf,
# everything under a temporary folder), runs the workflow with the profile
# workflow/profiles/slurm, checks the results against one whole pair_search
# run, and stops every daemon it started, by process id, however it ends.
# usage: slurm_test.sh PROBE_RANK PAIR_SEARCH PAIR_SIGNIF PAIR_REPORT SYNERGY
# Exit 77 (skipped) when snakemake, Slurm or munge is missing, or not root.
set -euo pipefail
wf_extra=()
. "$(dirname "$0")/common.sh"
take_args "$@"
need snakemake python3 munged mungekey slurmctld slurmd sbatch squeue scontrol scancel sinfo
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: slurmd must run as root"
  exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/wf-slurm.XXXXXX")
# munged wants every folder above its socket searchable by all.
chmod 755 "$tmp"
export SLURM_CONF=$tmp/slurm.conf
pids=()

stop_all() {
  local st=$? pid n
  trap - EXIT INT TERM
  stop_snakemake
  if [ ${#pids[@]} -gt 0 ]; then
    # Cancel what is left in the queue first, so that no job outlives slurmd.
    if [ ${#pids[@]} -ge 2 ]; then
      squeue --noheader --format=%A 2>/dev/null | xargs -r scancel 2>/dev/null || true
      for n in $(seq 20); do
        [ -z "$(squeue --noheader --format=%A 2>/dev/null)" ] && break
        sleep 0.5
      done
    fi
    # Daemons in reverse order of starting: slurmd, slurmctld, munged.
    for ((n = ${#pids[@]} - 1; n >= 0; n--)); do
      pid=${pids[n]}
      kill "$pid" 2>/dev/null || continue
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
      kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null || true
    done
  fi
  if [ "$st" -ne 0 ] && [ "$st" -ne 77 ]; then
    for f in "$tmp"/log/*.log; do
      [ -f "$f" ] || continue
      echo "---- $f ----" >&2
      tail -n 25 "$f" >&2
    done
  fi
  rm -rf "$tmp"
  exit "$st"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- the one-node cluster ----
mkdir -p "$tmp/munge" "$tmp/state/ctld" "$tmp/state/slurmd" "$tmp/run" "$tmp/log"
mungekey --create --keyfile="$tmp/munge/munge.key"
munged --foreground --key-file="$tmp/munge/munge.key" --socket="$tmp/munge/munge.socket.2" \
  --pid-file="$tmp/munge/munged.pid" --seed-file="$tmp/munge/munged.seed" \
  --log-file="$tmp/log/munged.log" > "$tmp/log/munged.out" 2>&1 &
pids+=($!)

# The node as slurmd sees it, and two free ports.
node=$(slurmd -C | head -n 1)
field() { echo "$node" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
read -r ctld_port slurmd_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s:
    x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
mem=$(field RealMemory)
sed -e "s|@HOST@|$(field NodeName)|g" -e "s|@USER@|$(id -un)|g" -e "s|@TMP@|$tmp|g" \
    -e "s|@CTLD_PORT@|$ctld_port|" -e "s|@SLURMD_PORT@|$slurmd_port|" \
    -e "s|@CPUS@|$(field CPUs)|" -e "s|@BOARDS@|$(field Boards)|" \
    -e "s|@SOCKETS@|$(field SocketsPerBoard)|" -e "s|@CORES@|$(field CoresPerSocket)|" \
    -e "s|@THREADS@|$(field ThreadsPerCore)|" -e "s|@MEM@|$((mem * 9 / 10))|" \
    "$test_dir/slurm.conf" > "$SLURM_CONF"
: > "$tmp/plugstack.conf"
grep -q '@[A-Z_]*@' "$SLURM_CONF" && fail "slurm.conf: unfilled fields: $(grep -o '@[A-Z_]*@' "$SLURM_CONF" | sort -u | tr '\n' ' ')"

for _ in $(seq 50); do [ -S "$tmp/munge/munge.socket.2" ] && break; sleep 0.2; done
[ -S "$tmp/munge/munge.socket.2" ] || fail "munged did not start"
slurmctld -D -i -f "$SLURM_CONF" > "$tmp/log/slurmctld.out" 2>&1 &
pids+=($!)
sleep 1
slurmd -D -f "$SLURM_CONF" > "$tmp/log/slurmd.out" 2>&1 &
pids+=($!)
up=
for _ in $(seq 60); do
  state=$(sinfo --noheader --format=%T 2>/dev/null || true)
  case $state in idle*|mixed*|allocated*) up=1; break ;; esac
  sleep 0.5
done
[ -n "$up" ] || fail "the test cluster did not come up (node state: ${state:-none})"
echo "ok: one-node cluster up ($(field CPUs) CPUs)"

# ---- the job-state script ----
status=$wf_dir/profiles/slurm/slurm-status.py
sid() { sbatch --parsable --output=/dev/null --mem=50 --wrap "$1"; }
wait_gone() {
  for _ in $(seq 100); do
    case $(squeue --noheader --jobs="$1" --format=%T 2>/dev/null) in
      ''|COMPLETED|FAILED|CANCELLED*|TIMEOUT) return 0 ;;
    esac
    sleep 0.2
  done
  fail "job $1 did not end"
}
ok=$(sid true); bad=$(sid "exit 3"); long=$(sid "sleep 120")
wait_gone "$ok"; wait_gone "$bad"
for _ in $(seq 50); do [ "$(squeue --noheader --jobs="$long" --format=%T)" = RUNNING ] && break; sleep 0.2; done
[ "$("$status" "$ok")" = success ] || fail "status: completed job not seen as success"
[ "$("$status" "$bad")" = failed ] || fail "status: failed job not seen as failed"
[ "$("$status" "$long")" = running ] || fail "status: running job not seen as running"
scancel "$long"; wait_gone "$long"
[ "$("$status" "$long")" = failed ] || fail "status: cancelled job not seen as failed"
[ "$("$status" 999999 2>/dev/null)" = failed ] || fail "status: unknown job not seen as failed"
echo "ok: job states (completed, failed, running, cancelled, unknown)"

# ---- the workflow through Slurm ----
profile=$wf_dir/profiles/slurm
# snakemake polls cluster jobs every 10 s, or every second when CI=true.
export CI=true
make_stand_in
make_case main 3 48 40
: > "$tmp/calls.log"
run_wf main three 3 1 --profile "$profile" || { show_log three; fail "three shards: snakemake failed"; }
same_as_ref main three
no_leftovers three
ls "$tmp/work/.snakemake/slurm_logs/"shard-*.log > /dev/null 2>&1 ||
  { show_log three; fail "three shards: the shards did not run as Slurm jobs"; }

# The shuffled-label searches of the search null run as Slurm jobs too, and
# their lines reach signif.tsv.
wf_extra=(permutations=2)
run_wf main nulls 2 1 --profile "$profile" || { show_log nulls; fail "search null: snakemake failed"; }
wf_extra=()
[ "$(wc -l < "$tmp/work/nulls/null.tsv")" -eq 3 ] || fail "search null: null.tsv does not hold 2 searches"
grep -q p_search "$tmp/work/nulls/signif.tsv" || fail "search null: no p_search column"
ls "$tmp/work/.snakemake/slurm_logs/"null_search-*.log > /dev/null 2>&1 ||
  { show_log nulls; fail "search null: the shuffled searches did not run as Slurm jobs"; }
no_leftovers nulls

# A shard that fails as a Slurm job is seen as failed and leaves no output;
# the rerun submits just that shard again.
failed_rerun main failed 3 "4 3" --profile "$profile"
grep -q "Error in rule shard" "$tmp/work/.snakemake/slurm_logs/"shard-*.log ||
  fail "failed shard: reason not in its Slurm log"

echo "Slurm workflow test passed"
