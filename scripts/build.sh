#!/bin/sh
# Configures and builds into build/ (or the directory in $OMAIL_BUILD_DIR).
# Extra arguments go to cmake's configure step.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMAIL_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$jobs"
