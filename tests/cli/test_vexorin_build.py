#!/usr/bin/env python3
"""End-to-end tests of vexorin-build: natively over real trees against md5sum, and the
Windows build under Wine with Japanese names.

usage: test_vexorin_build.py --build PATH [--windows-build DIR]
"""
import argparse
import hashlib
import os
import pathlib
import pty
import random
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from checkfile_reader import DEFAULT_MESSAGES, CheckFile  # noqa: E402
from checks import Checks, check  # noqa: E402
from terminal import read_to_end  # noqa: E402


def sjis(text):
    return text.encode("cp932")


class Tree:
    def __init__(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vxcli-"))

    def write(self, rel, data):
        p = self.root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


def run(tool, *args, stdin=subprocess.DEVNULL):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    return subprocess.run([tool, *args], stdin=stdin, capture_output=True, env=env, timeout=300)


def md5sums(root):
    """md5sum over every file, keyed by the path stored the checker's way (cp932, backslashes)."""
    out = {}
    files = [p for p in root.rglob("*") if p.is_file() and not p.is_symlink()]
    listing = subprocess.run(["md5sum", "--", *map(str, files)], capture_output=True, check=True, text=True)
    for line in listing.stdout.splitlines():
        digest, path = line.split("  ", 1)
        rel = pathlib.Path(path).relative_to(root)
        out[sjis("\\".join(rel.parts))] = digest
    return out


def digests_of_a_few_hundred_files_match_md5sum(tool, image):
    tree = Tree()
    try:
        rng = random.Random(7)
        total = 0
        for i in range(300):
            depth = rng.randrange(4)
            rel = "/".join(f"d{rng.randrange(5)}" for _ in range(depth))
            size = rng.choice([0, 1, 63, 64, 65, 1000, 262143, 262144, 262145, rng.randrange(600000)])
            name = (rel + "/" if rel else "") + f"f{i}.bin"
            tree.write(name, rng.randbytes(size))
        (tree.root / "empty" / "deeper").mkdir(parents=True)
        for p in tree.root.rglob("*.bin"):
            total += p.stat().st_size
        r = run(tool, "--yes", str(tree.root))
        check(r.returncode == 0, f"exit {r.returncode}: {r.stderr.decode()}")
        cf = CheckFile.load(tree.root / "Vexorin.exe")
        expected = md5sums(tree.root)
        del expected[b"Vexorin.exe"]
        check(cf.files == expected, "digests differ from md5sum")
        check(len(cf.records) == len(expected), "a file is listed twice")
        check(cf.total == total, f"byte total {cf.total} != {total}")
        folders = {sjis("\\".join(p.relative_to(tree.root).parts)) + b"\\" for p in tree.root.rglob("*") if p.is_dir()}
        check(set(cf.folders) == folders, "folder records differ")
        check(cf.folders.index(b"empty\\deeper\\") < cf.folders.index(b"empty\\"), "folders come after their contents")
        check(cf.messages == [sjis(m) for m in DEFAULT_MESSAGES], "default messages")
        if image:
            check(cf.image == pathlib.Path(image).read_bytes(), "the built-in checker image is written unchanged")
        check("成功: ファイルチェッカーが正常に作成できました." in r.stderr.decode(), "success text on stderr")
    finally:
        tree.cleanup()


def exit_codes_and_refusals(tool, image):
    tree = Tree()
    try:
        check(run(tool).returncode == 2, "no folder is a usage error")
        check(run(tool, "--bogus", str(tree.root)).returncode == 2, "unknown option")
        check(run(tool, "--name", "a|b.exe", str(tree.root)).returncode == 2, "forbidden name")
        check(run(tool, str(tree.root / "missing")).returncode == 1, "missing folder")
        r = run(tool, str(tree.root))
        check(r.returncode == 1, "empty folder is refused")
        check("エラー: 対象フォルダにファイルやフォルダがありません." in r.stderr.decode(), r.stderr.decode())
        check(not (tree.root / "Vexorin.exe").exists(), "nothing written")

        tree.write("a.txt", b"a")
        r = run(tool, "--name", "한.exe", str(tree.root))
        check(r.returncode == 1 and "한.exe" in r.stderr.decode(), "a name outside code page 932 is named")
        check(sorted(os.listdir(tree.root)) == ["a.txt"], "nothing written for a bad name")

        tree.write("Vexorin.exe", b"old checker")
        r = run(tool, str(tree.root))
        check(r.returncode == 1, "no terminal and no --yes: refused")
        check("上書き確認: Vexorin.exe に上書きしますか？" in r.stderr.decode(), r.stderr.decode())
        check((tree.root / "Vexorin.exe").read_bytes() == b"old checker", "old checker unchanged")
    finally:
        tree.cleanup()


def messages_and_name_are_stored_in_code_page_932(tool, image):
    tree = Tree()
    try:
        tree.write("表.txt", b"x")
        tree.write("ソフト/データ.bin", b"y")
        r = run(tool, "--name", "チェック.exe", "--folder-message", "一行目\n二行目",
                "--nofile-message", "a\r\nb", "--broken-message", "", str(tree.root))
        check(r.returncode == 0, r.stderr.decode())
        cf = CheckFile.load(tree.root / "チェック.exe")
        check(cf.messages == [sjis("一行目\n二行目"), b"a\nb", b""], f"messages {cf.messages}")
        check(set(cf.files) == {b"\x95\x5c.txt", sjis("ソフト\\データ.bin")}, f"paths {list(cf.files)}")
        check(cf.folders == [b"\x83\x5c\x83t\x83g\\"], "folder bytes")
    finally:
        tree.cleanup()


def the_overwrite_question_is_asked_on_a_terminal(tool, image):
    tree = Tree()
    try:
        tree.write("a.txt", b"a")
        tree.write("Vexorin.exe", b"old")
        for answer, code, replaced in ((b"n\n", 1, False), (b"y\n", 0, True)):
            pid, fd = pty.fork()
            if pid == 0:
                os.environ["LC_ALL"] = "C.UTF-8"
                os.execv(tool, [tool, str(tree.root)])
            seen = b""
            while b"[y/N]" not in seen:
                seen += os.read(fd, 1024)
            os.write(fd, answer)
            read_to_end(fd)
            _, status = os.waitpid(pid, 0)
            check(os.waitstatus_to_exitcode(status) == code, f"answer {answer!r}")
            check(((tree.root / "Vexorin.exe").read_bytes() != b"old") == replaced, f"answer {answer!r}")
    finally:
        tree.cleanup()


def windows_build_under_wine_stores_the_same_data(tool, windows_build, wine):
    exe = pathlib.Path(windows_build) / "cli" / "vexorin-build.exe"
    tree = Tree()
    try:
        tree.write("表.txt", b"hyou")
        tree.write("ソフト/readme.txt", b"soft")
        tree.write("ソフト/空/empty.bin", b"")
        env = dict(wine.env, LC_ALL="ja_JP.UTF-8")
        winpath = "Z:" + str(tree.root).replace("/", "\\")
        for i in range(12):
            tree.write(f"ソフト/n{i}.bin", bytes([i]) * (i * 50000))
        written = {}
        for jobs in ("3", "1"):  # Win32 threads, then one file after another: the same bytes
            r = subprocess.run(wine.command(exe, "--yes", "--jobs", jobs, winpath), capture_output=True,
                               env=env, timeout=300)
            check(r.returncode == 0, f"exit {r.returncode}: {r.stderr!r}")
            check(sjis("成功: ファイルチェッカーが正常に作成できました.") in r.stderr,
                  "messages reach a redirected stderr as code page 932")
            written[jobs] = (tree.root / "Vexorin.exe").read_bytes()
            (tree.root / "Vexorin.exe").unlink()
        check(written["3"] == written["1"], "--jobs 3 under Wine writes what --jobs 1 writes")
        wine_data = CheckFile(written["3"])
        r = run(tool, str(tree.root))
        check(r.returncode == 0, r.stderr.decode())
        native = CheckFile.load(tree.root / "Vexorin.exe")
        check(wine_data.files == native.files, "same records under Wine and natively")
        check(set(wine_data.folders) == set(native.folders), "same folders")
        check(b"\x95\x5c.txt" in wine_data.files, "表 is stored as 0x95 0x5C")
        check(sjis("ソフト\\空\\") in wine_data.folders, "nested Japanese folder")
        check(wine_data.messages == native.messages and wine_data.total == native.total, "messages and total")
        check(wine_data.image == (pathlib.Path(windows_build) / "checker" / "vexorin-checker.exe").read_bytes(),
              "the Windows build carries the checker as its resource")
    finally:
        tree.cleanup()


def windows_build_on_a_system_without_code_page_932(tool, windows_build, wine):
    """With Wine's ANSI code page 1252 the stored data must still be code page 932, also when
    the target folder's own path has a character that code page 932 lacks."""
    exe = pathlib.Path(windows_build) / "cli" / "vexorin-build.exe"
    tree = Tree()
    try:
        target = tree.root / "한"
        (target / "ソフト").mkdir(parents=True)
        (target / "表.txt").write_bytes(b"hyou")
        (target / "ソフト" / "x.txt").write_bytes(b"x")
        env = dict(wine.env, LC_ALL="C.UTF-8")
        winpath = "Z:" + str(target).replace("/", "\\")
        r = subprocess.run(wine.command(exe, "--yes", "--name", "表.exe", winpath), capture_output=True,
                           env=env, timeout=300)
        check(r.returncode == 0, f"exit {r.returncode}: {r.stderr!r}")
        cf = CheckFile.load(target / "表.exe")
        check(set(cf.files) == {b"\x95\x5c.txt", sjis("ソフト\\x.txt")}, f"paths {list(cf.files)}")
        check(cf.folders == [sjis("ソフト\\")], f"folders {cf.folders}")

        (target / "한.txt").write_bytes(b"k")
        r = subprocess.run(wine.command(exe, "--yes", winpath), capture_output=True, env=env, timeout=300)
        check(r.returncode == 0, f"a name outside code page 932 is stored: {r.stderr!r}")
        check(CheckFile.load(target / "Vexorin.exe").utf8_files == {"한.txt": hashlib.md5(b"k").hexdigest()},
              "in the UTF-8 records")
    finally:
        tree.cleanup()


def both_builds_store_the_same_names_and_name_them_whole(tool, windows_build, wine):
    """One tree built natively and by the Windows build under Wine into the same records: 〜
    (U+301C, which code page 932 can only take one way), é, 한글 and an emoji stored in UTF-8,
    each named whole in a line of the build; the twin ～ (U+FF5E) in the code-page-932 records."""
    exe = pathlib.Path(windows_build) / "cli" / "vexorin-build.exe"
    tree = Tree()
    try:
        tree.write("ソフト/表.txt", b"hyou")
        tree.write("ソフト/ver1.0～2.0.txt", b"x")
        names = ("ver1.0〜2.0.txt", "café.txt", "한글.txt", "\U0001F600.txt")
        for name in names:
            tree.write("ソフト/" + name, name.encode())
        native = run(tool, "--yes", str(tree.root))
        shown = native.stderr.decode()
        check(native.returncode == 0 and all(f"ソフト\\{name} の名前はシフトJISで書けないため" in shown for name in names),
              f"natively: {native.returncode} {shown}")
        native_data = CheckFile.load(tree.root / "Vexorin.exe")
        (tree.root / "Vexorin.exe").unlink()
        # Code page 1252 can show é in the redirected output.
        winpath = "Z:" + str(tree.root).replace("/", "\\")
        windows = subprocess.run(wine.command(exe, "--yes", winpath), capture_output=True,
                                 env=dict(wine.env, LC_ALL="C.UTF-8"), timeout=300)
        shown = windows.stderr.decode("cp1252", errors="replace")
        check(windows.returncode == 0 and "\\café.txt " in shown, f"under Wine: {windows.returncode} {shown}")
        windows_data = CheckFile.load(tree.root / "Vexorin.exe")
        # The same records, in whatever order each system lists the folders.
        for part in ("files", "folders", "utf8_files", "utf8_folders", "total"):
            n, w = getattr(native_data, part), getattr(windows_data, part)
            check(sorted(n) == sorted(w) if isinstance(n, list) else n == w, f"{part}: {n} {w}")
        check(set(native_data.utf8_files) == {"ソフト\\" + name for name in names} and
              sjis("ソフト\\ver1.0～2.0.txt") in native_data.files, f"{native_data.files} {native_data.utf8_files}")
    finally:
        tree.cleanup()


def both_builds_take_a_folder_deeper_than_260_bytes(tool, windows_build, wine):
    """A folder more than 300 bytes deep (code page 932) builds under Wine as natively, into the
    same records: the build's limit is the checker's, not Windows's 260."""
    exe = pathlib.Path(windows_build) / "cli" / "vexorin-build.exe"
    tree = Tree()
    try:
        deep = tree.root.joinpath(*["長いフォルダの名前" * 2] * 8)
        check(len(str(deep).encode("cp932")) > 300, str(deep))
        for rel, data in {"表.txt": b"hyou", "ソフト/readme.txt": b"soft"}.items():
            (deep / rel).parent.mkdir(parents=True, exist_ok=True)
            (deep / rel).write_bytes(data)
        r = subprocess.run(wine.command(exe, "--yes", "Z:" + str(deep).replace("/", "\\")), capture_output=True,
                           env=dict(wine.env, LC_ALL="ja_JP.UTF-8"), timeout=300)
        check(r.returncode == 0, f"under Wine: {r.returncode} {r.stderr.decode('cp932', 'replace')}")
        windows_data = CheckFile.load(deep / "Vexorin.exe")
        r = run(tool, "--yes", str(deep))
        check(r.returncode == 0, f"natively: {r.stderr.decode()}")
        native_data = CheckFile.load(deep / "Vexorin.exe")
        check(native_data.files == windows_data.files and len(native_data.files) == 2,
              f"{native_data.files} {windows_data.files}")
    finally:
        tree.cleanup()


def write_sparse(path, size, marks):
    """A file of `size` bytes holding `marks` (offset -> bytes) and holes between them."""
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in marks.items():
            f.seek(offset)
            f.write(data)


def jobs_1_and_4_write_the_same_checker_file(tool, image):
    """Byte for byte the same checker from one job and from four, over empty files, sizes
    around the 256 KiB chunk, a sparse file above 4 GiB, Japanese names (表 ends in 0x5C)
    and many small files that the jobs finish out of order; and the same log on redirected
    standard error, a line per file in scan order (the concurrent build writes them in
    batches), then the completion line."""
    tree = Tree()
    try:
        rng = random.Random(14)
        for size in (0, 1, 262143, 262144, 262145, 524288, 524289):
            tree.write(f"ソフト/size{size}.bin", rng.randbytes(size))
        tree.write("表.txt", b"hyou")
        tree.write("ソフト/空/empty.bin", b"")
        for i in range(200):
            tree.write(f"d{i % 7}/f{i}.bin", rng.randbytes(rng.choice([0, 64, 1000, rng.randrange(70000)])))
        huge = (1 << 32) + 1000000
        write_sparse(tree.root / "huge.bin", huge, {0: b"head", (1 << 32) - 3: b"across 4 GiB", huge - 4: b"tail"})
        built, logs = {}, {}
        for jobs in ("1", "4"):
            r = run(tool, "--yes", "--jobs", jobs, str(tree.root))
            check(r.returncode == 0, f"--jobs {jobs}: exit {r.returncode}: {r.stderr.decode()}")
            built[jobs] = (tree.root / "Vexorin.exe").read_bytes()
            logs[jobs] = r.stderr.decode().splitlines()
            (tree.root / "Vexorin.exe").unlink()
        check(built["1"] == built["4"], "--jobs 4 writes what --jobs 1 writes")
        check(logs["1"] == logs["4"], "--jobs 4 logs what --jobs 1 logs")
        lines = [line for line in logs["4"] if "を処理中..." in line]
        after = logs["4"].index(lines[-1]) + 1 if lines else 0
        check(len(lines) == 210 and "(210/210)" in lines[-1] and logs["4"][after:after + 1] == ["処理が完了しました."],
              "a line per file, the last before the completion line: " + "\n".join(logs["4"][-3:]))
        cf = CheckFile(built["4"])
        check(cf.total > 1 << 32 and len(cf.records) == 210, "every file is listed, the huge one counted")
    finally:
        tree.cleanup()


def the_first_unopenable_file_in_scan_order_is_reported(tool, image):
    """Two links that lead nowhere among many files: one job or four, the one reported is
    the first that the scan lists, and nothing is written."""
    tree = Tree()
    try:
        rng = random.Random(15)
        for i in range(60):
            tree.write(f"f{i:02}.bin", rng.randbytes(rng.randrange(300000)))
        os.symlink("gone-1", tree.root / "broken-1")
        os.symlink("gone-2", tree.root / "broken-2")
        order = [n for n in os.listdir(tree.root) if n.startswith("broken-")]  # readdir's order, as the scan's
        before = sorted(os.listdir(tree.root))
        for jobs in ("1", "4"):
            r = run(tool, "--yes", "--jobs", jobs, str(tree.root))
            err = r.stderr.decode()
            check(r.returncode == 1, f"--jobs {jobs}: exit {r.returncode}")
            check(f"エラー: {order[0]} のオープンに失敗しました." in err, f"--jobs {jobs}: {err}")
            check(order[1] not in err, f"--jobs {jobs}: only the first is reported: {err}")
            check(sorted(os.listdir(tree.root)) == before, f"--jobs {jobs}: nothing written")
    finally:
        tree.cleanup()


def ctrl_c_mid_build_leaves_the_folder_as_it_was(tool, image):
    """Ctrl+C on the terminal while a large file is read: one job or two, the build stops
    (exit 130), the old checker and everything else stay as they were, and the progress
    line shown until then counted bytes and files honestly."""
    tree = Tree()
    try:
        size = 3 << 30
        write_sparse(tree.root / "big.bin", size, {0: b"head", size - 4: b"tail"})
        tree.write("a.txt", b"a")
        tree.write("sub/b.txt", b"b")
        tree.write("Vexorin.exe", b"old checker")
        def snapshot():  # the big file by its size and time: reading it would take longer than the test
            return {p: (p.stat().st_size, p.stat().st_mtime_ns, p.read_bytes() if p.is_file() and p.stat().st_size < 100 else None)
                    for p in tree.root.rglob("*")}

        before = snapshot()
        for jobs in ("1", "2"):
            pid, fd = pty.fork()
            if pid == 0:
                os.environ["LC_ALL"] = "C.UTF-8"
                os.execv(tool, [tool, "--yes", "--jobs", jobs, str(tree.root)])
            seen = b""
            shown = []
            while True:
                seen += os.read(fd, 4096)
                shown = re.findall(rb"(\d+) KByte processed\. \((\d+)/(\d+)\)", seen)
                if shown and int(shown[-1][0]) > 0:
                    break
            os.write(fd, b"\x03")  # the terminal's interrupt character: SIGINT to the build
            seen += read_to_end(fd)
            _, status = os.waitpid(pid, 0)
            os.close(fd)
            code = os.waitstatus_to_exitcode(status)
            check(code == 130, f"--jobs {jobs}: exit {code}: {seen[-300:]!r}")
            check(b"cancelled" in seen, f"--jobs {jobs}: says so")
            for kbytes, done, count in shown:
                check(int(count) == 3 and int(done) <= 3 and int(kbytes) <= size // 1024,
                      f"--jobs {jobs}: progress {kbytes} KByte, {done}/{count}")
            check(snapshot() == before, f"--jobs {jobs}: the folder is as it was")
    finally:
        tree.cleanup()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--image", default="")
    ap.add_argument("--windows-build", default="")
    a = ap.parse_args()
    t = Checks()
    t.case(digests_of_a_few_hundred_files_match_md5sum, a.build, a.image)
    t.case(exit_codes_and_refusals, a.build, a.image)
    t.case(messages_and_name_are_stored_in_code_page_932, a.build, a.image)
    t.case(the_overwrite_question_is_asked_on_a_terminal, a.build, a.image)
    t.case(jobs_1_and_4_write_the_same_checker_file, a.build, a.image)
    t.case(the_first_unopenable_file_in_scan_order_is_reported, a.build, a.image)
    t.case(ctrl_c_mid_build_leaves_the_folder_as_it_was, a.build, a.image)
    if a.windows_build:
        # The Wine tests' own session: the Windows build this machine can run, in its prefix.
        from harness import WineSession

        with WineSession(build_dir=str(pathlib.Path(a.windows_build) / "tests" / "wine")) as wine:
            t.case(windows_build_under_wine_stores_the_same_data, a.build, a.windows_build, wine)
            t.case(windows_build_on_a_system_without_code_page_932, a.build, a.windows_build, wine)
            t.case(both_builds_store_the_same_names_and_name_them_whole, a.build, a.windows_build, wine)
            t.case(both_builds_take_a_folder_deeper_than_260_bytes, a.build, a.windows_build, wine)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
