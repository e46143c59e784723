#!/usr/bin/env python3
"""Checks a built 32-bit setup program, and the plugin DLLs it carries, for the machines our
module runs on: every import must be one Windows 95 as first released has (a missing DLL or
function stops the file from loading at all), and no instruction may be newer than the floor:
the i386 by default, on which Windows 95 and 98 run. An NSIS installer built with Debian's
stubs holds CMOV and so needs at least a Pentium Pro: check it with --floor pentiumpro, and
say so wherever you name the machines it runs on. Plugins are checked as you give them (from
NSIS's Plugins\\x86-ansi directory): the setup program unpacks them into the same process.
The lists and rules are those of our own static checks (tests/static).

Usage: check_setup_fitness.py [--floor i386|pentiumpro] SETUP.exe [PLUGIN.dll ...]
Exit: 0 when every file passes, 1 when one does not, 2 on wrong usage.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "static"))
from check_i386_instructions import check as check_instructions  # noqa: E402
from check_win95_imports import main as check_imports  # noqa: E402


def is_pe32_for_i386(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    if len(head) < 64 or head[:2] != b"MZ":
        return False
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return head[pe:pe + 6] == b"PE\0\0\x4c\x01"


def main(argv):
    if argv[1:] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    floor = "i386"
    if len(argv) > 2 and argv[1] == "--floor":
        floor = argv[2]
        argv = argv[:1] + argv[3:]
    if floor not in ("i386", "pentiumpro") or len(argv) < 2 or argv[1].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 2
    fit = True
    for path in argv[1:]:
        if not os.path.isfile(path):
            print(f"FAIL: {path}: no such file")
            fit = False
            continue
        if not is_pe32_for_i386(path):
            print(f"FAIL: {path} is not a PE32 image for i386")
            fit = False
            continue
        fit = check_imports([path]) == 0 and fit
        fit = check_instructions(path, floor) and fit
    cpu = {"i386": "the i386", "pentiumpro": "the Pentium Pro"}[floor]
    print("fit" if fit else "NOT fit", f"for Windows 95 on {cpu} and later")
    return 0 if fit else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
