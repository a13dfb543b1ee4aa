#!/usr/bin/env python3
"""vexorin-check over folders whose names real unpackers and systems changed: a zip with
code-page-932 names and no UTF-8 flag, as Japanese archivers write it, unpacked by Debian's
unzip, 7-Zip, bsdtar and Python's zipfile; decomposed (NFD) copies, twin characters and
letter case. Every such entry must be found and checked under the name it has, the cause
said once, and a damaged file among them still reported damaged. And a folder unpacked so
deep that its paths pass 260 bytes, which is checked where it lies, and one so deep that
some paths pass the system's limit: those are too long, not missing.

usage: test_unpacker_names.py --check PATH --build PATH
"""
import argparse
import json
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unicodedata
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from checks import Checks, check  # noqa: E402

# ソ, 表 and 十 end in 0x5C, the backslash byte; ガ and パ decompose; ～ has a JIS twin.
TREE = {
    "ソフト/表.txt": b"hyou\n",
    "データ/セーブ/十字架.dat": bytes(range(256)) * 4,
    "ガパ.txt": b"gapa",
    "ver1.0～2.0.txt": b"wave",
    "readme.txt": b"ascii names stay as they are",
}
# What each unpacker makes of code-page-932 names, as vexorin-check calls it.
UNPACKERS = {
    "unzip": (["unzip", "-q"], "cp437-latin1"),
    "7zz": (["7zz", "x", "-bd", "-y"], "cp932-bytes"),
    "bsdtar": (["bsdtar", "-xf"], "cp932-bytes"),
    "zipfile": ([sys.executable, "-c", "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()"],
                "cp437"),
}


def run(tool, *args, cwd=None):
    return subprocess.run([tool, *args], stdin=subprocess.DEVNULL, capture_output=True, cwd=cwd,
                          env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=120)


def built_tree(build, top):
    root = top / "src"
    for rel, data in TREE.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    r = run(build, "--yes", str(root))
    check(r.returncode == 0, f"vexorin-build: {r.stderr.decode()}")
    return root


def zip_with_cp932_names(root, path):
    """A stored zip whose names are code page 932 without the UTF-8 flag, folders listed."""
    entries = []
    for folder, folders, files in os.walk(root):
        rel = pathlib.Path(folder).relative_to(root)
        entries += [((rel / d).as_posix() + "/", None) for d in sorted(folders)]
        entries += [((rel / f).as_posix(), (pathlib.Path(folder) / f).read_bytes()) for f in sorted(files)]
    out, central = bytearray(), bytearray()
    for name, data in entries:
        name = name.removeprefix("./").encode("cp932")
        data = data or b""
        crc = zlib.crc32(data)
        header = struct.pack("<HHHHHIIIHH", 20, 0, 0, 0, 0x21, crc, len(data), len(data), len(name), 0)
        central += struct.pack("<IH", 0x02014B50, 20) + header + struct.pack(
            "<HHHII", 0, 0, 0, 0x10 if name.endswith(b"/") else 0, len(out)) + name
        out += struct.pack("<I", 0x04034B50) + header + name + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    path.write_bytes(bytes(out + central + end))


def check_json(check_tool, folder):
    r = run(check_tool, "--json", str(folder / "Vexorin.exe"))
    return r.returncode, json.loads(r.stdout)


def problems_by_path(report):
    return {p["path"]: p for p in report["problems"]}


def disk_bytes(shown):
    """The bytes of a name on disk as vexorin-check shows it: UTF-8, other bytes as \\xNN."""
    out, i, raw = b"", 0, shown.encode()
    while i < len(raw):
        if raw[i:i + 2] == b"\\x":
            out += bytes([int(raw[i + 2:i + 4], 16)])
            i += 4
        else:
            out += raw[i:i + 1]
            i += 1
    return out


def listed_entries():
    """Every folder and file the tree lists whose name is not ASCII all the way."""
    entries = set()
    for rel in TREE:
        parts = rel.split("/")
        entries |= {"/".join(parts[:i]) + "/" for i in range(1, len(parts))}
        entries.add(rel)
    return {e for e in entries if not e.isascii()}


