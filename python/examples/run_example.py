#!/usr/bin/env python3
"""The whole chain from Python on each bundled example table: rank the
probes, search every ordered pair of candidates on 2 threads, estimate the
significance of every distinct pair, and write the files the programs write
into out/NAME/ (NAME: the table's name without .tsv).

    python3 python/examples/run_example.py [EXAMPLES_DIR]

EXAMPLES_DIR: the folder of the bundled tables (default: examples/ of the
repository this script is in).
"""
import pathlib
import sys

import synergy


def run_table(table: pathlib.Path) -> None:
    out = pathlib.Path("out") / table.stem
    out.mkdir(parents=True, exist_ok=True)
    print(f"== {table.stem}: ranking the probes ...")
    x, labels = synergy.read_expr(table)
    ranked = synergy.probe_rank(x, labels)
    n = int((ranked["score"] > synergy.CAND_BOUND).sum())
    print(f"{n} candidates scoring above {synergy.CAND_BOUND:g}: searching {n * n} ordered pairs on 2 threads ...")
    records = synergy.pair_search(x, labels, ranked=ranked, threads=2)
    print("significance of every distinct pair under shuffled labels ...")
    signif = synergy.pair_signif(x, labels, records, ranked, threads=2)
    synergy.write_ranked(ranked, out / "ranked.tsv")
    synergy.write_records(records, out / "records.tsv")
    synergy.write_signif(signif, out / "signif.tsv")
    if len(signif):
        print("top 5 distinct pairs, smallest p first:")
        print(signif[["first", "second", "base", "final", "p", "q"]].head(5).to_string(index=False))
    print(f"{int((signif['q'] < 0.05).sum())} of {len(signif)} pairs with q < 0.05\n")


def main() -> None:
    here = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2] / "examples"
    for name in ("all_bcr_abl_500.tsv", "planted_pair.tsv"):
        if (here / name).is_file():
            run_table(here / name)
    print("results in out/NAME for each table")


if __name__ == "__main__":
    main()
