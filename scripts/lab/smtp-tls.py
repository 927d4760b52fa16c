#!/usr/bin/python3
# A submission server with TLS for the lab, on the SMTP server library of
# Debian's python3-aiosmtpd (the lab's OpenSMTPD 6.8 cannot do TLS with
# OpenSSL 3: its separated signing process fails every handshake).
#
#   smtp-tls.py CERT KEY SUBMIT_PORT SMTPS_PORT USER PASSWORD MAILDIR
#
# SUBMIT_PORT: STARTTLS required, then AUTH PLAIN or LOGIN required.
# SMTPS_PORT: TLS from the first byte, AUTH required. Accepted messages go
# into MAILDIR/new. Runs until SIGTERM.
import mailbox
import signal
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

cert, key, submit_port, smtps_port, user, password, maildir = sys.argv[1:8]


class Deliver:
    def __init__(self):
        self.box = mailbox.Maildir(maildir, create=True)

    async def handle_DATA(self, server, session, envelope):
        self.box.add(envelope.original_content or envelope.content)
        return "250 2.0.0 queued"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
          and auth_data.password == password.encode())
    return AuthResult(success=ok, handled=False)


def context():
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(cert, key)
    return ctx


common = dict(hostname="127.0.0.1", server_hostname="mail.lab.test", authenticator=authenticator,
              auth_required=True)
submission = Controller(Deliver(), port=int(submit_port), tls_context=context(), require_starttls=True,
                        auth_require_tls=True, **common)
smtps = Controller(Deliver(), port=int(smtps_port), ssl_context=context(), auth_require_tls=False, **common)
submission.start()
smtps.start()

stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *_: stop.set())
signal.signal(signal.SIGINT, lambda *_: stop.set())
stop.wait()
submission.stop()
smtps.stop()
