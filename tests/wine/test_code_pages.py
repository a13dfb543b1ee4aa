#!/usr/bin/env python3
"""The programs on a Japanese system and on one that is not: every scenario runs twice under
Wine, with LC_ALL=ja_JP.UTF-8 (ANSI code page 932) and with LC_ALL=C.UTF-8 (code page 1252),
and must see the same: the same checker passes the same tree, names the same missing file,
works in a folder whose name code page 932 lacks; the maker and vexorin-build.exe write the
same check data and settings; names that code page 932 lacks are stored alike.

usage: test_code_pages.py --checker EXE --driver VXDRIVER_EXE --build VEXORIN_BUILD
                          --windows-build VEXORIN_BUILD_EXE --maker VEXORINMAKE_EXE [-k NAME]
Every text is read back from the windows through the W functions (vxdriver). Prints one
line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checkfile_reader import LINE1, TWO_LINES, CheckFile  # noqa: E402
from checks import run_scenarios  # noqa: E402
from drive_checker import SUCCESS_BOX, Session as CheckerSession, error_box  # noqa: E402
from drive_maker import BUILT_BOX, MAIN, make_checker, start_maker  # noqa: E402
from harness import Box, quote, to_wine_path  # noqa: E402

LOCALES = (("ja_JP.UTF-8", 932), ("C.UTF-8", 1252))
TREE = {"表.txt": b"hyou", "ソフト/readme.txt": b"soft", "ソフト/深い/data.bin": b"\x5c" * 70000}


class Session(CheckerSession):
    """The checker tests' session (Wine, the tools, a scratch folder, `folder` and `build`),
    run in either locale, with copies of the maker and Wine programs run without the driver."""

    def drive_in(self, locale, lines, timeout=240):
        """Runs a vxdriver script in `locale`; its first line says the code page Wine gave."""
        self.wine.env["LC_ALL"] = locale
        result = self.wine.run_driver(self.args.driver, "\n".join(["codepage"] + lines), timeout=timeout)
        return result

    def maker_in(self, place):
        """A copy of the maker in a fresh folder `place` (below the session's root), so that
        its settings file starts absent; returns the copy's path."""
        folder = os.path.join(self.root, place)
        os.makedirs(folder)
        maker = os.path.join(folder, "VexorinMake.exe")
        shutil.copy(self.args.maker, maker)
        return maker

    def wine_run(self, locale, args):
        env = dict(self.wine.env, LC_ALL=locale)
        return subprocess.run(self.wine.command(*args), env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=300, start_new_session=True)


def code_page_of(result):
    for line in result.output:
        if line.startswith("CODEPAGE acp="):
            return int(line.split()[1].split("=")[1])
    return None


def check_ran(t, name, result, locale, code_page):
    t.check(name + ": Wine gave code page %d" % code_page, code_page_of(result) == code_page,
            result.transcript()[-2000:])
    t.check(name + ": script ran to its end", result.ok and result.failure is None, result.transcript()[-3000:])


def run_checker(s, locale, checker):
    return s.drive_in(locale, ["start %s -" % quote(to_wine_path(checker)), "wait-box 120000", "press OK",
                            "expect-exit 0 30000"])


def each_locale(t, name, body):
    for locale, code_page in LOCALES:
        body("%s [%s]" % (name, locale), locale, code_page)


# --- Scenarios --------------------------------------------------------------------------------

def scenario_same_checker_same_outcome(s, t):
    """One checker over 表.txt and ソフト\\ passes on both systems; with 表.txt deleted, both
    name it the same way, followed by the default message."""
    folder = s.folder("same", TREE)
    checker = s.build(folder)

    def passes(name, locale, code_page):
        result = run_checker(s, locale, checker)
        check_ran(t, name, result, locale, code_page)
        t.check(name + ": every file intact", result.boxes == [SUCCESS_BOX], result.boxes)

    each_locale(t, "the same checker passes", passes)
    os.remove(os.path.join(folder, "表.txt"))

    def names_missing(name, locale, code_page):
        result = run_checker(s, locale, checker)
        check_ran(t, name, result, locale, code_page)
        want = error_box("ファイル 表.txt が見つかりません.\n" + TWO_LINES)
        t.check(name + ": the missing file named", result.boxes == [want], "%r\n     want %r" % (result.boxes, want))

    each_locale(t, "表.txt deleted", names_missing)


def scenario_checker_in_a_korean_folder(s, t):
    """A checker in a folder named 한 (code page 932 lacks it) checks that folder, also when it
    has been renamed to a Korean name, and names a missing folder with its whole path."""
    folder = s.folder("사용자/한", TREE)
    checker = s.build(folder)
    renamed = os.path.join(folder, "확인.exe")
    shutil.copy(checker, renamed)

    def passes(name, locale, code_page):
        for exe in (checker, renamed):
            result = run_checker(s, locale, exe)
            label = name + " " + os.path.basename(exe)
            check_ran(t, label, result, locale, code_page)
            t.check(label + ": every file intact", result.boxes == [SUCCESS_BOX], result.boxes)

    each_locale(t, "checker in 한", passes)
    shutil.rmtree(os.path.join(folder, "ソフト", "深い"))

    def names_folder(name, locale, code_page):
        result = run_checker(s, locale, checker)
        check_ran(t, name, result, locale, code_page)
        want = error_box("フォルダ %s\\ソフト\\深い\\ が見つかりません.\n%s" % (to_wine_path(folder), TWO_LINES))
        t.check(name + ": the missing folder named with its whole path", result.boxes == [want],
                "%r\n     want %r" % (result.boxes, want))

    each_locale(t, "missing folder in 한", names_folder)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def scenario_same_data_from_every_maker(s, t):
    """The maker and vexorin-build.exe write byte-identical checkers for the same tree on both
    systems, equal to the native vexorin-build's with the same image; the maker's settings
    file is the same code-page-932 text on both."""
    folder = s.folder("表の木", TREE)
    expected = read(s.build(folder))
    os.remove(os.path.join(folder, "Vexorin.exe"))
    settings = {}

    def makes(name, locale, code_page):
        maker = s.maker_in("maker-" + locale)
        result = s.drive_in(locale, make_checker(maker, folder) + ["wait-window " + MAIN, "key ESCAPE",
                                                                "expect-exit 0 20000"])
        check_ran(t, name, result, locale, code_page)
        t.check(name + ": the maker's success box", result.boxes == [BUILT_BOX], result.boxes)
        written = os.path.join(folder, "Vexorin.exe")
        t.check(name + ": the maker's checker equals the native build's",
                os.path.isfile(written) and read(written) == expected, "differs or missing")
        if os.path.isfile(written):
            os.remove(written)
        settings[locale] = read(os.path.join(os.path.dirname(maker), "VexorinMake.INI"))

        r = s.wine_run(locale, [s.args.windows_build, "--yes", to_wine_path(folder)])
        t.check(name + ": vexorin-build.exe succeeds", r.returncode == 0, r.stderr[-2000:])
        t.check(name + ": vexorin-build.exe's checker equals the native build's",
                os.path.isfile(written) and read(written) == expected, "differs or missing")
        if os.path.isfile(written):
            os.remove(written)

    each_locale(t, "same data", makes)
    first = settings.get(LOCALES[0][0])
    t.check("same data: the settings file is the same on both systems",
            first is not None and settings.get(LOCALES[1][0]) == first, settings)
    t.check("same data: the settings file holds the folder in code page 932",
            first is not None and first.split(b"\r\n")[0] == to_wine_path(folder).encode("cp932"), first)


def same_records(a, b):
    """Whether two checker files hold the same image, records and messages, in whatever order
    the system listed the folders (Wine's order of these names is not Linux's)."""
    a, b = CheckFile(a), CheckFile(b)
    return all(sorted(getattr(a, part)) == sorted(getattr(b, part)) if isinstance(getattr(a, part), list)
               else getattr(a, part) == getattr(b, part)
               for part in ("image", "folders", "files", "messages", "utf8_folders", "utf8_files", "total"))


def scenario_names_outside_code_page_932_stored(s, t):
    """Names that code page 932 lacks (é, 한글, an emoji, 〜 which it takes one way only) are
    stored in UTF-8 on both systems: the maker's success box names each, the maker and
    vexorin-build.exe write the native build's records, and the checker finds them intact
    and names a damaged one whole."""
    foreign = {"sub/한.txt": b"k", "café.txt": b"cafe", "한글/\U0001F600.txt": b"emoji", "ver1.0〜2.0.txt": b"wave"}
    folder = s.folder("utf8-names", dict(TREE, **foreign))
    expected = read(s.build(folder))
    os.remove(os.path.join(folder, "Vexorin.exe"))
    noted = ["sub\\한.txt", "café.txt", "한글\\", "한글\\\U0001F600.txt", "ver1.0〜2.0.txt"]
    notes = sorted(name + " の名前はシフトJISで書けないため、UTF-8で記録しました." for name in noted)

    def builds(name, locale, code_page):
        maker = s.maker_in("utf8-maker-" + locale)
        result = s.drive_in(locale, make_checker(maker, folder) + ["no-box 1000"])
        check_ran(t, name, result, locale, code_page)
        box = result.boxes[0] if len(result.boxes) == 1 else None
        lines = box.text.split("\n") if box else []
        t.check(name + ": the maker's success box names each name stored in UTF-8",
                box is not None and (box.caption, box.buttons, box.icon) == (BUILT_BOX.caption, BUILT_BOX.buttons,
                BUILT_BOX.icon) and lines[:1] == [BUILT_BOX.text] and sorted(lines[1:]) == notes, result.boxes)
        written = os.path.join(folder, "Vexorin.exe")
        t.check(name + ": the maker's checker holds the native build's records",
                os.path.isfile(written) and same_records(read(written), expected), "differs or missing")

        r = s.wine_run(locale, [s.args.windows_build, "--yes", to_wine_path(folder)])
        t.check(name + ": vexorin-build.exe succeeds", r.returncode == 0, r.stderr[-2000:])
        t.check(name + ": vexorin-build.exe's checker holds the native build's records",
                same_records(read(written), expected), "differs")

        result = run_checker(s, locale, written)
        check_ran(t, name + " (checker)", result, locale, code_page)
        t.check(name + ": the checker finds every file intact", result.boxes == [SUCCESS_BOX], result.boxes)
        os.remove(written)

    each_locale(t, "names stored in UTF-8", builds)
    with open(os.path.join(folder, "Vexorin.exe"), "wb") as f:
        f.write(expected)
    with open(os.path.join(folder, "한글", "\U0001F600.txt"), "wb") as f:
        f.write(b"EMOJI")

    def names_damaged(name, locale, code_page):
        result = run_checker(s, locale, os.path.join(folder, "Vexorin.exe"))
        check_ran(t, name, result, locale, code_page)
        want = error_box("ファイル 한글\\\U0001F600.txt が壊れています.\n" + LINE1)
        t.check(name + ": the damaged file named whole", result.boxes == [want],
                "%r\n     want %r" % (result.boxes, want))

    each_locale(t, "damaged UTF-8 name", names_damaged)


def scenario_maker_in_a_korean_folder(s, t):
    """A maker in a folder named 한 keeps its settings file beside it: Esc writes it, the next
    start reads it back; a settings file it cannot read or write is named with its folder."""
    target = s.folder("maker-target", TREE)

    def keeps_settings(name, locale, code_page):
        maker = s.maker_in("한-" + locale.split(".")[0])
        place = os.path.dirname(maker)
        settings = os.path.join(place, "VexorinMake.INI")
        start = start_maker(maker)
        result = s.drive_in(locale, start + ["settext 1004 " + quote(to_wine_path(target)), "key ESCAPE",
                                          "expect-exit 0 20000"] + start + ["text 1004", "kill"])
        check_ran(t, name, result, locale, code_page)
        t.check(name + ": no box", result.boxes == [], result.boxes)
        t.check(name + ": Esc wrote the settings file beside the maker", os.path.isfile(settings), os.listdir(place))
        t.check(name + ": the next start read the folder back",
                "TEXT 1004=" + to_wine_path(target).replace("\\", "\\\\") in result.output, result.output)

        os.remove(settings)
        os.makedirs(settings)  # a folder where the file should be: it can be neither read nor written
        result = s.drive_in(locale, start[:1] + ["wait-box 60000", "press OK", "gone", "wait-window " + MAIN,
                                              "key ESCAPE", "wait-box", "press OK", "gone", "kill"])
        check_ran(t, name + " (unusable settings file)", result, locale, code_page)
        path = to_wine_path(settings)
        want = [Box("エラー", "設定ファイル %s を読み込めませんでした." % path, ["OK"], "error"),
                Box("エラー", "設定ファイル %s に書き込めませんでした." % path, ["OK"], "error")]
        t.check(name + ": both boxes name the settings file with its folder", result.boxes == want,
                "%r\n     want %r" % (result.boxes, want))

    each_locale(t, "maker in 한", keeps_settings)


SCENARIOS = [scenario_same_checker_same_outcome, scenario_checker_in_a_korean_folder,
             scenario_same_data_from_every_maker, scenario_names_outside_code_page_932_stored,
             scenario_maker_in_a_korean_folder]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--checker", "--driver", "--build", "--windows-build", "--maker"):
        ap.add_argument(option, required=True)
    ap.add_argument("-k", dest="only", help="run only scenarios whose name contains this")
    args = ap.parse_args()
    return run_scenarios(SCENARIOS, Session(args), args.only)


if __name__ == "__main__":
    sys.exit(main())
