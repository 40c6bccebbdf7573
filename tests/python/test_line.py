# SPDX-License-Identifier: MIT
"""qo3964.Line against a real qo3964_server and qo3964_partner."""

import signal
import subprocess
import sys
from pathlib import Path

import pytest

import qo3964
from conftest import wait_until

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "request_response.py"
# Far more than QVZ and TDS take: room for a loaded machine.
ANSWER_SECONDS = 20


def test_send_receive_and_request_with_an_echoing_partner(link):
    with qo3964.Line(link(["--echo"]).rc_file) as line:
        assert (line.info().name, line.info().version) == ("qo3964_server", qo3964.Line.version())
        assert line.request(b"\x01\x10\x02request", timeout=ANSWER_SECONDS) == b"\x01\x10\x02request"
        line.send(b"send", timeout=ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"send"
        line.send_nowait(bytearray(b"nowait"))
        assert wait_until(line.result, ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"nowait"
        assert line.receive(timeout=0) is None
    assert line.closed


def test_receive_waits_with_the_blocking_fetch_where_the_library_has_it(link, monkeypatch):
    waits = []

    def receive_wait(handle, buffer, size, timeout_ms):
        waits.append(timeout_ms)
        return qo3964.line.lib.qo3964m_receive(handle, buffer, size)

    monkeypatch.setattr(qo3964.line, "_receive_wait", receive_wait)
    with qo3964.Line(link(["--echo"]).rc_file) as line:
        line.send(b"wait", timeout=ANSWER_SECONDS)
        assert line.receive(timeout=ANSWER_SECONDS) == b"wait"
    assert waits and all(0 < ms <= 500 for ms in waits)


# Partner (None: no one on the line), what the application does, what it gets.
@pytest.mark.parametrize(
    "partner_args, action, error, code",
    [
        (["--echo"], lambda line, _: line.send(bytes(qo3964.TELEGRAM_MAX + 1)), qo3964.ArgumentError, -11),
        (None, lambda line, _: line.send(b"anyone?", timeout=ANSWER_SECONDS), qo3964.PartnerError, -84),
        ([], lambda line, _: line.request(b"question", timeout=1), qo3964.Timeout, -99),
        (["--echo"], lambda line, started: started.server.send_signal(signal.SIGINT) or line.receive(ANSWER_SECONDS),
         qo3964.ServerStopped, -100),
    ],
)
def test_failures_raise_their_exception(link, partner_args, action, error, code):
    started = link(partner_args)
    with qo3964.Line(started.rc_file) as line, pytest.raises(error) as raised:
        action(line, started)
    assert raised.value.code == code
    assert raised.value.text_de and raised.value.text_en in str(raised.value)


def test_open_names_the_rc_file_and_the_reason(tmp_path):
    missing = tmp_path / "missing.rc"
    with pytest.raises(qo3964.OpenError, match=f"'{missing}': the rc-file cannot be read") as raised:
        qo3964.Line(missing).open()
    assert (raised.value.code, raised.value.rc_file) == (-51, str(missing))
    with pytest.raises(ValueError):
        qo3964.Line(missing, handle=10).open()


def test_example_asks_the_echoing_partner(link):
    run = subprocess.run([sys.executable, EXAMPLE, link(["--echo"]).rc_file], capture_output=True, text=True,
                         timeout=3 * ANSWER_SECONDS)
    assert run.returncode == 0 and run.stdout.startswith("server: qo3964_server V 1.0.1 of "), run.stderr
    assert "sent 01 10 02 48 65 6c 6c 6f  answer 01 10 02 48 65 6c 6c 6f" in run.stdout
