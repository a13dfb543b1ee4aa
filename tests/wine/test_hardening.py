#!/usr/bin/env python3
"""The Windows programs under Wine where the file system works against them: a file that
another process holds open without sharing, a sparse file above 4 GiB, folder links
(a link to an ancestor, one to a folder outside the tree, one that leads nowhere), and a
Ctrl+C on the console in the middle of a build.

The builds run vexorin-build.exe (with the checker built in) on Wine's Z: drive; the checker
is started and read through vxdriver.exe. A small helper program, compiled here with the
MinGW-w64 compiler of the Windows build that Wine runs, holds a file open without sharing and lists a folder the way
FindFirstFileW reports it.

usage: test_hardening.py --windows-build build/windows [--cc MINGW_GCC] [-k NAME]
Runs in a Wine session of tests/support/harness.py (Xvfb when DISPLAY is not usable, the
ja_JP.UTF-8 locale, the prefix beside the driver that the other Wine tests share).
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import os
import pathlib
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checkfile_reader import TWO_LINES, CheckFile  # noqa: E402
from checks import run_scenarios  # noqa: E402
from drive_checker import SUCCESS_BOX, Run, error_box, expect_run, start  # noqa: E402
from harness import WineSession, to_wine_path  # noqa: E402
from terminal import read_to_end  # noqa: E402
from trees import write_tree  # noqa: E402
from wine_helper import build_helper  # noqa: E402

FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_REPARSE_POINT = 0x400


class Session:
    """The Wine session, the programs and the helper, shared by all scenarios."""

    def __init__(self, args):
        self.args = args
        build = pathlib.Path(args.windows_build).resolve()
        self.builder = build / "cli" / "vexorin-build.exe"
        self.driver = build / "tests" / "wine" / "vxdriver.exe"
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vxhard-"))
        self.wine = WineSession(build_dir=str(self.driver.parent))
        self.helper = build_helper(args.cc or self.wine.arch.cc, str(self.root))
        self.wine.start()

    def close(self):
        self.wine.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def folder(self, name, files):
        """A fresh folder below the session's root, with `files` {relative path: bytes}."""
        path = self.root / name
        path.mkdir()
        write_tree(str(path), files)
        return path

    def build(self, folder, *extra):
        """vexorin-build.exe under Wine; returns (exit code, stderr as text)."""
        r = subprocess.run(self.wine.command(self.builder, "--yes", *extra, to_wine_path(folder)),
                           stdin=subprocess.DEVNULL, capture_output=True, env=self.wine.env, timeout=600)
        return r.returncode, r.stderr.decode("cp932", "replace")

    def hold(self, path):
        """Starts the helper holding `path` open without sharing; returns it once it holds."""
        helper = subprocess.Popen(self.wine.command(self.helper, "hold", to_wine_path(path)), env=self.wine.env,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = helper.stdout.readline().decode().strip()
        if line != "HELD":
            release(helper)
            raise RuntimeError("the helper could not hold %s: %r" % (path, line))
        return helper

    def listing(self, folder):
        """{name: (attributes, reparse tag, identity)} as FindFirstFileW lists `folder`."""
        r = subprocess.run(self.wine.command(self.helper, "list", to_wine_path(folder)), stdin=subprocess.DEVNULL,
                           capture_output=True, env=self.wine.env, timeout=120)
        entries = {}
        for line in r.stdout.decode("utf-8").splitlines():
            attributes, tag, identity, name = line.split(" ", 3)
            entries[name] = (int(attributes, 16), int(tag, 16), identity)
        return entries

    def drive(self, lines, timeout=240):
        return Run(self.wine.run_driver(str(self.driver), "\n".join(lines), timeout=timeout))


def release(helper):
    helper.stdin.close()
    helper.wait(timeout=60)


def run_checker(s, exe):
    return s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1000", "expect-exit 0 10000"])


# --- Scenarios --------------------------------------------------------------------------------

def held_file_stops_the_build(s, t):
    """A file held open without sharing cannot be opened: the build names it, writes nothing and
    keeps the old checker; once the file is let go, the same build succeeds."""
    name = "held file, vexorin-build.exe"
    folder = s.folder("held-build", {"a.txt": b"a", "locked.bin": b"locked", "Vexorin.exe": b"old checker"})
    before = sorted(os.listdir(folder))
    helper = s.hold(folder / "locked.bin")
    try:
        code, err = s.build(folder)
    finally:
        release(helper)
    t.check(name + ": exit 1", code == 1, "exit %d: %s" % (code, err))
    t.check(name + ": the open-failure warning names the file",
            "エラー: locked.bin のオープンに失敗しました." in err, err)
    t.check(name + ": no success", "成功" not in err, err)
    t.check(name + ": the old checker is kept byte for byte",
            (folder / "Vexorin.exe").read_bytes() == b"old checker")
    t.check(name + ": nothing else is left in the folder", sorted(os.listdir(folder)) == before,
            repr(sorted(os.listdir(folder))))
    code, err = s.build(folder)
    t.check(name + ": let go, the same build succeeds", code == 0 and CheckFile.load(folder / "Vexorin.exe"),
            "exit %d: %s" % (code, err))


def held_file_is_missing_for_the_checker(s, t):
    """The checker opens every file for shared reading; a file another process holds without
    sharing cannot be opened and is reported as missing, as a deleted one would be."""
    name = "held file, checker"
    folder = s.folder("held-check", {"a.txt": b"a", "locked.bin": b"locked", "z.txt": b"z"})
    code, err = s.build(folder)
    if not t.check(name + ": checker built", code == 0, err):
        return
    exe = folder / "Vexorin.exe"
    helper = s.hold(folder / "locked.bin")
    try:
        run = run_checker(s, exe)
    finally:
        release(helper)
    expect_run(t, name, run, [error_box("ファイル locked.bin が見つかりません.\n" + TWO_LINES)])
    expect_run(t, name + " let go", run_checker(s, exe), [SUCCESS_BOX])


def write_sparse(path, size):
    """Data at the start, across the 4 GiB mark and at the end; holes elsewhere."""
    with open(path, "wb") as f:
        f.write(b"head of a huge file")
        f.seek(2**32 - 7)
        f.write(b"across the 4 GiB mark")
        f.truncate(size)
        f.seek(size - 18)
        f.write(b"and its last bytes")


def huge_sparse_file(s, t):
    """A file above 4 GiB under Wine: md5sum's digest, a byte total with its upper half set and
    a progress line that counts past 4 GiB."""
    name = "sparse file above 4 GiB"
    size = 2**32 + 1000000
    folder = s.folder("huge", {"b-after.txt": b"x" * 3000})
    write_sparse(folder / "a-huge.bin", size)
    md5sum = subprocess.Popen(["md5sum", str(folder / "a-huge.bin")], stdout=subprocess.PIPE)
    began = time.time()
    code, err = s.build(folder)
    print("     (vexorin-build.exe over %d bytes: %.1f s)" % (size, time.time() - began))
    expected = md5sum.communicate()[0].decode().split()[0]
    if not t.check(name + ": built", code == 0, err):
        return
    checker = CheckFile.load(folder / "Vexorin.exe")
    t.check(name + ": md5sum's digest", checker.files.get(b"a-huge.bin") == expected,
            "%r != %r" % (checker.files.get(b"a-huge.bin"), expected))
    t.check(name + ": byte total with its upper half set", checker.total == size + 3000 and checker.total >> 32 == 1,
            "total %d" % checker.total)
    # One progress line per file, each with the kilobytes read before it, in the stored order.
    shown = [int(k) for k in re.findall(r"(\d+) KByte processed\.", err)]
    sizes = {b"a-huge.bin": size, b"b-after.txt": 3000}
    before, expected_kbytes = 0, []
    for record in checker.records:
        expected_kbytes.append(before // 1024)
        before += sizes[record[33:]]
    t.check(name + ": each progress line counts the bytes read before it", shown == expected_kbytes,
            "%r != %r" % (shown, expected_kbytes))
    t.check(name + ": a progress line counts past 4 GiB", any(k > 2**32 // 1024 for k in shown), repr(shown))


def ctrl_c_stops_the_build(s, t):
    """Ctrl+C on the console once two jobs have read 100 MB of a large file among small ones:
    the build says it was cancelled, exits 130 and leaves the folder as it was, the old
    checker included."""
    name = "Ctrl+C, vexorin-build.exe --jobs 2"
    folder = s.folder("ctrl-c", dict({"Vexorin.exe": b"old checker"},
                                     **{"small%02d.txt" % i: bytes([i]) * (i * 997) for i in range(40)}))
    write_sparse(folder / "huge.bin", 2**34)
    before = {p.name: p.read_bytes() for p in folder.iterdir() if p.name != "huge.bin"}
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.clear()
        os.environ.update(s.wine.env)
        command = s.wine.command(s.builder, "--yes", "--jobs", "2", to_wine_path(folder))
        os.execvp(command[0], command)
    out, sent = b"", None
    while sent is None:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # EIO: the program ended before it got that far
            break
        out += chunk
        if any(int(k) > 100000 for k in re.findall(rb"(\d+) KByte processed", out)):
            os.write(fd, b"\x03")  # the console's interrupt character
            sent = time.time()
    out += read_to_end(fd)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    text = out.decode("utf-8", "replace")
    t.check(name + ": interrupted mid-build", sent is not None, text[-2000:])
    t.check(name + ": exit status 130 and says nothing was written",
            os.waitstatus_to_exitcode(status) == 130 and "cancelled; nothing was written" in text, text[-2000:])
    if sent is not None:
        print("     (ended %.1f s after the Ctrl+C)" % (time.time() - sent))
    after = {p.name: p.read_bytes() for p in folder.iterdir() if p.name != "huge.bin"}
    t.check(name + ": the folder as it was, the old checker kept", after == before,
            sorted(set(after) ^ set(before)))


def links(s, t):
    """Links under Wine: Wine shows a Linux symbolic link to a folder as a folder. A link to an
    ancestor is listed but not walked, one to a folder outside is walked, and links that lead
    nowhere (a missing target, two links that lead to each other) are not shown at all. The
    checker passes over the same tree."""
    name = "folder links"
    outside = s.folder("links-outside", {"o.txt": b"outside"})
    folder = s.folder("links", {"a.txt": b"a", "sub/b.txt": b"b", "m1/x1.txt": b"1", "m2/x2.txt": b"2"})
    os.symlink("..", folder / "sub" / "up")
    os.symlink(".", folder / "self")
    os.symlink(outside, folder / "outside")
    os.symlink("../m2", folder / "m1" / "to2")
    os.symlink("../m1", folder / "m2" / "to1")
    os.symlink("nothing-there", folder / "dangling")
    os.symlink("loop2", folder / "loop1")
    os.symlink("loop1", folder / "loop2")

    listing = s.listing(folder)
    for link in ("self", "outside"):
        attributes = listing.get(link, (0, 0, ""))[0]
        t.check(name + ": FindFirstFileW reports %s as a folder" % link, attributes & FILE_ATTRIBUTE_DIRECTORY,
                repr(listing.get(link)))
    for link in ("dangling", "loop1", "loop2"):
        t.check(name + ": FindFirstFileW does not list %s, which leads nowhere" % link, link not in listing,
                repr(listing.get(link)))
    t.check(name + ": the link to the folder itself has the folder's identity",
            listing.get("self", (0, 0, "a"))[2] == s.listing(folder / "sub").get("up", (0, 0, "b"))[2],
            repr(listing))
    print("     (FindFirstFileW: %s)" % ", ".join("%s attributes %08x tag %08x" % (n, a, g)
                                                 for n, (a, g, _) in sorted(listing.items())
                                                 if n in ("self", "outside", "sub")))

    code, err = s.build(folder)
    if not t.check(name + ": the scan ends and the build succeeds", code == 0, err):
        return
    checker = CheckFile.load(folder / "Vexorin.exe")
    # Links into each other (m1\to2 is m2, m2\to1 is m1) are walked once from each side.
    folders = [b"m1\\", b"m1\\to2\\", b"m1\\to2\\to1\\", b"m2\\", b"m2\\to1\\", b"m2\\to1\\to2\\",
               b"outside\\", b"self\\", b"sub\\", b"sub\\up\\"]
    files = [b"a.txt", b"m1\\to2\\x2.txt", b"m1\\x1.txt", b"m2\\to1\\x1.txt", b"m2\\x2.txt", b"outside\\o.txt",
             b"sub\\b.txt"]
    t.check(name + ": folders", sorted(checker.folders) == folders, repr(checker.folders))
    t.check(name + ": files, the outside folder's included", sorted(checker.files) == files,
            repr(sorted(checker.files)))
    expect_run(t, name + ", checker", run_checker(s, folder / "Vexorin.exe"), [SUCCESS_BOX])


SCENARIOS = [held_file_stops_the_build, held_file_is_missing_for_the_checker, links, huge_sparse_file,
             ctrl_c_stops_the_build]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--cc", help="the MinGW-w64 C compiler for the helper (default: the one for the Windows build Wine runs)")
    parser.add_argument("-k", dest="only", help="run only scenarios whose name contains this")
    args = parser.parse_args()

    return run_scenarios(SCENARIOS, Session(args), args.only)


if __name__ == "__main__":
    sys.exit(main())
