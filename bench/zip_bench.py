#!/usr/bin/env python3
"""vexorin-check over a downloaded zip against `unzip -t` on the same zip, in one run.

usage: bench/zip_bench.py [--build build/linux] [--work DIR] [--rounds N] [--keep]

Generates the benchmark's trees (bench/gen_tree.py: 1 GiB in 1,000 files of 0.5-1.5 MiB, and
20,000 files of 0-16 KiB), builds a checker into each with vexorin-build, zips each with
Debian's zip (deflate, level 6) and reads each zip once into the page cache. Then, round by
round, in turn: `unzip -tq` (inflates every entry and tests its CRC-32), `vexorin-check --jobs 1`
and `vexorin-check` with its default jobs, each on the same zip. Prints each command's median
wall-clock and CPU seconds (user + system) and the median of the per-round ratios to
`unzip -t`. The trees are deleted at the end unless --keep is given.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TREES = {"large": (1000, 512 * 1024, 1536 * 1024, 1 << 30), "small": (20000, 0, 16384, None)}


def run(cmd):
    """Wall-clock and CPU seconds of one run, and its exit status."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    rc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, rc


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "linux"))
    ap.add_argument("--work", default="/tmp/vexorin-zip-bench")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    build = os.path.join(a.build, "cli", "vexorin-build")
    check = os.path.join(a.build, "cli", "vexorin-check")
    os.makedirs(a.work, exist_ok=True)
    zips = {}
    for name, (count, low, high, total) in TREES.items():
        tree = os.path.join(a.work, name)
        zips[name] = os.path.join(a.work, name + ".zip")
        if not os.path.exists(zips[name]):
            shutil.rmtree(tree, ignore_errors=True)
            args = [sys.executable, os.path.join(HERE, "gen_tree.py"), tree, str(count), str(low), str(high)]
            subprocess.run(args + (["--total", str(total)] if total else []), check=True)
            subprocess.run([build, "--yes", tree], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["zip", "-qr6", zips[name], os.path.basename(tree)], cwd=a.work, check=True)
        with open(zips[name], "rb") as f:  # into the page cache
            while f.read(1 << 24):
                pass
    jobs = str(len(os.sched_getaffinity(0)))
    print(f"{a.rounds} rounds, {jobs} processors; load average {os.getloadavg()[0]:.1f} at the start")
    for name, path in zips.items():
        commands = {"unzip -t": ["unzip", "-tq", path], "vexorin-check --jobs 1": [check, "--jobs", "1", path],
                    f"vexorin-check (--jobs {jobs})": [check, path]}
        figures = {label: [] for label in commands}
        for _ in range(a.rounds):
            for label, cmd in commands.items():
                wall, cpu, rc = run(cmd)
                if rc != 0:
                    sys.exit(f"{label} on {path} exited with {rc}")
                figures[label].append((wall, cpu))
        size = os.path.getsize(path) / (1 << 20)
        print(f"\n{name}.zip ({size:.0f} MiB):")
        base = figures["unzip -t"]
        for label, runs in figures.items():
            wall = statistics.median(w for w, _ in runs)
            cpu = statistics.median(c for _, c in runs)
            ratio = statistics.median(w / b[0] for (w, _), b in zip(runs, base))
            cpu_ratio = statistics.median(c / b[1] for (_, c), b in zip(runs, base))
            print(f"  {label:28} wall {wall:6.2f} s ({ratio:.2f} x unzip -t)  cpu {cpu:6.2f} s ({cpu_ratio:.2f} x)")
    print(f"\nload average {os.getloadavg()[0]:.1f} at the end")
    if not a.keep:
        shutil.rmtree(a.work, ignore_errors=True)


if __name__ == "__main__":
    main()
