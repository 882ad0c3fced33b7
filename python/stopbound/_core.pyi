# Type hints of the compiled module: the engine's public interface, with
# boundaries as numpy int32 arrays and results as dicts.
from typing import Any, Optional, Sequence

import numpy as np
import numpy.typing as npt

def design(K: int, theta: float, phi: float, family: str, looks: Optional[Sequence[int]],
           min_events: int) -> dict[str, Any]: ...
def check(lower: npt.ArrayLike, upper: npt.ArrayLike) -> dict[str, Any]: ...
def oc(lower: npt.ArrayLike, upper: npt.ArrayLike,
       rates: npt.ArrayLike) -> dict[str, np.ndarray]: ...
