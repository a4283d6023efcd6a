"""The package's functions: inputs turned into one float64 table (probes in
rows), probe names and a 0/1 label per sample, handed to the C++ entry points
of synergy._core, which run the programs' own routines. Defaults and checks
come from there; only the conversion of Python objects lives here."""

from __future__ import annotations

import os
import shutil
import tempfile
import warnings
from typing import Any, Optional, Sequence, Union

import numpy as np
import pandas as pd

from . import _core

# The options' defaults, as the core states them (pair_signif --defaults).
_DEF = _core.DEFAULTS
PathLike = Union[str, "os.PathLike[str]"]


class ScaleWarning(UserWarning):
    """The table does not look like log-scale expression (the programs' note)."""


class EmptyResultWarning(UserWarning):
    """Why a result is empty, or why a search would find nothing."""


def _warn(r: dict, quiet: bool) -> None:
    """The programs' notes of a call's result as warnings."""
    if quiet:
        return
    if r["scale"]:
        warnings.warn(r["scale"], ScaleWarning, stacklevel=3)
    if r["empty"]:
        warnings.warn(r["empty"], EmptyResultWarning, stacklevel=3)


def _is_anndata(x: Any) -> bool:
    return type(x).__name__ == "AnnData" and hasattr(x, "obs") and hasattr(x, "var")


class _Input:
    """Table (probes x samples, Fortran order), names, labels and sample names."""

    def __init__(self, x: Any, labels: Any, case: Any, names: Any, layer: Optional[str], control: Any = None):
        pheno = None
        if _is_anndata(x):
            if layer is None:
                vals = x.X
            else:
                if layer not in x.layers:
                    have = ", ".join(repr(k) for k in x.layers.keys()) or "none"
                    raise ValueError(f"layer: the AnnData has no layer '{layer}' (its layers: {have})")
                vals = x.layers[layer]
            if vals is None:
                raise ValueError("x: the AnnData has no values in X (give layer=)")
            if hasattr(vals, "toarray"):  # a sparse matrix
                vals = vals.toarray()
            # AnnData holds samples x genes: its C-order array is the column-major probes x samples table
            vals = _numbers(vals).T
            self.names = [str(v) for v in x.var_names]
            self.samples = [str(v) for v in x.obs_names]
            pheno = x.obs
        else:
            if layer is not None:
                raise ValueError("layer: only an AnnData has layers")
            if isinstance(x, pd.DataFrame):
                if names is None:
                    names = x.index
                self.samples = [str(v) for v in x.columns]
                vals = _numbers(x.to_numpy())
            else:
                vals = _numbers(x)
                self.samples = None
            if vals.ndim != 2:
                raise ValueError(f"x: expected a 2-dimensional table (probes x samples), not {vals.ndim} dimensions")
            if names is None:
                if vals.shape[0] > 0:
                    raise ValueError("x: the rows have no names (probe names): give names= or a pandas.DataFrame")
                names = []
            self.names = [str(v) for v in names]
            if len(self.names) != vals.shape[0]:
                raise ValueError(f"names: {len(self.names)} names for {vals.shape[0]} rows")
        self.x = np.asfortranarray(vals, dtype=np.float64)
        self.labels = _labels(labels, case, control, pheno, self.samples, self.x.shape[1])

    def unique_names(self) -> None:
        """Records name their pairs: a name on two rows would merge two probes."""
        seen: dict = {}
        for k, n in enumerate(self.names):
            if n in seen:
                raise ValueError(
                    f"x: probe '{n}' names two rows (probe {seen[n]} and probe {k}): pairs are told apart by name, "
                    "so probe names must be unique (AnnData: var_names_make_unique())")
            seen[n] = k


def _numbers(v: Any) -> np.ndarray:
    a = np.asarray(v)
    if a.dtype.kind == "O":  # a pandas frame of mixed columns: numbers only
        try:
            a = a.astype(np.float64)
        except (TypeError, ValueError):
            raise ValueError("x: the values are not numbers") from None
    if a.dtype.kind not in "iuf":
        raise ValueError("x: the values are not numbers")
    return a


