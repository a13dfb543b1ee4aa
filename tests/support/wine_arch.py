#!/usr/bin/env python3
"""Which Windows build the Wine tests run here: the shipped i686 one, or the x86-64 one.

Some machines run no 32-bit x86 code at all (their kernel has no 32-bit user code segment):
there every i686 program fails with "Exec format error", Wine's 32-bit loader and its WoW64
mode included, while wine64 in a 64-bit prefix works. So the answer is found by running
32-bit code: a 32-bit Linux program of 84 bytes, written here, that only exits with status 0.

The test command asks once (`python3 tests/support/wine_arch.py` prints "<arch>\\t<why>") and
hands the answer to every Wine test in VX_WINE_ARCH and VX_WINE_WHY. VX_TEST_WINE_X64=1, read
by the tests alone, takes the x86-64 path on a machine that does run 32-bit code.

usage: wine_arch.py        prints "i686" or "x86-64", a tab and why
"""
import os
import struct
import subprocess
import sys
import tempfile

FORCE_ENV = "VX_TEST_WINE_X64"

# _start: mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
_EXIT_CODE = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])


def tiny_32bit_program(code=_EXIT_CODE):
    """An ELF32 i386 executable: one header, one loadable segment, the code."""
    base, ehsize, phsize = 0x08048000, 52, 32
    header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0, ehsize, phsize, 1,
                          0, 0, 0)
    size = ehsize + phsize + len(code)
    segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return header + segment + code


def runs_32bit_code(program=None, timeout=20):
    """True when `program` (by default the tiny exit program) runs and exits with status 0;
    False when the kernel refuses it or anything else goes wrong. Never raises."""
    try:
        with tempfile.TemporaryDirectory(prefix="vx32-") as folder:
            path = os.path.join(folder, "probe")
            with open(path, "wb") as f:
                f.write(tiny_32bit_program() if program is None else program)
            os.chmod(path, 0o755)
            return subprocess.run([path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode == 0
    except Exception:  # noqa: BLE001 - "Exec format error", a time-out, a full disk: all mean no
        return False


def choose(environ=None, probe=runs_32bit_code):
    """(arch, why): the build the Wine tests run on this machine, and the reason in words."""
    environ = os.environ if environ is None else environ
    runs = probe()
    if environ.get(FORCE_ENV) == "1":
        return "x86-64", "%s=1 asks for it, though this machine %s 32-bit code" % (
            FORCE_ENV, "runs" if runs else "runs no")
    if runs:
        return "i686", "this machine runs 32-bit code"
    return "x86-64", "this machine runs no 32-bit code"


if __name__ == "__main__":
    print("%s\t%s" % choose())
    sys.exit(0)
