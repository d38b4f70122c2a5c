#!/usr/bin/env python3
"""End-to-end tests of the package tool, and of its packages against ipk5_peer.py.

  test_ipktool.py --tool PATH [unittest arguments]
"""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ipk5_peer as peer  # noqa: E402

TOOL = None

EXIT_FAILURE, EXIT_USAGE, EXIT_NOT_FOUND, EXIT_REFUSED = 1, 2, 3, 4


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, timeout=120)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root):
    """Every file under root as {relative name with "\\": bytes}."""
    out = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root).replace(os.sep, "\\")] = read(path)
    return out


SAMPLE = {
    "Install.xml": b'<?xml version="1.0"?><Setup/>\r\n',
    "Lang\\English.lng": b"[File]\r\nName=English\r\n",
    "Lang\\\u0420\u0443\u0441\u0441\u043a\u0438\u0439.lng": "[File]\r\nName=\u0420\u0443\u0441\u0441\u043a\u0438\u0439\r\n".encode(),
    "empty.dat": b"",
    "Skins\\Dark\\wizard dark.png": bytes((i * 131 + i // 7) & 0xFF for i in range(70000)),
}


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.src = os.path.join(self.dir, "src")
        for name, data in SAMPLE.items():
            write(os.path.join(self.src, *name.split("\\")), data)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def build(self, *extra):
        pkg = self.path("out.ipk")
        r = run("build", pkg, self.src, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return pkg

    def test_build_list_verify_extract_cat(self):
        pkg = self.build()
        listed = run("list", pkg)
        self.assertEqual(listed.returncode, 0)
        lines = listed.stdout.decode().splitlines()
        self.assertEqual(lines, ["%s\t%d" % (n, len(SAMPLE[n])) for n in sorted(SAMPLE)])
        self.assertEqual(run("verify", pkg).returncode, 0)

        r = run("extract", pkg, self.path("out"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("out")), SAMPLE)

        r = run("extract", pkg, self.path("one"), "lang\\english.LNG")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("one")), {"Lang\\English.lng": SAMPLE["Lang\\English.lng"]})

        name = "Skins\\Dark\\wizard dark.png"
        self.assertEqual(run("cat", pkg, name.upper()).stdout, SAMPLE[name])
        self.assertEqual(run("cat", pkg, "empty.dat").stdout, b"")

    def test_the_same_folder_gives_the_same_package(self):
        first = read(self.build())
        second = read(self.build())
        self.assertEqual(first, second)

    def test_list_file_and_levels(self):
        write(self.path("names.txt"), b"\xef\xbb\xbfempty.dat\r\nLang/English.lng\r\n\r\nInstall.xml\r\n")
        pkg = self.build("--list", self.path("names.txt"), "--level", "0")
        self.assertEqual([n for n, _ in peer.members_of(read(pkg))], ["empty.dat", "Lang\\English.lng", "Install.xml"])
        for level in ("0", "9"):
            pkg = self.build("--level", level)
            self.assertEqual(dict(peer.members_of(read(pkg))), SAMPLE)

    def test_usage_errors(self):
        for args in ([], ["frobnicate"], ["build", self.path("x.ipk")], ["build", "a", self.src, "--level", "10"],
                     ["build", "a", self.src, "--level"], ["build", "a", self.src, "--fast"], ["list"],
                     ["cat", "a.ipk"], ["extract", "a.ipk"]):
            r = run(*args)
            self.assertEqual(r.returncode, EXIT_USAGE, args)
            self.assertIn(b"usage:", r.stderr)

    def test_missing_members_and_files(self):
        pkg = self.build()
        self.assertEqual(run("cat", pkg, "nothing").returncode, EXIT_NOT_FOUND)
        r = run("extract", pkg, self.path("out"), "Install.xml", "nothing")
        self.assertEqual(r.returncode, EXIT_NOT_FOUND)
        self.assertIn(b'no member named "nothing"', r.stderr)
        self.assertFalse(os.path.exists(self.path("out", "Install.xml")))
        r = run("verify", self.path("absent.ipk"))
        self.assertEqual(r.returncode, EXIT_FAILURE)
        self.assertIn(b"absent.ipk", r.stderr)

    def test_damaged_packages_do_not_verify(self):
        good = read(self.build())
        damaged = {
            "flipped": good[:200] + bytes([good[200] ^ 1]) + good[201:],
            "cut": good[:len(good) // 2],
            "magic": b"IPK4" + good[4:],
            "size": good[:8] + (len(good) * 100).to_bytes(4, "little") + good[12:],
        }
        for what, blob in damaged.items():
            write(self.path(what + ".ipk"), blob)
            r = run("verify", self.path(what + ".ipk"))
            self.assertEqual(r.returncode, EXIT_FAILURE, what)
            self.assertIn(b"Package was corrupted", r.stderr, what)
        write(self.path("short.ipk"), good[:7])
        r = run("verify", self.path("short.ipk"))
        self.assertEqual(r.returncode, EXIT_FAILURE)
        self.assertIn(b"Stream read error", r.stderr)

    def test_extract_refuses_names_that_leave_the_folder(self):
        for evil in ("..\\evil", "a\\..\\..\\evil", "/etc/evil", "\\evil", "C:\\evil", "C:evil",
                     "\\\\server\\share\\evil", "a\\...\\evil", "a\\\\b", "a\\", "..", "", "x\x01y"):
            pkg = self.path("evil.ipk")
            write(pkg, peer.write_package([("fine.txt", b"fine"), (evil, b"evil")]))
            self.assertEqual(run("verify", pkg).returncode, 0, repr(evil))
            out = self.path("x", "y")
            r = run("extract", pkg, out)
            self.assertEqual(r.returncode, EXIT_REFUSED, repr(evil))
            self.assertIn(b"refusing member", r.stderr)
            self.assertFalse(os.path.exists(self.path("x")), repr(evil))  # nothing at all was written
        # Named extraction of the harmless member still works.
        r = run("extract", pkg, self.path("ok"), "fine.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("ok")), {"fine.txt": b"fine"})

    def test_extract_writes_what_a_reader_serves_for_equal_names(self):
        pkg = self.path("dup.ipk")
        write(pkg, peer.write_package([("Same.txt", b"first"), ("SAME.TXT", b"second")]))
        self.assertEqual(run("extract", pkg, self.path("out")).returncode, 0)
        self.assertEqual(tree(self.path("out")), {"Same.txt": b"first"})
        self.assertEqual(run("cat", pkg, "same.txt").stdout, b"first")


class PeerTest(unittest.TestCase):
    """The tool against the independent implementation, in both directions."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def test_peer_checks_its_own_primitives(self):
        self.assertEqual(peer.crc32(b"123456789"), 0x89A1897F)
        self.assertEqual(peer.rc4(b"Key", b"Plaintext").hex().upper(), "BBF316E8D940AF0AD3")

    def test_tool_opens_peer_packages_with_end_marker(self):
        members = [(n, d) for n, d in SAMPLE.items()]
        cases = {
            "default": {},
            "other properties": {"dict_size": 1 << 16, "lc": 0, "lp": 2, "pb": 0},
            "big dictionary": {"dict_size": 1 << 26},
        }
        for what, props in cases.items():
            blob = peer.write_package(members, **props)
            for suffix, extra in (("", b""), ("+trailing", b"\0" * 100)):
                pkg = os.path.join(self.dir, "peer.ipk")
                write(pkg, blob + extra)
                r = run("verify", pkg)
                self.assertEqual(r.returncode, 0, what + suffix + ": " + r.stderr.decode())
                out = os.path.join(self.dir, "out-" + what + suffix)
                r = run("extract", pkg, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(tree(out), SAMPLE, what + suffix)
                listed = run("list", pkg).stdout.decode().splitlines()
                self.assertEqual([l.split("\t")[0] for l in listed], list(SAMPLE))

    def test_peer_reads_tool_packages(self):
        src = os.path.join(self.dir, "src")
        for name, data in SAMPLE.items():
            write(os.path.join(src, *name.split("\\")), data)
        for level, props in (("0", "5d00400000"), ("4", "5d00004000"), ("9", "5d00000004")):
            pkg = os.path.join(self.dir, "tool.ipk")
            r = run("build", pkg, src, "--level", level)
            self.assertEqual(r.returncode, 0, r.stderr)
            got_props, payload, entries = peer.read_package(read(pkg))
            self.assertEqual(got_props.hex(), props, "level " + level)
            self.assertEqual([e[0] for e in entries], sorted(SAMPLE))
            self.assertEqual(dict(peer.members_of(read(pkg))), SAMPLE)
            # Members are laid end to end in table order, no padding.
            offset = 0
            for _, member_offset, size in entries:
                self.assertEqual(member_offset, offset)
                offset += size

    def test_empty_packages_both_ways(self):
        empty = os.path.join(self.dir, "empty")
        os.makedirs(empty)
        pkg = os.path.join(self.dir, "e.ipk")
        self.assertEqual(run("build", pkg, empty).returncode, 0)
        self.assertEqual(peer.read_package(read(pkg))[1:], (b"\0\0\0\0\4\0\0\0", []))
        write(pkg, peer.write_package([]))
        r = run("list", pkg)
        self.assertEqual((r.returncode, r.stdout), (0, b""))


def main():
    global TOOL
    args = sys.argv[1:]
    if len(args) < 2 or args[0] != "--tool":
        sys.stderr.write(__doc__)
        return 2
    TOOL = os.path.abspath(args[1])
    return 0 if unittest.main(argv=[sys.argv[0], *args[2:]], exit=False).result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
