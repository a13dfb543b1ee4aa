#!/usr/bin/env python3
"""Self-test of vxdriver: drives vxsample (message boxes, a resource dialog
and a plain window) under Wine and checks what the driver reports and what
the program did (its exit code encodes the user's choices).

    python3 tests/wine/test_driver.py --driver build/.../vxdriver.exe \\
        --sample build/.../vxsample.exe [-k substring] [-v] [--screens DIR]

Prints one line per test and finally "N passed, M failed"; exits 1 when a
test failed, 2 when the environment is unusable.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402
from harness import (Box, HarnessError, WineSession, from_wine_path, parse_box,  # noqa: E402
                     png_size, quote, to_wine_path, unescape)

TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


class Ctx:
    wine = None
    driver = None
    sample = None
    tmp = None
    screens = None

    @property
    def s(self):
        """The sample exe as a quoted script argument."""
        return quote(to_wine_path(self.sample))

    def run(self, script, **kw):
        return self.wine.run_driver(self.driver, script, **kw)


def check(cond, msg, res=None):
    """Ends the test as failed, with the driver's transcript when there is one, unless cond holds."""
    if not cond:
        raise AssertionError(msg + ("\n--- transcript ---\n" + res.transcript() if res is not None else ""))


def check_ok(res):
    check(res.ok, "driver failed: %s" % res.failure, res)


def check_fails(res, *fragments):
    check(res.returncode == 1 and not res.timed_out,
          "driver should have failed with exit code 1, got %s" % res.returncode, res)
    check(res.failure is not None, "no FAIL line", res)
    for f in fragments:
        check(f in res.failure, "FAIL line lacks %r" % f, res)


QUESTION = Box("エラー", "ファイル「テスト.txt」を保存できませんでした。\n続行しますか？", ["OK", "キャンセル"], "question")


# ------------------------------------------------------------------ pure Python parts

@test
def harness_helpers(ctx):
    check(to_wine_path("/tmp/日本語 フォルダ/a.exe") == "Z:\\tmp\\日本語 フォルダ\\a.exe", "to_wine_path")
    check(from_wine_path("Z:\\tmp\\x y\\b.txt") == "/tmp/x y/b.txt", "from_wine_path")
    check(unescape(r"C:\\new\ntab\t") == "C:\\new\ntab\t", "unescape")
    box = parse_box(r"BOX caption=a\\b text=x\ny buttons=OK,A\,B,C icon=info")
    check(box == Box("a\\b", "x\ny", ["OK", "A,B", "C"], "info"), "parse_box: %r" % box)
    check(parse_box("BOX nonsense") is None, "parse_box accepted a malformed line")
    check(quote('C:\\new "x"') == '"C:\\\\new \\"x\\""', "quote")


# ------------------------------------------------------------------ message boxes

@test
def question_box_ok(ctx):
    res = ctx.run("""
        start {s} - box question
        wait-box
        press OK
        expect-exit 1
    """.format(s=ctx.s))
    check_ok(res)
    check(res.boxes == [QUESTION], "box: %r" % res.boxes, res)
    check(res.exit_codes == [1], "exit codes %r" % res.exit_codes, res)


@test
def question_box_cancel_escape_close(ctx):
    # Cancel button, Escape, SC_CLOSE and Alt+F4 all end the box with IDCANCEL.
    actions = ["press キャンセル", "key ESCAPE", "syscommand close", "key F4+ALT", "input ALT+F4"]
    script = ""
    for a in actions:
        script += "start {s} - box question\nwait-box\n{a}\nexpect-exit 2\n".format(s=ctx.s, a=a)
    res = ctx.run(script)
    check_ok(res)
    check(res.boxes == [QUESTION] * len(actions), "boxes %r" % res.boxes, res)
    check(res.exit_codes == [2] * len(actions), "exit codes %r" % res.exit_codes, res)


@test
def icons_buttons_and_labels(ctx):
    res = ctx.run("""
        start {s} - box warning
        wait-box
        press いいえ
        expect-exit 7
        start {s} - box info
        wait-box
        key RETURN
        expect-exit 1
        start {s} - box error
        wait-box
        press 再試行
        expect-exit 4
        start {s} - box plain
        wait-box
        press 1
        expect-exit 1
    """.format(s=ctx.s))
    check_ok(res)
    expected = [
        Box("警告", "上書きしますか？", ["はい", "いいえ"], "warning"),
        Box("情報", "完了しました。", ["OK"], "info"),
        Box("エラー", "読み込みに失敗しました。", ["再試行", "キャンセル"], "error"),
        Box("Vexorin", "アイコンなし", ["OK"], "none"),
    ]
    check(res.boxes == expected, "boxes %r" % res.boxes, res)
    check(not res.starting("NOTE"), "icon detection needed a note", res)


