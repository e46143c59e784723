#!/usr/bin/env python3
"""Refuses a translation's resource script that lacks a string of the module's string table.

The module registers a string its translation lacks from its own table, so a gap never empties
the menu, but the customer then reads English in a translated menu. The build stops instead,
naming the script and each string it lacks or leaves empty.

Usage: check_translation_complete.py SCRIPT.rc   (exit 0 when nothing is missing)
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rc_strings  # noqa: E402

MODULE_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src",
                             "kvshellsearch", "resources", "kvshellsearch.rc")


def missing(script):
    """The names of the module's strings that the script lacks or leaves empty."""
    names = {number: name for name, number in rc_strings.identifiers().items()}
    own = rc_strings.strings(MODULE_SCRIPT)
    translated = rc_strings.strings(script)
    return [names[number] for number in sorted(own) if not translated.get(number)]


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        lacking = missing(argv[1])
    except OSError as error:
        print(f"{argv[1]}: cannot read: {error.strerror}", file=sys.stderr)
        return 1
    for name in lacking:
        print(f"{argv[1]}: lacks {name} (or leaves it empty); every string of the module's "
              f"table must be translated", file=sys.stderr)
    return 1 if lacking else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
