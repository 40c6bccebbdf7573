# SPDX-License-Identifier: MIT
"""A qo3964_server whose line ends at a qo3964_partner (or a bare pty), with
its own folder, rc-file, SHMNAME file, lockfile and pty. QO3964_BIN_DIR names
the folder of the programs (else PATH); see the README for a run."""

from __future__ import annotations

import ctypes
import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

SERVER_TIMES = "ZVZ 100\nQVZ 500\nTDS 2\n"
PARTNER_TIMES = ["--zvz", "100", "--qvz", "500"]
START_SECONDS = 20


def program(name: str) -> str:
    folder = os.environ.get("QO3964_BIN_DIR")
    path = os.path.abspath(os.path.join(folder, name)) if folder else shutil.which(name)
    assert path and os.access(path, os.X_OK), f"{name} not found: set QO3964_BIN_DIR"
    return path


def wait_until(condition, seconds: float) -> bool:
    """Polls `condition` (once each time) until it holds or time is up."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.01)
    return True


class Link:
    def __init__(self, folder: Path) -> None:
        self.folder, self.rc_file, self.shm_file = folder, folder / "qo3964.rc", folder / "link.shm"
        self.processes: list[subprocess.Popen[bytes]] = []
        self.pty: tuple[int, int] | None = None

    def output(self, name: str) -> str:
        path = self.folder / f"{name}.out"
        return path.read_text(errors="replace") if path.exists() else ""

    def spawn(self, name: str, argv: list[str]) -> subprocess.Popen[bytes]:
        with open(self.folder / f"{name}.out", "wb") as out:
            self.processes.append(subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, cwd=self.folder))
        return self.processes[-1]

    def start(self, partner_args: list[str] | None) -> Link:
        if partner_args is None:
            self.pty = os.openpty()
            port = os.ttyname(self.pty[1])
        else:
            self.spawn("partner", [program("qo3964_partner"), *PARTNER_TIMES, *partner_args])
            assert wait_until(lambda: "\n" in self.output("partner"), START_SECONDS), self.output("partner")
            port = self.output("partner").split()[1]  # "PTY <path>"
        self.shm_file.touch()
        self.rc_file.write_text(f"PORT {port}\nSHMNAME {self.shm_file}\n{SERVER_TIMES}")
        self.server = self.spawn("server", [program("qo3964_server"), str(self.rc_file)])
        assert wait_until(lambda: "[14] is up and ok" in self.output("server"), START_SECONDS), self.output("server")
        return self

    def close(self) -> None:
        for process in self.processes:
            process.kill()
            process.wait(timeout=START_SECONDS)
        for fd in self.pty or ():
            os.close(fd)
        # What a killed server leaves: its segment and its lockfile.
        libc = ctypes.CDLL(None)
        key = libc.ftok(os.fsencode(self.shm_file), 65)
        segment = libc.shmget(key, 0, 0) if key != -1 else -1
        if segment >= 0:
            libc.shmctl(segment, 0, None)  # IPC_RMID
        Path("/tmp/qo_" + str(self.shm_file).translate(str.maketrans("/. ", "___")) + "_A").unlink(missing_ok=True)


@pytest.fixture
def link(tmp_path):
    """link(["--echo"]): a server and a partner started in the test's folder."""
    links: list[Link] = []
    yield lambda partner_args: links.append(Link(tmp_path)) or links[-1].start(partner_args)
    for each in links:
        each.close()
