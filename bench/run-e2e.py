#!/usr/bin/env python3
"""End-to-end timings of the real programs on generated trees, all measured in one run.

usage: bench/run-e2e.py [--build build/linux] [--windows-build build/windows]
                        [--work DIR] [--rounds N] [--keep] [--no-wine] [--only-jobs]
                        [--report FILE]

What it does, in order (docs/PERFORMANCE.md explains the method):
 1. generates the trees below --work (default /tmp/vexorin-bench):
      tree/large   1 GiB in 1,000 files of 0.5-1.5 MiB
      tree/small   20,000 files of 0-16 KiB
      many/        100,000 files of 0-256 bytes (two halves of 50,000)
      wine2000/, wine20/  2,000 and 20 files of 0-16 KiB for the checker under Wine
    and reads every file once, so that all timings are taken from the page cache;
 2. round by round (--rounds, default 5): `find tree -type f -print0 | xargs -0 md5sum`,
    vexorin-build on tree, and the checker's run natively (vx-bench-tool check); then
    `md5sum -c` of the list that `vexorin-check --md5sum` writes, against vexorin-check;
 3. the folder scan alone over many/ (100,000 entries), and the peak memory of
    vexorin-build over 50,000 and 100,000 files (/usr/bin/time -v);
 4. round by round: vexorin-build natively and the Windows build under Wine on tree/large,
    and Wine starting the same program with --help (its start-up cost);
 5. the real checker under Wine and Xvfb on wine2000/ and wine20/, driven by vxdriver.exe,
    which waits for the success box and presses its OK: the time per file is the difference
    of the two runs divided by the difference of their file counts.
 6. round by round, on tree, tree/small and tree/large: just reading every file on as many
    threads as cores (vx-bench-tool read, the limit), md5sum as in 2, openssl md5 the same
    way, `md5deep -r -j<cores>` (several threads, like vexorin-build's jobs), vexorin-build
    and vexorin-check with their default jobs, each tool's time as a multiple of the others';
    the scaling of vexorin-build over --jobs 1, 2 (and 4, 8 up to the cores) and over the lane
    widths (VEXORIN_LANES 0, 4, 8, 16, 32 with a job per core) and every lane kernel by name
    (VEXORIN_LANES=avx2-gather, avx2-transpose, ...) on tree; and
    one 1 GiB file by vexorin-build --jobs 1, vexorin-build, `openssl md5` and md5sum.
Every run reads from the page cache. Each run's CPU time (user + system, of the program and
all its children; under Wine the wineserver's too) and its wall-clock time are taken; each
figure is the median over the rounds, each ratio the median of the per-round ratios. The
CPU-time ratios are the ones to go by on a machine that other programs share: the wall
clock also counts the time they had the core. On an idle machine the two agree. The trees
are deleted at the end unless --keep is given.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from tree_files import files_under, warm

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def log(text):
    print(text, flush=True)


def timed(cmd, env=None, cwd=None):
    """Runs cmd; returns (wall seconds, its output, its error output, its exit code). The
    output goes through files, not pipes: Wine's helper processes, started by the first Wine
    program of a prefix, inherit its handles and would hold a pipe open long after it ends."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        rc = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
        wall = time.perf_counter() - start
        out.seek(0)
        err.seek(0)
        return wall, out.read(), err.read(), rc


class CpuClock:
    """CPU seconds (user + system) used by the children waited for since the last call: a
    child's usage includes that of its own waited-for children (the shell's find, xargs and
    md5sum)."""

    def __init__(self):
        self.last = self.total()

    @staticmethod
    def total():
        t = os.times()
        return t.children_user + t.children_system

    def lap(self):
        now = self.total()
        spent, self.last = now - self.last, now
        return spent


def must(ok, what):
    if not ok:
        sys.exit("run-e2e: " + what)


def run_checked(cmd, what, **kw):
    wall, out, err, rc = timed(cmd, **kw)
    must(rc == 0, "%s failed (exit %d): %s" % (what, rc, (err or b"").decode("utf-8", "replace")[-2000:]))
    return wall, out


def gen(path, count, smin, smax, seed, total=None, per_folder=1000):
    cmd = [sys.executable, os.path.join(HERE, "gen_tree.py"), path, str(count), str(smin), str(smax),
           "--seed", str(seed), "--per-folder", str(per_folder)]
    if total:
        cmd += ["--total", str(total)]
    subprocess.run(cmd, check=True)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    return statistics.median(values)


