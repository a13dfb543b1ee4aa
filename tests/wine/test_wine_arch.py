#!/usr/bin/env python3
"""The probe that picks the Windows build for the Wine tests: it answers yes or no by running
32-bit code, never raises, and the variable only the tests read takes the x86-64 path.

usage: test_wine_arch.py
Prints one line per check and a closing "N passed, M failed"; exits non-zero on failure.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402
import wine_arch  # noqa: E402

# The same program as the probe's, but it exits with status 1 (mov ebx, 1): never a yes.
EXIT_1 = bytes([0xB8, 1, 0, 0, 0, 0xBB, 1, 0, 0, 0, 0xCD, 0x80])


def main():
    t = Checks()
    answer = wine_arch.runs_32bit_code()
    t.check("the probe answers yes or no", answer in (True, False), repr(answer))
    print("     this machine %s 32-bit code" % ("runs" if answer else "runs no"))
    t.check("a program that exits with 1 is no yes", wine_arch.runs_32bit_code(wine_arch.tiny_32bit_program(EXIT_1))
            is False)
    t.check("bytes that are no program: no, not an exception", wine_arch.runs_32bit_code(b"not a program") is False)
    t.check("an empty file: no", wine_arch.runs_32bit_code(b"") is False)

    forced = {wine_arch.FORCE_ENV: "1"}
    for runs in (True, False):
        arch, why = wine_arch.choose({}, probe=lambda: runs)
        want = ("i686", "this machine runs 32-bit code") if runs else ("x86-64", "this machine runs no 32-bit code")
        t.check("%s 32-bit code: %s" % ("runs" if runs else "runs no", want[0]), (arch, why) == want, (arch, why))
        arch, why = wine_arch.choose(forced, probe=lambda: runs)
        t.check("forced, %s 32-bit code: x86-64, and it says why" % ("runs" if runs else "runs no"),
                arch == "x86-64" and wine_arch.FORCE_ENV in why and ";" not in why, (arch, why))
    arch, _ = wine_arch.choose({wine_arch.FORCE_ENV: "0"}, probe=lambda: True)
    t.check("only the value 1 forces it", arch == "i686", arch)
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
