#!/usr/bin/env python3
"""vexorin-check over folders whose names real unpackers and systems changed: a zip with
code-page-932 names and no UTF-8 flag, as Japanese archivers write it, made on Windows and on
Unix, unpacked by Debian's unzip, 7-Zip, bsdtar and Python's zipfile; decomposed (NFD) copies,
twin characters and letter case; names that could be another entry's. Every such entry must be found and checked under the name it has, the cause
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

# ソ, 表, 十 and 能 end in 0x5C, the backslash byte (unzip makes a folder of 能力 in 能力.txt,
# a file of the top folder, from a zip made on Windows); ガ and パ decompose; ～ has a JIS twin.
TREE = {
    "能力.txt": b"nouryoku",
    "ソフト/表.txt": b"hyou\n",
    "データ/セーブ/十字架.dat": bytes(range(256)) * 4,
    "ガパ.txt": b"gapa",
    "ver1.0～2.0.txt": b"wave",
    "readme.txt": b"ascii names stay as they are",
}
# What each unpacker makes of code-page-932 names, as vexorin-check calls it, for a zip whose
# entries say they were made on FAT (host 0, as Windows writes them) and on Unix (host 3).
UNPACKERS = {
    "unzip": (["unzip", "-q"], {0: "cp437-latin1", 3: "cp932-bytes"}),
    "7zz": (["7zz", "x", "-bd", "-y"], {0: "cp932-bytes", 3: "cp932-bytes"}),
    "bsdtar": (["bsdtar", "-xf"], {0: "cp932-bytes", 3: "cp932-bytes"}),
    "zipfile": ([sys.executable, "-c", "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()"],
                {0: "cp437", 3: "cp437"}),
}
TOOLS = pathlib.Path(__file__).resolve().parent.parent.parent / "tools"


def run(tool, *args, cwd=None):
    return subprocess.run([tool, *args], stdin=subprocess.DEVNULL, capture_output=True, cwd=cwd,
                          env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=120)


def built_tree(build, top, tree=TREE):
    root = top / "src"
    for rel, data in tree.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    r = run(build, "--yes", str(root))
    check(r.returncode == 0, f"vexorin-build: {r.stderr.decode()}")
    return root


def zip_with_cp932_names(root, path, host=0):
    """A stored zip whose names are code page 932 without the UTF-8 flag, folders listed, made
    on `host` (0: FAT, as Windows writes zips; 3: Unix)."""
    entries = []
    for folder, folders, files in os.walk(root):
        rel = pathlib.Path(folder).relative_to(root)
        entries += [((rel / d).as_posix() + "/", None) for d in sorted(folders)]
        entries += [((rel / f).as_posix(), (pathlib.Path(folder) / f).read_bytes()) for f in sorted(files)]
    zip_of([(name.removeprefix("./").encode("cp932"), data) for name, data in entries], path, host)


def zip_of(entries, path, host):
    """A stored zip of (name bytes, content or None for a folder) made on `host`."""
    out, central = bytearray(), bytearray()
    for name, data in entries:
        data = data or b""
        crc = zlib.crc32(data)
        header = struct.pack("<HHHHHIIIHH", 20, 0, 0, 0, 0x21, crc, len(data), len(data), len(name), 0)
        central += struct.pack("<IH", 0x02014B50, host << 8 | 20) + header + struct.pack(
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
        for host, unpacker in [(h, u) for h in (3, 0) for u in UNPACKERS]:
            command, form = UNPACKERS[unpacker][0], UNPACKERS[unpacker][1][host]
            archive = top / f"pack{host}.zip"
            if not archive.exists():
                zip_with_cp932_names(root, archive, host)
            out = top / unpacker
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir()
            unpacker = f"{unpacker}, host {host}"
            r = subprocess.run(command + [str(archive)], cwd=out, capture_output=True, timeout=120)
            # unzip warns (exit 1) that the names from Windows use backslashes: 能's second byte.
            warned = command[0] == "unzip" and r.returncode == 1 and b"backslashes" in r.stderr
            check(r.returncode == 0 or warned, f"{unpacker}: {r.stderr.decode(errors='replace')}")
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
        subprocess.run(["bsdtar", "--options", "hdrcharset=CP932", "-xf", str(top / "pack0.zip")], cwd=good,
                       check=True)
        code, report = check_json(check_tool, good)
        check(code == 0 and report["problems"] == [] and report["nameCauses"] == [], f"{report}")
    finally:
        shutil.rmtree(top, ignore_errors=True)


def unzips_table_is_the_one_the_search_models(check_tool, build):
    """Debian's unzip writes each byte of a name from Windows by a fixed table, which the
    search models (tools/gen_name_tables.py); a change of unzip must show here."""
    sys.path.insert(0, str(TOOLS))
    import gen_name_tables  # noqa: E402
    check(subprocess.run([sys.executable, str(TOOLS / "gen_name_tables.py"), "--check"]).returncode == 0,
          "common/text/name_forms_tables.h is not what tools/gen_name_tables.py writes")
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        for host in (0, 3):
            zip_of([(b"n%02x_%c_" % (b, b), b"") for b in range(0x80, 0x100)], top / f"bytes{host}.zip", host)
            out = top / f"bytes{host}"
            out.mkdir()
            subprocess.run(["unzip", "-q", str(top / f"bytes{host}.zip")], cwd=out, capture_output=True)
            written = {int(n[1:3], 16): n[4:-1] for n in os.listdir(os.fsencode(out))}
            # Host 3: the bytes as they are (0xFF, which no code-page-932 name holds, aside).
            expected = {b: bytes([gen_name_tables.UNZIP_FAT[b - 0x80]] if host == 0 else [b]).strip(b"\0")
                        for b in range(0x80, 0xFF)}
            differ = {hex(b): (written.get(b), want) for b, want in expected.items() if written.get(b) != want}
            check(not differ, f"host {host}: byte: (unzip, table) {differ}")
    finally:
        shutil.rmtree(top, ignore_errors=True)


def no_other_entrys_file_is_offered_and_a_shared_name_is_ambiguous(check_tool, build):
    """The folder of issue 27: ｱｲｳ.txt, abc.txt, x/r.txt and ｱ/s.txt built, then ｱｲｳ.txt and ｱ/
    deleted. Every character of ｱｲｳ is one that Latin-1 lacks, and 漢字's trail bytes are
    such characters too: neither may be taken for another name of that length."""
    top = pathlib.Path(tempfile.mkdtemp(prefix="vxnames-"))
    try:
        tree = {"ｱｲｳ.txt": b"aiu", "漢字.txt": b"kanji", "abc.txt": b"abc", "xyzw.txt": b"xyzw",
                "x/r.txt": b"r", "ｱ/s.txt": b"s"}
        root = built_tree(build, top, tree)
        (root / "ｱｲｳ.txt").unlink()
        (root / "漢字.txt").unlink()
        shutil.rmtree(root / "ｱ")
        code, report = check_json(check_tool, root)
        kinds = {p["path"]: p["kind"] for p in report["problems"]}
        check(code == 1 and kinds == {"ｱ/": "missing-folder", "ｱｲｳ.txt": "missing-file",
                                      "漢字.txt": "missing-file", "ｱ/s.txt": "missing-file"}
              and report["nameCauses"] == [], f"{report}")
        plain = run(check_tool, "--all", str(root / "Vexorin.exe")).stdout.decode()
        check("is there as" not in plain and "ファイル ｱｲｳ.txt が見つかりません." in plain, plain)

        # Unpacked by unzip from a zip made on Windows, where ｲｱｳ.txt is written under the
        # name ｱｲｳ.txt has (unzip's -o: the later one replaces the first): which one is there
        # cannot be told, so neither is taken; the rest is found under unzip's names.
        tree["ｲｱｳ.txt"] = b"iau"
        root = built_tree(build, top / "two", tree)
        zip_with_cp932_names(root, top / "two.zip", 0)
        out = top / "unzipped"
        out.mkdir()
        r = subprocess.run(["unzip", "-o", "-q", str(top / "two.zip")], cwd=out, capture_output=True)
        check(r.returncode == 0 and os.path.exists(os.fsencode(out) + b"/\xa6\xa6\xa6.txt"), r.stderr)
        code, report = check_json(check_tool, out)
        found = problems_by_path(report)
        check(code == 1 and set(found) == {"ｱ/", "ｱ/s.txt", "ｱｲｳ.txt", "ｲｱｳ.txt", "漢字.txt"}, f"{report}")
        for path, other in (("ｱｲｳ.txt", "ｲｱｳ.txt"), ("ｲｱｳ.txt", "ｱｲｳ.txt")):
            p = found[path]
            check(p["kind"] == "ambiguous-name" and p["foundAs"] == "cp437-latin1"
                  and p["candidates"] == ["\\xa6\\xa6\\xa6.txt"] and p["otherEntries"] == [other], f"{p}")
        check(found["漢字.txt"]["kind"] == "file-under-other-name"
              and disk_bytes(found["漢字.txt"]["nameOnDisk"]) == "漢字.txt".encode("cp932").translate(
                  bytes(range(128)) + bytes(gen_table())), f"{found['漢字.txt']}")
        check(found["ｱ/s.txt"]["kind"] == "file-under-other-name" and found["ｱ/"]["kind"] == "folder-under-other-name",
              f"{report}")
        plain = run(check_tool, "--all", str(out / "Vexorin.exe")).stdout.decode()
        check("ファイル ｱｲｳ.txt は別の名前で解凍されたようですが、候補が複数あり、どれか決められません.\n"
              "file ｱｲｳ.txt is not there under its own name, and which name on disk it has cannot be told "
              "(cp437-latin1): \\xa6\\xa6\\xa6.txt, a name that ｲｱｳ.txt could have as well." in plain, plain)
    finally:
        shutil.rmtree(top, ignore_errors=True)


def gen_table():
    sys.path.insert(0, str(TOOLS))
    import gen_name_tables  # noqa: E402
    return gen_name_tables.UNZIP_FAT


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

        # Names code page 932 cannot write are stored in UTF-8: searched the same ways.
        utf8 = built_tree(build, top / "utf8", {"café.txt": b"cafe", "ガ.txt": b"ga", "Ωmega/x.txt": b"x"})
        for name in ("café.txt", "ガ.txt"):
            os.rename(utf8 / name, utf8 / unicodedata.normalize("NFD", name))
        os.rename(utf8 / "Ωmega", utf8 / "ΩMEGA")
        code, report = check_json(check_tool, utf8)
        forms = {p["path"]: (p["kind"], p.get("foundAs")) for p in report["problems"]}
        check(code == 1 and forms == {"café.txt": ("file-under-other-name", "decomposed"),
                                      "ガ.txt": ("file-under-other-name", "decomposed"),
                                      "Ωmega/": ("folder-under-other-name", "letter-case"),
                                      "Ωmega/x.txt": ("file-under-other-name", "letter-case")}, f"{report}")
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
                 unzips_table_is_the_one_the_search_models,
                 no_other_entrys_file_is_offered_and_a_shared_name_is_ambiguous,
                 decomposed_twin_and_case_forms_are_found_one_cause_each,
                 a_folder_deeper_than_260_bytes_builds_and_checks,
                 a_folder_above_named_in_latin1_is_shown_escaped):
        t.case(body, a.check, a.build)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