def garbled_names_of_every_unpacker_are_found_and_checked(check_tool, build):
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        root = built_tree(build, top)
        archive = top / "pack.zip"
        zip_with_cp932_names(root, archive)
        for unpacker, (command, form) in UNPACKERS.items():
            out = top / unpacker
            out.mkdir()
            r = subprocess.run(command + [str(archive)], cwd=out, capture_output=True, timeout=120)
            check(r.returncode == 0, f"{unpacker}: {r.stderr.decode(errors='replace')}")
            code, report = check_json(check_tool, out)
            found = problems_by_path(report)
            check(code == 1 and set(found) == listed_entries(), f"{unpacker}: {code} {sorted(found)}")
            # An entry found under another name is not also a file the check data lacks.
            check(report["unlisted"] == [], f"{unpacker}: unlisted {report['unlisted']}")
            for path, problem in found.items():
                kind = "folder-under-other-name" if path.endswith("/") else "file-under-other-name"
                check(problem["kind"] == kind and problem["foundAs"] == form,
                      f"{unpacker}: {path} {problem}")
            check(report["nameCauses"] == [{"foundAs": form, "entries": len(found),
                                            "cause": report["nameCauses"][0]["cause"]}],
                  f"{unpacker}: {report['nameCauses']}")
            # Without --all: the cause once, that every content is intact, nothing per entry.
            plain = run(check_tool, str(out / "Vexorin.exe")).stdout.decode()
            lines = plain.splitlines()
            check(lines[0].startswith(f"{len(found)} listed entries are there under other names")
                  and lines[2] == "Every listed file's content is intact; only names differ."
                  and len(lines) == 3, f"{unpacker}: {plain}")

        # A damaged file among garbled names is damaged; its digest is md5sum's of that file,
        # and the name on disk given is the file's, byte for byte.
        garbled = next((top / "unzip").rglob("*.dat"))
        named = problems_by_path(check_json(check_tool, top / "unzip")[1])["データ/セーブ/十字架.dat"]["nameOnDisk"]
        check(disk_bytes(named) == os.fsencode(garbled.relative_to(top / "unzip")), named)
        raw = bytearray(garbled.read_bytes())
        raw[100] ^= 1
        garbled.write_bytes(bytes(raw))
        code, report = check_json(check_tool, top / "unzip")
        damaged = problems_by_path(report)["データ/セーブ/十字架.dat"]
        with open(garbled, "rb") as f:
            md5sum = subprocess.run(["md5sum"], stdin=f, capture_output=True).stdout.split()[0].decode()
        check(code == 1 and damaged["kind"] == "damaged-file" and damaged["foundAs"] == "cp437-latin1"
              and damaged["actual"] == md5sum != damaged["expected"], f"{damaged}")
        plain = run(check_tool, str(top / "unzip" / "Vexorin.exe")).stdout.decode()
        check("ファイル データ\\セーブ\\十字架.dat が壊れています." in plain, plain)

        # An unpacker told the code page unpacks the names right: all intact, exit 0.
        good = top / "good"
        good.mkdir()
        subprocess.run(["bsdtar", "--options", "hdrcharset=CP932", "-xf", str(archive)], cwd=good, check=True)
        code, report = check_json(check_tool, good)
        check(code == 0 and report["problems"] == [] and report["nameCauses"] == [], f"{report}")
    finally:
        shutil.rmtree(top, ignore_errors=True)


def decomposed_twin_and_case_forms_are_found_one_cause_each(check_tool, build):
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        root = built_tree(build, top)
        # Every name decomposed, as macOS's file systems store them, from the deepest up.
        nfd = top / "nfd"
        shutil.copytree(root, nfd)
        for folder, folders, files in os.walk(nfd, topdown=False):
            for name in folders + files:
                os.rename(os.path.join(folder, name), os.path.join(folder, unicodedata.normalize("NFD", name)))
        code, report = check_json(check_tool, nfd)
        found = problems_by_path(report)
        # デ, ブ, ガ and パ decompose; ソフト, 表 and 十字架 have nothing to decompose.
        expected = {"データ/", "データ/セーブ/", "データ/セーブ/十字架.dat", "ガパ.txt"}
        check(code == 1 and set(found) == expected and all(p["foundAs"] == "decomposed" and
              p["kind"].endswith("-under-other-name") for p in found.values()), f"{code} {report}")

        # One twin character and one letter-case difference: each its own cause on its line.
        mixed = top / "mixed"
        shutil.copytree(root, mixed)
        (mixed / "ver1.0～2.0.txt").rename(mixed / "ver1.0〜2.0.txt")
        (mixed / "readme.txt").rename(mixed / "README.TXT")
        (mixed / "ソフト" / "表.txt").unlink()  # still missing, as it has no twin
        code, report = check_json(check_tool, mixed)
        found = problems_by_path(report)
        check(code == 1 and found["ver1.0～2.0.txt"]["foundAs"] == "twin-character"
              and found["ver1.0～2.0.txt"]["nameOnDisk"] == "ver1.0〜2.0.txt"
              and found["readme.txt"]["foundAs"] == "letter-case"
              and found["ソフト/表.txt"]["kind"] == "missing-file" and "foundAs" not in found["ソフト/表.txt"],
              f"{report}")
        plain = run(check_tool, "--all", str(mixed / "Vexorin.exe")).stdout.decode()
        check("file ver1.0～2.0.txt is there as ver1.0〜2.0.txt, its content intact: the name holds" in plain
              and "file readme.txt is there as README.TXT, its content intact: the name differs" in plain
              and "ファイル ソフト\\表.txt が見つかりません." in plain, plain)
    finally:
        shutil.rmtree(top, ignore_errors=True)