def _labels(labels: Any, case: Any, control: Any, pheno: Any, samples: Optional[list], n: int) -> list:
    """A 0/1 label per sample: a 0/1 vector (case None), or phenotype values
    (an obs column name, a pandas Series matched by sample name, or one value
    per sample) with the value that counts as 1."""
    if case is None:
        if control is not None:
            raise ValueError("control: needs case= (the value that counts as 1)")
        if isinstance(labels, str):
            raise ValueError(f"labels: '{labels}' is a column name: give case= too (the value that counts as 1)")
        v = np.asarray(labels, dtype=object).ravel()
        if len(v) != n:
            raise ValueError(f"labels: {len(v)} labels for {n} samples")
        out = []
        for k, e in enumerate(v):
            ok = isinstance(e, (bool, np.bool_, int, np.integer, float, np.floating)) and e in (0, 1)
            if not ok:
                raise ValueError(f"labels: label of column {k + 1} is {_show(e)}, expected 0 or 1")
            out.append(int(e))
        return out
    what = "labels"
    if isinstance(labels, str):
        if pheno is None:
            raise ValueError(
                "labels: a column name needs an AnnData (its obs); for a table give a 0/1 vector, or the "
                "phenotype values (a pandas.Series by sample name) with case=")
        if labels not in pheno.columns:
            raise ValueError(f"labels: no obs column '{labels}'")
        what = f"phenotype '{labels}'"
        labels = pheno[labels]
    if isinstance(labels, pd.Series) and not isinstance(labels.index, pd.RangeIndex) and samples is not None:
        # a sample sheet's column: matched by sample name
        idx = {str(k): i for i, k in enumerate(labels.index)}
        missing = [s for s in samples if s not in idx]
        if missing:
            raise ValueError(f"{what}: sample '{missing[0]}' is not in its index (the sample names)")
        vals = [labels.iloc[idx[s]] for s in samples]
    else:
        vals = list(np.asarray(labels, dtype=object).ravel())
        if len(vals) != n:
            raise ValueError(f"{what}: {len(vals)} values for {n} samples")
    out = []
    for k, v in enumerate(vals):
        if v is None or (isinstance(v, float) and np.isnan(v)) or v is pd.NA:
            name = samples[k] if samples is not None else f"column {k + 1}"
            raise ValueError(f"{what}: the value of sample '{name}' is missing" if samples is not None
                             else f"{what}: the value of {name} is missing")
        if v == case:
            out.append(1)
        elif control is None or v == control:
            out.append(0)
        else:
            name = samples[k] if samples is not None else f"column {k + 1}"
            raise ValueError(f"{what}: sample '{name}' is {_show(v)}, neither case {_show(case)} nor control "
                             f"{_show(control)} (select the samples first)")
    # a misspelt value would silently label every sample 0
    if n and 1 not in out:
        raise ValueError(f"{what}: no sample has the value {_show(case)}")
    return out


def _show(v: Any) -> str:
    if isinstance(v, (float, np.floating)):
        return "NaN" if np.isnan(v) else f"{v:g}"
    return repr(v) if isinstance(v, str) else str(v)


def _threads(t: Any) -> float:
    if isinstance(t, bool) or not isinstance(t, (int, float, np.integer, np.floating)):
        raise ValueError(f"threads: thread count '{t}' is not a number from 0 to {_core.MAX_THREADS}")
    return float(t)


def _pos(v: Any, what: str) -> int:
    if isinstance(v, bool) or not isinstance(v, (int, np.integer)) and not (
            isinstance(v, (float, np.floating)) and float(v).is_integer()):
        raise ValueError(f"{what}: '{v}' is not a whole number")
    v = int(v)
    if abs(v) > 2**31 - 1:
        raise ValueError(f"{what}: '{v}' is not a whole number")
    return v


