#!/usr/bin/env python3
"""vexorin-check.exe under Wine against the native vexorin-check, over a tree with 表.txt
and ソフト\\ built by the native vexorin-build: the same exit statuses, the same texts, the
same JSON report and the same md5sum list, intact and with a problem of every kind; the same
refusal of a checker whose stored path leaves the folder; names stored in UTF-8 checked alike.

usage: test_vexorin_check.py --windows-check EXE --check PATH --build PATH [-k NAME]
Runs in a Wine session of tests/support/harness.py (the ja_JP.UTF-8 locale, the prefix beside
the Windows build). Prints one line per check and a closing "N passed, M failed"; exits
non-zero on failure.
"""
import argparse
import hashlib
import json
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import run_scenarios  # noqa: E402
from harness import WineSession, to_wine_path  # noqa: E402
from pe_image import Pe  # noqa: E402
from trees import write_tree  # noqa: E402

TREE = {"表.txt": b"hyou", "ソフト/readme.txt": b"soft", "ソフト/深い/data.bin": b"\x5c" * 600000, "z.txt": b"z"}


class Session:
    def __init__(self, args):
        self.args = args
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vxwcheck-"))
        # The prefix the other Wine tests of this Windows build share (beside the driver).
        build = pathlib.Path(args.windows_check).resolve().parent.parent.parent
        self.wine = WineSession(build_dir=str(build / "tests" / "wine"))
        self.wine.start()

    def close(self):
        self.wine.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def tree(self, name):
        folder = self.root / name
        write_tree(str(folder), TREE)
        r = subprocess.run([self.args.build, "--yes", str(folder)], capture_output=True, timeout=300)
        if r.returncode != 0:
            raise RuntimeError("vexorin-build: %s" % r.stderr.decode())
        return folder

    def both(self, folder, *args):
        """(native, Windows) runs in `folder`, each as (exit status, stdout, stderr)."""
        native = subprocess.run([self.args.check, *args], cwd=folder, capture_output=True, timeout=300,
                                env=dict(os.environ, LC_ALL="C.UTF-8"))
        windows = subprocess.run(self.wine.command(self.args.windows_check, *args), cwd=folder, capture_output=True,
                                 timeout=300, env=self.wine.env, stdin=subprocess.DEVNULL, start_new_session=True)
        return ((native.returncode, native.stdout, native.stderr),
                (windows.returncode, windows.stdout, windows.stderr))


def comparable(report):
    """A JSON report without what names the folder itself, which differs (/tmp/... and Z:\\tmp\\...)."""
    report = dict(report)
    report.pop("checker", None)
    report.pop("folder", None)
    report["problems"] = [{k: v for k, v in p.items() if p["kind"] != "missing-folder" or k != "text"}
                          for p in report.get("problems", [])]
    return report


