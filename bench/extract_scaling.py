#!/usr/bin/env python3
"""How the package tool's extraction time grows with the member count.

  extract_scaling.py IPKTOOL [largest count, default 160000]

Packages of N empty members (built with tests/tools/ipk5_peer.py, N doubling) are
extracted twice: once in full, and once with a last member that clashes with the first
(a file where a folder is needed), which runs every check over all members and then
writes nothing. Seconds per thousand members should stay level as N grows; a check that
looked each member up in the table would double it at every step.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
import ipk5_peer as peer  # noqa: E402


def timed(args):
    start = time.monotonic()
    r = subprocess.run(args, capture_output=True)
    return time.monotonic() - start, r.returncode


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    tool = os.path.abspath(sys.argv[1])
    largest = int(sys.argv[2]) if len(sys.argv) > 2 else 160000
    print("%9s %12s %10s %14s %10s" % ("members", "extract s", "s/1000", "checks only s", "s/1000"))
    with tempfile.TemporaryDirectory() as tmp:
        n = 10000
        while n <= largest:
            members = [("d%03d\\f%07d.dat" % (i % 500, i), b"") for i in range(n)]
            pkg = os.path.join(tmp, "p.ipk")
            with open(pkg, "wb") as f:
                f.write(peer.write_package(members))
            full, code = timed([tool, "extract", pkg, os.path.join(tmp, "out%d" % n)])
            assert code == 0, code
            with open(pkg, "wb") as f:
                f.write(peer.write_package(members + [("D000\\F0000000.DAT\\x", b"")]))
            checks, code = timed([tool, "extract", pkg, os.path.join(tmp, "refused")])
            assert code == 4, code
            print("%9d %12.2f %10.3f %14.2f %10.3f" % (n, full, full * 1000 / n, checks, checks * 1000 / n))
            sys.stdout.flush()
            n *= 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
