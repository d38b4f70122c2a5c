#!/usr/bin/env python3
"""Checks a backup archive with readers that are not ours: Python's zipfile, Info-ZIP's unzip -t and 7z t.

Usage: zip_check.py ARCHIVE MANIFEST
MANIFEST is UTF-8, one entry a line, in archive order: the name in the archive, a tab, the source file's path.
Every entry must be there in that order with the source's bytes, the UTF-8 flag, the DOS time of the
source's mtime (local time, seconds rounded down to even) and an NTFS extra field holding its exact mtime.
Prints each fault and exits 1 when there is one.
"""
import os
import struct
import subprocess
import sys
import time
import zipfile

NTFS_TAG = 0x000A
TICKS_AT_UNIX_EPOCH = 116444736000000000


def ntfs_times(extra):
    """The (mtime, atime, ctime) ticks of the NTFS field in an extra block, or None."""
    pos = 0
    while pos + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, pos)
        body = extra[pos + 4:pos + 4 + size]
        if tag == NTFS_TAG and size >= 32:
            attr_tag, attr_size = struct.unpack_from("<HH", body, 4)
            if attr_tag == 1 and attr_size == 24:
                return struct.unpack_from("<QQQ", body, 8)
        pos += 4 + size
    return None


def local_extra(archive, info):
    with open(archive, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
        name_len, extra_len = struct.unpack_from("<HH", header, 26)
        f.seek(info.header_offset + 30 + name_len)
        return f.read(extra_len)


def check_zipfile(archive, manifest, faults):
    with zipfile.ZipFile(archive) as z:
        bad = z.testzip()
        if bad is not None:
            faults.append(f"zipfile: bad CRC or header in {bad!r}")
        infos = z.infolist()
        names = [i.filename for i in infos]
        expected = [name for name, _ in manifest]
        if names != expected:
            faults.append(f"zipfile: names {names!r}, expected {expected!r}")
            return
        for info, (name, source) in zip(infos, manifest):
            with open(source, "rb") as f:
                data = f.read()
            if z.read(info) != data:
                faults.append(f"zipfile: {name!r}: bytes differ from {source}")
            if not info.flag_bits & 0x800:
                faults.append(f"zipfile: {name!r}: UTF-8 flag not set")
            if info.compress_type != zipfile.ZIP_DEFLATED:
                faults.append(f"zipfile: {name!r}: method {info.compress_type}, not deflate")
            mtime_ns = os.stat(source).st_mtime_ns
            t = time.localtime(mtime_ns // 1_000_000_000)
            dos = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec & ~1)
            # The DOS range's ends stand for the times outside it.
            dos = max((1980, 1, 1, 0, 0, 0), min(dos, (2107, 12, 31, 23, 59, 58)))
            if info.date_time != dos:
                faults.append(f"zipfile: {name!r}: DOS time {info.date_time}, expected {dos}")
            for where, extra in (("central", info.extra), ("local", local_extra(archive, info))):
                times = ntfs_times(extra)
                want = TICKS_AT_UNIX_EPOCH + mtime_ns // 100
                if times is None:
                    faults.append(f"zipfile: {name!r}: no NTFS times in the {where} extra field")
                elif times[0] != want:
                    faults.append(f"zipfile: {name!r}: NTFS mtime {times[0]} in the {where} header, expected {want}")


def run(command, faults, ok_text, allowed_warnings=()):
    result = subprocess.run(command, capture_output=True, text=True, errors="replace")
    out = result.stdout + result.stderr
    # unzip exits 1 for warnings; the only one allowed is the one about "\" separators.
    warnings = [line for line in out.splitlines() if "warning" in line.lower()]
    unexpected = [w for w in warnings if not any(a in w for a in allowed_warnings)]
    if result.returncode not in (0, 1) or (result.returncode == 1 and unexpected) or ok_text not in out:
        faults.append(f"{command[0]}: exit {result.returncode}:\n{out}")


def main():
    archive, manifest_path = sys.argv[1], sys.argv[2]
    with open(manifest_path, encoding="utf-8") as f:
        manifest = [tuple(line.rstrip("\n").split("\t")) for line in f if line.strip()]
    faults = []
    check_zipfile(archive, manifest, faults)
    if manifest:
        run(["unzip", "-t", archive], faults, "No errors detected", ("backslashes as path separators",))
    else:
        run(["unzip", "-t", archive], faults, "zipfile is empty", ("zipfile is empty",))
    run(["7z", "t", archive], faults, "Everything is Ok")
    for fault in faults:
        print(fault)
    print(f"zip_check: {archive}: {len(manifest)} entries, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
