#!/usr/bin/env python3
"""Fails on any instruction in a 32-bit DLL's code that the i386 does not have. Windows 95 and
98 run on a 386DX, and Explorer loads the module into its own process: one CMOV, XADD or SSE
instruction there is an invalid-opcode fault that takes the shell down. Wine on a modern CPU
cannot show that, so the shipped bytes are checked instead.

A program whose floor is known to be higher (an installer built on Debian's NSIS stubs, which
hold CMOV) is checked against that floor with --floor pentiumpro: nothing newer than the
Pentium Pro may appear, and each instruction the i386 lacks is counted, not failed.

Usage: check_i386_instructions.py [--floor i386|pentiumpro] FILE
"""
import re
import subprocess
import sys

# Mnemonics (as objdump prints them, AT&T syntax) that came after the i386, with where from.
# The processors in order, and for each mnemonic (as objdump prints them, AT&T syntax) that came
# after the i386 the first that has it.
FLOORS = ["i386", "i486", "pentium", "pentiumpro", "later"]
NEWER_MNEMONICS = [
    (r"cmov\w*", "CMOV (Pentium Pro)", "pentiumpro"),
    (r"fcmov\w*", "FCMOV (Pentium Pro)", "pentiumpro"),
    (r"f(u)?comip?", "FCOMI/FUCOMI (Pentium Pro)", "pentiumpro"),
    (r"xadd\w*", "XADD (486)", "i486"),
    (r"cmpxchg\w?", "CMPXCHG (486)", "i486"),
    (r"cmpxchg8b\w*", "CMPXCHG8B (Pentium)", "pentium"),
    (r"cmpxchg16b\w*", "CMPXCHG16B (x86-64)", "later"),
    (r"bswap\w*", "BSWAP (486)", "i486"),
    (r"invd|wbinvd|invlpg", "cache and TLB control (486)", "i486"),
    (r"rdtsc|rdmsr|wrmsr|rsm", "RDTSC and model-specific registers (Pentium)", "pentium"),
    (r"rdpmc", "RDPMC (Pentium Pro)", "pentiumpro"),
    (r"rdtscp", "RDTSCP (later)", "later"),
    (r"cpuid", "CPUID (late 486, Pentium)", "pentium"),
    (r"nop[wl]", "long NOP, 0F 1F (Pentium Pro)", "pentiumpro"),
    (r"ud2\w*", "UD2 (Pentium Pro)", "pentiumpro"),
    (r"sysenter|sysexit|syscall|sysret", "fast system calls (Pentium II)", "later"),
    (r"emms|femms", "MMX state (Pentium MMX)", "later"),
    (r"prefetch\w*|[lms]fence|clflush\w*|movnti", "cache hints and fences (SSE, SSE2)", "later"),
    (r"fisttp\w*", "FISTTP (SSE3)", "later"),
    (r"popcnt\w*|lzcnt\w*|tzcnt\w*|movbe\w*|crc32\w*", "POPCNT, LZCNT, TZCNT, MOVBE, CRC32",
     "later"),
]
NEWER_REGISTERS = re.compile(r"%(x|y|z)?mm\d+")

INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(?:(?:lock|rep\w*|data16|addr16|notrack)\s+)*(\S+)\s*(.*)$")


def disassemble(dll):
    # What objdump cannot read (no PE32 image at all) gives no listing, which check() names.
    return subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", dll],
                          capture_output=True, text=True).stdout


def newer_instructions(listing):
    """(address, instruction, reason) for every instruction the i386 lacks, and the count of
    instructions read."""
    found = []
    count = 0
    patterns = [(re.compile(f"^(?:{pattern})$"), reason, floor)
                for pattern, reason, floor in NEWER_MNEMONICS]
    for line in listing.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        count += 1
        address, mnemonic, operands = match.groups()
        reason, floor = next(((r, f) for p, r, f in patterns if p.match(mnemonic)), (None, None))
        if reason is None and NEWER_REGISTERS.search(operands):
            reason, floor = "MMX or SSE register", "later"
        if reason is not None:
            found.append((address, f"{mnemonic} {operands}".strip(), reason, floor))
    return found, count


def check(path, floor="i386"):
    """Prints what PATH holds beyond FLOOR; True when nothing."""
    listing = disassemble(path)
    if "file format pei-i386" not in listing:
        print(f"FAIL: {path} is not a PE32 image for i386")
        return False
    found, count = newer_instructions(listing)
    if count == 0:
        print(f"FAIL: no code was disassembled from {path}")
        return False
    beyond = [f for f in found if FLOORS.index(f[3]) > FLOORS.index(floor)]
    for address, instruction, reason, _ in beyond:
        print(f"FAIL: {address}: {instruction}  [{reason}]")
    if floor == "i386":
        print(f"{path}: {count} instructions, {len(found)} newer than the i386")
    else:
        print(f"{path}: {count} instructions, {len(found)} newer than the i386, "
              f"{len(beyond)} newer than the {floor} floor")
    return not beyond


def main(argv):
    floor = "i386"
    if len(argv) == 4 and argv[1] == "--floor" and argv[2] in ("i386", "pentiumpro"):
        floor = argv[2]
        argv = argv[:1] + argv[3:]
    if len(argv) != 2 or argv[1].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 0 if argv[1:] in (["-h"], ["--help"]) else 2
    return 0 if check(argv[1], floor) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
