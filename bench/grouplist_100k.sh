#!/bin/bash
# The newsgroup window on a server with GROUPS active groups (default
# 100,000): INN started through scripts/lab, its active file extended while
# the server is paused; then news_bench times the full list's fetch with
# its filing and sort, the window opening and drawing on it, a find of a
# name near the end, and reports the peak memory.
#
#   bench/grouplist_100k.sh BUILD_DIR [GROUPS]
#
# BUILD_DIR holds bin/news_bench (configure with -DOMAIL_BUILD_BENCH=ON).
# Needs root and inn2 (scripts/packages/servers.txt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: grouplist_100k.sh BUILD_DIR [GROUPS]}" && pwd)
groups=${2:-100000}
bench=$build/bin/news_bench
labsh=$root/scripts/lab/lab.sh
[ -x "$bench" ] || { echo "no $bench" >&2; exit 2; }

top=$(mktemp -d /tmp/omail-groupbench.XXXXXX)
chmod 755 "$top"
lab=$top/lab
export OMAIL_BENCH_DIR=$top/omail
trap 'bash "$labsh" stop "$lab" > /dev/null 2>&1 || true; rm -rf "$top"' EXIT
LAB_WITHOUT="pop3 smtp" bash "$labsh" start "$lab" > /dev/null
# shellcheck disable=SC1091
. "$lab/lab.env"

ctl() { INNCONF=$INNCONF setpriv --reuid=news --regid=news --init-groups /usr/lib/news/bin/ctlinnd -t 30 "$@" > /dev/null; }

# The fastest way in: the readers read the active file as it stands, so
# the groups are written into it while innd is throttled.
ctl throttle "bench groups"
awk -v n="$groups" 'BEGIN { for (i = 0; i < n; i++) printf "bench.g%06d.group 0000000000 0000000001 y\n", i }' \
    >> "$lab/nntp/db/active"
chown news:news "$lab/nntp/db/active"
ctl go "bench groups"

last=$(printf 'bench.g%06d' $((groups - 10)))
echo "server: INN 127.0.0.1:$NNTP_PORT with $(wc -l < "$lab/nntp/db/active") active groups"
"$bench" grouplist "127.0.0.1:$NNTP_PORT" "$last" 2> /dev/null
