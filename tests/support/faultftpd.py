#!/usr/bin/python3
"""A fault-injecting FTP server for the robustness tests.

    faultftpd.py --scenario NAME --root DIR [--address 127.0.0.1] [--port 0]
                 [--events FILE] [--fault-at VERB] [--user U --password P]
                 [--decoy-address A] [--decoy-port N] [--foreign-address A]
                 [--cert CHAIN --key KEY] [--tls] [--hide-size]
                 [--no-rest]

Serves the folder --root (a flat or nested tree of files) well enough for
USER PASS SYST FEAT OPTS TYPE MODE STRU PWD CWD CDUP EPSV PASV EPRT PORT STOR
RETR REST SIZE MDTM LIST NLST MLSD MKD RMD DELE RNFR RNTO NOOP ALLO QUIT, and
behaves as the named scenario says. It listens on one loopback address
(IPv4); with --port 0 the system picks the port. The first line on stdout is
the bound port, written once the server accepts connections; nothing else is
written to stdout. Any user name and password are accepted unless --user and
--password are given. The server runs until it is killed (SIGTERM).

Scenarios
  ok                       behaves.
  close-after-greeting     sends the 220 greeting, then closes the control
                           connection.
  close-after-user         closes the control connection on USER, unanswered.
  close-after-pass         closes the control connection on PASS, unanswered.
  close-mid-stor           on STOR: 150, reads the first chunk of data, then
                           closes the data and control connections.
  close-mid-retr           on RETR: 150, sends the first half of the file, then
                           closes the data and control connections.
  reply-421-mid-session    answers "421 Service not available, closing control
                           connection." to the fault command (default: the
                           transfer commands STOR RETR LIST NLST MLSD APPE) and
                           closes the control connection.
  reset-data-mid-transfer  on RETR: 150, first half of the file, then a TCP
                           reset of the data connection and 426. On STOR: 150,
                           reads the first chunk, reset, 426. The control
                           connection stays open.
  stall-greeting           accepts the control connection and never says a
                           word.
  stall-retr-hear-control  on RETR: as stall-data-mid-transfer, but the
                           control connection goes on reading and answering
                           commands meanwhile (QUIT: 221).
  stall-after-150          on a transfer command: opens the data connection,
                           sends 150, then nothing more (no data, no close, no
                           reply).
  stall-data-mid-transfer  on RETR: 150, the first half of the file, then
                           nothing more (data connection left open). On STOR:
                           150, reads the first chunk, then stops reading.
  short-retr               SIZE gives the file's size and RETR announces it in
                           the 150 reply, sends only the first half, closes the
                           data connection and answers 226.
  pasv-other-host          refuses EPSV (500). PASV names the decoy address
                           (default 127.0.0.2; 127.0.0.3 when the server itself
                           is on 127.0.0.2) with port P, while the real data
                           listener waits on the server's own address, port P.
                           With --decoy-port the test runs the decoy listener
                           on the decoy address itself (it must not bind the
                           server's address); otherwise the server runs one and
                           logs each connection to it as "decoy-accept".
  active-foreign-source    in active mode (PORT/EPRT), connects to the client's
                           data port first from the foreign address (default as
                           the decoy address), sends "FOREIGN DATA\\r\\n" on it
                           (or, for STOR, reads whatever comes for 1 s), closes
                           it, then connects from the server's own address and
                           transfers normally.
  huge-reply-line          the reply at the fault point (default: the greeting)
                           is one line of 8 MiB.
  non-numeric-reply        the reply at the fault point (default: the greeting)
                           starts with "2x0" in place of its code.
  endless-multiline        the reply at the fault point (default: the greeting)
                           is a multi-line reply whose last line never comes:
                           continuation lines are sent until the client goes.
  pwd-unbalanced-quotes    PWD answers: 257 "/unbalanced is the current
                           directory. (no closing quote).
  garbage-listing          LIST, NLST and MLSD send lines of garbage (binary
                           bytes, NUL, a line of 100 000 bytes, broken facts,
                           truncated Unix and DOS lines, a bare CR), then 226.
  short-stor               STOR receives the whole file, stores only its
                           first half and answers 226.
  partial-stor             on STOR: 150, reads the first chunk and stores it
                           under the name, resets the data connection, 426.
                           The control connection stays open.
  reply-421-once           as reply-421-mid-session, but only the first time
                           the fault point comes, in all the server's
                           sessions; afterwards it behaves.
  cut-retr-once            the first RETR of the server's life sends the
                           first half of the file, closes the data connection
                           and answers 426 (the control connection stays
                           open); later RETRs behave, from a REST offset too.
  slow-retr-silent         RETR sends the file in 8 slices 0.25 s apart,
                           closes the data connection, then never answers.
  rnto-no-replace          RNTO refuses (550) a target name that exists.

FTP over TLS (the tls-* scenarios need --cert and --key): each answers
AUTH TLS with 234 and secures the control connection (explicit TLS), then
accepts PBSZ and PROT, except where the scenario says otherwise.
  tls-plain-data           the data connections stay plain under PROT P:
                           RETR and listings send their bytes in clear; STOR
                           reads what comes first (the client's handshake, if
                           it is a TLS client), answers it with clear bytes,
                           stores nothing and still answers 226.
  tls-stall-after-auth     answers 234, then never says a word (no handshake).
  tls-clear-after-234      sends "230 ..." in clear right behind its 234, in
                           the same segment, then goes on with the handshake.
  tls-data-without-close-notify
                           data connections are secured too (after the 1xx
                           reply). RETR and the listings send everything,
                           then end the data connection with a bare TCP
                           close, without TLS's close_notify, and answer 226
                           (passive mode; in active mode the end of the data
                           may be lost).
A stall of an implicit TLS handshake is stall-greeting: the client speaks
first, and nobody answers.

--tls (with --cert and --key) runs any other scenario over explicit TLS: the
control connection after AUTH TLS, and every data connection after its 1xx
reply, the server being the TLS server in active mode too.

--no-rest: FEAT does not list REST STREAM, and REST is refused (502).

--hide-size: SIZE is refused (550) and the 150 of RETR names no byte count,
so the client cannot know the size of a download.

--fault-at names the point for reply-421-mid-session, reply-421-once,
huge-reply-line,
non-numeric-reply and endless-multiline: "greeting" or a command verb (USER,
PASS, PWD, CWD, TYPE, STOR, RETR, ...).

Events (--events FILE): one JSON object per line, written and flushed as it
happens, compact (no spaces), always with "ev" first:
  {"ev":"listen","address":A,"port":N}             the control listener is up
  {"ev":"connect","peer":A,"port":N}               control connection accepted
  {"ev":"command","verb":V,"arg":S}                a command as received (verb
                                                   upper-cased; the argument of
                                                   PASS is "***", or "" if empty)
  {"ev":"reply","code":C}                          the code of each reply sent
  {"ev":"fault","what":S}                          the scenario's fault happens
  {"ev":"data-listen","address":A,"port":N}        passive listener opened
  {"ev":"data-accept","peer":A,"port":N}           passive data connection
  {"ev":"data-connect","source":A,"target":A,"port":N,"ok":B}
                                                   active data connection made
                                                   (source = our local address)
  {"ev":"decoy-accept","peer":A,"port":N}          a connection to our decoy
  {"ev":"rest","offset":N}                         REST accepted
  {"ev":"retr","path":P,"bytes":N,"complete":B}    bytes sent for RETR
                                                   (from the REST offset)
  {"ev":"stor","path":P,"bytes":N,"complete":B}    bytes received for STOR
  {"ev":"tls","conn":C,"ok":B,"version":V,"resumed":B}
                                                   a TLS handshake on the
                                                   "control" or a "data"
                                                   connection (on failure
                                                   "error" instead of version)
  {"ev":"clear-data","bytes":N,"tls_record":B}     tls-plain-data: what STOR
                                                   received in clear; B: it
                                                   began like a TLS handshake
  {"ev":"close","reason":S}                        control connection ended
"""

