#!/usr/bin/env python3
"""End-to-end tests of vexorin-check over real trees built by vexorin-build: the checker's
texts and exit statuses, --all, --json, --md5sum against the real md5sum, the default
checker, progress on a terminal, and hostile checker files.

usage: test_vexorin_check.py --check PATH --build PATH
"""
import argparse
import hashlib
import json
import os
import pathlib
import pty
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from checkfile_reader import DEFAULT_MESSAGES, CheckFile  # noqa: E402
from checks import Checks, check  # noqa: E402
from terminal import read_to_end  # noqa: E402

CUSTOM = ["フォルダがない\n二行目", "ファイルがない", "壊れている"]
INTACT = "すべてのファイルは正常です.\n"
LOAD_FAILED = "チェックデータの読み込みに失敗しました.\nVexorin.exeが壊れています.\n"
TREE = {
    "表.txt": b"hyou",
    "ソフト/readme.txt": b"soft",
    "ソフト/深い/data.bin": bytes(range(256)) * 3000,  # more than one checker chunk
    "ソフト/空.txt": b"",
    "z.txt": b"zzz",
}

def run(tool, *args, cwd=None):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    return subprocess.run([tool, *args], stdin=subprocess.DEVNULL, capture_output=True, env=env, cwd=cwd,
                          timeout=120)


class Tree:
    """A tree of TREE's files with a checker built by the real vexorin-build."""

    def __init__(self, build, messages=None, name=None):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vxcheck-")) / "pack"
        for rel, data in TREE.items():
            self.write(rel, data)
        args = ["--yes"]
        if name:
            args += ["--name", name]
        for flag, text in zip(("--folder-message", "--nofile-message", "--broken-message"), messages or []):
            args += [flag, text]
        r = run(build, *args, str(self.root))
        check(r.returncode == 0, f"vexorin-build: {r.stderr.decode()}")
        self.checker = self.root / (name or "Vexorin.exe")

    def write(self, rel, data):
        p = self.root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)

    def cleanup(self):
        shutil.rmtree(self.root.parent, ignore_errors=True)


def checker_file(folders, records, messages=("", "", ""), total=0, image=b"MZ not a real image", extension=None):
    """A checker file of our own making, for data that the maker never writes; `extension` the
    records after a third separator."""
    block = b"".join(f + b"\0" for f in folders) + b"|\0" + b"".join(r + b"\0" for r in records) + b"|\0"
    block += b"".join(m.encode("cp932") + b"\0" for m in messages)
    if extension is not None:
        block += b"".join(r + b"\0" for r in [b"|", *extension])
    return image + block + b"VXR!" + struct.pack("<IQ", len(block), total)


def the_checkers_texts_and_exit_statuses(check_tool, build):
    for messages in (None, CUSTOM):
        shown = messages or DEFAULT_MESSAGES
        tree = Tree(build, messages)
        try:
            r = run(check_tool, cwd=tree.root)
            check((r.returncode, r.stdout.decode(), r.stderr) == (0, INTACT, b""), f"intact: {r}")

            (tree.root / "表.txt").write_bytes(b"hyoU")
            r = run(check_tool, str(tree.checker))
            check(r.returncode == 1, "damaged")
            check(r.stdout.decode() == f"ファイル 表.txt が壊れています.\n{shown[2]}\n", r.stdout.decode())
            (tree.root / "表.txt").write_bytes(TREE["表.txt"])

            (tree.root / "ソフト" / "readme.txt").unlink()
            r = run(check_tool, str(tree.checker))
            check(r.returncode == 1, "missing file")
            check(r.stdout.decode() == f"ファイル ソフト\\readme.txt が見つかりません.\n{shown[1]}\n", r.stdout.decode())

            # The first listed folder that is missing is the deepest one, named with its full path.
            shutil.rmtree(tree.root / "ソフト")
            r = run(check_tool, str(tree.checker))
            check(r.returncode == 1, "missing folder")
            text = f"フォルダ {tree.root}/ソフト/深い/ が見つかりません.\n{shown[0]}\n"  # one separator style
            check(r.stdout.decode() == text, r.stdout.decode())
        finally:
            tree.cleanup()


