#!/bin/bash
# News retrieval beside slrnpull on the same group, in the same run: a real
# NNTP server (INN, started through scripts/lab on a free port) holds COUNT
# articles of about SIZE bytes in local.big; our whole news machine (GROUP,
# HEAD, BODY and NEXT for every article, each filed into the group's folder
# with its list record and the high-water mark) fetches them into a fresh
# data directory, and slrnpull fetches them into a fresh spool. ROUNDS
# rounds, alternating who goes first.
#
#   bench/news_vs_slrnpull.sh BUILD_DIR [COUNT] [SIZE] [ROUNDS]
#
# BUILD_DIR holds bin/news_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, inn2 (scripts/packages/servers.txt) and slrnpull (bench.txt).
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

awk -v count="$count" -v size="$size" 'BEGIN {
    line = sprintf("%072d", 0); gsub(/0/, "b", line)
    for (i = 1; i <= count; i++) {
        art = "Path: lab-injector!not-for-mail\nFrom: Bench <bench@lab.test>\nNewsgroups: local.big\n"
        art = art "Subject: benchmark article " i "\nMessage-ID: <bench." i "@lab.test>\n"
        art = art "Date: Mon, 01 Jan 2024 12:00:00 +0000\n\n"
        for (n = 0; n < size; n += 73) art = art line "\n"
        printf "#! rnews %d\n%s", length(art), art
    }
}' > "$top/batch"
bash "$labsh" rnews "$lab" < "$top/batch"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

run_ours() {
    local t0 t1 out
    t0=$(now_ms)
    out=$("$bench" retrieve "127.0.0.1:$NNTP_PORT" local.big)
    t1=$(now_ms)
    echo "omail     $((t1 - t0)) ms   ($out)"
    ours=$((ours + t1 - t0))
}

run_slrnpull() {
    local spool=$top/slrnpull t0 t1 got
    rm -rf "$spool"
    mkdir -p "$spool"
    # Every article with its body, none expired, nothing posted.
    printf 'default %d 0 0\nlocal.big\n' "$((count * 2))" > "$spool/slrnpull.conf"
    t0=$(now_ms)
    slrnpull -d "$spool" -h "127.0.0.1:$NNTP_PORT" --no-post > "$top/slrnpull.log" 2>&1 || true
    t1=$(now_ms)
    got=$(find "$spool/news/local/big" -type f -name '[0-9]*' 2> /dev/null | wc -l)
    echo "slrnpull  $((t1 - t0)) ms   ($got articles in the spool)"
    theirs=$((theirs + t1 - t0))
}

ours=0
theirs=0
echo "group: local.big, $count articles of about $size bytes on INN 127.0.0.1:$NNTP_PORT"
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) -eq 1 ]; then run_ours; run_slrnpull; else run_slrnpull; run_ours; fi
done
awk -v a="$ours" -v b="$theirs" -v n="$rounds" \
    'BEGIN { printf "mean: omail %.0f ms, slrnpull %.0f ms, omail/slrnpull %.2f\n", a / n, b / n, a / b }'