@test
def box_text_control_and_mnemonic_label(ctx):
    # The box text is the static with id 65535; "はい(&Y)" is pressed as はい
    # and also by its raw label.
    res = ctx.run("""
        start {s} - box warning
        wait-box
        expect-text 65535 上書きしますか？
        expect-caption 警告
        press はい(&Y)
        expect-exit 6
    """.format(s=ctx.s))
    check_ok(res)


@test
def two_boxes_in_sequence(ctx):
    res = ctx.run("""
        start {s} - twoboxes
        wait-box
        press キャンセル
        wait-box
        press OK
        expect-exit 21
    """.format(s=ctx.s))
    check_ok(res)
    check([(b.caption, b.text, b.icon) for b in res.boxes] ==
          [("確認", "1つ目", "question"), ("完了", "2つ目", "info")], "boxes %r" % res.boxes, res)


@test
def late_box_and_no_box(ctx):
    res = ctx.run("""
        start {s} - late
        no-box 500
        wait-box 5000
        press OK
        expect-exit 1
    """.format(s=ctx.s))
    check_ok(res)
    check(res.boxes and res.boxes[0].caption == "遅延", "late box not seen", res)
    # no-box must notice a box that does show up within its time.
    res = ctx.run("""
        start {s} - late
        no-box 5000
        echo not reached
    """.format(s=ctx.s))
    check_fails(res, "unexpected message box", "遅延")
    check("not reached" not in res.lines, "script continued after the failure", res)


# ------------------------------------------------------------------ the settings dialog

# Control rectangles of the DIALOG resource in sample_app.rc.
DIALOG_LAYOUT = {
    101: ("Edit", "50,7,120,14"),
    104: ("Button", "174,7,39,14"),
    102: ("Button", "7,28,100,10"),
    106: ("Static", "7,66,200,8"),
    1: ("Button", "56,99,50,14"),
    2: ("Button", "110,99,50,14"),
    105: ("Button", "164,99,50,14"),
}


@test
def dialog_controls_layout(ctx):
    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        controls
        no-box 200
        kill
    """.format(s=ctx.s))
    check_ok(res)
    header = res.starting("WINDOW class=#32770 client=")
    check(header and "(template font MS Shell Dlg 9pt)" in header[0], "base units not from the template", res)
    ctrls = {c["id"]: c for c in res.controls()}
    for cid, (cls, dlu) in DIALOG_LAYOUT.items():
        check(cid in ctrls, "control %d missing" % cid, res)
        check(ctrls[cid]["class"] == cls, "class of %d is %s" % (cid, ctrls[cid]["class"]), res)
        check(ctrls[cid]["dlu"] == dlu, "dlu of %d is %s, resource says %s" % (cid, ctrls[cid]["dlu"], dlu), res)
    check("disabled" in ctrls[105]["flags"].split(","), "適用 should start disabled", res)
    check("focus" in ctrls[101]["flags"].split(","), "the name edit should have the focus", res)
    check(ctrls[101]["text"] == "初期値", "edit text %r" % ctrls[101]["text"], res)
    labels = [c for c in res.controls() if c["id"] == -1]
    check([(c["text"], c["dlu"]) for c in labels] == [("名前(&N):", "7,9,40,8"), ("サイズ:", "7,46,40,8")],
          "labels %r" % labels, res)
    # Pixel rectangles must be consistent with the base units shown.
    base = header[0].split(" base=")[1].split()[0]
    bx, by = (int(v) for v in base.split(","))
    x, y, w, h = (int(v) for v in ctrls[101]["rect"].split(","))
    def muldiv(a, b, c):  # Windows MulDiv: rounds halves away from zero
        return (a * b + c // 2) // c
    check((x, y, w, h) == (muldiv(50, bx, 4), muldiv(7, by, 8), muldiv(120, bx, 4), muldiv(14, by, 8)),
          "pixel rect %r does not match base %s" % ((x, y, w, h), base), res)


@test
def dialog_interaction(ctx):
    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        expect-focus 101
        expect-text 101 初期値
        expect-text 106 "状態: 未変更"
        expect-enabled 105 0
        settext 101 日本語の名前
        wait-text 106 "状態: 変更あり"
        expect-enabled 105 1
        press 適用
        expect-text 106 "状態: 適用済み"
        expect-enabled 105 0
        expect-check 102 0
        press 102
        expect-check 102 1
        items 103
        select 103 大
        expect-text 106 "状態: サイズ=大"
        expect-text 103 大
        press 参照...
        wait-box
        press OK
        wait-dialog 設定
        press OK
        expect-exit 111
    """.format(s=ctx.s))
    check_ok(res)
    check(res.starting("ITEM ") == ["ITEM 0=小", "ITEM 1=中", "ITEM 2=大"], "items", res)
    check(res.boxes == [Box("参照", "参照は未実装です。", ["OK"], "info")], "browse box %r" % res.boxes, res)


