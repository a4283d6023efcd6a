#!/usr/bin/env python3
"""pair_search from Python against the program, on one table (default: the
bundled example), runs alternating so that a loaded machine weighs on both.

    python3 python/bench/py_search_time.py PROBE_RANK PAIR_SEARCH [TABLE] [--reps N] [--threads T] [--end E]

Times, per run: the program (a process that loads the table, searches every
candidate pair, or the candidate positions [0, E) against all, and appends
the records); Python reading the table and
searching (read_expr + pair_search, records kept in memory); and
pair_search alone on a table already in memory. Prints the medians and their
ratios to the program (target: at most 1.1).
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import tempfile
import time

import synergy


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("probe_rank")
    ap.add_argument("pair_search")
    ap.add_argument("table", nargs="?",
                    default=str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "all_bcr_abl_500.tsv"))
    ap.add_argument("--reps", type=int, default=7)
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--end", type=int, default=None, help="search positions [0, END) only (default: all)")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as d:
        ranked = os.path.join(d, "ranked.tsv")
        subprocess.run([a.probe_rank, "-q", "-t", "2", a.table, ranked], check=False)
        n = int(subprocess.run([a.pair_search, "--count-candidates", ranked], capture_output=True,
                               text=True).stdout)
        end = n if a.end is None else min(a.end, n)
        x_mem, lab_mem = synergy.read_expr(a.table, quiet=True)
        t = {"program": [], "python, read + search": [], "python, search": []}
        for k in range(a.reps):
            rec = os.path.join(d, f"rec{k}.tsv")
            cmd = [a.pair_search, "-q", "-t", str(a.threads), a.table, ranked, "0", str(end), rec]
            t0 = time.perf_counter()
            subprocess.run(cmd, stdout=subprocess.DEVNULL, check=False)
            t["program"].append(time.perf_counter() - t0)
            t0 = time.perf_counter()
            x, lab = synergy.read_expr(a.table, quiet=True)
            synergy.pair_search(x, lab, ranked=ranked, end=end, threads=a.threads, quiet=True)
            t["python, read + search"].append(time.perf_counter() - t0)
            t0 = time.perf_counter()
            synergy.pair_search(x_mem, lab_mem, ranked=ranked, end=end, threads=a.threads, quiet=True)
            t["python, search"].append(time.perf_counter() - t0)
    print(f"command: {' '.join(cmd[:-1])} RECORDS")
    print(f"{n} candidates, {end * n} pairs, {a.threads} thread(s), {a.reps} runs each, alternating")
    base = statistics.median(t["program"])
    for name, v in t.items():
        m = statistics.median(v)
        print(f"{name:24s} median {m:8.3f} s   ratio to the program {m / base:5.2f}")


if __name__ == "__main__":
    main()
