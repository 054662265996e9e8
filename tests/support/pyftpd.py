#!/usr/bin/python3
"""A pyftpdlib server for the tests.

Serves --root to one account (--user/--password) with full rights, on a
loopback address.  With --port 0 the system picks a free port.  The bound port
is printed as the first line on stdout once the server accepts connections;
the protocol log goes to --log (never to stdout).

Passive data ports come from the system's ephemeral range; active mode
(PORT/EPRT) is allowed towards the control connection's peer address.
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
    args = parser.parse_args()

    if args.log:
        logging.basicConfig(filename=args.log, level=logging.DEBUG,
                            format="%(asctime)s %(message)s")
    else:
        logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.permit_privileged_ports = False
    Handler.permit_foreign_addresses = False
    Handler.use_sendfile = False
    # Refused logins answer at once, so that tests of them stay quick.
    Handler.auth_failed_timeout = 0
    Handler.timeout = 600

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