def all_json_and_md5sum(check_tool, build):
    tree = Tree(build)
    try:
        r = run(check_tool, "--md5sum", cwd=tree.root)
        check(r.returncode == 0, r.stderr.decode())
        (tree.root.parent / "list.md5").write_bytes(r.stdout)
        m = subprocess.run(["md5sum", "-c", "../list.md5"], cwd=tree.root, capture_output=True)
        check(m.returncode == 0 and m.stdout.decode().count(": OK") == len(TREE), m.stdout.decode())
        # Named from elsewhere, the list names the files from there too.
        r = run(check_tool, "--md5sum", "pack/Vexorin.exe", cwd=tree.root.parent)
        check(r.stdout.decode().count("  pack/") == len(TREE), r.stdout.decode())
        m = subprocess.run(["md5sum", "-c", "-"], input=r.stdout, cwd=tree.root.parent, capture_output=True)
        check(m.returncode == 0, m.stdout.decode())

        # Three problems of three kinds; the files of the missing folder count as missing.
        shutil.rmtree(tree.root / "ソフト" / "深い")
        (tree.root / "z.txt").unlink()
        (tree.root / "表.txt").write_bytes(b"changed")
        m = subprocess.run(["md5sum", "-c", "../list.md5"], cwd=tree.root, capture_output=True)
        check(m.returncode == 1, "md5sum sees the problems too")

        stored = CheckFile.load(tree.checker)
        order = [p[33:].decode("cp932").replace("\\", "/") for p in stored.records]
        lost = {"ソフト/深い/data.bin": "見つかりません", "表.txt": "壊れています", "z.txt": "見つかりません"}
        r = run(check_tool, "--all", cwd=tree.root)
        check(r.returncode == 1, "problems found")
        check(r.stdout.decode().splitlines() == [f"フォルダ {tree.root}/ソフト/深い/ が見つかりません."] + [
            f"ファイル {path.replace('/', chr(92))} が{lost[path]}." for path in order if path in lost
        ] + ["2 folders and 5 files checked, 4 problems found"], r.stdout.decode())

        r = run(check_tool, "--json", cwd=tree.root)
        check(r.returncode == 1, "problems found")
        report = json.loads(r.stdout.decode("utf-8"))
        check(report["checker"] == str(tree.checker) and report["folder"] == str(tree.root), report)
        check((report["outcome"], report["folders"], report["files"], report["problemCount"]) ==
              ("problems", 2, 5, 4), report)
        kinds = {(p["kind"], p["path"]) for p in report["problems"]}
        check(kinds == {("missing-folder", "ソフト/深い/"), ("missing-file", "ソフト/深い/data.bin"),
                        ("damaged-file", "表.txt"), ("missing-file", "z.txt")}, kinds)
        files = [p["path"] for p in report["problems"] if p["kind"] != "missing-folder"]
        check(files == sorted(files, key=order.index), "files in stored order")
        damaged = next(p for p in report["problems"] if p["kind"] == "damaged-file")
        check(damaged["expected"] == stored.files["表.txt".encode("cp932")], "expected digest as stored")
        check(damaged["actual"] == hashlib.md5(b"changed").hexdigest(), "actual digest of the file")
    finally:
        tree.cleanup()


def unlisted_files_are_information_only(check_tool, build):
    tree = Tree(build)
    try:
        # What an older version left behind, and what systems and unpackers leave.
        tree.write("old.dll", b"stale")
        tree.write("ソフト/古い/a.txt", b"stale")
        tree.write("ソフト/古い/b.txt", b"stale")
        for litter in ("Thumbs.db", "ソフト/DESKTOP.INI", "ソフト/深い/.DS_Store", "._表.txt", "__MACOSX/._z.txt"):
            tree.write(litter, b"litter")
        tree.write("._nothing.txt", b"beside no listed file")
        r = run(check_tool, "--all", str(tree.checker))
        want = "not listed: ._nothing.txt\nnot listed: old.dll\nnot listed: ソフト/古い/\n"
        check(r.returncode == 0 and r.stdout.decode().endswith("0 problems found\n" + want), r.stdout.decode())
        r = run(check_tool, "--json", str(tree.checker))
        check(json.loads(r.stdout)["unlisted"] == [{"path": "._nothing.txt", "folder": False},
                                                   {"path": "old.dll", "folder": False},
                                                   {"path": "ソフト/古い/", "folder": True}], r.stdout.decode())
        # Not without --all: the checker's own text alone.
        check(run(check_tool, str(tree.checker)).stdout.decode() == INTACT, "plain")
    finally:
        tree.cleanup()


