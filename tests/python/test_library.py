# SPDX-License-Identifier: MIT
"""The package refuses a shared library that is missing or of another release."""

import pytest

import qo3964
from qo3964 import _library


@pytest.mark.parametrize("name, expected, says", [
    ("/nonexistent/libqo3964_client.so.1", qo3964.__version__, "libqo3964-1"),
    ("libc.so.6", qo3964.__version__, "has no qo3964_library_version"),
    (_library.SONAME, "0.9.9", f"is of release {qo3964.__version__}"),
])
def test_load_refuses_a_missing_or_other_library(name, expected, says):
    with pytest.raises(ImportError, match=says):
        _library.load(name, expected)
