#!/bin/bash
# A private set of real mail and news servers on 127.0.0.1, for the protocol
# engine's integration tests and benchmarks: dovecot (POP3), OpenSMTPD (SMTP)
# and INN (innd, which hands reader connections to nnrpd), each with its own
# configuration in a lab directory and on ports of its own.
#
#   lab.sh start LAB_DIR        writes the configs, starts the servers, waits
#                               for their greetings, writes LAB_DIR/lab.env
#   lab.sh stop LAB_DIR         stops every server the lab started
#   lab.sh rnews LAB_DIR        feeds an rnews batch on stdin to innd
#   lab.sh reset-pop3 LAB_DIR   empties the POP3 mailbox
#
# Ports come from POP3_PORT, SMTP_PORT and NNTP_PORT when set, else free
# ports are picked. SMTP_MAX_MAILS raises OpenSMTPD's limit of messages per
# session (100) for benchmarks that send more over one connection. Needs
# root (dovecot and smtpd start as root and drop privileges; INN runs as
# news) and the packages of scripts/packages/servers.txt.
# Only one OpenSMTPD can run per machine (its queue and control socket are
# fixed): a lab that wants one waits (up to 5 minutes) until the SMTP server
# of another lab has stopped.
#
# TLS: with LAB_TLS_CERT and LAB_TLS_KEY (PEM files, e.g. made by a test
# with an authority of its own) the servers also speak TLS. dovecot offers
# STLS on POP3_PORT and TLS from the first byte on POP3S_PORT (ssl =
# required). SMTP over TLS is smtp-tls.py beside this script, because
# OpenSMTPD 6.8 fails every TLS handshake with OpenSSL 3: submission with
# STARTTLS and logins required on SUBMIT_PORT, TLS from the first byte with
# logins on SMTPS_PORT, delivering to SMTP_TLS_MAILDIR. INN's reader offers
# STARTTLS on NNTP_PORT and TLS from the first byte on NNTPS_PORT (a
# standalone nnrpd), and every reader must log in. The logins are POP3_USER
# and POP3_PASS; the ports go into lab.env beside the others. LAB_IPV6=1
# makes dovecot listen on ::1 too; "smtpd" in LAB_WITHOUT leaves OpenSMTPD
# out but not the TLS submission server.
set -euo pipefail

MAIL_UID=4242
POP3_USER=testuser
POP3_PASS=testpass
INNBIN=/usr/lib/news/bin
SMTPD_LOCK=/run/omail-lab-smtpd.lock

die() { echo "lab: $*" >&2; exit 1; }

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
    local p tries=0
    while :; do
        p=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
        if ! port_in_use "$p"; then echo "$p"; return; fi
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || die "no free port found"
    done
}

# Waits until the server on the port greets with a line starting with $2.
wait_greeting() {
    local port=$1 want=$2 name=$3 line i
    for i in $(seq 1 200); do
        line=$( (exec 3<>"/dev/tcp/127.0.0.1/$port" && read -r -t 2 l <&3 && echo "$l") 2>/dev/null || true)
        case "$line" in "$want"*) return 0 ;; esac
        sleep 0.05
    done
    die "$name did not greet on port $port"
}

# True while the process exists and is not a zombie.
alive() {
    local pid=$1 state
    [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] || return 1
    state=$(sed 's/^[^)]*) \(.\).*/\1/' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ "$state" != "Z" ]
}

wait_gone() {
    local pid=$1 i
    for i in $(seq 1 100); do
        alive "$pid" || return 0
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
}

