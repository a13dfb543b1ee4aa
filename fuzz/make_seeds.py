#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

check_data: real checker files, made by vexorin-build with a tiny image over small trees
whose files hold their own stored relative path (so that the fuzz target's stand-in folder
matches them and a run over them passes), and a few hand-made files for the corners of the
format that the maker never writes. settings: settings files of the edge cases.

usage: make_seeds.py --build build/linux/cli/vexorin-build [--out fuzz/corpus]
"""
import argparse
import hashlib
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile

IMAGE = b"MZ\x90\x00tiny checker\x00\x00"
CHUNK = 524288  # the checker's chunk: a ".big" file takes more than one step


def stored(rel):
    """The path as the checker reads it: code page 932, or, for a path that code page 932
    cannot write, UTF-8 enclosed in the marks the reader puts around the UTF-8 records' paths."""
    path = rel.replace("/", "\\")
    try:
        return path.encode("cp932")
    except UnicodeEncodeError:
        return b"\x03" + path.encode("utf-8") + b"\x04"


def content_for(rel):
    """What the fuzz target serves for a listed file: its stored path, repeated past one
    chunk for a name ending in .big."""
    path = stored(rel)
    data = path
    if rel.endswith(".big"):
        while len(data) <= CHUNK:
            data += path
    return data


def build(tool, files, folders=(), args=()):
    root = pathlib.Path(tempfile.mkdtemp(prefix="vxseed-"))
    try:
        for folder in folders:
            (root / folder).mkdir(parents=True, exist_ok=True)
        for rel in files:
            (root / rel).parent.mkdir(parents=True, exist_ok=True)
            (root / rel).write_bytes(content_for(rel))
        image = root.parent / (root.name + ".image")
        image.write_bytes(IMAGE)
        env = dict(os.environ, LC_ALL="C.UTF-8")
        subprocess.run([tool, "--yes", "--image", str(image), *args, str(root)], check=True,
                       capture_output=True, env=env)
        image.unlink()
        return (root / "Vexorin.exe").read_bytes()
    finally:
        shutil.rmtree(root, ignore_errors=True)


def checker(strings, total=0, declared=None, image=IMAGE):
    """A checker file of the given strings, each with its NUL, and a trailer."""
    data = b"".join(s + b"\0" for s in strings)
    return image + data + b"VXR!" + struct.pack("<IQ", len(data) if declared is None else declared, total)


def record(path, sep=b" "):
    """A file record that matches what the fuzz target serves for `path`."""
    return hashlib.md5(path).hexdigest().encode() + sep + path


def check_data_seeds(tool):
    seeds = {
        "flat": build(tool, ["a.txt", "b.txt"]),
        "nested": build(tool, ["a.txt", "sub/b.txt", "sub/deeper/c.txt"], folders=["x"]),
        "japanese": build(tool, ["表.txt", "表/ソフト.txt"], folders=["空"]),
        "folders_only": build(tool, [], folders=["x", "y/z"]),
        "messages": build(tool, ["m.txt"], args=["--folder-message", "一行目\n二行目",
                                                   "--nofile-message", "", "--broken-message", "|"]),
        "gone_file": build(tool, ["ok.txt", "gone.txt"]),
        "gone_folder": build(tool, ["ok.txt", "gone/x.txt"]),
        "big": build(tool, ["data.big", "after.txt"]),
        "long_path": build(tool, ["d" * 100 + "/" + "f" * 120 + ".txt"]),
        "utf8_names": build(tool, ["表.txt", "café.txt", "한/x.txt", "한/gone.txt", "ソフト/\U0001F600.big"],
                            folders=["空/한글"]),
        # Corners the maker never writes.
        "third_separator": checker([b"|", record(b"e"), b"|", b"m1", b"|", b"after", b"ignored"]),
        "messages_missing": checker([b"x\\", b"|", record(b"e"), b"|", b"m1"]),
        "short_record": checker([b"|", record(b""), b"|", b"", b"", b""]),
        "byte_32_not_space": checker([b"|", record(b"e", b"#"), b"|", b"", b"", b""]),
        "one_separator": checker([b"a\\", b"|", record(b"e")]),
        "no_data": checker([]),
        "length_beyond_file": checker([b"|", b"|"], declared=1000),
        "no_trailer": IMAGE,
        "path_too_long": checker([b"|", record(b"p" * 4100), b"|", b"", b"", b""]),
        "folder_too_long": checker([b"q" * 4100 + b"\\", b"|", b"|", b"", b"", b""]),
        "negative_total": checker([b"|", record(b"e"), b"|", b"", b"", b""], total=2**64 - 1),
        "huge_total": checker([b"|", record(b"e"), b"|", b"", b"", b""], total=2**32 + 5),
        "escaping_file": checker([b"ok\\", b"|", record(b"e"), record(b"ok\\..\\..\\up"), b"|", b"", b"", b""]),
        "escaping_folder": checker([b"\\abs\\", b"|", record(b"C:x"), b"|", b"m1", b"m2", b"m3"]),
        "utf8_unknown_extension": checker([b"|", record(b"e"), b"|", b"", b"", b"", b"|", b"utf16", b"x\\"]),
        "utf8_no_closing_separator": checker([b"|", b"|", b"", b"", b"", b"|", b"utf8", b"x\\", b"|"]),
        "utf8_malformed": checker([b"|", b"|", b"", b"", b"", b"|", b"utf8", b"\xc3(\\", b"|", b"|"]),
        "utf8_escaping": checker([b"|", b"|", b"", b"", b"", b"|", b"utf8", b"|",
                                  hashlib.md5(b"x").hexdigest().encode() + " 한\\..\\..\\up".encode(), b"|"]),
    }
    # "unterminated": its data is declared one byte shorter, so the last message has no NUL.
    data = b"".join(s + b"\0" for s in [b"|", b"|", b"m1", b"m2"])[:-1]
    seeds["unterminated"] = IMAGE + data + b"VXR!" + struct.pack("<IQ", len(data), 0)
    return seeds


