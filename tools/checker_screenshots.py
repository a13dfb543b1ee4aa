#!/usr/bin/env python3
"""Takes the README's pictures of the checker under Wine and Xvfb: its dialog during a run
(docs/checker-dialog.png) and its success box over the finished dialog
(docs/checker-success.png).

usage: tools/checker_screenshots.py [--checker EXE] [--driver VXDRIVER_EXE]
                                    [--build VEXORIN_BUILD] [--out DOCS_FOLDER]
Defaults are the preset build folders: the Windows build that Wine runs on this machine
(build/windows, or build/windows-x64 where the machine runs no 32-bit code) and build/linux.
Needs ImageMagick's import.
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import harness  # noqa: E402
import drive_checker  # noqa: E402  (the Wine session and the script helpers)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--checker")
    parser.add_argument("--driver")
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux/cli/vexorin-build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"))
    args = parser.parse_args()
    if not (args.checker and args.driver):
        windows = os.path.join(ROOT, "build", "windows-x64" if harness.current_arch().x64 else "windows")
        args.checker = args.checker or os.path.join(windows, "checker", "vexorin-checker.exe")
        args.driver = args.driver or os.path.join(windows, "tests", "wine", "vxdriver.exe")

    session = drive_checker.Session(args)
    try:
        folder = session.folder("配布データ", {"画像/表紙.png": 96 * 1024 * 1024, "説明書.txt": b"readme\n"})
        exe = session.build(folder)
        dialog = "wait-dialog " + drive_checker.quote(drive_checker.DIALOG)
        # Each snapshot covers the dialog; the success box lies inside it, centred on it.
        run = session.drive([drive_checker.start(exe), dialog, "sleep 900", "snapshot checker-dialog",
                             "wait-box 120000", dialog, "snapshot checker-success",
                             "wait-box", "press OK", "expect-exit 0 10000"],
                            snapshot_dir=os.path.abspath(args.out))
        if not run.ok:
            print(run.transcript)
            return 1
        for name in ("checker-dialog", "checker-success"):
            print("wrote " + os.path.join(args.out, name + ".png"))
        return 0
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
