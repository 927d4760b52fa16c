#!/bin/sh
# Installs what is missing, builds, and runs every test: the whole suite in
# build/, then the library tests again built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, and a short run of every
# libFuzzer target in build-fuzz/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
"$root/scripts/deps.sh"

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/omail-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

echo "== build"
OMAIL_BUILD_DIR="$root/build" "$root/scripts/build.sh"
echo "== tests"
(cd "$root/build" && ctest -j "$jobs" --output-on-failure --timeout 300)

echo "== sanitizer build (address, undefined)"
OMAIL_BUILD_DIR="$root/build-asan" "$root/scripts/build.sh" -DOMAIL_SANITIZE=ON -DOMAIL_BUILD_APP=OFF
echo "== sanitizer tests"
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest -j "$jobs" --output-on-failure --timeout 600 -E '^realserver:')
echo "== fuzz targets (clang, a short run each)"
"$root/scripts/fuzz.sh" 10
echo "== all tests passed"
