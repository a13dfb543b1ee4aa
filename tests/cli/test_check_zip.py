#!/usr/bin/env python3
"""vexorin-check over downloaded zips, before unpacking: zips of a tree built by the real
vexorin-build, made by the real zippers (Python's zipfile the way Windows writes them,
Debian's zip, 7-Zip, bsdtar), stored and deflated, then damaged, cut short, missing an entry,
encrypted, duplicated, ZIP64.

usage: test_check_zip.py --check PATH --build PATH [--no-huge]
       test_check_zip.py --build PATH --make-zips DIR   (the same zips, for the page's test)
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
import warnings
import zipfile
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from checkfile_reader import DEFAULT_MESSAGES  # noqa: E402
from checks import Checks, check  # noqa: E402

# Two entries of one name are made on purpose.
warnings.filterwarnings("ignore", "Duplicate name", UserWarning)

INTACT = "すべてのファイルは正常です.\n"
TREE = {
    "表.txt": b"hyou",
    "ソフト/readme.txt": b"soft",
    "ソフト/大.bin": bytes(range(251)) * 2800,  # over 600,000 bytes: more than one chunk
}
EMPTY_FOLDER = "空"


def run(tool, *args, cwd=None):
    return subprocess.run([tool, *args], stdin=subprocess.DEVNULL, capture_output=True, cwd=cwd,
                          env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=600)


def build_tree(build, top, extra=None):
    """The tree under top/Game with a checker built by the real vexorin-build."""
    root = top / "Game"
    for rel, data in {**TREE, **(extra or {})}.items():
        p = root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(data, int):  # that many zero bytes, sparse
            with open(p, "wb") as f:
                f.truncate(data)
        else:
            p.write_bytes(data)
    (root / EMPTY_FOLDER).mkdir()
    r = run(build, "--yes", str(root))
    check(r.returncode == 0, f"vexorin-build: {r.stderr.decode()}")
    return root


class WindowsInfo(zipfile.ZipInfo):
    """An entry as Japanese Windows writes it: the name in code page 932 bytes, no UTF-8 flag,
    the host field FAT."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp932"), self.flag_bits & ~0x800


def zip_windows_way(root, out, method, extra=()):
    """The tree's zip as Explorer writes it, then the (name, bytes) entries of `extra`."""
    entries = [(p.relative_to(root.parent).as_posix() + ("/" if p.is_dir() else ""),
                b"" if p.is_dir() else p.read_bytes()) for p in sorted(root.parent.rglob("*"))]
    with zipfile.ZipFile(out, "w") as z:
        for rel, data in entries + list(extra):
            info = WindowsInfo(rel)
            info.create_system = 0
            info.compress_type = method
            z.writestr(info, data)


def make_zips(root, work):
    """Every zipper's zip of the tree, stored and deflated: name -> path."""
    zips = {}
    for method, how in ((zipfile.ZIP_STORED, "stored"), (zipfile.ZIP_DEFLATED, "deflated")):
        zips[f"windows-{how}"] = work / f"windows-{how}.zip"
        zip_windows_way(root, zips[f"windows-{how}"], method)
        zips[f"zip-{how}"] = work / f"zip-{how}.zip"
        subprocess.run(["zip", "-qr", "-0" if how == "stored" else "-6", zips[f"zip-{how}"], "Game"],
                       cwd=root.parent, check=True)
        zips[f"7zz-{how}"] = work / f"7zz-{how}.zip"
        subprocess.run(["7zz", "a", "-tzip", "-mx=0" if how == "stored" else "-mx=5", zips[f"7zz-{how}"], "Game"],
                       cwd=root.parent, check=True, capture_output=True)
        zips[f"bsdtar-{how}"] = work / f"bsdtar-{how}.zip"
        subprocess.run(["bsdtar", "-a", "-cf", zips[f"bsdtar-{how}"], "--options",
                        "zip:compression=" + ("store" if how == "stored" else "deflate"), "Game"],
                       cwd=root.parent, check=True)
    return zips


