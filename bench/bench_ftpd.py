"""A loopback FTP server for the benchmarks.

pyftpdlib with one addition: listing the directory "synthetic" (MLSD or LIST)
returns --entries generated entries instead of its real (empty) contents, so
that listings of a million entries need no million files.

Usage: bench_ftpd.py --root DIR --port-file FILE [--entries N]
Listens on 127.0.0.1, a free port written to FILE; user "bench", password
"bench".
"""
import argparse
import logging
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import BufferedIteratorProducer, FTPHandler
from pyftpdlib.servers import FTPServer

ENTRIES = 0


def synthetic(mlsd):
    for i in range(ENTRIES):
        if mlsd:
            line = "type=file;size=%d;modify=20010307090500; entry %07d.dat\r\n" % (i * 37, i)
        else:
            line = "-rw-r--r--   1 bench bench %12d Mar 07  2001 entry %07d.dat\r\n" % (i * 37, i)
        yield line.encode()


class Handler(FTPHandler):
    def _synthetic(self, path, cmd):
        if os.path.basename(path.rstrip("/")) != "synthetic":
            return False
        producer = BufferedIteratorProducer(synthetic(cmd == "MLSD"))
        self.push_dtp_data(producer, isproducer=True, cmd=cmd)
        return True

    def ftp_MLSD(self, path):
        if not self._synthetic(path, "MLSD"):
            return super().ftp_MLSD(path)
        return path

    def ftp_LIST(self, path):
        if not self._synthetic(path, "LIST"):
            return super().ftp_LIST(path)
        return path


def main():
    global ENTRIES
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--entries", type=int, default=1000000)
    args = parser.parse_args()
    ENTRIES = args.entries
    os.makedirs(os.path.join(args.root, "synthetic"), exist_ok=True)
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user("bench", "bench", args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.socket.getsockname()[1]))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
