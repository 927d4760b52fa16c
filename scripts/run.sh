#!/bin/sh
# Installs what is missing, builds, and starts omail in a data directory:
# the current one, or the one given.   Usage: scripts/run.sh [DATA_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$(pwd)}
"$root/scripts/deps.sh" base gui
"$root/scripts/build.sh"
mkdir -p "$data"
exec "$root/build/bin/omail" "$data"