setup_smtpd() {
    local d=$LAB/smtp
    mkdir -p "$d/Maildir/cur" "$d/Maildir/new" "$d/Maildir/tmp"
    chown -R "$MAIL_UID:$MAIL_UID" "$d/Maildir"
    cat > "$d/smtpd.conf" <<EOF
table vusers { "@" = "labmail" }
table lusers { "labmail" = "$MAIL_UID:$MAIL_UID:$d" }
smtp limit max-mails ${SMTP_MAX_MAILS:-100}
listen on 127.0.0.1 port $SMTP_PORT hostname mail.lab.test
action "lab" maildir "$d/Maildir" virtual <vusers> userbase <lusers>
match from any for any action "lab"
EOF
    # One OpenSMTPD per machine: labs take turns. The lock is held by the
    # smtpd process itself (it inherits the descriptor), so it is released
    # when that server ends, whichever lab.sh stops it.
    exec 9> "$SMTPD_LOCK"
    flock -w 300 9 || die "another lab's OpenSMTPD kept running"
    local pid
    for pid in $(pgrep -x smtpd || true); do
        alive "$pid" && die "an OpenSMTPD that is no lab's is running (pid $pid)"
    done
    rm -f /run/smtpd.sock
    # Mail queued by an earlier run must not be delivered into this lab.
    for q in incoming queue temporary corrupt purge offline; do
        [ -d "/var/spool/smtpd/$q" ] && find "/var/spool/smtpd/$q" -mindepth 1 -delete 2>/dev/null || true
    done
    setsid smtpd -d -f "$d/smtpd.conf" > "$d/smtpd.log" 2>&1 < /dev/null &
    echo $! > "$d/smtpd.pid"
    exec 9>&-
    wait_greeting "$SMTP_PORT" "220" smtpd
}

# LAB_SUBMISSION=1: dovecot's submission server on SUBMISSION_PORT (plain,
# AUTH PLAIN or LOGIN with POP3_USER and POP3_PASS), announcing PIPELINING
# and CHUNKING, and relaying everything to the lab's OpenSMTPD: a real
# server for sending with BDAT, whose mail lands in SMTP_MAILDIR.
setup_submission() {
    local d=$LAB/submission
    mkdir -p "$d/run" "$d/state" "$d/home/Maildir/cur" "$d/home/Maildir/new" "$d/home/Maildir/tmp"
    SUBMISSION_PORT=${SUBMISSION_PORT:-$(free_port)}
    cat > "$d/dovecot.conf" <<EOF
base_dir = $d/run
state_dir = $d/state
log_path = $d/dovecot.log
protocols = submission
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
hostname = submit.lab.test
mail_location = maildir:~/Maildir
submission_relay_host = 127.0.0.1
submission_relay_port = $SMTP_PORT
submission_relay_trusted = yes
passdb {
  driver = passwd-file
  args = scheme=PLAIN $d/users
}
userdb {
  driver = passwd-file
  args = $d/users
}
service submission-login {
  inet_listener submission {
    address = 127.0.0.1
    port = $SUBMISSION_PORT
  }
}
EOF
    echo "$POP3_USER:{PLAIN}$POP3_PASS:$MAIL_UID:$MAIL_UID::$d/home" > "$d/users"
    chown -R "$MAIL_UID:$MAIL_UID" "$d/home"
    setsid dovecot -F -c "$d/dovecot.conf" > "$d/stdout.log" 2>&1 < /dev/null &
    wait_greeting "$SUBMISSION_PORT" "220" "dovecot submission"
}

# Copies the certificate and key where the servers can read them.
setup_tls() {
    [ -n "${LAB_TLS_CERT:-}" ] || return 0
    mkdir -p "$LAB/tls"
    cp "$LAB_TLS_CERT" "$LAB/tls/cert.pem"
    cp "$LAB_TLS_KEY" "$LAB/tls/key.pem"
    chmod 644 "$LAB/tls/cert.pem"
    chmod 600 "$LAB/tls/key.pem"
    POP3S_PORT=${POP3S_PORT:-$(free_port)}
    SUBMIT_PORT=${SUBMIT_PORT:-$(free_port)}
    SMTPS_PORT=${SMTPS_PORT:-$(free_port)}
    NNTPS_PORT=${NNTPS_PORT:-$(free_port)}
}

pop3_tls_conf() {
    if [ -z "${LAB_TLS_CERT:-}" ]; then
        printf 'ssl = no\ndisable_plaintext_auth = no\n'
        return
    fi
    printf 'ssl = required\nssl_cert = <%s\nssl_key = <%s\nssl_min_protocol = TLSv1.2\ndisable_plaintext_auth = yes\n' \
        "$LAB/tls/cert.pem" "$LAB/tls/key.pem"
}

pop3s_listener() {
    [ -n "${LAB_TLS_CERT:-}" ] || return 0
    printf '  inet_listener pop3s {\n    address = %s\n    port = %s\n    ssl = yes\n  }\n' "$POP3_ADDRESSES" "$POP3S_PORT"
}