@test
def dialog_keyboard(ctx):
    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        key TAB
        wait-focus 104 3000
        input SHIFT+TAB
        wait-focus 101 3000
        key ESCAPE
        expect-exit 2
        start {s} - dialog
        wait-dialog 設定
        syscommand close
        expect-exit 2
        start {s} - dialog
        wait-dialog 設定
        key RETURN
        expect-exit 100
    """.format(s=ctx.s))
    check_ok(res)
    check(res.exit_codes == [2, 2, 100], "exit codes %r" % res.exit_codes, res)


# ------------------------------------------------------------------ a plain window

@test
def window_close_confirmation(ctx):
    res = ctx.run("""
        start {s} - window
        wait-window "サンプル ウィンドウ"
        syscommand close
        wait-box
        press いいえ
        no-box 300
        wait-window "サンプル ウィンドウ"
        exists
        key ALT+F4
        wait-box
        press はい
        gone
        expect-exit 3
    """.format(s=ctx.s))
    check_ok(res)
    check([b.caption for b in res.boxes] == ["確認", "確認"], "boxes %r" % res.boxes, res)
    check(res.boxes[0] == Box("確認", "終了しますか？", ["はい", "いいえ"], "question"), "box %r" % res.boxes[0], res)


@test
def keys_wait_until_the_window_takes_them(ctx):
    # Behind its box the window is disabled: a key posted now would be lost, so `key` waits.
    res = ctx.run("""
        start {s} - window
        wait-window "サンプル ウィンドウ"
        syscommand close
        wait-box
        wait-window "サンプル ウィンドウ"
        timeout 500
        key ALT+F4
    """.format(s=ctx.s))
    check_fails(res, "takes no keys after 500 ms: it is disabled")


@test
def window_controls_without_ids(ctx):
    res = ctx.run("""
        start {s} - window
        wait-window "サンプル ウィンドウ"
        find-control Button 開く
        press @
        wait-box
        press OK
        wait-window "サンプル ウィンドウ"
        find-control Edit ""
        settext @ abcde
        type xy
        wait-text @ xyabcde 3000
        find-control * 終了
        press @
        expect-exit 17
    """.format(s=ctx.s))
    check_ok(res)
    check(res.boxes == [Box("開く", "開きました", ["OK"], "info")], "box %r" % res.boxes, res)


@test
def japanese_exe_path_and_working_dir(ctx):
    folder = os.path.join(ctx.tmp, "日本語 フォルダ")
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "サンプル アプリ.exe")
    shutil.copyfile(ctx.sample, exe)
    res = ctx.run("""
        start {exe} {dir} where
        wait-box
        press OK
        expect-exit 1
    """.format(exe=quote(to_wine_path(exe)), dir=quote(to_wine_path(folder))))
    check_ok(res)
    want = "cwd=%s\nexe=%s" % (to_wine_path(folder), to_wine_path(exe))
    check(res.boxes and res.boxes[0].text == want, "expected text %r" % want, res)


# ------------------------------------------------------------------ failures are failures

@test
def failures_are_reported(ctx):
    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        expect-text 101 違う値
        echo not reached
    """.format(s=ctx.s))
    check_fails(res, "違う値", "初期値", "line 3")
    check("not reached" not in res.lines, "continued after failure", res)
    check(res.starting("KILLED pid="), "the still running program was not terminated", res)

    t0 = time.time()
    res = ctx.run("""
        start {s} - window
        wait-window "サンプル ウィンドウ"
        wait-box 300
    """.format(s=ctx.s))
    check_fails(res, "no message box within 300 ms")
    check(time.time() - t0 < 8, "a 300 ms wait took %.1f s" % (time.time() - t0), res)

    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        press 適用
    """.format(s=ctx.s))
    check_fails(res, "disabled")

    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        press 存在しないボタン
    """.format(s=ctx.s))
    check_fails(res, "no button", "キャンセル")

    t0 = time.time()
    res = ctx.run("""
        start {s} - box info
        wait-box
        press OK
        wait-dialog 来ないダイアログ 20000
    """.format(s=ctx.s))
    check_fails(res, "process exited (code 1)")
    check(time.time() - t0 < 8, "waiting did not stop when the program exited", res)

    res = ctx.run("""
        start {s} - box info
        wait-box
        press OK
        expect-exit 5
    """.format(s=ctx.s))
    check_fails(res, "exit code 1, expected 5")

    res = ctx.run("bogus-command 1\n")
    check_fails(res, "unknown command: bogus-command")

    res = ctx.run('settext 101 "unterminated\n')
    check_fails(res, "unterminated double quote")


