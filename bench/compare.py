#!/usr/bin/python3
"""Compares zorvexrun with the FTP clients a user would otherwise pick.

Runs on loopback only, against a vsftpd of its own on 127.0.0.1 with its root
under /dev/shm, each client a separate process doing one transfer from start
to exit, and prints for each case the wall time, throughput, CPU time and
peak resident memory of every client, and for every peer the median of the
paired ratios peer time / our time (above 1: zorvexrun is faster). Absolute
times on a shared machine are noise; the ratios of runs made back to back are
what count. The figures also go to compare.json and compare.csv in the output
folder, the checked targets to targets.csv.

    /usr/bin/python3 bench/compare.py --build build-bench [--out DIR]
        [--cases 1,2,3,4,5,6] [--reps N] [--quick] [--source tmpfs|ext4]

Every run writes a fresh file (the previous run's output is removed before
the clock starts), and the ratios are the medians of pair-by-pair ratios,
the order of each pair alternating. --source ext4 reads the uploaded files
from a folder on the disk (in the build folder), from the page cache,
instead of /dev/shm.

Cases: 1 a 1 GiB binary upload and download; 2 ASCII against binary on a
256 MiB text file; 3 a 1 KiB upload and download, with the commands each
client sends; 4 peak memory for 1 MiB and 1 GiB; 5 listing a folder of
100,000 entries; 6 a 1 GiB upload and download over explicit TLS against
curl and lftp, with a second vsftpd that requires TLS (bench/compare_tls.py).
Needs root (vsftpd runs its account in a mount namespace of its own), vsftpd,
curl, lftp, ncftp, openssl and util-linux.
"""

import argparse
import atexit
import csv
import ctypes
import filecmp
import json
import os
import platform
import re
import shlex
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import compare_tls

MIB = 1 << 20
HOST = "127.0.0.1"
VSFTPD = "/usr/sbin/vsftpd"

# The server's account: a local user with uid 0 that exists only in vsftpd's
# own mount namespace, locked into the server root by chroot. The password is
# a fixed one of the test harness and appears only in files of mode 0600.
USER = "zorvex"
PASSWORD = "pw-zorvex-1"
PASSWORD_HASH = ("$6$zorvexharness$RwwNxJYrcgUhYXQSKyqiKJ3L.7ZyjAfcWZCLe1fFMxvKvX"
                 "2ZFp1OaQ9ZALalUHfdyWsB29JDoYaMdYKd8Po9q1")

OURS = "ours"
PEERS = ("curl", "lftp", "ncftp")
# Case 6, over TLS: ncftp has no TLS.
OURS_TLS = "ours_tls"
PEERS_TLS = ("curl_tls", "lftp_tls")
CASES = (1, 2, 3, 4, 5, 6)


class BenchError(Exception):
    pass


class RunFailed(BenchError):
    """A client's run failed: it ended with an error, or its file is not the
    one sent. `details` go to the results as they are."""

    def __init__(self, message, details):
        super().__init__(message)
        self.details = details


def mask(text):
    """The text with the password replaced, for anything shown or stored."""
    return text.replace(PASSWORD, "<password>")


def write_secret(path, text):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(text)
    os.chmod(path, 0o600)


# --------------------------------------------------------------------------
# Temporary folders and the server, removed and stopped whatever happens.

class Cleanup:
    def __init__(self):
        self.folders = []
        self.groups = []  # process group ids of the servers we started
        self.done = False

    def run(self):
        if self.done:
            return
        self.done = True
        for pgid in self.groups:
            stop_group(pgid)
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)


CLEANUP = Cleanup()
atexit.register(CLEANUP.run)


