#!/usr/bin/env python3
"""Packs release archives that come out byte for byte the same from the same files.

A zip (for Windows) or a gzip-compressed tar (for Linux) holding one folder, with the
entries in the order given, every entry time set to the commit's time, fixed permissions
(0755 for programs, 0644 for the rest) and no owner names; the gzip header carries no time
and no file name. Names must be ASCII, so that no unpacker can garble them.

usage: pack.py zip|tar ARCHIVE FOLDER EPOCH NAME=FILE...
  FOLDER  the one folder in the archive (Vexorin-1.0.0)
  EPOCH   the entry time, in seconds since 1970 (the commit's time)
  NAME=FILE  the entry FOLDER/NAME gets the bytes of FILE; NAME ending in .exe, or a FILE that
          may be executed, is a program
The archive is written to ARCHIVE.part and renamed when complete.
"""
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def is_program(name, source):
    # Not "a name without a dot": README and LICENSE have none.
    return name.endswith(".exe") or os.access(source, os.X_OK)


def pack_zip(path, folder, epoch, entries):
    # Zip times are local times without a zone, to two seconds, from 1980: the commit's
    # time in UTC, whatever zone the release is made in.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path, "w") as archive:
        info = zipfile.ZipInfo(folder + "/", stamp)
        info.create_system = 3
        info.external_attr = (0o40755 << 16) | 0x10  # a folder, for Unix and DOS unpackers
        archive.writestr(info, b"")
        for name, data, program in entries:
            info = zipfile.ZipInfo(folder + "/" + name, stamp)
            info.create_system = 3
            info.external_attr = (0o100755 if program else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def pack_tar(path, folder, epoch, entries):
    def member(name, size, mode, kind=tarfile.REGTYPE):
        info = tarfile.TarInfo(name)
        info.size, info.mode, info.type, info.mtime = size, mode, kind, epoch
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        return info

    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        archive.addfile(member(folder, 0, 0o755, tarfile.DIRTYPE))
        for name, data, program in entries:
            archive.addfile(member(folder + "/" + name, len(data), 0o755 if program else 0o644),
                            io.BytesIO(data))
    with open(path, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as packed:
            packed.write(buffer.getvalue())


def main(argv):
    if len(argv) < 6 or argv[1] not in ("zip", "tar"):
        print(__doc__, file=sys.stderr)
        return 2
    kind, archive, folder, epoch = argv[1], argv[2], argv[3], int(argv[4])
    entries = []
    for entry in argv[5:]:
        name, _, source = entry.partition("=")
        if not name or not source or not (folder + name).isascii():
            print("pack.py: %r: an entry is NAME=FILE with an ASCII name" % entry, file=sys.stderr)
            return 2
        with open(source, "rb") as f:
            entries.append((name, f.read(), is_program(name, source)))
    part = archive + ".part"
    try:
        (pack_zip if kind == "zip" else pack_tar)(part, folder, epoch, entries)
        os.replace(part, archive)
    finally:
        if os.path.exists(part):
            os.remove(part)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