import argparse
import asyncio
import datetime
import json
import os
import posixpath
import socket
import ssl
import stat
import struct
import sys

TRANSFER_VERBS = {"STOR", "RETR", "LIST", "NLST", "MLSD", "APPE"}
CHUNK = 64 * 1024
HUGE_LINE = 8 * 1024 * 1024

DEFAULT_FAULT_AT = {
    "reply-421-mid-session": "TRANSFER",
    "reply-421-once": "TRANSFER",
    "huge-reply-line": "GREETING",
    "non-numeric-reply": "GREETING",
    "endless-multiline": "GREETING",
}

GARBAGE_LINES = [
    b"",
    b"garbage",
    b"\x00\x01\x02\xff\xfe binary \x00 bytes",
    b"x" * 100000,
    b"type=file;size=abc; broken-size",
    b"type=file;size=12;modify=99999999999999; bad-time",
    b"type=file;size=18446744073709551617; too-big",
    b"type=dir no-semicolon-space",
    b";;;;; ",
    b"drwxr-xr-x 1",
    b"-rw-r--r-- 1 owner group notanumber Jan 01 00:00 name",
    b"-rw-r--r-- 1 owner group 12 Foo 99 99:99 badtime",
    b"12-31-99  11:59PM       <DIR>",
    b"99-99-99  99:99XM 12 dosbad",
    b"\r",
    b"\xe3\x81\x82\xff invalid utf-8 \xc3",
    b"total 0",
]


class Events:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1) if path else None

    def log(self, ev, **fields):
        if self.file is None:
            return
        record = {"ev": ev}
        record.update(fields)
        self.file.write(json.dumps(record, separators=(",", ":")) + "\n")
        self.file.flush()


class Config:
    def __init__(self, args):
        self.scenario = args.scenario
        self.address = args.address
        self.root = os.path.realpath(args.root)
        self.user = args.user
        self.password = args.password
        other = "127.0.0.3" if args.address == "127.0.0.2" else "127.0.0.2"
        self.decoy_address = args.decoy_address or other
        self.decoy_port = args.decoy_port
        self.foreign_address = args.foreign_address or other
        fault_at = args.fault_at or DEFAULT_FAULT_AT.get(args.scenario, "")
        self.fault_at = fault_at.upper()
        self.hide_size = args.hide_size
        self.no_rest = args.no_rest
        self.tls = None  # the server's TLS context: tls-* scenarios, --tls
        if args.scenario.startswith("tls-") or args.tls:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(args.cert, args.key)
        self.tls_data = (args.tls or
                         args.scenario == "tls-data-without-close-notify")
        # Faults that strike once in the server's life (reply-421-once,
        # cut-retr-once), whichever session meets them.
        self.struck_once = False


