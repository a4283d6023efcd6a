"""Gene pairs whose joint clustering tells more about a two-class phenotype
than either gene alone: the programs probe_rank, pair_search and pair_signif
as functions over numpy arrays, pandas DataFrames and AnnData objects, on the
same C++ core, writing the same bytes.

>>> import synergy
>>> x, lab = synergy.read_expr("examples/all_bcr_abl_500.tsv")
>>> r = synergy.probe_rank(x, lab)
>>> p = synergy.pair_search(x, lab, ranked=r, threads=2)
>>> s = synergy.pair_signif(x, lab, p, r, threads=2)
"""

from ._api import (EmptyResultWarning, ScaleWarning, pair_search, pair_signif, probe_rank, read_expr, write_ranked,
                   write_records, write_signif)
from ._core import CAND_BOUND, version as __version__

__all__ = ["probe_rank", "pair_search", "pair_signif", "read_expr", "write_ranked", "write_records", "write_signif",
           "ScaleWarning", "EmptyResultWarning", "CAND_BOUND"]
