#!/usr/bin/env python3
"""Makes the Debian package of the Linux tools, byte for byte the same from the same files.

The package `vexorin` holds the two statically linked tools in /usr/bin, their manual pages
gzipped in /usr/share/man/man1, the web page in /usr/share/vexorin/, and in
/usr/share/doc/vexorin/ the copyright in Debian's machine-readable format and a changelog.
It is a native package (no Debian revision): it is made from the project's own tree, not
from a Debian source package, so its changelog is changelog.gz.

Every file gets fixed permissions and the commit's time, the gzip members carry no time and
no name, and dpkg-deb makes the archive with root as owner (--root-owner-group), its member
times from SOURCE_DATE_EPOCH and one compressor thread, so the same commit gives the same
bytes.

usage: deb.py OUTPUT --version V --epoch SECONDS --commit HASH --arch ARCH
              --program FILE... --man FILE... --page FILE --license FILE
              [--maintainer "NAME <ADDRESS>"] [--source-url URL]
The package is written to OUTPUT.part and renamed when complete.
"""
import argparse
import email.utils
import gzip
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

SUMMARY = "makes and runs checkers for folders handed out to others"
DESCRIPTION = """\
Vexorin makes a checker for a folder of files that you hand out: a small
Windows program, written into the folder, that holds the MD5 digest of every
file. Whoever downloads and unpacks the folder runs it and learns whether every
folder and file is there and intact, or which one is missing or damaged.
.
This package holds the Linux tools: vexorin-build writes a checker into a
folder without a window, for release scripts and build servers; vexorin-check
checks an unpacked folder against its checker without running it. The web page
that does the same check in a browser is in /usr/share/vexorin/."""


def gzip_bytes(data):
    """gzip -9n: no name, no time."""
    out = tempfile.SpooledTemporaryFile()
    with gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as packed:
        packed.write(data)
    out.seek(0)
    return out.read()


def copyright_text(license_text, source_url, commit):
    """The MIT licence of LICENSE in the machine-readable copyright format (Expat is Debian's
    name for it)."""
    lines = license_text.strip("\n").split("\n")
    holder = next((re.sub(r"^Copyright \([cC]\) ", "", line) for line in lines if line.startswith("Copyright")), None)
    if lines[0].strip() != "MIT License" or holder is None:
        raise ValueError("LICENSE is not the MIT licence with a copyright line")
    body = [line for line in lines[1:] if not line.startswith("Copyright")]
    while body and not body[0].strip():
        body.pop(0)
    text = ["Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/",
            "Upstream-Name: Vexorin"]
    if source_url:
        text.append("Source: " + source_url)
    text += ["Comment: Built from commit %s." % commit, "",
             "Files: *", "Copyright: " + holder, "License: Expat"]
    text += [" " + line if line.strip() else " ." for line in body]
    # vexorin-check carries zlib (linked statically, so that it runs on any Linux), under the
    # zlib licence.
    text += ["", "Files: usr/bin/vexorin-check", "Copyright: " + holder + "; 1995-2022 Jean-loup Gailly and Mark Adler",
             "License: Expat and Zlib", "Comment: Inflates zips with zlib, linked statically.", "",
             "License: Zlib"]
    text += [" " + line if line.strip() else " ." for line in ZLIB_LICENSE.strip("\n").split("\n")]
    return "\n".join(text) + "\n"


ZLIB_LICENSE = """
This software is provided 'as-is', without any express or implied warranty. In no event
will the authors be held liable for any damages arising from the use of this software.

Permission is granted to anyone to use this software for any purpose, including commercial
applications, and to alter it and redistribute it freely, subject to the following
restrictions:

1. The origin of this software must not be misrepresented; you must not claim that you
   wrote the original software. If you use this software in a product, an acknowledgment in
   the product documentation would be appreciated but is not required.
2. Altered source versions must be plainly marked as such, and must not be misrepresented
   as being the original software.
3. This notice may not be removed or altered from any source distribution.
"""

