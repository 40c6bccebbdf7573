# SPDX-License-Identifier: MIT
"""Loads the shared library libqo3964_client.so.1 and declares its calls.

The package works only with the library of its own release: at import it
asks the library for its release and refuses any other, so that a
mismatch shows at once and not as a wrong result later.
"""

from __future__ import annotations

import ctypes
from typing import Any

from ._version import __version__

SONAME = "libqo3964_client.so.1"

_c_int = ctypes.c_int
_c_char_p = ctypes.c_char_p

# Name: (result type, argument types), as in qo3964_client.h.
_CALLS: dict[str, tuple[Any, list[Any]]] = {
    "qo3964m_open_shm": (_c_int, [_c_int, _c_char_p]),
    "qo3964m_close_shm": (_c_int, [_c_int]),
    "qo3964m_svr_info": (_c_int, [_c_int, ctypes.c_void_p]),
    "qo3964m_send": (_c_int, [_c_int, _c_char_p, _c_int, _c_int]),
    "qo3964m_send_strt": (_c_int, [_c_int, _c_char_p, _c_int, _c_int]),
    "qo3964m_send_control": (_c_int, [_c_int]),
    "qo3964m_receive": (_c_int, [_c_int, _c_char_p, _c_int]),
    "qo3964m_receive_wait": (_c_int, [_c_int, _c_char_p, _c_int, _c_int]),
    "qo3964_errortext": (_c_char_p, [_c_int]),
    "qo3964_errortext_en": (_c_char_p, [_c_int]),
    "qo7_version": (_c_char_p, [_c_char_p]),
}


def _declare(function: Any, result: Any, arguments: list[Any]) -> Any:
    function.restype = result
    function.argtypes = arguments
    return function


def load(name: str = SONAME, expected: str = __version__) -> ctypes.CDLL:
    """Loads the library `name` and checks that its release is `expected`.

    Raises ImportError, naming the library and both releases, when it is
    missing or of another release.
    """
    try:
        library = ctypes.CDLL(name)
    except OSError as error:
        raise ImportError(
            f"qo3964 {expected} needs the shared library {SONAME} (Debian package libqo3964-1, "
            f"the same release): {error}"
        ) from None
    try:
        library_version = _declare(library.qo3964_library_version, _c_char_p, [])
    except AttributeError:
        raise ImportError(
            f"qo3964 {expected} needs {SONAME} of release {expected}; {name} is of an older "
            f"release (it has no qo3964_library_version)"
        ) from None
    found = library_version().decode("ascii", "replace")
    if found != expected:
        raise ImportError(f"qo3964 {expected} needs {SONAME} of release {expected}; {name} is of release {found}")
    for call, (result, arguments) in _CALLS.items():
        _declare(getattr(library, call), result, arguments)
    return library


lib = load()
