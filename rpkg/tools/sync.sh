#!/bin/sh
# Copy the C++ sources of the analysis core and of the programs' routine
# libraries (not their command lines, main.cpp, nor their mains, bin.cpp)
# from the repository into src/, so that the package compiles exactly the
# code the programs run. The copies are
# generated: git ignores them, and R CMD build puts them into the tarball.
#   usage: tools/sync.sh [REPOSITORY]   (default: the folder above the package)
set -eu
pkg=$(cd "$(dirname "$0")/.." && pwd)
repo=${1:-$pkg/..}
if [ ! -f "$repo/synergy_core/synergy.h" ]; then
  echo "tools/sync.sh: $repo/synergy_core/synergy.h not found: give the repository folder" >&2
  exit 2
fi
# the package's own files in src/: r_*.cpp, RcppExports.cpp, Makevars.in
for f in "$pkg"/src/*; do
  case $(basename "$f") in
    r_*.cpp | RcppExports.cpp | Makevars.in) ;;
    *) rm -f "$f" ;;
  esac
done
# program folders whose routine files the package calls
for dir in synergy_core cli probe_rank pair_search pair_signif; do
  [ -d "$repo/$dir" ] || continue
  for f in "$repo/$dir"/*.h "$repo/$dir"/*.cpp; do
    [ -f "$f" ] || continue
    case $(basename "$f") in main.cpp | bin.cpp) continue ;; esac
    if [ -e "$pkg/src/$(basename "$f")" ] && ! cmp -s "$f" "$pkg/src/$(basename "$f")"; then
      echo "tools/sync.sh: two sources named $(basename "$f")" >&2
      exit 2
    fi
    cp "$f" "$pkg/src/"
  done
done
