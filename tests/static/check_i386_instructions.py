#!/usr/bin/env python3
"""Fails on any instruction in a 32-bit DLL's code that the i386 does not have. Windows 95 and
98 run on a 386DX, and Explorer loads the module into its own process: one CMOV, XADD or SSE
instruction there is an invalid-opcode fault that takes the shell down. Wine on a modern CPU
cannot show that, so the shipped bytes are checked instead.

Usage: check_i386_instructions.py DLL
"""
import re
import subprocess
import sys

# Mnemonics (as objdump prints them, AT&T syntax) that came after the i386, with where from.
NEWER_MNEMONICS = [
    (r"cmov\w*", "CMOV (Pentium Pro)"),
    (r"fcmov\w*", "FCMOV (Pentium Pro)"),
    (r"f(u)?comip?", "FCOMI/FUCOMI (Pentium Pro)"),
    (r"xadd\w*", "XADD (486)"),
    (r"cmpxchg(8b|16b)?\w*", "CMPXCHG (486) / CMPXCHG8B (Pentium)"),
    (r"bswap\w*", "BSWAP (486)"),
    (r"invd|wbinvd|invlpg", "cache and TLB control (486)"),
    (r"rdtscp?|rdpmc|rdmsr|wrmsr|rsm", "RDTSC and model-specific registers (Pentium)"),
    (r"cpuid", "CPUID (late 486, Pentium)"),
    (r"nop[wl]", "long NOP, 0F 1F (Pentium Pro)"),
    (r"ud2\w*", "UD2 (Pentium Pro)"),
    (r"sysenter|sysexit|syscall|sysret", "fast system calls (Pentium II)"),
    (r"emms|femms", "MMX state (Pentium MMX)"),
    (r"prefetch\w*|[lms]fence|clflush\w*|movnti", "cache hints and fences (SSE, SSE2)"),
    (r"fisttp\w*", "FISTTP (SSE3)"),
    (r"popcnt\w*|lzcnt\w*|tzcnt\w*|movbe\w*|crc32\w*", "POPCNT, LZCNT, TZCNT, MOVBE, CRC32"),
]
NEWER_REGISTERS = re.compile(r"%(x|y|z)?mm\d+")

INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(?:(?:lock|rep\w*|data16|addr16|notrack)\s+)*(\S+)\s*(.*)$")


def disassemble(dll):
    return subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", dll],
                          capture_output=True, text=True, check=True).stdout


def newer_instructions(listing):
    """(address, instruction, reason) for every instruction the i386 lacks, and the count of
    instructions read."""
    found = []
    count = 0
    patterns = [(re.compile(f"^(?:{pattern})$"), reason) for pattern, reason in NEWER_MNEMONICS]
    for line in listing.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        count += 1
        address, mnemonic, operands = match.groups()
        reason = next((r for p, r in patterns if p.match(mnemonic)), None)
        if reason is None and NEWER_REGISTERS.search(operands):
            reason = "MMX or SSE register"
        if reason is not None:
            found.append((address, f"{mnemonic} {operands}".strip(), reason))
    return found, count


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    listing = disassemble(argv[1])
    if "file format pei-i386" not in listing:
        print(f"FAIL: {argv[1]} is not a PE32 image for i386")
        return 1
    found, count = newer_instructions(listing)
    if count == 0:
        print(f"FAIL: no code was disassembled from {argv[1]}")
        return 1
    for address, instruction, reason in found:
        print(f"FAIL: {address}: {instruction}  [{reason}]")
    print(f"{argv[1]}: {count} instructions, {len(found)} newer than the i386")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
