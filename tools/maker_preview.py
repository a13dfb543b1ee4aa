#!/usr/bin/env python3
"""Starts the maker on a virtual screen (Xvfb) when there is no display, saves a picture of
its main window and closes it again, so that a headless machine can still see it run.

usage: tools/maker_preview.py [--maker EXE] [--driver VXDRIVER_EXE] [--out PNG]
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--maker", default=os.path.join(ROOT, "build/windows/maker/gui/VexorinMake.exe"))
    parser.add_argument("--driver", default=os.path.join(ROOT, "build/windows/tests/wine/vxdriver.exe"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build/maker-window.png"))
    args = parser.parse_args()

    out_dir, name = os.path.split(os.path.abspath(args.out))
    with harness.WineSession(build_dir=os.path.join(ROOT, "build")) as session:
        script = "\n".join([
            "start " + harness.quote(harness.to_wine_path(os.path.abspath(args.maker))),
            "wait-window ヴェクソリン 60000",
            "sleep 700",
            "snapshot " + os.path.splitext(name)[0],
            "syscommand close",
            "expect-exit 0 20000",
        ])
        run = session.run_driver(args.driver, script, timeout=180, snapshot_dir=out_dir)
        if not run.ok:
            print(run.transcript)
            return 1
    print("The maker started and showed its main window: " + os.path.abspath(args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