def same_results_as_the_native_program(s, t):
    folder = s.tree("same")
    for state in ("intact", "problems"):
        if state == "problems":
            (folder / "表.txt").write_bytes(b"HYOU")
            (folder / "z.txt").unlink()
            shutil.rmtree(folder / "ソフト" / "深い")
        native, windows = s.both(folder)
        t.check(state + ": the same exit status", native[0] == windows[0] and native[0] == (0 if state == "intact" else 1),
                "native %d, Windows %d" % (native[0], windows[0]))
        # Redirected, the Windows program writes the system's code page, 932 here.
        # A folder's line takes one separator style each way: "/" natively, "\\" on Windows.
        want = "".join(line.replace(str(folder) + "/", to_wine_path(folder) + "\\").replace("/", "\\")
                       if line.startswith("フォルダ ") else line
                       for line in native[1].decode("utf-8").splitlines(keepends=True))
        t.check(state + ": the same text", windows[1].decode("cp932") == want,
                "native %r\n     Windows %r" % (want, windows[1].decode("cp932", "replace")))

        native, windows = s.both(folder, "--jobs", "3", "--json")  # Win32 threads, whatever Wine's processors
        n, w = json.loads(native[1]), json.loads(windows[1])
        t.check(state + ": the same JSON report", comparable(n) == comparable(w), "native %r\n     Windows %r" % (n, w))
        t.check(state + ": the JSON names the folder the Windows way", w["folder"] == to_wine_path(folder), w["folder"])
        if state == "problems":
            kinds = sorted(p["kind"] for p in w["problems"])
            t.check("problems: one of every kind", kinds == ["damaged-file", "missing-file", "missing-file", "missing-folder"],
                    repr(kinds))
            damaged = [p for p in w["problems"] if p["kind"] == "damaged-file"]
            t.check("problems: the damaged file's digest", damaged and damaged[0]["path"] == "表.txt" and
                    damaged[0]["actual"] == hashlib.md5(b"HYOU").hexdigest(), repr(damaged))
        native, windows = s.both(folder, "--md5sum")
        t.check(state + ": the same md5sum list", native[:2] == windows[:2] and native[1].count(b"\n") == len(TREE),
                "native %r\n     Windows %r" % (native[1], windows[1]))


def a_path_out_of_the_folder_is_refused(s, t):
    folder = s.tree("escape")
    (s.root / "outside.txt").write_bytes(b"secret")
    record = hashlib.md5(b"secret").hexdigest().encode() + b" ..\\outside.txt"
    block = b"|\0" + record + b"\0|\0\0\0\0"
    (folder / "Vexorin.exe").write_bytes(b"MZ" + block + b"VXR!" + struct.pack("<IQ", len(block), 6))
    native, windows = s.both(folder)
    t.check("escape: exit 3 both ways", native[0] == 3 and windows[0] == 3, "native %d, Windows %d" % (native[0], windows[0]))
    t.check("escape: the path is named", b"..\\outside.txt leads out" in windows[2], repr(windows[2]))
    (folder / "Vexorin.exe").write_bytes(b"MZ" + block)
    native, windows = s.both(folder)
    t.check("no trailer: exit 3 and the load failure both ways", native[0] == 3 and windows[0] == 3 and
            windows[2].decode("cp932").startswith("チェックデータの読み込みに失敗しました."), repr(windows))


def a_deep_folder_and_garbled_names_check_as_natively(s, t):
    # Unpacked 300 bytes deep (code page 932): intact both ways, not a load failure or missing files.
    deep = s.root.joinpath(*["長いフォルダの名前" * 2] * 8)
    t.check("deep: the folder passes 260 bytes", len(str(deep).encode("cp932")) > 300, str(deep))
    folder = s.tree(deep.relative_to(s.root))
    native, windows = s.both(folder)
    t.check("deep: intact both ways", native[0] == 0 and windows[0] == 0, "native %r, Windows %r" % (native, windows))
    (folder / "表.txt").write_bytes(b"HYOU")
    native, windows = s.both(folder)
    t.check("deep: a damaged file both ways", native[0] == 1 and windows[0] == 1 and
            "ファイル 表.txt が壊れています." in windows[1].decode("cp932"), "Windows %r" % (windows,))

    # Names Python's zipfile read as code page 437 (no 0x5C byte among them: Wine cannot show a
    # backslash in a name): found under those names by both, with the same findings.
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "cli"))
    from test_unpacker_names import zip_with_cp932_names
    source = s.root / "garble-source"
    for rel, data in {"データ/セーブ/data.bin": b"save", "ガパ.txt": b"gapa", "z.txt": b"z"}.items():
        (source / rel).parent.mkdir(parents=True, exist_ok=True)
        (source / rel).write_bytes(data)
    subprocess.run([s.args.build, "--yes", str(source)], capture_output=True, timeout=300, check=True)
    zip_with_cp932_names(source, s.root / "garbled.zip")
    folder = s.root / "garbled"
    folder.mkdir()
    import zipfile
    zipfile.ZipFile(s.root / "garbled.zip").extractall(folder)
    native, windows = s.both(folder, "--json")
    n, w = json.loads(native[1]), json.loads(windows[1])
    t.check("garbled: found the same way both ways", native[0] == windows[0] == 1 and comparable(n) == comparable(w)
            and sorted(p["foundAs"] for p in w["problems"]) == ["cp437"] * 4, "native %r\n     Windows %r" % (n, w))


