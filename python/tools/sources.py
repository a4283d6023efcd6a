#!/usr/bin/env python3
"""Print the C++ sources the module compiles, one per line, relative to python/.

The same rule as the R package's tools/sync.sh: every .cpp of the analysis
core and of the programs' routine folders, but not their command lines
(main.cpp) nor their mains (bin.cpp), so that the module runs exactly the code
the programs run.
"""
import pathlib
import sys

here = pathlib.Path(__file__).resolve().parent.parent
repo = here.parent
if not (repo / "synergy_core" / "synergy.h").is_file():
    sys.exit(f"tools/sources.py: {repo}/synergy_core/synergy.h not found: build from the repository")
for d in ("synergy_core", "io", "cli", "probe_rank", "pair_search", "pair_signif"):
    for f in sorted((repo / d).glob("*.cpp")):
        if f.name not in ("main.cpp", "bin.cpp"):
            print(f"../{d}/{f.name}")
