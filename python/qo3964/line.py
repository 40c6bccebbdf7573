# SPDX-License-Identifier: MIT
"""`Line`: one serial line, reached through the server that owns it."""

from __future__ import annotations

import ctypes
import math
import os
import time
from dataclasses import dataclass
from types import TracebackType

from . import _library
from ._library import lib
from .errors import Error, Timeout, error_for, open_error

TELEGRAM_MAX = 4096
"""The longest telegram, in bytes."""

# The library's results of the send calls.
_SEND_DONE = 2
_SEND_STARTED = 1
_IN_WORK = 0
_TASK_IDLE = 4

# How long send_nowait waits for the server to take the telegram (only
# while the server is busy with the job block).
_HANDOVER_SECONDS = 5
# A blocking fetch waits at most this long a call, so that Ctrl-C and
# signals are handled in between.
_WAIT_SLICE_MS = 500

# The blocking fetch (a name of its own, so that a test can watch it).
_receive_wait = lib.qo3964m_receive_wait
# Handles opened by a Line of this process: two Lines on one handle would
# share its connection.
_handles_in_use: set[int] = set()


@dataclass(frozen=True)
class ServerInfo:
    """The identification of the server behind a line."""

    name: str
    """The server's name, "qo3964_server"."""
    version: str
    """The version of its interface with the library, "V 1.0.1"."""
    date: str
    """The date of its release, as D.M.Y."""
    word_bits: int
    """The server's word width in bits."""
    info_code: int
    """The kind of the identification, 2."""


class _InfoRecord(ctypes.Structure):
    _fields_ = [
        ("server_name", ctypes.c_char * 16),
        ("server_version", ctypes.c_char * 16),
        ("server_date", ctypes.c_char * 16),
        ("reserved_48", ctypes.c_ubyte * 64),
        ("word_bits", ctypes.c_ubyte),
        ("info_code", ctypes.c_ubyte),
        ("reserved_114", ctypes.c_ubyte * 910),
    ]


assert ctypes.sizeof(_InfoRecord) == 1024


def _text(field: bytes) -> str:
    return field.decode("latin-1")


def _telegram(data: bytes | bytearray | memoryview) -> bytes:
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"a telegram is bytes, not {type(data).__name__}")
    return bytes(data)


def _whole_seconds(timeout: float | None) -> int:
    """A time-out as the library's whole seconds (0: no limit)."""
    if timeout is None:
        return 0
    if timeout <= 0:
        raise ValueError(f"timeout must be above 0 seconds, or None for no limit, not {timeout}")
    return math.ceil(timeout)


def version() -> str:
    """The library's version text of its interface with the server, "V 1.0.1"
    (the same as `ServerInfo.version` of a server that speaks it)."""
    buffer = ctypes.create_string_buffer(8)
    return _text(lib.qo7_version(buffer))


