"""Finding and loading the native libraries: beside this package (where a wheel puts them), then
at the path of an environment variable, then on the system's search path."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Any, Iterator, List, Optional, Sequence

# The files a package may carry beside these modules, each after those it needs: the library last.
# The fleet library holds its own transport and needs no other.
if sys.platform == "win32":
    LIBRARY_FILES = ("WQDATASEND.dll", "WQCOMMSEND.dll", "VUDADUV.dll")
    FLEET_FILES = ("VUDADUV_FLEET.dll",)
else:
    LIBRARY_FILES = ("libwqdatasend.so.1", "libwqcommsend.so.1", "libvudaduv.so.1")
    FLEET_FILES = ("libvudaduv_fleet.so.1",)


def _library_candidates(bundled_names: Sequence[str], variable: str) -> Iterator[List[str]]:
    """Where a library is looked for, in order: each candidate a list of files to load in turn,
    the library last."""
    folder = os.path.dirname(os.path.abspath(__file__))
    bundled = [os.path.join(folder, name) for name in bundled_names]
    if os.path.exists(bundled[-1]):
        yield [path for path in bundled if os.path.exists(path)]
    if os.environ.get(variable):
        yield [os.environ[variable]]
    if sys.platform == "win32":
        # PATH, which LoadLibrary skips
        yield [ctypes.util.find_library(bundled_names[-1][:-4]) or bundled_names[-1]]
    else:
        yield [bundled_names[-1]]  # by its SONAME: LD_LIBRARY_PATH, ldconfig's cache


def _load_first(candidates: List[List[str]], what: str, variable: str) -> Any:
    # On 32-bit Windows the exports are __stdcall; elsewhere WinDLL and CDLL call alike.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    errors = []
    for files in candidates:
        try:
            # The transports first, so that the library finds them loaded under their names.
            return [loader(file) for file in files][-1]
        except OSError as error:
            errors.append(f"{files[-1]}: {error}")
    raise OSError(f"the {what} cannot be loaded (set {variable} to its path): "
                  + "; ".join(errors))


def load(path: Optional[str], bundled_names: Sequence[str], what: str, variable: str) -> Any:
    """The library at path, or the first that loads of where it is looked for."""
    candidates = [[path]] if path else list(_library_candidates(bundled_names, variable))
    return _load_first(candidates, what, variable)