def stop_group(pgid, timeout=5.0):
    try:
        os.killpg(pgid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            pid, _ = os.waitpid(pgid, os.WNOHANG)
        except ChildProcessError:
            pid = pgid
        if pid == pgid:
            break
        time.sleep(0.05)
    try:
        os.killpg(pgid, signal.SIGKILL)  # session processes left behind
    except ProcessLookupError:
        pass
    try:
        os.waitpid(pgid, 0)
    except ChildProcessError:
        pass


def on_terminate(signum, frame):
    raise SystemExit(128 + signum)


class Vsftpd:
    """vsftpd on 127.0.0.1 at a free port, serving the folder `root`, with
    its configuration, account files and logs in the folder `work`.
    `settings` are configuration lines added to the common ones (TLS)."""

    def __init__(self, work, root, ascii_conversion=False, settings=()):
        # vsftpd's stock configuration leaves ASCII conversion off: in TYPE A
        # the bytes pass as they are, so the ASCII figures are the client's
        # own price. With conversion on, vsftpd's byte loop counts too.
        self.ascii_conversion = ascii_conversion
        self.settings = list(settings)
        self.work = work
        self.root = root
        os.makedirs(self.work)
        os.makedirs(self.root, exist_ok=True)
        os.chmod(self.work, 0o755)
        os.chmod(self.root, 0o755)
        self.log = os.path.join(self.work, "vsftpd.log")
        self.port = 0
        self.proc = None

    def _account_files(self):
        os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
        with open("/etc/passwd") as f:
            passwd = f.read()
        if passwd and not passwd.endswith("\n"):
            passwd += "\n"
        passwd += USER + ":x:0:0:test account:/:/bin/sh\n"
        files = {
            "passwd": (passwd, "/etc/passwd"),
            "shadow": (USER + ":" + PASSWORD_HASH + ":19000:0:99999:7:::\n",
                       "/etc/shadow"),
            "pam": ("auth required pam_unix.so nodelay\n"
                    "account required pam_permit.so\n"
                    "session required pam_permit.so\n", "/etc/pam.d/vsftpd"),
        }
        mounts = []
        for name, (text, target) in files.items():
            path = os.path.join(self.work, name)
            with open(path, "w") as f:
                f.write(text)
            if name == "shadow":
                os.chmod(path, 0o600)
            mounts.append((path, target))
        return mounts

    def _config(self, port):
        return "".join(line + "\n" for line in [
            "listen=YES", "listen_ipv6=NO", "listen_address=" + HOST,
            "listen_port=%d" % port, "background=NO", "anonymous_enable=NO",
            "local_enable=YES", "pam_service_name=vsftpd",
            "chroot_local_user=YES", "allow_writeable_chroot=YES",
            "local_root=" + self.root, "write_enable=YES", "local_umask=022",
            "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
            "connect_from_port_20=NO", "pasv_enable=YES", "port_enable=YES",
            "pasv_promiscuous=NO", "port_promiscuous=NO",
            "ascii_upload_enable=" + ("YES" if self.ascii_conversion else "NO"),
            "ascii_download_enable=" + ("YES" if self.ascii_conversion else "NO"),
            "hide_ids=NO", "dirmessage_enable=NO", "use_localtime=NO",
            "delay_failed_login=0", "delay_successful_login=0",
            "max_clients=0", "max_per_ip=0", "idle_session_timeout=600",
            "data_connection_timeout=600",
            "secure_chroot_dir=/var/run/vsftpd/empty", "xferlog_enable=YES",
            "xferlog_std_format=NO", "log_ftp_protocol=YES",
            "vsftpd_log_file=" + self.log,
            "ftpd_banner=vsftpd test server ready.",
        ] + self.settings)

    def start(self):
        mounts = self._account_files()
        conf = os.path.join(self.work, "vsftpd.conf")
        binds = " && ".join("mount --bind %s %s" % (shlex.quote(a), b)
                            for a, b in mounts)
        script = "%s && exec %s %s" % (binds, VSFTPD, shlex.quote(conf))
        failure = ""
        for _ in range(5):  # a free port may be taken before vsftpd binds it
            port = free_port()
            with open(conf, "w") as f:
                f.write(self._config(port))
            os.chmod(conf, 0o600)
            with open(os.path.join(self.work, "stderr.log"), "wb") as err:
                self.proc = subprocess.Popen(
                    ["unshare", "--mount", "--propagation", "private",
                     "sh", "-c", script],
                    stdin=subprocess.DEVNULL, stdout=err, stderr=err,
                    start_new_session=True)
            CLEANUP.groups.append(self.proc.pid)
            if wait_for_greeting(port, self.proc, 10.0):
                self.port = port
                return
            stop_group(self.proc.pid)
            CLEANUP.groups.remove(self.proc.pid)
            failure = tail(os.path.join(self.work, "stderr.log"))
        raise BenchError("vsftpd does not answer on 127.0.0.1: " + failure)

    def log_size(self):
        try:
            return os.path.getsize(self.log)
        except FileNotFoundError:
            return 0

    def settle(self, quiet=0.05, limit=2.0):
        """Waits until the protocol log has stopped growing for `quiet`
        seconds, so that the session of the run before has ended."""
        deadline = time.monotonic() + limit
        size = self.log_size()
        while time.monotonic() < deadline:
            time.sleep(quiet)
            now = self.log_size()
            if now == size:
                return
            size = now

    def log_since(self, position):
        with open(self.log, "rb") as f:
            f.seek(position)
            return f.read().decode("utf-8", "replace")

    def commands_since(self, position):
        """The command verbs the server logged after `position`."""
        verbs = []
        for line in self.log_since(position).splitlines():
            if "FTP command:" not in line:
                continue
            m = re.search(r'FTP command: Client "[^"]*", "([^" ]*)', line)
            verbs.append(m.group(1).upper() if m else "?")
        return verbs

    def refusal_since(self, position):
        """The last negative reply (4xx or 5xx) the server logged after
        `position`, or an empty text."""
        last = ""
        for m in re.finditer(r'FTP response: Client "[^"]*", "([45]\d\d[^"]*)"',
                             self.log_since(position)):
            last = m.group(1)
        return mask(last)


def standalone_server(top):
    """A vsftpd of its own under the folder `top` for the smaller benchmark
    scripts, with the harness account's password in a file and a netrc of
    mode 0600. Returns (server, password_file, netrc, env): env gives the
    clients a home folder of their own."""
    server = Vsftpd(os.path.join(top, "server"), os.path.join(top, "root"))
    server.start()
    secret = os.path.join(top, "secret")
    os.makedirs(secret, mode=0o700)
    password_file = os.path.join(secret, "password")
    write_secret(password_file, PASSWORD + "\n")
    netrc = os.path.join(secret, "netrc")
    write_secret(netrc, "machine %s login %s password %s\n" % (
        HOST, USER, PASSWORD))
    env = dict(os.environ, HOME=os.path.join(top, "home"))
    return server, password_file, netrc, env


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def wait_for_greeting(port, proc, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection((HOST, port), timeout=2.0) as s:
                data = b""
                while b"\n" not in data or not re.search(
                        rb"^220 ", data, re.M):
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                if re.search(rb"^220 ", data, re.M):
                    s.sendall(b"QUIT\r\n")
                    return True
        except OSError:
            pass
        time.sleep(0.1)
    return False


def tail(path, limit=2000):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError:
        return ""
    return mask(text[-limit:])


# --------------------------------------------------------------------------
# Measured runs
#
# Linux carries a process's peak resident memory across execve: a client
# started straight from this interpreter would report at least the
# interpreter's own peak as its ru_maxrss. So each client is started by a
# small shell that forks it and exits at once; this process, a child
# subreaper, inherits the client and collects its own rusage with wait4.

PR_SET_CHILD_SUBREAPER = 36
LAUNCHER = 'o=$1 e=$2; shift 2; "$@" </dev/null >"$o" 2>"$e" & echo $!'


def become_subreaper():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise BenchError("prctl(PR_SET_CHILD_SUBREAPER): %s"
                         % os.strerror(ctypes.get_errno()))


def spawn_and_wait(argv, env, cwd, out_path, err_path):
    """Runs argv to its end; returns its pid, wait status and rusage."""
    shell = subprocess.Popen(["/bin/sh", "-c", LAUNCHER, "sh", out_path,
                              err_path] + argv, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, env=env, cwd=cwd)
    text = shell.stdout.read()
    shell.stdout.close()
    shell.wait()
    try:
        pid = int(text)
    except ValueError:
        raise BenchError("cannot start %s" % argv[0])
    try:
        # The shell has ended: its child is ours now.
        _, status, usage = os.wait4(pid, 0)
    except BaseException:
        try:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
        except OSError:
            pass
        raise
    return pid, status, usage


def reap_orphans(server_pids):
    """Collects the processes that ended after being handed to us as the
    subreaper (vsftpd's session processes among them). Returns those of
    `server_pids` that have ended."""
    ended = []
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return ended
        if pid == 0:
            return ended
        if pid in server_pids:
            ended.append(pid)


# --------------------------------------------------------------------------
# Data

def make_binary(path, size):
    """Pseudo-random bytes: one random MiB, each copy stamped with its index."""
    block = bytearray(os.urandom(MIB))
    with open(path, "wb") as f:
        for i in range(size // MIB):
            block[0:8] = i.to_bytes(8, "little")
            f.write(block)
        f.write(block[:size % MIB])


def make_text(path, size):
    """Printable lines of 40 to 80 characters ended by LF, each MiB stamped."""
    rng = os.urandom(MIB)
    alphabet = (b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                b"0123456789 .,;:-_+=()")
    chars = bytes(alphabet[b % len(alphabet)] for b in rng)
    lines = []
    used = 0
    pos = 0
    while MIB - used > 200:
        n = 40 + rng[pos % MIB] % 41
        lines.append(chars[pos:pos + n] + b"\n")
        used += n + 1
        pos += n
    lines.append(chars[pos:pos + MIB - used - 1] + b"\n")
    block = bytearray(b"".join(lines))
    assert len(block) == MIB
    with open(path, "wb") as f:
        for i in range(size // MIB):
            block[0:12] = b"%011d:" % i
            f.write(block)


def warm_page_cache(path):
    """Reads the file once, so that its pages are in the page cache."""
    with open(path, "rb") as f:
        while f.read(16 * MIB):
            pass


def file_system(path):
    out = command_line(["stat", "-f", "-c", "%T", path]).strip()
    return out or "unknown"


def make_folder(path, entries):
    os.makedirs(path)
    for i in range(entries):
        os.close(os.open(os.path.join(path, "f%07d" % i),
                         os.O_WRONLY | os.O_CREAT, 0o644))


# --------------------------------------------------------------------------
# Clients

class Files:
    """Where a file lives: the local source (`src/NAME`), the copy the server
    offers for download (`root/NAME`, a hard link to the source, or a copy
    when the source lies on another file system), the local name an upload
    is made from (`up/up-NAME`, another hard link, since some clients name
    the remote file after the local one) and its remote target
    (`root/up-NAME`). With --source ext4, `src` and `up` lie on the disk."""

    def __init__(self, bench, name, size, text):
        self.name = name
        self.size = size
        self.text = text
        self.src = os.path.join(bench.source_top, "src", name)
        self.lines = 0  # line ends in a text file, counted once it exists
        self.up_name = "up-" + name
        self.up_local = os.path.join(bench.source_top, "up", self.up_name)
        self.up_target = os.path.join(bench.server.root, self.up_name)


class Client:
    """One client: how it uploads, downloads or lists, as an argument list."""

    def __init__(self, name, label, argv, env=None, server=None,
                 shown_file=None):
        self.name = name
        self.label = label
        self.argv = argv  # argv(op, files, outdir) -> list
        self.env = env
        self.server = server  # the Vsftpd it talks to
        # shown_file(argv) -> the file (script or settings) whose lines are
        # shown, masked, below the command line
        self.shown_file = shown_file


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.top = tempfile.mkdtemp(dir="/dev/shm", prefix="zorvex-compare-")
        CLEANUP.folders.append(self.top)
        os.chmod(self.top, 0o755)
        for sub in ("src", "up", "dl", "run", "home"):
            os.makedirs(os.path.join(self.top, sub))
        # The local files a client uploads: in tmpfs beside everything else,
        # or on the disk (an ext4 folder in the build folder), read from the
        # page cache.
        self.source_top = self.top
        if args.source == "ext4":
            self.source_top = tempfile.mkdtemp(dir=self.build,
                                               prefix="zorvex-compare-")
            CLEANUP.folders.append(self.source_top)
            os.chmod(self.source_top, 0o755)
            for sub in ("src", "up"):
                os.makedirs(os.path.join(self.source_top, sub))
        self.secret = os.path.join(self.top, "secret")
        os.makedirs(self.secret, mode=0o700)
        # The servers' configurations, accounts, logs and certificates go
        # under /tmp: the test script stops any vsftpd whose configuration
        # lies elsewhere, taking it for the system's.
        self.conf = tempfile.mkdtemp(dir="/tmp", prefix="zorvex-compare-")
        CLEANUP.folders.append(self.conf)
        os.chmod(self.conf, 0o755)
        root = os.path.join(self.top, "root")
        self.server = Vsftpd(os.path.join(self.conf, "server"), root,
                             args.server_ascii)
        self.tls_server = None  # made by add_tls_server
        self.certs = None
        self.clients = {}
        self.shown = set()
        self.results = []  # one entry per case and operation
        self.targets = []

    def add_tls_server(self):
        """A second vsftpd on the same root that requires explicit TLS, with
        a certificate from a test authority made here."""
        started = time.perf_counter()
        try:
            self.certs = compare_tls.make_certs(
                os.path.join(self.conf, "certs"), HOST)
        except compare_tls.CertError as e:
            raise BenchError(str(e))
        self.tls_server = Vsftpd(
            os.path.join(self.conf, "server-tls"), self.server.root,
            self.server.ascii_conversion,
            compare_tls.server_settings(self.certs))
        print("Test authority and server certificate (ECDSA P-256, IP:%s) "
              "made in %.2f s" % (HOST, time.perf_counter() - started))

    def servers(self):
        return [s for s in (self.server, self.tls_server) if s is not None]

    # -- clients ---------------------------------------------------------

    def setup_clients(self):
        port = self.server.port
        url = "ftp://%s:%d/" % (HOST, port)
        exe = os.path.join(self.build, "app", "zorvexrun")
        list_exe = os.path.join(self.build, "bench", "list_bench")
        for path in (exe, list_exe):
            if not os.access(path, os.X_OK):
                raise BenchError("not built: " + path)
        # The caller's environment, with a fresh home folder so that no
        # client reads a user's own settings (~/.lftprc, ~/.ncftp, ~/.netrc).
        env = dict(os.environ, HOME=os.path.join(self.top, "home"))
        env.pop("TERM", None)

        ours = {}
        modes = [("binary", "%s:%d" % (HOST, port), 1),
                 ("ascii", "%s:%d" % (HOST, port), 0)]
        if self.tls_server:
            modes.append(("tls", "ftpes://%s:%d" % (HOST, self.tls_server.port),
                          1))
        for mode, host, flag in modes:
            folder = os.path.join(self.top, "ours-" + mode)
            os.makedirs(folder)
            shutil.copy2(exe, os.path.join(folder, "zorvexrun"))
            write_secret(os.path.join(folder, "zorvex"),
                         "%s,%s,%s,%d,1,\r\n" % (host, USER, PASSWORD, flag))
            if mode == "tls":
                # The trust file beside the settings: the test authority.
                shutil.copyfile(self.certs.ca,
                                os.path.join(folder, "zorvex.pem"))
            ours[mode] = os.path.join(folder, "zorvexrun")

        def ours_argv(mode):
            def argv(op, f, outdir):
                if op == "put":
                    return [ours[mode], "/p", "%s,/%s" % (f.up_local, f.up_name)]
                return [ours[mode], "/g /%s,%s/" % (f.name, outdir)]
            return argv

        netrc = os.path.join(self.secret, "netrc")
        write_secret(netrc, "machine %s login %s password %s\n"
                     % (HOST, USER, PASSWORD))

        def curl_argv(ascii_mode):
            def argv(op, f, outdir):
                a = ["curl", "-sS", "--netrc-file", netrc]
                if ascii_mode:
                    a.append("--use-ascii")
                if op == "put":
                    return a + ["-T", f.up_local, url + f.up_name]
                return a + ["-o", os.path.join(outdir, f.name), url + f.name]
            return argv

        def lftp_argv(op, f, outdir):
            script = os.path.join(self.secret, "lftp-%s-%s" % (op, f.name))
            if op == "put":
                action = "put %s -o /%s" % (f.up_local, f.up_name)
            else:
                action = "get /%s -o %s" % (f.name,
                                            os.path.join(outdir, f.name))
            write_secret(script, "set ftp:ssl-allow no\n"
                         "set net:max-retries 1\n"
                         "set cmd:fail-exit yes\n"
                         "open -u %s,%s ftp://%s:%d\n%s\n"
                         % (USER, PASSWORD, HOST, port, action))
            return ["lftp", "-f", script]

        login = os.path.join(self.secret, "ncftp-login")
        write_secret(login, "host %s\nuser %s\npass %s\n"
                     % (HOST, USER, PASSWORD))

        def ncftp_argv(op, f, outdir):
            # -V: no progress meter; ncftpget -Z: no resume of a partial file.
            # With -f the host comes from the login file, not the arguments.
            if op == "put":
                return ["ncftpput", "-V", "-f", login, "-P", str(port), "/",
                        f.up_local]
            return ["ncftpget", "-V", "-Z", "-f", login, "-P", str(port),
                    outdir, "/" + f.name]

        password_file = os.path.join(self.secret, "password")
        write_secret(password_file, PASSWORD + "\n")

        def list_argv(op, f, outdir):
            return [list_exe, HOST, str(port), USER, password_file, "/big"]

        def curl_list_argv(op, f, outdir):
            return ["curl", "-sS", "--netrc-file", netrc, "-o",
                    outdir or "/dev/null", url + "big/"]

        def script(argv):
            return argv[-1]

        clients = [
            Client("ours", "zorvexrun", ours_argv("binary"), env),
            Client("ours_ascii", "zorvexrun ASCII", ours_argv("ascii"), env),
            Client("curl", "curl", curl_argv(False), env),
            Client("curl_ascii", "curl --use-ascii", curl_argv(True), env),
            Client("lftp", "lftp", lftp_argv, env, shown_file=script),
            Client("ncftp", "ncftpput/ncftpget", ncftp_argv, env),
            Client("list_bench", "list_bench", list_argv, env),
            Client("curl_list", "curl (list)", curl_list_argv, env)]

        if self.tls_server:
            tls = self.tls_server
            tls_url = "ftp://%s:%d/" % (HOST, tls.port)

            def lftp_tls_argv(op, f, outdir):
                script = os.path.join(self.secret,
                                      "lftp-tls-%s-%s" % (op, f.name))
                if op == "put":
                    action = "put %s -o /%s" % (f.up_local, f.up_name)
                else:
                    action = "get /%s -o %s" % (f.name,
                                                os.path.join(outdir, f.name))
                write_secret(script, compare_tls.lftp_script(
                    self.certs.ca, USER, PASSWORD, HOST, tls.port, action))
                return ["lftp", "-f", script]

            def settings(argv):
                return os.path.join(os.path.dirname(argv[0]), "zorvex")

            clients += [
                Client(OURS_TLS, "zorvexrun TLS", ours_argv("tls"), env,
                       server=tls, shown_file=settings),
                Client("curl_tls", "curl TLS",
                       compare_tls.curl_argv(netrc, self.certs.ca, tls_url),
                       env, server=tls),
                Client("lftp_tls", "lftp TLS", lftp_tls_argv, env,
                       server=tls, shown_file=script)]
        for client in clients:
            if client.server is None:
                client.server = self.server
            self.clients[client.name] = client

    def show_command(self, client, op, argv):
        if (client.name, op) in self.shown:
            return
        self.shown.add((client.name, op))
        print("    %-17s %s" % (client.label + ":", mask(shlex.join(argv))))
        if client.shown_file:
            with open(client.shown_file(argv)) as f:
                for line in f.read().splitlines():
                    print("    %-17s   | %s" % ("", mask(line)))

    # -- one run -----------------------------------------------------------

    def run(self, client_name, op, files, full_check=False, count=False,
            list_out=None):
        """Runs one client once; returns its figures after checking the
        result. `op` is put, get or list."""
        client = self.clients[client_name]
        outdir = None
        target = None
        if op == "put":
            target = files.up_target
        elif op == "get":
            outdir = os.path.join(self.top, "dl", client_name)
            os.makedirs(outdir, exist_ok=True)
            target = os.path.join(outdir, files.name)
        else:
            outdir = list_out
        # Every run writes a fresh file, as a user's transfer does: the
        # previous run's output is removed before the clock starts.
        if target is not None and os.path.lexists(target):
            os.unlink(target)
        argv = client.argv(op, files, outdir)
        self.show_command(client, op, argv)
        rundir = os.path.join(self.top, "run")
        out_path = os.path.join(rundir, "stdout")
        err_path = os.path.join(rundir, "stderr")
        server = client.server
        position = server.log_size()
        start = time.perf_counter()
        pid, status, usage = spawn_and_wait(argv, client.env, rundir,
                                            out_path, err_path)
        wall = time.perf_counter() - start
        returncode = os.waitstatus_to_exitcode(status)
        server.settle()
        servers = self.servers()
        ended = reap_orphans([s.proc.pid for s in servers])
        for s in servers:
            if s.proc.pid in ended:
                raise BenchError("vsftpd (port %d) has ended\n%s" % (
                    s.port, tail(os.path.join(s.work, "stderr.log"))))
        result = {
            "wall_s": wall,
            "cpu_s": usage.ru_utime + usage.ru_stime,
            "rss_kib": usage.ru_maxrss,
        }
        what = "%s %s %s" % (client.label, op, files.name if files else "")
        try:
            if returncode != 0:
                raise BenchError("%s: exit status %d" % (what, returncode))
            self.check(client_name, op, files, target, out_path, list_out,
                       full_check, what)
        except BenchError as e:
            details = {"error": mask(str(e)), "exit_status": returncode,
                       "wall_s": wall, "cpu_s": result["cpu_s"],
                       "bytes_written": (os.path.getsize(target) if target
                                         and os.path.exists(target) else None),
                       "server_reply": server.refusal_since(position),
                       "stderr": tail(err_path, 500).strip()}
            text = str(e)
            if details["server_reply"]:
                text += "; the server's last refusal: " + details["server_reply"]
            if details["bytes_written"] is not None and files:
                text += "; the target holds %d of %d bytes" % (
                    details["bytes_written"], files.size)
            if details["stderr"]:
                text += "\n" + details["stderr"]
            raise RunFailed(text, details)
        if count:
            result["commands"] = server.commands_since(position)
        if server is self.tls_server:
            result["tls"] = compare_tls.negotiated(server.log_since(position))
        return result

    def check(self, client_name, op, files, target, out_path, list_out,
              full_check, what):
        if op == "list":
            if client_name == "list_bench":
                with open(out_path) as f:
                    text = f.read()
                m = re.match(r"(\d+) entries", text)
                if not m or int(m.group(1)) != self.entries:
                    raise BenchError("%s: listed %r, expected %d entries"
                                     % (what, text.strip(), self.entries))
            elif list_out:
                with open(list_out, "rb") as f:
                    n = sum(1 for line in f if line.strip())
                if n != self.entries:
                    raise BenchError("%s: %d lines, expected %d"
                                     % (what, n, self.entries))
            return
        if not os.path.exists(target):
            raise BenchError("%s: %s was not written" % (what, target))
        size = os.path.getsize(target)
        if (op == "put" and client_name.endswith("_ascii")
                and not self.server.ascii_conversion):
            # The server keeps the CR LF line ends the client sent.
            self.check_crlf_copy(target, files, size, full_check, what)
            return
        if size != files.size:
            raise BenchError("%s: %d bytes, expected %d"
                             % (what, size, files.size))
        if full_check and not filecmp.cmp(target, files.src, shallow=False):
            raise BenchError("%s: the content differs from the source" % what)

    @staticmethod
    def check_crlf_copy(target, files, size, full_check, what):
        if size != files.size + files.lines:
            raise BenchError("%s: %d bytes, expected %d (CR LF line ends)"
                             % (what, size, files.size + files.lines))
        if full_check:
            with open(target, "rb") as got, open(files.src, "rb") as want:
                if got.read().replace(b"\r\n", b"\n") != want.read():
                    raise BenchError("%s: the content differs from the source"
                                     " with CR LF line ends" % what)

    # -- schedules -----------------------------------------------------------

    def paired(self, case, op, files, pairs, reps, count=False,
               list_out=None, title="", may_fail=()):
        """A warm-up run of every client (content checked in full), then
        `reps` repetitions in which each pair runs back to back, the order
        alternating between repetitions. Returns the case's record.

        A failed run of a client named in `may_fail` is printed and kept in
        the record's "failures", and its pair is left out of the ratios of
        that repetition; if it was the run whose content was to be checked
        in full, the client's next successful run is. Any other failure
        ends the benchmark."""
        names = []
        for a, b in pairs:
            for n in (a, b):
                if n not in names:
                    names.append(n)
        record = {"case": case, "op": op, "title": title,
                  "bytes": files.size if files else 0, "reps": reps,
                  "clients": {n: [] for n in names},
                  "warmup": {}, "pairs": [], "failures": []}
        print("  %s" % title)
        unchecked = set()

        def attempt(n, rep):
            full = rep is None or n in unchecked
            try:
                result = self.run(n, op, files, full_check=full, count=count,
                                  list_out=list_out)
            except RunFailed as e:
                if n not in may_fail:
                    raise
                record["failures"].append(dict(
                    e.details, client=n, run="warm-up" if rep is None
                    else "%d of %d" % (rep + 1, reps)))
                print("    FAILED %s, %s: %s" % (
                    self.clients[n].label, record["failures"][-1]["run"],
                    mask(str(e)).replace("\n", "\n      ")))
                if full:
                    unchecked.add(n)
                return None
            unchecked.discard(n)
            return result

        for n in names:
            record["warmup"][n] = attempt(n, None)
        ratios = {(a, b): [] for a, b in pairs}
        for rep in range(reps):
            for a, b in pairs:
                order = (a, b) if rep % 2 == 0 else (b, a)
                got = {}
                for n in order:
                    got[n] = attempt(n, rep)
                    if got[n] is not None:
                        record["clients"][n].append(got[n])
                if got[a] is not None and got[b] is not None:
                    ratios[(a, b)].append(got[b]["wall_s"] / got[a]["wall_s"])
        for (a, b), values in ratios.items():
            record["pairs"].append({"base": a, "other": b, "ratios": values})
        self.results.append(record)
        print_record(record, self.clients)
        return record


# --------------------------------------------------------------------------
# Figures

def summary(runs, size):
    walls = [r["wall_s"] for r in runs]
    cpus = [r["cpu_s"] for r in runs]
    rss = [r["rss_kib"] for r in runs]
    wall = statistics.median(walls)
    return {
        "runs": len(runs),
        "wall_median_s": wall, "wall_min_s": min(walls),
        "wall_max_s": max(walls),
        "mib_s_median": size / MIB / wall if size else None,
        "cpu_median_s": statistics.median(cpus), "cpu_min_s": min(cpus),
        "cpu_max_s": max(cpus),
        "rss_median_kib": statistics.median(rss), "rss_max_kib": max(rss),
    }


def ratio_summary(values):
    if not values:
        return {"median": None, "min": None, "max": None, "n": 0}
    return {"median": statistics.median(values), "min": min(values),
            "max": max(values), "n": len(values)}


def finish_record(record):
    record["summary"] = {n: summary(runs, record["bytes"])
                         for n, runs in record["clients"].items() if runs}
    for name, s in record["summary"].items():
        s["failed_runs"] = sum(1 for f in record.get("failures", [])
                               if f["client"] == name)
    for pair in record["pairs"]:
        pair.update(ratio_summary(pair["ratios"]))


def print_record(record, clients):
    finish_record(record)
    header = ("    %-18s %4s %22s %9s %16s %9s  %s"
              % ("client", "runs", "wall s med [min-max]", "MiB/s",
                 "CPU s med [max]", "RSS KiB", "ratio other/base med [min-max]"))
    print(header)
    for name, s in record["summary"].items():
        ratio = ""
        for pair in record["pairs"]:
            if pair["other"] == name:
                ratio = "%5.2f [%4.2f-%4.2f] vs %s" % (
                    pair["median"], pair["min"], pair["max"],
                    clients[pair["base"]].label)
        mibs = ("%9.1f" % s["mib_s_median"] if record["bytes"] >= MIB
                else "%9s" % "-")
        print("    %-18s %4d %8.3f [%5.3f-%5.3f] %s %7.3f [%6.3f] %9d  %s"
              % (clients[name].label, s["runs"], s["wall_median_s"],
                 s["wall_min_s"], s["wall_max_s"], mibs, s["cpu_median_s"],
                 s["cpu_max_s"], s["rss_median_kib"], ratio))
    for name in record["clients"]:
        if name not in record["summary"]:
            print("    %-18s %4d  no complete run" % (clients[name].label, 0))
    failures = record.get("failures", [])
    for name in record["clients"]:
        mine = [f for f in failures if f["client"] == name]
        if mine:
            replies = sorted({f["server_reply"] or "exit status %d"
                              % f["exit_status"] for f in mine})
            print("    %s: %d of %d runs failed (warm-up included): %s"
                  % (clients[name].label, len(mine), record["reps"] + 1,
                     "; ".join(replies)))
    for name in record["clients"]:
        tls = [r["tls"] for r in [record["warmup"].get(name)]
               + record["clients"][name] if r and "tls" in r]
        if tls:
            print("    TLS, %s: %s" % (clients[name].label,
                                       compare_tls.describe(tls[0])))
    sys.stdout.flush()


def command_line(args):
    try:
        return subprocess.run(args, capture_output=True, text=True,
                              timeout=10, stdin=subprocess.DEVNULL).stdout
    except (OSError, subprocess.SubprocessError):
        return ""


def package_version(name):
    out = command_line(["dpkg-query", "-W", "-f=${Version}", name])
    return out.strip() or "not installed"


def machine(build):
    info = {}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    info["cpu"] = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    info["cores"] = os.cpu_count()
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    info["memory_mib"] = int(line.split()[1]) // 1024
    except OSError:
        pass
    info["kernel"] = platform.release()
    try:
        with open("/etc/debian_version") as f:
            info["debian"] = f.read().strip()
    except OSError:
        info["debian"] = "unknown"
    for name in ("vsftpd", "curl", "lftp", "ncftp", "libssl3", "libgnutls30"):
        info[name] = package_version(name)
    compiler = ""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_CXX_COMPILER:"):
                    compiler = line.split("=", 1)[1].strip()
                elif line.startswith("CMAKE_BUILD_TYPE:"):
                    info["build_type"] = line.split("=", 1)[1].strip()
    except OSError:
        pass
    if compiler:
        lines = command_line([compiler, "--version"]).splitlines()
        info["compiler"] = lines[0] if lines else compiler
    here = os.path.dirname(os.path.abspath(__file__))
    commit = command_line(["git", "-C", here, "rev-parse", "--short",
                               "HEAD"]).strip()
    dirty = command_line(["git", "-C", here, "status", "--porcelain",
                              "--untracked-files=no"]).strip()
    info["commit"] = commit + (" (with local changes)" if dirty else "")
    return info


# --------------------------------------------------------------------------
# Targets

def target(bench, case, name, figure, limit, passed):
    bench.targets.append({"case": case, "target": name, "figure": figure,
                          "limit": limit, "pass": bool(passed)})
    print("  %s  case %d: %s: %s (limit %s)"
          % ("PASS" if passed else "FAIL", case, name, figure, limit))


def pair_of(record, base, other):
    for pair in record["pairs"]:
        if pair["base"] == base and pair["other"] == other:
            return pair
    return None


def check_speed(bench, case, record, ours=OURS, peers=PEERS):
    """The fastest peer by median wall time, among the peers with complete
    runs, against ours: the median of the paired ratios."""
    s = record["summary"]
    done = [p for p in peers if p in s]
    name = "%s: fastest peer (%%s) / ours, paired median" % record["op"]
    if ours not in s or not done:
        target(bench, case, name % "none", "no complete run to compare",
               ">= 1.000", False)
        return None
    fastest = min(done, key=lambda p: s[p]["wall_median_s"])
    label = bench.clients[fastest].label
    missing = [bench.clients[p].label for p in peers if p not in s]
    if missing:
        label += "; no complete run of " + ", ".join(missing)
    ratio = pair_of(record, ours, fastest)["median"]
    target(bench, case, name % label, "%.3f" % ratio, ">= 1.000",
           ratio >= 1.0)
    return fastest


def check_cpu(bench, case, record, ours, curl, limit):
    """Our median CPU time against curl's, at most `limit` times it."""
    s = record["summary"]
    name = "%s: our CPU / curl's CPU, medians" % record["op"]
    if ours not in s or curl not in s:
        target(bench, case, name, "no complete run of %s" % " or ".join(
            bench.clients[n].label for n in (ours, curl) if n not in s),
               "<= %.2f" % limit, False)
        return
    a, b = s[ours]["cpu_median_s"], s[curl]["cpu_median_s"]
    target(bench, case, name, "%.3f s / %.3f s = %.2f" % (a, b, a / b),
           "<= %.2f" % limit, a <= limit * b)


# --------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(
        description="Compare zorvexrun with curl, lftp and ncftp on loopback.")
    parser.add_argument("--build", default="build-bench",
                        help="the build folder with app/zorvexrun and "
                             "bench/list_bench (default build-bench)")
    parser.add_argument("--out", help="folder for the JSON and CSV results "
                                      "(default BUILD/results)")
    parser.add_argument("--cases", default=",".join(map(str, CASES)),
                        help="comma-separated case numbers (default all)")
    parser.add_argument("--reps", type=int,
                        help="repetitions for every case (default 7 for the "
                             "large files, 20 for small files, 15 for the "
                             "listing)")
    parser.add_argument("--source", choices=("tmpfs", "ext4"),
                        default="tmpfs",
                        help="where the files uploaded are read from: tmpfs "
                             "(/dev/shm, the default) or a folder in the "
                             "build folder on the disk, from the page cache")
    parser.add_argument("--server-ascii", action="store_true",
                        help="let vsftpd convert line ends in ASCII mode too "
                             "(off in its stock configuration)")
    parser.add_argument("--quick", action="store_true",
                        help="sizes 16 times smaller and fewer repetitions, "
                             "for a fast check that everything runs")
    args = parser.parse_args()
    try:
        cases = sorted({int(c) for c in args.cases.split(",") if c.strip()})
    except ValueError:
        parser.error("--cases takes numbers 1 to %d" % CASES[-1])
    if not cases or any(c not in CASES for c in cases):
        parser.error("--cases takes numbers 1 to %d" % CASES[-1])
    if args.reps is not None and args.reps < 1:
        parser.error("--reps must be at least 1")
    if os.geteuid() != 0:
        sys.exit("compare.py must run as root: vsftpd logs its account in "
                 "within a mount namespace of its own")
    for tool in ("unshare", "curl", "lftp", "ncftpput", "ncftpget", "openssl"):
        if shutil.which(tool) is None:
            sys.exit("compare.py needs %s (bash scripts/bench.sh installs it)"
                     % tool)
    if not os.access(VSFTPD, os.X_OK):
        sys.exit("compare.py needs %s" % VSFTPD)

    signal.signal(signal.SIGTERM, on_terminate)
    become_subreaper()
    signal.signal(signal.SIGHUP, on_terminate)
    try:
        return run_all(args, cases)
    except BenchError as e:
        print("compare.py: %s" % mask(str(e)), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("compare.py: interrupted", file=sys.stderr)
        return 130
    finally:
        CLEANUP.run()


def run_all(args, cases):
    shrink = 16 if args.quick else 1
    big = 1024 * MIB // shrink
    text = 256 * MIB // shrink
    entries = 100000 // shrink
    reps_large = args.reps or (2 if args.quick else 7)
    reps_small = args.reps or (5 if args.quick else 20)
    # The server's own listing time varies by a tenth from run to run: more
    # pairs for a steady median.
    reps_list = args.reps or (2 if args.quick else 15)

    bench = Bench(args)
    bench.entries = entries
    info = machine(bench.build)
    info["ASCII"] = ("vsftpd converts line ends too" if args.server_ascii
                     else "vsftpd's stock setting: no server-side conversion")
    print("Machine")
    for key, value in info.items():
        print("  %-11s %s" % (key, value))

    src = os.path.join(bench.source_top, "src")
    files = {}
    started = time.perf_counter()

    def add(name, size, is_text=False):
        f = Files(bench, name, size, is_text)
        (make_text if is_text else make_binary)(f.src, size)
        if is_text:
            with open(f.src, "rb") as text_file:
                while True:
                    chunk = text_file.read(16 * MIB)
                    if not chunk:
                        break
                    f.lines += chunk.count(b"\n")
        if bench.source_top == bench.top:
            os.link(f.src, os.path.join(bench.server.root, name))
        else:
            shutil.copyfile(f.src, os.path.join(bench.server.root, name))
            warm_page_cache(f.src)
        os.link(f.src, f.up_local)
        files[name] = f
        return f

    if 1 in cases or 4 in cases or 6 in cases:
        add("big.bin", big)
    if 2 in cases:
        add("text.txt", text, is_text=True)
    if 3 in cases:
        add("small.bin", 1024)
    if 4 in cases:
        add("mid.bin", MIB)
    if 5 in cases:
        make_folder(os.path.join(bench.server.root, "big"), entries)
    print("Data under %s (%s) made in %.1f s"
          % (src, file_system(src), time.perf_counter() - started))

    bench.server.start()
    print("vsftpd on %s:%d, root %s" % (HOST, bench.server.port,
                                        bench.server.root))
    if 6 in cases:
        bench.add_tls_server()
        bench.tls_server.start()
        print("vsftpd requiring explicit TLS on %s:%d, same root, stock "
              "protocol versions and ciphers" % (HOST, bench.tls_server.port))
    bench.setup_clients()
    print("Commands (one process per transfer):")

    peer_pairs = [(OURS, p) for p in PEERS]
    by_case = {}
    if 1 in cases:
        f = files["big.bin"]
        print("\nCase 1: %d MiB binary file, every client" % (f.size // MIB))
        for op in ("put", "get"):
            rec = bench.paired(1, op, f, peer_pairs, reps_large,
                               title="%s %d MiB binary" % (op, f.size // MIB))
            by_case[(1, op)] = rec
    if 2 in cases:
        f = files["text.txt"]
        print("\nCase 2: %d MiB text file (LF), ASCII against binary"
              % (f.size // MIB))
        for op in ("put", "get"):
            by_case[(2, op)] = bench.paired(
                2, op, f, [(OURS, "ours_ascii"), ("ours_ascii", "curl_ascii")],
                reps_large, title="%s %d MiB text" % (op, f.size // MIB))
    if 3 in cases:
        f = files["small.bin"]
        print("\nCase 3: 1 KiB file, whole process, commands sent")
        for op in ("put", "get"):
            by_case[(3, op)] = bench.paired(3, op, f, peer_pairs, reps_small,
                                            count=True,
                                            title="%s 1 KiB" % op)
    if 4 in cases:
        print("\nCase 4: peak resident memory, zorvexrun and curl")
        for name in ("mid.bin", "big.bin"):
            f = files[name]
            for op in ("put", "get"):
                if name == "big.bin" and (1, op) in by_case:
                    by_case[(4, op, name)] = by_case[(1, op)]
                    print("  %s %d MiB: taken from case 1" % (op, f.size // MIB))
                    continue
                reps = reps_small if f.size <= MIB else reps_large
                by_case[(4, op, name)] = bench.paired(
                    4, op, f, [(OURS, "curl")], reps,
                    title="%s %d MiB" % (op, f.size // MIB))
    if 5 in cases:
        print("\nCase 5: listing a folder of %d entries" % entries)
        listing = os.path.join(bench.top, "run", "listing")
        by_case[5] = bench.paired(5, "list", None,
                                  [("list_bench", "curl_list")], reps_list,
                                  list_out=listing,
                                  title="list %d entries" % entries)
    if 6 in cases:
        f = files["big.bin"]
        print("\nCase 6: %d MiB binary file over explicit TLS, zorvexrun, "
              "curl and lftp" % (f.size // MIB))
        for op in ("put", "get"):
            rec = bench.paired(
                6, op, f, [(OURS_TLS, p) for p in PEERS_TLS], reps_large,
                title="%s %d MiB binary, TLS" % (op, f.size // MIB),
                may_fail=PEERS_TLS)
            by_case[(6, op)] = rec
            if any(x["server_reply"].startswith("426")
                   for x in rec["failures"]) and op == "put":
                print("    Note: %s." % compare_tls.CUT_UPLOAD_NOTE)

    print("\nTargets")
    if 1 in cases:
        for op in ("put", "get"):
            rec = by_case[(1, op)]
            check_speed(bench, 1, rec)
            # An upload to a server on this machine goes through a buffer
            # on purpose: the server takes that faster than the file's pages
            # from sendfile. Its CPU is held to curl's, not to half of it.
            check_cpu(bench, 1, rec, OURS, "curl", 1.0 if op == "put" else 0.5)
    if 2 in cases:
        for op in ("put", "get"):
            r = pair_of(by_case[(2, op)], OURS, "ours_ascii")["median"]
            target(bench, 2, "%s: ours ASCII / ours binary, paired median"
                   % op, "%.3f" % r, "<= 1.500", r <= 1.5)
    if 3 in cases:
        for op in ("put", "get"):
            rec = by_case[(3, op)]
            counts = {}
            print("  commands, %s 1 KiB:" % op)
            for name in (OURS,) + PEERS:
                seen = [tuple(r["commands"]) for r in rec["clients"][name]]
                seen.append(tuple(rec["warmup"][name]["commands"]))
                counts[name] = max(len(c) for c in seen)
                verbs = max(seen, key=len)
                varies = "" if len(set(seen)) == 1 else " (varies between runs)"
                print("    %-18s %2d  %s%s" % (bench.clients[name].label,
                                               counts[name], " ".join(verbs),
                                               varies))
            rec["commands"] = {n: {"count": counts[n],
                                   "verbs": list(max(
                                       [tuple(r["commands"]) for r in
                                        rec["clients"][n]], key=len))}
                               for n in counts}
            fewest = min(counts[p] for p in PEERS)
            target(bench, 3, "%s: our commands < every peer's" % op,
                   "%d vs %s" % (counts[OURS], ", ".join(
                       "%s %d" % (p, counts[p]) for p in PEERS)),
                   "< %d" % fewest, counts[OURS] < fewest)
            check_speed(bench, 3, rec)
    if 4 in cases:
        for op in ("put", "get"):
            for name in ("mid.bin", "big.bin"):
                s = by_case[(4, op, name)]["summary"]
                ours, curl = s[OURS]["rss_max_kib"], s["curl"]["rss_max_kib"]
                target(bench, 4, "%s %d MiB: our peak RSS / curl's"
                       % (op, files[name].size // MIB),
                       "%d KiB / %d KiB = %.2f" % (ours, curl, ours / curl),
                       "<= 0.50", ours <= 0.5 * curl)
            small = by_case[(4, op, "mid.bin")]["summary"][OURS]["rss_max_kib"]
            large = by_case[(4, op, "big.bin")]["summary"][OURS]["rss_max_kib"]
            target(bench, 4, "%s: our peak RSS, %d MiB / 1 MiB"
                   % (op, files["big.bin"].size // MIB),
                   "%d KiB / %d KiB = %.3f" % (large, small, large / small),
                   "<= 1.10", large <= 1.1 * small)
    if 5 in cases:
        r = pair_of(by_case[5], "list_bench", "curl_list")["median"]
        target(bench, 5, "curl / ours, paired median", "%.3f" % r,
               ">= %.3f (ours <= 1.1 x curl)" % (1 / 1.1), r >= 1 / 1.1)
    if 6 in cases:
        for op in ("put", "get"):
            rec = by_case[(6, op)]
            check_speed(bench, 6, rec, OURS_TLS, PEERS_TLS)
            check_cpu(bench, 6, rec, OURS_TLS, "curl_tls", 1.0)

    write_results(bench, args, info, cases)
    failed = [t for t in bench.targets if not t["pass"]]
    print("\n%d of %d targets met" % (len(bench.targets) - len(failed),
                                      len(bench.targets)))
    return 0


def write_results(bench, args, info, cases):
    out = os.path.abspath(args.out or os.path.join(bench.build, "results"))
    os.makedirs(out, exist_ok=True)
    document = {
        "machine": info,
        "settings": {"cases": cases, "quick": args.quick, "reps": args.reps,
                     "server": "vsftpd on 127.0.0.1, root on tmpfs (/dev/shm)",
                     "source": args.source},
        "results": bench.results,
        "targets": bench.targets,
        # Every failed run of a peer, also kept in its case's record.
        "failed_runs": [dict(f, case=rec["case"], op=rec["op"])
                        for rec in bench.results
                        for f in rec.get("failures", [])],
    }
    if bench.tls_server:
        document["settings"]["tls_server"] = (
            "a second vsftpd on the same root requiring explicit TLS for "
            "logins and data (require_ssl_reuse=YES), stock versions and "
            "ciphers, certificate ECDSA P-256 from a test authority")
    with open(os.path.join(out, "compare.json"), "w") as f:
        json.dump(document, f, indent=1)
    fields = ["case", "op", "title", "client", "runs", "failed_runs",
              "wall_median_s",
              "wall_min_s", "wall_max_s", "mib_s_median", "cpu_median_s",
              "cpu_min_s", "cpu_max_s", "rss_median_kib", "rss_max_kib",
              "ratio_base", "ratio_median", "ratio_min", "ratio_max",
              "commands", "verbs"]
    with open(os.path.join(out, "compare.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields)
        w.writeheader()
        for rec in bench.results:
            for name in rec["clients"]:
                # A client without a complete run keeps a row: runs 0.
                s = rec["summary"].get(name, {"runs": 0, "failed_runs": sum(
                    1 for x in rec["failures"] if x["client"] == name)})
                row = {"case": rec["case"], "op": rec["op"],
                       "title": rec["title"],
                       "client": bench.clients[name].label}
                row.update({k: s[k] for k in fields if k in s})
                for pair in rec["pairs"]:
                    if pair["other"] == name:
                        row.update({
                            "ratio_base": bench.clients[pair["base"]].label,
                            "ratio_median": pair["median"],
                            "ratio_min": pair["min"],
                            "ratio_max": pair["max"]})
                cmds = rec.get("commands", {}).get(name)
                if cmds:
                    row["commands"] = cmds["count"]
                    row["verbs"] = " ".join(cmds["verbs"])
                w.writerow({k: round(v, 6) if isinstance(v, float) else v
                            for k, v in row.items()})
    with open(os.path.join(out, "targets.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=["case", "target", "figure", "limit",
                                          "pass"])
        w.writeheader()
        for t in bench.targets:
            w.writerow(t)
    print("\nResults: %s/compare.json, compare.csv, targets.csv" % out)


if __name__ == "__main__":
    sys.exit(main())