def _int(v: Any, what: str) -> int:
    """A whole number, clamped to 64 bits (the core saturates it to its range)."""
    if isinstance(v, bool) or not isinstance(v, (int, np.integer)) and not (
            isinstance(v, (float, np.floating)) and float(v).is_integer()):
        raise ValueError(f"{what}: '{v}' is not a whole number")
    return max(-(2**63), min(int(v), 2**63 - 1))


def _num(v: Any, what: str) -> float:
    if isinstance(v, bool) or not isinstance(v, (int, float, np.integer, np.floating)):
        raise ValueError(f"{what}: expected one number")
    return float(v)


def _whole(v: Any) -> str:
    """A whole number as the programs' options take it (the C++ side applies the rule)."""
    if isinstance(v, (int, np.integer)) and not isinstance(v, bool):
        return str(int(v))
    if isinstance(v, (float, np.floating)) and float(v).is_integer():
        return "%.0f" % v
    return str(v)


def _need(d: Any, cols: Sequence[str], what: str) -> None:
    if not isinstance(d, pd.DataFrame):
        raise ValueError(f"{what}: expected a pandas.DataFrame")
    for c in cols:
        if c not in d.columns:
            raise ValueError(f"{what}: no column '{c}'")


def probe_rank(x: Any, labels: Any, case: Any = None, *, threads: int = int(_DEF["threads"]), layer: Optional[str] = None,
               names: Optional[Sequence[str]] = None, control: Any = None, quiet: bool = False) -> pd.DataFrame:
    """Rank the probes by their single-probe score, as probe_rank does.

    x: probes x samples (numpy array with ``names=``, or a pandas.DataFrame
    whose index names the probes), or an AnnData (samples x genes; ``layer=``
    for a layer instead of X). labels: a 0/1 vector, one per sample; or, with
    ``case``, the phenotype values (an obs column name of the AnnData, or a
    pandas.Series indexed by sample name, as a sample sheet's column) and the
    value that counts as 1 (``control``: the one value that counts as 0).
    threads: worker threads (0: every core); the result does not depend on it.

    Returns a DataFrame in ranked order: name, probe (0-based row), score, clusters.

    >>> import synergy
    >>> x, lab = synergy.read_expr("examples/all_bcr_abl_500.tsv")
    >>> r = synergy.probe_rank(x, lab, threads=2)
    >>> synergy.write_ranked(r, "ranked.tsv")   # the bytes probe_rank writes
    """
    inp = _Input(x, labels, case, names, layer, control)
    r = _core.rank(inp.x, inp.names, inp.labels, _threads(threads), quiet)
    _warn(r, quiet)
    if not inp.names and not quiet:
        warnings.warn("x has no probe rows: the list is empty", EmptyResultWarning, stacklevel=2)
    return pd.DataFrame(r["columns"])


def write_ranked(ranked: pd.DataFrame, path: PathLike) -> None:
    """Write a ranked list as probe_rank writes it (the file replaced whole).

    >>> synergy.write_ranked(synergy.probe_rank(x, lab), "ranked.tsv")
    """
    name, probe, score, clusters = _core.RANKED_COLUMNS
    _need(ranked, _core.RANKED_COLUMNS, "ranked")
    _core.write_ranked([str(v) for v in ranked[name]], [int(v) for v in ranked[probe]],
                       np.asarray(ranked[score], dtype=np.float64).tolist(), [int(v) for v in ranked[clusters]],
                       os.fspath(os.path.expanduser(path)))