def data_offset(path, name):
    """Where an entry's bytes begin in the zip, from its local header."""
    def stored_name(i):  # the name as its bytes say, whatever the flag claims
        raw = i.filename.encode("utf-8" if i.flag_bits & 0x800 else "cp437")
        for encoding in ("utf-8", "cp932"):
            try:
                return raw.decode(encoding)
            except UnicodeDecodeError:
                pass
        return ""

    with zipfile.ZipFile(path) as z:
        info = next(i for i in z.infolist() if stored_name(i).endswith(name))
    raw = path.read_bytes()
    n, m = struct.unpack("<HH", raw[info.header_offset + 26:info.header_offset + 30])
    return info.header_offset + 30 + n + m


def every_zipper_intact_damaged_missing_and_cut(check_tool, build):
    work = pathlib.Path(tempfile.mkdtemp(prefix="vxzip-"))
    try:
        root = build_tree(build, work / "src")
        for name, path in make_zips(root, work).items():
            r = run(check_tool, str(path))
            check((r.returncode, r.stdout.decode()) == (0, INTACT), f"{name} intact: {r}")
            r = run(check_tool, "--all", str(path))
            check(r.stdout.decode().endswith("2 folders and 3 files checked, 0 problems found\n"),
                  f"{name} --all: {r.stdout.decode()}")

            # One byte of the large entry's data flipped: damaged, named as the checker names it.
            raw = bytearray(path.read_bytes())
            raw[data_offset(path, "大.bin") + 300] ^= 0x55
            (work / "bad.zip").write_bytes(raw)
            r = run(check_tool, str(work / "bad.zip"))
            check((r.returncode, r.stdout.decode()) == (1, f"ファイル ソフト\\大.bin が壊れています.\n{DEFAULT_MESSAGES[2]}\n"),
                  f"{name} damaged: {r}")
            check("will not help" not in r.stderr.decode(), f"{name}: a damaged download is not whole: {r}")

            # Cut short, as a broken-off download: one line, not a list of missing files.
            (work / "cut.zip").write_bytes(bytes(raw[:len(raw) * 2 // 3]))
            r = run(check_tool, "--all", str(work / "cut.zip"))
            check((r.returncode, r.stdout.decode()) == (1, "the zip is incomplete: download it again\n"),
                  f"{name} cut: {r}")
            r = run(check_tool, "--json", str(work / "cut.zip"))
            check(r.returncode == 1 and json.loads(r.stdout)["outcome"] == "zip-incomplete", f"{name} cut, JSON: {r}")

        # An entry deleted from the zip: missing, in the checker's words.
        path = work / "zip-deflated.zip"
        subprocess.run(["zip", "-qd", path, "Game/ソフト/readme.txt"], check=True)
        r = run(check_tool, str(path))
        check((r.returncode, r.stdout.decode()) == (1, f"ファイル ソフト\\readme.txt が見つかりません.\n{DEFAULT_MESSAGES[1]}\n"),
              f"deleted: {r}")
        # The empty folder's own entry deleted: the folder is missing (nothing else stands in it).
        path = work / "7zz-stored.zip"
        subprocess.run(["7zz", "d", path, f"Game/{EMPTY_FOLDER}"], check=True, capture_output=True)
        r = run(check_tool, str(path))
        check(r.returncode == 1 and r.stdout.decode().startswith(f"フォルダ {path}/Game/{EMPTY_FOLDER}/ が見つかりません."),
              f"empty folder deleted: {r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def what_the_zip_itself_says(check_tool, build):
    work = pathlib.Path(tempfile.mkdtemp(prefix="vxzip-"))
    try:
        root = build_tree(build, work / "src")
        # An encrypted entry cannot be checked without unpacking; the others still are.
        subprocess.run(["zip", "-qr", "../plain.zip", "Game"], cwd=work / "src", check=True)
        subprocess.run(["zip", "-q", "-P", "secret", "../plain.zip", "Game/表.txt"], cwd=work / "src", check=True)
        r = run(check_tool, "--all", str(work / "plain.zip"))
        check(r.returncode == 0 and "3 files checked, 0 problems found" in r.stdout.decode() and
              "表.txt cannot be checked without unpacking" in r.stderr.decode(), f"encrypted: {r}")
        r = run(check_tool, "--json", str(work / "plain.zip"))
        report = json.loads(r.stdout)
        check(report["outcome"] == "intact" and report["zip"]["uncheckable"] == ["表.txt"] and
              report["zip"]["folderInZip"] == "Game/", f"encrypted, JSON: {report}")

        # Made from other files than the checker lists: the zip is whole, downloading again
        # will not help.
        (root / "表.txt").write_bytes(b"HYOU")
        subprocess.run(["zip", "-qr", "../other.zip", "Game"], cwd=work / "src", check=True)
        r = run(check_tool, str(work / "other.zip"))
        check(r.returncode == 1 and r.stdout.decode() == f"ファイル 表.txt が壊れています.\n{DEFAULT_MESSAGES[2]}\n" and
              "the zip itself is whole" in r.stderr.decode(), f"whole but other: {r}")
        report = json.loads(run(check_tool, "--json", str(work / "other.zip")).stdout)
        check(report["zip"]["wholeButDifferent"] == ["表.txt"] and report["problems"][0]["kind"] == "damaged-file",
              f"whole but other, JSON: {report}")

        # Twice the same name: the later entry is checked, as an unpacker leaves it, and said.
        (root / "表.txt").write_bytes(TREE["表.txt"])
        twice = work / "twice.zip"
        zip_windows_way(root, twice, zipfile.ZIP_DEFLATED, [("Game/ソフト/readme.txt", b"not the distributor's")])
        r = run(check_tool, str(twice))
        check(r.returncode == 1 and "ソフト\\readme.txt が壊れています" in r.stdout.decode() and
              "more than once" in r.stderr.decode(), f"duplicate: {r}")

        # More than 65,535 entries: the ZIP64 end record. The entries the check data does not
        # list change nothing; they are named once, as the folder that holds them.
        many = work / "many.zip"
        zip_windows_way(root, many, zipfile.ZIP_STORED, [(f"Game/old/{i}.txt", b"") for i in range(70000)])
        r = run(check_tool, str(many))
        check((r.returncode, r.stdout.decode()) == (0, INTACT), f"70,000 entries: {r}")
        r = run(check_tool, "--json", str(many))
        check(json.loads(r.stdout)["unlisted"] == [{"path": "old/", "folder": True}], f"unlisted: {r.stdout[-300:]}")

        # Not a zip: read as a checker file, as before. A zip without a checker: a usage error.
        r = run(check_tool, str(root / "表.txt"))
        check(r.returncode == 3, f"not a zip: {r}")
        with zipfile.ZipFile(work / "none.zip", "w") as z:
            z.writestr("a.txt", b"a")
        r = run(check_tool, str(work / "none.zip"))
        check(r.returncode == 2 and "no Vexorin.exe" in r.stdout.decode() + r.stderr.decode(), f"no checker: {r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def stored_zip_of_our_own(out, root, huge_name):
    """A stored zip whose first entry is the huge sparse file, written by seeking over its zeros,
    so that every later entry's data lies past 4 GiB; ZIP64 fields where they are needed."""
    entries = []
    with open(out, "wb") as f:
        for p in [root.parent / "Game" / huge_name] + [p for p in sorted(root.parent.rglob("*")) if p.name != huge_name]:
            rel = p.relative_to(root.parent).as_posix() + ("/" if p.is_dir() else "")
            size = 0 if p.is_dir() else p.stat().st_size
            crc = 0
            if not p.is_dir():
                with open(p, "rb") as src:
                    while chunk := src.read(1 << 24):
                        crc = zlib.crc32(chunk, crc)
            offset = f.tell()
            name = rel.encode("utf-8")
            extra = struct.pack("<HHQQ", 1, 16, size, size)
            f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0x800, 0, 0, 0, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                                len(name), len(extra)) + name + extra)
            if p.name == huge_name:
                f.seek(size, os.SEEK_CUR)
            elif not p.is_dir():
                f.write(p.read_bytes())
            entries.append((name, crc, size, offset))
        start = f.tell()
        for name, crc, size, offset in entries:
            extra = struct.pack("<HHQQQ", 1, 24, size, size, offset)
            f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0x800, 0, 0, 0, crc, 0xFFFFFFFF,
                                0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0, 0xFFFFFFFF) + name + extra)
        end = f.tell()
        f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, len(entries), len(entries),
                            end - start, start))
        f.write(struct.pack("<IIQI", 0x07064B50, 0, end, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))


