#!/bin/bash
# Retrieval of COUNT messages of SIZE bytes over TLS from a real POP3 server
# (dovecot, TLS from the first byte) on loopback: the engine beside
# `fetchmail --ssl` on the same mailbox in the same run, and each of them
# again without TLS on the same server, so the cost of TLS shows; the engine
# runs over TLS twice, one command at a time and with RETR and DELE sent
# ahead (PIPELINING, as the program retrieves from dovecot). Both check
# the server's certificate (an authority the script makes with openssl).
# Every round fills the mailbox anew before each of the four runs; the
# report gives every run, the medians, the engine/fetchmail ratio of the
# medians and the spread (fastest-slowest) of each.
#
# usage: [ROUNDS=5] bench/pop3_tls_vs_fetchmail.sh BUILD_DIR [COUNT] [SIZE]
#   BUILD_DIR holds bin/net_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root, scripts/packages/servers.txt and bench.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: $0 BUILD_DIR [COUNT] [SIZE]}" && pwd)
COUNT=${2:-1000}
SIZE=${3:-20480}
ROUNDS=${ROUNDS:-5}
NETBENCH=$BUILD/bin/net_bench
LABSH=$here/scripts/lab/lab.sh
[ -x "$NETBENCH" ] || { echo "no $NETBENCH" >&2; exit 1; }
command -v fetchmail > /dev/null || { echo "fetchmail is not installed (scripts/deps.sh bench)" >&2; exit 1; }

top=$(mktemp -d /tmp/omail-bench.XXXXXX)
chmod 755 "$top"
LAB=$top/lab
WORK=$top/work
mkdir -p "$WORK" "$top/ca"
trap '"$LABSH" stop "$LAB" > /dev/null 2>&1 || true; rm -rf "$top"' EXIT

# An authority and a server certificate for "localhost", RSA 2048 as most
# providers still use.
(
    cd "$top/ca"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=bench authority" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2> /dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2> /dev/null
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > ext.cnf
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext.cnf \
        -out server.pem 2> /dev/null
)
LAB_WITHOUT="smtp nntp" LAB_TLS_CERT=$top/ca/server.pem LAB_TLS_KEY=$top/ca/server.key "$LABSH" start "$LAB" > /dev/null
# shellcheck disable=SC1091
. "$LAB/lab.env"

fill() {
    local i
    "$LABSH" reset-pop3 "$LAB"
    {
        printf 'From: bench@lab.test\nTo: testuser@lab.test\nSubject: benchmark message\n\n'
        awk -v size="$SIZE" 'BEGIN { line = sprintf("%076d", 0); gsub(/0/, "x", line);
                              for (n = 0; n < size; n += 77) print line }'
    } > "$top/message"
    for i in $(seq 1 "$COUNT"); do
        cp "$top/message" "$POP3_MAILDIR/tmp/$((1700000000 + i)).M$i.lab"
    done
    mv "$POP3_MAILDIR"/tmp/* "$POP3_MAILDIR/new/"
    chown -R 4242:4242 "$POP3_MAILDIR"
}
remaining() { find "$POP3_MAILDIR/new" "$POP3_MAILDIR/cur" -type f | wc -l; }
# dovecot removes what QUIT committed a moment after the client is gone.
settled() {
    local i
    for i in $(seq 1 100); do
        [ "$(remaining)" -eq 0 ] && return 0
        sleep 0.05
    done
    return 1
}
now() { date +%s.%N; }

rc() {  # fetchmail run control for port $1, TLS options $2
    printf 'poll localhost with protocol pop3 and port %s\n    user "%s" there with password "%s" is root here options fetchall %s\n' \
        "$1" "$POP3_USER" "$POP3_PASS" "$2" > "$top/fetchmailrc"
    chmod 600 "$top/fetchmailrc"
}

engine() {  # security port [pipelining]
    local out
    out=$(cd "$WORK" && OMAIL_BENCH_SECURITY=$1 OMAIL_BENCH_CA=$top/ca/ca.pem OMAIL_BENCH_PIPELINING=${3:-0} \
          "$NETBENCH" --pop3 "localhost:$2" "$POP3_USER" "$POP3_PASS")
    settled || { echo "engine left $(remaining) messages: $out" >&2; exit 1; }
    echo "$out" | sed 's/.*seconds=\([0-9.]*\).*/\1/'
}

fetch() {  # port options
    local start end
    rc "$1" "$2"
    rm -f "$WORK/out.bsmtp"
    start=$(now)
    HOME=$WORK fetchmail -f "$top/fetchmailrc" --pidfile "$WORK/fetchmail.pid" --bsmtp "$WORK/out.bsmtp" \
        --nosyslog --silent --nodetach 2> "$WORK/fetchmail.err" || true
    end=$(now)
    settled || { echo "fetchmail left $(remaining) messages: $(cat "$WORK/fetchmail.err")" >&2; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

tls_engine=(); tls_pipelined=(); tls_fetchmail=(); plain_engine=(); plain_fetchmail=()
for round in $(seq 1 "$ROUNDS"); do
    fill; tls_engine+=("$(engine tls "$POP3S_PORT")")
    fill; tls_pipelined+=("$(engine tls "$POP3S_PORT" 1)")
    fill; tls_fetchmail+=("$(fetch "$POP3S_PORT" "ssl sslcertck sslcertfile \"$top/ca/ca.pem\"")")
    fill; plain_engine+=("$(engine none "$POP3_PORT")")
    fill; plain_fetchmail+=("$(fetch "$POP3_PORT" 'sslproto ""')")
    echo "round $round: TLS engine ${tls_engine[-1]} s (pipelined ${tls_pipelined[-1]} s)," \
         "fetchmail --ssl ${tls_fetchmail[-1]} s;" \
         "plain engine ${plain_engine[-1]} s, fetchmail ${plain_fetchmail[-1]} s"
done

stats() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%s %s %s", v[int((NR + 1) / 2)], v[1], v[NR] }'; }
report() {  # label values...
    local label=$1; shift
    read -r med lo hi <<< "$(stats "$@")"
    awk -v l="$label" -v m="$med" -v lo="$lo" -v hi="$hi" -v n="$COUNT" \
        'BEGIN { printf "%-22s median %.3f s (%.0f messages/s), spread %.3f-%.3f s\n", l, m, n / m, lo, hi }' >&2
    echo "$med"
}
te=$(report "engine over TLS" "${tls_engine[@]}")
tp=$(report "engine, TLS, pipelined" "${tls_pipelined[@]}")
tf=$(report "fetchmail --ssl" "${tls_fetchmail[@]}")
pe=$(report "engine, no TLS" "${plain_engine[@]}")
pf=$(report "fetchmail, no TLS" "${plain_fetchmail[@]}")
awk -v te="$te" -v tp="$tp" -v tf="$tf" -v pe="$pe" -v pf="$pf" 'BEGIN {
    printf "engine/fetchmail over TLS: %.2f one command at a time, %.2f pipelined (below 1: the engine is faster)\n",
           te / tf, tp / tf
    printf "cost of TLS: engine +%.0f%% (%.3f s), fetchmail +%.0f%% (%.3f s)\n",
           (te / pe - 1) * 100, te - pe, (tf / pf - 1) * 100, tf - pf }'
