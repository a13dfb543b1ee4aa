#!/usr/bin/env python3
"""The real checker executable under Wine, driven from outside the way a user would.

Each scenario prepares a folder, writes a checker into it with vexorin-build (the checker
image given by --image), changes the folder as the scenario needs, and lets vxdriver.exe
start the checker, read its dialog and message boxes and press their buttons.

usage: test_checker.py --checker EXE --driver VXDRIVER_EXE --build VEXORIN_BUILD [-k NAME]
Runs in a Wine session of tests/support/harness.py (Xvfb when DISPLAY is not usable, the
ja_JP.UTF-8 locale, a prefix beside the driver shared with the other Wine tests).
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checkfile_reader import LINE1, TWO_LINES  # noqa: E402
from checks import Checks, run_scenarios  # noqa: E402
from drive_checker import DIALOG, SUCCESS_BOX, Session, error_box, expect_run, start  # noqa: E402
from harness import Box, quote, to_wine_path  # noqa: E402

LOAD_FAILED = "チェックデータの読み込みに失敗しました.\nVexorin.exeが壊れています."
STOP_BOX = Box("終了確認", "中断しても良いですか？", ["OK", "キャンセル"], "question")
# Big enough that the run is still going seconds after the dialog shows, when a test presses a
# button: the checker reads as fast as it digests (MD5 runs at about 1 GB/s at best), and the
# file is sparse, so it costs no disk.
BIG_FILE = 4 * 1024 * 1024 * 1024


# --- Scenarios --------------------------------------------------------------------------------

def all_intact(s, t):
    folder = s.folder("intact", {"a.txt": b"hello\n", "sub/b.txt": b"b" * 5000, "sub/deep/c.bin": bytes(range(256)) * 3000,
                                 "empty.bin": b""})
    exe = s.build(folder)
    run = s.drive([start(exe), "wait-box 30000", "wait-dialog " + quote(DIALOG), "text 1004", "text 1000", "text 1001",
                   "wait-box", "press OK", "gone 5000", "no-box 1000", "expect-exit 0 10000"])
    expect_run(t, "all intact", run, [SUCCESS_BOX, SUCCESS_BOX])
    t.check("all intact: while the success box shows, only the middle line reads",
            run.texts == [(1004, ""), (1000, "チェックが完了しました."), (1001, "")], repr(run.texts))


def missing_folder(s, t):
    folder = s.folder("nofolder", {"sub/deep/x.txt": b"x", "sub/y.txt": b"y", "top.txt": b"t"})
    exe = s.build(folder)
    shutil.rmtree(os.path.join(folder, "sub"))
    run = s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1000", "expect-exit 0 10000"])
    text = "フォルダ %s\\sub\\deep\\ が見つかりません.\n%s" % (to_wine_path(folder), TWO_LINES)
    expect_run(t, "missing folder (sub with sub\\deep)", run, [error_box(text)])


def missing_file(s, t):
    folder = s.folder("nofile", {"first.txt": b"1", "sub/a.txt": b"a", "sub/z.txt": b"z"})
    exe = s.build(folder)
    os.remove(os.path.join(folder, "sub", "a.txt"))
    run = s.drive([start(exe), "wait-box 30000", "wait-dialog " + quote(DIALOG), "text 1000", "wait-box", "press OK",
                   "gone 5000", "no-box 1000", "expect-exit 0 10000"])
    expect_run(t, "missing file", run, [error_box("ファイル sub\\a.txt が見つかりません.\n" + TWO_LINES)] * 2)
    # The run checks many files between two showings of its lines; a box must not appear
    # under the name of a file before it.
    t.check("missing file: while the box shows, the progress line names that file",
            len(run.texts) == 1 and re.match(r"^sub\\a\.txt をチェック中\.\.\.\([12]/3\)$", run.texts[0][1]) is not None,
            repr(run.texts))

    # Messages |, utf8 and X: written alone, the | read as the separator that begins an
    # extension named utf8, which the checker refused as damaged data.
    folder = s.folder("nofile-bar", {"first.txt": b"1", "sub/a.txt": b"a"})
    exe = s.build(folder, options=["--folder-message", "|", "--nofile-message", "utf8", "--broken-message", "X"])
    os.remove(os.path.join(folder, "sub", "a.txt"))
    run = s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1000", "expect-exit 0 10000"])
    expect_run(t, "missing file, messages |, utf8, X", run, [error_box("ファイル sub\\a.txt が見つかりません.\nutf8")])


def damaged_file(s, t):
    folder = s.folder("damaged", {"a.txt": b"abcdef" * 100000, "b.txt": b"b"})
    exe = s.build(folder)
    with open(os.path.join(folder, "a.txt"), "r+b") as f:
        f.seek(500000)
        f.write(b"X")
    run = s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1000", "expect-exit 0 10000"])
    expect_run(t, "damaged file", run, [error_box("ファイル a.txt が壊れています.\n" + LINE1)])


def no_check_data(s, t):
    for name in ("Vexorin.exe", "check.exe"):
        folder = s.folder("bare-" + name, {"a.txt": b"a"})
        exe = os.path.join(folder, name)
        shutil.copyfile(s.args.checker, exe)
        run = s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1500", "expect-exit 0 10000"])
        expect_run(t, "bare image as %s" % name, run, [error_box(LOAD_FAILED)])
    folder = s.folder("appended", {"a.txt": b"a"})
    exe = s.build(folder)
    with open(exe, "ab") as f:
        f.write(b"appended after the trailer")
    run = s.drive([start(exe), "wait-box 30000", "press OK", "gone 5000", "no-box 1500", "expect-exit 0 10000"])
    expect_run(t, "data after the trailer", run, [error_box(LOAD_FAILED)])


def renamed_checker(s, t):
    folder = s.folder("renamed", {"a.txt": b"a", "sub/b.txt": b"b"})
    exe = s.build(folder)
    renamed = os.path.join(folder, "check.exe")
    os.rename(exe, renamed)
    run = s.drive([start(renamed), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "renamed to check.exe", run, [SUCCESS_BOX])


def other_current_directory(s, t):
    folder = s.folder("placed", {"a.txt": b"a", "sub/b.txt": b"b"})
    elsewhere = s.folder("elsewhere", {"unrelated.txt": b"u"})
    exe = s.build(folder)
    run = s.drive([start(exe, elsewhere), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "started from another current directory", run, [SUCCESS_BOX])


def folder_ending_in_hyo(s, t):
    folder = s.folder("データ表", {"a.txt": b"a", "sub/b.txt": b"b"})
    exe = s.build(folder)
    run = s.drive([start(exe), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "folder ending in 表: intact", run, [SUCCESS_BOX])
    shutil.rmtree(os.path.join(folder, "sub"))
    run = s.drive([start(exe), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    text = "フォルダ %s\\sub\\ が見つかりません.\n%s" % (to_wine_path(folder), TWO_LINES)
    expect_run(t, "folder ending in 表: the missing folder is named below it", run, [error_box(text)])


def folder_deeper_than_260_bytes(s, t):
    # 300 bytes and more in code page 932 to the checker: it used to fail to load its own data.
    deep = os.path.join(*["長いフォルダの名前" * 2] * 8)
    folder = s.folder(deep, {"表.txt": b"hyou", "ソフト/readme.txt": b"soft"})
    t.check("deep folder: past 260 bytes", len(to_wine_path(folder).encode("cp932")) > 300, folder)
    exe = s.build(folder)
    run = s.drive([start(exe), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "deep folder: intact", run, [SUCCESS_BOX])
    with open(os.path.join(folder, "ソフト", "readme.txt"), "wb") as f:
        f.write(b"SOFT")
    run = s.drive([start(exe), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "deep folder: a damaged file", run, [error_box("ファイル ソフト\\readme.txt が壊れています.\n" + LINE1)])

    # Folders 800 bytes deep below the checker, built near the root, then unpacked 230 bytes
    # deep: the deepest folder passes the checker's 1,024-byte limit. It is too long, not
    # missing, and named whole.
    inner = "\\".join(["long"] + ["p" * 200] * 4)
    folder = s.folder("long", {inner.replace("\\", "/")[len("long/"):] + "/f.txt": b"f"})
    exe = s.build(folder)
    deeper = os.path.join(s.root, "d" * (230 - len(to_wine_path(s.root)) - len("\\d\\long\\") - 1), "d")
    os.makedirs(deeper)
    moved = os.path.join(deeper, "long")
    os.rename(folder, moved)
    base = to_wine_path(moved) + "\\"
    t.check("path too long: 230 bytes to the checker", len(base) == 230, len(base))
    run = s.drive([start(os.path.join(moved, "Vexorin.exe")), "wait-box 30000", "press OK", "expect-exit 0 10000"])
    text = base + inner[len("long\\"):] + "\\ のパスが長すぎます.\nパスの短いフォルダに解凍し直してください."
    # The box is far wider than the screen, so its icon cannot be read off the screen.
    shown = [Box(box.caption, box.text, box.buttons, "warning") for box in run.boxes]
    t.check("path too long: the box", run.ok and shown == [error_box(text)], repr(run.boxes)[-600:])


def checker_path_past_its_buffer(s, t):
    # The checker's own path passes its 1,024-byte buffer: in code page 932 only (584
    # characters of 2 bytes each), and past the 1,023 characters it asks Windows for. The
    # folder is too deep; the checker is not damaged. It names its own path as far as it has
    # it. Wine's CreateProcess takes no path past MAX_PATH, so Wine's loader starts it (as
    # Explorer would on Windows) and the driver takes it up by its box.
    deep = os.path.join(*["長いフォルダの名前" * 2] * 29)
    exe = s.build(s.folder(deep, {"a.txt": b"a"}))
    t.check("own path too long: past 1,024 bytes", len(to_wine_path(exe).encode("cp932")) > 1024, exe)
    exe_ascii = s.build(s.folder(os.path.join(*["d" * 200] * 6), {"a.txt": b"a"}))
    t.check("own path too long: past 1,023 characters", len(to_wine_path(exe_ascii)) > 1023, exe_ascii)
    for name, path, shown in (("in code page 932", exe, to_wine_path(exe)),
                              ("in characters", exe_ascii, to_wine_path(exe_ascii)[:1023] + "...")):
        checker = subprocess.Popen(s.wine.command(to_wine_path(path)), env=s.wine.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            run = s.drive(["attach エラー 30000", "wait-box 5000", "press OK", "expect-exit 0 10000"])
        finally:
            try:
                checker.wait(timeout=30)
            except subprocess.TimeoutExpired:
                checker.kill()
                checker.wait()
        text = shown + " のパスが長すぎます.\nパスの短いフォルダに解凍し直してください."
        # The box is far wider than the screen, so its icon cannot be read off the screen.
        boxes = [Box(box.caption, box.text, box.buttons, "warning") for box in run.boxes]
        t.check("own path too long %s: the box" % name, run.ok and boxes == [error_box(text)],
                repr(run.boxes)[-700:] + run.transcript[-500:])


def big_folder(s):
    """The checker of a folder with the big file and a small one, built once for the scenarios
    that only run it: building it digests the whole big file."""
    if getattr(s, "big_checker", None) is None:
        s.big_checker = s.build(s.folder("big", {"big.bin": BIG_FILE, "small.txt": b"s"}))
    return s.big_checker


def stop_then_cancel(s, t):
    exe = big_folder(s)
    dialog = "wait-dialog " + quote(DIALOG)
    run = s.drive([start(exe), dialog, "sleep 300", "press 1003", "wait-box 5000",
                   dialog, "text 1001", "sleep 600", "text 1001",
                   "wait-box", "press キャンセル", "gone 5000", dialog, "sleep 300", "text 1001",
                   "sleep 1000", "text 1001", "wait-box 120000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "stop then Cancel", run, [STOP_BOX, STOP_BOX, SUCCESS_BOX])
    figures = run.kbytes()
    t.check("stop then Cancel: no step while the question is shown",
            len(figures) == 4 and figures[0] == figures[1], repr(run.texts))
    t.check("stop then Cancel: the figures go on from where they stopped",
            len(figures) == 4 and figures[1] <= figures[2] <= figures[3] and figures[3] > figures[1],
            repr(run.texts))


def stop_then_ok(s, t):
    exe = big_folder(s)
    run = s.drive([start(exe), "wait-dialog " + quote(DIALOG), "sleep 300", "press 1003", "wait-box 5000",
                   "press OK", "gone 5000", "no-box 1500", "expect-exit 0 10000"])
    expect_run(t, "stop then OK", run, [STOP_BOX])


def escape_does_nothing(s, t):
    exe = big_folder(s)
    dialog = "wait-dialog " + quote(DIALOG)
    run = s.drive([start(exe), dialog, "sleep 300", "key ESCAPE", "no-box 700", "exists", "text 1001",
                   "sleep 400", "text 1001", "wait-box 120000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "Escape", run, [SUCCESS_BOX])
    figures = run.kbytes()
    t.check("Escape: the run goes on", len(figures) == 2 and figures[1] > figures[0], repr(run.texts))


def answers_during_a_long_check(s, t):
    """The window answers while one file of several GiB is checked: its progress lines move
    between two readings half a second apart, and the stop button brings the question."""
    folder = s.folder("answers", {"big.bin": BIG_FILE})
    exe = s.build(folder)
    run = s.drive([start(exe), "wait-dialog " + quote(DIALOG), "wait-text 1000 " + quote("big.bin をチェック中...(1/1)"),
                   "text 1001", "sleep 500", "text 1001", "press 1003", "wait-box 5000", "press OK", "gone 5000",
                   "no-box 1000", "expect-exit 0 10000"])
    expect_run(t, "answers during a long check", run, [STOP_BOX])
    figures = run.kbytes()
    t.check("answers during a long check: the lines move", len(figures) == 2 and figures[1] > figures[0],
            repr(run.texts))


def close_requests_ask(s, t):
    exe = big_folder(s)
    dialog = "wait-dialog " + quote(DIALOG)
    run = s.drive([start(exe), dialog, "sleep 200", "syscommand close", "wait-box 5000", "press キャンセル",
                   "gone 5000", dialog, "key ALT+F4", "wait-box 5000", "press キャンセル", "gone 5000",
                   dialog, "no-box 500", "exists", "wait-box 120000", "press OK", "expect-exit 0 10000"])
    expect_run(t, "close box and Alt+F4 ask, Cancel goes on", run, [STOP_BOX, STOP_BOX, SUCCESS_BOX])


SCENARIOS = [all_intact, missing_folder, missing_file, damaged_file, no_check_data, renamed_checker,
             other_current_directory, folder_ending_in_hyo, stop_then_cancel, stop_then_ok,
             escape_does_nothing, answers_during_a_long_check, close_requests_ask, folder_deeper_than_260_bytes,
             checker_path_past_its_buffer]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--checker", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("-k", dest="only", help="run only scenarios whose name contains this")
    args = parser.parse_args()
    missing = [path for path in (args.checker, args.driver, args.build) if not os.path.exists(path)]
    if missing:
        t = Checks()
        t.check("the programs are there", False, "missing: " + ", ".join(missing))
        return t.summary()
    return run_scenarios(SCENARIOS, Session(args), args.only)


if __name__ == "__main__":
    sys.exit(main())
