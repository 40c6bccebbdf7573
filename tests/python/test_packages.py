# SPDX-License-Identifier: MIT
"""The Debian packages install together, and the Python package imports
from the installed tree with the shared library of that tree."""

from __future__ import annotations

import glob
import os
import shutil
import subprocess
import sys

import pytest

PACKAGES = ["qo3964", "libqo3964-1", "libqo3964-dev", "python3-qo3964"]
IMPORT_CHECK = r"""
import qo3964
maps = open("/proc/self/maps").read().split()
print(qo3964.__version__, qo3964.Line.version(), qo3964.__file__, sep="\n")
print(*[path for path in maps if path.endswith("libqo3964_client.so.1.0.1")], sep="\n")
"""


@pytest.fixture
def debs() -> list[str]:
    folder = os.environ.get("QO3964_PACKAGE_DIR")
    if not folder or not shutil.which("dpkg") or os.geteuid() != 0:
        pytest.skip("needs QO3964_PACKAGE_DIR (a tree where cpack -G DEB ran), dpkg and root")
    found = sorted(glob.glob(os.path.join(folder, "*.deb")))
    assert set(PACKAGES) <= {os.path.basename(deb).split("_")[0] for deb in found}, found
    return found


def test_packages_install_together_and_the_module_imports(debs, tmp_path):
    # A scratch root whose package database knows the machine's packages,
    # so that dpkg checks every dependency without touching the machine.
    admin = tmp_path / "var/lib/dpkg"
    for folder in ("info", "updates"):
        (admin / folder).mkdir(parents=True)
    shutil.copy("/var/lib/dpkg/status", admin / "status")
    (admin / "available").touch()
    dpkg = ["dpkg", f"--root={tmp_path}"]
    for step in (["--unpack", *debs], ["--dry-run", "--configure", "--pending"]):
        done = subprocess.run(dpkg + step, capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stdout + done.stderr
    listed = subprocess.run(dpkg + ["--status", *PACKAGES], capture_output=True, text=True, timeout=60)
    assert listed.stdout.count("Status: install ok unpacked") == len(PACKAGES), listed.stdout

    library = glob.glob(str(tmp_path / "usr/lib/*/libqo3964_client.so.1"))
    assert len(library) == 1
    environment = dict(
        os.environ,
        PYTHONPATH=str(tmp_path / "usr/lib/python3/dist-packages"),
        LD_LIBRARY_PATH=os.path.dirname(library[0]),
        PYTHONDONTWRITEBYTECODE="1",
    )
    imported = subprocess.run(
        [sys.executable, "-c", IMPORT_CHECK], capture_output=True, text=True, env=environment, timeout=60
    )
    assert imported.returncode == 0, imported.stderr
    version, interface, module, *loaded = imported.stdout.splitlines()
    assert (version, interface) == ("1.0.1", "V 1.0.1")
    assert module.startswith(str(tmp_path)) and loaded[0].startswith(str(tmp_path)), imported.stdout
