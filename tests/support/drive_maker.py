"""The maker (VexorinMake.exe) driven through vxdriver.exe under Wine: its main window's
caption, texts and layout, the box of a finished build, script lines that start it and build
a checker with it, a session for the scenarios, and what a script run of it showed.
"""
import os
import re
import shutil
import tempfile

from harness import Box, quote, to_wine_path, unescape
from trees import write_tree
from wine_helper import build_helper

MAIN = "ヴェクソリン"
BUILT_BOX = Box("成功", "ファイルチェッカーが正常に作成できました.", ["OK"], "none")

USAGE = [
    "【使い方】",
    "　[チェックするフォルダ]を指定し、[ファイルチェッカーの作成]をクリックすると、「チェックするフォルダ」の中に、"
    "ファイルチェッカー（標準ではVexorin.exe）が作成されます。",
    "　",
    "　このファイルチェッカーは、ファイルチェッカーのあるフォルダを基準に、そのフォルダ以下のすべてのフォルダとファイルの"
    "内容をチェックします。",
    "　",
    "　配布するときはこのファイルチェッカーごと配布し、ユーザーに実行してもらうことにより、ファイルの破損や不適切なフォルダ"
    "構造などをチェックすることができます。",
]

# Control ids, as in maker/gui/resource.h.
MAIN_LAYOUT = {  # id: (left, top, width, height, text) in the window's client pixels
    1001: (8, 8, 469, 253, "[ﾁｪｯｸするﾌｫﾙﾀﾞ]を指定して[ﾌｧｲﾙﾁｪｯｶｰの作成]をｸﾘｯｸしてください"),
    1002: (24, 36, 153, 21, "チェックするフォルダ"),
    1003: (20, 80, 32, 32, ""),
    1004: (168, 36, 233, 20, ""),
    1005: (56, 88, 401, 161, None),
    1006: (400, 36, 65, 21, "参照..."),
    1007: (180, 268, 189, 25, "ファイルチェッカーの作成(&M)"),
    1008: (376, 268, 97, 25, "閉じる(&C)"),
    1009: (8, 268, 117, 25, "高度な設定..."),
}


class Run:
    """What one vxdriver script printed, in order."""

    def __init__(self, returncode, output):
        self.returncode = returncode
        self.output = output
        self.boxes, self.texts, self.windows, self.focus, self.rects = [], [], [], [], []
        self.exit_code, self.failure = None, None
        command = ""
        for line in output.splitlines():
            if line.startswith("> "):
                command = line[2:].split(" ", 1)[0]
                continue
            m = re.match(r"^BOX caption=(.*) text=(.*) buttons=(.*) icon=(\w+)$", line)
            if m:
                buttons = [unescape(b).replace("\\,", ",") for b in re.split(r"(?<!\\),", m.group(3))]
                self.boxes.append({"caption": unescape(m.group(1)), "text": unescape(m.group(2)),
                                   "buttons": buttons, "icon": m.group(4)})
            m = re.match(r"^TEXT (\d+)=(.*)$", line)
            if m and command == "text":  # not the echo of a wait-text
                self.texts.append((int(m.group(1)), unescape(m.group(2))))
            m = re.match(r"^WINDOW class=\S+ client=(\d+)x(\d+) .*caption=(.*)$", line)
            if m:
                self.windows.append({"caption": unescape(m.group(3)), "client": (int(m.group(1)), int(m.group(2))),
                                     "controls": []})
            m = re.match(r"^CTRL id=(\d+) class=(\S+) rect=(-?\d+),(-?\d+),(\d+),(\d+) .*style=0x([0-9A-Fa-f]+) "
                         r"ex=0x[0-9A-Fa-f]+ flags=(\S*) text=(.*)$", line)
            if m and self.windows:
                self.windows[-1]["controls"].append({
                    "id": int(m.group(1)), "class": m.group(2),
                    "rect": tuple(int(m.group(i)) for i in range(3, 7)), "style": int(m.group(7), 16),
                    "flags": m.group(8).split(","), "text": unescape(m.group(9))})
            m = re.match(r"^FOCUS id=(-?\d+) ", line)
            if m and command == "focus":
                self.focus.append(int(m.group(1)))
            m = re.match(r"^RECT x=(-?\d+) y=(-?\d+) w=(\d+) h=(\d+)$", line)
            if m:
                self.rects.append(tuple(int(m.group(i)) for i in range(1, 5)))
            m = re.match(r"^EXIT (-?\d+)$", line)
            if m:
                self.exit_code = int(m.group(1))
            if line.startswith("FAIL:"):
                self.failure = line

    def text_of(self, control, nth=0):
        found = [t for cid, t in self.texts if cid == control]
        return found[nth] if nth < len(found) else None


class Session:
    """A Wine session of the harness, the tools, and a folder for the scenarios' files."""

    def __init__(self, args, wine):
        self.args = args
        self.wine = wine
        self.env = wine.env
        self.root = tempfile.mkdtemp(prefix="vxmaker-")
        self.drive_c = os.path.join(wine.prefix, "drive_c")
        self.hold_exe = None

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)
        shutil.rmtree(os.path.join(self.drive_c, "vxmaker-tests"), ignore_errors=True)

    def place(self, name, under_c=False):
        """A fresh folder for one scenario, holding a copy of the maker; returns the folder.
        Under drive C: when the shell folder browser must reach it (Wine's Z: drive has no
        volume information, and the browser cannot walk into it)."""
        base = os.path.join(self.drive_c, "vxmaker-tests") if under_c else self.root
        path = os.path.join(base, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(os.path.join(path, "maker"))
        shutil.copy(self.args.maker, os.path.join(path, "maker", "VexorinMake.exe"))
        return path

    tree = staticmethod(write_tree)

    def hold_helper(self):
        """The helper program (its "hold" command holds a file open), compiled once."""
        if self.hold_exe is None:
            self.hold_exe = build_helper(self.args.cc or self.wine.arch.cc, self.root)
        return self.hold_exe

    def drive(self, lines, timeout=300, snapshot_dir=None):
        """Runs a vxdriver script; every process it started is ended by the driver itself."""
        result = self.wine.run_driver(self.args.driver, "\n".join(lines), timeout=timeout,
                                      snapshot_dir=snapshot_dir)
        run = Run(result.returncode, "\n".join(result.lines))
        run.snapshots = result.snapshots
        if result.timed_out:
            run.failure = run.failure or "driver timed out"
        return run


def start_maker(maker):
    """Script lines: start the maker `maker` (its path) and wait for its main window."""
    return ["start %s -" % quote(to_wine_path(maker)), "wait-window %s 60000" % MAIN]


def start(place):
    """start_maker for the copy of the maker in a scenario's folder (Session.place)."""
    return start_maker(os.path.join(place, "maker", "VexorinMake.exe"))


def make_checker(maker, folder):
    """Script lines: start the maker, build a checker for `folder`, answer the box it ends with."""
    return start_maker(maker) + ["settext 1004 " + quote(to_wine_path(folder)), "press 1007", "wait-box 120000",
                                 "press OK", "gone"]
