#!/usr/bin/env python3
"""Static checks of the built checker executable, read straight from its PE file.

The checker must run on a bare Windows installation, so it may import from KERNEL32.dll
and USER32.dll only; it must stay within its size goal without a packer, its manifest
included; and its resources must hold the dialog template and the icon group the dialog
and the shell use. The PE file is read by tests/support/pe_image.py.

usage: test_checker_image.py CHECKER_EXE [i686 | x86-64]
The shipped checker is the i686 one (the default); the x86-64 build of the same sources, which
the Wine tests run on machines without 32-bit code, must pass the same checks.
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402
from pe_image import (ALLOWED_DLLS, LANG_JAPANESE, RT_DIALOG, RT_GROUP_ICON, RT_ICON, SIZE_GOAL,  # noqa: E402
                      Pe, manifest_checks, parse_dialog)

WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
WS_CHILD, WS_GROUP, WS_TABSTOP = 0x40000000, 0x00020000, 0x00010000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFOREGROUND, DS_CENTER = 0x80, 0x200, 0x800
SS_CENTER, BS_DEFPUSHBUTTON = 0x1, 0x1


def main():
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["i686"], ["x86-64"]):
        print(__doc__)
        return 2
    arch = sys.argv[2] if len(sys.argv) == 3 else "i686"
    data = open(sys.argv[1], "rb").read()
    t = Checks()
    pe = Pe(data)

    if arch == "i686":
        t.check("size at most %d bytes" % SIZE_GOAL, len(data) <= SIZE_GOAL, "(%d bytes)" % len(data))
    else:
        # 64-bit code and its wider tables are larger; only the shipped checker has the goal.
        t.skip("size at most %d bytes" % SIZE_GOAL, "the size goal is the shipped i686 checker's; the %s build "
               "of the same sources has %d bytes" % (arch, len(data)))
    machine, magic = {"i686": (0x14C, 0x10B), "x86-64": (0x8664, 0x20B)}[arch]
    t.check("%s image" % arch, pe.machine == machine and pe.magic == magic, "(machine 0x%x)" % pe.machine)
    t.check("window subsystem", pe.subsystem == 2, "(subsystem %d)" % pe.subsystem)
    names = [s[0] for s in pe.sections]
    t.check("no packer sections", not any(n.upper().startswith("UPX") for n in names), str(names))

    imports = pe.imports()
    dlls = {dll.upper() for dll in imports}
    t.check("imports only KERNEL32.dll and USER32.dll", dlls <= ALLOWED_DLLS and dlls,
            "(imports %s)" % sorted(imports))
    print("     imports: " + "; ".join("%s: %s" % (d, ", ".join(f)) for d, f in sorted(imports.items())))

    resources = pe.resources()
    dialogs = {k: v for k, v in resources.items() if k[0] == RT_DIALOG}
    t.check("one dialog, template 102 in Japanese", list(dialogs) == [(RT_DIALOG, 102, LANG_JAPANESE)],
            str(list(dialogs)))
    if (RT_DIALOG, 102, LANG_JAPANESE) in dialogs:
        d = parse_dialog(dialogs[(RT_DIALOG, 102, LANG_JAPANESE)])
        wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND
        t.check("dialog style", d["style"] & wanted == wanted and not d["style"] & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
                "(0x%08x)" % d["style"])
        t.check("dialog size 183 x 79", d["rect"][2:] == (183, 79), str(d["rect"]))
        t.check("dialog caption", d["caption"] == "ファイルチェッカー", repr(d["caption"]))
        t.check("dialog font", d["font"] == ("ＭＳ Ｐゴシック", 9), repr(d["font"]))
        expected = [
            (1004, 0x82, "ファイルをチェックしています.", (6, 14, 170, 8), SS_CENTER | WS_GROUP),
            (1000, 0x82, "しばらくお待ちください...", (6, 29, 170, 8), SS_CENTER | WS_GROUP),
            (1001, 0x82, "", (6, 42, 170, 8), SS_CENTER | WS_GROUP),
            (1003, 0x80, "中止", (69, 58, 42, 14), BS_DEFPUSHBUTTON | WS_TABSTOP),
        ]
        got = d["controls"]
        t.check("four controls in template order", [c["id"] for c in got] == [e[0] for e in expected],
                str([c["id"] for c in got]))
        for (cid, klass, text, rect, style), c in zip(expected, got):
            ok = (c["class"] == klass and c["text"] == text and c["rect"] == rect and
                  c["style"] & (style | WS_CHILD | WS_VISIBLE) == style | WS_CHILD | WS_VISIBLE and
                  (c["style"] & WS_TABSTOP) == (style & WS_TABSTOP))
            t.check("control %d" % cid, ok, repr(c))

    for what, ok, detail in manifest_checks(resources):
        t.check(what, ok, repr(detail))

    groups = {k: v for k, v in resources.items() if k[0] == RT_GROUP_ICON}
    t.check("icon group MAIN", [k[1] for k in groups] == ["MAIN"], str(list(groups)))
    for key, group in groups.items():
        _, _, count = struct.unpack_from("<HHH", group, 0)
        sizes = []
        for i in range(count):
            w, h, colours, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = next((v for k, v in resources.items() if k[0] == RT_ICON and k[1] == icon_id), b"")
            header_bits = struct.unpack_from("<H", image, 14)[0] if len(image) >= 16 else 0
            sizes.append((w, h, colours, header_bits))
        t.check("icons 16 x 16 and 32 x 32 in 16 colours", sorted(sizes) == [(16, 16, 16, 4), (32, 32, 16, 4)],
                str(sizes))

    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
