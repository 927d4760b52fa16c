#!/bin/sh
# Starts or stops a real Finger daemon on loopback for trying whoprobe-query
# by hand: in.fingerd (package fingerd, which runs finger) under xinetd.
#   scripts/lab/finger-lab.sh start [PORT] [LAB_DIR]   (default 7979, /tmp/finger-lab)
#   scripts/lab/finger-lab.sh stop [LAB_DIR]
# then: whoprobe-query root@127.0.0.1:PORT
set -eu
cmd=${1:-}
case "$cmd" in
start)
    port=${2:-7979}
    lab=${3:-/tmp/finger-lab}
    for p in /usr/sbin/xinetd /usr/sbin/in.fingerd /usr/bin/finger; do
        [ -x "$p" ] || { echo "finger-lab: $p missing (scripts/deps.sh finger)" >&2; exit 1; }
    done
    mkdir -p "$lab"
    if [ -f "$lab/xinetd.pid" ] && kill -0 "$(cat "$lab/xinetd.pid")" 2>/dev/null; then
        echo "finger-lab: already running (pid $(cat "$lab/xinetd.pid"))" >&2
        exit 1
    fi
    user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="    user        = nobody"
    cat > "$lab/xinetd.conf" <<CONF
defaults
{
}
service omailfinger
{
    type        = UNLISTED
    socket_type = stream
    protocol    = tcp
    wait        = no
$user_line
    bind        = 127.0.0.1
    port        = $port
    server      = /usr/sbin/in.fingerd
    log_type    = FILE $lab/xinetd.log
}
CONF
    /usr/sbin/xinetd -f "$lab/xinetd.conf" -pidfile "$lab/xinetd.pid"
    i=0
    while [ ! -s "$lab/xinetd.pid" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$lab/xinetd.pid" ] || { echo "finger-lab: xinetd did not start" >&2; exit 1; }
    echo "finger-lab: in.fingerd on 127.0.0.1:$port (xinetd pid $(cat "$lab/xinetd.pid"))"
    ;;
stop)
    lab=${2:-/tmp/finger-lab}
    [ -f "$lab/xinetd.pid" ] || { echo "finger-lab: not running" >&2; exit 1; }
    pid=$(cat "$lab/xinetd.pid")
    kill -TERM "$pid" 2>/dev/null || true
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    rm -f "$lab/xinetd.pid"
    echo "finger-lab: stopped"
    ;;
*)
    echo "usage: $0 start [PORT] [LAB_DIR] | stop [LAB_DIR]" >&2
    exit 2
    ;;
esac
