#!/usr/bin/env python3
"""A second, independent implementation of the IPK5 package format, in plain Python.

The tests use it to check the C++ reader and builder against something that shares no
code with them: packages written here must open in ipktool, and packages written by
ipktool must read back here. Only the standard library is used: the LZMA1 coder is
Python's lzma module in raw mode (which always ends its stream with an end marker, a
case the C++ reader must accept), and the checksum and the cipher are written out below.

Command line (for poking at packages by hand):
  ipk5_peer.py read PKG            list the members (name, offset, size)
  ipk5_peer.py write OUT NAME=FILE...
"""
import lzma
import struct
import sys

MAGIC = b"IPK5"
KEY = struct.pack("<i", 0x6D2B9A17)


def _crc_table():
    table = []
    for b in range(256):
        c = b << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)
            c &= 0xFFFFFFFF
        table.append(c)
    return table


_CRC_TABLE = _crc_table()


def crc32(data, crc=0):
    """Polynomial 0x04C11DB7, most significant bit first, initial 0, no final XOR
    (not zlib.crc32, which is the reflected, inverted variant)."""
    table = _CRC_TABLE
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ table[(crc >> 24) ^ b]
    return crc


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray(len(data))
    i = j = 0
    for n, b in enumerate(data):
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out[n] = b ^ s[(s[i] + s[j]) & 0xFF]
    return bytes(out)


def encode_table(entries):
    """entries: (name, offset, size) triples, in table order."""
    out = bytearray(struct.pack("<i", len(entries)))
    for name, offset, size in entries:
        raw = name.encode("utf-16-le")
        out += struct.pack("<H", len(raw) // 2) + raw + struct.pack("<qq", offset, size)
    return bytes(out)


def build_payload(members):
    """members: (name, bytes) pairs. Returns the decoded payload."""
    data = bytearray()
    entries = []
    for name, content in members:
        entries.append((name, len(data), len(content)))
        data += content
    table = encode_table(entries)
    return bytes(data) + table + struct.pack("<I", len(table))


def write_package(members, dict_size=1 << 22, lc=3, lp=0, pb=2, payload=None, key=KEY):
    """A whole package as bytes. The LZMA1 data ends with an end marker."""
    if payload is None:
        payload = build_payload(members)
    filters = [{"id": lzma.FILTER_LZMA1, "dict_size": dict_size, "lc": lc, "lp": lp, "pb": pb}]
    coded = lzma.compress(payload, format=lzma.FORMAT_RAW, filters=filters)
    props = bytes([(pb * 5 + lp) * 9 + lc]) + struct.pack("<I", dict_size)
    header = MAGIC + struct.pack("<II", crc32(payload), len(payload))
    return header + rc4(key, props + coded)


class PackageError(Exception):
    pass


def read_package(blob, key=KEY):
    """Returns (props, payload, entries) with entries as (name, offset, size)."""
    if len(blob) < 12:
        raise PackageError("short header")
    if blob[:4] != MAGIC:
        raise PackageError("bad magic")
    checksum, size = struct.unpack_from("<II", blob, 4)
    body = rc4(key, blob[12:])
    props = body[:5]
    d = props[0]
    lc, lp, pb = d % 9, (d // 9) % 5, d // 45
    dict_size = struct.unpack_from("<I", props, 1)[0]
    filters = [{"id": lzma.FILTER_LZMA1, "dict_size": max(dict_size, 4096), "lc": lc, "lp": lp, "pb": pb}]
    decoder = lzma.LZMADecompressor(format=lzma.FORMAT_RAW, filters=filters)
    # No end marker: the decoder is simply fed everything and cut at the header's size.
    payload = decoder.decompress(body[5:], max_length=size)
    if len(payload) != size:
        raise PackageError("payload size %d, header says %d" % (len(payload), size))
    if crc32(payload) != checksum:
        raise PackageError("checksum mismatch")
    (table_size,) = struct.unpack_from("<I", payload, size - 4)
    pos = size - 4 - table_size
    (count,) = struct.unpack_from("<i", payload, pos)
    pos += 4
    entries = []
    for _ in range(max(count, 0)):
        (length,) = struct.unpack_from("<H", payload, pos)
        pos += 2
        name = payload[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
        offset, msize = struct.unpack_from("<qq", payload, pos)
        pos += 16
        entries.append((name, offset, msize))
    return props, payload, entries


def members_of(blob):
    """(name, bytes) pairs in table order."""
    _, payload, entries = read_package(blob)
    return [(name, payload[offset:offset + size]) for name, offset, size in entries]


def main(argv):
    if len(argv) >= 2 and argv[0] == "read":
        with open(argv[1], "rb") as f:
            _, _, entries = read_package(f.read())
        for name, offset, size in entries:
            print("%s\t%d\t%d" % (name, offset, size))
        return 0
    if len(argv) >= 2 and argv[0] == "write":
        members = []
        for member in argv[2:]:
            name, _, path = member.rpartition("=")
            with open(path, "rb") as f:
                members.append((name, f.read()))
        with open(argv[1], "wb") as f:
            f.write(write_package(members))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