def the_default_checker_and_the_one_other_exe(check_tool, build):
    tree = Tree(build, name="check.exe")
    try:
        (tree.root / "tool.exe").write_bytes(b"MZ a program without check data")
        r = run(check_tool, cwd=tree.root)
        check(r.returncode == 0 and r.stdout.decode() == INTACT, f"the one exe with data: {r}")
        shutil.copy(tree.checker, tree.root / "other.EXE")
        r = run(check_tool, cwd=tree.root)
        check(r.returncode == 2 and "check.exe, other.EXE" in r.stderr.decode(), r.stderr.decode())
        (tree.root / "Vexorin.exe").write_bytes(b"MZ truncated")
        r = run(check_tool, cwd=tree.root)
        check((r.returncode, r.stderr.decode()) == (3, LOAD_FAILED), f"Vexorin.exe comes first: {r}")
        empty = tree.root / "ソフト" / "深い"
        r = run(check_tool, cwd=empty)
        check(r.returncode == 2 and r.stdout == b"", "no checker here")
        check(run(check_tool, "--bogus", cwd=tree.root).returncode == 2, "unknown option")
        check(run(check_tool, "a.exe", "b.exe", cwd=tree.root).returncode == 2, "two checkers")
        check(run(check_tool, "--md5sum", "--all", str(tree.checker)).returncode == 2, "--md5sum checks nothing")
        check(run(check_tool, str(tree.root)).returncode == 2, "a folder is not a checker")
    finally:
        tree.cleanup()


def hostile_checker_files(check_tool, build):
    tree = Tree(build)
    try:
        whole = tree.checker.read_bytes()
        for name, data in (("not a checker", b"MZ" + os.urandom(5000)), ("truncated", whole[:-5]),
                           ("shorter than the trailer", b"VXR!1234"), ("appended to", whole + b"\0")):
            tree.checker.write_bytes(data)
            r = run(check_tool, "--all", str(tree.checker))
            check((r.returncode, r.stdout, r.stderr.decode()) == (3, b"", LOAD_FAILED), f"{name}: {r}")

        # A file outside the folder with its right digest: a run that followed the path would
        # call everything intact.
        outside = tree.root.parent / "outside.txt"
        outside.write_bytes(b"secret")
        digest = hashlib.md5(b"secret").hexdigest().encode()
        z = hashlib.md5(TREE["z.txt"]).hexdigest().encode()
        # \x85\\ is no character of code page 932; a lenient conversion may see a separator there.
        escapes = [b"..\\outside.txt", b"\\tmp\\outside.txt", b"/tmp/outside.txt", b"C:\\outside.txt",
                   b"a\\..\\..\\outside.txt", b"a/../../outside.txt", b"\x01\\..\\outside.txt", b"a\x1b[2Jb",
                   b".. \\outside.txt", b"\x85\\..\\outside.txt"]
        for path in escapes:
            tree.checker.write_bytes(checker_file([], [z + b" z.txt", digest + b" " + path]))
            r = run(check_tool, str(tree.checker))
            tail = path.rsplit(b"\\", 1)[-1].rsplit(b"/", 1)[-1].decode().replace("\x1b", "\\x1b")
            check(r.returncode == 3 and r.stdout == b"", f"{path!r}: exit {r.returncode}")
            err = r.stderr.decode()
            check(f"{tail} leads out" in err and "the stored path" in err, f"{path!r}: {err}")
            check(b"\x1b" not in r.stderr and b"\x01" not in r.stderr, "no control character reaches the terminal")
        # The first such path is named, and folder records come first; a NUL inside a path makes its rest a record of its own.
        tree.checker.write_bytes(checker_file([b"ok\\", b"..\\"], [digest + b" ..\\outside.txt"]))
        r = run(check_tool, "--json", str(tree.checker))
        check(r.returncode == 3 and json.loads(r.stdout)["escapingPath"] == "..\\", r.stdout)
        tree.checker.write_bytes(checker_file([b"ok\\\0..\\..\\"], []))
        check(run(check_tool, str(tree.checker)).returncode == 3, "NUL inside a folder path")
        tree.checker.write_bytes(checker_file([], [digest + b" a\0..\\..\\outside.txt"]))
        check(run(check_tool, str(tree.checker)).returncode == 3, "NUL inside a file path")

        # A named pipe in a listed file's place is missing, not waited for.
        tree.checker.write_bytes(whole)
        (tree.root / "z.txt").unlink()
        os.mkfifo(tree.root / "z.txt")
        r = run(check_tool, str(tree.checker))
        check(r.returncode == 1 and "ファイル z.txt が見つかりません." in r.stdout.decode(), f"pipe: {r}")
    finally:
        tree.cleanup()


