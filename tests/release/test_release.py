#!/usr/bin/env python3
"""The release (tools/make-release.sh), made from the committed HEAD in two fresh clones.

Checks that both clones give the same bytes (archives and SHA256SUMS), and what a
distributor receives: the zip's listing, entry times and permissions; the file properties
and manifests read back from the programs in it (the checker image too, as the maker carries
it); readme.txt in Shift-JIS with CR LF; LICENSE.txt; the static Linux tools, their --version,
manual pages and README; the Debian package: its fields and listing (dpkg-deb -I, -c), lintian,
and both tools run from it unpacked (dpkg -x) over a folder they build and check. Then, in the second clone, an uncommitted change (the release is named -dirty)
and a failing step (nothing new reaches dist/).

usage: test_release.py --source REPOSITORY [--keep]
Needs git, the MinGW-w64 i686 compiler, CMake, Ninja, dpkg-deb and lintian. Prints one line per check and a
closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import gzip
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402
from pe_image import (ALLOWED_DLLS, RT_RCDATA, RT_VERSION, SIZE_GOAL, Pe, manifest_checks,  # noqa: E402
                      parse_version_info)

DESCRIPTIONS = {"VexorinMake.exe": "ヴェクソリン ファイルチェッカー作成ツール",
                "vexorin-build.exe": "ヴェクソリン ファイルチェッカー作成ツール (コマンドライン版)",
                "vexorin-check.exe": "ヴェクソリン フォルダ検査ツール (コマンドライン版)"}


def run(args, cwd, timeout=1800):
    return subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                          env=dict(os.environ, VEXORIN_JOBS=os.environ.get("VEXORIN_JOBS", "2")))


def clone(source, commit, path):
    subprocess.run(["git", "clone", "--quiet", "--no-checkout", source, path], check=True)
    subprocess.run(["git", "-C", path, "checkout", "--quiet", "--detach", commit], check=True)


def dist(clone_path):
    """{name: bytes} of dist/, hidden files included."""
    folder = os.path.join(clone_path, "dist")
    found = {}
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name), "rb") as f:
            found[name] = f.read()
    return found


def release(t, what, clone_path):
    started = time.time()
    result = run(["bash", "tools/make-release.sh"], clone_path)
    output = result.stdout.decode("utf-8", "replace")
    t.check("%s: make-release.sh succeeds (%.0f s)" % (what, time.time() - started), result.returncode == 0,
            output[-3000:])
    return output


def check_program(t, name, data, version):
    pe = Pe(data)
    resources = pe.resources()
    t.check(name + ": i386 image", pe.machine == 0x14C, "machine 0x%x" % pe.machine)
    t.check(name + ": no link time in the PE header", pe.timestamp == 0, "0x%x" % pe.timestamp)
    blocks = [v for k, v in resources.items() if k[0] == RT_VERSION]
    if t.check(name + ": one VERSIONINFO", len(blocks) == 1, sorted(k for k in resources if k[0] == RT_VERSION)):
        numbers, tables, translations = parse_version_info(blocks[0])
        numeric = tuple(int(n) for n in version.split("-")[0].split(".")) + (0,)
        wanted = {"CompanyName": "Vexorin", "ProductName": "Vexorin", "FileVersion": version,
                  "ProductVersion": version, "OriginalFilename": name, "FileDescription": DESCRIPTIONS[name],
                  "LegalCopyright": "(C) The Vexorin authors, MIT License"}
        t.check(name + ": file properties in Japanese", tables == {"041104B0": wanted} and
                translations == [(0x411, 1200)], (tables, translations))
        t.check(name + ": numeric versions", numbers == {"FileVersion": numeric, "ProductVersion": numeric}, numbers)
    for what, ok, detail in manifest_checks(resources):
        t.check("%s: %s" % (name, what), ok, detail)
    return resources


def check_zip(t, data, version, epoch):
    archive = zipfile.ZipFile(io.BytesIO(data))
    folder = "Vexorin-%s/" % version
    programs = ["VexorinMake.exe", "vexorin-build.exe", "vexorin-check.exe"]
    names = [i.filename for i in archive.infolist()]
    others = ["vexorin-check.html", "readme.txt", "LICENSE.txt"]
    t.check("zip: one folder with the programs, the web page, readme.txt and LICENSE.txt, in this order",
            names == [folder] + [folder + n for n in programs + others], names)
    t.check("zip: ASCII names only", all(n.isascii() for n in names), names)
    stamp = time.gmtime(epoch)[:6]
    stamp = stamp[:5] + (stamp[5] - stamp[5] % 2,)
    t.check("zip: every entry time is the commit's", {i.date_time for i in archive.infolist()} == {stamp},
            ({i.date_time for i in archive.infolist()}, stamp))
    modes = {i.filename: i.external_attr >> 16 for i in archive.infolist()}
    t.check("zip: programs 0755, other files 0644",
            all(modes[folder + n] == 0o100755 for n in programs) and
            all(modes[folder + n] == 0o100644 for n in others), modes)
    return {n[len(folder):]: archive.read(n) for n in names[1:] if n.startswith(folder)}


def check_readme(t, data, version):
    t.check("readme.txt: CR LF line ends only", b"\n" in data and data.count(b"\n") == data.count(b"\r\n") and
            data.endswith(b"\r\n"), data[:200])
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError as e:
        t.check("readme.txt: Shift-JIS", False, e)
        return
    wanted = ["Vexorin %s" % version, "VexorinMake.INI", "vexorin-build", "vexorin-check", "vexorin-check.html", "260 バイト", "コードページ 932",
              "すべてのファイルは正常です.", "ファイル … が壊れています.", "MIT ライセンス", "The Vexorin authors"]
    missing = [w for w in wanted if w not in text]
    t.check("readme.txt: Japanese guide with the version, the messages, the licence", not missing, missing)
    leftovers = [m for m in ("**", "```", "<!--", "{{", "](") if m in text]
    t.check("readme.txt: no Markdown left", not leftovers, leftovers)


def check_tarball(t, data, version, epoch, scratch):
    os.makedirs(scratch, exist_ok=True)
    path = os.path.join(scratch, "linux.tar.gz")
    with open(path, "wb") as f:
        f.write(data)
    t.check("tarball: gzip header without time or name", data[:10] == b"\x1f\x8b\x08\x00\0\0\0\0\x02\xff", data[:10])
    with tarfile.open(path) as archive:
        members = archive.getmembers()
        folder = "Vexorin-%s" % version
        programs = ["vexorin-build", "vexorin-check"]
        names = [m.name for m in members]
        others = ["vexorin-build.1", "vexorin-check.1", "README", "LICENSE"]
        t.check("tarball: one folder with the programs, their manual pages, README and LICENSE",
                names == [folder] + ["%s/%s" % (folder, n) for n in programs + others], names)
        modes = {m.name[len(folder) + 1:]: m.mode for m in members[1:]}
        t.check("tarball: programs 0755, other files 0644",
                modes == dict([(n, 0o755) for n in programs] + [(n, 0o644) for n in others]), modes)
        t.check("tarball: commit time, owner 0, no owner names",
                all(m.mtime == epoch and m.uid == m.gid == 0 and m.uname == m.gname == "" for m in members),
                [(m.name, m.mtime, m.uid, m.uname) for m in members])
        archive.extractall(scratch)
    for program in programs:
        path = os.path.join(scratch, folder, program)
        with open(path, "rb") as f:
            elf = f.read()
        # A program interpreter (the dynamic loader) in the program headers means a dynamic link.
        headers = subprocess.run(["readelf", "-lW", path], stdout=subprocess.PIPE, universal_newlines=True).stdout
        t.check("tarball: %s is x86-64 and statically linked" % program,
                elf[:5] == b"\x7fELF\x02" and "LOAD" in headers and "INTERP" not in headers, headers[:800])
        shown = subprocess.run([path, "--version"], stdout=subprocess.PIPE, universal_newlines=True).stdout
        t.check("tarball: %s --version shows %s" % (program, version), shown == "%s %s\n" % (program, version),
                shown)
        with open(os.path.join(scratch, folder, program + ".1"), encoding="utf-8") as f:
            page = f.read()
        check_man_page(t, "tarball", program, page, version, epoch)
    with open(os.path.join(scratch, folder, "README"), encoding="utf-8") as f:
        readme = f.read()
    wanted = ["vexorin-build --yes", "vexorin-check ~/", "man -l vexorin-check.1", "vexorin-check.html", "MIT", ".deb"]
    t.check("tarball: README says what the tools are, an example of each, the pages, the web page, the licence",
            all(w in readme for w in wanted), [w for w in wanted if w not in readme])


def check_man_page(t, where, program, page, version, epoch):
    day = time.strftime("%Y-%m-%d", time.gmtime(epoch))
    t.check("%s: %s.1 carries the version and the commit's date" % (where, program),
            page.startswith(".\\\"") and '.TH %s 1 "%s" "Vexorin %s"' % (program.upper(), day, version) in page
            and "@" not in page, page[:400])


def check_deb(t, name, data, version, epoch, page, scratch):
    """The Debian package: fields, listing, lintian, and both tools run from it unpacked."""
    os.makedirs(scratch, exist_ok=True)
    path = os.path.join(scratch, name)
    with open(path, "wb") as f:
        f.write(data)
    info = subprocess.run(["dpkg-deb", "-f", path], stdout=subprocess.PIPE, universal_newlines=True).stdout
    fields = dict(re.findall(r"^([A-Za-z-]+): (.*)$", info, re.M))
    wanted = {"Package": "vexorin", "Version": version.replace("-dirty", "+dirty"), "Architecture": "amd64",
              "Section": "utils", "Priority": "optional"}
    t.check("deb: package, version, architecture, section and priority",
            {k: fields.get(k) for k in wanted} == wanted, fields)
    description = subprocess.run(["dpkg-deb", "-I", path], stdout=subprocess.PIPE, universal_newlines=True).stdout
    t.check("deb: a maintainer with an address, a description naming both tools, no dependencies",
            re.match(r".+ <[^@ ]+@[^@ ]+>$", fields.get("Maintainer", "")) and "vexorin-build" in description and
            "vexorin-check" in description and "Depends" not in fields, description)
    listing = subprocess.run(["dpkg-deb", "-c", path], stdout=subprocess.PIPE, universal_newlines=True).stdout
    rows = [line.split(None, 5) for line in listing.splitlines()]
    stamp = time.strftime("%Y-%m-%d %H:%M", time.localtime(epoch))
    files = {r[5]: r[0] for r in rows if not r[5].endswith("/")}
    wanted_files = {"./usr/bin/vexorin-build": "-rwxr-xr-x", "./usr/bin/vexorin-check": "-rwxr-xr-x",
                    "./usr/share/man/man1/vexorin-build.1.gz": "-rw-r--r--",
                    "./usr/share/man/man1/vexorin-check.1.gz": "-rw-r--r--",
                    "./usr/share/vexorin/vexorin-check.html": "-rw-r--r--",
                    "./usr/share/doc/vexorin/copyright": "-rw-r--r--",
                    "./usr/share/doc/vexorin/changelog.gz": "-rw-r--r--",
                    "./usr/share/lintian/overrides/vexorin": "-rw-r--r--"}
    t.check("deb: the tools, their gzipped pages, the web page, copyright, changelog and lintian's overrides, "
            "with their modes",
            files == wanted_files, files)
    t.check("deb: every entry owned by root, folders 0755, dated at the commit",
            all(r[1] == "root/root" and "%s %s" % (r[3], r[4]) == stamp for r in rows) and
            all(r[0] == "drwxr-xr-x" for r in rows if r[5].endswith("/")), listing)
    if shutil.which("lintian"):
        lint = subprocess.run(["lintian", "--fail-on", "error", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              universal_newlines=True)
        t.check("deb: lintian finds no error", lint.returncode == 0 and not re.search(r"^E: ", lint.stdout, re.M),
                lint.stdout)
    else:
        t.check("deb: lintian is installed (tools/install-deps.sh)", False)

    root = os.path.join(scratch, "root")
    subprocess.run(["dpkg", "-x", path, root], check=True)
    doc = os.path.join(root, "usr", "share", "doc", "vexorin")
    with open(os.path.join(doc, "copyright"), encoding="utf-8") as f:
        copyright_text = f.read()
    t.check("deb: copyright in the machine-readable format, the MIT licence as Expat",
            copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
            and "Files: *\nCopyright: 2026 The Vexorin authors\nLicense: Expat\n" in copyright_text and
            "THE SOFTWARE IS PROVIDED" in copyright_text, copyright_text)
    with gzip.open(os.path.join(doc, "changelog.gz"), "rt", encoding="utf-8") as f:
        changelog = f.read()
    t.check("deb: changelog entry of this version",
            changelog.startswith("vexorin (%s) " % wanted["Version"]) and "\n -- " in changelog, changelog)
    with open(os.path.join(root, "usr", "share", "vexorin", "vexorin-check.html"), "rb") as f:
        t.check("deb: the web page is the one beside the archives", f.read() == page)
    for program in ("vexorin-build", "vexorin-check"):
        with gzip.open(os.path.join(root, "usr", "share", "man", "man1", program + ".1.gz"), "rt",
                       encoding="utf-8") as f:
            check_man_page(t, "deb", program, f.read(), version, epoch)

    # Both tools from the unpacked package over a folder: built, intact, then one file damaged.
    folder = os.path.join(scratch, "served")
    os.makedirs(os.path.join(folder, "data"))
    for rel, content in (("readme.txt", b"read me\n"), ("data/level.bin", bytes(range(256)) * 300)):
        with open(os.path.join(folder, rel), "wb") as f:
            f.write(content)
    tools = os.path.join(root, "usr", "bin")
    built = subprocess.run([os.path.join(tools, "vexorin-build"), "--yes", folder], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
    checker = os.path.join(folder, "Vexorin.exe")
    t.check("deb: vexorin-build from the package writes a checker", built.returncode == 0 and os.path.isfile(checker),
            built.stdout[-1000:])
    intact = subprocess.run([os.path.join(tools, "vexorin-check"), checker], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "data", "level.bin"), "r+b") as f:
        f.write(b"X")
    damaged = subprocess.run([os.path.join(tools, "vexorin-check"), "--json", checker], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, universal_newlines=True)
    t.check("deb: vexorin-check from the package finds the folder intact, then the damaged file",
            intact.returncode == 0 and "すべてのファイルは正常です." in intact.stdout.decode("utf-8", "replace") and
            damaged.returncode == 1 and '"damaged-file"' in damaged.stdout and "data/level.bin" in damaged.stdout,
            (intact.returncode, intact.stdout[-500:], damaged.returncode, damaged.stdout[-1000:]))


def check_release(t, clone_path, version, epoch, scratch):
    files = dist(clone_path)
    zip_name = "Vexorin-%s-windows-x86.zip" % version
    tar_name = "Vexorin-%s-linux-x86_64.tar.gz" % version
    page_name = "vexorin-check.html"
    deb_name = "vexorin_%s_amd64.deb" % version.replace("-dirty", "+dirty")
    t.check("dist/ holds the zip, the tarball, the Debian package, the web page and SHA256SUMS only", sorted(files) ==
            sorted([zip_name, tar_name, deb_name, page_name, "SHA256SUMS"]), sorted(files))
    if zip_name not in files or tar_name not in files or page_name not in files or deb_name not in files:
        return
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[n]).hexdigest(), n)
                   for n in (zip_name, tar_name, deb_name, page_name))
    t.check("SHA256SUMS names both archives, the package and the page with their digests",
            files.get("SHA256SUMS", b"").decode() == sums, files.get("SHA256SUMS"))
    entries = check_zip(t, files[zip_name], version, epoch)
    page = files[page_name]
    t.check("the zip's web page is the one beside the archives", entries.get(page_name) == page)
    t.check("the web page is one file: its scripts and WebAssembly inside, every connection forbidden",
            b"default-src 'none'" in page and b'id="vx-wasm-simd"' in page and b"<script src" not in page
            and b"://" not in page.split(b"</head>")[0], page[:400])
    resources = {}
    for name in DESCRIPTIONS:
        if name in entries:
            resources[name] = check_program(t, name, entries[name], version)
    # The checker that every maker writes out, as the released maker carries it.
    image = next((v for k, v in resources.get("VexorinMake.exe", {}).items() if k[:2] == (RT_RCDATA, "CHECKER")),
                 None)
    if t.check("the maker carries the checker image", image is not None):
        checker = Pe(image)
        t.check("checker image: at most %d bytes with its manifest" % SIZE_GOAL, len(image) <= SIZE_GOAL, len(image))
        dlls = {d.upper() for d in checker.imports()}
        t.check("checker image: imports only KERNEL32 and USER32", dlls and dlls <= ALLOWED_DLLS, dlls)
        for what, ok, detail in manifest_checks(checker.resources()):
            t.check("checker image: " + what, ok, detail)
    if "readme.txt" in entries:
        check_readme(t, entries["readme.txt"], version)
    with open(os.path.join(clone_path, "LICENSE"), "rb") as f:
        license_text = f.read()
    t.check("LICENSE.txt: the MIT licence of LICENSE, with CR LF", entries.get("LICENSE.txt") ==
            license_text.replace(b"\n", b"\r\n") and b"MIT License" in license_text and
            b"The Vexorin authors" in license_text)
    check_tarball(t, files[tar_name], version, epoch, scratch)
    check_deb(t, deb_name, files[deb_name], version, epoch, page, os.path.join(scratch, "deb"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the clones (printed)")
    args = parser.parse_args()
    t = Checks()
    commit = subprocess.run(["git", "-C", args.source, "rev-parse", "HEAD"], check=True, stdout=subprocess.PIPE,
                            universal_newlines=True).stdout.strip()
    epoch = int(subprocess.run(["git", "-C", args.source, "log", "-1", "--format=%ct", commit], check=True,
                               stdout=subprocess.PIPE, universal_newlines=True).stdout)
    scratch = tempfile.mkdtemp(prefix="vxrelease-")
    try:
        # Two checkouts at different paths and depths: nothing of the path may reach the output.
        first = os.path.join(scratch, "one", "Vexorin")
        second = os.path.join(scratch, "two", "a", "deeper", "checkout")
        for path in (first, second):
            clone(args.source, commit, path)
        with open(os.path.join(first, "CMakeLists.txt")) as f:
            version = re.search(r"project\(Vexorin VERSION ([0-9.]+)", f.read()).group(1)
        release(t, "first clone", first)
        release(t, "second clone", second)
        one, two = dist(first), dist(second)
        different = sorted(n for n in set(one) | set(two) if one.get(n) != two.get(n))
        t.check("both clones give the same bytes (%s)" % ", ".join(sorted(one)), one and not different, different)
        check_release(t, first, version, epoch, os.path.join(scratch, "unpacked"))

        # An uncommitted change: the release says so and is named -dirty throughout.
        with open(os.path.join(second, "README.md"), "a") as f:
            f.write("\nA local change.\n")
        output = release(t, "uncommitted change", second)
        t.check("uncommitted change: make-release.sh says so", "uncommitted changes" in output and
                "not the release of %s" % version in output, output[-2000:])
        check_release(t, second, version + "-dirty", epoch, os.path.join(scratch, "unpacked-dirty"))

        # A step that fails (readme.txt cannot hold a Korean character): dist/ stays as it was.
        before = dist(second)
        with open(os.path.join(second, "docs", "readme-ja.md"), "a", encoding="utf-8") as f:
            f.write("\n한\n")
        result = run(["bash", "tools/make-release.sh"], second)
        t.check("failing step: make-release.sh fails, naming the line", result.returncode != 0 and
                b"code page 932" in result.stdout, result.stdout[-2000:])
        t.check("failing step: dist/ unchanged, no partial archive left", dist(second) == before,
                sorted(set(dist(second)) ^ set(before)))
    finally:
        if args.keep:
            print("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
