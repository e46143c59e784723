#!/usr/bin/env python3
"""Checks the stack clean-up of the shipped 32-bit DLL's exports and entry point. No 64-bit test
can see a wrong calling convention in the 32-bit DLL: a stdcall function with three arguments
must return with `ret $0xc`, one without arguments with a plain `ret`.

Usage: check_calling_convention.py DLL
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from pe_footprint import PeFile  # noqa: E402

EXPECTED_RETURNS = {
    "entry": "ret $0xc",  # DllMain(instance, reason, reserved)
    "DllGetClassObject": "ret $0xc",
    "DllCanUnloadNow": "ret",
    "DllRegisterServer": "ret",
    "DllUnregisterServer": "ret",
}


def first_return(dll, image_base, rva):
    """The first return instruction at or after the function's start."""
    start = image_base + rva
    listing = subprocess.run(
        ["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", f"--start-address={start}",
         f"--stop-address={start + 4096}", dll], capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        match = re.match(r"\s*[0-9a-f]+:\s+(ret[a-z]*)\s*(\S*)", line)
        if match:
            return " ".join(filter(None, ("ret", match.group(2))))
    return None


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    dll = argv[1]
    pe = PeFile(dll)
    if pe.is64:
        print(f"{dll} is not a 32-bit image", file=sys.stderr)
        return 1
    pe_offset = int.from_bytes(pe.data[0x3C:0x40], "little")
    image_base = int.from_bytes(pe.data[pe_offset + 52:pe_offset + 56], "little")  # PE32 ImageBase
    addresses = {name: address for name, _, address in pe.exports()}
    addresses["entry"] = pe.entry
    failures = 0
    for name, expected in EXPECTED_RETURNS.items():
        if name not in addresses:
            print(f"FAIL: {name} is not exported")
            failures += 1
            continue
        found = first_return(dll, image_base, addresses[name])
        status = "ok" if found == expected else "FAIL"
        failures += status != "ok"
        print(f"{status}: {name} returns with '{found}', expects '{expected}'")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
