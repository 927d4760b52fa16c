#!/bin/bash
# News retrieval beside slrnpull on the same group, in the same run: a real
# NNTP server (INN, started through scripts/lab on a free port) holds COUNT
# articles of about SIZE bytes in local.big; our whole news machine (GROUP,
# HEAD, BODY and NEXT for every article, each filed into the group's folder
# with its list record and the high-water mark) fetches them into a fresh
# data directory, and slrnpull fetches them into a fresh spool. ROUNDS
# rounds, alternating who goes first; medians, spread and the ratio of the
# medians at the end.
#
#   bench/news_vs_slrnpull.sh BUILD_DIR [COUNT] [SIZE] [ROUNDS]
#
# BUILD_DIR holds bin/news_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, inn2 (scripts/packages/servers.txt) and slrnpull (bench.txt).
#
# RELAY_MS=25 puts tests/gui/relay.py (that many milliseconds each way) in
# front of the server, and both programs go through it. OURS_WINDOW=N asks
# for N articles ahead (0: one command at a time, as without pipelining),
# for a before/after figure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: news_vs_slrnpull.sh BUILD_DIR [COUNT] [SIZE] [ROUNDS]}" && pwd)
count=${2:-1000}
size=${3:-2048}
rounds=${4:-3}
bench=$build/bin/news_bench
labsh=$root/scripts/lab/lab.sh
[ -x "$bench" ] || { echo "no $bench" >&2; exit 2; }
command -v slrnpull > /dev/null || { echo "slrnpull is not installed" >&2; exit 2; }

top=$(mktemp -d /tmp/omail-newsbench.XXXXXX)
chmod 755 "$top"
lab=$top/lab
export OMAIL_BENCH_DIR=$top/omail
trap 'bash "$labsh" stop "$lab" > /dev/null 2>&1 || true; rm -rf "$top"' EXIT
LAB_WITHOUT="pop3 smtp" bash "$labsh" start "$lab" > /dev/null
# shellcheck disable=SC1091
. "$lab/lab.env"

articles() {  # GROUP COUNT
    awk -v group="$1" -v count="$2" -v size="$size" 'BEGIN {
        line = sprintf("%072d", 0); gsub(/0/, "b", line)
        for (i = 1; i <= count; i++) {
            art = "Path: lab-injector!not-for-mail\nFrom: Bench <bench@lab.test>\nNewsgroups: " group "\n"
            art = art "Subject: benchmark article " i "\nMessage-ID: <" group "." i "@lab.test>\n"
            art = art "Date: Mon, 01 Jan 2024 12:00:00 +0000\n\n"
            for (n = 0; n < size; n += 73) art = art line "\n"
            printf "#! rnews %d\n%s", length(art), art
        }
    }'
}
articles local.big "$count" > "$top/batch"
bash "$labsh" rnews "$lab" < "$top/batch"

server_port=$NNTP_PORT
link="loopback"
if [ -n "${RELAY_MS:-}" ]; then
    # The relay ends when its standard input (our end of the pipe) closes.
    coproc RELAY { exec python3 "$root/tests/gui/relay.py" "$NNTP_PORT" "$RELAY_MS"; }
    read -r server_port <&"${RELAY[0]}"
    link="relay of $RELAY_MS ms each way"
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

run_ours() {
    local t0 t1 out
    # The previous run's data directory goes before the clock starts, as
    # slrnpull's spool does: its deletion is no part of a retrieval.
    rm -rf "$OMAIL_BENCH_DIR-retrieve"
    sync
    t0=$(now_ms)
    out=$("$bench" retrieve "127.0.0.1:$server_port" local.big ${OURS_WINDOW:+"$OURS_WINDOW"})
    t1=$(now_ms)
    echo "omail     $((t1 - t0)) ms   ($out)"
    ours="$ours $((t1 - t0))"
}

run_slrnpull() {
    local spool=$top/slrnpull t0 t1 got
    rm -rf "$spool"
    mkdir -p "$spool"
    # Every article with its body, none expired, nothing posted.
    printf 'default %d 0 0\nlocal.big\n' "$((count * 2))" > "$spool/slrnpull.conf"
    sync
    t0=$(now_ms)
    slrnpull -d "$spool" -h "127.0.0.1:$server_port" --no-post > "$top/slrnpull.log" 2>&1 || true
    t1=$(now_ms)
    got=$(find "$spool/news/local/big" -type f -name '[0-9]*' 2> /dev/null | wc -l)
    echo "slrnpull  $((t1 - t0)) ms   ($got articles in the spool)"
    [ "$got" -gt 0 ] || tail -5 "$top/slrnpull.log" >&2
    theirs="$theirs $((t1 - t0))"
}

# "min median max" of a list of milliseconds.
spread() { tr ' ' '\n' <<< "$1" | grep . | sort -n | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%d %.0f %d", v[1], m, v[NR] }'; }

# The medians and spread of $ours and $theirs, named A and B, the ratio of
# the medians and the ratio round by round (the runs of a round are paired).
summary() {  # A B
    local omin omed omax smin smed smax
    read -r omin omed omax <<< "$(spread "$ours")"
    read -r smin smed smax <<< "$(spread "$theirs")"
    echo "$1: median $omed ms (min $omin, max $omax) over $rounds rounds"
    echo "$2: median $smed ms (min $smin, max $smax)"
    paste -d' ' <(tr ' ' '\n' <<< "$theirs" | grep .) <(tr ' ' '\n' <<< "$ours" | grep .) |
        awk '{ printf "%.4f\n", $1 / $2 }' | sort -n |
        awk -v a="$1" -v b="$2" -v om="$omed" -v sm="$smed" '{ r[NR] = $1 } END {
            m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
            printf "%s/%s (medians) %.1f; round by round median %.1f, %.1f to %.1f\n", b, a, sm / om, m, r[1], r[NR] }'
}

# BODIES=1: instead of slrnpull, our chosen-bodies pass over every row
# (headers fetched first, not timed), asked ahead against one at a time.
if [ -n "${BODIES:-}" ]; then
    run_bodies() {  # WINDOW
        local out
        out=$("$bench" bodies "127.0.0.1:$server_port" local.big "$1")
        echo "window $1: $out"
        sed -n 's/^stored [0-9]* bodies in \([0-9]*\) ms.*/\1/p' <<< "$out"
    }
    echo "chosen bodies: local.big, $count articles of about $size bytes ($link)"
    for r in $(seq 1 "$rounds"); do
        if [ $((r % 2)) -eq 1 ]; then a=$(run_bodies 64); b=$(run_bodies 0); else b=$(run_bodies 0); a=$(run_bodies 64); fi
        echo "$a" | head -1; echo "$b" | head -1
        ours="${ours:-} $(tail -1 <<< "$a")"
        theirs="${theirs:-} $(tail -1 <<< "$b")"
    done
    summary "ahead" "one at a time"
    exit 0
fi

ours=""
theirs=""
echo "group: local.big, $count articles of about $size bytes on INN 127.0.0.1:$NNTP_PORT ($link)"
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) -eq 1 ]; then run_ours; run_slrnpull; else run_slrnpull; run_ours; fi
done
summary omail slrnpull
