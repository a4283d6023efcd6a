"""numpy, pandas and AnnData inputs give the same results; labels from an obs
column, a sample sheet's column or a sheet file; the scale warning; bad input
stops with ValueError and the programs' one-line message."""

import re
import warnings

import numpy as np
import pandas as pd
import pytest

import synergy
from conftest import EXAMPLE, gen_table, run, same_bytes, write_table


@pytest.fixture(scope="module")
def table():
    x, lab = gen_table(4, 50, 30, 0.02)
    group = np.where(lab == 1, "early", "late")
    return x, lab, group


def anndata_of(x, group, layer=False):
    ad = pytest.importorskip("anndata")
    obs = pd.DataFrame({"batch": group}, index=x.columns)
    var = pd.DataFrame(index=x.index)
    vals = x.to_numpy().T.copy()
    # (anndata 0.8 stores X as float32 unless told otherwise)
    if layer:  # X holds something else: the layer must be the one read
        return ad.AnnData(np.zeros_like(vals), obs=obs, var=var, layers={"logexpr": vals}, dtype=vals.dtype)
    return ad.AnnData(vals, obs=obs, var=var, dtype=vals.dtype)


def test_inputs_give_identical_results(table):
    x, lab, group = table
    ref_r = synergy.probe_rank(x, lab)
    ref_p = synergy.pair_search(x, lab, ranked=ref_r, threads=2)
    assert len(ref_p) > 0
    sheet_col = pd.Series(group, index=x.columns)[::-1]  # matched by name, not by position
    inputs = {
        "numpy + names": ((x.to_numpy(), lab), {"names": list(x.index)}),
        "numpy C order, float32-safe ints as labels": ((np.ascontiguousarray(x.to_numpy()), list(lab)),
                                                       {"names": x.index}),
        "DataFrame + sheet column": ((x, sheet_col, "early"), {}),
        "DataFrame + values, control": ((x, list(group), "early"), {"control": "late"}),
        "AnnData obs column": ((anndata_of(x, group), "batch", "early"), {}),
        "AnnData layer + obs column": ((anndata_of(x, group, layer=True), "batch", "early"), {"layer": "logexpr"}),
        "AnnData + 0/1 labels": ((anndata_of(x, group), lab.astype(bool)), {}),
    }
    for name, (args, kw) in inputs.items():
        r = synergy.probe_rank(*args, **kw)
        pd.testing.assert_frame_equal(r, ref_r, obj=name)
        p = synergy.pair_search(*args, ranked=r, **kw)
        pd.testing.assert_frame_equal(p.drop(columns=["labels", "clusters"]),
                                      ref_p.drop(columns=["labels", "clusters"]), obj=name)
        assert np.array_equal(np.vstack(p["labels"]), np.vstack(ref_p["labels"])), name
        assert np.array_equal(np.vstack(p["clusters"]), np.vstack(ref_p["clusters"])), name
    s = synergy.pair_signif(anndata_of(x, group, layer=True), "batch", ref_p, ref_r, "early", layer="logexpr",
                            perm=500, hits=3, tail="none")
    pd.testing.assert_frame_equal(s, synergy.pair_signif(x, lab, ref_p, ref_r, perm=500, hits=3, tail="none"))


def test_sample_sheet_file_gives_the_label_line_results(progs, tmp_path, table):
    x, lab, group = table
    labelled = tmp_path / "t.tsv"
    write_table(x, lab, labelled)
    bare = tmp_path / "bare.tsv"
    lines = labelled.read_text().split("\n")
    bare.write_text("\n".join(lines[:1] + lines[2:]))
    sheet = tmp_path / "sheet.tsv"
    # another order, an extra sample and an extra column
    rows = [f"{s}\t{g}\tx" for s, g in zip(x.columns, group)][::-1] + ["s99\tearly\tx"]
    sheet.write_text("sample\tbatch\tother\n" + "\n".join(rows) + "\n")
    xs, ls = synergy.read_expr(bare, pheno=sheet, column="batch", case="early")
    assert xs.attrs["classes"] == ("late", "early")
    r = synergy.probe_rank(xs, ls)
    synergy.write_ranked(r, tmp_path / "py.tsv")
    assert run(progs["rank"], "-q", labelled, tmp_path / "prog.tsv")[0] == 1
    assert same_bytes(tmp_path / "py.tsv", tmp_path / "prog.tsv")
    n = int((r["score"] > synergy.CAND_BOUND).sum())
    assert run(progs["search"], "-q", labelled, tmp_path / "prog.tsv", 0, n, tmp_path / "rec.tsv")[0] == 1
    p = synergy.pair_search(xs, ls, ranked=r)
    synergy.write_records(p, tmp_path / "py.tsv")
    assert same_bytes(tmp_path / "py.tsv", tmp_path / "rec.tsv")
    opts = {"perm": 300, "hits": 3, "tail": "none"}
    pd.testing.assert_frame_equal(synergy.pair_signif(xs, ls, p, r, **opts),
                                  synergy.pair_signif(x, lab, tmp_path / "rec.tsv", tmp_path / "prog.tsv", **opts))
    # a bad sheet: the programs' message
    sheet.write_text("sample\tbatch\n" + "\n".join(rows[1:]) + "\n")
    code, err = run(progs["rank"], "--pheno", sheet, "--column", "batch", "--case", "early", bare, tmp_path / "o")
    assert code == 2
    with pytest.raises(ValueError) as e:
        synergy.read_expr(bare, pheno=sheet, column="batch", case="early")
    assert "probe_rank: " + str(e.value) == err.strip()