def zip64_past_4_gib(check_tool, build):
    work = pathlib.Path(tempfile.mkdtemp(prefix="vxzip-"))
    try:
        huge = (1 << 32) + 1
        root = build_tree(build, work / "src", {"huge.bin": huge})
        # A deflated entry of more than 4 GiB of zeros (Python's zipfile writes its ZIP64 fields).
        deflated = work / "deflated.zip"
        zip_windows_way_but(root, deflated, "huge.bin", huge)
        r = run(check_tool, str(deflated))
        check((r.returncode, r.stdout.decode()) == (0, INTACT), f"deflated 4 GiB: {r}")
        # Stored, every other entry past 4 GiB.
        stored = work / "stored.zip"
        stored_zip_of_our_own(stored, root, "huge.bin")
        r = run(check_tool, "--all", str(stored))
        check(r.returncode == 0 and "4 files checked, 0 problems found" in r.stdout.decode(), f"offsets past 4 GiB: {r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def zip_windows_way_but(root, out, huge_name, huge):
    """The Windows way, with the huge file's zeros deflated as they are written."""
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for p in sorted(root.parent.rglob("*")):
            rel = p.relative_to(root.parent).as_posix() + ("/" if p.is_dir() else "")
            info = WindowsInfo(rel)
            info.compress_type = zipfile.ZIP_DEFLATED
            if p.name == huge_name:
                info.file_size = huge
                with z.open(info, "w", force_zip64=True) as w:
                    zeros = bytes(1 << 24)
                    left = huge
                    while left:
                        w.write(zeros[:min(left, len(zeros))])
                        left -= min(left, len(zeros))
            else:
                z.writestr(info, b"" if p.is_dir() else p.read_bytes())


def make_zips_for_page(build, out):
    """The zips the cases above check, written to `out` for the page's test to check there too:
    each zipper's, stored and deflated; one damaged, one cut short, one missing an entry, one with
    an encrypted entry, one made from other files, one with a name twice, one past 4 GiB."""
    out.mkdir(parents=True, exist_ok=True)
    work = pathlib.Path(tempfile.mkdtemp(prefix="vxzip-"))
    try:
        root = build_tree(build, work / "src")
        make_zips(root, out)
        raw = bytearray((out / "windows-deflated.zip").read_bytes())
        raw[data_offset(out / "windows-deflated.zip", "大.bin") + 300] ^= 0x55
        (out / "damaged.zip").write_bytes(raw)
        (out / "cut.zip").write_bytes(bytes(raw[:len(raw) * 2 // 3]))
        shutil.copy(out / "zip-deflated.zip", out / "deleted.zip")
        subprocess.run(["zip", "-qd", out / "deleted.zip", "Game/ソフト/readme.txt"], check=True)
        subprocess.run(["zip", "-qr", out / "encrypted.zip", "Game"], cwd=work / "src", check=True)
        subprocess.run(["zip", "-q", "-P", "secret", out / "encrypted.zip", "Game/表.txt"], cwd=work / "src", check=True)
        zip_windows_way(root, out / "twice.zip", zipfile.ZIP_DEFLATED, [("Game/ソフト/readme.txt", b"not the distributor's"),
                                                                       ("Game/old.txt", b"stale")])
        (root / "表.txt").write_bytes(b"HYOU")
        subprocess.run(["zip", "-qr", out / "other.zip", "Game"], cwd=work / "src", check=True)
        (root / "表.txt").write_bytes(TREE["表.txt"])
        with open(root / "huge.bin", "wb") as f:
            f.truncate((1 << 32) + 1)
        stored_zip_of_our_own(out / "past-4gib.zip", root, "huge.bin")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--check")
    ap.add_argument("--build", required=True)
    ap.add_argument("--no-huge", action="store_true", help="leave out the 4 GiB entries (counted as skipped)")
    ap.add_argument("--make-zips", help="only write the zips to this folder")
    a = ap.parse_args()
    if a.make_zips:
        make_zips_for_page(os.path.abspath(a.build), pathlib.Path(a.make_zips))
        return 0
    a.check, a.build = os.path.abspath(a.check), os.path.abspath(a.build)
    t = Checks()
    t.case(every_zipper_intact_damaged_missing_and_cut, a.check, a.build)
    t.case(what_the_zip_itself_says, a.check, a.build)
    if a.no_huge:
        t.skip("zip64_past_4_gib", "entries of 4 GiB are left out of the sanitizer build (minutes there)")
    else:
        t.case(zip64_past_4_gib, a.check, a.build)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
