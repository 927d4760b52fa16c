#!/bin/sh
# Installs the Debian packages the build and the tests need, and only those
# that are missing: scripts/packages/*.txt list them (one a line, # comments),
# scripts/packages/*.post run after an install (fix-ups such as locales).
# Usage: scripts/deps.sh [LIST ...]   (list names without .txt; default: all)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pkgdir="$here/packages"

if [ "$#" -eq 0 ]; then
    set -- $(cd "$pkgdir" && ls *.txt | sed 's/\.txt$//')
fi

wanted=""
for list in "$@"; do
    wanted="$wanted $(sed -e 's/#.*//' "$pkgdir/$list.txt")"
done

missing=""
for p in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ -n "$missing" ]; then
    echo "deps: installing$missing"
    # Package scripts must not start system services: the tests start their
    # own servers on loopback.
    made_policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
        $SUDO chmod 755 /usr/sbin/policy-rc.d
        made_policy=1
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold $missing || true
    [ -n "$made_policy" ] && $SUDO rm -f /usr/sbin/policy-rc.d
fi

# Fix-ups run every time; each must be quick when there is nothing to do.
for list in "$@"; do
    if [ -x "$pkgdir/$list.post" ]; then
        $SUDO "$pkgdir/$list.post"
    fi
done

still=""
for p in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        still="$still $p"
    fi
done
if [ -n "$still" ]; then
    echo "deps: could not install:$still" >&2
    exit 1
fi
