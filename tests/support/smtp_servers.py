"""SMTP servers for the mail tests, all storing what they accept in one Maildir.

Usage: smtp_servers.py MAILDIR AUTH_LOG CERT KEY PLAIN_ADDRS PLAIN_PORT STARTTLS_PORT SMTPS_PORT

- plain (on every address of the comma-separated PLAIN_ADDRS): no TLS at all, yet it offers
  AUTH, so a client that logs on without TLS is seen doing it;
- starttls (127.0.0.1): requires STARTTLS before any mail and offers AUTH only after it;
- smtps (127.0.0.1): TLS from the first byte.
Every AUTH attempt that reaches a server is appended to AUTH_LOG as "port mechanism login password".
The user edi-send with password "secret" is accepted.
"""
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import AuthResult, LoginPassword

maildir, auth_log, cert, key, plain_addrs, plain_port, starttls_port, smtps_port = sys.argv[1:9]
lock = threading.Lock()


def authenticator(port):
    def check(server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        login = auth_data.login.decode(errors="replace")
        password = auth_data.password.decode(errors="replace")
        with lock, open(auth_log, "a") as log:
            log.write(f"{port} {mechanism} {login} {password}\n")
        # handled=False: the server answers the refusal itself (535).
        return AuthResult(success=login == "edi-send" and password == "secret", handled=False)
    return check


context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)


def server(addr, port, **kwargs):
    # Without SMTPUTF8 clients encode non-ASCII headers, as most servers need.
    return Controller(Mailbox(maildir), hostname=addr, port=int(port), enable_SMTPUTF8=False,
                      authenticator=authenticator(port), **kwargs)


controllers = [server(addr, plain_port, auth_require_tls=False) for addr in plain_addrs.split(",")]
controllers.append(server("127.0.0.1", starttls_port, tls_context=context, require_starttls=True))
# TLS from the first byte is not seen as TLS by the AUTH check: it is allowed outright.
controllers.append(server("127.0.0.1", smtps_port, ssl_context=context, auth_require_tls=False))
for controller in controllers:
    controller.start()
threading.Event().wait()
