"""The package's files against the programs' files, byte for byte: rank, the
whole search and a range, and the significance, on the bundled example and on
generated tables (coarse grids force ties at the cut height), at 1 and 2
threads."""

import pandas as pd
import pytest

import synergy
from conftest import EXAMPLE, gen_table, run, same_bytes, write_table

CASES = [
    # name, table (None: the bundled example), threads, pair_signif options
    ("example, 1 thread", None, 1, {"perm": 3000, "hits": 5, "tail": "none"}),
    ("example, 2 threads", None, 2, {"perm": 200, "hits": 5, "particles": 8}),
    ("grid 0.01", (1, 40, 24, 0.01), 1, {"perm": 400, "hits": 3, "particles": 4}),
    ("grid 0.02, odd samples", (2, 60, 37, 0.02), 2, {"perm": 2000, "hits": 10, "tail": "none"}),
]


def opts_args(o):
    return [a for k, v in o.items() for a in (f"--{k}", v)]


@pytest.mark.parametrize("name,gen,threads,sig", CASES, ids=[c[0] for c in CASES])
def test_chain_matches_programs(progs, tmp_path, name, gen, threads, sig):
    if gen is None:
        tsv = EXAMPLE
        x, lab = synergy.read_expr(tsv)
    else:
        x, lab = gen_table(*gen)
        tsv = tmp_path / "t.tsv"
        write_table(x, lab, tsv)
    f = {k: tmp_path / f"{k}.tsv" for k in ("ranked", "rec", "rec2", "sig", "py")}
    assert run(progs["rank"], "-q", "-t", threads, tsv, f["ranked"])[0] == 1
    r = synergy.probe_rank(x, lab, threads=threads)
    synergy.write_ranked(r, f["py"])
    assert same_bytes(f["py"], f["ranked"])

    n = int((r["score"] > synergy.CAND_BOUND).sum())
    assert n > 1
    half = n // 2
    assert run(progs["search"], "-q", "-t", threads, tsv, f["ranked"], 0, n, f["rec"])[0] == 1
    assert run(progs["search"], "-q", "-t", threads, tsv, f["ranked"], half, n, f["rec2"])[0] == 1
    p = synergy.pair_search(x, lab, ranked=r, threads=threads)
    synergy.write_records(p, f["py"])
    assert same_bytes(f["py"], f["rec"])
    # a range is the program's range; ranked None ranks first
    p2 = synergy.pair_search(x, lab, start=half, threads=threads)
    synergy.write_records(p2, f["py"])
    assert same_bytes(f["py"], f["rec2"])
    # shards appended in range order give the whole search
    f["py"].unlink()
    synergy.write_records(synergy.pair_search(x, lab, ranked=f["ranked"], end=half), f["py"], append=True)
    synergy.write_records(p2, f["py"], append=True)
    assert same_bytes(f["py"], f["rec"])
    # flips count the labels the search changed
    assert [int((row != lab).sum()) for row in p["labels"]] == list(p["flips"])

    assert run(progs["signif"], "-q", "-t", threads, *opts_args(sig), tsv, f["ranked"], f["rec"], f["sig"])[0] == 0
    s = synergy.pair_signif(x, lab, p, r, threads=threads, **sig)
    synergy.write_signif(s, f["py"])
    # the same table after the comment lines, which record the same settings
    ours, theirs = (split_comments(f[k]) for k in ("py", "sig"))
    assert ours[1] == theirs[1]
    settings = [ln for ln in theirs[0] if ln.split(":")[0] in ("# seed", "# perm", "# bound")]
    assert len(settings) == 3 and set(settings) <= set(ours[0])


def split_comments(path):
    """The comment lines at the top of a file, and the bytes after them."""
    lines = path.read_bytes().split(b"\n")
    k = next(i for i, ln in enumerate(lines) if not ln.startswith(b"#"))
    return [ln.decode() for ln in lines[:k]], b"\n".join(lines[k:])


def test_search_null_as_frame_or_file(progs, tmp_path):
    x, lab = gen_table(1, 40, 24, 0.01)
    tsv = tmp_path / "t.tsv"
    write_table(x, lab, tsv)
    r = synergy.probe_rank(x, lab)
    p = synergy.pair_search(x, lab, ranked=r)
    synergy.write_ranked(r, tmp_path / "ranked.tsv")
    synergy.write_records(p, tmp_path / "rec.tsv")
    best = sorted(p["synergy"])[len(p) // 2]
    null = pd.DataFrame({"seed": [3, 4, 5], "candidates": [7, 6, 0], "best_base": [0.25, 0.5, None],
                         "best_final": [best, 0.999, None]})
    (tmp_path / "null.tsv").write_text(f"seed\tcandidates\tbest_base\tbest_final\n3\t7\t0.25\t{best!r}\n"
                                       "4\t6\t0.5\t0.999\n5\t0\tNA\tNA\n")
    opts = {"perm": 300, "hits": 3, "tail": "none"}
    assert run(progs["signif"], "-q", *opts_args(opts), "--search-null", tmp_path / "null.tsv", tsv,
               tmp_path / "ranked.tsv", tmp_path / "rec.tsv", tmp_path / "sig.tsv")[0] == 0
    for given in (null, tmp_path / "null.tsv"):
        s = synergy.pair_signif(x, lab, p, r, search_null=given, **opts)
        assert "p_search" in s.columns
        synergy.write_signif(s, tmp_path / "py.tsv")
        assert split_comments(tmp_path / "py.tsv")[1] == split_comments(tmp_path / "sig.tsv")[1]
