#!/usr/bin/env python3
"""Writes a folder of generated files for bench/run-e2e.sh.

    gen_tree.py DIR COUNT SIZE_MIN SIZE_MAX [--total BYTES] [--per-folder N] [--seed S]

COUNT files of SIZE_MIN..SIZE_MAX bytes (uniform, from a seeded generator, so the same
arguments always give the same tree) go into subfolders of DIR holding PER_FOLDER files
each. With --total the sizes are scaled so that they add up to exactly BYTES. The contents
are pseudo-random bytes: nothing a digest could take a short cut on.
"""
import argparse
import os
import random


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("count", type=int)
    ap.add_argument("size_min", type=int)
    ap.add_argument("size_max", type=int)
    ap.add_argument("--total", type=int)
    ap.add_argument("--per-folder", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()

    rng = random.Random(a.seed)
    sizes = [rng.randint(a.size_min, a.size_max) for _ in range(a.count)]
    if a.total is not None:
        scale = a.total / max(1, sum(sizes))
        sizes = [int(s * scale) for s in sizes]
        sizes[-1] += a.total - sum(sizes)
        if sizes[-1] < 0:
            raise SystemExit("--total too small for the sizes")

    # One block of random bytes, read at shifting offsets: generating every byte afresh
    # would take far longer than the benchmark itself.
    pool = rng.randbytes(max(sizes, default=0) + 65536)
    digits = len(str(max(a.count - 1, 0)))
    for i, size in enumerate(sizes):
        folder = os.path.join(a.dir, "d%03d" % (i // a.per_folder))
        if i % a.per_folder == 0:
            os.makedirs(folder, exist_ok=True)
        start = (i * 7919) % 65536
        with open(os.path.join(folder, "f%0*d.bin" % (digits, i)), "wb") as f:
            f.write(pool[start:start + size])
    print("%s: %d files, %d bytes" % (a.dir, a.count, sum(sizes)))


if __name__ == "__main__":
    main()
