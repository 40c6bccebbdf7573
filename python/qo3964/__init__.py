# SPDX-License-Identifier: MIT
"""qo3964: telegrams over 3964 / 3964R serial lines from Python.

A thin layer over the shared client library libqo3964_client.so.1 of the
same release: a `Line` reaches the qo3964_server that owns a serial line
through the server's rc-file, sends telegrams to the partner device
(a controller) and fetches the telegrams it sent::

    import qo3964

    with qo3964.Line("/etc/qo3964/line1.rc") as line:
        line.send(b"\\x01\\x02\\x03")
        telegram = line.receive(timeout=5)      # bytes, or None
        answer = line.request(b"\\x10\\x20")    # send, then the next telegram

Failures raise exceptions derived from `qo3964.Error`.
"""

from ._version import __version__
from .errors import ArgumentError, Error, OpenError, PartnerError, ServerStopped, Timeout
from .line import TELEGRAM_MAX, Line, ServerInfo, version

__all__ = [
    "__version__",
    "ArgumentError",
    "Error",
    "Line",
    "OpenError",
    "PartnerError",
    "ServerInfo",
    "ServerStopped",
    "TELEGRAM_MAX",
    "Timeout",
    "version",
]
