#!/usr/bin/env python3
"""Refuses a satellite's resource script whose code page does not match its language.

The resource compiler reads the script's strings in the code page of its `#pragma code_page`,
and the module writes them into the registry as ANSI text. A translation whose pragma does not
name its language's ANSI code page (a Russian text left at 1252, say) comes out as the wrong
letters or as '?'. Every LANGUAGE statement must follow a `#pragma code_page(N)` with that
language's ANSI code page.

Usage: check_rc_codepage.py SCRIPT.rc [STAMP]   (STAMP is written when the script is sound)
"""
import re
import sys

# The ANSI code page of each language, by its winnt.h name; sublanguages that differ follow.
ANSI_CODE_PAGES = {
    1250: "ALBANIAN BOSNIAN CROATIAN CZECH HUNGARIAN POLISH ROMANIAN SLOVAK SLOVENIAN",
    1251: "BELARUSIAN BULGARIAN KAZAK KYRGYZ MACEDONIAN MONGOLIAN RUSSIAN TATAR UKRAINIAN",
    1252: "AFRIKAANS BASQUE CATALAN DANISH DUTCH ENGLISH FAEROESE FINNISH FRENCH GALICIAN GERMAN "
          "ICELANDIC INDONESIAN IRISH ITALIAN MALAY NORWEGIAN PORTUGUESE SPANISH SWAHILI SWEDISH "
          "WELSH",
    1253: "GREEK",
    1254: "AZERI TURKISH",
    1255: "HEBREW",
    1256: "ARABIC FARSI PERSIAN URDU",
    1257: "ESTONIAN LATVIAN LITHUANIAN",
    1258: "VIETNAMESE",
    874: "THAI",
    932: "JAPANESE",
    936: "CHINESE",
    949: "KOREAN",
}
BY_LANGUAGE = {name: page for page, names in ANSI_CODE_PAGES.items() for name in names.split()}
BY_SUBLANGUAGE = {
    "SUBLANG_CHINESE_TRADITIONAL": 950, "SUBLANG_CHINESE_HONGKONG": 950,
    "SUBLANG_CHINESE_MACAU": 950,
    "SUBLANG_SERBIAN_CYRILLIC": 1251, "SUBLANG_SERBIAN_LATIN": 1250,
    "SUBLANG_BOSNIAN_BOSNIA_HERZEGOVINA_CYRILLIC": 1251, "SUBLANG_AZERI_CYRILLIC": 1251,
    "SUBLANG_UZBEK_CYRILLIC": 1251, "SUBLANG_UZBEK_LATIN": 1254,
}
STATEMENT = re.compile(
    r"^\s*(?:#\s*pragma\s+code_page\s*\(\s*(?P<page>\w+)\s*\)"
    r"|LANGUAGE\s+LANG_(?P<lang>\w+)\s*,\s*(?P<sub>\w+))", re.MULTILINE)


def problems(text):
    found = []
    page = None
    languages = 0
    for match in STATEMENT.finditer(text):
        if match.group("page"):
            page = match.group("page")
            continue
        languages += 1
        language, sub = match.group("lang"), match.group("sub")
        expected = BY_SUBLANGUAGE.get(sub, BY_LANGUAGE.get(language))
        line = text.count("\n", 0, match.start()) + 1
        if expected is None:
            found.append(f"line {line}: LANG_{language} has no known ANSI code page")
        elif page is None:
            found.append(f"line {line}: LANG_{language} needs '#pragma code_page({expected})' "
                         f"before it")
        elif page != str(expected):
            found.append(f"line {line}: LANG_{language} is written in code page {expected}, "
                         f"but the script says code_page({page})")
    if languages == 0:
        found.append("no LANGUAGE statement")
    return found


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="latin-1") as f:
            text = f.read()
    except OSError as error:
        print(f"{argv[1]}: cannot read: {error.strerror}", file=sys.stderr)
        return 1
    found = problems(text)
    for problem in found:
        print(f"{argv[1]}: {problem}", file=sys.stderr)
    if found:
        return 1
    if len(argv) == 3:
        with open(argv[2], "w") as f:
            f.write("code page checked\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
