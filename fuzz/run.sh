#!/usr/bin/env bash
# Build the fuzz targets with clang and run each for a bounded time from its
# seed corpus, two at a time.
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# Exit status: 0 when no target found anything, 1 on a finding (the input is
# kept under BUILD_DIR/artifacts), 2 on a build failure, 77 when clang or
# libFuzzer is missing.
set -uo pipefail
src=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}
secs=${2:-60}
shift $(( $# >= 2 ? 2 : $# ))
cmake_bin=${CMAKE:-cmake}
cxx=${FUZZ_CXX:-clang++}

mkdir -p "$build"
build=$(cd "$build" && pwd)
probe_src="$build/probe.cpp"
printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' >"$probe_src"
if ! command -v "$cxx" >/dev/null 2>&1 ||
   ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe_src" -o "$build/probe" >/dev/null 2>&1; then
  echo "fuzz suite skipped: $cxx with libFuzzer not available (Debian: clang, libclang-rt-14-dev)"
  exit 77
fi

CXX=$cxx "$cmake_bin" -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; echo "fuzz: configure failed" >&2; exit 2; }
"$cmake_bin" --build "$build" -j2 >"$build/build.log" 2>&1 ||
  { tail -50 "$build/build.log" >&2; echo "fuzz: build failed" >&2; exit 2; }

if [ $# -eq 0 ]; then
  set -- $(cat "$build/targets.txt")
fi

mkdir -p "$build/artifacts"
run_one() {
  local t=$1 seeds="$src/corpus/${1#fuzz_}" work="$build/work/${1#fuzz_}"
  local dict=()
  [ -f "$src/${1#fuzz_}.dict" ] && dict=(-dict="$src/${1#fuzz_}.dict")
  rm -rf "$work" && mkdir -p "$work" "$build/tmp"
  # new inputs go to the work corpus; the committed seeds stay as they are;
  # scratch files stay in the build tree even when a finding aborts the run
  TMPDIR="$build/tmp" "$build/$t" -seed=1 -max_total_time="$secs" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "${dict[@]}" "$work" "$seeds" >"$build/$t.log" 2>&1
}

# What went wrong, then the end of the log.
report() {
  echo "fuzz: $1 FAILED" >&2
  grep -E "FINDING|DIFFERENCE|SUMMARY|runtime error|Test unit written" "$build/$1.log" >&2
  tail -60 "$build/$1.log" >&2
}

fail=0
pids=() names=()
for t in "$@"; do
  [ -x "$build/$t" ] || { echo "fuzz: no target $t" >&2; fail=1; continue; }
  run_one "$t" &
  pids+=($!) names+=("$t")
  # two cores: never more than two targets at once
  if [ ${#pids[@]} -eq 2 ]; then
    wait "${pids[0]}" || { report "${names[0]}"; fail=1; }
    pids=("${pids[1]}") names=("${names[1]}")
  fi
done
for k in "${!pids[@]}"; do
  wait "${pids[$k]}" || { report "${names[$k]}"; fail=1; }
done
for t in "$@"; do
  [ -f "$build/$t.log" ] || continue
  printf '%-22s %s\n' "$t" "$(grep -E '^#[0-9]+\s+DONE' "$build/$t.log" | tail -1)"
done
exit $fail
