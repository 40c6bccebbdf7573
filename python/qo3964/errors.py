# SPDX-License-Identifier: MIT
"""The exceptions of the package: every failure of a library call.

Each carries the library's result code and its German and English text.
Catch `Error` for all of them, or the subclass of the failures a program
handles: the partner's (`PartnerError`), the server's stop
(`ServerStopped`), a time-out (`Timeout`), bad arguments
(`ArgumentError`, also a ValueError) and a line that cannot be opened
(`OpenError`).
"""

from __future__ import annotations

from ._library import lib


def text_de(code: int) -> str:
    """The library's German text of a result code."""
    text: bytes = lib.qo3964_errortext(code)
    return text.decode("utf-8", "replace")


def text_en(code: int) -> str:
    """The library's English text of a result code."""
    text: bytes = lib.qo3964_errortext_en(code)
    return text.decode("utf-8", "replace")


class Error(Exception):
    """A library call failed.

    Attributes: `code`, the library's result code (negative for a
    failure); `text_de` and `text_en`, its German and English text.
    """

    def __init__(self, code: int, detail: str = "") -> None:
        self.code = code
        self.text_de = text_de(code)
        self.text_en = text_en(code)
        message = f"{self.text_en.strip()} ({code})"
        super().__init__(f"{detail}: {message}" if detail else message)


class PartnerError(Error):
    """The partner refused the telegram or did not answer, or the line
    reported a fault (a received telegram with an error, BREAK, parity)."""


class ServerStopped(Error):
    """The server of the line has stopped (-100)."""


class Timeout(Error):
    """A send, or the answer to a request, did not come in time (-99)."""


class ArgumentError(Error, ValueError):
    """The library refused an argument: a telegram over 4096 bytes (-11)
    or a handle outside 0 to 9 (-50)."""


class OpenError(Error):
    """The line could not be opened; `rc_file` names the rc-file."""

    def __init__(self, code: int, rc_file: str, detail: str) -> None:
        self.rc_file = rc_file
        super().__init__(code, f"cannot open the line of {rc_file!r}: {detail}")


# The server's codes for the line and the partner (sends and receptions).
_PARTNER_CODES = frozenset({-55, -56, -57, -67, -81, -82, -83, -84, -85, -86})
_CLASSES: dict[int, type[Error]] = {
    -11: ArgumentError,
    -50: ArgumentError,
    -99: Timeout,
    -100: ServerStopped,
    **{code: PartnerError for code in _PARTNER_CODES},
}
# Why an open failed, by its code.
_OPEN_REASONS = {
    -51: "the rc-file cannot be read",
    -52: "the rc-file has an illegal value",
    -53: "no server runs for it, or its segment may not be used",
}


def error_for(code: int, detail: str = "") -> Error:
    """The exception for a failed call's result code."""
    return _CLASSES.get(code, Error)(code, detail)


def open_error(code: int, rc_file: str) -> Error:
    """The exception for a failed open."""
    if code in _OPEN_REASONS:
        return OpenError(code, rc_file, _OPEN_REASONS[code])
    return error_for(code, f"cannot open the line of {rc_file!r}")