def test_scale_warning():
    x, lab = synergy.read_expr(EXAMPLE)
    z = x.sub(x.mean(axis=1), axis=0).div(x.std(axis=1), axis=0)
    for name, vals, warns in [("log2", x, False), ("natural log", x * np.log(2), False),
                              ("log10", x * np.log10(2), False), ("linear", 2.0 ** x, True), ("z-scores", z, True)]:
        with warnings.catch_warnings(record=True) as w:
            warnings.simplefilter("always")
            synergy.probe_rank(vals.iloc[:40], lab)
        got = [m for m in w if issubclass(m.category, synergy.ScaleWarning)]
        assert bool(got) == warns, name
        with warnings.catch_warnings(record=True) as w:
            warnings.simplefilter("always")
            synergy.probe_rank(vals.iloc[:40], lab, quiet=True)
        assert not w, name


def test_empty_results_say_why(table):
    x, lab, _ = table
    r = synergy.probe_rank(x, lab)
    cases = [
        (lambda: synergy.probe_rank(x, np.zeros_like(lab)), "all 30 samples are labelled 0: the labels carry no "
                                                             "information, so no pair can be found"),
        (lambda: synergy.pair_search(x, lab, ranked=r, start=2, end=1),
         "start 2 is above end 1: the range is empty, no pair searched"),
        (lambda: synergy.pair_search(x, lab, ranked=r, bound=1),
         "no candidates: no probe of ranked scores above the bound 1"),
        (lambda: synergy.pair_signif(x, lab, synergy.pair_search(x, lab, ranked=r, end=0), r),
         "records holds no pair record: the table is empty"),
    ]
    for call, msg in cases:
        with warnings.catch_warnings(record=True) as w:
            warnings.simplefilter("always")
            call()
        assert [str(m.message) for m in w if issubclass(m.category, synergy.EmptyResultWarning)] == [msg]


def test_bad_input_raises_one_line(table):
    x, lab, group = table
    nan = x.copy()
    nan.iloc[1, 2] = np.nan
    tab = x.rename(index={"p001": "a\tb"})
    dup = x.rename(index={"p002": "p001"})
    ad = anndata_of(x, group)
    cases = [
        (lambda: synergy.probe_rank(nan, lab), "x: row 2: probe 'p002': value in column 3 is not a finite number"),
        (lambda: synergy.probe_rank(x, lab[1:]), "labels: 29 labels for 30 samples"),
        (lambda: synergy.probe_rank(x, np.where(lab == 1, 2, 0)),
         f"labels: label of column {int(np.argmax(lab)) + 1} is 2, expected 0 or 1"),
        (lambda: synergy.probe_rank(x, np.r_[lab[:-1], np.nan]), "labels: label of column 30 is NaN, expected 0 or 1"),
        (lambda: synergy.probe_rank(ad, "batch", "EARLY"), "phenotype 'batch': no sample has the value 'EARLY'"),
        (lambda: synergy.probe_rank(ad, "group", "early"), "labels: no obs column 'group'"),
        (lambda: synergy.probe_rank(ad, lab, layer="raw"), "layer: the AnnData has no layer 'raw' (its layers: none)"),
        (lambda: synergy.probe_rank(tab, lab), "x: row 1: probe 'a\tb': the name holds a tab or a line break"),
        (lambda: synergy.pair_search(dup, lab),
         "x: probe 'p001' names two rows (probe 0 and probe 1): pairs are told apart by name, so probe names must be "
         "unique (AnnData: var_names_make_unique())"),
        (lambda: synergy.probe_rank(x.to_numpy(), lab),
         "x: the rows have no names (probe names): give names= or a pandas.DataFrame"),
        (lambda: synergy.probe_rank(x, lab, threads=-1), "threads: thread count '-1' is not a number from 0 to 1024"),
        (lambda: synergy.pair_search(x, lab, end=99), re.compile(r"range 0\.\.99 reaches outside the candidate "
                                                                 r"positions 0\.\.\d+ of ranked")),
        (lambda: synergy.pair_signif(x, lab, "/nonexistent/rec.tsv", seed=-1),
         "seed: '-1' is not a whole number from 0 to 18446744073709551615"),
        (lambda: synergy.pair_signif(x, lab, "/nonexistent/rec.tsv", tail="both"),
         "tail: must be split or none, not 'both'"),
        (lambda: synergy.pair_signif(x, lab, "/nonexistent/rec.tsv", hits=0), "hits: must be from 1 to 1000000"),
        (lambda: synergy.pair_signif(x, lab, "/nonexistent/rec.tsv", particles=10**12),
         "particles: must be from 2 to 100000"),
        (lambda: synergy.pair_search(x, lab, bound=2), "bound: '2' is not from 0 to 1 (bits)"),
    ]
    for call, msg in cases:
        with pytest.raises(ValueError) as e:
            call()
        if isinstance(msg, str):
            assert str(e.value) == msg
        else:
            assert msg.fullmatch(str(e.value)), str(e.value)


def test_bad_file_gives_the_programs_message(progs, tmp_path):
    head = "probe\ta\tb\tc\nlabel\t0\t1\t1\n"
    for name, text in {"label not 0/1": "probe\ta\tb\tc\nlabel\t0\t2\t1\np\t1\t2\t3\n",
                       "short row": head + "p\t1\t2\t3\nq\t1\t2\n", "not a number": head + "p\t1\tnan\t3\n",
                       "no label line": "probe\ta\tb\n", "empty": ""}.items():
        f = tmp_path / "bad.tsv"
        f.write_text(text)
        code, err = run(progs["rank"], f, tmp_path / "out.tsv")
        assert code == 2, name
        with pytest.raises(ValueError) as e:
            synergy.read_expr(f)
        assert "probe_rank: " + str(e.value) == err.strip(), name