# ------------------------------------------------------------------ harness features

@test
def snapshots_and_failure_screenshot(ctx):
    shots = ctx.screens or os.path.join(ctx.tmp, "shots")
    res = ctx.run("""
        start {s} - dialog
        wait-dialog 設定
        snapshot settings-dialog
        rect
        kill
    """.format(s=ctx.s), snapshot_dir=shots)
    check_ok(res)
    png = res.snapshots.get("settings-dialog")
    check(png and os.path.exists(png), "no snapshot file", res)
    rect = res.starting("RECT ")[0]
    w, h = (int(kv.split("=")[1]) for kv in rect.split()[3:5])
    check(png_size(png) == (w, h), "snapshot is %r, window is %dx%d" % (png_size(png), w, h), res)
    colors = subprocess.run(["identify", "-format", "%k", png], capture_output=True, text=True).stdout
    check(colors.isdigit() and int(colors) > 20, "snapshot looks empty (%s colours)" % colors, res)

    fail_png = os.path.join(shots, "failure.png")
    if os.path.exists(fail_png):
        os.remove(fail_png)
    res = ctx.run("""
        start {s} - box question
        wait-box
        expect-caption 違う
    """.format(s=ctx.s), screenshot_on_failure=fail_png)
    check_fails(res, "違う")
    check(os.path.exists(fail_png), "no failure screenshot", res)
    line = [l for l in res.lines if l.startswith("SNAPSHOT name=failure")]
    check(line, "no failure snapshot request", res)
    sw, sh = (int(kv.split("=")[1]) for kv in line[0].split()[4:6])
    check(png_size(fail_png) == (sw, sh), "failure shot is not the whole screen", res)


@test
def script_on_stdin_and_quoting(ctx):
    res = ctx.run("""
        echo   hello   world
        start {s} - dialog
        wait-dialog 設定
        settext 101 "a \\"quoted\\" value\\twith tab"
        expect-text 101 'a "quoted" value\twith tab'
        settext 101 'C:\\new\\table'
        text 101
        settext 101 ""
        expect-text 101 ''
        kill
    """.format(s=ctx.s), via_stdin=True)
    check_ok(res)
    check("hello   world" in res.lines, "echo keeps the rest of the line", res)
    texts = res.starting("TEXT 101=")
    check(unescape(texts[1][len("TEXT 101="):]) == "C:\\new\\table", "single quotes are literal", res)


# ------------------------------------------------------------------ main

def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--driver", required=True, help="vxdriver.exe")
    ap.add_argument("--sample", required=True, help="vxsample.exe")
    ap.add_argument("--prefix", help="Wine prefix (default: next to the driver)")
    ap.add_argument("--screens", help="keep snapshots in this directory")
    ap.add_argument("-k", dest="filter", help="only tests whose name contains this")
    ap.add_argument("-v", "--verbose", action="store_true")
    args = ap.parse_args()

    for p in (args.driver, args.sample):
        if not os.path.isfile(p):
            print("missing file: %s" % p, file=sys.stderr)
            return 2
    ctx = Ctx()
    ctx.driver = os.path.abspath(args.driver)
    ctx.sample = os.path.abspath(args.sample)
    ctx.screens = os.path.abspath(args.screens) if args.screens else None
    selected = [t for t in TESTS if not args.filter or args.filter in t.__name__]
    checks = Checks()
    try:
        with tempfile.TemporaryDirectory(prefix="vxdriver-test-") as tmp, \
                WineSession(prefix=args.prefix, build_dir=os.path.dirname(ctx.driver),
                            verbose=args.verbose) as wine:
            ctx.tmp, ctx.wine = tmp, wine
            for t in selected:
                checks.case(t, ctx)
    except HarnessError as e:
        checks.check("a usable Wine session", False, "environment problem: %s" % e)
        checks.summary()
        return 2
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
