#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demo: a simulated partner device on a pseudo-terminal, a qo3964_server
# on its line, and the operator tool qo3964_ctl as the application. Two
# telegrams are sent, acknowledged and echoed back, the echoes are received,
# one send is refused until it fails, and the server is stopped in order.
# It ends by itself and leaves no process, segment, lockfile or file behind.
#
#   scripts/demo.sh [--monitor] [--bin DIR]
#
# --monitor      the same with the server's live traffic display (IODEBUG ON)
#                in a tmux pane of its own
# --bin DIR      take qo3964_server, qo3964_partner and qo3964_ctl from DIR
#                and build nothing (also QO3964_DEMO_BUILD=DIR)
# QO3964_DEMO_TREE=DIR   the release tree to build (default build/demo)
set -u

top=$(cd "$(dirname "$0")/.." && pwd)
script=$top/scripts/demo.sh

# Server and partner use the same delay times. The demo's failure is a
# refusal (NAK), which costs no waiting, so the times can be generous: a
# busy machine may hold up the bytes of a telegram on a pseudo-terminal for
# a while. Three attempts per send keep the failure short.
ZVZ=500
QVZ=3000
TDS=3
PARTNER_MAX_LENGTH=16

# Bounds of the waits, in seconds: generous, they only matter when
# something is wrong.
PTY_WAIT=10
UP_WAIT=20
LOG_WAIT=10
GONE_WAIT=20

monitor=0
bin_dir=${QO3964_DEMO_BUILD:-}

# What cleanup has to undo; filled in as the demo goes.
work=""
partner_pid=""
server_pid=""
server_pane=""
server_status=""
segment_key=""
lockfile=""
outer_socket=""

say() { printf '==> %s\n' "$*"; }
shown_command() { printf '    $ %s\n' "$*"; }
indent() { sed "s/^/    $1/"; }
# What the programs logged up to a failure helps to see why.
fail() {
    if [ -n "$work" ] && [ -f "$work/partner.log" ]; then
        (cd "$work" && show_new partner.log "partner | ")
    fi
    if [ -n "$work" ] && [ -f "$work/server.log" ]; then
        (cd "$work" && show_new server.log "server  | ")
    fi
    if [ -n "$server_pane" ]; then
        server_screen | indent "server  | "
    fi
    say "FAILED: $*" >&2
    exit 1
}

usage() {
    sed -n '2,15s/^# \{0,1\}//p' "$script"
}

while [ $# -gt 0 ]; do
    case $1 in
    --monitor) monitor=1 ;;
    --bin)
        [ $# -ge 2 ] || { echo "demo.sh: --bin needs a directory" >&2; exit 2; }
        bin_dir=$2
        shift
        ;;
    --bin=*) bin_dir=${1#--bin=} ;;
    -h | --help) usage; exit 0 ;;
    *) echo "demo.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
    esac
    shift
done

# ---------------------------------------------------------------- tools

have() { command -v "$1" > /dev/null 2>&1; }

# Installs the Debian packages when root, else says what to install.
need_packages() {
    local what=$1
    shift
    if [ "$(id -u)" = 0 ] && have apt-get; then
        say "Installing $what: $*"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq > /dev/null || true
        apt-get install -y -qq "$@" > /dev/null || fail "apt-get install $* did not succeed"
    else
        echo "demo.sh: $what missing; install them with: sudo apt-get install $*" >&2
        exit 1
    fi
}

