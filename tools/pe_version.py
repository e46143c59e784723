#!/usr/bin/env python3
"""Reads, or changes, the file version in a PE file's version resource. Standard library only.

Usage:
  pe_version.py read DLL                  prints "VERSION LANGUAGE", e.g. "1.0.0.0 1033": what a
                                          Windows Installer File row needs for a versioned file
  pe_version.py set IN.dll OUT.dll A.B.C.D
                                          writes a copy whose fixed file and product versions
                                          are A.B.C.D (for testing upgrades between versions)
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rebrand import pe_checksum  # noqa: E402

FIXED_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
TRANSLATION = "Translation\0".encode("utf-16-le")


def fixed_info(image):
    """Offset of VS_FIXEDFILEINFO; exactly one must be there."""
    at = image.find(FIXED_INFO_SIGNATURE)
    if at < 0 or image.find(FIXED_INFO_SIGNATURE, at + 1) >= 0:
        raise ValueError("no single version resource")
    return at


def read(image):
    at = fixed_info(image)
    high, low = struct.unpack_from("<II", image, at + 8)
    version = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
    # VarFileInfo\Translation: language and code page, after padding to 32 bits.
    name = image.find(TRANSLATION, at)
    if name < 0:
        raise ValueError("the version resource has no translation")
    value = (name + len(TRANSLATION) + 3) & ~3
    language = struct.unpack_from("<H", image, value)[0]
    return version, language


def set_version(image, version):
    parts = [int(p) for p in version.split(".")]
    if len(parts) != 4 or not all(0 <= p <= 0xFFFF for p in parts):
        raise ValueError(f"not a version A.B.C.D: {version}")
    patched = bytearray(image)
    at = fixed_info(image)
    high, low = (parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]
    struct.pack_into("<IIII", patched, at + 8, high, low, high, low)  # file, then product
    pe = struct.unpack_from("<I", patched, 0x3C)[0]
    struct.pack_into("<I", patched, pe + 24 + 64, pe_checksum(bytes(patched)))
    return bytes(patched)


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    try:
        if len(argv) == 3 and argv[1] == "read":
            with open(argv[2], "rb") as f:
                print(*read(f.read()))
            return 0
        if len(argv) == 5 and argv[1] == "set":
            with open(argv[2], "rb") as f:
                patched = set_version(f.read(), argv[4])
            with open(argv[3], "wb") as f:
                f.write(patched)
            return 0
    except (OSError, ValueError) as error:
        print(f"pe_version: {error}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