def progress_only_on_a_terminal(check_tool, build):
    tree = Tree(build)
    try:
        pid, fd = pty.fork()
        if pid == 0:
            os.environ["LC_ALL"] = "C.UTF-8"
            os.execv(check_tool, [check_tool, str(tree.checker)])
        seen = read_to_end(fd)
        _, status = os.waitpid(pid, 0)
        text = seen.decode()
        check(os.waitstatus_to_exitcode(status) == 0, text)
        check("\r" in text and "をチェック中...(1/5)" in text and "KByte Checked. (0％)" in text
              and "0/5 files done" in text, repr(text))
        check(text.endswith("\r\x1b[K" + INTACT.replace("\n", "\r\n")), "the line is cleared before the result")
    finally:
        tree.cleanup()


def jobs_1_and_4_give_the_same_results(check_tool, build):
    """Problems of every kind among many files that the jobs finish out of order: damaged files
    (one of several chunks), missing files, a folder and a named pipe in files' places, a file
    whose reading fails (a link to /proc/self/mem opens, and its first read fails). With one
    job and with four, plain, --all and --json say the same; each kind is the first in turn."""
    tree = Tree(build)
    try:
        for i in range(60):
            tree.write(f"many/{i:02}.bin", bytes([i]) * (i * 4099 % 70000))
        tree.write("many/big.bin", bytes(range(256)) * 9000)  # more than four checker chunks
        r = run(build, "--yes", str(tree.root))
        check(r.returncode == 0, r.stderr.decode())
        shutil.copytree(tree.root, tree.root.parent / "pristine")
        order = [p[33:].decode("cp932").replace("\\", "/") for p in CheckFile.load(tree.checker).records]
        many = [rel for rel in order if rel.startswith("many/") and rel != "many/big.bin"]

        def damage(path):
            path.write_bytes(path.read_bytes()[:-1] + b"!")

        def in_place(make):
            return lambda path: (path.unlink(), make(path))

        breakers = [(many[5], damage), (many[9], os.unlink), (many[12], in_place(lambda p: os.symlink("/proc/self/mem", p))),
                    (many[20], damage), (many[31], in_place(os.mkdir)), (many[42], in_place(os.mkfifo)),
                    ("many/big.bin", damage)]
        breakers.sort(key=lambda b: order.index(b[0]))
        for rel, breaker in breakers:
            breaker(tree.root / rel)
        firsts = []
        for _ in range(3):
            seen = {}
            for jobs in ("1", "4"):
                for mode in ((), ("--all",), ("--json",)):
                    r = run(check_tool, "--jobs", jobs, *mode, str(tree.checker))
                    seen[jobs, mode] = (r.returncode, r.stdout.decode(), r.stderr.decode())
            for mode in ((), ("--all",), ("--json",)):
                check(seen["1", mode] == seen["4", mode], f"{mode}: {seen['1', mode]} != {seen['4', mode]}")
            first = breakers[0][0]
            check(seen["4", ()][0] == 1 and first.replace("/", "\\") in seen["4", ()][1], seen["4", ()])
            report = json.loads(seen["4", ("--json",)][1])
            check([p["path"] for p in report["problems"]] == [b[0] for b in breakers], report)
            firsts.append(report["problems"][0]["kind"])
            # Mend the first problem: the next one comes first.
            breakers.pop(0)
            path = tree.root / first
            if path.exists() or path.is_symlink():
                path.unlink()
            shutil.copy(tree.root.parent / "pristine" / first, path)
        check(sorted(firsts) == ["damaged-file", "missing-file", "read-error"], firsts)
    finally:
        tree.cleanup()