check_run_tools() {
    local missing=()
    have ipcs && have ipcrm || missing+=(util-linux)
    [ ${#missing[@]} -eq 0 ] || need_packages "system tools" "${missing[@]}"
    if [ $monitor = 1 ] && ! have tmux; then
        need_packages "the terminal multiplexer for --monitor" tmux
    fi
}

check_build_tools() {
    local missing=()
    have cmake || missing+=(cmake)
    have make || missing+=(make)
    have g++ || missing+=(g++)
    [ -e /usr/include/curses.h ] || missing+=(libncurses-dev)
    [ ${#missing[@]} -eq 0 ] || need_packages "build packages" "${missing[@]}"
}

# The release tree is configured once and brought up to date every run.
build_programs() {
    local tree=${QO3964_DEMO_TREE:-$top/build/demo}
    local log=$tree/demo-build.log
    check_build_tools
    mkdir -p "$tree" || fail "cannot create the build tree $tree"
    say "Building qo3964_server, qo3964_partner and qo3964_ctl in $tree (the first time takes a minute; log in $log)"
    {
        if [ ! -f "$tree/CMakeCache.txt" ]; then
            cmake -S "$top" -B "$tree" -DCMAKE_BUILD_TYPE=Release \
                -DQO3964_BUILD_TESTS=OFF -DQO3964_BUILD_BENCH=OFF || exit 1
        fi
        cmake --build "$tree" -j "$(nproc)" --target qo3964_server qo3964_partner qo3964_ctl
    } > "$log" 2>&1 || {
        tail -n 30 "$log" >&2
        fail "the build did not succeed (log: $log)"
    }
    bin_dir=$tree/bin
}

find_programs() {
    if [ -n "$bin_dir" ]; then
        bin_dir=$(cd "$bin_dir" 2> /dev/null && pwd) || fail "no directory $bin_dir"
    else
        build_programs
    fi
    server=$bin_dir/qo3964_server
    partner=$bin_dir/qo3964_partner
    ctl=$bin_dir/qo3964_ctl
    local program
    for program in "$server" "$partner" "$ctl"; do
        [ -x "$program" ] || fail "no program $program"
    done
}

# ---------------------------------------------------------------- waiting

# Every wait polls for something observable and has a bound.
wait_until() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.05
    done
}

alive() { [ -n "$1" ] && kill -0 "$1" 2> /dev/null; }
gone() { ! alive "$1"; }
lines_matching() {
    local count
    count=$(grep -c -E -- "$2" "$1" 2> /dev/null)
    echo "${count:-0}"
}
has_lines() { [ "$(lines_matching "$1" "$2")" -ge "$3" ]; }

# Prints the complete lines of a log that have not been shown yet.
declare -A shown_lines
show_new() {
    local log=$1 label=$2
    local total
    total=$(wc -l < "$log")
    local from=$((${shown_lines[$log]:-0} + 1))
    if [ "$total" -ge "$from" ]; then
        sed -n "${from},${total}p" "$log" | indent "$label"
    fi
    shown_lines[$log]=$total
}

# ---------------------------------------------------------------- clean-up

# The System V key of ftok(path, 65), as ipcs shows it.
ftok_key() {
    local dev ino
    read -r dev ino < <(stat -L -c '%d %i' "$1") || return 1
    printf '0x%08x' $(((65 << 24) | ((dev & 0xff) << 16) | (ino & 0xffff)))
}

segment_id() { ipcs -m 2> /dev/null | awk -v key="$1" '$1 == key { print $2 }'; }
segment_there() { [ -n "$(segment_id "$1")" ]; }

# A process ID counts as the server's only while it runs that program.
is_server() { alive "$1" && grep -q qo3964_server "/proc/$1/cmdline" 2> /dev/null; }

stop_server() {
    is_server "$server_pid" || return 0
    # SIGINT is the server's orderly stop; only a hung server is killed.
    kill -INT "$server_pid" 2> /dev/null
    wait_until "$GONE_WAIT" gone "$server_pid" || kill -KILL "$server_pid" 2> /dev/null
    wait_until 5 gone "$server_pid"
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    stop_server
    if alive "$partner_pid"; then
        kill -TERM "$partner_pid" 2> /dev/null
        wait_until "$GONE_WAIT" gone "$partner_pid" || kill -KILL "$partner_pid" 2> /dev/null
    fi
    [ -n "$server_pane" ] && tmux kill-pane -t "$server_pane" 2> /dev/null
    [ -n "$outer_socket" ] && tmux -S "$outer_socket" kill-server 2> /dev/null
    # A server that died without its orderly stop leaves its segment and
    # lockfile; remove them only when that server created them.
    if [ -n "$segment_key" ] && [ -n "$server_pid" ] && ! is_server "$server_pid"; then
        local id
        id=$(segment_id "$segment_key")
        if [ -n "$id" ] && ipcs -m -p 2> /dev/null | awk -v id="$id" -v pid="$server_pid" \
            '$1 == id && $3 == pid { found = 1 } END { exit !found }'; then
            ipcrm -m "$id" 2> /dev/null && echo "demo.sh: removed the segment $segment_key left by the server" >&2
        fi
    fi
    if [ -n "$lockfile" ] && [ -f "$lockfile" ] && ! is_server "$server_pid" &&
        [ "$(head -c 12 "$lockfile" 2> /dev/null | tr -dc 0-9)" = "$server_pid" ]; then
        rm -f "$lockfile"
    fi
    if [ -n "$work" ]; then
        cd /
        rm -rf "$work"
    fi
    exit "$status"
}

trap cleanup EXIT
# A stop from outside is not a failure of the demo: say so, clean up, and
# end with the shell's status for the signal.
stopped_by() {
    say "$1: the demo stops what it started" >&2
    exit "$2"
}
trap 'stopped_by interrupted 130' INT
trap 'stopped_by terminated 143' TERM
trap 'stopped_by "hung up" 129' HUP

# ---------------------------------------------------------------- --monitor outside tmux

# The traffic display needs a terminal of its own beside the narration:
# outside tmux the demo runs itself again in a tmux session with two panes,
# and prints what it showed once the session has closed.
if [ $monitor = 1 ] && [ -z "${TMUX:-}" ]; then
    check_run_tools
    [ -t 0 ] && [ -t 1 ] || fail "--monitor needs a terminal (or a tmux session)"
    find_programs
    work=$(mktemp -d "${TMPDIR:-/tmp}/qo3964_demo.XXXXXX") || fail "mktemp -d did not succeed"
    outer_socket=$work/tmux.socket
    inner=$(printf '%q --monitor --bin %q 2>&1 | tee %q; echo ${PIPESTATUS[0]} > %q' \
        "$script" "$bin_dir" "$work/transcript" "$work/status")
    tmux -S "$outer_socket" -f /dev/null new-session -s qo3964_demo "bash -c $(printf %q "$inner")" ||
        fail "tmux did not start"
    outer_socket=""
    [ -f "$work/transcript" ] && cat "$work/transcript"
    [ -f "$work/status" ] || fail "the demo in tmux did not finish"
    exit "$(cat "$work/status")"
fi

# ---------------------------------------------------------------- the demo

check_run_tools
find_programs
work=$(mktemp -d "${TMPDIR:-/tmp}/qo3964_demo.XXXXXX") || fail "mktemp -d did not succeed"
cd "$work" || fail "cannot enter $work"
rc=qo3964.rc

say "qo3964 demo: a simulated controller on a pseudo-terminal, a server on its"
say "line, and qo3964_ctl as the application."
say "Working directory $work"
echo

# 1. The partner device.
partner_args=(--echo --zvz "$ZVZ" --qvz "$QVZ" --max-length "$PARTNER_MAX_LENGTH")
say "1. The partner: qo3964_partner plays the controller on a pseudo-terminal. It"
say "   acknowledges every telegram of up to $PARTNER_MAX_LENGTH bytes and sends it straight back"
say "   (--echo); a longer one it refuses with NAK (--max-length $PARTNER_MAX_LENGTH)."
shown_command "qo3964_partner ${partner_args[*]} &"
"$partner" "${partner_args[@]}" > partner.log 2>&1 &
partner_pid=$!
wait_until "$PTY_WAIT" has_lines partner.log '^PTY ' 1 || {
    show_new partner.log "partner | "
    fail "the partner did not report its pseudo-terminal"
}
pty=$(sed -n 's/^PTY //p' partner.log | head -n 1)
show_new partner.log "partner | "
say "   The partner runs as process $partner_pid."
echo

# 2. The rc-file. The SHMNAME file's key must not be in use already (ftok
# keys of two files can coincide); another file gives another key.
touch link.shm
segment_key=$(ftok_key link.shm) || fail "cannot read link.shm"
for spare in 1 2 3 4 5; do
    segment_there "$segment_key" || break
    touch "link$spare.shm"
    mv "link$spare.shm" link.shm
    segment_key=$(ftok_key link.shm)
done
segment_there "$segment_key" && fail "every key tried is in use by another segment"
shm_name=$work/link.shm
lockfile=/tmp/qo_$(printf '%s' "$shm_name" | tr '/. ' '___')_A
{
    echo "# The server of the demo, on the partner's line."
    echo "PORT     $pty"
    echo "SHMNAME  $shm_name"
    echo "ZVZ      $ZVZ"
    echo "QVZ      $QVZ"
    echo "TDS      $TDS"
    [ $monitor = 1 ] && echo "IODEBUG  ON"
} > "$rc"
say "2. The rc-file $rc points the server at the partner's line (PORT)."
say "   SHMNAME names the file whose key (ftok) the server's shared memory"
say "   segment gets; with the same file the applications find the server. The"
say "   delay times ZVZ ${ZVZ} ms and QVZ ${QVZ} ms are generous, so that a busy"
say "   machine cannot upset the demo; the partner uses the same. TDS $TDS:"
say "   attempts per send."
indent "" < "$rc"
echo

# 3. The server.
say "3. The server: it reads the rc-file, claims its lockfile, creates the"
say "   segment and opens the port; it runs in the foreground until it is told"
say "   to stop."
if [ $monitor = 1 ]; then
    say "   Its traffic display (IODEBUG ON) runs in the tmux pane below: bytes"
    say "   received on the IN row, bytes sent on the OUT row."
    shown_command "qo3964_server $rc    (in the pane below)"
    # The pane's shell keeps the server's exit status (tmux does not always
    # collect it in time) and leaves SIGINT to the server.
    pane_command="trap '' INT; $(printf %q "$server") $rc; echo \$? > server.status"
    server_pane=$(tmux split-window -d -v -l 50% -c "$work" -P -F '#{pane_id}' "$pane_command") ||
        fail "tmux could not open a pane for the server"
    tmux set-option -p -t "$server_pane" remain-on-exit on
    server_screen() { tmux capture-pane -p -J -S - -t "$server_pane" 2> /dev/null | sed '/^Pane is dead/d'; }
    server_up() { server_screen | grep -q 'is up and ok' || [ -f server.status ]; }
    wait_until "$UP_WAIT" server_up
    server_screen | grep -q 'is up and ok' || fail "the server did not report \"[14] is up and ok\""
    # The server wrote its process ID into the lockfile on its way up.
    server_pid=$(head -c 12 "$lockfile" 2> /dev/null | tr -dc 0-9)
    is_server "$server_pid" || fail "the lockfile $lockfile does not name the running server"
    say "   The server is up (process $server_pid)."
else
    shown_command "qo3964_server $rc &"
    "$server" "$rc" > server.log 2>&1 &
    server_pid=$!
    server_up() { grep -q 'is up and ok' server.log || gone "$server_pid"; }
    wait_until "$UP_WAIT" server_up
    show_new server.log "server  | "
    grep -q 'is up and ok' server.log || fail "the server did not report \"[14] is up and ok\""
    say "   The server is up (process $server_pid)."
fi
segment_there "$segment_key" || fail "no segment under the key $segment_key of $shm_name"
say "   Its segment has the key $segment_key,"
say "   its lockfile is $lockfile."
say "   qo3964_ctl status shows what a running server holds:"
shown_command "qo3964_ctl --rc $rc status"
"$ctl" --rc "$rc" status 2>&1 | indent ""
echo

# Runs qo3964_ctl with the rc-file, shows its output, keeps its exit status.
ctl_run() {
    shown_command "qo3964_ctl --rc $rc $*"
    ctl_output=$("$ctl" --rc "$rc" "$@" 2>&1)
    ctl_status=$?
    printf '%s\n' "$ctl_output" | indent ""
}

# 4. Sending.
say "4. An application sends a telegram. qo3964_ctl send (qo3964m_send of the"
say "   client library) waits for the partner's acknowledgement: result 2."
say "   The partner logs the telegram (RX) and sends it back (TX ...)."
ctl_run send 01 10 02
[ $ctl_status = 0 ] && [[ $ctl_output == *"result 2:"* ]] || fail "the send did not end with result 2"
wait_until "$LOG_WAIT" has_lines partner.log '^[0-9:.]+ TX 01 10 02 acknowledged' 1 ||
    fail "the partner did not send the telegram back"
show_new partner.log "partner | "
say "   A second one, with a DLE byte (10) inside: on the line the server doubles"
say "   it (10 10), the partner takes the doubling out again."
ctl_run send 48 65 6C 6C 6F 10 21
[ $ctl_status = 0 ] && [[ $ctl_output == *"result 2:"* ]] || fail "the send did not end with result 2"
wait_until "$LOG_WAIT" has_lines partner.log '^[0-9:.]+ TX 48 65 6C 6C 6F 10 21 acknowledged' 1 ||
    fail "the partner did not send the telegram back"
show_new partner.log "partner | "
echo

# 5. Receiving.
say "5. The server has acknowledged both echoes and keeps them (up to 16) until"
say "   an application fetches them. qo3964_ctl receive (qo3964m_receive):"
ctl_run receive --count 2
[ $ctl_status = 0 ] && [[ $ctl_output == *"01 10 02"* ]] && [[ $ctl_output == *"48 65 6C 6C 6F 10 21"* ]] ||
    fail "the echoes were not received"
echo

# 6. A failure.
say "6. A failure: a telegram of 20 bytes is longer than the partner takes. It"
say "   answers each of the $TDS attempts (TDS) with NAK instead of DLE, the server"
say "   gives up with a NAK of its own (the partner logs it as STRAY 15), and the"
say "   send fails with -67."
ctl_run send 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13
[ $ctl_status = 1 ] && [[ $ctl_output == *"result -67:"* ]] || fail "the send did not fail with -67"
wait_until "$LOG_WAIT" has_lines partner.log '^[0-9:.]+ STRAY 15' 1 ||
    fail "the partner did not log the server's closing NAK"
show_new partner.log "partner | "
ctl_run text -67
echo

# 7. The orderly stop.
say "7. The orderly stop: qo3964_ctl stop writes the stop order into the"
say "   segment and waits until the server has gone. The server marks the"
say "   segment for its clients, restores the port, removes the segment and the"
say "   lockfile, and ends with exit status 1, as after every stop."
ctl_run stop
[ $ctl_status = 0 ] || fail "qo3964_ctl stop did not succeed"
if [ $monitor = 1 ]; then
    wait_until "$GONE_WAIT" test -s server.status || fail "the server did not end"
    server_status=$(cat server.status)
    say "   The server's pane (its traffic display, then its shutdown messages):"
    server_screen | indent "server  | "
    tmux kill-pane -t "$server_pane"
    server_pane=""
else
    wait_until "$GONE_WAIT" gone "$server_pid" || fail "the server did not end"
    wait "$server_pid"
    server_status=$?
    show_new server.log "server  | "
fi
[ -n "$server_status" ] || fail "no exit status of the server"
[ "$server_status" = 1 ] || fail "the server ended with exit status $server_status, not 1"
say "   The server ended with exit status $server_status."
echo

# 8. The partner ends too.
say "8. The partner ends on SIGTERM with its counts."
kill -TERM "$partner_pid"
wait_until "$GONE_WAIT" gone "$partner_pid" || fail "the partner did not end"
wait "$partner_pid" || fail "the partner ended with exit status $?"
show_new partner.log "partner | "
echo

segment_there "$segment_key" && fail "the segment $segment_key is still there"
[ -e "$lockfile" ] && fail "the lockfile $lockfile is still there"
say "Nothing is left: no segment with the key $segment_key (ipcs -m), no lockfile"
say "$lockfile; the working directory goes now."
say "Demo finished."