def machine():
    model = ""
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return model, os.cpu_count(), os.getloadavg()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "linux"))
    ap.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    ap.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "vexorin-bench"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--keep", action="store_true", help="keep the generated trees")
    ap.add_argument("--no-wine", action="store_true", help="leave out steps 4 and 5")
    ap.add_argument("--report", help="also write the summary to this file")
    ap.add_argument("--only-jobs", action="store_true",
                    help="generate tree alone and run step 6 alone (implies --no-wine)")
    a = ap.parse_args()

    build = os.path.join(a.build, "cli", "vexorin-build")
    check_tool = os.path.join(a.build, "cli", "vexorin-check")
    tool = os.path.join(a.build, "bench", "vx-bench-tool")
    win_build = os.path.join(a.windows_build, "cli", "vexorin-build.exe")
    checker = os.path.join(a.windows_build, "checker", "vexorin-checker.exe")
    driver = os.path.join(a.windows_build, "tests", "wine", "vxdriver.exe")
    for path in (build, check_tool, tool):
        must(os.path.exists(path), path + " is missing: build the native tree with the benchmarks")
    must(shutil.which("md5sum") and os.path.exists("/usr/bin/time"), "md5sum and /usr/bin/time are needed")
    wine = not a.no_wine and not a.only_jobs
    if wine:
        for path in (win_build, checker, driver):
            must(os.path.exists(path), path + " is missing: build the Windows tree (or give --no-wine)")
        must(shutil.which("wine") and shutil.which("Xvfb"), "wine and Xvfb are needed (or give --no-wine)")

    summary = []

    def say(line):
        log(line)
        summary.append(line)

    model, cores, load = machine()
    clock = subprocess.run([tool, "clock"], capture_output=True, text=True).stdout.strip()
    m = re.match(r"clock: ([0-9.]+) GHz", clock)
    clock_hz = float(m.group(1)) * 1e9 if m else 0
    say("machine: %s, %d cores; %s; load average before: %.2f %.2f %.2f" % (model, cores, clock, *load))
    if load[0] > 0.5:
        say("warning: the machine is busy (load %.2f): the timings will scatter" % load[0])

    # 1. The trees.
    work = os.path.abspath(a.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    tree = os.path.join(work, "tree")
    many = os.path.join(work, "many")
    log("generating the trees in %s ..." % work)
    gen(os.path.join(tree, "large"), 1000, 512 * 1024, 1536 * 1024, 1, total=1 << 30, per_folder=100)
    gen(os.path.join(tree, "small"), 20000, 0, 16384, 2, per_folder=200)
    if not a.only_jobs:
        gen(os.path.join(many, "half1"), 50000, 0, 256, 3)
        gen(os.path.join(many, "half2"), 50000, 0, 256, 4)
    if wine:
        gen(os.path.join(work, "wine2000"), 2000, 0, 16384, 5, per_folder=200)
        gen(os.path.join(work, "wine20"), 20, 0, 16384, 6, per_folder=200)
        # The same bytes as tree/large in one file: what Wine costs per file opened shows as
        # the difference between the two.
        os.makedirs(os.path.join(work, "one"))
        with open(os.path.join(work, "one", "large.bin"), "wb") as out:
            for f in sorted(files_under(os.path.join(tree, "large"))):
                with open(f, "rb") as fh:
                    shutil.copyfileobj(fh, out, 1 << 20)
    warm(work)

    try:
        if a.only_jobs:
            jobs_steps(a, work, tree, build, cores, say)
            return
        # 2. md5sum, vexorin-build and the checker's run, round by round.
        cpu = CpuClock()
        md5sum_cmd = ["sh", "-c", 'find "$1" -type f ! -name Vexorin.exe -print0 | xargs -0 md5sum', "sh", tree]
        rows = {"md5sum": [], "build": [], "check": [], "md5c": [], "vcheck": []}
        cpus = {"md5sum": [], "build": [], "check": [], "md5c": [], "vcheck": []}
        nfiles = len(files_under(tree))
        nbytes = sum(os.path.getsize(f) for f in files_under(tree))
        run_checked([build, "--yes", tree], "vexorin-build")  # the checker file the checks read
        for r in range(a.rounds):
            cpu.lap()
            wall, out = run_checked(md5sum_cmd, "md5sum")
            rows["md5sum"].append(wall)
            cpus["md5sum"].append(cpu.lap())
            must(out.count(b"\n") == nfiles, "md5sum did not list every file")
            rows["build"].append(run_checked([build, "--yes", tree], "vexorin-build")[0])
            cpus["build"].append(cpu.lap())
            wall, out = run_checked([tool, "check", os.path.join(tree, "Vexorin.exe")], "the checker's run")
            rows["check"].append(wall)
            cpus["check"].append(cpu.lap())
            log("round %d: md5sum %.3f s, vexorin-build %.3f s, check %.3f s" %
                (r + 1, rows["md5sum"][-1], rows["build"][-1], rows["check"][-1]))
        # vexorin-check against md5sum -c over the same files, side by side, round by round.
        _, listing = run_checked([check_tool, "--md5sum"], "vexorin-check --md5sum", cwd=tree)
        list_file = os.path.join(work, "list.md5")
        with open(list_file, "wb") as f:
            f.write(listing)
        for r in range(a.rounds):
            cpu.lap()
            rows["md5c"].append(run_checked(["md5sum", "-c", "--quiet", list_file], "md5sum -c", cwd=tree)[0])
            cpus["md5c"].append(cpu.lap())
            rows["vcheck"].append(run_checked([check_tool, os.path.join(tree, "Vexorin.exe")], "vexorin-check")[0])
            cpus["vcheck"].append(cpu.lap())
            log("round %d: md5sum -c %.3f s, vexorin-check %.3f s" % (r + 1, rows["md5c"][-1], rows["vcheck"][-1]))
        say("tree: %d files, %d bytes (%.2f GiB), page cache, %d rounds" % (nfiles - 1, nbytes, nbytes / 2**30, a.rounds))
        for name, label in (("md5sum", "find | xargs md5sum"), ("build", "vexorin-build"), ("check", "checker's run, native")):
            say("  %-24s CPU %.3f s (%.0f MB/s), wall %.3f s" %
                (label, median(cpus[name]), nbytes / median(cpus[name]) / 1e6, median(rows[name])))
        for name, label in (("build", "vexorin-build"), ("check", "checker's run")):
            cpu_ratios = [x / y for x, y in zip(cpus[name], cpus["md5sum"])]
            ratios = [x / y for x, y in zip(rows[name], rows["md5sum"])]
            say("  %-24s %.3f x md5sum's CPU time (rounds %.3f-%.3f); wall %.3f x (rounds %.3f-%.3f)" %
                (label, median(cpu_ratios), min(cpu_ratios), max(cpu_ratios), median(ratios), min(ratios), max(ratios)))
        if clock_hz:
            say("  cycles per byte at %.3f GHz: md5sum %.2f, vexorin-build %.2f, checker's run %.2f" %
                (clock_hz / 1e9, *(clock_hz * median(cpus[n]) / nbytes for n in ("md5sum", "build", "check"))))
        for name, label in (("md5c", "md5sum -c"), ("vcheck", "vexorin-check")):
            say("  %-24s CPU %.3f s (%.0f MB/s), wall %.3f s" %
                (label, median(cpus[name]), nbytes / median(cpus[name]) / 1e6, median(rows[name])))
        cpu_ratios = [x / y for x, y in zip(cpus["vcheck"], cpus["md5c"])]
        ratios = [x / y for x, y in zip(rows["vcheck"], rows["md5c"])]
        say("  %-24s %.3f x md5sum -c's CPU time (rounds %.3f-%.3f); wall %.3f x (rounds %.3f-%.3f)" %
            ("vexorin-check", median(cpu_ratios), min(cpu_ratios), max(cpu_ratios), median(ratios), min(ratios),
             max(ratios)))

        # 3. The scan alone, and the peak memory of a build over many files.
        _, out = run_checked([tool, "scan", many, str(a.rounds)], "the scan")
        say("  scan alone over many/: " + out.decode().strip())
        peaks = {}
        for folder, count in ((many, 100000), (os.path.join(many, "half1"), 50000)):
            _, _, err, rc = timed(["/usr/bin/time", "-v", build, "--yes", folder])
            must(rc == 0, "vexorin-build over %s failed" % folder)
            m = re.search(rb"Maximum resident set size \(kbytes\): (\d+)", err)
            peaks[count] = int(m.group(1))
        os.remove(os.path.join(many, "half1", "Vexorin.exe"))
        say("  vexorin-build peak memory: %.1f MiB over 100,000 files, %.1f MiB over 50,000 "
            "(%.0f bytes more per file)" % (peaks[100000] / 1024, peaks[50000] / 1024,
                                            (peaks[100000] - peaks[50000]) * 1024 / 50000))

        jobs_steps(a, work, tree, build, cores, say)
        if wine:
            wine_steps(a, work, tree, build, win_build, checker, driver, say)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
        load = os.getloadavg()
        say("load average after: %.2f %.2f %.2f" % load)
        if a.report:
            with open(a.report, "w") as f:
                f.write("\n".join(summary) + "\n")


def jobs_steps(a, work, tree, build, cores, say):
    """Step 6: the concurrent digest against md5deep's threads, md5sum and openssl md5."""
    md5deep = shutil.which("md5deep")
    openssl = shutil.which("openssl")
    if not md5deep or not openssl:
        say("md5deep or openssl is missing (bench/install-bench-deps.sh installs them): step 6 left out")
        return
    one = os.path.join(work, "one", "large.bin")
    if not os.path.exists(one):  # the same bytes as tree/large in one file, as step 4 makes it
        os.makedirs(os.path.dirname(one), exist_ok=True)
        with open(one, "wb") as out:
            for f in sorted(files_under(os.path.join(tree, "large"))):
                with open(f, "rb") as fh:
                    shutil.copyfileobj(fh, out, 1 << 20)
    warm(os.path.dirname(one))

    def measure(cmds, rounds, check_lines=None):
        """Runs each command once per round, in turn; returns medians and per-round lists."""
        walls = {n: [] for n in cmds}
        cpus = {n: [] for n in cmds}
        cpu = CpuClock()
        for _ in range(rounds):
            for name, cmd in cmds.items():
                cmd, env = cmd if isinstance(cmd, tuple) else (cmd, None)
                cpu.lap()
                wall, out = run_checked(cmd, name, env=env)
                walls[name].append(wall)
                cpus[name].append(cpu.lap())
                if check_lines and name in check_lines:
                    must(out.count(b"\n") >= check_lines[name], name + " did not list every file")
        return walls, cpus

    def ratio_line(label, walls, cpus, name, base):
        w = [x / y for x, y in zip(walls[name], walls[base])]
        c = [x / y for x, y in zip(cpus[name], cpus[base])]
        say("  %-34s %.3f x %s's wall time (rounds %.3f-%.3f); CPU time %.3f x" %
            (label, median(w), base, min(w), max(w), median(c)))

    # The limit: just reading every file (vx-bench-tool read: open, 128 KiB reads, close, on
    # as many threads as the tools run jobs), against which the tools' time is a multiple.
    check_tool = os.path.join(os.path.dirname(build), "vexorin-check")
    tool = os.path.join(os.path.dirname(os.path.dirname(build)), "bench", "vx-bench-tool")
    for label, path in (("tree", tree), ("tree/small", os.path.join(tree, "small")),
                        ("tree/large", os.path.join(tree, "large"))):
        run_checked([build, "--yes", path], "vexorin-build")  # the checker file vexorin-check reads
        n = len([f for f in files_under(path) if os.path.basename(f) != "Vexorin.exe"])
        nbytes = sum(os.path.getsize(f) for f in files_under(path) if os.path.basename(f) != "Vexorin.exe")
        each = 'find "$1" -type f ! -name Vexorin.exe -print0 | xargs -0 '
        cmds = {
            "just reading": [tool, "read", path, str(cores)],
            "md5sum": ["sh", "-c", each + "md5sum", "sh", path],
            "openssl md5": ["sh", "-c", each + "openssl md5", "sh", path],
            "md5deep": [md5deep, "-r", "-j%d" % cores, path],
            "vexorin-build": [build, "--yes", path],
            "vexorin-check": [check_tool, os.path.join(path, "Vexorin.exe")],
        }
        walls, cpus = measure(cmds, a.rounds, {"md5sum": n, "openssl md5": n, "md5deep": n})
        say("%s: %d files, %d bytes, page cache, %d rounds, %d cores; median wall (CPU):" % (label, n, nbytes, a.rounds, cores))
        for name in cmds:
            shown = {"md5deep": "md5deep -r -j%d" % cores, "just reading": "just reading, %d threads" % cores}
            say("  %-34s wall %.3f s (CPU %.3f s)" % (shown.get(name, name), median(walls[name]), median(cpus[name])))
        for name in ("vexorin-build", "vexorin-check"):
            for base in ("just reading", "md5deep", "md5sum", "openssl md5"):
                ratio_line(name, walls, cpus, name, base)
        os.remove(os.path.join(path, "Vexorin.exe"))

    jobs = [1, 2] + [j for j in (4, 8) if j <= cores]
    cmds = {"--jobs %d" % j: [build, "--yes", "--jobs", str(j), tree] for j in jobs}
    # The threads without lanes, then every lane width the tools may pick (the CPU's widest
    # is what runs by default; a width this CPU lacks runs the next narrower one).
    # Then every kernel by name (a name the program does not know makes it list them): each
    # width that has two kernels, one gathering the message words and one transposing the
    # blocks, runs both.
    _, _, err, _ = timed([build, "--yes", tree], env=dict(os.environ, VEXORIN_LANES="?"))
    named = (err.decode("ascii", "replace").split("name of a kernel", 1)[-1].splitlines() or [""])[0]
    kernels = [k.strip() for k in named.lstrip(":").split(",") if k.strip()]
    for lanes in ["0", "4", "8", "16", "32"] + kernels:
        env = dict(os.environ, VEXORIN_LANES=lanes)
        cmds["--jobs %d, lanes %s" % (cores, lanes)] = ([build, "--yes", "--jobs", str(cores), tree], env)
    walls, cpus = measure(cmds, a.rounds)
    say("scaling on tree (median wall, CPU, wall speed-up over --jobs 1; lanes: VEXORIN_LANES):")
    for name in cmds:
        say("  vexorin-build %-32s wall %.3f s  CPU %.3f s  %.2f x" %
            (name, median(walls[name]), median(cpus[name]), median(walls["--jobs 1"]) / median(walls[name])))

    folder = os.path.dirname(one)
    cmds = {
        "vexorin-build --jobs 1": [build, "--yes", "--jobs", "1", folder],
        "vexorin-build": [build, "--yes", folder],
        "openssl md5": [openssl, "md5", one],
        "md5sum": ["md5sum", one],
    }
    walls, cpus = measure(cmds, a.rounds)
    say("one file of %d bytes, page cache (median wall, CPU):" % os.path.getsize(one))
    for name in cmds:
        say("  %-34s wall %.3f s (CPU %.3f s)" % (name, median(walls[name]), median(cpus[name])))
    for name in ("vexorin-build --jobs 1", "vexorin-build"):
        w = [y / x for x, y in zip(walls[name], walls["openssl md5"])]
        c = [y / x for x, y in zip(cpus[name], cpus["openssl md5"])]
        say("  %-34s %.3f x openssl md5's speed, wall (rounds %.3f-%.3f); CPU %.3f x" %
            (name, median(w), min(w), max(w), median(c)))
    os.remove(os.path.join(folder, "Vexorin.exe"))


def wine_steps(a, work, tree, build, win_build, checker, driver, say):
    env = dict(os.environ, LC_ALL="ja_JP.UTF-8", LANG="ja_JP.UTF-8", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=",
               WINEPREFIX=os.path.join(tempfile.gettempdir(), "vexorin-wine-bench-%d" % os.getuid()))
    env.pop("DISPLAY", None)
    # A persistent wineserver of a prefix of our own, so that no run pays for starting it
    # and its CPU time can be read (it does part of every Wine program's work).
    subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env)
    server = subprocess.Popen(["wineserver", "-p", "-f"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    must(server.poll() is None, "another wineserver holds the benchmark's Wine prefix")
    # Wine's helper processes start with the first program; they should not be timed.
    timed(["wine", win_build, "--help"], env=env)
    ticks = os.sysconf("SC_CLK_TCK")

    def server_cpu():
        with open("/proc/%d/stat" % server.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / ticks  # utime and stime

    xvfb = None
    try:
        # 4. The Windows vexorin-build under Wine against the native one, on the large files.
        large = os.path.join(tree, "large")
        one = os.path.join(work, "one")
        nbytes = sum(os.path.getsize(f) for f in files_under(large))
        nlarge = len(files_under(large))
        names = ("native", "wine", "start", "native1", "wine1")
        rows = {n: [] for n in names}
        cpus = {n: [] for n in names}
        cpu = CpuClock()
        for r in range(a.rounds):
            for name, cmd, e in (("native", [build, "--yes", large], None),
                                 ("wine", ["wine", win_build, "--yes", wine_path(large)], env),
                                 ("start", ["wine", win_build, "--help"], env),
                                 ("native1", [build, "--yes", one], None),
                                 ("wine1", ["wine", win_build, "--yes", wine_path(one)], env)):
                before = server_cpu()
                cpu.lap()
                rows[name].append(run_checked(cmd, name + " vexorin-build", env=e)[0])
                cpus[name].append(cpu.lap() + server_cpu() - before)
            log("round %d: native %.3f s, Wine %.3f s, Wine start-up %.3f s; one file: native %.3f s, "
                "Wine %.3f s (wall)" % (r + 1, rows["native"][-1], rows["wine"][-1], rows["start"][-1],
                                        rows["native1"][-1], rows["wine1"][-1]))
        say("tree/large: %d bytes; vexorin-build native: CPU %.3f s, wall %.3f s; Windows build under Wine: "
            "CPU %.3f s, wall %.3f s; Wine start-up alone (--help): CPU %.3f s, wall %.3f s" %
            (nbytes, median(cpus["native"]), median(rows["native"]), median(cpus["wine"]), median(rows["wine"]),
             median(cpus["start"]), median(rows["start"])))
        for label, d in (("CPU", cpus), ("wall", rows)):
            ratios = [w / n for w, n in zip(d["wine"], d["native"])]
            net = [(w - st) / n for w, st, n in zip(d["wine"], d["start"], d["native"])]
            say("  Wine / native, %s time: %.3f x (rounds %.3f-%.3f); less Wine's start-up %.3f x" %
                (label, median(ratios), min(ratios), max(ratios), median(net)))
        say("the same 1 GiB as one file: native CPU %.3f s, wall %.3f s; under Wine CPU %.3f s, wall %.3f s" %
            (median(cpus["native1"]), median(rows["native1"]), median(cpus["wine1"]), median(rows["wine1"])))
        for label, d in (("CPU", cpus), ("wall", rows)):
            ratios = [w / n for w, n in zip(d["wine1"], d["native1"])]
            net = [(w - st) / n for w, st, n in zip(d["wine1"], d["start"], d["native1"])]
            # What the 1,000 files cost beyond the one file, under Wine less natively.
            per_file = [((w - w1) - (n - n1)) / (nlarge - 1)
                        for w, w1, n, n1 in zip(d["wine"], d["wine1"], d["native"], d["native1"])]
            say("  Wine / native, %s time: %.3f x (rounds %.3f-%.3f); less Wine's start-up %.3f x; "
                "Wine's extra %s time per file opened: %.0f us" %
                (label, median(ratios), min(ratios), max(ratios), median(net), label, median(per_file) * 1e6))

        # 5. The real checker on 2,000 small files, against 20, so that Wine's and the
        # dialog's start-up cancel out.
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        display = b""
        while not display.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            must(chunk, "Xvfb did not start")
            display += chunk
        os.close(read_end)
        env["DISPLAY"] = ":" + display.decode().strip()
        times = {}
        for name, count in (("wine20", 20), ("wine2000", 2000)):
            folder = os.path.join(work, name)
            run_checked([build, "--yes", "--image", checker, folder], "vexorin-build")
            script = os.path.join(work, name + ".txt")
            with open(script, "w", encoding="utf-8") as f:
                f.write('timeout 600000\nstart "%s" -\nwait-box\npress OK\nexpect-exit 0 10000\n' %
                        wine_path(os.path.join(folder, "Vexorin.exe")).replace("\\", "\\\\"))
            times[count] = []
            for r in range(max(3, a.rounds // 2)):
                wall, out = run_checked(["wine", driver, wine_path(script)], "the checker under Wine", env=env)
                text = out.decode("utf-8", "replace")
                must("caption=チェック終了" in text, "the checker did not end with its success box:\n" + text[-2000:])
                times[count].append(wall)
                log("checker under Wine, %d files: %.3f s" % (count, wall))
        per_file = (median(times[2000]) - median(times[20])) / (2000 - 20)
        say("checker under Wine: %.2f s for 2,000 files, %.2f s for 20; %.2f ms per file (%.0f files per second)" %
            (median(times[2000]), median(times[20]), per_file * 1000, 1 / per_file))
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        server.wait()


if __name__ == "__main__":
    main()