setup_pop3() {
    local d=$LAB/pop3
    mkdir -p "$d/run" "$d/state" "$d/home/Maildir/cur" "$d/home/Maildir/new" "$d/home/Maildir/tmp"
    cat > "$d/dovecot.conf" <<EOF
base_dir = $d/run
state_dir = $d/state
log_path = $d/dovecot.log
protocols = pop3
listen = $POP3_ADDRESSES
$(pop3_tls_conf)
auth_mechanisms = plain
auth_failure_delay = 0
mail_location = maildir:~/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN $d/users
}
userdb {
  driver = passwd-file
  args = $d/users
}
service pop3-login {
  inet_listener pop3 {
    address = $POP3_ADDRESSES
    port = $POP3_PORT
  }
$(pop3s_listener)
}
EOF
    echo "$POP3_USER:{PLAIN}$POP3_PASS:$MAIL_UID:$MAIL_UID::$d/home" > "$d/users"
    chown -R "$MAIL_UID:$MAIL_UID" "$d/home"
    setsid dovecot -F -c "$d/dovecot.conf" > "$d/stdout.log" 2>&1 < /dev/null &
    wait_greeting "$POP3_PORT" "+OK" dovecot
}

setup_smtp() {
    local d=$LAB/smtp
    # LAB_WITHOUT=smtpd: the TLS submission server alone (no OpenSMTPD,
    # so no waiting for another lab's).
    case " $WITHOUT " in *" smtpd "*) mkdir -p "$d" ;; *) setup_smtpd ;; esac
    if [ -n "${LAB_TLS_CERT:-}" ]; then
        mkdir -p "$d/tls-Maildir/cur" "$d/tls-Maildir/new" "$d/tls-Maildir/tmp"
        setsid /usr/bin/python3 "$(dirname "$0")/smtp-tls.py" "$LAB/tls/cert.pem" "$LAB/tls/key.pem" \
            "$SUBMIT_PORT" "$SMTPS_PORT" "$POP3_USER" "$POP3_PASS" "$d/tls-Maildir" \
            > "$d/smtp-tls.log" 2>&1 < /dev/null &
        echo $! > "$d/smtp-tls.pid"
        wait_greeting "$SUBMIT_PORT" "220" "the TLS submission server"
    fi
}