class Abort(Exception):
    """Ends the session at once (the scenario closes the connection)."""


class Session:
    def __init__(self, config, events, reader, writer):
        self.c = config
        self.ev = events
        self.reader = reader
        self.writer = writer
        self.cwd = "/"
        self.type = "A"
        self.logged_in = False
        self.user = None
        self.rename_from = None
        self.pasv_server = None
        self.pasv_conn = None
        self.decoy_server = None
        self.active_target = None
        self.fault_done = False
        self.preliminary_sent = False
        self.rest = 0

    # --- replies ------------------------------------------------------------
    def is_fault_point(self, verb):
        if self.fault_done or not self.c.fault_at:
            return False
        if self.c.scenario == "reply-421-once" and self.c.struck_once:
            return False
        if self.c.fault_at == "TRANSFER":
            return verb in TRANSFER_VERBS
        return self.c.fault_at == verb

    async def send_raw(self, data):
        self.writer.write(data)
        await self.writer.drain()

    async def reply(self, code, text, verb=None, lines=None):
        """Sends a reply, changed by the scenario at its fault point."""
        point = verb if verb is not None else "GREETING"
        scenario = self.c.scenario
        if self.is_fault_point(point) and scenario in (
                "huge-reply-line", "non-numeric-reply", "endless-multiline"):
            self.fault_done = True
            self.ev.log("fault", what=scenario, at=point)
            if scenario == "huge-reply-line":
                self.ev.log("reply", code=str(code))
                await self.send_raw(("%d %s " % (code, text)).encode() +
                                    b"x" * HUGE_LINE + b"\r\n")
            elif scenario == "non-numeric-reply":
                self.ev.log("reply", code="2x0")
                await self.send_raw(("2x0 %s\r\n" % text).encode())
            else:
                self.ev.log("reply", code=str(code))
                await self.send_raw(("%d-%s\r\n" % (code, text)).encode())
                n = 0
                while True:
                    block = b"".join(b" continued line %d\r\n" % (n + i)
                                     for i in range(1000))
                    n += 1000
                    await self.send_raw(block)
            return
        self.ev.log("reply", code=str(code))
        if lines:
            body = "%d-%s\r\n" % (code, text)
            body += "".join(" %s\r\n" % line for line in lines)
            body += "%d End\r\n" % code
        else:
            body = "%d %s\r\n" % (code, text)
        await self.send_raw(body.encode("utf-8", "surrogateescape"))

    # --- paths --------------------------------------------------------------
    def vpath(self, arg):
        path = posixpath.normpath(posixpath.join(self.cwd, arg or "."))
        if not path.startswith("/"):
            path = "/" + path
        if path.startswith("//"):
            path = "/" + path.lstrip("/")
        return path

    def real(self, vpath):
        return os.path.join(self.c.root, vpath.lstrip("/"))

    # --- data connections ---------------------------------------------------
    async def close_data_setup(self):
        for server in (self.pasv_server, self.decoy_server):
            if server is not None:
                server.close()
        self.pasv_server = None
        self.decoy_server = None
        self.pasv_conn = None
        self.active_target = None

    async def open_passive(self, port=0):
        loop = asyncio.get_running_loop()
        future = loop.create_future()

        def on_connect(reader, writer):
            peer = writer.get_extra_info("peername")
            self.ev.log("data-accept", peer=peer[0], port=peer[1])
            if not future.done():
                future.set_result((reader, writer))
            else:
                writer.close()

        server = await asyncio.start_server(on_connect, self.c.address, port)
        self.pasv_server = server
        self.pasv_conn = future
        bound = server.sockets[0].getsockname()[1]
        self.ev.log("data-listen", address=self.c.address, port=bound)
        return bound

    async def open_decoy(self, port):
        def on_connect(reader, writer):
            peer = writer.get_extra_info("peername")
            self.ev.log("decoy-accept", peer=peer[0], port=peer[1])
            writer.close()

        self.decoy_server = await asyncio.start_server(
            on_connect, self.c.decoy_address, port)

    async def connect_active(self, source, secure=False):
        host, port = self.active_target
        try:
            if secure:
                conn = await asyncio.wait_for(
                    self.connect_bare(host, port, source), 10)
            else:
                conn = await asyncio.wait_for(
                    asyncio.open_connection(host, port,
                                            local_addr=(source, 0)), 10)
        except (OSError, asyncio.TimeoutError):
            self.ev.log("data-connect", source=source, target=host, port=port,
                        ok=False)
            return None
        self.ev.log("data-connect", source=source, target=host, port=port,
                    ok=True)
        return conn

    @staticmethod
    async def connect_bare(host, port, source):
        """An active data connection whose TLS is ours to serve: a bare
        socket, returned as (None, socket), that nothing reads until
        secure_data starts the handshake. The client speaks first, as soon
        as it has accepted, and its hello must not be read in clear."""
        loop = asyncio.get_running_loop()
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            sock.setblocking(False)
            sock.bind((source, 0))
            await loop.sock_connect(sock, (host, port))
        except BaseException:
            sock.close()
            raise
        return None, sock

    async def data_connection(self, verb):
        """The data connection for a transfer, or None (425 already sent)."""
        if self.pasv_conn is not None:
            try:
                conn = await asyncio.wait_for(self.pasv_conn, 10)
            except asyncio.TimeoutError:
                conn = None
        elif self.active_target is not None:
            if self.c.scenario == "active-foreign-source":
                await self.foreign_attempt(verb)
            conn = await self.connect_active(self.c.address,
                                             secure=self.c.tls_data)
        else:
            await self.reply(425, "Use PORT or PASV first.", verb)
            return None
        if conn is None:
            await self.close_data_setup()
            await self.reply(425, "Can't open data connection.", verb)
            return None
        return conn

    async def foreign_attempt(self, verb):
        self.ev.log("fault", what="active-foreign-source",
                    source=self.c.foreign_address)
        conn = await self.connect_active(self.c.foreign_address)
        if conn is None:
            return
        reader, writer = conn
        try:
            if verb == "STOR" or verb == "APPE":
                # A client that takes this connection sends once it sees 150.
                await self.reply(150, "Ok to send data.", verb)
                self.preliminary_sent = True
                got = 0
                try:
                    while True:
                        block = await asyncio.wait_for(reader.read(CHUNK), 1)
                        if not block:
                            break
                        got += len(block)
                except asyncio.TimeoutError:
                    pass
                self.ev.log("foreign-data", bytes=got)
            else:
                writer.write(b"FOREIGN DATA\r\n")
                await asyncio.wait_for(writer.drain(), 1)
        except (OSError, asyncio.TimeoutError):
            pass
        finally:
            writer.close()
        await asyncio.sleep(0.2)

    @staticmethod
    def reset(writer):
        sock = writer.get_extra_info("socket")
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                            struct.pack("ii", 1, 0))
        except OSError:
            pass
        writer.transport.abort()

    async def stall(self, log=True):
        if log:
            self.ev.log("fault", what=self.c.scenario)
        await asyncio.Event().wait()

    async def fault_mid_transfer(self, writer, verb):
        """The scenario's fault once part of the data has moved; True when
        it has answered the transfer (426 after a reset)."""
        scenario = self.c.scenario
        self.ev.log("fault", what=scenario)
        if scenario in ("close-mid-retr", "close-mid-stor"):
            writer.close()
            raise Abort(scenario)
        if scenario == "cut-retr-once":
            self.c.struck_once = True
            writer.close()
            await self.close_data_setup()
            await self.reply(426, "Connection closed; transfer aborted.", verb)
            return True
        if scenario in ("reset-data-mid-transfer", "partial-stor"):
            self.reset(writer)
            await self.close_data_setup()
            await self.reply(426, "Connection closed; transfer aborted.", verb)
            return True
        if scenario in ("stall-data-mid-transfer", "stall-retr-hear-control"):
            await self.stall(log=False)
        return False

    # --- TLS ----------------------------------------------------------------
    def log_tls(self, conn, writer):
        obj = writer.get_extra_info("ssl_object")
        self.ev.log("tls", conn=conn, ok=True, version=obj.version(),
                    resumed=obj.session_reused)

    async def auth_tls(self, arg):
        """AUTH TLS: 234 (changed by the scenario), then the handshake."""
        scenario = self.c.scenario
        if arg.strip().upper() not in ("TLS", "TLS-C", "SSL"):
            await self.reply(504, "AUTH type not supported.", "AUTH")
            return
        if scenario == "tls-clear-after-234":
            self.ev.log("fault", what=scenario)
            self.ev.log("reply", code="234")
            await self.send_raw(b"234 Proceed with negotiation.\r\n"
                                b"230 Login successful (in clear).\r\n")
        else:
            await self.reply(234, "Proceed with negotiation.", "AUTH")
        if scenario == "tls-stall-after-auth":
            await self.stall()
        try:
            await self.writer.start_tls(self.c.tls, ssl_handshake_timeout=10)
        except (OSError, ssl.SSLError, asyncio.TimeoutError) as e:
            self.ev.log("tls", conn="control", ok=False,
                        error=e.__class__.__name__)
            raise Abort("TLS handshake failed")
        self.log_tls("control", self.writer)

    async def secure_data(self, reader, writer, verb):
        """The data connection's handshake as the TLS server, after the 1xx
        reply. Returns the secured (reader, writer) and the plain transport
        below them (None for a bare socket of connect_bare), or None (426
        already sent)."""
        loop = asyncio.get_running_loop()
        raw = None if reader is None else writer.transport
        try:
            if reader is None:
                reader = asyncio.StreamReader(limit=65536)
                protocol = asyncio.StreamReaderProtocol(reader)
                transport, _ = await loop.connect_accepted_socket(
                    lambda: protocol, writer, ssl=self.c.tls,
                    ssl_handshake_timeout=10)
                writer = asyncio.StreamWriter(transport, protocol, reader,
                                              loop)
            else:
                await writer.start_tls(self.c.tls, ssl_handshake_timeout=10)
        except (OSError, ssl.SSLError, asyncio.TimeoutError) as e:
            self.ev.log("tls", conn="data", ok=False,
                        error=e.__class__.__name__)
            if raw is not None:
                raw.abort()
            else:
                writer.close()
            await self.close_data_setup()
            await self.reply(426, "TLS handshake failed.", verb)
            return None
        self.log_tls("data", writer)
        return reader, writer, raw

    async def end_without_close_notify(self, reader, writer, raw):
        """Ends a secured data connection with a bare TCP close: every byte
        written reaches the peer, then a FIN, but no close_notify."""
        self.ev.log("fault", what=self.c.scenario)
        while (writer.transport.get_write_buffer_size() or
               (raw is not None and raw.get_write_buffer_size())):
            await asyncio.sleep(0.01)
        writer.get_extra_info("socket").shutdown(socket.SHUT_WR)
        try:
            while await asyncio.wait_for(reader.read(CHUNK), 5):
                pass
        except (OSError, ssl.SSLError, asyncio.TimeoutError):
            pass
        writer.transport.abort()

    async def answer_clear_upload(self, reader, writer, verb, target):
        """tls-plain-data STOR: the first bytes (a TLS client's handshake)
        are answered in clear; nothing is stored, and 226 all the same."""
        self.ev.log("fault", what=self.c.scenario)
        try:
            first = await asyncio.wait_for(reader.read(CHUNK), 10)
        except (OSError, asyncio.TimeoutError):
            first = b""
        self.ev.log("clear-data", bytes=len(first),
                    tls_record=first[:1] == b"\x16")
        try:
            writer.write(b"clear bytes, not TLS\r\n")
            await writer.drain()
        except OSError:
            pass
        writer.close()
        self.ev.log("stor", path=target, bytes=0, complete=False)
        await self.close_data_setup()
        await self.reply(226, "Transfer complete.", verb)

    # --- listings -----------------------------------------------------------
    @staticmethod
    def list_line(name, st):
        kind = "d" if stat.S_ISDIR(st.st_mode) else "-"
        mtime = datetime.datetime.fromtimestamp(st.st_mtime,
                                                datetime.timezone.utc)
        now = datetime.datetime.now(datetime.timezone.utc)
        if abs((now - mtime).days) < 180:
            when = mtime.strftime("%b %d %H:%M")
        else:
            when = mtime.strftime("%b %d  %Y")
        return "%srw-r--r--    1 owner    group %12d %s %s" % (
            kind, st.st_size, when, name)

    @staticmethod
    def mlsd_line(name, st):
        mtime = datetime.datetime.fromtimestamp(st.st_mtime,
                                                datetime.timezone.utc)
        facts = "type=%s;" % ("dir" if stat.S_ISDIR(st.st_mode) else "file")
        if not stat.S_ISDIR(st.st_mode):
            facts += "size=%d;" % st.st_size
        facts += "modify=%s;" % mtime.strftime("%Y%m%d%H%M%S")
        return "%s %s" % (facts, name)

    def listing(self, verb, arg):
        if self.c.scenario == "garbage-listing":
            self.ev.log("fault", what="garbage-listing")
            return b"\r\n".join(GARBAGE_LINES) + b"\r\n"
        words = [w for w in (arg or "").split(" ") if w and not w.startswith("-")]
        target = self.vpath(words[0] if words else ".")
        real = self.real(target)
        if os.path.isdir(real):
            entries = [(n, os.stat(os.path.join(real, n)))
                       for n in sorted(os.listdir(real))]
        elif os.path.exists(real):
            entries = [(posixpath.basename(target), os.stat(real))]
        else:
            return None
        if verb == "NLST":
            lines = [n for n, _ in entries]
        elif verb == "MLSD":
            lines = [self.mlsd_line(n, st) for n, st in entries]
        else:
            lines = [self.list_line(n, st) for n, st in entries]
        return "".join(line + "\r\n" for line in lines).encode(
            "utf-8", "surrogateescape")

    # --- transfers ----------------------------------------------------------
    async def transfer_out(self, verb, arg, payload, path=None):
        """Sends payload on the data connection (RETR and listings)."""
        scenario = self.c.scenario
        conn = await self.data_connection(verb)
        if conn is None:
            return
        reader, writer = conn
        if verb == "RETR" and self.rest:
            payload = payload[self.rest:]
        self.rest = 0
        if verb == "RETR":
            size_note = (" (%d bytes)" % len(payload)
                         if self.type == "I" and not self.c.hide_size else "")
            await self.reply(150, "Opening %s mode data connection for %s%s." % (
                "BINARY" if self.type == "I" else "ASCII", arg, size_note), verb)
            if self.type == "A":
                payload = payload.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        else:
            await self.reply(150, "Here comes the directory listing.", verb)
        if scenario == "stall-after-150":
            await self.stall()
        raw = None
        if self.c.tls_data:
            secured = await self.secure_data(reader, writer, verb)
            if secured is None:
                return
            reader, writer, raw = secured
        half = payload[: len(payload) // 2]
        if verb == "RETR" and scenario == "slow-retr-silent":
            self.ev.log("fault", what=scenario)
            step = -(-len(payload) // 8) or 1
            for i in range(0, len(payload), step):
                writer.write(payload[i:i + step])
                await writer.drain()
                await asyncio.sleep(0.25)
            writer.close()
            self.ev.log("retr", path=path, bytes=len(payload), complete=True)
            await self.stall(log=False)
        cut_once = scenario == "cut-retr-once" and not self.c.struck_once
        if verb == "RETR" and (cut_once or scenario in (
                "close-mid-retr", "reset-data-mid-transfer",
                "stall-data-mid-transfer", "stall-retr-hear-control",
                "short-retr")):
            sent = 0
            try:
                writer.write(half)
                await writer.drain()
                sent = len(half)
            except OSError:
                pass
            self.ev.log("retr", path=path, bytes=sent, complete=False)
            if await self.fault_mid_transfer(writer, verb):
                return
            writer.close()  # short-retr
            await self.close_data_setup()
            await self.reply(226, "Transfer complete.", verb)
            return
        sent = 0
        try:
            for i in range(0, len(payload), CHUNK):
                writer.write(payload[i:i + CHUNK])
                await writer.drain()
                sent += len(payload[i:i + CHUNK])
            if scenario == "tls-data-without-close-notify":
                await self.end_without_close_notify(reader, writer, raw)
            else:
                writer.close()
            complete = True
        except OSError:
            complete = False
        if verb == "RETR":
            self.ev.log("retr", path=path, bytes=sent, complete=complete)
        await self.close_data_setup()
        if complete:
            await self.reply(226, "Transfer complete.", verb)
        else:
            await self.reply(426, "Connection closed; transfer aborted.", verb)

    async def transfer_in(self, verb, arg):
        scenario = self.c.scenario
        target = self.vpath(arg)
        real = self.real(target)
        if not arg or not os.path.isdir(os.path.dirname(real)):
            await self.reply(553, "Could not create file.", verb)
            return
        conn = await self.data_connection(verb)
        if conn is None:
            return
        reader, writer = conn
        if not self.preliminary_sent:
            await self.reply(150, "Ok to send data.", verb)
        self.preliminary_sent = False
        if scenario == "stall-after-150":
            await self.stall()
        if scenario == "tls-plain-data":
            await self.answer_clear_upload(reader, writer, verb, target)
            return
        if self.c.tls_data:
            secured = await self.secure_data(reader, writer, verb)
            if secured is None:
                return
            reader, writer, _ = secured
        if scenario in ("close-mid-stor", "reset-data-mid-transfer",
                        "stall-data-mid-transfer", "partial-stor"):
            try:
                first = await asyncio.wait_for(reader.read(CHUNK), 10)
            except (OSError, asyncio.TimeoutError):
                first = b""
            self.ev.log("stor", path=target, bytes=len(first), complete=False)
            if scenario == "partial-stor":
                with open(real, "wb") as out:
                    out.write(first)
            if await self.fault_mid_transfer(writer, verb):
                return
        data = bytearray()
        complete = True
        try:
            while True:
                block = await reader.read(CHUNK)
                if not block:
                    break
                data += block
        except OSError:
            complete = False
        writer.close()
        self.ev.log("stor", path=target, bytes=len(data), complete=complete)
        await self.close_data_setup()
        if not complete:
            await self.reply(426, "Connection closed; transfer aborted.", verb)
            return
        if self.type == "A":
            data = bytes(data).replace(b"\r\n", b"\n")
        if scenario == "short-stor":
            self.ev.log("fault", what=scenario)
            data = data[: len(data) // 2]
        with open(real, "ab" if verb == "APPE" else "wb") as out:
            out.write(data)
        await self.reply(226, "Transfer complete.", verb)

    # --- the command loop ---------------------------------------------------
    async def run(self):
        scenario = self.c.scenario
        if scenario == "stall-greeting":
            await self.stall()
        if scenario in ("reply-421-mid-session",
                        "reply-421-once") and self.is_fault_point("GREETING"):
            self.c.struck_once = True
            self.ev.log("fault", what=scenario, at="GREETING")
            self.ev.log("reply", code="421")
            await self.send_raw(b"421 Service not available, closing "
                                b"control connection.\r\n")
            raise Abort(scenario)
        await self.reply(220, "faultftpd ready.")
        if scenario == "close-after-greeting":
            self.ev.log("fault", what=scenario)
            raise Abort(scenario)
        while True:
            try:
                line = await self.reader.readuntil(b"\n")
            except asyncio.IncompleteReadError:
                raise Abort("client closed")
            except asyncio.LimitOverrunError:
                await self.reply(500, "Line too long.")
                raise Abort("line too long")
            text = line.rstrip(b"\r\n").decode("utf-8", "surrogateescape")
            verb, _, arg = text.partition(" ")
            verb = verb.upper()
            self.ev.log("command", verb=verb,
                        arg=("***" if arg else "") if verb == "PASS" else arg)
            if scenario == "close-after-user" and verb == "USER":
                self.ev.log("fault", what=scenario)
                raise Abort(scenario)
            if scenario == "close-after-pass" and verb == "PASS":
                self.ev.log("fault", what=scenario)
                raise Abort(scenario)
            if (scenario in ("reply-421-mid-session", "reply-421-once") and
                    self.is_fault_point(verb)):
                self.fault_done = True
                self.c.struck_once = True
                self.ev.log("fault", what=scenario, at=verb)
                self.ev.log("reply", code="421")
                await self.send_raw(b"421 Service not available, closing "
                                    b"control connection.\r\n")
                raise Abort(scenario)
            if scenario == "stall-retr-hear-control" and verb == "RETR":
                # The transfer runs on while the next commands are read.
                self.background = asyncio.ensure_future(self.command(verb, arg))
                continue
            await self.command(verb, arg)

    async def command(self, verb, arg):
        r = lambda code, text, **kw: self.reply(code, text, verb, **kw)
        if verb == "QUIT":
            await r(221, "Goodbye.")
            raise Abort("quit")
        if verb == "USER":
            self.user = arg
            self.logged_in = False
            await r(331, "Please specify the password.")
            return
        if verb == "PASS":
            if self.user is None:
                await r(503, "Login with USER first.")
            elif (self.c.user is not None and
                  (self.user != self.c.user or arg != self.c.password)):
                await r(530, "Login incorrect.")
            else:
                self.logged_in = True
                await r(230, "Login successful.")
            return
        if verb == "FEAT":
            features = ["EPRT", "MDTM", "MLST type*;size*;modify*;",
                        "REST STREAM", "SIZE", "UTF8"]
            if self.c.no_rest:
                features.remove("REST STREAM")
            if self.c.scenario != "pasv-other-host":
                features.insert(1, "EPSV")
            await r(211, "Features:", lines=features)
            return
        if verb == "SYST":
            await r(215, "UNIX Type: L8")
            return
        if verb == "NOOP":
            await r(200, "NOOP ok.")
            return
        if verb == "AUTH" and self.c.tls is not None:
            await self.auth_tls(arg)
            return
        if verb == "PBSZ" and self.c.tls is not None:
            await r(200, "PBSZ=0")
            return
        if verb == "PROT" and self.c.tls is not None:
            if arg.strip().upper() == "P":
                await r(200, "PROT now Private.")
            else:
                await r(536, "PROT P required.")
            return
        if not self.logged_in:
            await r(530, "Please login with USER and PASS.")
            return
        if verb == "OPTS":
            await r(200, "Always in UTF8 mode.")
        elif verb == "TYPE":
            kind = arg.strip().upper()[:1]
            if kind in ("A", "I"):
                self.type = kind
                await r(200, "Switching to %s mode." % (
                    "Binary" if kind == "I" else "ASCII"))
            else:
                await r(504, "Bad TYPE command.")
        elif verb in ("MODE", "STRU"):
            await r(200, "Ok.")
        elif verb == "ALLO":
            await r(202, "ALLO command ignored.")
        elif verb in ("PWD", "XPWD"):
            if self.c.scenario == "pwd-unbalanced-quotes":
                self.ev.log("fault", what="pwd-unbalanced-quotes")
                await r(257, '"%s is the current directory.' % (
                    "/unbalanced" if self.cwd == "/" else self.cwd))
            else:
                await r(257, '"%s" is the current directory.' %
                        self.cwd.replace('"', '""'))
        elif verb in ("CWD", "CDUP", "XCUP"):
            target = self.vpath(".." if verb != "CWD" else arg)
            if os.path.isdir(self.real(target)):
                self.cwd = target
                await r(250, "Directory successfully changed.")
            else:
                await r(550, "Failed to change directory.")
        elif verb == "EPSV":
            if self.c.scenario == "pasv-other-host":
                await r(500, "EPSV not understood.")
                return
            await self.close_data_setup()
            port = await self.open_passive()
            await r(229, "Entering Extended Passive Mode (|||%d|)" % port)
        elif verb == "PASV":
            await self.close_data_setup()
            host = self.c.address
            if self.c.scenario == "pasv-other-host":
                port = await self.pasv_other_host()
                host = self.c.decoy_address
                self.ev.log("fault", what="pasv-other-host", named=host,
                            port=port)
            else:
                port = await self.open_passive()
            await r(227, "Entering Passive Mode (%s,%d,%d)." % (
                host.replace(".", ","), port >> 8, port & 255))
        elif verb in ("PORT", "EPRT"):
            target = self.parse_active(verb, arg)
            await self.close_data_setup()
            if target is None:
                await r(501, "Illegal %s command." % verb)
            else:
                self.active_target = target
                await r(200, "%s command successful." % verb)
        elif verb in ("RETR",):
            target = self.vpath(arg)
            real = self.real(target)
            if not arg or not os.path.isfile(real):
                await r(550, "Failed to open file.")
                return
            with open(real, "rb") as f:
                payload = f.read()
            await self.transfer_out(verb, arg, payload, target)
        elif verb in ("LIST", "NLST", "MLSD"):
            payload = self.listing(verb, arg)
            if payload is None:
                await r(550, "No such file or directory.")
                return
            await self.transfer_out(verb, arg, payload)
        elif verb in ("STOR", "APPE"):
            await self.transfer_in(verb, arg)
        elif verb == "REST" and self.c.no_rest:
            await r(502, "REST not implemented.")
        elif verb == "REST":
            try:
                self.rest = int(arg)
            except ValueError:
                await r(501, "Bad REST offset.")
                return
            self.ev.log("rest", offset=self.rest)
            await r(350, "Restart position accepted (%d)." % self.rest)
        elif verb == "SIZE":
            real = self.real(self.vpath(arg))
            if self.c.hide_size:
                await r(550, "SIZE not allowed.")
            elif os.path.isfile(real):
                await r(213, str(os.path.getsize(real)))
            else:
                await r(550, "Could not get file size.")
        elif verb == "MDTM":
            real = self.real(self.vpath(arg))
            if os.path.isfile(real):
                mtime = datetime.datetime.fromtimestamp(
                    os.path.getmtime(real), datetime.timezone.utc)
                await r(213, mtime.strftime("%Y%m%d%H%M%S"))
            else:
                await r(550, "Could not get file modification time.")
        elif verb in ("MKD", "XMKD"):
            target = self.vpath(arg)
            try:
                os.mkdir(self.real(target))
                await r(257, '"%s" created.' % target.replace('"', '""'))
            except OSError:
                await r(550, "Create directory operation failed.")
        elif verb in ("RMD", "XRMD"):
            try:
                os.rmdir(self.real(self.vpath(arg)))
                await r(250, "Remove directory operation successful.")
            except OSError:
                await r(550, "Remove directory operation failed.")
        elif verb == "DELE":
            try:
                os.unlink(self.real(self.vpath(arg)))
                await r(250, "Delete operation successful.")
            except OSError:
                await r(550, "Delete operation failed.")
        elif verb == "RNFR":
            target = self.vpath(arg)
            if os.path.exists(self.real(target)):
                self.rename_from = target
                await r(350, "Ready for RNTO.")
            else:
                await r(550, "RNFR command failed.")
        elif verb == "RNTO":
            if self.rename_from is None:
                await r(503, "RNFR required first.")
                return
            source, self.rename_from = self.rename_from, None
            if (self.c.scenario == "rnto-no-replace" and
                    os.path.exists(self.real(self.vpath(arg)))):
                self.ev.log("fault", what="rnto-no-replace")
                await r(550, "Rename failed: target exists.")
                return
            try:
                os.rename(self.real(source), self.real(self.vpath(arg)))
                await r(250, "Rename successful.")
            except OSError:
                await r(550, "Rename failed.")
        elif verb == "ABOR":
            await r(225, "No transfer to ABOR.")
        else:
            await r(502, "Command not implemented.")

    async def pasv_other_host(self):
        """Opens the real listener and the decoy on one port number."""
        if self.c.decoy_port:
            return await self.open_passive(self.c.decoy_port)
        for _ in range(20):
            port = await self.open_passive()
            try:
                await self.open_decoy(port)
                return port
            except OSError:
                self.pasv_server.close()
                self.pasv_server = None
        raise Abort("no port free on both addresses")

    @staticmethod
    def parse_active(verb, arg):
        try:
            if verb == "PORT":
                parts = [int(p) for p in arg.split(",")]
                if len(parts) != 6 or any(p < 0 or p > 255 for p in parts):
                    return None
                return (".".join(str(p) for p in parts[:4]),
                        parts[4] * 256 + parts[5])
            delim = arg[0]
            fields = arg.split(delim)
            if len(fields) != 5 or fields[1] not in ("1", "2"):
                return None
            port = int(fields[3])
            if not 0 < port < 65536:
                return None
            return fields[2], port
        except (ValueError, IndexError):
            return None


async def main_async(args):
    config = Config(args)
    events = Events(args.events)

    async def on_client(reader, writer):
        peer = writer.get_extra_info("peername")
        events.log("connect", peer=peer[0], port=peer[1])
        session = Session(config, events, reader, writer)
        reason = "done"
        try:
            await session.run()
        except Abort as e:
            reason = str(e)
        except (ConnectionError, OSError) as e:
            reason = "connection lost: %s" % e.__class__.__name__
        finally:
            await session.close_data_setup()
            events.log("close", reason=reason)
            try:
                writer.close()
            except OSError:
                pass

    server = await asyncio.start_server(on_client, args.address, args.port,
                                        reuse_address=True, limit=65536)
    port = server.sockets[0].getsockname()[1]
    events.log("listen", address=args.address, port=port)
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", required=True)
    parser.add_argument("--events", default=None)
    parser.add_argument("--fault-at", default=None)
    parser.add_argument("--user", default=None)
    parser.add_argument("--password", default=None)
    parser.add_argument("--decoy-address", default=None)
    parser.add_argument("--decoy-port", type=int, default=0)
    parser.add_argument("--foreign-address", default=None)
    parser.add_argument("--cert", default=None)
    parser.add_argument("--key", default=None)
    parser.add_argument("--hide-size", action="store_true")
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--tls", action="store_true")
    args = parser.parse_args()
    known = {"ok", "close-after-greeting", "close-after-user",
             "close-after-pass", "close-mid-stor", "close-mid-retr",
             "reply-421-mid-session", "reset-data-mid-transfer",
             "stall-greeting", "stall-after-150", "stall-data-mid-transfer",
             "stall-retr-hear-control",
             "short-retr", "pasv-other-host", "active-foreign-source",
             "huge-reply-line", "non-numeric-reply", "endless-multiline",
             "pwd-unbalanced-quotes", "garbage-listing", "tls-plain-data",
             "tls-stall-after-auth", "tls-clear-after-234",
             "tls-data-without-close-notify", "short-stor", "partial-stor",
             "reply-421-once", "cut-retr-once", "slow-retr-silent",
             "rnto-no-replace"}
    if args.scenario not in known:
        sys.stderr.write("unknown scenario: %s\n" % args.scenario)
        sys.exit(2)
    if ((args.scenario.startswith("tls-") or args.tls) and
            not (args.cert and args.key)):
        sys.stderr.write("TLS needs --cert and --key\n")
        sys.exit(2)
    try:
        asyncio.run(main_async(args))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