class _Scratch:
    """Objects written to files in a scratch folder for the programs' readers."""

    def __init__(self) -> None:
        self.dir: Optional[str] = None  # made at the first object written

    def path(self, what: str) -> str:
        if self.dir is None:
            self.dir = tempfile.mkdtemp(prefix="synergy")
        return os.path.join(self.dir, what)

    def file(self, v: Any, what: str, writer: Any) -> tuple:
        """(path, name for messages): a file name as given, else the object written."""
        if isinstance(v, (str, os.PathLike)):
            p = os.fspath(os.path.expanduser(v))
            return p, p
        if not isinstance(v, pd.DataFrame):
            raise ValueError(f"{what}: expected a pandas.DataFrame or a file name")
        p = self.path(what)
        writer(v, p)
        return p, what

    def ranked(self, ranked: Any, inp: _Input, nt: float) -> tuple:
        if ranked is None:
            ranked = pd.DataFrame(_core.rank(inp.x, inp.names, inp.labels, nt, True)["columns"])
        if isinstance(ranked, pd.DataFrame):
            clusters = _core.RANKED_COLUMNS[3]
            _need(ranked, [c for c in _core.RANKED_COLUMNS if c != clusters], "ranked")
            if clusters not in ranked.columns:  # not read by the search
                ranked = ranked.assign(**{clusters: 0})
        return self.file(ranked, "ranked", write_ranked)

    def close(self) -> None:
        if self.dir is not None:
            shutil.rmtree(self.dir, ignore_errors=True)


def pair_search(x: Any, labels: Any, case: Any = None, *, ranked: Any = None, start: int = 0,
                end: Optional[int] = None, threads: int = int(_DEF["threads"]), bound: float = _core.CAND_BOUND,
                layer: Optional[str] = None, names: Optional[Sequence[str]] = None, control: Any = None,
                quiet: bool = False) -> pd.DataFrame:
    """Search candidate pairs with the greedy label-flip search, as pair_search does.

    x, labels, case, layer, names, control: as for probe_rank. ranked: the
    ranked list of the same table (what probe_rank returns, or a file), read
    and checked as the program reads RANKED; None ranks first. start, end:
    candidate positions [start, end), 0-based (end None: all). bound: ranked
    probes scoring above it are candidates.

    Returns a DataFrame, one row per record: first, second, synergy, flips,
    and labels and clusters (each an int32 array, one value per sample; the
    sample names in ``.attrs["samples"]``). Ctrl-C stops the search between
    pairs (KeyboardInterrupt).

    >>> r = synergy.probe_rank(x, lab)
    >>> p = synergy.pair_search(x, lab, ranked=r, threads=2)
    >>> synergy.write_records(p, "records.tsv")  # the bytes pair_search appends
    """
    inp = _Input(x, labels, case, names, layer, control)
    inp.unique_names()
    nt = _threads(threads)
    start = _pos(start, "start")
    end_i = -(2**31) if end is None else _pos(end, "end")  # the core's "all"
    bound = _num(bound, "bound")
    sc = _Scratch()
    try:
        rk_path, rk_name = sc.ranked(ranked, inp, nt)
        r = _core.search(inp.x, inp.names, inp.labels, rk_path, rk_name, bound, start, end_i, nt, quiet)
    finally:
        sc.close()
    # the program's notes: why nothing was searched, or why nothing will be found
    if not inp.names:
        r["empty"] = "no candidates: x has no probe rows"
    elif r["candidates"] == 0 and not r["empty"]:
        r["empty"] = f"no candidates: no probe of {rk_name} scores above the bound {bound:g}"
    elif r["candidates"] and end is not None and start > end_i:
        r["empty"] = f"start {start} is above end {end_i}: the range is empty, no pair searched"
    elif r["candidates"] and start < (r["candidates"] if end is None else end_i) and not len(r["first"]):
        r["empty"] = "no pair of the range has a joint partition: no record"
    _warn(r, quiet)
    out = pd.DataFrame({"first": r["first"], "second": r["second"], "synergy": r["synergy"], "flips": r["flips"]})
    out["labels"] = list(r["labels"])
    out["clusters"] = list(r["clusters"])
    out.attrs["samples"] = inp.samples
    return out


