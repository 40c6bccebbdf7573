# SPDX-License-Identifier: MIT
"""The release of the package; it must be that of the shared library."""

__version__ = "1.1.0"
