#!/usr/bin/env python3
"""Every relative link and image in README.md and docs/*.md names a file or directory of the
repository, and the README links every guide in docs/. Links into code blocks and code spans are
text, not links; web addresses and in-page anchors are not checked.

Usage: check_links.py [ROOT]   (default: the repository this script is in)
"""
import glob
import os
import re
import sys
from urllib.parse import unquote

INLINE = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
CODE_SPAN = re.compile(r"(`+).*?\1")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def links(path):
    """(line number, target) of every link outside code."""
    in_fence = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith(("```", "~~~")):
                in_fence = not in_fence
                continue
            if in_fence:
                continue
            text = CODE_SPAN.sub("", line)
            for match in INLINE.finditer(text):
                yield number, match.group(1)
            reference = REFERENCE.match(text)
            if reference:
                yield number, reference.group(1)


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        return 0
    root = os.path.realpath(sys.argv[1] if len(sys.argv) > 1 else
                            os.path.join(os.path.dirname(__file__), "..", ".."))
    readme = os.path.join(root, "README.md")
    guides = sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    failures = []
    linked_from_readme = set()
    count = 0
    for page in [readme] + guides:
        if not os.path.isfile(page):
            failures.append(f"{os.path.relpath(page, root)}: missing")
            continue
        for number, target in links(page):
            if SCHEME.match(target) or target.startswith("#"):
                continue
            count += 1
            resolved = os.path.realpath(
                os.path.join(os.path.dirname(page), unquote(target.split("#", 1)[0])))
            where = f"{os.path.relpath(page, root)}:{number}"
            if not resolved.startswith(root + os.sep) or not os.path.exists(resolved):
                failures.append(f"{where}: broken link {target}")
            elif page == readme:
                linked_from_readme.add(resolved)
    for guide in guides:
        if os.path.realpath(guide) not in linked_from_readme:
            failures.append(f"README.md: no link to the guide {os.path.relpath(guide, root)}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        return 1
    print(f"links: {count} relative links in {1 + len(guides)} pages resolve; "
          f"README.md links all {len(guides)} guides")
    return 0


if __name__ == "__main__":
    sys.exit(main())
