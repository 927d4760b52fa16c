#!/bin/sh
# A private CUPS print server for the printing tests: its own configuration,
# spool and a local socket in DIR, a cups-pdf queue "PDF" as the default
# printer, and job files kept in DIR/spool so the tests can read back what
# was printed (pdftotext on DIR/spool/d*-001). Needs root (cupsd runs its
# backends as root) and the packages of scripts/packages/print.txt.
#   scripts/cups-lab.sh start DIR   starts it, prints CUPS_SERVER=DIR/cups.sock
#   scripts/cups-lab.sh stop DIR    stops it (by the PID it recorded)
set -eu
cmd=${1:?start or stop}
dir=${2:?directory}
case "$cmd" in
start)
    mkdir -p "$dir/etc/ppd" "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/pdf"
    chgrp -R lp "$dir/spool" "$dir/cache" "$dir/state" 2>/dev/null || true
    chmod 0755 "$dir" "$dir/spool" "$dir/spool/tmp" "$dir/pdf"
    cat > "$dir/etc/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel warn
PreserveJobFiles Yes
PreserveJobHistory Yes
MaxJobs 0
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
    cat > "$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
Sandboxing Relaxed
CONF
    /usr/sbin/cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
    echo $! > "$dir/cupsd.pid"
    export CUPS_SERVER="$dir/cups.sock"
    i=0
    # lpstat -r exits 0 either way: its text says whether the server is up.
    until [ -S "$dir/cups.sock" ] && lpstat -r 2>/dev/null | grep -q 'is running'; do
        i=$((i + 1))
        if [ "$i" -gt 100 ]; then
            echo "cups-lab: cupsd did not start" >&2
            cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
            sh "$0" stop "$dir"
            exit 1
        fi
        sleep 0.1
    done
    if ! lpadmin -p PDF -v cups-pdf:/ -E -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null ||
       ! lpadmin -d PDF; then
        echo "cups-lab: the PDF queue could not be made" >&2
        sh "$0" stop "$dir"
        exit 1
    fi
    echo "CUPS_SERVER=$dir/cups.sock"
    ;;
stop)
    if [ -f "$dir/cupsd.pid" ]; then
        pid=$(cat "$dir/cupsd.pid")
        kill "$pid" 2>/dev/null || true
        # Wait for it to go, so the directory can be removed after.
        i=0
        while kill -0 "$pid" 2>/dev/null && [ "$i" -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
        rm -f "$dir/cupsd.pid"
    fi
    ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
