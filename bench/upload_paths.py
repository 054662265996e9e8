#!/usr/bin/python3
"""How the path a file's bytes take to the socket changes a loopback upload.

    /usr/bin/python3 bench/upload_paths.py --build build-bench [--reps N]
        [--size-mib N] [--paths "copy 65536,sendfile-lowat,..."]

Against a vsftpd of its own on 127.0.0.1 (bench/compare.py's, root under
/dev/shm), bench/upload_paths uploads one file from /dev/shm by each path
named (see upload_paths.cpp), in alternating order with curl, every run
writing a fresh file (the previous one deleted before the clock starts).
Prints each path's median wall time, its ratio to the first path's median,
and the median of the paired ratios curl / path (above 1: faster than curl).
Needs root (vsftpd's account lives in a mount namespace of its own), vsftpd
and curl.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (its vsftpd, file makers and cleanup)

MIB = 1 << 20
DEFAULT_PATHS = ("copy 65536,sendfile-lowat,copy 32768,copy 131072,"
                 "sendfile 65536,mmap 65536")


def timed(argv, env):
    start = time.monotonic()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, env=env)
    elapsed = time.monotonic() - start
    if proc.returncode != 0:
        raise compare.BenchError("%s failed: %s" % (
            os.path.basename(argv[0]),
            compare.mask(proc.stderr.decode("utf-8", "replace"))[-500:]))
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--reps", type=int, default=11)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--paths", default=DEFAULT_PATHS)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("upload_paths.py must run as root (vsftpd's account)")
    exe = os.path.join(args.build, "bench", "upload_paths")
    if not os.access(exe, os.X_OK):
        sys.exit("not built: " + exe)
    paths = [p.strip() for p in args.paths.split(",") if p.strip()]

    top = tempfile.mkdtemp(prefix="zvx-paths-", dir="/dev/shm")
    compare.CLEANUP.folders.append(top)
    server, password_file, netrc, env = compare.standalone_server(top)
    local = os.path.join(top, "up.bin")
    compare.make_binary(local, args.size_mib * MIB)
    stored = os.path.join(server.root, "up.bin")

    def run(name):
        if os.path.exists(stored):
            os.remove(stored)
        server.settle()
        if name == "curl":
            return timed(["curl", "-sS", "--netrc-file", netrc, "-T", local,
                          "ftp://%s:%d/up.bin" % (compare.HOST, server.port)],
                         env)
        return timed([exe, str(server.port), compare.USER, password_file,
                      local, "/up.bin"] + name.split(), env)

    print("vsftpd %s, curl %s, %d MiB from /dev/shm, %d pairs" % (
        compare.package_version("vsftpd"), compare.package_version("curl"),
        args.size_mib, args.reps))
    names = paths + ["curl"]
    times = {n: [] for n in names}
    for rep in range(args.reps):
        for name in names if rep % 2 == 0 else names[::-1]:
            times[name].append(run(name))
    first = statistics.median(times[paths[0]])
    for name in names:
        med = statistics.median(times[name])
        line = "%-16s wall %.3f s [%.3f-%.3f]  / %s %.2f" % (
            name, med, min(times[name]), max(times[name]), paths[0],
            med / first)
        if name != "curl":
            pairs = [c / t for c, t in zip(times["curl"], times[name])]
            line += "  curl / it, paired median %.3f" % statistics.median(pairs)
        print(line)
    compare.CLEANUP.run()


if __name__ == "__main__":
    try:
        main()
    except compare.BenchError as e:
        compare.CLEANUP.run()
        sys.exit(str(e))
