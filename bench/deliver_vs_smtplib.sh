#!/bin/bash
# Outbox delivery speed beside Python's smtplib, in the same run, against the
# real SMTP server (OpenSMTPD, started through scripts/lab on a free port):
# COUNT composed messages of SIZE_KB kilobytes go through our whole delivery
# machine (one connection, MAIL/RCPT/DATA per item, filing into "sent" and
# removal from the outbox); then smtplib sends the same header and body
# bytes over one connection. ROUNDS rounds, alternating who goes first.
# Ours runs with smtppipe on (EHLO, and pipelining when the server offers it).
#
# RELAY_MS=25 puts tests/gui/relay.py (that many milliseconds each way) in
# front of the server for both clients. SERVER=sink uses bench/smtpsink.py
# instead of OpenSMTPD: a small server that announces PIPELINING and
# CHUNKING (OpenSMTPD 6.8 does neither, and refuses commands sent ahead);
# CHUNKING=0 makes it announce PIPELINING only. COMPOSE=0 skips the compose
# part.
# Then the compose side: one 50 MB attachment written as uuencoded parts of
# 100 KB and as MIME, with the time and the peak memory.
#
#   bench/deliver_vs_smtplib.sh BUILD_DIR [COUNT] [SIZE_KB] [ROUNDS]
#
# BUILD_DIR holds bin/delivery_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root and OpenSMTPD (scripts/packages/servers.txt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: deliver_vs_smtplib.sh BUILD_DIR [COUNT] [SIZE_KB] [ROUNDS]}
count=${2:-1000}
size_kb=${3:-20}
rounds=${4:-3}
bench=$build/bin/delivery_bench
[ -x "$bench" ] || { echo "no $bench" >&2; exit 2; }

tmp=${BENCH_TMP:-/tmp}
lab=/tmp/omail-deliver-lab-$$
work=$tmp/omail-deliver-work-$$
mkdir -p "$work"
cleanup() {
    bash "$root/scripts/lab/lab.sh" stop "$lab" > /dev/null 2>&1 || true
    rm -rf "$lab" "$work"
}
trap cleanup EXIT
# One connection must carry every message: OpenSMTPD takes 100 by default.
server_name="OpenSMTPD"
if [ "${SERVER:-opensmtpd}" = sink ]; then
    # The sink ends when its standard input (our end of the pipe) closes.
    sink_args=()
    [ "${CHUNKING:-1}" = 0 ] && sink_args=(--no-chunking)
    coproc SINK { exec python3 "$root/bench/smtpsink.py" "$work/sink" "${sink_args[@]}"; }
    read -r SMTP_PORT <&"${SINK[0]}"
    SMTP_MAILDIR=$work/sink
    server_name="the pipelining sink"
    [ "${CHUNKING:-1}" = 0 ] || server_name="the pipelining and chunking sink"
else
    SMTP_MAX_MAILS=$((count + 10)) LAB_WITHOUT="pop3 nntp" bash "$root/scripts/lab/lab.sh" start "$lab" > /dev/null
    # shellcheck disable=SC1091
    . "$lab/lab.env"
fi
server_port=$SMTP_PORT
link="loopback"
if [ -n "${RELAY_MS:-}" ]; then
    coproc RELAY { exec python3 "$root/tests/gui/relay.py" "$SMTP_PORT" "$RELAY_MS"; }
    read -r server_port <&"${RELAY[0]}"
    link="relay of $RELAY_MS ms each way"
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

wait_mailbox() {  # until the server has stored every message of the run
    local want=$1 i
    for i in $(seq 1 600); do
        [ "$(find "$SMTP_MAILDIR/new" -type f | wc -l)" -ge "$want" ] && return 0
        sleep 0.1
    done
}

run_ours() {
    rm -rf "$work/ours" && "$bench" prepare "$work/ours" "$count" "$size_kb"
    rm -f "$SMTP_MAILDIR"/new/*
    echo "omail     $("$bench" deliver "$work/ours" "127.0.0.1:$server_port" 1)"
    wait_mailbox "$count"
}

run_smtplib() {
    rm -rf "$work/theirs" && "$bench" prepare "$work/theirs" "$count" "$size_kb"
    rm -f "$SMTP_MAILDIR"/new/*
    local t0 t1
    t0=$(now_ms)
    python3 - "$work/theirs/OUT" "$server_port" <<'PY'
import glob, smtplib, sys
folder, port = sys.argv[1], int(sys.argv[2])
with smtplib.SMTP("127.0.0.1", port) as s:
    s.helo("orrindel.mail")
    for header in sorted(glob.glob(folder + "/N*.omh")):
        text = open(header, "rb").read() + b"\r\n" + open(header[:-1] + "b", "rb").read()
        s.sendmail("bench@lab.test", ["rcpt@lab.test"], text)
PY
    t1=$(now_ms)
    echo "smtplib   $((t1 - t0)) ms"
    wait_mailbox "$count"
}

echo "outbox: $count messages of $size_kb KB to $server_name 127.0.0.1:$SMTP_PORT ($link)"
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) -eq 1 ]; then run_ours; run_smtplib; else run_smtplib; run_ours; fi
done

[ "${COMPOSE:-1}" = 0 ] && exit 0
head -c $((50 * 1024 * 1024)) /dev/urandom > "$work/big.bin"
echo "compose with a 50 MB attachment:"
"$bench" compose "$work/big.bin" 0 100
"$bench" compose "$work/big.bin" 1
