# SPDX-License-Identifier: MIT
"""The Debian packages install together, and qo3964 imports from that tree
with the shared library of that tree."""

import glob
import os
import shutil
import subprocess
import sys

import pytest

PACKAGES = ["qo3964", "libqo3964-1", "libqo3964-dev", "python3-qo3964"]
IMPORT_CHECK = r"""
import qo3964
loaded = [path for path in open("/proc/self/maps").read().split() if "libqo3964_client.so" in path]
print(qo3964.__version__, qo3964.Line.version(), qo3964.__file__, loaded[0], sep="\n")
"""


def test_packages_install_together_and_the_module_imports(tmp_path):
    folder = os.environ.get("QO3964_PACKAGE_DIR")
    if not folder or not shutil.which("dpkg") or os.geteuid() != 0:
        pytest.skip("needs QO3964_PACKAGE_DIR (a tree where cpack -G DEB ran), dpkg and root")
    debs = glob.glob(os.path.join(folder, "*.deb"))
    assert set(PACKAGES) <= {os.path.basename(deb).split("_")[0] for deb in debs}, debs
    # A scratch root whose package database is a copy of the machine's:
    # dpkg checks every dependency without touching the machine.
    for folder in ("updates", "info"):
        (tmp_path / "var/lib/dpkg" / folder).mkdir(parents=True)
    shutil.copy("/var/lib/dpkg/status", tmp_path / "var/lib/dpkg/status")
    for step in (["--unpack", *debs], ["--dry-run", "--configure", "--pending"]):
        done = subprocess.run(["dpkg", f"--root={tmp_path}", *step], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stdout + done.stderr

    libdir = os.path.dirname(glob.glob(str(tmp_path / "usr/lib/*/libqo3964_client.so.1"))[0])
    environment = dict(os.environ, PYTHONPATH=str(tmp_path / "usr/lib/python3/dist-packages"),
                       LD_LIBRARY_PATH=libdir, PYTHONDONTWRITEBYTECODE="1")
    imported = subprocess.run([sys.executable, "-c", IMPORT_CHECK], capture_output=True, text=True,
                              env=environment, timeout=60)
    assert imported.returncode == 0, imported.stderr
    version, interface, module, library = imported.stdout.splitlines()
    # The release the packages were built as: "python3-qo3964_<release>-<n>_all.deb".
    built = {os.path.basename(deb).split("_")[1].split("-")[0] for deb in debs}
    assert built == {version} and interface == "V 1.0.1", (built, imported.stdout)
    assert module.startswith(str(tmp_path)) and library.startswith(libdir), imported.stdout
