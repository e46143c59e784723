#!/usr/bin/env python3
"""What the guides name must be there, so that a reader who follows them succeeds:
  - every repository path in a code span of README.md and docs/*.md exists (build outputs under
    build/ and dist/, and paths with a placeholder such as LANG or VERSION, are not checked);
  - every WiX identifier and preprocessor variable that docs/installing.md names (KvShellSearch...,
    KVSHELLSEARCH..., KVPLAYERDIR, [#...]) exists in the fragment or its includes;
  - every option of a scripts/*.sh named in a guide (`scripts/x.sh --option`) is one the script
    accepts;
  - a block announced as <!-- verbatim: PATH --> is that file, byte for byte.

Usage: check_docs.py [ROOT]   (default: the repository this script is in)
"""
import glob
import os
import re
import sys

TOP_LEVEL = ("src/", "tests/", "tools/", "scripts/", "docs/", "installer/", "translations/",
             "cmake/", "bench/", ".ci/")
PLACEHOLDER = re.compile(r"[*<>]|\.\.\.|\b(LANG|VERSION|ARCH|NAME|DIR|OUT_DIR|FILE)\b")
WIX_NAME = re.compile(r"\b(KvShellSearch[A-Za-z0-9_.]*[A-Za-z0-9_]|KVSHELLSEARCH[A-Z0-9_]*|KVPLAYERDIR)\b")
FILE_REFERENCE = re.compile(r"\[#([A-Za-z0-9_.]+)\]")
SCRIPT_OPTION = re.compile(r"\b(scripts/[\w-]+\.sh)((?:\s+[^`\s]+)*)")
VERBATIM = re.compile(r"<!-- verbatim: (\S+) -->\n```[a-z]*\n(.*?)```\n", re.S)


def spans(text):
    """Code spans outside fenced blocks (a span may go on over a line break), with the line
    number where each begins."""
    kept = []
    in_fence = False
    for line in text.split("\n"):
        if line.lstrip().startswith(("```", "~~~")):
            in_fence = not in_fence
            kept.append("")
        else:
            kept.append("" if in_fence else line)
    prose = "\n".join(kept)
    for match in re.finditer(r"`([^`]+?)`", prose):
        if "\n\n" not in match.group(1):
            yield prose.count("\n", 0, match.start()) + 1, " ".join(match.group(1).split())


def repository_paths(span):
    for word in span.split():
        word = word.strip("(),;:'\"")
        if word.startswith(TOP_LEVEL) or word in ("README.md", "CMakeLists.txt", "CMakePresets.json"):
            if not PLACEHOLDER.search(word):
                yield word.rstrip("/.")


def script_options(words):
    """The options given to a script: its words up to a shell operator, or up to a word that is
    neither an option nor an option's value (the command a wrapper script runs)."""
    options = []
    after_option = False
    for word in words.split():
        if word in ("&&", "||", "|", ";") or word.endswith(")"):
            break
        if word.startswith("--"):
            options.append(word.split("=")[0])
            after_option = True
        elif word.startswith("-") or after_option:
            after_option = False
        else:
            break
    return options


def main(argv):
    if argv and argv[0] in ("-h", "--help"):
        print(__doc__)
        return 0
    root = os.path.realpath(argv[0] if argv else os.path.join(os.path.dirname(__file__), "..", ".."))
    pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    wix = "".join(open(os.path.join(root, "installer", name), encoding="utf-8").read()
                  for name in ("kvshellsearch-fragment.wxs", "kvshellsearch-menutext.wxi",
                               "kvshellsearch-defaults.wxi"))
    failures = []
    counts = {"paths": 0, "names": 0, "options": 0, "verbatim": 0}
    for page in pages:
        name = os.path.relpath(page, root)
        text = open(page, encoding="utf-8").read()
        for number, span in spans(text):
            for path in repository_paths(span):
                counts["paths"] += 1
                if not os.path.exists(os.path.join(root, path)):
                    failures.append(f"{name}:{number}: no such path in the repository: {path}")
            for script, rest in SCRIPT_OPTION.findall(span):
                source = os.path.join(root, script)
                for option in script_options(rest):
                    counts["options"] += 1
                    if os.path.exists(source) and option not in open(source, encoding="utf-8").read():
                        failures.append(f"{name}:{number}: {script} takes no option {option}")
            if name == os.path.join("docs", "installing.md"):
                for wix_name in WIX_NAME.findall(span) + FILE_REFERENCE.findall(span):
                    counts["names"] += 1
                    if wix_name not in wix:
                        failures.append(f"{name}:{number}: {wix_name} is not in the fragment "
                                        "or its includes")
        for path, block in VERBATIM.findall(text):
            counts["verbatim"] += 1
            source = os.path.join(root, path)
            if not os.path.exists(source) or open(source, encoding="utf-8").read() != block:
                failures.append(f"{name}: the block marked verbatim differs from {path}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        return 1
    print(f"docs: {counts['paths']} repository paths exist, {counts['names']} WiX names are in the "
          f"fragment, {counts['options']} script options are taken, {counts['verbatim']} verbatim "
          "block(s) match their files")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