def write_records(records: pd.DataFrame, path: PathLike, append: bool = False) -> None:
    """Write pair records as pair_search writes them.

    records: what pair_search returns (rows may be selected or reordered).
    append False replaces the file whole; True appends record by record, as
    pair_search does (shards in range order give the whole search's file).

    >>> synergy.write_records(p, "records.tsv")
    """
    _need(records, ["first", "second", "synergy", "labels", "clusters"], "records")
    n = len(records)
    try:
        lab = np.vstack(list(records["labels"])) if n else np.zeros((0, 0), np.int32)
        cl = np.vstack(list(records["clusters"])) if n else np.zeros((0, 0), np.int32)
    except ValueError:
        raise ValueError("records: labels and clusters must hold one row per record, of one length") from None
    _core.write_records([str(v) for v in records["first"]], [str(v) for v in records["second"]],
                        np.asarray(records["synergy"], dtype=np.float64).tolist(), lab, cl,
                        os.fspath(os.path.expanduser(path)), bool(append))


def read_expr(path: PathLike, *, pheno: Optional[PathLike] = None, column: Optional[str] = None,
              case: Optional[str] = None, control: Optional[str] = None, drop: bool = False,
              quiet: bool = False) -> tuple:
    """Read an expression table file (plain or gzip) as the programs read it.

    Returns (x, labels): x a DataFrame (probes x samples, index the probe
    names), labels an int array of 0/1. With ``pheno`` (a sample sheet), the
    table has no label line and the labels come from the sheet's ``column``
    (``case`` counts as 1, ``control`` as 0; ``drop`` leaves out the samples of
    other values), as the programs' --pheno, --column, --case, --control and
    --drop-other take them; ``x.attrs["classes"]`` then names the two classes.

    >>> x, lab = synergy.read_expr("examples/all_bcr_abl_500.tsv")
    >>> synergy.probe_rank(x, lab).head(3)
    """
    sheet = "" if pheno is None else os.fspath(os.path.expanduser(pheno))
    if pheno is None and (column is not None or case is not None or control is not None or drop):
        raise ValueError("column, case, control and drop need pheno= (a sample sheet)")
    if pheno is not None and (column is None or case is None):
        raise ValueError("pheno: needs column= and case=")
    r = _core.read(os.fspath(os.path.expanduser(path)), sheet, column or "", case or "", control or "", bool(drop))
    _warn(r, quiet)
    labels = r["labels"]
    x = np.asarray(r["x"]).reshape((len(r["names"]), len(labels)), order="F")
    df = pd.DataFrame(x, index=pd.Index(r["names"]), columns=r["samples"], copy=False)
    df.attrs["classes"] = tuple(r["classes"])
    return df, labels


def _write_null(d: pd.DataFrame, path: str) -> None:
    """Search-null lines (pair_signif --null-line), NaN or None best synergies
    for a search without records."""
    cols = _core.NULL_COLUMNS
    _need(d, cols, "search_null")
    _core.write_null([int(v) for v in d[cols[0]]], [int(v) for v in d[cols[1]]],
                     pd.to_numeric(d[cols[2]]).astype(np.float64).tolist(),
                     pd.to_numeric(d[cols[3]]).astype(np.float64).tolist(), path)


