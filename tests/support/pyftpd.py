#!/usr/bin/python3
"""A pyftpdlib server for the tests.

Serves --root to one account (--user/--password) with full rights, on a
loopback address.  With --port 0 the system picks a free port.  The bound port
is printed as the first line on stdout once the server accepts connections;
the protocol log goes to --log (never to stdout).

Passive data ports come from the system's ephemeral range; active mode
(PORT/EPRT) is allowed towards the control connection's peer address.

With --tls explicit the server is pyftpdlib's TLS handler: AUTH TLS, serving
--cert-chain (the certificate, then its issuers) with --cert-key, and TLS is
required for the login and for every data connection (PROT P). With
--tls12-only it speaks TLS 1.2 at most. Without --tls it is plain FTP and
answers AUTH with a refusal.
"""

import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", default=None)
    parser.add_argument("--tls", choices=["none", "explicit"], default="none")
    parser.add_argument("--cert-chain", default=None)
    parser.add_argument("--cert-key", default=None)
    parser.add_argument("--tls12-only", action="store_true")
    args = parser.parse_args()
    tls = args.tls == "explicit"

    if args.log:
        logging.basicConfig(filename=args.log, level=logging.DEBUG,
                            format="%(asctime)s %(message)s")
    else:
        logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    base = FTPHandler
    if tls:
        # Only here: the plain server does not need python3-openssl.
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.permit_privileged_ports = False
    Handler.permit_foreign_addresses = False
    Handler.use_sendfile = False
    # Refused logins answer at once, so that tests of them stay quick.
    Handler.auth_failed_timeout = 0
    Handler.timeout = 600
    if tls:
        from OpenSSL import SSL
        Handler.certfile = args.cert_chain
        Handler.keyfile = args.cert_key
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        if args.tls12_only:
            Handler.ssl_options |= SSL.OP_NO_TLSv1_3

    server = FTPServer((args.address, args.port), Handler)
    server.max_cons = 256
    server.max_cons_per_ip = 0
    port = server.socket.getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
