#!/usr/bin/env python3
"""The two windows against their command-line twins, under Wine, side by side in one run.

usage: bench/run-windows.py [--build build/linux] [--windows-build build/windows]
                            [--work DIR] [--rounds N] [--keep] [--report FILE]
                            [--checker IMAGE] [--only checker|maker|stop]

What it times (docs/PERFORMANCE.md explains the method and gives the figures):
 1. the checker (vexorin-checker.exe, written into each tree by the native vexorin-build),
    from its start to its success box, against `vexorin-check.exe --jobs 1` over the same
    checker file, from its start to its exit, and native md5sum over the same files, on
    small/ (20,000 files of 0-16 KiB), large/ (1 GiB in 1,000 files) and wine2000/ (2,000
    files of 0-16 KiB);
 2. the stop question: from a click on the checker's stop button, in a run inside one sparse
    file of 16 GiB, to the question box on the screen (vxdriver's `press` returns when the
    program's windows change), then Cancel, ten times;
 3. the maker (VexorinMake.exe), from the click on its build button to its success box,
    against `vexorin-build.exe --jobs 1 --yes` from its start to its exit, on small/ and
    large/.
The Windows programs run under Wine and Xvfb (tests/support/harness.py), driven by the test
driver vxdriver.exe, which reads a steady clock before and after each program; both sides of
a comparison are started by the driver, so Wine's start of a program counts on both. Each
round runs every program once, the order of the two sides alternating from round to round;
each figure is the median over the rounds, each ratio the median of the per-round ratios. The
files are read once before the rounds, so every run reads from the page cache. The driver
looks for the success boxes every 20 ms, so a time can be up to 20 ms long; the stop question
is looked for every millisecond.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from harness import WineSession, quote, to_wine_path  # noqa: E402
from tree_files import files_under, warm

CHECKER_DIALOG = "ファイルチェッカー"
MAKER_MAIN = "ヴェクソリン"
TREES = {  # name: (count, smallest, largest, seed, total, per folder), as bench/run-e2e.py makes them
    "small": (20000, 0, 16384, 2, None, 200),
    "large": (1000, 512 * 1024, 1536 * 1024, 1, 1 << 30, 100),
    "wine2000": (2000, 0, 16384, 5, None, 200),
}
STOP_FILE = 16 << 30  # sparse: costs no disk, and no run reaches its end while asked to stop


def log(text):
    print(text, flush=True)


def must(ok, what):
    if not ok:
        sys.exit("run-windows: " + what)


def clocks(result):
    """The CLOCK readings of a driver run, in ms; the run must have got through its script."""
    must(result.ok, "the driver failed: %s\n%s" % (result.failure, "\n".join(result.lines[-30:])))
    return [float(m.group(1)) for line in result.lines for m in [re.match(r"^CLOCK ms=([0-9.]+)$", line)] if m]


class ProcessCpu:
    """The CPU time (user + system) of Windows programs under Wine, by a name in their command
    line, read from /proc every 10 ms while they run: on a machine that others share, a figure
    that moves less than the wall clock. It leaves out what the wineserver does for them (it
    opens their files) and up to 10 ms at each one's end."""

    def __init__(self):
        self.ticks = os.sysconf("SC_CLK_TCK")
        self.seen = set()
        self.command = {}  # pid: command line, for the processes of Windows programs
        self.cpu = {}  # pid: seconds at the last look
        self.running = set()
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while not self.stop.wait(0.01):
            for pid in os.listdir("/proc"):
                if pid.isdigit() and pid not in self.seen:
                    self.seen.add(pid)
                    self.running.add(pid)
            for pid in list(self.running):
                try:
                    # Read again at every look: a new process has its parent's command line
                    # until Wine has started the program in it.
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        words = f.read().decode("utf-8", "replace").split("\0")
                    with open("/proc/%s/stat" % pid, "rb") as f:  # the name may be any bytes
                        fields = f.read().rsplit(b")", 1)[1].split()
                except (OSError, IndexError):
                    self.running.discard(pid)
                    continue
                program = words[0]
                if not program.lower().endswith(".exe"):
                    # Wine's loader before it starts the program; anything else is no Windows
                    # program, and none will start in it.
                    if "wine" not in program and not any(w.lower().endswith(".exe") for w in words):
                        self.running.discard(pid)
                    continue
                with self.lock:
                    self.command[pid] = program
                    self.cpu[pid] = (int(fields[11]) + int(fields[12])) / self.ticks

    def take(self, name):
        """The seconds used by the ended programs whose file name is `name`, forgotten then;
        None when none was seen (it ended between two looks)."""
        def named():
            return [pid for pid, program in self.command.items()
                    if program.replace("/", "\\").rsplit("\\", 1)[-1] == name]
        deadline = time.time() + 5
        while time.time() < deadline:
            with self.lock:
                if not any(pid in self.running for pid in named()):
                    break
            time.sleep(0.01)
        with self.lock:
            done = [pid for pid in named() if pid not in self.running]
            for pid in done:
                del self.command[pid]
            return sum(self.cpu.pop(pid, 0.0) for pid in done) if done else None

    def close(self):
        self.stop.set()
        self.thread.join()