def settings_seeds():
    crlf = lambda lines: b"".join(l + b"\r\n" for l in lines)  # noqa: E731
    d1 = "ダウンロードからやり直してください.".encode("cp932")
    d2 = "また、フォルダ構造ごと解凍しているか確認してください.".encode("cp932")
    defaults = [b"", b"Vexorin.exe", d1, d2, b"--", d1, d2, b"--", d1, b"--"]
    return {
        "defaults": crlf(defaults),
        "lf_only": b"\n".join(defaults) + b"\n",
        "cr_only": b"\r".join(defaults) + b"\r",
        "mixed_line_ends": b"C:\\data\r\r\nname.exe\n\ra\r\n--\rb\n--\r\nc\r\n--",
        "four_lines": crlf([b"C:\\x", b"n.exe", b"a", b"--"]),
        "five_lines_no_marks": crlf([b"C:\\x", b"n.exe", b"a", b"b", b"c"]),
        "empty_lists": crlf([b"", b"", b"--", b"--", b"--"]),
        "empty_lines_inside": crlf([b"C:\\x", b"n.exe", b"", b"a", b"", b"--", b"--", b"", b"--"]),
        "marks_misplaced": crlf([b"--", b"--", b"--", b"- -", b"-- ", b"---", b"--"]),
        "nul_inside": crlf([b"C:\\x", b"n.exe", b"a", b"--"]) + b"b\0c\r\n--\r\n--\r\n",
        "after_third_mark": crlf([b"t", b"n", b"--", b"--", b"--", b"ignored", b"--"]),
        "no_final_line_end": crlf([b"t", b"n", b"a", b"--", b"b"]) + b"--",
        "japanese": crlf(["C:\\表\\ソフト".encode("cp932"), "チェック.exe".encode("cp932"),
                          d1, b"--", d2, b"--", b"--"]),
        "empty": b"",
    }


def zip_seeds():
    """Zips as real writers make them, and the hostile ones no writer makes: cut short, a
    directory pointing outside the file, an entry that inflates past its declared size,
    thousands of entries of one name, bytes before the archive, ZIP64."""
    import io
    import zipfile

    checker = IMAGE + b"|\0" + b"0" * 32 + b" a.txt\0|\0\0\0\0" + b"VXR!" + struct.pack("<IQ", 47, 1)

    class Cp932Info(zipfile.ZipInfo):  # as Japanese Windows writes names: no UTF-8 flag
        def _encodeFilenameFlags(self):
            return self.filename.encode("cp932"), self.flag_bits & ~0x800

    def make(entries, method=zipfile.ZIP_DEFLATED, zip64=False, flag=True):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for name, data in entries:
                info = (zipfile.ZipInfo if flag else Cp932Info)(name)
                info.compress_type = method
                with z.open(info, "w", force_zip64=zip64) as w:
                    w.write(data)
        return bytearray(buffer.getvalue())

    tree = [("Game/", b""), ("Game/Vexorin.exe", checker), ("Game/a.txt", b"a" * 3000), ("Game/empty/", b"")]
    seeds = {
        "deflated.zip": make(tree),
        "stored.zip": make(tree, zipfile.ZIP_STORED),
        "zip64.zip": make(tree, zip64=True),
        "cp932-names.zip": make(tree + [("Game/\u30bd\u30d5\u30c8/\u8868.txt", b"x")], flag=False),
        "same-name.zip": make(tree + [("Game/a.txt", b"b")] * 2000, zipfile.ZIP_STORED),
    }
    seeds["cut.zip"] = seeds["deflated.zip"][: len(seeds["deflated.zip"]) // 2]
    seeds["stub-before.zip"] = bytearray(b"MZ stub" * 100) + seeds["deflated.zip"]
    outside = bytearray(seeds["stored.zip"])
    outside[-6:-2] = struct.pack("<I", 0x7FFFFFF0)  # the directory's offset past the end
    seeds["directory-outside.zip"] = outside
    past = bytearray(seeds["deflated.zip"])
    at = past.rfind(b"PK\x01\x02" )
    past[at + 24:at + 28] = struct.pack("<I", 10)  # declared 10 bytes, inflates to 3,000
    seeds["inflates-past.zip"] = past
    return {name: bytes(data) for name, data in seeds.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="the native vexorin-build")
    ap.add_argument("--out", default=str(pathlib.Path(__file__).resolve().parent / "corpus"))
    a = ap.parse_args()
    out = pathlib.Path(a.out)
    for name, seeds in (("check_data", check_data_seeds(a.build)), ("settings", settings_seeds()),
                         ("zip", zip_seeds())):
        folder = out / name
        folder.mkdir(parents=True, exist_ok=True)
        for seed, data in seeds.items():
            (folder / seed).write_bytes(data)
        print(f"{folder}: {len(seeds)} seeds")


if __name__ == "__main__":
    main()