# What lintian says of the package that is so on purpose: the tools are linked statically,
# zlib included, so that one package runs on every Linux.
LINTIAN_OVERRIDES = "vexorin: embedded-library zlib [usr/bin/vexorin-check]\n"


def changelog_text(version, maintainer, epoch, commit):
    return ("vexorin (%s) unstable; urgency=medium\n\n  * Vexorin %s, built from commit %s.\n\n -- %s  %s\n"
            % (version, version, commit, maintainer, email.utils.formatdate(epoch)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--commit", required=True)
    parser.add_argument("--arch", required=True)
    parser.add_argument("--program", nargs="+", required=True)
    parser.add_argument("--man", nargs="+", required=True)
    parser.add_argument("--page", required=True)
    parser.add_argument("--license", required=True)
    parser.add_argument("--maintainer", default="The Vexorin authors <vexorin@example.org>")
    parser.add_argument("--source-url", default="")
    args = parser.parse_args()

    files = {}  # path in the package: (bytes, mode)
    for program in args.program:
        with open(program, "rb") as f:
            files["usr/bin/" + os.path.basename(program)] = (f.read(), 0o755)
    for page in args.man:
        with open(page, "rb") as f:
            files["usr/share/man/man1/%s.gz" % os.path.basename(page)] = (gzip_bytes(f.read()), 0o644)
    with open(args.page, "rb") as f:
        files["usr/share/vexorin/" + os.path.basename(args.page)] = (f.read(), 0o644)
    with open(args.license, encoding="utf-8") as f:
        license_text = f.read()
    doc = "usr/share/doc/vexorin/"
    files[doc + "copyright"] = (copyright_text(license_text, args.source_url, args.commit).encode(), 0o644)
    files["usr/share/lintian/overrides/vexorin"] = (LINTIAN_OVERRIDES.encode(), 0o644)
    files[doc + "changelog.gz"] = (gzip_bytes(changelog_text(args.version, args.maintainer, args.epoch,
                                                             args.commit).encode()), 0o644)

    folders = set()
    for path in files:
        folder = os.path.dirname(path)
        while folder:
            folders.add(folder)
            folder = os.path.dirname(folder)
    folders = sorted(folders)
    installed_kib = sum((len(data) + 1023) // 1024 for data, _ in files.values()) + len(folders)
    control = ["Package: vexorin", "Version: " + args.version, "Architecture: " + args.arch,
               "Maintainer: " + args.maintainer, "Installed-Size: %d" % installed_kib,
               "Section: utils", "Priority: optional"]
    if args.source_url:
        control.append("Homepage: " + args.source_url)
    control.append("Description: " + SUMMARY)
    control += [" " + line for line in DESCRIPTION.split("\n")]
    md5sums = "".join("%s  %s\n" % (hashlib.md5(files[path][0]).hexdigest(), path) for path in sorted(files))

    root = tempfile.mkdtemp(prefix="vexorin-deb.")
    part = args.output + ".part"
    try:
        os.chmod(root, 0o755)
        for folder in ["DEBIAN"] + folders:
            os.makedirs(os.path.join(root, folder), 0o755, exist_ok=True)
        entries = dict(files)
        entries["DEBIAN/control"] = (("\n".join(control) + "\n").encode(), 0o644)
        entries["DEBIAN/md5sums"] = (md5sums.encode(), 0o644)
        for path, (data, mode) in entries.items():
            full = os.path.join(root, path)
            with open(full, "wb") as f:
                f.write(data)
            os.chmod(full, mode)
        for folder, subfolders, names in os.walk(root):
            for name in subfolders:
                os.chmod(os.path.join(folder, name), 0o755)
            for name in subfolders + names:
                os.utime(os.path.join(folder, name), (args.epoch, args.epoch), follow_symlinks=False)
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(args.epoch), LC_ALL="C")
        subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "-z9", "--threads-max=1", "--build", root, part],
                       check=True, env=env, stdout=subprocess.DEVNULL)
        os.replace(part, args.output)
    finally:
        shutil.rmtree(root, ignore_errors=True)
        if os.path.exists(part):
            os.remove(part)
    return 0


if __name__ == "__main__":
    sys.exit(main())
