#!/usr/bin/env python3
"""Shows the maker's main job on a machine without a display: on a virtual screen (Xvfb) the
maker builds a checker for a small sample folder through its window, that checker checks the
folder, and pictures of the maker's main window, its success box and the checker's success box
are saved, so that a headless machine can still see both programs work.

usage: tools/maker_preview.py [--windows-build DIR] [--out DIR]
DIR defaults: the Windows build that Wine runs on this machine (build/windows, or
build/windows-x64 where the machine runs no 32-bit code), and build/. Prints the pictures' paths.
"""
import argparse
import os
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import harness  # noqa: E402

MAKER = "ヴェクソリン"
CHECKER = "ファイルチェッカー"
SAMPLE = {"配布サンプル/説明書.txt": "このフォルダは見本です.\r\n".encode("cp932"),
          "配布サンプル/画像/表紙.bin": bytes(range(256)) * 3000,
          "配布サンプル/データ/設定.ini": b"[sample]\r\nvalue=1\r\n"}
PICTURES = ("maker-window", "maker-success", "checker-success")


def sample_folder(out):
    """A fresh sample folder below `out`; returns its path."""
    folder = os.path.join(out, "sample", "配布サンプル")
    shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    for relative, content in SAMPLE.items():
        path = os.path.join(out, "sample", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build")
    parser.add_argument("--out", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    arch = harness.current_arch()
    build = args.windows_build or os.path.join(ROOT, "build", "windows-x64" if arch.x64 else "windows")
    out = os.path.abspath(args.out)
    folder = sample_folder(out)
    maker = harness.to_wine_path(os.path.join(build, "maker", "gui", "VexorinMake.exe"))
    checker = harness.to_wine_path(os.path.join(folder, "Vexorin.exe"))
    script = "\n".join([
        "start " + harness.quote(maker),
        "wait-window %s 60000" % MAKER,
        "settext 1004 " + harness.quote(harness.to_wine_path(folder)),
        "sleep 700", "snapshot maker-window",
        "press 1007", "wait-box 120000", "sleep 300", "snapshot maker-success", "press OK", "gone",
        "wait-window " + MAKER, "key ESCAPE", "expect-exit 0 20000",
        "start " + harness.quote(checker),
        "wait-box 120000", "wait-dialog " + CHECKER, "sleep 300", "snapshot checker-success",
        "wait-box", "press OK", "expect-exit 0 20000",
    ])
    with harness.WineSession(build_dir=os.path.join(ROOT, "build"), announce=False) as session:
        run = session.run_driver(os.path.join(build, "tests", "wine", "vxdriver.exe"), script, timeout=300,
                                 snapshot_dir=out)
    if not run.ok or sorted(run.snapshots) != sorted(PICTURES):
        print(run.transcript())
        return 1
    print("The maker built a checker for %s, and the checker found every file intact:" % folder)
    for name in PICTURES:
        print("  " + run.snapshots[name])
    return 0


if __name__ == "__main__":
    sys.exit(main())