def names_code_page_932_cannot_write(check_tool, build):
    """Names that code page 932 cannot write (é, 한글, an emoji, 〜 which it takes one way only)
    are stored in UTF-8 after the messages: a reader that stops at the third separator reads
    the rest as before; vexorin-check checks them and names them in UTF-8, also when damaged,
    missing, or stored to lead out of the folder."""
    foreign = {"café.txt": b"cafe", "한글/한글.txt": b"hangul", "한글/読む.txt": b"yomu",
               "ソフト/\U0001F600.txt": b"emoji", "ver1.0〜2.0.txt": b"wave"}
    tree = Tree(build)
    try:
        for rel, data in foreign.items():
            tree.write(rel, data)
        r = run(build, "--yes", str(tree.root))
        check(r.returncode == 0, r.stderr.decode())
        # One line per name that needed it; 読む.txt is stored in UTF-8 only for its folder's sake.
        noted = [line.split(" の名前は")[0] for line in r.stderr.decode().splitlines() if "UTF-8で記録しました" in line]
        check(sorted(noted) == sorted(["café.txt", "한글\\", "한글\\한글.txt", "ソフト\\\U0001F600.txt", "ver1.0〜2.0.txt"]),
              r.stderr.decode())

        md5 = lambda data: hashlib.md5(data).hexdigest()  # noqa: E731
        stored = CheckFile.load(tree.checker)
        check(stored.files == {k.replace("/", "\\").encode("cp932"): md5(v) for k, v in TREE.items()},
              f"the older reader sees the tree without them: {stored.files}")
        check(stored.messages == [m.encode("cp932") for m in DEFAULT_MESSAGES], stored.messages)
        check(stored.utf8_folders == ["한글\\"], stored.utf8_folders)
        check(stored.utf8_files == {k.replace("/", "\\"): md5(v) for k, v in foreign.items()}, stored.utf8_files)
        check(stored.total == sum(map(len, TREE.values())) + sum(map(len, foreign.values())), stored.total)

        r = run(check_tool, str(tree.checker))
        check((r.returncode, r.stdout.decode()) == (0, INTACT), f"intact: {r}")
        r = run(check_tool, "--md5sum", cwd=tree.root)
        m = subprocess.run(["md5sum", "-c", "-"], input=r.stdout, cwd=tree.root, capture_output=True)
        check(m.returncode == 0 and m.stdout.decode().count(": OK") == len(TREE) + len(foreign), m.stdout.decode())

        (tree.root / "ソフト" / "\U0001F600.txt").write_bytes(b"EMOJI")
        r = run(check_tool, str(tree.checker))
        check((r.returncode, r.stdout.decode()) == (1, f"ファイル ソフト\\\U0001F600.txt が壊れています.\n{DEFAULT_MESSAGES[2]}\n"),
              f"damaged: {r}")
        shutil.rmtree(tree.root / "한글")
        r = run(check_tool, "--json", str(tree.checker))
        kinds = {(p["kind"], p["path"]) for p in json.loads(r.stdout.decode())["problems"]}
        check(r.returncode == 1 and kinds == {("damaged-file", "ソフト/\U0001F600.txt"), ("missing-folder", "한글/"),
                                          ("missing-file", "한글/한글.txt"), ("missing-file", "한글/読む.txt")},
              kinds)
        r = run(check_tool, "--all", str(tree.checker))
        check(f"フォルダ {tree.root}/한글/ が見つかりません." in r.stdout.decode().splitlines() and
              "ファイル 한글\\한글.txt が見つかりません." in r.stdout.decode().splitlines(), r.stdout.decode())

        # Stored to lead out of the folder: refused as a whole, as in the other records.
        outside = tree.root.parent / "outside.txt"
        outside.write_bytes(b"secret")
        for path in ("..\\outside.txt", "한/../../outside.txt"):
            record = md5(b"secret").encode() + b" " + path.encode()
            tree.checker.write_bytes(checker_file([], [], extension=[b"utf8", b"|", record, b"|"]))
            r = run(check_tool, str(tree.checker))
            check(r.returncode == 3 and "leads out" in r.stderr.decode() and path in r.stderr.decode(),
                  f"{path}: {r}")
    finally:
        tree.cleanup()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--check", required=True)
    ap.add_argument("--build", required=True)
    a = ap.parse_args()
    a.check, a.build = os.path.abspath(a.check), os.path.abspath(a.build)
    t = Checks()
    t.case(the_checkers_texts_and_exit_statuses, a.check, a.build)
    t.case(all_json_and_md5sum, a.check, a.build)
    t.case(unlisted_files_are_information_only, a.check, a.build)
    t.case(the_default_checker_and_the_one_other_exe, a.check, a.build)
    t.case(hostile_checker_files, a.check, a.build)
    t.case(names_code_page_932_cannot_write, a.check, a.build)
    t.case(progress_only_on_a_terminal, a.check, a.build)
    t.case(jobs_1_and_4_give_the_same_results, a.check, a.build)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
