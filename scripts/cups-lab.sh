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
    until lpstat -r >/dev/null 2>&1; do
        i=$((i + 1))
        if [ "$i" -gt 100 ]; then echo "cups-lab: cupsd did not start" >&2; cat "$dir/log/error_log" >&2 || true; exit 1; fi
        sleep 0.1
    done
    lpadmin -p PDF -v cups-pdf:/ -E -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null
    lpadmin -d PDF
    echo "CUPS_SERVER=$dir/cups.sock"
    ;;
stop)
    if [ -f "$dir/cupsd.pid" ]; then
        kill "$(cat "$dir/cupsd.pid")" 2>/dev/null || true
        rm -f "$dir/cupsd.pid"
    fi
    ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
