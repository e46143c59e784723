#!/usr/bin/env python3
"""Reads a PE file's footprint: file size, size without resources, imported DLLs, and the
addresses of its exports and entry point. Standard library only.

Usage:
  pe_footprint.py report DLL...           one line per file
  pe_footprint.py check DLL MAX_TOTAL MAX_WITHOUT_RESOURCES
                                          exit 1 when the file breaks either budget (bytes)
  pe_footprint.py entries DLL             "name rva" per export, and "entry rva"
"""
import os
import struct
import sys


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.path = path
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: not a PE file")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.is64 = magic == 0x20B
        self.entry = struct.unpack_from("<I", data, optional + 16)[0]
        directories = optional + (112 if self.is64 else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vsize, vaddr, rsize, rptr))

    def offset(self, rva):
        for _, vsize, vaddr, rsize, rptr in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return rptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} is in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def resource_bytes(self):
        return sum(rsize for name, _, _, rsize, _ in self.sections if name == ".rsrc")

    def imports(self):
        rva, size = self.directories[1]
        names = []
        at = self.offset(rva) if rva else None
        while at is not None:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                break
            names.append(self.text(name_rva))
            at += 20
        return names

    def exports(self):
        rva, _ = self.directories[0]
        if not rva:
            return []
        at = self.offset(rva)
        base, functions, names, functions_rva, names_rva, ordinals_rva = struct.unpack_from(
            "<IIIIII", self.data, at + 16)
        result = []
        for i in range(names):
            name = self.text(struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0])
            index = struct.unpack_from("<H", self.data, self.offset(ordinals_rva) + 2 * i)[0]
            address = struct.unpack_from("<I", self.data, self.offset(functions_rva) + 4 * index)[0]
            result.append((name, base + index, address))
        return result


def report(paths):
    for path in paths:
        pe = PeFile(path)
        total = os.path.getsize(path)
        print(f"{os.path.basename(path)} ({'PE32+' if pe.is64 else 'PE32'}): {total} bytes, "
              f"{total - pe.resource_bytes()} without resources, "
              f"imports {', '.join(sorted(n.lower() for n in pe.imports()))}")
    return 0


def check(path, max_total, max_without_resources):
    pe = PeFile(path)
    total = os.path.getsize(path)
    without = total - pe.resource_bytes()
    print(f"{path}: {total} bytes (budget {max_total}), {without} without resources "
          f"(budget {max_without_resources})")
    return 0 if total <= max_total and without <= max_without_resources else 1


def entries(path):
    pe = PeFile(path)
    for name, _, address in pe.exports():
        print(f"{name} {address:#x}")
    print(f"entry {pe.entry:#x}")
    return 0


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    try:
        if len(argv) >= 3 and argv[1] == "report":
            return report(argv[2:])
        if len(argv) == 5 and argv[1] == "check":
            return check(argv[2], int(argv[3]), int(argv[4]))
        if len(argv) == 3 and argv[1] == "entries":
            return entries(argv[2])
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
