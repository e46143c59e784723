#!/usr/bin/env python3
"""Rebrands a built kvshellsearch.dll (32- or 64-bit): writes another player name into the
module's product-name slot, or blanks the slot so that the module takes the name from the
environment variable named after the host's executable file name.

Usage:
  rebrand.py IN.dll OUT.dll NAME
  rebrand.py IN.dll OUT.dll --blank

The name must fit the 260-byte slot with its terminating zero (at most 259 bytes), use only
characters of the Windows ANSI code page 1252, and be usable as a registry key name (no
backslash, no control characters). The input is never written; the output gets a fresh PE
checksum. Every refusal is one line on standard error and a non-zero exit.
"""
import os
import struct
import sys

SLOT_SECTION = b".kvname"
SLOT_SIZE = 260
CODE_PAGE = "cp1252"
IMAGE_SCN_MEM_WRITE = 0x80000000


class Refusal(Exception):
    pass


def sections(image):
    """(name, characteristics, raw offset, raw size) of every section."""
    if image[:2] != b"MZ" or len(image) < 0x40:
        raise Refusal("not a PE file")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise Refusal("not a PE file")
    count, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    result = []
    for i in range(count):
        entry = table + 40 * i
        name = image[entry:entry + 8].rstrip(b"\0")
        raw_size, raw_offset = struct.unpack_from("<II", image, entry + 16)
        characteristics = struct.unpack_from("<I", image, entry + 36)[0]
        result.append((name, characteristics, raw_offset, raw_size))
    return result


def refuse_signed(image):
    """A signed file would carry a broken signature once patched: rebrand first, then sign."""
    sections(image)  # a PE file at all
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe + 24
    is64 = struct.unpack_from("<H", image, optional)[0] == 0x20B
    security = optional + (112 if is64 else 96) + 8 * 4  # the certificate table's directory
    if struct.unpack_from("<II", image, security) != (0, 0):
        raise Refusal("the input is signed; rebrand before signing (build, rebrand, sign, checksum)")


def find_slot(image):
    """Offset of the one product-name slot: a writable section of its own holding a text of at
    most 259 bytes followed by zeros to the slot's end."""
    candidates = [(offset, size) for name, flags, offset, size in sections(image)
                  if name == SLOT_SECTION and flags & IMAGE_SCN_MEM_WRITE]
    if not candidates:
        raise Refusal("no product-name slot found (no writable .kvname section)")
    if len(candidates) > 1:
        raise Refusal(f"{len(candidates)} candidate product-name slots; refusing to guess")
    offset, size = candidates[0]
    if size < SLOT_SIZE or offset + SLOT_SIZE > len(image):
        raise Refusal("the product-name slot is smaller than 260 bytes")
    slot = image[offset:offset + SLOT_SIZE]
    text = slot.split(b"\0", 1)[0]
    if len(text) >= SLOT_SIZE or any(slot[len(text):]):
        raise Refusal("the product-name slot does not hold a terminated name followed by zeros")
    return offset


def encode_name(name):
    try:
        encoded = name.encode(CODE_PAGE)
    except UnicodeEncodeError:
        raise Refusal(f"the name has characters outside the ANSI code page ({CODE_PAGE})")
    if not encoded:
        raise Refusal("the name is empty; use --blank to leave the slot blank")
    if len(encoded) >= SLOT_SIZE:
        raise Refusal(f"the name takes {len(encoded)} bytes; the slot holds at most {SLOT_SIZE - 1}")
    if b"\\" in encoded or any(byte < 0x20 or byte == 0x7F for byte in encoded):
        raise Refusal("the name has a backslash or a control character; it names a registry key")
    return encoded


def pe_checksum(image):
    """The checksum Windows computes for an image: 16-bit one's-complement-style sum of the file,
    the checksum field itself counted as zero, plus the file's length."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    field = pe + 24 + 64
    data = bytearray(image)
    data[field:field + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", bytes(data)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def rebrand(image, name_bytes):
    refuse_signed(image)
    offset = find_slot(image)
    patched = bytearray(image)
    patched[offset:offset + SLOT_SIZE] = name_bytes.ljust(SLOT_SIZE, b"\0")
    pe = struct.unpack_from("<I", patched, 0x3C)[0]
    struct.pack_into("<I", patched, pe + 24 + 64, pe_checksum(bytes(patched)))
    return bytes(patched)


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    source, target, name = argv[1], argv[2], argv[3]
    try:
        name_bytes = b"" if name == "--blank" else encode_name(name)
        if os.path.exists(target) and os.path.samefile(source, target):
            raise Refusal("the output would overwrite the input")
        try:
            with open(source, "rb") as f:
                image = f.read()
        except OSError as error:
            raise Refusal(f"cannot read {source}: {error.strerror}")
        patched = rebrand(image, name_bytes)
        with open(target, "wb") as f:
            f.write(patched)
    except Refusal as refusal:
        print(f"rebrand: {refusal}", file=sys.stderr)
        return 1
    except struct.error:
        print("rebrand: not a PE file", file=sys.stderr)
        return 1
    label = "blank (name from the environment)" if not name_bytes else f'"{name}"'
    print(f"{target}: product name {label}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