def names_code_page_932_cannot_write_check_as_natively(s, t):
    # Stored in UTF-8 after the messages (é, 한글, an emoji, 〜): the same reports both ways,
    # intact and with a damaged one among them.
    folder = s.tree("utf8-names")
    for rel, data in {"café.txt": b"cafe", "한글/\U0001F600.txt": b"emoji", "ver1.0〜2.0.txt": b"wave"}.items():
        (folder / rel).parent.mkdir(parents=True, exist_ok=True)
        (folder / rel).write_bytes(data)
    subprocess.run([s.args.build, "--yes", str(folder)], capture_output=True, timeout=300, check=True)
    for state in ("intact", "damaged"):
        if state == "damaged":
            (folder / "한글" / "\U0001F600.txt").write_bytes(b"EMOJI")
        native, windows = s.both(folder, "--json")
        n, w = json.loads(native[1]), json.loads(windows[1])
        paths = [p["path"] for p in w.get("problems", [])]
        t.check("UTF-8 names %s: the same report both ways" % state,
                native[0] == windows[0] == (0 if state == "intact" else 1) and comparable(n) == comparable(w) and
                w["files"] == len(TREE) + 3 and paths == ([] if state == "intact" else ["한글/\U0001F600.txt"]),
                "native %r\n     Windows %r" % (n, w))


def a_zip_checks_as_natively_with_zlib_inside(s, t):
    # zlib is linked into the program: it must not ask for a zlib DLL that Windows lacks.
    dlls = {d.upper() for d in Pe(pathlib.Path(s.args.windows_check).read_bytes()).imports()}
    t.check("zip: no zlib DLL imported", not any("ZLIB" in d or d.startswith("LIBZ") for d in dlls), repr(dlls))
    folder = s.tree("zipped")
    subprocess.run(["zip", "-qr", "../game.zip", "."], cwd=folder, check=True)
    native, windows = s.both(s.root, "game.zip")
    t.check("zip intact: exit 0 both ways", native[0] == 0 and windows[0] == 0, "native %r\n     Windows %r" % (native, windows))
    subprocess.run(["zip", "-0qr", "../stored.zip", "."], cwd=folder, check=True)
    raw = bytearray((s.root / "stored.zip").read_bytes())
    raw[raw.find(b"\x5c" * 64) + 10] ^= 0x01  # inside data.bin, stored as it is
    (s.root / "bad.zip").write_bytes(raw)
    native, windows = s.both(s.root, "--json", "bad.zip")
    n, w = json.loads(native[1]), json.loads(windows[1])
    t.check("zip damaged: the same JSON report", native[0] == windows[0] == 1 and n["problems"] == w["problems"],
            "native %r\n     Windows %r" % (n, w))


SCENARIOS = [same_results_as_the_native_program, a_zip_checks_as_natively_with_zlib_inside, a_path_out_of_the_folder_is_refused,
             a_deep_folder_and_garbled_names_check_as_natively, names_code_page_932_cannot_write_check_as_natively]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-check", required=True)
    parser.add_argument("--check", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("-k", dest="only", help="run only scenarios whose name contains this")
    args = parser.parse_args()
    args.check, args.build = os.path.abspath(args.check), os.path.abspath(args.build)
    args.windows_check = os.path.abspath(args.windows_check)
    return run_scenarios(SCENARIOS, Session(args), args.only)


if __name__ == "__main__":
    sys.exit(main())
