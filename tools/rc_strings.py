#!/usr/bin/env python3
"""Prints the string table of one of our resource scripts (the module's or a satellite's), so
that the installer packages write the very texts the DLLs carry instead of copies of them.

Usage: rc_strings.py SCRIPT.rc ID        prints string ID, in UTF-8, decoded from the script's
                                         `#pragma code_page` (1252 without one)
       rc_strings.py --c SCRIPT.rc ID    prints it as a C string literal of the bytes the DLL
                                         carries (its code page), every byte past ASCII escaped
"""
import os
import re
import sys

ENTRY = re.compile(r'^\s*(IDS_\w+)\s+"((?:[^"\\]|\\.|"")*)"', re.MULTILINE)
PRAGMA = re.compile(r"^\s*#\s*pragma\s+code_page\s*\(\s*(\d+)\s*\)", re.MULTILINE)
DEFINE = re.compile(r"^\s*#define\s+(IDS_\w+)\s+(\d+)", re.MULTILINE)
ESCAPES = {"n": b"\n", "t": b"\t", "\\": b"\\", '"': b'"', "a": b"\a", "r": b"\r"}


def identifiers():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "kvshellsearch",
                        "resources", "resource_ids.h")
    with open(path, encoding="ascii") as f:
        return {name: int(number) for name, number in DEFINE.findall(f.read())}


def unescape(literal):
    """The bytes of a resource-compiler string literal: octal and C escapes, "" for a quote."""
    out = bytearray()
    i = 0
    while i < len(literal):
        c = literal[i]
        if c == '"' and literal[i + 1:i + 2] == '"':
            out += b'"'
            i += 2
        elif c == "\\":
            octal = re.match(r"[0-7]{1,3}", literal[i + 1:])
            if octal:
                out.append(int(octal.group(), 8))
                i += 1 + len(octal.group())
            else:
                out += ESCAPES.get(literal[i + 1], literal[i + 1].encode("latin-1"))
                i += 2
        else:
            out += c.encode("latin-1")
            i += 1
    return bytes(out)


def code_page(script):
    """The number of the script's `#pragma code_page`, 1252 without one."""
    with open(script, encoding="latin-1") as f:
        pragma = PRAGMA.search(f.read())
    return int(pragma.group(1)) if pragma else 1252


def strings(script):
    with open(script, encoding="latin-1") as f:
        text = f.read()
    ids = identifiers()
    encoding = f"cp{code_page(script)}"
    return {ids[name]: unescape(literal).decode(encoding) for name, literal in ENTRY.findall(text)}


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    as_c = argv[1:2] == ["--c"]
    if as_c:
        argv = argv[:1] + argv[2:]
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        text = strings(argv[1])[int(argv[2])]
        if as_c:
            # Octal escapes have a fixed length: a digit behind one never joins it.
            data = text.encode(f"cp{code_page(argv[1])}")
            sys.stdout.write('"' + "".join(chr(b) if 32 <= b < 127 and chr(b) not in '"\\?'
                                           else f"\\{b:03o}" for b in data) + '"')
        else:
            sys.stdout.buffer.write(text.encode("utf-8"))
    except (OSError, KeyError, ValueError, UnicodeDecodeError) as error:
        print(f"rc_strings: {argv[1]}: no string {argv[2]} ({error})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
