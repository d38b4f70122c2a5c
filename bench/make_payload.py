#!/usr/bin/env python3
"""Writes a deterministic benchmark payload: a product folder of about 48 MB in some 180
files, a mix of incompressible pictures, code-like binaries (about 3:1 under LZMA) and
texts (about 8:1), the same bytes on every machine.

  make_payload.py OUT_DIR [--scale N]   N copies of the tree side by side (default 1)
"""
import argparse
import os
import random

WORDS = ("the player opens every playlist and plays audio video stream buffer decoder frame "
         "sample rate channel volume track album artist title genre year codec bitrate skin "
         "plugin equalizer visualization library database index search option setting").split()


def picture(rng, size):
    return rng.randbytes(size)


def binary(rng, size):
    # Code-like: runs of a small instruction alphabet, tables of small integers, and
    # stretches of noise, which together compress at about 3:1.
    out = bytearray()
    alphabet = [rng.randbytes(rng.randint(2, 6)) for _ in range(160)]
    while len(out) < size:
        kind = rng.random()
        if kind < 0.72:
            for _ in range(64):
                out += alphabet[int(rng.random() ** 2.6 * len(alphabet))]
        elif kind < 0.95:
            out += bytes(rng.randint(0, 7) for _ in range(96))
        else:
            out += rng.randbytes(72)
    return bytes(out[:size])


def text(rng, size):
    # Sentences from a pool, some far more often than others, as in help pages and logs.
    pool = []
    for _ in range(600):
        words = [WORDS[int(rng.random() ** 2 * len(WORDS))] for _ in range(rng.randint(6, 14))]
        pool.append(" ".join(words) + " %d.\r\n" % rng.randint(0, 999))
    out = []
    length = 0
    while length < size:
        line = pool[int(rng.random() ** 1.3 * len(pool))]
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def tree(seed):
    """(relative path, maker, size) for every file."""
    rng = random.Random(seed)
    files = []
    for i in range(40):  # pictures: 40 files, ~19 MB
        files.append(("Skins/Pictures/picture%03d.png" % i, picture, rng.randint(250_000, 530_000)))
    for i in range(70):  # binaries: 70 files, ~22 MB
        folder = "Plugins" if i % 3 else "System"
        files.append(("%s/module%03d.dll" % (folder, i), binary, rng.randint(120_000, 520_000)))
    for i in range(70):  # texts: 70 files, ~7 MB
        files.append(("Docs/Help/page%03d.txt" % i, text, rng.randint(40_000, 160_000)))
    files.append(("KIVO.exe", binary, 2_400_000))
    return files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--scale", type=int, default=1)
    args = parser.parse_args()
    total = count = 0
    # Every copy holds the same bytes: each file is made once and written scale times.
    for index, (path, maker, size) in enumerate(tree(1)):
        data = maker(random.Random(index * 7919 + 1), size)
        for copy in range(args.scale):
            prefix = "" if copy == 0 else "Copy%d/" % copy
            target = os.path.join(args.out, *(prefix + path).split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
            total += len(data)
            count += 1
    print("%s: %d files, %.1f MB" % (args.out, count, total / 1e6))


if __name__ == "__main__":
    main()
