#!/bin/bash
# Retrieval of COUNT messages of SIZE bytes from a real POP3 server (dovecot)
# on loopback: the engine (RETR into files, then DELE, then QUIT) beside
# fetchmail fetching the same mailbox from the same server in one run
# (--bsmtp FILE, so no process is started per message; fetchmail deletes
# what it fetched). Then the engine's peak memory for one 50 MB message
# against one of SIZE bytes.
#
# usage: [ROUNDS=3] bench/pop3_vs_fetchmail.sh BUILD_DIR [COUNT] [SIZE]
#   BUILD_DIR holds bin/net_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, scripts/packages/servers.txt and bench.txt (scripts/deps.sh servers bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: $0 BUILD_DIR [COUNT] [SIZE]}" && pwd)
COUNT=${2:-1000}
SIZE=${3:-20480}
ROUNDS=${ROUNDS:-3}
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

cat > "$top/fetchmailrc" <<RC
poll 127.0.0.1 with protocol pop3 and port $POP3_PORT
    user "$POP3_USER" there with password "$POP3_PASS" is root here options fetchall sslproto ""
RC
chmod 600 "$top/fetchmailrc"

# Alternate the two so that a busy machine slows both alike; report each run
# and the median.
engine_times=()
fetchmail_times=()
for round in $(seq 1 "$ROUNDS"); do
    fill "$COUNT" "$SIZE"
    engine=$(cd "$WORK" && "$NETBENCH" --pop3 "127.0.0.1:$POP3_PORT" "$POP3_USER" "$POP3_PASS")
    sleep 0.5
    echo "round $round engine:    $engine (left on server: $(remaining))"
    engine_times+=("$(echo "$engine" | sed 's/.*seconds=\([0-9.]*\).*/\1/')")
    small_rss=$(echo "$engine" | sed 's/.*peak_rss_kb=//')

    fill "$COUNT" "$SIZE"
    rm -f "$WORK/out.bsmtp"
    start=$(now)
    HOME=$WORK fetchmail -f "$top/fetchmailrc" --pidfile "$WORK/fetchmail.pid" --bsmtp "$WORK/out.bsmtp" \
        --nosyslog --silent --nodetach 2> /dev/null || true
    end=$(now)
    sleep 0.5
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    echo "round $round fetchmail: seconds=$seconds (left on server: $(remaining)," \
         "bsmtp file $(stat -c %s "$WORK/out.bsmtp" 2>/dev/null || echo 0) bytes)"
    fetchmail_times+=("$seconds")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
em=$(median "${engine_times[@]}")
fm=$(median "${fetchmail_times[@]}")
awk -v e="$em" -v f="$fm" -v n="$COUNT" 'BEGIN {
    printf "median of runs: engine %.3f s (%.1f messages/s), fetchmail %.3f s (%.1f messages/s)\n", e, n / e, f, n / f }'

fill 1 $((50 * 1024 * 1024))
big=$(cd "$WORK" && "$NETBENCH" --pop3 "127.0.0.1:$POP3_PORT" "$POP3_USER" "$POP3_PASS")
echo "engine, one 50 MB message: $big"
echo "body file: $(stat -c %s "$WORK/body.tmp") bytes; peak RSS ${small_rss} kB for ${SIZE}-byte messages," \
     "$(echo "$big" | sed 's/.*peak_rss_kb=//') kB for 50 MB"