setup_nntp() {
    local d=$LAB/nntp
    mkdir -p "$d/etc" "$d/db" "$d/run" "$d/log" "$d/tmp" "$d/http" "$d/filter" \
             "$d/spool/articles" "$d/spool/overview" "$d/spool/incoming" "$d/spool/outgoing" "$d/spool/archive"
    (cd /etc/news && find . -maxdepth 1 -type f -exec cp {} "$d/etc/" \;)
    cat > "$d/etc/inn.conf" <<EOF
pathhost:        news.lab.test
domain:          lab.test
fromhost:        lab.test
complaints:      usenet@lab.test
mta:             "/bin/true %s"
ovmethod:        tradindexed
hismethod:       hisv6
enableoverview:  true
server:          127.0.0.1
bindaddress:     127.0.0.1
port:            $NNTP_PORT
artcutoff:       0
nnrpdloadlimit:  0
pathnews:        /usr/lib/news
pathbin:         /usr/lib/news/bin
pathcontrol:     /usr/lib/news/bin/control
pathfilter:      $d/filter
pathetc:         $d/etc
pathdb:          $d/db
pathrun:         $d/run
pathlog:         $d/log
pathtmp:         $d/tmp
pathhttp:        $d/http
pathspool:       $d/spool
patharticles:    $d/spool/articles
pathoverview:    $d/spool/overview
pathincoming:    $d/spool/incoming
pathoutgoing:    $d/spool/outgoing
patharchive:     $d/spool/archive
EOF
    if [ -n "${LAB_TLS_CERT:-}" ]; then
        cp "$LAB/tls/cert.pem" "$d/etc/cert.pem"
        cp "$LAB/tls/key.pem" "$d/etc/key.pem"
        printf 'tlscertfile:     %s\ntlskeyfile:      %s\n' "$d/etc/cert.pem" "$d/etc/key.pem" >> "$d/etc/inn.conf"
    fi
    printf 'streaming:       true\nmax-connections: 8\n' > "$d/etc/incoming.conf"
    printf 'ME:!*/!local::\n' > "$d/etc/newsfeeds"
    printf 'method tradspool {\n    newsgroups: *\n    class: 0\n}\n' > "$d/etc/storage.conf"
    if [ -n "${LAB_TLS_CERT:-}" ]; then
        printf '%s:%s\n' "$POP3_USER" "$(openssl passwd -6 "$POP3_PASS")" > "$d/etc/readers.passwd"
        printf 'auth "users" {\n    hosts: "*"\n    auth: "ckpasswd -f %s"\n}\n' "$d/etc/readers.passwd" > "$d/etc/readers.conf"
        printf 'access "users" {\n    users: "%s"\n    newsgroups: "*"\n    access: RPA\n    domain: lab.test\n}\n' \
            "$POP3_USER" >> "$d/etc/readers.conf"
    else
    cat > "$d/etc/readers.conf" <<'EOF'
auth "localhost" {
    hosts: "localhost, 127.0.0.1, ::1, stdin"
    default: "<localhost>"
}
access "localhost" {
    users: "<localhost>"
    newsgroups: "*"
    access: RPA
    domain: lab.test
}
EOF
    fi
    cat > "$d/db/active" <<'EOF'
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
local.test 0000000000 0000000001 y
local.big 0000000000 0000000001 y
local.empty 0000000000 0000000001 y
EOF
    cat > "$d/db/active.times" <<'EOF'
control 946684800 lab
control.cancel 946684800 lab
junk 946684800 lab
local.test 1704067200 lab
local.big 1717200000 lab
local.empty 1733011200 lab
EOF
    printf 'local.test\tGeneral test group.\nlocal.big\tMany articles.\nlocal.empty\tNothing here.\n' > "$d/db/newsgroups"
    : > "$d/db/history"
    chown -R news:news "$d"
    (cd "$d/db" && INNCONF=$d/etc/inn.conf setpriv --reuid=news --regid=news --init-groups "$INNBIN/makedbz" -i -o)
    INNCONF=$d/etc/inn.conf setsid setpriv --reuid=news --regid=news --init-groups "$INNBIN/innd" -f \
        > "$d/log/innd.stdout" 2>&1 < /dev/null &
    wait_greeting "$NNTP_PORT" "200" innd
    if [ -n "${LAB_TLS_CERT:-}" ]; then
        # A standalone reader that speaks TLS from the first byte.
        INNCONF=$d/etc/inn.conf setsid setpriv --reuid=news --regid=news --init-groups \
            "$INNBIN/nnrpd" -D -b 127.0.0.1 -p "$NNTPS_PORT" -S \
            > "$d/log/nnrpd-tls.stdout" 2>&1 < /dev/null &
        echo $! > "$d/run/nnrpd-tls.pid"
        local i
        for i in $(seq 1 100); do port_in_use "$NNTPS_PORT" && break; sleep 0.05; done
    fi
}

start() {
    [ "$(id -u)" -eq 0 ] || die "must run as root"
    if [ -e "$LAB" ]; then
        [ -e "$LAB/.mailnews-lab" ] || die "$LAB exists and is no lab directory"
        stop
        rm -rf "$LAB"
    fi
    mkdir -p "$LAB"
    chmod 755 "$LAB"
    touch "$LAB/.mailnews-lab"
    POP3_PORT=${POP3_PORT:-$(free_port)}
    SMTP_PORT=${SMTP_PORT:-$(free_port)}
    NNTP_PORT=${NNTP_PORT:-$(free_port)}
    setup_tls
    # LAB_IPV6=1: dovecot listens on ::1 as well (same ports).
    POP3_ADDRESSES=127.0.0.1
    [ "${LAB_IPV6:-}" != 1 ] || POP3_ADDRESSES="127.0.0.1, ::1"
    WITHOUT=${LAB_WITHOUT:-}
    case " $WITHOUT " in *" pop3 "*) ;; *) setup_pop3 ;; esac
    case " $WITHOUT " in *" smtp "*) ;; *) setup_smtp ;; esac
    case " $WITHOUT " in *" nntp "*) ;; *) setup_nntp ;; esac
    [ "${LAB_SUBMISSION:-}" != 1 ] || setup_submission
    cat > "$LAB/lab.env" <<EOF