def pair_signif(x: Any, labels: Any, records: Any, ranked: Any = None, case: Any = None, *,
                perm: Optional[int] = None, seed: int = int(_DEF["seed"]), hits: int = int(_DEF["hits"]),
                tail: str = _DEF["tail"], particles: int = int(_DEF["particles"]), bound: float = _core.CAND_BOUND,
                threads: int = int(_DEF["threads"]), search_null: Any = None, layer: Optional[str] = None,
                names: Optional[Sequence[str]] = None, control: Any = None, quiet: bool = False) -> pd.DataFrame:
    """Permutation significance of the pairs of a search, as pair_signif does.

    records: what pair_search returns, or a pair record file. ranked: the
    ranked list (DataFrame or file) the search used, checked against the
    table; None: the table's own ranking. The records must belong to it at
    the bound. perm, seed, hits, tail ("split" or "none"), particles, bound:
    as pair_signif's --perm, --seed, --hits, --tail, --particles, --bound
    (perm None: the program's default for the tail mode). search_null: None,
    or the search-null lines (DataFrame with seed, candidates, best_base,
    best_final, or a file): adds p_search. Ctrl-C stops the run between
    rounds (KeyboardInterrupt).

    Returns a DataFrame in the program's order: first, second, base, final,
    flips, p, q, [p_search], perms, admissible, hits, and with tail "split"
    p_source and p_log2err.

    >>> s = synergy.pair_signif(x, lab, p, r, threads=2)
    >>> synergy.write_signif(s, "signif.tsv")  # the bytes pair_signif writes
    """
    inp = _Input(x, labels, case, names, layer, control)
    inp.unique_names()
    nt = _threads(threads)
    perm_s = "" if perm is None else _whole(perm)
    if not isinstance(tail, str):
        raise ValueError('tail: must be "split" or "none"')
    sc = _Scratch()
    try:
        rec_path, rec_name = sc.file(records, "records", write_records)
        rk_path, rk_name = sc.ranked(ranked, inp, nt)
        nl_path, nl_name = ("", "") if search_null is None else sc.file(search_null, "search_null", _write_null)
        r = _core.signif(inp.x, inp.names, inp.labels, rec_path, rec_name, rk_path, rk_name, nl_path, nl_name,
                         perm_s, _whole(seed), _int(hits, "hits"), tail, _int(particles, "particles"),
                         _num(bound, "bound"), nt, quiet)
    finally:
        sc.close()
    _warn(r, quiet)
    out = pd.DataFrame(r["columns"])
    if not len(out) and not quiet:
        warnings.warn(f"{rec_name} holds no pair record: the table is empty", EmptyResultWarning,
                      stacklevel=2)
    # what write_signif records in the table's comment lines, as pair_signif does
    call = {"perm": perm, "seed": seed, "hits": hits, "tail": tail, "particles": particles, "bound": bound,
            "threads": threads,
            "search_null": search_null if search_null is None or isinstance(search_null, str) else "..."}
    args = ", ".join(f"{k}={v!r}" for k, v in call.items() if v is not None)
    out.attrs["provenance"] = {"version": f"synergy {_core.version} (Python)",
                               "command": f"synergy.pair_signif(x, labels, records, ranked, {args})",
                               "settings": [tuple(kv) for kv in r["provenance"]]}
    return out


def write_signif(signif: pd.DataFrame, path: PathLike) -> None:
    """Write a significance table as pair_signif writes it (the file replaced whole).

    signif: what pair_signif returns (rows may be selected or reordered). Its
    comment lines record the version, the call and the settings
    (``signif.attrs["provenance"]``); after them the bytes are the program's.

    >>> synergy.write_signif(s, "signif.tsv")
    """
    cols = _core.signif_columns(False, False)
    _need(signif, cols, "signif")
    first, second, base, final, flips, p, q, perms, adm, hits = cols
    ps_col, src_col, l2e_col = (c for c in _core.signif_columns(True, True) if c not in cols)

    def f64(c: str) -> list:
        return np.asarray(signif[c], dtype=np.float64).tolist()

    ps = f64(ps_col) if ps_col in signif.columns else None
    tl = src_col in signif.columns and l2e_col in signif.columns
    pv = signif.attrs.get("provenance") or {}
    _core.write_signif([str(v) for v in signif[first]], [str(v) for v in signif[second]], f64(base), f64(final),
                       [int(v) for v in signif[flips]], f64(p), f64(q), ps, f64(perms), f64(adm), f64(hits),
                       [str(v) for v in signif[src_col]] if tl else None, f64(l2e_col) if tl else None,
                       str(pv.get("version", "")), str(pv.get("command", "")),
                       [(str(k), str(v)) for k, v in pv.get("settings", [])], os.fspath(os.path.expanduser(path)))