class Line:
    """One serial line: the server that owns it is found through its rc-file.

    Use it as a context manager, which opens the line on entry and closes
    it on exit::

        with qo3964.Line("/etc/qo3964/line1.rc") as line:
            answer = line.request(b"\\x01\\x02", timeout=5)

    `handle` (0 to 9) tells apart up to ten lines open at once in one
    process; two Lines open at the same time need different handles.
    Telegrams are bytes of up to 4096; every failure raises an `Error`.
    A Line is used from one thread at a time.
    """

    def __init__(self, rc_file: str | os.PathLike[str], handle: int = 0) -> None:
        if isinstance(handle, bool) or not isinstance(handle, int):
            raise TypeError(f"handle is an int from 0 to 9, not {handle!r}")
        self.rc_file: str = os.fspath(rc_file)
        self.handle: int = handle
        self._open = False

    def __repr__(self) -> str:
        state = "open" if self._open else "closed"
        return f"<qo3964.Line {self.rc_file!r} handle {self.handle} {state}>"

    def __enter__(self) -> Line:
        return self.open()

    def __exit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        self.close()

    def __del__(self) -> None:
        # A Line dropped while open gives its handle back; at interpreter
        # exit the library may already be gone.
        try:
            self.close()
        except Exception:
            pass

    @property
    def closed(self) -> bool:
        """True while the line is not open."""
        return not self._open

    def open(self) -> Line:
        """Attaches to the server of the rc-file; returns the line.

        Raises OpenError when the rc-file cannot be read or no server runs
        for it, ArgumentError for a handle outside 0 to 9 or one that
        another Line of this process holds.
        """
        if self._open:
            return self
        if self.handle in _handles_in_use:
            raise error_for(-50, f"handle {self.handle} is already open in this process")
        code = lib.qo3964m_open_shm(self.handle, os.fsencode(self.rc_file))
        if code != 0:
            raise open_error(code, self.rc_file)
        _handles_in_use.add(self.handle)
        self._open = True
        return self

    def close(self) -> None:
        """Detaches from the server. A send under way stays with it."""
        if self._open:
            lib.qo3964m_close_shm(self.handle)
            _handles_in_use.discard(self.handle)
            self._open = False

    def _checked_handle(self) -> int:
        if not self._open:
            raise Error(-98, f"{self!r} is not open")
        return self.handle

    def send(self, data: bytes | bytearray | memoryview, timeout: float | None = 30) -> None:
        """Sends a telegram and waits until the partner has acknowledged it.

        `timeout` in seconds (rounded up to whole seconds), None for no
        limit. Raises PartnerError when the partner refused the telegram or
        did not answer, Timeout when the time ran out (the telegram may
        still go out), ArgumentError for a telegram over 4096 bytes.
        """
        telegram = _telegram(data)
        code = lib.qo3964m_send(self._checked_handle(), telegram, len(telegram), _whole_seconds(timeout))
        if code != _SEND_DONE:
            raise error_for(code)

    def send_nowait(self, data: bytes | bytearray | memoryview) -> None:
        """Hands a telegram to the server and returns at once; `result()`
        tells when it has gone out. Raises Error (-26) while an earlier
        send is still under way."""
        telegram = _telegram(data)
        code = lib.qo3964m_send_strt(self._checked_handle(), telegram, len(telegram), _HANDOVER_SECONDS)
        if code != _SEND_STARTED:
            raise error_for(code)

    def result(self) -> bool:
        """The result of the send that `send_nowait()` started: False while
        it is under way, True once the partner has acknowledged it (told
        once). Raises PartnerError for a failed send, and Error (code 4)
        when no send is outstanding."""
        code = lib.qo3964m_send_control(self._checked_handle())
        if code == _IN_WORK:
            return False
        if code == _SEND_DONE:
            return True
        if code == _TASK_IDLE:
            raise Error(code, "no send is outstanding")
        raise error_for(code)

    def receive(self, timeout: float | None = None) -> bytes | None:
        """The next telegram from the partner, or None when none came
        within `timeout` seconds (None: wait without limit; 0: only look).

        Raises PartnerError for a telegram the server received with an
        error, ServerStopped when the server stops. A telegram of 0 bytes
        cannot be told from none and is not reported.
        """
        handle = self._checked_handle()
        deadline = None if timeout is None else time.monotonic() + max(timeout, 0)
        buffer = ctypes.create_string_buffer(TELEGRAM_MAX)
        while True:
            left = None if deadline is None else deadline - time.monotonic()
            if left is None or left > 0:
                wait_ms = _WAIT_SLICE_MS if left is None else min(_WAIT_SLICE_MS, math.ceil(left * 1000))
                code = _receive_wait(handle, buffer, TELEGRAM_MAX, wait_ms)
            else:
                code = lib.qo3964m_receive(handle, buffer, TELEGRAM_MAX)
            if code > 0:
                return buffer.raw[:code]
            if code < 0:
                raise error_for(code)
            if left is not None and left <= 0:
                return None

    def request(self, data: bytes | bytearray | memoryview, timeout: float | None = 30) -> bytes:
        """Sends a telegram and returns the next telegram from the partner.

        `timeout` covers both, in seconds (None: no limit). Raises Timeout
        when the answer does not come in time, and what `send()` raises.
        A telegram that came before and was not fetched counts as the
        answer: fetch such telegrams first where the partner sends on its
        own.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        self.send(data, timeout)
        left = None if deadline is None else max(deadline - time.monotonic(), 0)
        answer = self.receive(left)
        if answer is None:
            raise Timeout(-99, f"no answer within {timeout} s")
        return answer

    def info(self) -> ServerInfo:
        """The identification of the server of the line."""
        record = _InfoRecord()
        code = lib.qo3964m_svr_info(self._checked_handle(), ctypes.byref(record))
        if code != 0:
            raise error_for(code)
        return ServerInfo(
            name=_text(record.server_name),
            version=_text(record.server_version),
            date=_text(record.server_date),
            word_bits=record.word_bits,
            info_code=record.info_code,
        )

    version = staticmethod(version)
