#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# SECONDS (default 10) on a fresh corpus seeded from tests/data where seeds
# exist. A crash, leak or sanitizer report fails the run and leaves the
# input in build-fuzz/crashes/.   Usage: scripts/fuzz.sh [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build=${OMAIL_FUZZ_DIR:-$root/build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOMAIL_BUILD_FUZZ=ON -DOMAIL_BUILD_APP=OFF -DOMAIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs"
mkdir -p "$build/crashes"
for target in "$build"/bin/*_fuzz; do
    name=$(basename "$target")
    corpus=$(mktemp -d)
    for seeds in "$root/tests/data/codec/seeds" "$root/tests/data/parse"; do
        [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/ 2>/dev/null || true
    done
    work=$(mktemp -d)
    echo "fuzz: $name for ${seconds}s"
    if ! (cd "$work" && "$target" -max_total_time="$seconds" -max_len=8192 \
            -artifact_prefix="$build/crashes/$name-" "$corpus" >"$build/$name.log" 2>&1); then
        tail -40 "$build/$name.log"
        echo "fuzz: $name FAILED (input in $build/crashes/)" >&2
        rm -rf "$corpus" "$work"
        exit 1
    fi
    rm -rf "$corpus" "$work"
done
echo "fuzz: all targets ran clean"
