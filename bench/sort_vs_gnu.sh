#!/bin/sh
# Sorts a folder of 100,000 items by subject with SortList and, for
# comparison, the same keys (lower-cased subject and date, one a line) with
# GNU sort under the same locale. Prints both times and their ratio.
# Usage: bench/sort_vs_gnu.sh [BUILD_DIR]   (configured with -DOMAIL_BUILD_BENCH=ON)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/build-bench}
if [ ! -x "$build/bin/store_bench" ]; then
    cmake -S "$root" -B "$build" -DOMAIL_BUILD_BENCH=ON -DOMAIL_BUILD_APP=OFF -DOMAIL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target store_bench >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/store_bench" --make-folder "$work/in" 100000
echo "list file: $(du -k "$work/in/n.lst" | cut -f1) KB, 100000 records"

now() { date +%s%N; }
for loc in C en_US.UTF-8; do
    if [ "$loc" != C ] && ! locale -a | grep -qi '^en_US\.utf-\?8$'; then
        echo "$loc: not installed (scripts/deps.sh store)"; continue
    fi
    ours=$(LC_ALL=$loc "$build/bin/store_bench" --sort-once "$work/in" 5)
    t0=$(now)
    LC_ALL=$loc sort "$work/in/keys5.txt" -o "$work/sorted.txt"
    t1=$(now)
    gnu=$(( (t1 - t0) / 1000000 ))
    ms=$(echo "$ours" | awk '{printf "%d", $4 * 1000}')
    cpu=$(echo "$ours" | awk '{printf "%d", $10 * 1000}')
    rss=$(echo "$ours" | awk '{print $6}')
    echo "$loc: SortList ${ms} ms (cpu ${cpu} ms, peak ${rss} KB), GNU sort ${gnu} ms, ratio SortList/GNU $(awk -v a="$ms" -v b="$gnu" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')"
done
