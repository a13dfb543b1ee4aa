#!/usr/bin/env python3
"""The real maker on a 144-DPI screen (150 %) under Wine: a prefix of its own whose LogPixels
is 144, and a driver that is DPI-aware itself, so that it sees the maker's own pixels.

The maker declares itself DPI-aware, so the system does not stretch its bitmap; it lays its
windows out for the DPI instead. The main window's client area must be 1.5 times its 96-DPI
size (within 2 pixels), every control 1.5 times its 96-DPI place and size, inside the client
area, with the texts of the 96-DPI window; and every text must fit its control at the
scaled font heights (18 pixels, the maroon label's 22), the usage text's last line included.

usage: test_maker_dpi.py --maker VexorinMake.exe --driver vxdriver.exe [--screenshot PNG]
With --screenshot, also saves a picture of the main window (needs ImageMagick).
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import getpass
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402
from drive_maker import MAIN_LAYOUT, USAGE, Run, Session, start  # noqa: E402
from harness import WineSession, current_arch, quote  # noqa: E402

DPI = 144
FACE = "ＭＳ Ｐゴシック"
FW_NORMAL, FW_BOLD = 400, 700
# How each text of the main window is drawn: font height at 96 DPI and weight, and the room
# its control takes beside the text at 96 DPI (a button's glyph, spacing and edges).
TEXTS = {1001: (12, FW_BOLD, 16), 1002: (15, FW_BOLD, 0), 1006: (12, FW_NORMAL, 24),
         1007: (12, FW_NORMAL, 24), 1008: (12, FW_NORMAL, 24), 1009: (12, FW_NORMAL, 24)}
TOLERANCE = 2
# The folder the picture shows, as in the pictures of the 96-DPI windows.
SHOWN_FOLDER = "C:\\vxmaker-tests\\screenshots\\配布フォルダ"


def scaled(value):
    return value * DPI / 96.0


def set_dpi(wine, dpi):
    """The prefix's screen DPI, where Wine's display settings keep it."""
    for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
        rc = subprocess.run(wine.command("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", dpi, "/f"),
                            env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True, timeout=120).returncode
        if rc != 0:
            raise RuntimeError("could not set LogPixels under %s (rc=%s)" % (key, rc))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--maker", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--cc", help="the MinGW-w64 C compiler (default: the one for the Windows build Wine runs)")
    parser.add_argument("--screenshot", help="also save a picture of the main window here")
    args = parser.parse_args()
    t = Checks()
    build_dir = os.path.dirname(os.path.abspath(args.driver))
    # A prefix of its own: the other Wine tests need their screen at 96 DPI.
    arch = current_arch()
    prefix = os.path.join(build_dir, "wineprefix-%s-%ddpi%s" % (getpass.getuser(), DPI, arch.prefix_suffix))
    with WineSession(prefix=prefix, arch=arch) as wine:
        set_dpi(wine, DPI)
        session = Session(args, wine)
        pictures = tempfile.mkdtemp(prefix="vxdpi-")
        try:
            place = session.place("dpi")
            texts = ["text-extent %s %d %d %s" % (quote(FACE), int(height * DPI // 96), weight,
                                                   quote(MAIN_LAYOUT[cid][4]))
                     for cid, (height, weight, _) in sorted(TEXTS.items())]
            usage = "\r\n".join(USAGE)
            lines = (["dpi-aware"] + start(place) + ["controls", "settext 1004 " + quote(SHOWN_FOLDER), "sleep 500",
                                                     "snapshot maker-main-144dpi"] + texts +
                     ["char-pos 1005 %d" % (len(usage) - 1), "text-extent %s %d %d %s" % (
                         quote(FACE), 12 * DPI // 96, FW_NORMAL, quote(USAGE[0])),
                      "key ESCAPE", "expect-exit 0 20000"])
            result = wine.run_driver(args.driver, "\n".join(lines), timeout=300,
                                     snapshot_dir=pictures if args.screenshot else None)
            run = Run(result.returncode, "\n".join(result.lines))
            t.check("driver script ran through", run.returncode == 0 and run.failure is None,
                    run.failure or run.output[-3000:])
            system = re.search(r"^DPI system=(\d+)$", run.output, re.M)
            t.check("the screen runs at %d DPI" % DPI, system and int(system.group(1)) == DPI,
                    system and system.group(0))
            if not run.windows:
                return t.summary()
            window = run.windows[0]
            width, height = window["client"]
            t.check("client area 1.5 x 487 x 299 (%d x %d)" % (width, height),
                    abs(width - scaled(487)) <= TOLERANCE and abs(height - scaled(299)) <= TOLERANCE, window["client"])
            controls = {ctl["id"]: ctl for ctl in window["controls"]}
            missing = sorted(set(MAIN_LAYOUT) - set(controls))
            t.check("every control is there", not missing, missing)
            off = {cid: controls[cid]["rect"] for cid, want in MAIN_LAYOUT.items() if cid in controls and
                   any(abs(got - scaled(w)) > TOLERANCE for got, w in zip(controls[cid]["rect"], want[:4]))}
            t.check("every control 1.5 times its 96-DPI place and size", not off, off)
            outside = {cid: c["rect"] for cid, c in controls.items() if c["rect"][0] < 0 or c["rect"][1] < 0 or
                       c["rect"][0] + c["rect"][2] > width or c["rect"][1] + c["rect"][3] > height}
            t.check("every control inside the client area", not outside, outside)
            wrong = {cid: controls[cid]["text"] for cid, want in MAIN_LAYOUT.items()
                     if cid in controls and want[4] is not None and controls[cid]["text"] != want[4]}
            t.check("every control shows its text", not wrong, wrong)
            extents = [tuple(int(v) for v in m) for m in re.findall(r"^EXTENT w=(\d+) h=(\d+)$", run.output, re.M)]
            if t.check("every text measured", len(extents) == len(TEXTS) + 1, extents):
                cut = {}
                for (cid, (_, _, room)), (w, h) in zip(sorted(TEXTS.items()), extents):
                    if cid in controls:
                        _, _, cw, ch = controls[cid]["rect"]
                        if w + scaled(room) > cw or (cid != 1001 and h > ch):
                            cut[cid] = ((w, h), (cw, ch))
                t.check("every caption fits its control at the scaled font", not cut, cut)
                position = re.search(r"^POS x=(-?\d+) y=(-?\d+)$", run.output, re.M)
                line_height = extents[-1][1]
                memo_height = controls.get(1005, {"rect": (0, 0, 0, 0)})["rect"][3]
                t.check("the usage text's last line is inside the memo",
                        position and 0 <= int(position.group(2)) and
                        int(position.group(2)) + line_height <= memo_height, (position and position.group(0),
                                                                               line_height, memo_height))
            if args.screenshot and "maker-main-144dpi" in result.snapshots:
                shutil.copy(os.path.join(pictures, "maker-main-144dpi.png"), args.screenshot)
                print("saved " + args.screenshot)
        finally:
            session.close()
            shutil.rmtree(pictures, ignore_errors=True)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
