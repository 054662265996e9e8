#!/usr/bin/python3
"""What the transfer guards cost, and a cut download resumed, on loopback.

    /usr/bin/python3 bench/resume_bench.py --build build-bench [--reps N]
        [--size-mib N]

Against a vsftpd of its own on 127.0.0.1 (bench/compare.py's, root under
/dev/shm), with bench/guard_bench as our client, one process a transfer:
  1. a binary upload with the stored size checked and without: the commands
     the server saw and the wall time;
  2. a binary download whose data connection is cut halfway: ours in one
     run (--retries 1: the cut, the 1 s wait, REST and the rest), against
     curl fetching the first half with --range and then resuming with
     "-C -", and lftp resuming the same half file with "reget". The final
     file is compared with the server's every time.
Prints the median of each figure. Needs root (vsftpd's account lives in a
mount namespace of its own), vsftpd, curl and lftp.
"""

import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (its vsftpd, file makers and cleanup)

MIB = 1 << 20


def timed(argv, env=None):
    start = time.monotonic()
    proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=env)
    elapsed = time.monotonic() - start
    if proc.returncode != 0:
        raise compare.BenchError("%s failed: %s" % (
            os.path.basename(argv[0]),
            compare.mask(proc.stderr.decode("utf-8", "replace"))[-500:]))
    return elapsed, proc.stderr.decode("utf-8", "replace")


def rest_offsets(server, position):
    offsets = []
    for line in server.log_since(position).splitlines():
        if 'FTP command:' in line and '"REST ' in line:
            offsets.append(line.split('"REST ')[1].split('"')[0])
    return offsets


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--size-mib", type=int, default=1024)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("resume_bench.py must run as root (vsftpd's account)")
    exe = os.path.join(args.build, "bench", "guard_bench")
    if not os.access(exe, os.X_OK):
        sys.exit("not built: " + exe)
    size = args.size_mib * MIB
    half = size // 2

    top = tempfile.mkdtemp(prefix="zvx-resume-", dir="/dev/shm")
    compare.CLEANUP.folders.append(top)
    server, password_file, netrc, env = compare.standalone_server(top)
    secret = os.path.dirname(password_file)

    local = os.path.join(top, "local")
    os.makedirs(local)
    up = os.path.join(local, "up.bin")
    compare.make_binary(up, size)
    remote_file = os.path.join(server.root, "r.bin")
    compare.make_binary(remote_file, size)
    ours = [exe, "put", compare.HOST, str(server.port), compare.USER,
            password_file]
    url = "ftp://%s:%d/r.bin" % (compare.HOST, server.port)

    print("vsftpd %s, %d MiB, %d repetitions, medians" % (
        compare.package_version("vsftpd"), args.size_mib, args.reps))

    # 1. Upload, checked and not, in turns so that neither gains from the
    # order.
    uploads = {"verified": ([], []), "unverified": (["--no-verify"], [])}
    commands = {}
    for _ in range(args.reps):
        for label, (extra, times) in uploads.items():
            server.settle()
            position = server.log_size()
            elapsed, _ = timed(ours + [up, "up.bin"] + extra, env)
            server.settle()
            commands[label] = server.commands_since(position)
            times.append(elapsed)
            if not filecmp.cmp(up, os.path.join(server.root, "up.bin"),
                               shallow=False):
                raise compare.BenchError("the uploaded file differs")
    for label, (_, times) in uploads.items():
        print("upload %-10s %6.2f s  %2d commands: %s" % (
            label, statistics.median(times), len(commands[label]),
            " ".join(commands[label])))

    # 2. A download cut halfway, then resumed.
    out = os.path.join(local, "r.bin")
    results = {"ours (cut, 1 s wait, REST)": [], "curl --range + -C -": [],
               "curl --range + lftp reget": []}
    rests = []
    for _ in range(args.reps):
        for name in results:
            if os.path.exists(out):
                os.remove(out)
            server.settle()
            position = server.log_size()
            if name.startswith("ours"):
                elapsed, _ = timed([exe, "get", compare.HOST, str(server.port),
                                    compare.USER, password_file, out, "r.bin",
                                    "--retries", "1", "--cut-at", str(half)],
                                   env)
            else:
                first, _ = timed(["curl", "-sS", "--netrc-file", netrc,
                                  "--range", "0-%d" % (half - 1), "-o", out,
                                  url], env)
                if name.startswith("curl --range + -C"):
                    second, _ = timed(["curl", "-sS", "--netrc-file", netrc,
                                       "-C", "-", "-o", out, url], env)
                else:
                    script = os.path.join(secret, "lftp")
                    compare.write_secret(script, (
                        "set ftp:passive-mode on\nset net:max-retries 1\n"
                        "open -u %s,%s ftp://%s:%d\nreget r.bin -o %s\n") % (
                            compare.USER, compare.PASSWORD, compare.HOST,
                            server.port, out))
                    second, _ = timed(["lftp", "-f", script], env)
                elapsed = first + second
            server.settle()
            rests.append((name, rest_offsets(server, position)))
            if not filecmp.cmp(out, remote_file, shallow=False):
                raise compare.BenchError(name + ": the downloaded file differs")
            results[name].append(elapsed)
    for name, times in results.items():
        print("download %-28s %6.2f s" % (name, statistics.median(times)))
    print("REST offsets the server saw:",
          sorted({(n, tuple(r)) for n, r in rests}))
    compare.CLEANUP.run()


if __name__ == "__main__":
    try:
        main()
    except compare.BenchError as e:
        compare.CLEANUP.run()
        sys.exit(str(e))
