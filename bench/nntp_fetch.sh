#!/bin/bash
# HEAD and BODY of COUNT articles of about SIZE bytes each, fetched by the
# engine from a real NNTP server (INN) on loopback: articles per second.
#
# usage: bench/nntp_fetch.sh BUILD_DIR [COUNT] [SIZE]
#   BUILD_DIR holds bin/net_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root and scripts/packages/servers.txt (scripts/deps.sh servers).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: $0 BUILD_DIR [COUNT] [SIZE]}" && pwd)
COUNT=${2:-1000}
SIZE=${3:-2048}
NETBENCH=$BUILD/bin/net_bench
LABSH=$here/scripts/lab/lab.sh
[ -x "$NETBENCH" ] || { echo "no $NETBENCH" >&2; exit 1; }

top=$(mktemp -d /tmp/omail-bench.XXXXXX)
chmod 755 "$top"
LAB=$top/lab
WORK=$top/work
mkdir -p "$WORK"
trap '"$LABSH" stop "$LAB" > /dev/null 2>&1 || true; rm -rf "$top"' EXIT
LAB_WITHOUT="pop3 smtp" "$LABSH" start "$LAB" > /dev/null
# shellcheck disable=SC1091
. "$LAB/lab.env"

awk -v count="$COUNT" -v size="$SIZE" 'BEGIN {
    line = sprintf("%072d", 0); gsub(/0/, "b", line)
    for (i = 1; i <= count; i++) {
        art = "Path: lab-injector!not-for-mail\nFrom: Bench <bench@lab.test>\nNewsgroups: local.big\n"
        art = art "Subject: benchmark article " i "\nMessage-ID: <bench." i "@lab.test>\n"
        art = art "Date: Mon, 01 Jan 2024 12:00:00 +0000\n\n"
        for (n = 0; n < size; n += 73) art = art line "\n"
        printf "#! rnews %d\n%s", length(art), art
    }
}' > "$top/batch"
"$LABSH" rnews "$LAB" < "$top/batch"
result=$(cd "$WORK" && "$NETBENCH" --nntp "127.0.0.1:$NNTP_PORT" local.big)
echo "engine: $result"