POP3_PORT=$POP3_PORT
SMTP_PORT=$SMTP_PORT
NNTP_PORT=$NNTP_PORT
POP3_USER=$POP3_USER
POP3_PASS=$POP3_PASS
POP3_MAILDIR=$LAB/pop3/home/Maildir
SMTP_MAILDIR=$LAB/smtp/Maildir
INNCONF=$LAB/nntp/etc/inn.conf
EOF
    if [ -n "${LAB_TLS_CERT:-}" ]; then
        printf 'POP3S_PORT=%s\nSUBMIT_PORT=%s\nSMTPS_PORT=%s\nNNTPS_PORT=%s\nSMTP_TLS_MAILDIR=%s\n' \
            "$POP3S_PORT" "$SUBMIT_PORT" "$SMTPS_PORT" "$NNTPS_PORT" "$LAB/smtp/tls-Maildir" >> "$LAB/lab.env"
    fi
    [ -z "${SUBMISSION_PORT:-}" ] || echo "SUBMISSION_PORT=$SUBMISSION_PORT" >> "$LAB/lab.env"
    chmod 644 "$LAB/lab.env"
    echo "lab: POP3 $POP3_PORT, SMTP $SMTP_PORT, NNTP $NNTP_PORT in $LAB"
}

stop() {
    [ -e "$LAB/.mailnews-lab" ] || return 0
    local pid
    if [ -f "$LAB/nntp/run/innd.pid" ]; then
        pid=$(cat "$LAB/nntp/run/innd.pid")
        if alive "$pid"; then
            INNCONF=$LAB/nntp/etc/inn.conf timeout 15 "$INNBIN/ctlinnd" -t 10 shutdown "lab stop" > /dev/null 2>&1 || true
            wait_gone "$pid"
        fi
    fi
    # Reader processes outlive innd while a client holds them.
    for env in /proc/[0-9]*/environ; do
        if grep -qs "INNCONF=$LAB/nntp/etc/inn.conf" "$env"; then
            pid=${env#/proc/}; pid=${pid%/environ}
            kill -TERM "$pid" 2>/dev/null || true
        fi
    done
    if [ -f "$LAB/nntp/run/nnrpd-tls.pid" ]; then
        pid=$(cat "$LAB/nntp/run/nnrpd-tls.pid")
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid"
    fi
    if [ -f "$LAB/submission/run/master.pid" ]; then
        pid=$(cat "$LAB/submission/run/master.pid")
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid"
    fi
    if [ -f "$LAB/pop3/run/master.pid" ]; then
        pid=$(cat "$LAB/pop3/run/master.pid")
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid"
    fi
    if [ -f "$LAB/smtp/smtp-tls.pid" ]; then
        pid=$(cat "$LAB/smtp/smtp-tls.pid")
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid"
        rm -f "$LAB/smtp/smtp-tls.pid"
    fi
    if [ -f "$LAB/smtp/smtpd.pid" ]; then
        pid=$(cat "$LAB/smtp/smtpd.pid")
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid"
        rm -f "$LAB/smtp/smtpd.pid"
    fi
}

rnews() {
    INNCONF=$LAB/nntp/etc/inn.conf setpriv --reuid=news --regid=news --init-groups "$INNBIN/rnews" -N
}

reset_pop3() {
    local m=$LAB/pop3/home/Maildir
    # dovecot may still be removing what the last session's QUIT committed:
    # a file gone under find is no failure, files left are tried again.
    local i
    for i in $(seq 1 40); do
        find "$m/cur" "$m/new" "$m/tmp" -mindepth 1 -delete 2> /dev/null && break
        sleep 0.05
    done
    [ -z "$(find "$m/cur" "$m/new" "$m/tmp" -mindepth 1 -print -quit)" ] || die "the POP3 mailbox would not empty"
    rm -f "$m"/dovecot-uidlist "$m"/dovecot-uidvalidity* "$m"/dovecot*.index*
}

[ $# -ge 2 ] || die "usage: lab.sh start|stop|rnews|reset-pop3 LAB_DIR"
LAB=$2
case "$1" in
    start) start ;;
    stop) stop ;;
    rnews) rnews ;;
    reset-pop3) reset_pop3 ;;
    *) die "unknown command $1" ;;
esac
