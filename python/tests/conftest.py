"""Shared fixtures: generated tables, the programs (paths from the environment,
set by the ctest suite) and a runner that compares files byte for byte."""

import os
import pathlib
import subprocess

import numpy as np
import pandas as pd
import pytest

PROGS = {k: os.environ.get(v, "") for k, v in
         (("rank", "SYN_PROBE_RANK"), ("search", "SYN_PAIR_SEARCH"), ("signif", "SYN_PAIR_SIGNIF"))}
EXAMPLE = os.environ.get("SYN_EXAMPLE") or str(pathlib.Path(__file__).resolve().parents[2] / "examples" /
                                               "all_bcr_abl_500.tsv")


@pytest.fixture
def progs():
    missing = [v for v in PROGS.values() if not v or not os.path.isfile(v)]
    if missing:
        pytest.skip("SYN_PROBE_RANK, SYN_PAIR_SEARCH and SYN_PAIR_SIGNIF are not set")
    return PROGS


def run(prog, *args):
    """A program's exit status and its stderr."""
    p = subprocess.run([prog, *map(str, args)], capture_output=True, text=True)
    return p.returncode, p.stderr


def gen_table(seed, n_prob, n_samp, step=0.01):
    """Values on a coarse grid, so distances tie and land on the cut height; a
    few probes carry the labels in pairs only. A probes x samples DataFrame
    and the 0/1 labels."""
    rng = np.random.default_rng(seed)
    lab = rng.permutation(np.arange(n_samp) % 2)
    x = np.round(rng.uniform(0, 0.5, (n_prob, n_samp)) / step) * step
    k = min(n_prob, 6)
    x[:k] += 0.3 * np.outer(rng.uniform(size=k) > 0.5, lab)
    df = pd.DataFrame(x, index=[f"p{i + 1:03d}" for i in range(n_prob)],
                      columns=[f"s{j + 1:02d}" for j in range(n_samp)])
    return df, lab


def write_table(df, lab, path):
    """The table in the programs' input format; %.17g reads back as the same doubles."""
    with open(path, "w") as f:
        f.write("probe\t" + "\t".join(df.columns) + "\n")
        f.write("label\t" + "\t".join(str(int(v)) for v in lab) + "\n")
        for name, row in zip(df.index, df.to_numpy()):
            f.write(name + "\t" + "\t".join("%.17g" % v for v in row) + "\n")


def same_bytes(a, b):
    return pathlib.Path(a).read_bytes() == pathlib.Path(b).read_bytes()