def shown(ms):
    return "?" if ms is None else "%.0f" % ms


def median(values):
    return statistics.median(values)


class Bench:
    def __init__(self, a, wine, say):
        self.a, self.wine, self.say = a, wine, say
        self.native_build = os.path.join(a.build, "cli", "vexorin-build")
        self.checker = a.checker or os.path.join(a.windows_build, "checker", "vexorin-checker.exe")
        self.check_exe = os.path.join(a.windows_build, "cli", "vexorin-check.exe")
        self.build_exe = os.path.join(a.windows_build, "cli", "vexorin-build.exe")
        self.maker = os.path.join(a.windows_build, "maker", "gui", "VexorinMake.exe")
        self.driver = os.path.join(a.windows_build, "tests", "wine", "vxdriver.exe")
        self.cpu = ProcessCpu()

    def cpu_of(self, program):
        seconds = self.cpu.take(program)
        return None if seconds is None else seconds * 1000

    def drive(self, lines):
        return self.wine.run_driver(self.driver, "\n".join(["timeout 900000"] + lines), timeout=1800)

    def write_checker(self, folder):
        subprocess.run([self.native_build, "--yes", "--image", self.checker, folder], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return quote(to_wine_path(os.path.join(folder, "Vexorin.exe")))

    def checker_rounds(self, name, folder):
        exe = self.write_checker(folder)
        window = ["clock", "start %s -" % exe, "wait-box", "clock", "expect-caption チェック終了", "press OK",
                  "expect-exit 0"]
        tool = ["clock", "start %s - --jobs 1 %s" % (quote(to_wine_path(self.check_exe)), exe), "expect-exit 0",
                "clock"]
        md5sum = ["sh", "-c", 'find "$1" -type f ! -name Vexorin.exe -print0 | xargs -0 md5sum >/dev/null', "sh",
                  folder]
        rows = {"window": [], "tool": [], "md5sum": [], "window cpu": [], "tool cpu": []}
        for r in range(self.a.rounds):
            first_window = r % 2 == 0
            c = clocks(self.drive(window + tool if first_window else tool + window))
            w, t = (c[1] - c[0], c[3] - c[2]) if first_window else (c[3] - c[2], c[1] - c[0])
            rows["window cpu"].append(self.cpu_of("Vexorin.exe"))
            rows["tool cpu"].append(self.cpu_of("vexorin-check.exe"))
            began = time.perf_counter()
            subprocess.run(md5sum, check=True)
            m = (time.perf_counter() - began) * 1000
            rows["window"].append(w)
            rows["tool"].append(t)
            rows["md5sum"].append(m)
            log("  %s round %d: checker %.0f ms (CPU %s ms), vexorin-check.exe --jobs 1 %.0f ms (CPU %s ms), "
                "md5sum %.0f ms" % (name, r + 1, w, shown(rows["window cpu"][-1]), t, shown(rows["tool cpu"][-1]), m))
        self.report("checker", name, folder, rows, "vexorin-check.exe --jobs 1")

    def maker_rounds(self, name, folder):
        place = tempfile.mkdtemp(prefix="maker-", dir=self.a.work)
        maker = os.path.join(place, "VexorinMake.exe")
        shutil.copy(self.maker, maker)
        checker = os.path.join(folder, "Vexorin.exe")
        window = ["start %s -" % quote(to_wine_path(maker)), "wait-window %s 60000" % MAKER_MAIN,
                  "settext 1004 " + quote(to_wine_path(folder)), "clock", "press 1007", "wait-box", "clock",
                  "expect-caption 成功", "press OK", "gone", "wait-window " + MAKER_MAIN, "key ESCAPE",
                  "expect-exit 0 20000"]
        tool = ["clock", "start %s - --jobs 1 --yes %s" % (quote(to_wine_path(self.build_exe)),
                                                           quote(to_wine_path(folder))), "expect-exit 0", "clock"]
        rows = {"window": [], "tool": [], "window cpu": [], "tool cpu": []}
        for r in range(self.a.rounds):
            first_window = r % 2 == 0
            # The window asks before replacing a checker; each build starts from none.
            for lines in ((window, tool) if first_window else (tool, window)):
                if os.path.exists(checker):
                    os.remove(checker)
                c = clocks(self.drive(lines))
                side = "window" if lines is window else "tool"
                rows[side].append(c[1] - c[0])
                rows[side + " cpu"].append(self.cpu_of("VexorinMake.exe" if lines is window else "vexorin-build.exe"))
            log("  %s round %d: maker %.0f ms (CPU %s ms), vexorin-build.exe --jobs 1 %.0f ms (CPU %s ms)" %
                (name, r + 1, rows["window"][-1], shown(rows["window cpu"][-1]), rows["tool"][-1],
                 shown(rows["tool cpu"][-1])))
        self.report("maker", name, folder, rows, "vexorin-build.exe --jobs 1")

    def report(self, what, name, folder, rows, tool_name):
        files = [f for f in files_under(folder) if os.path.basename(f) != "Vexorin.exe"]
        nbytes = sum(os.path.getsize(f) for f in files)
        ratios = [w / t for w, t in zip(rows["window"], rows["tool"])]
        line = ("%s, %s/ (%d files, %.0f MiB): the window %.0f ms, %s %.0f ms: %.2f x (rounds %.2f-%.2f)" %
                (what, name, len(files), nbytes / 2**20,
                 median(rows["window"]), tool_name, median(rows["tool"]), median(ratios), min(ratios), max(ratios)))
        cpu = [w / t for w, t in zip(rows["window cpu"], rows["tool cpu"]) if w and t]
        if cpu:
            line += "; CPU %.0f ms against %.0f ms: %.2f x (%d rounds)" % (
                median([w for w in rows["window cpu"] if w]), median([t for t in rows["tool cpu"] if t]), median(cpu),
                len(cpu))
        if "md5sum" in rows:
            line += "; md5sum %.0f ms" % median(rows["md5sum"])
        self.say(line)

    def stop_delay(self):
        folder = os.path.join(self.a.work, "stop")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "huge.bin"), "wb") as f:
            f.truncate(STOP_FILE)
        exe = self.write_checker(folder)
        lines = ["start %s -" % exe, "wait-dialog " + quote(CHECKER_DIALOG), "sleep 1000", "poll 1"]
        for _ in range(10):
            lines += ["clock", "press 1003", "clock", "wait-box", "expect-caption 終了確認", "press キャンセル", "gone",
                      "wait-dialog " + quote(CHECKER_DIALOG), "sleep 400"]
        lines += ["text 1001", "press 1003", "wait-box", "press OK", "expect-exit 0"]
        c = clocks(self.drive(lines))
        delays = [c[i + 1] - c[i] for i in range(0, len(c), 2)]
        log("  stop question after %s ms" % ", ".join("%.0f" % d for d in delays))
        self.say("stop question, from the click to the box on the screen, inside a file of %d GiB: median %.0f ms, "
                 "longest %.0f ms (%d clicks)" % (STOP_FILE >> 30, median(delays), max(delays), len(delays)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "linux"))
    ap.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    ap.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "vexorin-bench-windows"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--keep", action="store_true", help="keep the generated trees")
    ap.add_argument("--report", help="also write the summary to this file")
    ap.add_argument("--checker", help="the checker image to time (default: the Windows build's), to compare two")
    ap.add_argument("--only", choices=("checker", "maker", "stop"), help="time only these")
    a = ap.parse_args()
    a.work = os.path.abspath(a.work)
    summary = []

    def say(line):
        log(line)
        summary.append(line)

    model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "")
    say("machine: %s, %d cores; load average before: %.2f %.2f %.2f" % (model, os.cpu_count(), *os.getloadavg()))
    os.makedirs(a.work, exist_ok=True)
    for name, (count, smallest, largest, seed, total, per_folder) in TREES.items():
        folder = os.path.join(a.work, name)
        if not os.path.isdir(folder):
            cmd = [sys.executable, os.path.join(HERE, "gen_tree.py"), folder, str(count), str(smallest), str(largest),
                   "--seed", str(seed), "--per-folder", str(per_folder)] + (["--total", str(total)] if total else [])
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        warm(folder)
    try:
        with WineSession(build_dir=os.path.join(os.path.abspath(a.windows_build), "tests", "wine")) as wine:
            bench = Bench(a, wine, say)
            for path in (bench.native_build, bench.checker, bench.check_exe, bench.build_exe, bench.maker,
                         bench.driver):
                must(os.path.exists(path), path + " is missing: build both trees first")
            say("checker %s: %d bytes" % (os.path.relpath(bench.checker, ROOT), os.path.getsize(bench.checker)))
            if a.only in (None, "checker"):
                for name in ("small", "large", "wine2000"):
                    bench.checker_rounds(name, os.path.join(a.work, name))
            if a.only in (None, "stop"):
                bench.stop_delay()
            if a.only in (None, "maker"):
                for name in ("small", "large"):
                    bench.maker_rounds(name, os.path.join(a.work, name))
    finally:
        if not a.keep:
            shutil.rmtree(a.work, ignore_errors=True)
        say("load average after: %.2f %.2f %.2f" % os.getloadavg())
        if a.report:
            with open(a.report, "w") as f:
                f.write("\n".join(summary) + "\n")


if __name__ == "__main__":
    main()
