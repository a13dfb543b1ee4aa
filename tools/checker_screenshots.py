#!/usr/bin/env python3
"""Takes the README's pictures of the checker under Wine and Xvfb: its dialog during a run
(docs/checker-dialog.png) and its success box over the finished dialog
(docs/checker-success.png).

usage: tools/checker_screenshots.py [--checker EXE] [--driver VXDRIVER_EXE]
                                    [--build VEXORIN_BUILD] [--out DOCS_FOLDER]
Defaults are the preset build folders. Needs ImageMagick's import and convert.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import test_checker  # noqa: E402  (the Wine session and the script helpers)


def shoot(env, rects, target):
    left = min(r[0] for r in rects) - 8
    top = min(r[1] for r in rects) - 8
    right = max(r[0] + r[2] for r in rects) + 8
    bottom = max(r[1] + r[3] for r in rects) + 8
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
                    "+repage", target], env=env, check=True)
    print("wrote " + target)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--checker", default=os.path.join(ROOT, "build/windows/checker/vexorin-checker.exe"))
    parser.add_argument("--driver", default=os.path.join(ROOT, "build/windows/tests/wine/vxdriver.exe"))
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux/maker/cli/vexorin-build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"))
    args = parser.parse_args()

    # A prefix of its own: without a window manager under Xvfb, Wine must draw the captions
    # and frames itself (unmanaged windows), which the tests' prefix does not ask for.
    os.environ.setdefault("WINEPREFIX", os.path.join(tempfile.gettempdir(), "vexorin-wine-shots-%d" % os.getuid()))
    session = test_checker.Session(args)
    try:
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                       env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        folder = session.folder("配布データ", {"画像/表紙.png": 96 * 1024 * 1024, "説明書.txt": b"readme\n"})
        exe = session.build(folder)
        dialog = "wait-dialog " + test_checker.quote(test_checker.DIALOG)
        # The driver prints each result as it happens; the pictures are taken while it
        # sleeps on a marker, so the windows stay as they are meanwhile.
        script = [test_checker.start(exe), dialog, "sleep 900", "rect", "echo SHOT dialog", "sleep 1500",
                  "wait-box 120000", "rect", dialog, "rect", "echo SHOT success", "sleep 1500",
                  "wait-box", "press OK", "expect-exit 0 10000"]
        path = os.path.join(session.root, "shots.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        driver = subprocess.Popen(["wine", args.driver, test_checker.wine_path(path)], env=session.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
        rects = []
        for line in driver.stdout:
            m = re.match(r"^RECT x=(-?\d+) y=(-?\d+) w=(\d+) h=(\d+)", line)
            if m:
                rects.append(tuple(int(v) for v in m.groups()))
            if line.startswith("SHOT dialog"):
                shoot(session.env, rects[-1:], os.path.join(args.out, "checker-dialog.png"))
            if line.startswith("SHOT success"):
                shoot(session.env, rects[-2:], os.path.join(args.out, "checker-success.png"))
            if line.startswith("FAIL"):
                print(line.strip())
        return driver.wait()
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
