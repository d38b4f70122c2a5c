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


    def refused(self, members, reason, out=None):
        """Extracting a package of members exits 4 with reason and writes nothing."""
        pkg = self.path("refused.ipk")
        write(pkg, peer.write_package(members))
        out = out or self.path("x", "y")
        before = tree(self.dir)
        r = run("extract", pkg, out)
        self.assertEqual(r.returncode, EXIT_REFUSED, (members[-1][0], r.stderr))
        self.assertIn(b"refusing member", r.stderr)
        self.assertIn(reason.encode(), r.stderr, members[-1][0])
        self.assertEqual(tree(self.dir), before, members[-1][0])  # nothing written, anywhere
        self.assertFalse(os.path.exists(self.path("x")))

    def test_extract_refuses_names_windows_would_alias(self):
        cases = [
            ("nul.txt", "device name"), ("sub\\COM1.log", "device name"), ("CON", "device name"),
            ("aux", "device name"), ("LPT9.x", "device name"), ("COM\u00b9", "device name"),
            ("lpt\u00b3.txt", "device name"), ("Nul .txt", "device name"), ("conout$", "device name"),
            ("com0\\x", "device name"), ("a.", "ends in a dot or a space"), ("dir \\x", "ends in a dot or a space"),
            ("x\\y ", "ends in a dot or a space"), ("PROGRA~1\\x", "short name"), ("READM~12.TXT", "short name"),
            ("a*b", "not allow"), ("a?b", "not allow"), ("a<b", "not allow"), ("a|b", "not allow"),
            ('a"b', "not allow"), ("a\x7fb", "control character"),
        ]
        for name, reason in cases:
            # The harmless member first: refusal comes before anything is written.
            self.refused([("fine.txt", b"fine"), ("a", b"a"), (name, b"evil")], reason)
        # Names that only resemble those are fine.
        near = ["console.txt", "COM10", "LPT", "nul_", "a.b", "~1", "x~y.txt", "file~.txt", "LONGNAME~1.txt", " lead", "CON-1.txt"]
        pkg = self.path("near.ipk")
        write(pkg, peer.write_package([(n, n.encode()) for n in near]))
        r = run("extract", pkg, self.path("near"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("near")), {n: n.encode() for n in near})

    def test_extract_refuses_a_file_where_a_folder_is_needed(self):
        for members in ([("a", b"1"), ("a\\b", b"2")], [("a\\b", b"2"), ("a", b"1")],
                        [("A", b"1"), ("a\\b", b"2")], [("x\\Sub\\c", b"1"), ("x\\sub", b"2")],
                        [("d\\e", b"1"), ("D/E/f", b"2")]):
            self.refused([("fine.txt", b"fine")] + members, "needs a folder of that name")
        # What is already in the destination counts too.
        out = self.path("dest")
        write(os.path.join(out, "a"), b"old")
        os.makedirs(os.path.join(out, "folder"))
        for members, reason in (([("a\\b", b"x")], "is not a folder"), ([("folder", b"x")], "a folder of that name")):
            pkg = self.path("p.ipk")
            write(pkg, peer.write_package([("fine.txt", b"fine")] + members))
            r = run("extract", pkg, out)
            self.assertEqual(r.returncode, EXIT_REFUSED, r.stderr)
            self.assertIn(reason.encode(), r.stderr)
            self.assertEqual(tree(out), {"a": b"old"})

    @unittest.skipIf(os.name == "nt", "POSIX symlinks")
    def test_extract_never_writes_through_a_link_that_leaves_the_folder(self):
        out, outside = self.path("dest"), self.path("outside")
        os.makedirs(out)
        write(os.path.join(outside, "victim.txt"), b"keep")
        os.symlink(outside, os.path.join(out, "linked"))
        os.symlink(os.path.join(outside, "victim.txt"), os.path.join(out, "file.txt"))
        os.symlink(os.path.join(outside, "created.txt"), os.path.join(out, "dangling.txt"))
        os.symlink("..", os.path.join(out, "up"))
        for evil in ("linked\\new.txt", "linked\\victim.txt", "file.txt",
                     "dangling.txt", "up\\outside\\victim.txt", "linked\\deep\\new.txt"):
            pkg = self.path("p.ipk")
            write(pkg, peer.write_package([("fine.txt", b"fine"), (evil, b"evil")]))
            r = run("extract", pkg, out)
            self.assertEqual(r.returncode, EXIT_REFUSED, (evil, r.stderr))
            self.assertIn(b"leads out of the folder", r.stderr)
            self.assertEqual(tree(outside), {"victim.txt": b"keep"}, evil)
            self.assertFalse(os.path.exists(os.path.join(out, "fine.txt")), evil)
        # A link that stays inside the folder is written through; a destination reached
        # through a link is resolved as well.
        os.makedirs(os.path.join(out, "real"))
        os.symlink("real", os.path.join(out, "alias"))
        os.symlink(out, self.path("dest-link"))
        pkg = self.path("p.ipk")
        write(pkg, peer.write_package([("alias\\in.txt", b"in")]))
        for dest in (out, self.path("dest-link")):
            r = run("extract", pkg, dest)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(read(os.path.join(out, "real", "in.txt")), b"in")

    def test_build_refuses_names_extraction_would_refuse(self):
        write(os.path.join(self.src, "Sub", "nul.txt"), b"x")
        r = run("build", self.path("out.ipk"), self.src)
        self.assertEqual(r.returncode, EXIT_REFUSED, r.stderr)
        self.assertIn(b"device name", r.stderr)
        self.assertFalse(os.path.exists(self.path("out.ipk")))

    def test_many_members_cost_linear_work(self):
        # Bounded by the run's timeout, not timed: the checks before writing used to look
        # every member up in the table, 19 s for 40,000 members and so about 8 minutes for
        # the 200,000 here; linear checks take a few seconds. The last member clashes with
        # the first, so every check runs over all of them and nothing is written.
        count = 200000
        members = [("d%03d\\f%06d.dat" % (i % 500, i), b"") for i in range(count)]
        members.append(("D000\\F000000.DAT\\under", b""))
        self.refused(members, "needs a folder of that name")
        # And the writing path over many members, with case duplicates: the first wins.
        members = []
        for i in range(6000):
            name = "d%02d\\f%05d.dat" % (i // 2 % 60, i // 2)
            members.append((name if i % 2 == 0 else name.upper(), b"%d" % i))
        pkg = self.path("many.ipk")
        write(pkg, peer.write_package(members))
        r = run("extract", pkg, self.path("many"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("many")), {n: d for n, d in members[::2]})


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


SCRIPT = """<?xml version="1.0" encoding="utf-8"?>
<installer>
  <setup><license><File name="License_EN.rtf"/></license></setup>
  <product>
    <Settings>
      <Setting name="ProductName" value="Acme"/>
      <Setting name="ProductVersion" value="1.0"/>
      <Setting name="ProductVersionId" value="1000"/>
    </Settings>
%s
  </product>
</installer>
"""


class VendorTest(unittest.TestCase):
    """The commands that make a vendor's own setup: components and check."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.product = os.path.join(self.tmp.name, "product")
        self.setup = os.path.join(self.tmp.name, "setup")
        for name in ("App.exe", "docs\\Guide_EN.txt", "docs\\Guide_de.txt", "Tom & Jerry.txt",
                     "Langs\\English.lng", "Readme_FR.txt"):
            write(os.path.join(self.product, *name.split("\\")), name.encode())
        write(os.path.join(self.setup, "English.lng"), b"[Common]\r\n")
        write(os.path.join(self.setup, "License_EN.rtf"), b"{\\rtf1}")

    def components(self, *options):
        r = run("components", self.product, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode()

    def write_script(self, components):
        write(os.path.join(self.setup, "Install.xml"), (SCRIPT % components).encode())

    def test_components_name_every_file_with_its_family(self):
        text = self.components("--families", "EN,DE")
        lines = [l.strip() for l in text.splitlines()]
        self.assertEqual(lines[0], "<Components>")
        self.assertEqual(lines[-1], "</Components>")
        self.assertIn('<File name="$DEST\\App.exe">App.exe</File>', lines)
        self.assertIn('<File name="$DEST\\docs\\Guide.txt" lang-family="EN">docs\\Guide_EN.txt</File>', lines)
        # Families match in any case and keep the spelling the vendor gave.
        self.assertIn('<File name="$DEST\\docs\\Guide.txt" lang-family="DE">docs\\Guide_de.txt</File>', lines)
        # Not a listed family: installed under its own name for every language.
        self.assertIn('<File name="$DEST\\Readme_FR.txt">Readme_FR.txt</File>', lines)
        self.assertIn('<File name="$DEST\\Tom &amp; Jerry.txt">Tom &amp; Jerry.txt</File>', lines)
        self.assertEqual(len(lines), 2 + 6)
        # Without families every file keeps its name; another separator is a rule of its own.
        self.assertNotIn("lang-family", self.components())
        self.assertNotIn("lang-family", self.components("--families", "EN", "--separator", "-"))

    def test_components_refuse_two_files_for_one_target_and_language(self):
        write(os.path.join(self.product, "docs", "Guide.txt"), b"every language")
        r = run("components", self.product, "--families", "EN")
        self.assertEqual(r.returncode, EXIT_REFUSED)
        self.assertIn(b'would both install "docs\\Guide.txt"', r.stderr)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(run("components", self.product, "--separator", "").returncode, EXIT_USAGE)

    def test_the_generated_list_passes_the_check(self):
        self.write_script(self.components("--families", "EN,DE"))
        r = run("check", self.setup, self.product)
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_components_into_a_script_replace_only_its_list(self):
        script = os.path.join(self.setup, "Install.xml")
        before = (SCRIPT % "    <Components>\n      <File name=\"$DEST\\Old.exe\"/>\n    </Components>").replace("\n", "\r\n")
        write(script, before.encode())
        r = run("components", self.product, "--families", "EN,DE", "--into", script)
        self.assertEqual(r.returncode, 0, r.stderr)
        after = read(script).decode()
        self.assertNotIn("Old.exe", after)
        self.assertIn('<File name="$DEST\\docs\\Guide.txt" lang-family="EN">docs\\Guide_EN.txt</File>\r\n', after)
        # Everything around the list stays as it was, line ends included.
        head, tail = before.split("    <Components>")[0], before.split("</Components>\r\n")[1]
        self.assertTrue(after.startswith(head) and after.endswith(tail))
        self.assertNotIn("\n", after.replace("\r\n", ""))
        self.assertEqual(run("check", self.setup, self.product).returncode, 0)
        write(script, b"<installer/>")
        r = run("components", self.product, "--into", script)
        self.assertEqual((r.returncode, read(script)), (EXIT_FAILURE, b"<installer/>"))

    def test_check_names_what_the_setup_would_miss(self):
        self.write_script('<Components><File name="$DEST\\Gone.exe"/>'
                          '<File name="$DEST\\x.txt">docs\\GUIDE_EN.TXT</File></Components>')
        os.remove(os.path.join(self.setup, "English.lng"))
        r = run("check", self.setup, self.product)
        self.assertEqual(r.returncode, EXIT_REFUSED)
        err = r.stderr.decode()
        self.assertIn('needs the file "Gone.exe", which neither folder holds', err)
        self.assertNotIn("GUIDE_EN", err)  # members are found in any letter case
        self.assertIn("no language file", err)
        # Shortcuts and finish actions for files nothing installs, an add-on installer
        # that is not there; the uninstaller, URLs and other folders are fine.
        self.write_script('<Components><File name="$DEST\\App.exe"/></Components>'
                          '<Actions><File name="$DEST\\App.exe">Run</File><File name="$DEST\\WhatsNew.html">W</File>'
                          '<File name="https://x.example/">Site</File></Actions>'
                          '<Shortcuts><File name="$DESKTOP\\Acme.lnk">$DEST\\app.EXE</File>'
                          '<File name="$STARTMENU\\Acme\\Uninstall.lnk">$DEST\\Uninstall.exe</File>'
                          '<File name="$STARTMENU\\acme\\Notes.lnk">$DEST\\docs\\notes.txt</File>'
                          '<File name="$STARTMENU\\Acme\\Site.url">https://x.example/</File>'
                          '<File name="$DESKTOP\\App.lnk">$DEST\\App.exe</File></Shortcuts>')
        write(os.path.join(self.setup, "addons.ini"), "\ufeff[Addons]\r\nP4=AddonSetup.exe\r\nI0=addons.png\r\n".encode())
        write(os.path.join(self.setup, "addons.png"), b"png")
        r = run("check", self.setup, self.product)
        self.assertEqual(r.returncode, EXIT_REFUSED)
        problems = [l.strip() for l in r.stderr.decode().splitlines()[1:]]
        self.assertEqual(problems, [
            'shortcut "$STARTMENU\\acme\\Notes.lnk" points to "$DEST\\docs\\notes.txt", which no component installs',
            'shortcut "$DESKTOP\\App.lnk" would stay after an uninstall, which removes only "$DESKTOP\\Acme.lnk" '
            'and the folder "$STARTMENU\\Acme\\"',
            'finish action "$DEST\\WhatsNew.html" opens a file that no component installs',
            'addons.ini names "AddonSetup.exe", which neither folder holds (a product without add-ons leaves addons.ini out)',
            "the setup folder has no language file (*.lng)"])
        write(os.path.join(self.product, "AddonSetup.exe"), b"MZ")
        write(os.path.join(self.product, "WhatsNew.html"), b"<p>")
        write(os.path.join(self.setup, "English.lng"), b"[Common]\r\n")
        self.write_script('<Components><File name="$DEST\\App.exe"/><File name="$DEST\\WhatsNew.html"/></Components>'
                          '<Actions><File name="$DEST\\WhatsNew.html">W</File></Actions>')
        self.assertEqual(run("check", self.setup, self.product).returncode, 0)
        os.remove(os.path.join(self.setup, "Install.xml"))
        r = run("check", self.setup, self.product)
        self.assertEqual((r.returncode, b"has no Install.xml" in r.stderr), (EXIT_FAILURE, True))

    def test_setup_needs_the_windows_tool(self):
        if os.name == "nt":
            self.skipTest("native Windows")
        r = run("setup", "Setup.exe", self.setup, self.product, "out.exe")
        self.assertEqual(r.returncode, EXIT_USAGE)
        self.assertIn(b"ipktool.exe", r.stderr)


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