def a_folder_deeper_than_260_bytes_builds_and_checks(check_tool, build):
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        # 294 bytes in code page 932 to the folder, as in a deep Downloads folder.
        deep = top.joinpath(*["長いフォルダの名前" * 2] * 7)
        deep = deep / ("x" * (294 - len(str(deep).encode("cp932")) - 1))
        check(len(str(deep).encode("cp932")) == 294, str(deep))
        root = built_tree(build, deep)
        for jobs in ("1", "4"):
            r = run(check_tool, "--jobs", jobs, str(root / "Vexorin.exe"))
            check(r.returncode == 0 and r.stdout.decode() == "すべてのファイルは正常です.\n",
                  f"--jobs {jobs}: {r.returncode} {r.stdout.decode()} {r.stderr.decode()}")
        (root / "データ" / "セーブ" / "十字架.dat").write_bytes(b"changed")
        r = run(check_tool, str(root / "Vexorin.exe"))
        check(r.returncode == 1 and "ファイル データ\\セーブ\\十字架.dat が壊れています." in r.stdout.decode(),
              r.stdout.decode())

        # Moved so deep that the checker's own path just fits the system's limit (4,096 bytes
        # with its end) and the longer listed paths do not: those are too long, not missing.
        deeper = top / "d"
        while len(os.fsencode(deeper)) < 4084 - 200:
            deeper /= "d" * 199
        deeper /= "e" * (4084 - len(os.fsencode(deeper)) - 4)
        deeper.mkdir(parents=True)
        root = root.rename(deeper / "s")
        shown = f"{root}/"
        check(len(os.fsencode(shown)) == 4084, len(os.fsencode(shown)))
        r = run(check_tool, str(root / "Vexorin.exe"))
        out = r.stdout.decode()
        check(r.returncode == 1 and out == (
            f"{shown}データ/セーブ/ のパスが長すぎます.\nパスの短いフォルダに解凍し直してください.\n"), out[-300:])
        kinds = {p["path"]: p["kind"] for p in json.loads(
            run(check_tool, "--all", "--json", str(root / "Vexorin.exe")).stdout)["problems"]}
        check(kinds == {"データ/セーブ/": "path-too-long", "ソフト/表.txt": "path-too-long",
                        "データ/セーブ/十字架.dat": "path-too-long",
                        "ver1.0～2.0.txt": "path-too-long"}, kinds)
    finally:
        shutil.rmtree(top, ignore_errors=True)


def a_folder_above_named_in_latin1_is_shown_escaped(check_tool, build):
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        above = pathlib.Path(os.fsdecode(os.fsencode(str(top)) + b"/caf\xe9"))  # Latin-1 é
        root = built_tree(build, above)
        shutil.rmtree(root / "ソフト")
        r = run(check_tool, str(root / "Vexorin.exe"))
        text = r.stdout.decode()
        check(r.returncode == 1 and f"フォルダ {top}/caf\\xe9/src" in text and "\ufffd" not in text, text)
        report = json.loads(run(check_tool, "--json", str(root / "Vexorin.exe")).stdout)
        check(report["folder"] == f"{top}/caf\\xe9/src", report["folder"])
    finally:
        shutil.rmtree(top, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--check", required=True)
    ap.add_argument("--build", required=True)
    a = ap.parse_args()
    t = Checks()
    for body in (garbled_names_of_every_unpacker_are_found_and_checked,
                 decomposed_twin_and_case_forms_are_found_one_cause_each,
                 a_folder_deeper_than_260_bytes_builds_and_checks,
                 a_folder_above_named_in_latin1_is_shown_escaped):
        t.case(body, a.check, a.build)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
