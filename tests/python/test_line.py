# SPDX-License-Identifier: MIT
"""qo3964.Line against a real qo3964_server and qo3964_partner."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

import qo3964
from conftest import wait_until
from qo3964 import line as line_module

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "request_response.py"
# Seconds within which the echoing partner answers (QVZ and TDS are far
# shorter; the rest is room for a loaded machine).
ANSWER_SECONDS = 20


def test_send_receive_and_request_with_an_echoing_partner(link):
    started = link(["--echo"])
    with qo3964.Line(started.rc_file) as line:
        info = line.info()
        assert (info.name, info.version) == ("qo3964_server", qo3964.Line.version())
        assert line.request(b"\x01\x10\x02request", timeout=ANSWER_SECONDS) == b"\x01\x10\x02request"
        line.send(b"send", timeout=ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"send"
        line.send_nowait(bytearray(b"nowait"))
        assert wait_until(line.result, ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"nowait"
        assert line.receive(timeout=0) is None
    assert line.closed


def test_receive_waits_with_the_blocking_fetch_where_the_library_has_it(link, monkeypatch):
    started = link(["--echo"])
    waits = []

    def receive_wait(handle, buffer, size, timeout_ms):
        waits.append(timeout_ms)
        return qo3964.line.lib.qo3964m_receive(handle, buffer, size)

    monkeypatch.setattr(line_module, "_receive_wait", receive_wait)
    with qo3964.Line(started.rc_file) as line:
        line.send(b"wait", timeout=ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"wait"
    assert waits and all(0 < ms <= 500 for ms in waits)


def bad_length(line, started):
    line.send(bytes(qo3964.TELEGRAM_MAX + 1))


def unanswered(line, started):
    line.send(b"nobody there", timeout=ANSWER_SECONDS)


def no_answer(line, started):
    line.request(b"question", timeout=1)


def server_stops(line, started):
    started.stop_server()
    line.receive(timeout=ANSWER_SECONDS)


# Partner (None: none on the line), what the application does, and what it gets.
@pytest.mark.parametrize(
    "partner_args, action, error, code",
    [
        (["--echo"], bad_length, qo3964.ArgumentError, -11),
        (None, unanswered, qo3964.PartnerError, -84),
        ([], no_answer, qo3964.Timeout, -99),
        (["--echo"], server_stops, qo3964.ServerStopped, -100),
    ],
)
def test_failures_raise_their_exception(link, partner_args, action, error, code):
    started = link(partner_args)
    with qo3964.Line(started.rc_file) as line, pytest.raises(error) as raised:
        action(line, started)
    assert raised.value.code == code
    assert raised.value.text_de and raised.value.text_en in str(raised.value)


def test_open_names_the_rc_file_and_the_reason(tmp_path: Path):
    missing = tmp_path / "missing.rc"
    with pytest.raises(qo3964.OpenError) as raised:
        qo3964.Line(missing).open()
    assert (raised.value.code, raised.value.rc_file) == (-51, str(missing))
    assert str(missing) in str(raised.value) and "cannot be read" in str(raised.value)
    with pytest.raises(ValueError):
        qo3964.Line(missing, handle=10).open()


def test_example_asks_the_echoing_partner(link):
    started = link(["--echo"])
    run = subprocess.run([sys.executable, str(EXAMPLE), str(started.rc_file)], capture_output=True, text=True,
                         timeout=3 * ANSWER_SECONDS)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("server: qo3964_server V 1.0.1 of ")
    assert "sent 01 10 02 48 65 6c 6c 6f  answer 01 10 02 48 65 6c 6c 6f" in run.stdout
