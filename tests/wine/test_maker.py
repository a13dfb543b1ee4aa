#!/usr/bin/env python3
"""The real maker (VexorinMake.exe) under Wine, driven from outside the way a user would.

Every scenario copies the maker into a fresh folder of its own (so its settings file
starts absent unless the scenario writes one), prepares the folders it needs, and lets
vxdriver.exe start the maker, read its windows and message boxes, type, press keys and
click. Results are checked from what the driver printed and from the files on disk.

usage: test_maker.py --maker VexorinMake.exe --driver vxdriver.exe [-k NAME] [--screenshots DIR]
Runs in a Wine session of tests/support/harness.py (display, prefix, locale). Needs the MinGW-w64
compiler of that build too, for a small helper that holds a file open without sharing. With
--screenshots, also saves pictures of the three windows into DIR (needs ImageMagick).
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import run_scenarios  # noqa: E402
from checkfile_reader import LINE1, LINE2  # noqa: E402
from drive_maker import MAIN, MAIN_LAYOUT, USAGE, Session, start  # noqa: E402
from harness import WineSession, quote, to_wine_path as wine_path  # noqa: E402

ADV = "高度な設定"
PROGRESS = "ファイルチェッカーを作成中..."
BROWSER = "フォルダーの参照"  # Wine's own caption of the shell folder browser

DEFAULT_MEMO = {1106: LINE1 + "\r\n" + LINE2 + "\r\n", 1108: LINE1 + "\r\n" + LINE2 + "\r\n", 1110: LINE1 + "\r\n"}
FIRST_RUN_SETTINGS = ("\r\nVexorin.exe\r\n" + LINE1 + "\r\n" + LINE2 + "\r\n--\r\n" + LINE1 + "\r\n" + LINE2 +
                      "\r\n--\r\n" + LINE1 + "\r\n--\r\n").encode("cp932")

ADV_LAYOUT = {  # as MAIN_LAYOUT (tests/support/drive_maker.py)
    1101: (8, 8, 441, 325, "作成するファイルチェッカー名や警告メッセージを指定してください"),
    1102: (28, 32, 237, 19, "作成するﾌｧｲﾙﾁｪｯｶｰ名 (*.exe)"),
    1103: (260, 32, 165, 20, "Vexorin.exe"),
    1104: (16, 64, 425, 13, ""),
    1105: (28, 80, 398, 12, "フォルダが見つからない場合（フォルダ構造の破損）のエラー・メッセージ"),
    1106: (28, 96, 401, 57, DEFAULT_MEMO[1106]),
    1107: (28, 164, 270, 12, "ファイルが見つからない場合のエラー・メッセージ"),
    1108: (28, 180, 401, 57, DEFAULT_MEMO[1108]),
    1109: (28, 248, 268, 12, "ファイルが破損している場合のエラー・メッセージ"),
    1110: (28, 264, 401, 57, DEFAULT_MEMO[1110]),
    1111: (248, 340, 97, 25, "OK(&O)"),
    1112: (352, 340, 97, 25, "ｷｬﾝｾﾙ(&C)"),
    1113: (8, 340, 161, 25, "標準の設定に戻す(&D)"),
}
PROGRESS_LAYOUT = {
    1201: (12, 12, 409, 17, None),
    1202: (12, 40, 413, 17, None),
    1203: (169, 69, 97, 25, "ｷｬﾝｾﾙ(&C)"),
}
WS_TABSTOP = 0x00010000

# Big enough that a build is still reading it when the test presses cancel (the maker reads
# 256 KiB per step); sparse, so it costs no disk.
BIG_FILE = 1536 * 1024 * 1024



def box(caption, text, icon, buttons=("OK",)):
    return {"caption": caption, "text": text, "buttons": list(buttons), "icon": icon}


def settings_path(place):
    return os.path.join(place, "maker", "VexorinMake.INI")


def read_settings(place):
    path = settings_path(place)
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def snapshot(path):
    """Every file below `path` with its bytes, for before/after comparisons."""
    result = {}
    for folder, _, files in os.walk(path):
        for name in files:
            full = os.path.join(folder, name)
            with open(full, "rb") as f:
                result[os.path.relpath(full, path)] = f.read() if os.path.getsize(full) < 1 << 20 else os.path.getsize(full)
    return result


def open_adv():
    return ["wait-window " + MAIN, "press 1009", "wait-window " + ADV]


def run_ok(c, scenario, run):
    return c.check(scenario + ": driver script ran through", run.returncode == 0 and run.failure is None,
                   run.failure or run.output[-3000:])


def check_layout(c, scenario, window, caption, client, layout, tab_order):
    c.check(scenario + ": " + caption + ": client area", window["client"] == client, window["client"])
    controls = {ctl["id"]: ctl for ctl in window["controls"]}
    missing = sorted(set(layout) - set(controls))
    c.check(scenario + ": " + caption + ": every control is there", not missing, missing)
    misplaced = {cid: controls[cid]["rect"] for cid, want in layout.items()
                 if cid in controls and controls[cid]["rect"] != want[:4]}
    c.check(scenario + ": " + caption + ": every control at its position and size", not misplaced, misplaced)
    wrong = {cid: controls[cid]["text"] for cid, want in layout.items()
             if cid in controls and want[4] is not None and controls[cid]["text"] != want[4]}
    c.check(scenario + ": " + caption + ": every control shows its text", not wrong, wrong)
    stops = [ctl["id"] for ctl in window["controls"] if ctl["style"] & WS_TABSTOP]
    c.check(scenario + ": " + caption + ": tab order", stops == tab_order, stops)


# ---------------------------------------------------------------- scenarios


def scenario_first_start(s, c):
    """No settings file: empty folder field, the dialog's defaults, layout, focus, and Esc
    closes the window writing the 11 default lines."""
    name = "first-start"
    place = s.place(name)
    run = s.drive(start(place) + [
        "controls", "rect", "focus",
        "key TAB", "wait-focus 1006", "focus", "key TAB", "wait-focus 1007", "focus",
        "press 1009", "wait-window " + ADV, "controls", "rect", "focus",
        "press 1112", "gone",
        "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    if len(run.windows) < 2 or len(run.rects) < 2:
        c.check(name + ": both windows listed", False, run.output[-2000:])
        return
    main, adv = run.windows[0], run.windows[1]
    check_layout(c, name, main, MAIN, (487, 299), MAIN_LAYOUT, [1004, 1006, 1007, 1008, 1009])
    usage = {ctl["id"]: ctl for ctl in main["controls"]}[1005]["text"]
    c.check(name + ": usage memo holds its six lines", usage.split("\r\n")[:6] == USAGE and
            usage.replace("\r\n", "") == "".join(USAGE), usage)
    c.check(name + ": usage memo is read-only", usage and {ctl["id"]: ctl for ctl in main["controls"]}[1005]["style"] & 0x800,
            hex({ctl["id"]: ctl for ctl in main["controls"]}[1005]["style"]))
    check_layout(c, name, adv, ADV, (458, 371), ADV_LAYOUT,
                 [1103, 1106, 1108, 1110, 1111, 1112, 1113])
    x, y, w, h = run.rects[0]
    c.check(name + ": main window centred on the 1024 x 768 screen",
            abs(x - (1024 - w) // 2) <= 1 and abs(y - (768 - h) // 2) <= 1, run.rects[0])
    ax, ay, aw, ah = run.rects[1]
    c.check(name + ": advanced dialog centred over the main window",
            abs(ax - (x + (w - aw) // 2)) <= 1 and abs(ay - (y + (h - ah) // 2)) <= 1, (run.rects[0], run.rects[1]))
    c.check(name + ": focus starts in the folder field, Tab moves to browse, then make",
            run.focus[:3] == [1004, 1006, 1007], run.focus)
    c.check(name + ": advanced dialog opens with focus in the name field", run.focus[3:4] == [1103], run.focus)
    c.check(name + ": exit code 0", run.exit_code == 0, run.exit_code)
    c.check(name + ": Esc closed the window and wrote the 11 default lines", read_settings(place) == FIRST_RUN_SETTINGS,
            read_settings(place))


def scenario_missing_folder(s, c):
    """Make with an empty field, then with a file's path: the error box, and nothing made."""
    name = "missing-folder"
    place = s.place(name)
    s.tree(os.path.join(place, "data"), {"file.txt": b"x"})
    file_path = wine_path(os.path.join(place, "data", "file.txt"))
    run = s.drive(start(place) + [
        "press 1007", "wait-box", "windows", "press OK", "gone",
        "wait-window " + MAIN, "settext 1004 " + quote(file_path), "key RETURN", "wait-box", "press OK", "gone",
        "wait-window " + MAIN, "text 1004", "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    tail = "は存在しません.\nファイルチェッカーの作成を中止します."
    c.check(name + ": empty field: the box names an empty folder (two spaces)",
            run.boxes[:1] == [box("エラー", "チェックするフォルダ  " + tail, "none")], run.boxes)
    c.check(name + ": a file is no folder: the box names it",
            run.boxes[1:2] == [box("エラー", "チェックするフォルダ " + file_path + " " + tail, "none")], run.boxes)
    c.check(name + ": no progress dialog was shown", "caption=" + PROGRESS not in
            "\n".join(l for l in run.output.splitlines() if " visible=1 " in l), run.output)
    c.check(name + ": the field keeps its text", run.text_of(1004) == file_path, run.texts)
    c.check(name + ": nothing was written beside the file", sorted(os.listdir(os.path.join(place, "data"))) == ["file.txt"])


def scenario_build_and_check(s, c):
    """A full build of a real tree, twice in one run, then the written checker finds it intact;
    the settings file is not touched by a build."""
    name = "build"
    place = s.place(name)
    tree = s.tree(os.path.join(place, "tree"), {
        "readme.txt": b"hello\r\n", "表/ソフト.dat": os.urandom(300000), "sub/deeper/empty.bin": b"",
        "sub/data.bin": os.urandom(262144), "emptyfolder/": None})
    old_settings = ("Z:\\old\r\nOld.exe\r\nf\r\n--\r\nn\r\n--\r\nb\r\n--\r\n").encode("cp932")
    with open(settings_path(place), "wb") as f:
        f.write(old_settings)
    run = s.drive(start(place) + [
        "text 1004",
        "settext 1004 " + quote(wine_path(tree)),
        "press 1007", "wait-box 120000", "press OK", "gone", "no-box 500",
        # The second build asks before replacing the first one's checker.
        "wait-window " + MAIN, "press 1007", "wait-box 60000", "press OK", "gone",
        "wait-box 120000", "press OK", "gone", "no-box 500",
        "wait-window " + MAIN])
    run_ok(c, name, run)
    c.check(name + ": the folder field starts with the saved folder", run.text_of(1004) == "Z:\\old", run.texts)
    success = box("成功", "ファイルチェッカーが正常に作成できました.", "none")
    question = box("上書き確認", "Old.exe に上書きしますか？", "question", ("OK", "キャンセル"))
    c.check(name + ": build, overwrite question, build: the expected boxes",
            run.boxes == [success, question, success], run.boxes)
    checker = os.path.join(tree, "Old.exe")
    c.check(name + ": the checker carries the saved checker name", os.path.isfile(checker), os.listdir(tree))
    c.check(name + ": a build leaves the settings file as it was", read_settings(place) == old_settings,
            read_settings(place))
    if not os.path.isfile(checker):
        return
    with open(checker, "rb") as f:
        data = f.read()
    c.check(name + ": the checker is an executable with the check data and trailer at its end",
            data[:2] == b"MZ" and data[-16:-12] == b"VXR!", data[:2] + data[-16:-12])
    messages = data[:-16].split(b"\0")
    c.check(name + ": the saved messages went into the checker", messages[-4:-1] == [b"f", b"n", b"b"], messages[-5:])

    run = s.drive(["start " + quote(wine_path(checker)), "wait-box 120000", "press OK", "expect-exit 0 30000"])
    run_ok(c, name + "/checker", run)
    c.check(name + ": the written checker finds every file intact",
            run.boxes == [box("チェック終了", "すべてのファイルは正常です.", "none")], run.boxes)


def scenario_overwrite(s, c):
    """An existing checker: Cancel keeps it byte for byte and nothing follows; OK replaces it."""
    name = "overwrite"
    place = s.place(name)
    tree = s.tree(os.path.join(place, "tree"), {"a.txt": b"a", "Vexorin.exe": b"old checker"})
    before = snapshot(tree)
    prepare = start(place) + ["settext 1004 " + quote(wine_path(tree)), "press 1007"]
    question = box("上書き確認", "Vexorin.exe に上書きしますか？", "question", ("OK", "キャンセル"))

    run = s.drive(prepare + ["wait-box", "press キャンセル", "gone", "no-box 1500",
                             "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    c.check(name + ": Cancel: the question and nothing after it", run.boxes == [question], run.boxes)
    c.check(name + ": Cancel: the folder is as it was", snapshot(tree) == before, sorted(snapshot(tree)))

    run = s.drive(prepare + ["wait-box", "press OK", "gone", "wait-box 60000", "press OK", "gone", "no-box 500",
                             "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    c.check(name + ": OK: the question, then the success box",
            run.boxes == [question, box("成功", "ファイルチェッカーが正常に作成できました.", "none")], run.boxes)
    with open(os.path.join(tree, "Vexorin.exe"), "rb") as f:
        c.check(name + ": OK: the old file was replaced by a checker", f.read(2) == b"MZ")


def scenario_empty_folder(s, c):
    name = "empty-folder"
    place = s.place(name)
    tree = s.tree(os.path.join(place, "tree"), {})
    run = s.drive(start(place) + [
        "settext 1004 " + quote(wine_path(tree) + "\\"),
        "press 1007", "wait-box", "press OK", "gone", "no-box 1500",
        "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    c.check(name + ": the empty-folder warning, and nothing else",
            run.boxes == [box("エラー", "対象フォルダにファイルやフォルダがありません.", "warning")], run.boxes)
    c.check(name + ": nothing written", os.listdir(tree) == [], os.listdir(tree))


def scenario_cancel(s, c):
    """Cancel while a large file is read, by Esc and by the button: nothing written, no box."""
    name = "cancel"
    place = s.place(name)
    tree = s.tree(os.path.join(place, "tree"), {"big.bin": BIG_FILE})
    before = snapshot(tree)
    reading = "big.bin を処理中..."
    run = s.drive(start(place) + [
        "settext 1004 " + quote(wine_path(tree)), "rect",
        "press 1007", "wait-window " + PROGRESS, "wait-text 1201 " + quote(reading) + " 60000",
        "controls", "rect", "key ESCAPE", "gone 60000", "no-box 1500",
        "wait-window " + MAIN, "press 1007", "wait-window " + PROGRESS,
        "wait-text 1201 " + quote(reading) + " 60000", "text 1202",
        "press 1203", "gone 60000", "no-box 1500",
        "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    if c.check(name + ": progress dialog listed", len(run.windows) == 1 and len(run.rects) == 2, run.output[-2000:]):
        check_layout(c, name, run.windows[0], PROGRESS, (434, 99), PROGRESS_LAYOUT, [1203])
        (x, y, w, h), (px, py, pw, ph) = run.rects
        c.check(name + ": progress dialog centred over the main window",
                abs(px - (x + (w - pw) // 2)) <= 1 and abs(py - (y + (h - ph) // 2)) <= 1, run.rects)
    c.check(name + ": no message at all", run.boxes == [], run.boxes)
    progress = run.text_of(1202) or ""
    c.check(name + ": the progress line counts kilobytes of file 1 of 1",
            re.match(r"^\d+ KByte processed\. \(1/1\)$", progress) is not None, progress)
    c.check(name + ": nothing written into the folder", snapshot(tree) == before, sorted(snapshot(tree)))


def scenario_held_file(s, c):
    """A file another process holds open without sharing: the open-failure warning comes
    while the dialog shows that file's name, and the build stops."""
    name = "held-file"
    place = s.place(name)
    tree = s.tree(os.path.join(place, "tree"), {"locked.bin": b"locked"})
    helper = subprocess.Popen(s.wine.command(s.hold_helper(), "hold", wine_path(os.path.join(tree, "locked.bin"))), env=s.env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        held = helper.stdout.readline().decode().strip()
        if not c.check(name + ": helper holds the file", held == "HELD", held):
            return
        run = s.drive(start(place) + [
            "settext 1004 " + quote(wine_path(tree)),
            "press 1007", "wait-box 60000",
            "wait-window " + PROGRESS, "text 1201",
            "wait-box", "press OK", "gone", "no-box 1500",
            "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    finally:
        helper.stdin.close()
        helper.wait(timeout=60)
    run_ok(c, name, run)
    c.check(name + ": the open-failure warning names the file",
            run.boxes[:1] == [box("エラー", "locked.bin のオープンに失敗しました.", "warning")], run.boxes)
    c.check(name + ": the dialog showed that file while the warning was up",
            run.text_of(1201) == "locked.bin を処理中...", run.texts)
    c.check(name + ": no checker written", sorted(os.listdir(tree)) == ["locked.bin"], os.listdir(tree))


NAME_CASES = [  # typed, kept after OK
    ("abc", "abc.exe"), ("exe", "exe.exe"), (".exe ", ".exe .exe"), ("TOOL.EXE", "TOOL.EXE"),
    ("  ", "  .exe"), ("表", "表.exe"), ("表ソ.exe", "表ソ.exe"),
]


def scenario_names(s, c):
    """The checker name: completions, the empty name, forbidden characters, and what the
    settings file receives from an accepted name."""
    name = "names"
    place = s.place(name)
    lines = start(place)
    for typed, _ in NAME_CASES:
        lines += open_adv() + ["settext 1103 " + quote(typed), "press 1111", "gone"]
        lines += open_adv() + ["text 1103", "press 1112", "gone"]
    # Empty: the box, then the standard name.
    lines += open_adv() + ["settext 1103 \"\"", "press 1111", "wait-box", "press OK", "gone", "no-box 500"]
    lines += open_adv() + ["text 1103", "press 1112", "gone"]
    # Forbidden characters: the box, and the dialog stays open with the text as typed.
    for bad in ["a:b", "x\\y.exe", "p|q"]:
        lines += open_adv() + ["settext 1103 " + quote(bad), "press 1111", "wait-box", "press OK", "gone",
                               "wait-window " + ADV, "text 1103", "press 1112", "gone"]
    lines += open_adv() + ["settext 1103 " + quote("last"), "key RETURN", "gone",
                           "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"]
    run = s.drive(lines)
    run_ok(c, name, run)
    kept = [t for cid, t in run.texts if cid == 1103]
    for i, (typed, expected) in enumerate(NAME_CASES):
        c.check(name + ": %r becomes %r" % (typed, expected), kept[i:i + 1] == [expected], kept)
    n = len(NAME_CASES)
    c.check(name + ": an empty name becomes Vexorin.exe", kept[n:n + 1] == ["Vexorin.exe"], kept)
    c.check(name + ": an empty name is announced",
            run.boxes[:1] == [box("エラー", "[作成するﾌｧｲﾙﾁｪｯｶｰ名]は必ず必要です.\nVexorin.exeに設定します.", "none")],
            run.boxes[:1])
    bad_box = box("エラー", "[作成するﾌｧｲﾙﾁｪｯｶｰ名]に有効でない文字（半角の \\ / : * ? \" < > | ）が\n含まれています.",
                  "none")
    c.check(name + ": each forbidden name is refused with the box", run.boxes[1:] == [bad_box] * 3, run.boxes[1:])
    c.check(name + ": a refused name stays in the open dialog as typed",
            kept[n + 1:n + 4] == ["a:b", "x\\y.exe", "p|q"], kept[n + 1:])
    saved = read_settings(place)
    c.check(name + ": Enter accepts the dialog; Esc in the main window saves its name",
            saved is not None and saved.split(b"\r\n")[1] == b"last.exe", saved)


def scenario_defaults_and_cancel(s, c):
    """The default button with Cancel and with OK, the close box undoing edits, Alt keys,
    and the settings file receiving what was accepted."""
    name = "defaults"
    place = s.place(name)
    with open(settings_path(place), "wb") as f:
        f.write("C:\\\r\nmine.exe\r\nfolder one\r\n\r\nfolder three\r\n--\r\nno file\r\n--\r\n--\r\n".encode("cp932"))
    mine = {1103: "mine.exe", 1106: "folder one\r\n\r\nfolder three\r\n", 1108: "no file\r\n", 1110: ""}
    defaults = {**DEFAULT_MEMO, 1103: "Vexorin.exe"}
    read_all = ["text 1103", "text 1106", "text 1108", "text 1110"]
    run = s.drive(start(place) + open_adv() + read_all +
                  ["press 1113"] + read_all + ["press 1112", "gone"] +      # default, then cancel
                  open_adv() + read_all +
                  ["settext 1108 " + quote("edited"), "syscommand close", "gone"] +
                  open_adv() + read_all +
                  ["settext 1110 " + quote("typed"), "key D+ALT", "wait-text 1103 Vexorin.exe"] + read_all + ["key C+ALT", "gone"] +
                  open_adv() + read_all +
                  ["press 1113", "press 1111", "gone"] +                    # default, then OK
                  open_adv() + read_all + ["key ESCAPE", "gone",
                                           "wait-window " + MAIN, "press 1008", "expect-exit 0 20000"])
    run_ok(c, name, run)
    seen = [dict(zip([1103, 1106, 1108, 1110], [run.text_of(cid, k) for cid in [1103, 1106, 1108, 1110]]))
            for k in range(7)]
    c.check(name + ": the dialog opens with the saved values", seen[0] == mine, seen[0])
    c.check(name + ": the default button puts the standard values in", seen[1] == defaults, seen[1])
    c.check(name + ": Cancel after the default button returns to the saved values", seen[2] == mine, seen[2])
    c.check(name + ": the close box undoes an edit", seen[3] == mine, seen[3])
    c.check(name + ": Alt+D is the default button", seen[4] == defaults, seen[4])
    c.check(name + ": Alt+C cancels", seen[5] == mine, seen[5])
    c.check(name + ": OK after the default button keeps the standard values", seen[6] == defaults, seen[6])
    c.check(name + ": the close button saved the accepted values",
            read_settings(place) == ("C:\\\r\n" + FIRST_RUN_SETTINGS.decode("cp932")[2:]).encode("cp932"),
            read_settings(place))


def scenario_browse(s, c):
    """The folder browser selects an existing folder the field names; Cancel keeps a field
    that names nothing."""
    name = "browse"
    place = s.place(name)
    # The browser cannot walk into Wine's Z: drive, so the folder to pick lies on drive C:,
    # away from the maker (Wine's browser also fails to select a folder that shares a parent
    # with the running program's folder).
    s.tree(os.path.join(s.drive_c, "vxmaker-tests", name, "pick", "inner"), {"f.txt": b"f"})
    # Wine's browser finds the folder to select by comparing item identifiers that hold each
    # folder's access time. Under relatime the first listing of a new folder moves that time,
    # so when Wine's own listing is the first one, the identifier it parsed no longer matches
    # the one it lists, and the browser stays on the desktop. List every folder once first
    # (walking the tree reads each folder).
    list(os.walk(os.path.join(s.drive_c, "vxmaker-tests")))
    windows_folder = "C:\\vxmaker-tests\\%s\\pick\\inner" % name
    run = s.drive(start(place) + [
        "settext 1004 " + quote(windows_folder), "press 1006", "wait-dialog " + BROWSER, "sleep 1000",
        "press OK", "gone", "wait-window " + MAIN, "text 1004",
        "settext 1004 " + quote("C:\\no such folder"), "press 1006", "wait-dialog " + BROWSER,
        "press キャンセル", "gone", "wait-window " + MAIN, "text 1004",
        "wait-focus 1006", "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    c.check(name + ": OK on the pre-selected folder gives it back", run.text_of(1004, 0) == windows_folder, run.texts)
    c.check(name + ": Cancel keeps a field that names no folder", run.text_of(1004, 1) == "C:\\no such folder",
            run.texts)
    c.check(name + ": the main window has the keyboard again: Esc saves the field's text",
            (read_settings(place) or b"").startswith(b"C:\\no such folder\r\n"), read_settings(place))


def scenario_drop(s, c):
    """Items dropped onto the main window, as the shell drops them: the first folder among
    them goes into the folder field wherever they land; files alone leave the field as it
    is; the dropped folder then builds and is saved like a typed one."""
    name = "drop"
    place = s.place(name)
    items = os.path.join(place, "items")
    s.tree(items, {"配布 フォルダ/a.txt": b"a", "second/b.txt": b"b", "file.txt": b"f"})
    folder, second, file = (wine_path(os.path.join(items, n)) for n in ("配布 フォルダ", "second", "file.txt"))
    run = s.drive(start(place) + [
        "drop 1005 %s %s %s" % (quote(file), quote(folder), quote(second)), "text 1004",
        "drop 1007 %s" % quote(file), "text 1004",
        "drop 1004 %s" % quote(second), "text 1004",
        "drop 1001 %s %s" % (quote(folder), quote(file)), "text 1004",
        "press 1007", "wait-box 60000", "press OK", "gone",
        "wait-window " + MAIN, "key ESCAPE", "expect-exit 0 20000"])
    run_ok(c, name, run)
    c.check(name + ": a file, then two folders, dropped on the usage text: the first folder fills the field",
            run.text_of(1004, 0) == folder, run.texts)
    c.check(name + ": a file alone, dropped on the make button: the field keeps its folder",
            run.text_of(1004, 1) == folder, run.texts)
    c.check(name + ": a folder dropped on the field itself, then with a file on the group box: each replaces it",
            run.text_of(1004, 2) == second and run.text_of(1004, 3) == folder, run.texts)
    c.check(name + ": the dropped folder builds its checker and is saved on close",
            os.path.isfile(os.path.join(items, "配布 フォルダ", "Vexorin.exe")) and
            (read_settings(place) or b"").startswith(folder.encode("cp932") + b"\r\n"),
            (run.boxes, read_settings(place)))


def scenario_settings_failures(s, c):
    """A settings file that cannot be read: the error box, empty fields; one that cannot be
    written: the error box and the window stays open."""
    name = "settings-failures"
    place = s.place(name)
    os.makedirs(settings_path(place))  # a folder where the file should be
    run = s.drive(["start " + quote(wine_path(os.path.join(place, "maker", "VexorinMake.exe"))),
                   "wait-box 60000", "press OK", "gone",
                   "wait-window " + MAIN, "text 1004", "text 1005"] + open_adv() +
                  ["text 1103", "text 1106", "press 1112", "gone",
                   "wait-window " + MAIN, "key ESCAPE", "wait-box", "press OK", "gone",
                   "wait-window " + MAIN, "exists", "kill"])
    c.check(name + ": driver script ran through", run.failure is None, run.failure or run.output[-2000:])
    path = wine_path(settings_path(place))
    c.check(name + ": the read failure names the settings file",
            run.boxes[:1] == [box("エラー", "設定ファイル %s を読み込めませんでした." % path, "error")], run.boxes)
    c.check(name + ": the usage text is there, the settings fields are empty",
            run.text_of(1004) == "" and (run.text_of(1005) or "").startswith(USAGE[0]) and
            run.text_of(1103) == "" and run.text_of(1106) == "", run.texts)
    c.check(name + ": the write failure names the settings file and the window stays",
            run.boxes[1:] == [box("エラー", "設定ファイル %s に書き込めませんでした." % path, "error")], run.boxes)


def scenario_screenshots(s, c):
    """Pictures of the three windows for the documentation, into the folder --screenshots names."""
    name = "screenshots"
    folder = os.path.abspath(s.args.screenshots)
    # Wine's stand-in for the maker's font is monospaced; the proportional IPA font is
    # closer to what Windows shows, so the pictures use it.
    for face in ("ＭＳ Ｐゴシック", "MS PGothic"):
        subprocess.run(s.wine.command("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face, "/d",
                                       "IPAPGothic", "/f"), env=s.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, start_new_session=True, timeout=120)
    place = s.place(name, under_c=True)
    s.tree(os.path.join(place, "配布フォルダ"), {"data/big.bin": BIG_FILE, "readme.txt": b"r"})
    os.makedirs(folder, exist_ok=True)
    run = s.drive(start(place) + [
        "settext 1004 " + quote("C:\\vxmaker-tests\\screenshots\\配布フォルダ"), "sleep 500", "snapshot maker-main",
        "press 1009", "wait-window " + ADV, "sleep 500", "snapshot maker-advanced",
        "press 1112", "gone", "wait-window " + MAIN,
        "press 1007", "wait-window " + PROGRESS, "wait-text 1201 " + quote("data\\big.bin を処理中...") + " 60000",
        "sleep 300", "snapshot maker-progress", "press 1203", "gone 60000",
        "wait-window " + MAIN, "kill"], snapshot_dir=folder)
    c.check(name + ": driver script ran through", run.failure is None, run.failure or run.output[-2000:])
    c.check(name + ": three pictures taken", sorted(run.snapshots) == ["maker-advanced", "maker-main", "maker-progress"],
            run.snapshots)
    shutil.rmtree(place, ignore_errors=True)


SCENARIOS = [scenario_first_start, scenario_missing_folder, scenario_build_and_check, scenario_overwrite,
             scenario_empty_folder, scenario_cancel, scenario_held_file, scenario_names, scenario_defaults_and_cancel,
             scenario_browse, scenario_drop, scenario_settings_failures]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--maker", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--cc", help="the MinGW-w64 C compiler for the helper (default: the one for the Windows build Wine runs)")
    parser.add_argument("-k", dest="only", help="run only scenarios whose name contains this")
    parser.add_argument("--screenshots", help="also save pictures of the three windows into this folder")
    args = parser.parse_args()
    with WineSession(build_dir=os.path.dirname(os.path.abspath(args.driver))) as wine:
        return run_scenarios(SCENARIOS + ([scenario_screenshots] if args.screenshots else []), Session(args, wine),
                             args.only)


if __name__ == "__main__":
    sys.exit(main())
