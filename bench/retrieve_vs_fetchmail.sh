#!/bin/bash
# Mail retrieval speed beside fetchmail on the same mailbox, in the same run:
# a real POP3 server (dovecot, started through scripts/lab on a free port)
# holds COUNT messages of SIZE_KB kilobytes; our whole retrieval machine
# (logon, RETR, filing into the inbox with its list record, DELE, QUIT)
# empties it, the mailbox is filled again, and `fetchmail --bsmtp FILE`
# empties it. ROUNDS rounds, alternating who goes first.
#
#   bench/retrieve_vs_fetchmail.sh BUILD_DIR [COUNT] [SIZE_KB] [ROUNDS]
#
# BUILD_DIR holds bin/mainlist_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, dovecot (scripts/packages/servers.txt) and fetchmail.
# BENCH_TMP (default /tmp) holds both programs' output: our data directory
# and fetchmail's BSMTP file, so both write to the same file system.
# RELAY_MS=25 puts tests/gui/relay.py (that many milliseconds each way) in
# front of the server, and both programs go through it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: retrieve_vs_fetchmail.sh BUILD_DIR [COUNT] [SIZE_KB] [ROUNDS]}
count=${2:-1000}
size_kb=${3:-20}
rounds=${4:-3}
bench=$build/bin/mainlist_bench
[ -x "$bench" ] || { echo "no $bench" >&2; exit 2; }
command -v fetchmail > /dev/null || { echo "fetchmail is not installed" >&2; exit 2; }

# STORE_FS=ext4 puts both programs' output on a fresh ext4 file system of its
# own (an image under /tmp, loop-mounted; needs root and e2fsprogs), whatever
# /tmp is. OLD_BUILD=DIR also runs that build's bin/mainlist_bench in every
# round, right after ours, to compare two trees in one run.
fs_mount=
if [ "${STORE_FS:-}" = ext4 ]; then
    command -v mkfs.ext4 > /dev/null || { echo "mkfs.ext4 is not installed (e2fsprogs)" >&2; exit 2; }
    fs_mount=/tmp/omail-retrieve-ext4-$$
    truncate -s 1G "$fs_mount.img"
    # Inode tables and journal written now, not by a background thread
    # competing with the runs, as on a disk that has been in use.
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$fs_mount.img"
    mkdir -p "$fs_mount"
    mount -o loop "$fs_mount.img" "$fs_mount"
    BENCH_TMP=$fs_mount
fi
unmount_store_fs() {
    [ -z "$fs_mount" ] && return 0
    umount "$fs_mount" 2> /dev/null || true
    rmdir "$fs_mount" 2> /dev/null || true
    rm -f "$fs_mount.img"
}

tmp=${BENCH_TMP:-/tmp}
lab=/tmp/omail-retrieve-lab-$$
work=$tmp/omail-retrieve-work-$$
export OMAIL_BENCH_DIR=$tmp/omail-retrieve-data-$$
mkdir -p "$work"
cleanup() {
    bash "$root/scripts/lab/lab.sh" stop "$lab" > /dev/null 2>&1 || true
    rm -rf "$lab" "$work" "$OMAIL_BENCH_DIR-retrieve"
    unmount_store_fs
}
trap cleanup EXIT
LAB_WITHOUT="smtp nntp" bash "$root/scripts/lab/lab.sh" start "$lab" > /dev/null
# shellcheck disable=SC1091
. "$lab/lab.env"
server_port=$POP3_PORT
link="loopback"
if [ -n "${RELAY_MS:-}" ]; then
    # The relay ends when its standard input (our end of the pipe) closes.
    coproc RELAY { exec python3 "$root/tests/gui/relay.py" "$POP3_PORT" "$RELAY_MS"; }
    read -r server_port <&"${RELAY[0]}"
    link="relay of $RELAY_MS ms each way"
fi

fill() {
    bash "$root/scripts/lab/lab.sh" reset-pop3 "$lab"
    python3 - "$POP3_MAILDIR/new" "$count" "$size_kb" <<'PY'
import sys
folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) * 1024
line = ("0123456789abcdefghijklmnopqrstuvwxyz" * 3)[:75] + "\n"
body = line * (size // len(line))
for n in range(1, count + 1):
    with open(f"{folder}/1700000000.{n}.bench", "w") as f:
        f.write(f"From: Sender {n % 13} <s{n % 13}@lab.test>\nTo: testuser@lab.test\n"
                f"Subject: bench message {n}\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n"
                f"Message-ID: <bench{n}@lab.test>\n\n{body}")
PY
    chown -R 4242:4242 "$POP3_MAILDIR"
}

