# Type hints of the package's functions (docstrings in _api.py).
import os
from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np
import pandas as pd

PathLike = Union[str, os.PathLike[str]]
__version__: str
CAND_BOUND: float

class ScaleWarning(UserWarning): ...
class EmptyResultWarning(UserWarning): ...

def probe_rank(x: Any, labels: Any, case: Any = ..., *, threads: int = ..., layer: Optional[str] = ...,
               names: Optional[Sequence[str]] = ..., control: Any = ..., quiet: bool = ...) -> pd.DataFrame: ...
def pair_search(x: Any, labels: Any, case: Any = ..., *, ranked: Union[pd.DataFrame, PathLike, None] = ...,
                start: int = ..., end: Optional[int] = ..., threads: int = ..., bound: float = ...,
                layer: Optional[str] = ..., names: Optional[Sequence[str]] = ..., control: Any = ...,
                quiet: bool = ...) -> pd.DataFrame: ...
def pair_signif(x: Any, labels: Any, records: Union[pd.DataFrame, PathLike],
                ranked: Union[pd.DataFrame, PathLike, None] = ..., case: Any = ..., *, perm: Optional[int] = ...,
                seed: int = ..., hits: int = ..., tail: str = ..., particles: int = ..., bound: float = ...,
                threads: int = ..., search_null: Union[pd.DataFrame, PathLike, None] = ...,
                layer: Optional[str] = ..., names: Optional[Sequence[str]] = ..., control: Any = ...,
                quiet: bool = ...) -> pd.DataFrame: ...
def read_expr(path: PathLike, *, pheno: Optional[PathLike] = ..., column: Optional[str] = ...,
              case: Optional[str] = ..., control: Optional[str] = ..., drop: bool = ...,
              quiet: bool = ...) -> Tuple[pd.DataFrame, np.ndarray]: ...
def write_ranked(ranked: pd.DataFrame, path: PathLike) -> None: ...
def write_records(records: pd.DataFrame, path: PathLike, append: bool = ...) -> None: ...
def write_signif(signif: pd.DataFrame, path: PathLike) -> None: ...
