#!/bin/sh
# Whole-process speed and peak memory of the attachment codecs beside the
# standard tools, on the same random input in the same run. Wall-clock rates
# include writing the output to disk and vary with the machine's load; the
# CPU rate (user + system time) is the steadier comparison.
#
# Usage: bench/codec_vs_tools.sh [SIZE_MB ...]     (default: 100)
# Needs codec_bench built with -DOMAIL_BUILD_BENCH=ON; set CODEC_BENCH to its
# path if it is not in build-bench/bin/. Needs sharutils and /usr/bin/time.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${CODEC_BENCH:-$root/build-bench/bin/codec_bench}
[ -x "$bench" ] || { echo "codec_bench not found: $bench" >&2; exit 2; }
[ "$#" -gt 0 ] || set -- 100

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir DECODE

# measure LABEL OUTPUT COMMAND...: runs the command with its standard output
# in OUTPUT (a fresh file, or /dev/null for commands that write their own),
# prints label, MB/s and peak RSS in MB.
measure() {
    label=$1
    output=$2
    shift 2
    [ "$output" = /dev/null ] || rm -f "$output"
    sync
    /usr/bin/time -f "%e %M %U %S" -o time.txt "$@" >"$output" 2>err.txt || {
        echo "$label failed:" >&2
        cat err.txt >&2
        exit 1
    }
    read -r seconds rss user sys < time.txt
    awk -v l="$label" -v s="$seconds" -v r="$rss" -v mb="$mb" -v c="$user" -v k="$sys" \
        'BEGIN { if (s < 0.01) s = 0.01; cpu = c + k; if (cpu < 0.01) cpu = 0.01;
                 printf "  %-28s %7.1f MB/s wall %7.1f MB/s cpu %6.1f MB peak RSS\n", l, mb / s, mb / cpu, r / 1024 }'
}

for mb in "$@"; do
    echo "== $mb MB of random data"
    head -c "${mb}M" /dev/urandom > data.bin
    base64 -w 76 data.bin > data.b64
    {
        printf -- '--b1\r\nContent-Type: application/octet-stream; name="out.bin"\r\n'
        printf 'Content-Transfer-Encoding: base64\r\n\r\n'
        cat data.b64
        printf -- '\r\n--b1--\r\n'
    } > mime.omb
    uuencode data.bin tools.bin > data.uu

    echo " base64 decoding (76-character lines)"
    measure "coreutils base64 -d" tools.out base64 -d data.b64
    measure "decodefile" /dev/null "$bench" run decode mime.omb DECODE/
    cmp -s DECODE/out.bin data.bin || { echo "decodefile output differs" >&2; exit 1; }
    rm -f DECODE/*

    echo " base64 encoding"
    measure "coreutils base64 -w 76" tools.out base64 -w 76 data.bin
    measure "mimeencodefile" /dev/null "$bench" run mime data.bin ours.omb
    rm -f ours.omb

    echo " uuencoding"
    measure "sharutils uuencode" tools.out uuencode data.bin data.bin
    measure "uueencodefile2" /dev/null "$bench" run uuencode data.bin part%d.omb
    echo " uudecoding"
    measure "sharutils uudecode" /dev/null uudecode -o tools.out data.uu
    measure "uuedecodefile2" /dev/null "$bench" run uudecode part0.omb DECODE/
    cmp -s DECODE/data.bin data.bin || { echo "uuedecodefile2 output differs" >&2; exit 1; }
    rm -f DECODE/*
    measure "decodefile (uuencoded)" /dev/null "$bench" run decode data.uu DECODE/
    cmp -s DECODE/tools.bin data.bin || { echo "decodefile output differs" >&2; exit 1; }
    rm -f DECODE/* part*.omb tools.out data.*
done
