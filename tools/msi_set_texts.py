#!/usr/bin/env python3
"""Puts a translation's texts into a package that wixl built with placeholders, in the
translation's own ANSI code page. wixl 0.101 (libmsi) crashes on a text beyond Latin-1, such as
Russian, so a translated package is built with the placeholders KvShellSearchText1, ...2 and ...3
(strings 1 to 3), and this tool sets the database's code page (_ForceCodepage) and replaces each
placeholder, in the CustomAction and Registry tables, by the string of the resource script.

Windows Installer's SQL has no escape for a single quote inside a text: a string holding the
ASCII apostrophe (') is refused, with a hint to use the typographic one.

Usage: msi_set_texts.py PACKAGE.msi SCRIPT.rc
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rc_strings  # noqa: E402

PLACEHOLDER = "KvShellSearchText{}"


def msibuild(package, *arguments):
    subprocess.run(["msibuild", package, *arguments], check=True)


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    package, script = argv[1], argv[2]
    code_page = rc_strings.code_page(script)
    texts = rc_strings.strings(script)
    for number in (1, 2, 3):
        text = texts.get(number, "")
        if "'" in text:
            print(f"{script}: string {number} holds an ASCII apostrophe ('), which a package "
                  "cannot take; write the typographic one (\\222 in code page 1252)",
                  file=sys.stderr)
            return 1
        try:
            text.encode(f"cp{code_page}")
        except UnicodeEncodeError:
            print(f"{script}: string {number} has letters code page {code_page} lacks",
                  file=sys.stderr)
            return 1
    with tempfile.TemporaryDirectory() as scratch:
        force = os.path.join(scratch, "_ForceCodepage.idt")
        with open(force, "w", newline="") as f:
            f.write(f"\r\n\r\n{code_page}\t_ForceCodepage\r\n")
        msibuild(package, "-i", force)
    for number in (1, 2, 3):
        placeholder = PLACEHOLDER.format(number)
        text = texts.get(number, "")
        msibuild(package, "-q",
                 f"UPDATE `CustomAction` SET `Target` = '{text}' WHERE `Target` = '{placeholder}'")
        msibuild(package, "-q",
                 f"UPDATE `Registry` SET `Value` = '{text}' WHERE `Value` = '{placeholder}'")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
