#!/bin/bash
# Retrieval of COUNT messages of SIZE bytes from a real POP3 server (dovecot)
# on loopback: the engine (RETR into files, then DELE, then QUIT) beside
# fetchmail fetching the same mailbox from the same server in one run
# (--bsmtp FILE, so no process is started per message; fetchmail deletes
# what it fetched). Then the engine's peak memory for one 50 MB message
# against one of SIZE bytes.
#
# usage: bench/pop3_vs_fetchmail.sh BUILD_DIR [COUNT] [SIZE]
#   BUILD_DIR holds bin/net_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, scripts/packages/servers.txt and bench.txt (scripts/deps.sh servers bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: $0 BUILD_DIR [COUNT] [SIZE]}" && pwd)
COUNT=${2:-1000}
SIZE=${3:-20480}
NETBENCH=$BUILD/bin/net_bench
LABSH=$here/scripts/lab/lab.sh
[ -x "$NETBENCH" ] || { echo "no $NETBENCH" >&2; exit 1; }
command -v fetchmail > /dev/null || { echo "fetchmail is not installed (scripts/deps.sh bench)" >&2; exit 1; }

top=$(mktemp -d /tmp/omail-bench.XXXXXX)
chmod 755 "$top"
LAB=$top/lab
WORK=$top/work
mkdir -p "$WORK"
trap '"$LABSH" stop "$LAB" > /dev/null 2>&1 || true; rm -rf "$top"' EXIT
LAB_WITHOUT="smtp nntp" "$LABSH" start "$LAB" > /dev/null
# shellcheck disable=SC1091
. "$LAB/lab.env"

# One message of about `size` bytes with 76-character lines, copied `count` times.
fill() {
    local count=$1 size=$2 i
    "$LABSH" reset-pop3 "$LAB"
    {
        printf 'From: bench@lab.test\nTo: testuser@lab.test\nSubject: benchmark message\n\n'
        awk -v size="$size" 'BEGIN { line = sprintf("%076d", 0); gsub(/0/, "x", line);
                              for (n = 0; n < size; n += 77) print line }'
    } > "$top/message"
    for i in $(seq 1 "$count"); do
        cp "$top/message" "$POP3_MAILDIR/tmp/$((1700000000 + i)).M$i.lab"
    done
    mv "$POP3_MAILDIR"/tmp/* "$POP3_MAILDIR/new/"
    chown -R 4242:4242 "$POP3_MAILDIR"
}

remaining() { find "$POP3_MAILDIR/new" "$POP3_MAILDIR/cur" -type f | wc -l; }
now() { date +%s.%N; }

fill "$COUNT" "$SIZE"
engine=$(cd "$WORK" && "$NETBENCH" --pop3 "127.0.0.1:$POP3_PORT" "$POP3_USER" "$POP3_PASS")
sleep 0.5
echo "engine:    $engine (left on server: $(remaining))"
small_rss=$(echo "$engine" | sed 's/.*peak_rss_kb=//')

fill "$COUNT" "$SIZE"
cat > "$top/fetchmailrc" <<RC
poll 127.0.0.1 with protocol pop3 and port $POP3_PORT
    user "$POP3_USER" there with password "$POP3_PASS" is root here options fetchall sslproto ""
RC
chmod 600 "$top/fetchmailrc"
start=$(now)
HOME=$WORK fetchmail -f "$top/fetchmailrc" --bsmtp "$WORK/out.bsmtp" --nosyslog --silent --nodetach || true
end=$(now)
sleep 0.5
fm=$(awk -v a="$start" -v b="$end" -v n="$COUNT" 'BEGIN { s = b - a; printf "messages=%d seconds=%.3f messages_per_second=%.1f", n, s, n / s }')
echo "fetchmail: pop3 $fm (left on server: $(remaining), bsmtp file $(stat -c %s "$WORK/out.bsmtp") bytes)"

fill 1 $((50 * 1024 * 1024))
big=$(cd "$WORK" && "$NETBENCH" --pop3 "127.0.0.1:$POP3_PORT" "$POP3_USER" "$POP3_PASS")
echo "engine, one 50 MB message: $big"
echo "body file: $(stat -c %s "$WORK/body.tmp") bytes; peak RSS ${small_rss} kB for ${SIZE}-byte messages," \
     "$(echo "$big" | sed 's/.*peak_rss_kb=//') kB for 50 MB"