# The previous run's data directory goes before the clock starts, as
# fetchmail's BSMTP file does: 2,000 deletions are no part of a retrieval.
clear_data() { rm -rf "$OMAIL_BENCH_DIR-retrieve"; sync; }

# dovecot removes what QUIT committed a moment after the client is gone:
# wait for it, so that its work does not fall into the next timed run.
settled() {
    local i
    for i in $(seq 1 200); do
        [ -z "$(find "$POP3_MAILDIR/new" "$POP3_MAILDIR/cur" -type f -print -quit)" ] && return 0
        sleep 0.05
    done
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

run_old() {
    local t0 t1 out
    [ -n "${OLD_BUILD:-}" ] || return 0
    clear_data
    t0=$(now_ms)
    out=$("$OLD_BUILD/bin/mainlist_bench" retrieve "127.0.0.1:$server_port" "$POP3_USER" "$POP3_PASS")
    t1=$(now_ms)
    echo "old omail $((t1 - t0)) ms   ($out)"
    echo "old $((t1 - t0))" >> "$work/times"
    settled
}

run_ours() {
    local t0 t1 out
    # The old build goes first in even rounds, after ours in odd ones.
    if [ $((r % 2)) -eq 0 ] && [ -n "${OLD_BUILD:-}" ]; then run_old; fill; fi
    clear_data
    t0=$(now_ms)
    out=$("$bench" retrieve "127.0.0.1:$server_port" "$POP3_USER" "$POP3_PASS")
    t1=$(now_ms)
    echo "omail     $((t1 - t0)) ms   ($out)"
    echo "omail $((t1 - t0))" >> "$work/times"
    settled
    left=$(find "$POP3_MAILDIR/new" "$POP3_MAILDIR/cur" -type f | wc -l)
    if [ $((r % 2)) -eq 1 ] && [ -n "${OLD_BUILD:-}" ]; then fill; run_old; fi
}

run_fetchmail() {
    local t0 t1 rc=$work/fetchmailrc
    # No TLS on the lab server: fetchmail must not try STLS.
    printf 'set no syslog\npoll 127.0.0.1 service %s protocol pop3 auth password user "%s" password "%s" is "%s" here sslproto ""\n' \
        "$server_port" "$POP3_USER" "$POP3_PASS" "$(id -un)" > "$rc"
    chmod 600 "$rc"
    rm -f "$work/out.bsmtp"; sync
    t0=$(now_ms)
    fetchmail -f "$rc" --all --nokeep --bsmtp "$work/out.bsmtp" --silent > "$work/fetchmail.log" 2>&1 || true
    t1=$(now_ms)
    echo "fetchmail $((t1 - t0))" >> "$work/times"
    settled
    echo "fetchmail $((t1 - t0)) ms   ($(grep -c '^MAIL FROM' "$work/out.bsmtp" 2>/dev/null || echo 0) messages in the BSMTP file)"
}

echo "mailbox: $count messages of $size_kb KB on dovecot 127.0.0.1:$POP3_PORT ($link); output under $tmp ($(stat -f -c %T "$tmp"))"
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) -eq 1 ]; then
        fill; run_ours
        fill; run_fetchmail
    else
        fill; run_fetchmail
        fill; run_ours
    fi
    echo "  (round $r: $left messages left on the server after ours)"
done
# Medians, spread (lowest to highest) and the ratio of the medians.
python3 - "$work/times" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    who, ms = line.split()
    times.setdefault(who, []).append(int(ms))
for who, ms in times.items():
    print(f"{who:9} median {statistics.median(ms):.0f} ms, {min(ms)} to {max(ms)} ms over {len(ms)} runs")
f = statistics.median(times["fetchmail"])
for who in ("omail", "old"):
    if who in times:
        # Round by round too: each run against fetchmail's of the same round.
        pairs = sorted(a / b for a, b in zip(times[who], times["fetchmail"]))
        print(f"{who:9} / fetchmail: {statistics.median(times[who]) / f:.2f}"
              f" (round by round: median {statistics.median(pairs):.2f}, {pairs[0]:.2f} to {pairs[-1]:.2f})")
PY
