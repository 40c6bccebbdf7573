# SPDX-License-Identifier: MIT
"""Fixtures of the Python package's tests: a qo3964_server whose line ends
at a qo3964_partner (or at a bare pseudo-terminal), each with its own
temporary directory, rc-file, SHMNAME file, lockfile and pty.

Run with the distribution's Python:

    PYTHONPATH=python LD_LIBRARY_PATH=build/release/client \\
    QO3964_BIN_DIR=build/release/bin /usr/bin/python3 -m pytest tests/python

QO3964_BIN_DIR names the folder of qo3964_server and qo3964_partner (else
they are looked up on PATH); QO3964_PACKAGE_DIR a folder with the Debian
packages, for the install test.
"""

from __future__ import annotations

import ctypes
import os
import shutil
import signal
import subprocess
import time
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest

# Short procedure times for server and partner alike; the tests' bounds
# are seconds around them.
SERVER_TIMES = "ZVZ 100\nQVZ 500\nTDS 2\n"
PARTNER_TIMES = ["--zvz", "100", "--qvz", "500"]
START_SECONDS = 20
SEGMENT_PROJECT_ID = 65


def program(name: str) -> str:
    folder = os.environ.get("QO3964_BIN_DIR")
    path = os.path.abspath(os.path.join(folder, name)) if folder else shutil.which(name)
    if not path or not os.access(path, os.X_OK):
        pytest.fail(f"{name} not found (set QO3964_BIN_DIR to the folder of the built programs)")
    return path


def wait_until(condition: Callable[[], object], seconds: float) -> bool:
    """Polls `condition` until it holds or `seconds` have passed."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return bool(condition())
        time.sleep(0.01)
    return True


def remove_segment(key_file: Path) -> None:
    """Removes a segment that a server killed without its orderly stop left."""
    libc = ctypes.CDLL(None, use_errno=True)
    key = libc.ftok(os.fsencode(key_file), SEGMENT_PROJECT_ID)
    segment = libc.shmget(key, 0, 0) if key != -1 else -1
    if segment >= 0:
        libc.shmctl(segment, 0, None)  # IPC_RMID


class Link:
    """A server on a pty, with a partner program at its other end or none."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.rc_file = folder / "qo3964.rc"
        self.shm_file = folder / "link.shm"
        self.partner: subprocess.Popen[bytes] | None = None
        self.server: subprocess.Popen[bytes] | None = None
        self._pty: tuple[int, int] | None = None

    def output(self, name: str) -> str:
        path = self.folder / f"{name}.out"
        return path.read_text(errors="replace") if path.exists() else ""

    def _spawn(self, name: str, argv: list[str]) -> subprocess.Popen[bytes]:
        with open(self.folder / f"{name}.out", "wb") as out:
            return subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, cwd=self.folder)

    def start(self, partner_args: list[str] | None) -> None:
        """Starts the partner with `partner_args` (None: a bare pty), then
        the server on its line; returns once both are up."""
        if partner_args is None:
            self._pty = os.openpty()
            port = os.ttyname(self._pty[1])
        else:
            self.partner = self._spawn("partner", [program("qo3964_partner"), *PARTNER_TIMES, *partner_args])
            assert wait_until(lambda: "\n" in self.output("partner"), START_SECONDS), self.output("partner")
            first = self.output("partner").splitlines()[0]
            assert first.startswith("PTY "), first
            port = first[4:]
        self.shm_file.touch()
        self.rc_file.write_text(f"PORT {port}\nSHMNAME {self.shm_file}\n{SERVER_TIMES}")
        self.server = self._spawn("server", [program("qo3964_server"), str(self.rc_file)])
        assert wait_until(lambda: "[14] is up and ok" in self.output("server"), START_SECONDS), self.output("server")

    def stop_server(self) -> None:
        """Stops the server in order (SIGINT)."""
        assert self.server is not None
        self.server.send_signal(signal.SIGINT)

    def close(self) -> None:
        for process in (self.server, self.partner):
            if process is not None and process.poll() is None:
                process.kill()
            if process is not None:
                process.wait(timeout=START_SECONDS)
        if self._pty is not None:
            for fd in self._pty:
                os.close(fd)
        remove_segment(self.shm_file)
        lockfile = "/tmp/qo_" + str(self.shm_file).translate(str.maketrans("/. ", "___")) + "_A"
        Path(lockfile).unlink(missing_ok=True)


@pytest.fixture
def link(tmp_path: Path) -> Iterator[Callable[[list[str] | None], Link]]:
    """Starts a Link in the test's own folder: link(["--echo"])."""
    links: list[Link] = []

    def start(partner_args: list[str] | None) -> Link:
        started = Link(tmp_path)
        links.append(started)
        started.start(partner_args)
        return started

    yield start
    for started in links:
        started.close()
