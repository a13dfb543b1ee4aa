#!/usr/bin/env python3
"""The same check data from every maker: the native vexorin-build, and the maker and
vexorin-build.exe of the i686 and of the x86-64 Windows build, each run under Wine where this
machine can run it, write byte for byte the same check data for a tree with 表.txt in ソフト\\;
only the checker image in front differs, and it is the one of the build that wrote it. And
each build's vexorin-build.exe writes for a tree of many files, with every lane kernel this CPU
runs (VEXORIN_LANES), the checker that it writes with --jobs 1.

usage: test_same_data.py --build VEXORIN_BUILD --windows build/windows --windows-x64 build/windows-x64
The i686 programs run only where this machine runs 32-bit code; elsewhere their checks are
said to be skipped, and why. Prints one line per check and a closing "N passed, M failed".
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checkfile_reader import CheckFile  # noqa: E402
from checks import Checks  # noqa: E402
from drive_maker import BUILT_BOX, MAIN, make_checker  # noqa: E402
from harness import WineArch, WineSession, to_wine_path  # noqa: E402
from trees import write_tree  # noqa: E402
import wine_arch  # noqa: E402

# One entry per folder: the lists follow the order in which the file system hands out a
# folder's entries, and Wine sorts them by name where Linux does not, so only a tree whose
# order no listing can change gives every maker the same lists. 表 and ソ end in the byte
# 0x5C, the path separator; the file spans three digest chunks.
TREE = {"ソフト/深い/表.txt": bytes(range(256)) * 5000}


# Files that end in different blocks of one batch of lanes, around the padding and around
# the 64 KiB lane buffer, in one folder: every run of one build lists them alike.
LANE_SIZES = [0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, 65535, 65536, 65537, 200000] + [
    64 * i + 7 * i for i in range(50)]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_data(path):
    """(the check data after the image, the image) of a checker file."""
    data = read(path)
    image = CheckFile(data).image
    return data[len(image):], image


def same(t, name, path, expected, image):
    if not t.check(name + ": a checker was written", os.path.isfile(path), "missing"):
        return
    data, front = check_data(path)
    t.check(name + ": the same check data as the native build's", data == expected,
            "%d bytes against %d" % (len(data), len(expected)))
    t.check(name + ": its own build's checker image in front", front == image, "another image")
    os.remove(path)


def lanes_alike(t, label, build, session):
    """vexorin-build.exe with each lane width writes what it writes with --jobs 1."""
    folder = tempfile.mkdtemp(prefix="vxlanes-")
    try:
        for i, size in enumerate(LANE_SIZES):
            with open(os.path.join(folder, "f%02d.bin" % i), "wb") as f:
                f.write(bytes((i * 131 + b * 7) & 255 for b in range(size)))
        exe = os.path.join(build, "cli", "vexorin-build.exe")
        written = os.path.join(folder, "Vexorin.exe")
        reference = None
        # Every kernel this CPU runs, by name (AVX2 and AVX-512 each gather the message words or
        # load and transpose the blocks): a name it does not know makes the program list them.
        r = subprocess.run(session.command(exe, "--yes", to_wine_path(folder)),
                           env=dict(session.env, VEXORIN_LANES="?"), stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=300)
        named = (r.stderr.decode("ascii", "replace").split("name of a kernel", 1)[-1].splitlines() or [""])[0]
        kernels = [k.strip() for k in named.lstrip(":").split(",") if k.strip()]
        t.check(label + " vexorin-build.exe names its lane kernels", r.returncode == 2 and bool(kernels),
                r.stderr[-2000:])
        for lanes, jobs in [(None, "1"), ("0", "2")] + [(k, "2") for k in kernels]:
            env = dict(session.env)
            if lanes is not None:
                env["VEXORIN_LANES"] = lanes
            r = subprocess.run(session.command(exe, "--yes", "--jobs", jobs, to_wine_path(folder)),
                               env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
            name = "%s vexorin-build.exe --jobs %s%s" % (
                label, jobs, "" if lanes is None else ", VEXORIN_LANES=" + lanes)
            if not t.check(name + " succeeds", r.returncode == 0 and os.path.isfile(written),
                           r.stderr[-2000:]):
                continue
            data = read(written)
            os.remove(written)
            if reference is None:
                reference = data
            else:
                t.check(name + ": the checker of --jobs 1", data == reference, "another checker")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run_build(t, label, build, folder, expected):
    """The maker and vexorin-build.exe of the Windows build in `build`, under its Wine."""
    arch = WineArch(label, "each Windows build that this machine runs writes the same data")
    image = read(os.path.join(build, "checker", "vexorin-checker.exe"))
    written = os.path.join(folder, "Vexorin.exe")
    session = WineSession(build_dir=os.path.join(build, "tests", "wine"), arch=arch)
    session.start()
    place = tempfile.mkdtemp(prefix="vxsame-maker-")
    try:
        r = subprocess.run(session.command(os.path.join(build, "cli", "vexorin-build.exe"), "--yes",
                                           to_wine_path(folder)),
                           env=session.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        t.check(label + " vexorin-build.exe succeeds", r.returncode == 0, r.stderr[-2000:])
        same(t, label + " vexorin-build.exe", written, expected, image)

        maker = os.path.join(place, "VexorinMake.exe")
        shutil.copy(os.path.join(build, "maker", "gui", "VexorinMake.exe"), maker)
        result = session.run_driver(os.path.join(build, "tests", "wine", "vxdriver.exe"), "\n".join(
            make_checker(maker, folder) + ["wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"]),
            timeout=300)
        t.check(label + " maker: built with its success box", result.ok and result.boxes == [BUILT_BOX],
                result.transcript()[-3000:])
        same(t, label + " maker", written, expected, image)
        lanes_alike(t, label, build, session)
    finally:
        session.close()
        shutil.rmtree(place, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="the native vexorin-build")
    ap.add_argument("--windows", required=True, help="the i686 Windows build folder")
    ap.add_argument("--windows-x64", required=True, help="the x86-64 Windows build folder")
    args = ap.parse_args()
    t = Checks()
    root = tempfile.mkdtemp(prefix="vxsame-")
    try:
        folder = write_tree(os.path.join(root, "表の木"), TREE)
        r = subprocess.run([args.build, "--yes", "--image", os.path.join(args.windows, "checker",
                                                                          "vexorin-checker.exe"), folder],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        if not t.check("native vexorin-build succeeds", r.returncode == 0, r.stderr[-2000:]):
            return t.summary()
        expected, _ = check_data(os.path.join(folder, "Vexorin.exe"))
        stored = CheckFile(read(os.path.join(folder, "Vexorin.exe")))
        t.check("the native data holds ソフト\\深い\\表.txt in code page 932",
                list(stored.files) == ["ソフト\\深い\\表.txt".encode("cp932")]
                and stored.folders == ["ソフト\\深い\\".encode("cp932"), "ソフト\\".encode("cp932")],
                (stored.folders, list(stored.files)))
        os.remove(os.path.join(folder, "Vexorin.exe"))

        if wine_arch.runs_32bit_code():
            run_build(t, "i686", args.windows, folder, expected)
        else:
            for program in ("vexorin-build.exe", "maker"):
                t.skip("i686 %s writes the same data" % program, "this machine runs no 32-bit code")
        run_build(t, "x86-64", args.windows_x64, folder, expected)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
