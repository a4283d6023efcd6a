#!/bin/sh
# Build bench/grow_bench.cpp against the core of an older commit and against
# this tree's core, and run both on the same grown tables. The digests must
# agree (same results); the per-pair times give the speed-up.
#   bench/vs_commit.sh COMMIT TABLE [grow_bench options...]
# e.g. bench/vs_commit.sh 0c9df72 all_bcrb.tsv --sizes 500,1000,2000
set -e
commit=$1; table=$2; shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
out=${SYN_BENCH_DIR:-/tmp/syn_bench}/vs_$commit
rm -rf "$out" && mkdir -p "$out/old" "$out/new"
git -C "$root" archive "$commit" synergy_core | tar -x -C "$out/old"
cp -r "$root/synergy_core" "$out/new/"
# an older core may lack the random numbers the growing step draws
[ -f "$out/old/synergy_core/rng.h" ] || cp "$root/synergy_core/rng.h" "$out/old/synergy_core/"
for v in old new; do
  g++ -std=c++17 -O2 -Wall -ffp-contract=off -I "$out/$v/synergy_core" -I "$root/bench" \
      "$root/bench/grow_bench.cpp" "$out/$v"/synergy_core/*.cpp -o "$out/$v/grow_bench" -lz -lpthread
done
# SYN_VS_ROUNDS=N runs the two in turn N times: on a machine whose speed
# drifts, the best of each size over the rounds is the fairer comparison
rounds=${SYN_VS_ROUNDS:-1}
r=1
while [ "$r" -le "$rounds" ]; do
  echo "== $commit"; "$out/old/grow_bench" "$table" --dir "$out/old" "$@"
  echo "== this tree"; "$out/new/grow_bench" "$table" --dir "$out/new" "$@"
  r=$((r + 1))
done
