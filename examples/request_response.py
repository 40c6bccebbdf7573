#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""request_response: asks the partner device and prints its answers.

Sends a few telegrams to the partner on the serial line of a running
qo3964_server, each time waiting for the partner's next telegram as the
answer, and shows the server's identification first. Every failure ends
the program with its text and code.

    python3 request_response.py [rc-file]

The rc-file is the one the server was started with (default
"./qo3964.rc"). Without hardware, the partner simulator plays a controller
that answers every telegram with the same bytes:

    qo3964_partner --link /tmp/plc --echo &
    printf 'PORT /tmp/plc\\nSHMNAME /tmp/plc.shm\\n' > plc.rc
    touch /tmp/plc.shm
    qo3964_server plc.rc &
    python3 request_response.py plc.rc
"""

import sys

import qo3964


def main() -> int:
    rc_file = sys.argv[1] if len(sys.argv) > 1 else "./qo3964.rc"
    # Any bytes up to 4096; a DLE (0x10) is doubled on the line for us.
    questions = [b"\x01\x10\x02Hello", b"status?", bytes(range(16))]
    try:
        # Opens the line on entry, closes it on exit, also after a failure.
        with qo3964.Line(rc_file) as line:
            info = line.info()
            print(f"server: {info.name} {info.version} of {info.date}, {info.word_bits} bit")
            for question in questions:
                # Waits up to 10 s in all for the partner's acknowledgement
                # and its answer.
                answer = line.request(question, timeout=10)
                print(f"sent {question.hex(' ')}  answer {answer.hex(' ')}")
    except qo3964.Timeout as error:
        print(f"no answer: {error}", file=sys.stderr)
        return 1
    except qo3964.Error as error:
        # The code with the library's English text; error.text_de has the German one.
        print(f"failed: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
