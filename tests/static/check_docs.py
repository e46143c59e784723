#!/usr/bin/env python3
"""What the guides name must be there, so that a reader who follows them succeeds:
  - every repository path in a code span of README.md and docs/*.md exists (build outputs under
    build/ and dist/, and paths with a placeholder such as LANG or VERSION, are not checked);
  - every WiX identifier and preprocessor variable, and every NSIS macro, define and variable,
    that docs/installing.md and docs/packages.md name (KvShellSearch...,
    KVSHELLSEARCH..., KVPLAYERDIR, [#...]) exists, whole, in the fragment, its includes or kvshellsearch.nsh;
  - every option of a scripts/*.sh named in a guide (`scripts/x.sh --option`) is one the script
    accepts, whole;
  - a block announced as <!-- verbatim: PATH --> is that file, byte for byte;
  - the doctor's lines docs/troubleshooting.md quotes are the doctor's: each line of an example
    block, and each phrase of the first column of its table of causes (with ... for what varies),
    fits a text in shellfind's sources;
  - a block announced as <!-- usage: SCRIPT --> is what `SCRIPT --help` prints;
  - a figure announced as <!-- figure: NAME --> is what the built files give (sizes from the
    PE files, instruction counts from the i386 check), read from BUILD;
  - a table announced as <!-- imports: NAME --> names exactly the functions the built file
    imports (NAME as for figures);
  - every row of every table has as many cells as its header: a row with more or fewer is not
    rendered as a table at all.

Usage: check_docs.py [--build BUILD] [ROOT]   (ROOT: the repository this script is in;
       BUILD: ROOT/build, where scripts/test.sh builds)
"""
import glob
import os
import re
import subprocess
import sys

TOP_LEVEL = ("src/", "tests/", "tools/", "scripts/", "docs/", "installer/", "translations/",
             "cmake/", "bench/", ".ci/")
PLACEHOLDER = re.compile(r"[*<>]|\.\.\.|\b(LANG|VERSION|ARCH|NAME|DIR|OUT_DIR|FILE)\b")
WIX_NAME = re.compile(r"\b(KvShellSearch[A-Za-z0-9_.]*[A-Za-z0-9_]|KVSHELLSEARCH[A-Z0-9_]*|KVPLAYERDIR)\b")
FILE_REFERENCE = re.compile(r"\[#([A-Za-z0-9_.]+)\]")
SCRIPT_OPTION = re.compile(r"\b(scripts/[\w-]+\.sh)((?:\s+[^`\s]+)*)")
VERBATIM = re.compile(r"<!-- verbatim: (\S+) -->\n```[a-z]*\n(.*?)```\n", re.S)
USAGE = re.compile(r"<!-- usage: (\S+) -->\n```[a-z]*\n(.*?)```\n", re.S)
FIGURE = re.compile(r"<!-- figure: ([\w.]+) -->\s*([\d,]+)")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "tools")]
from check_i386_instructions import disassemble, newer_instructions  # noqa: E402
from pe_footprint import PeFile  # noqa: E402
from check_win95_imports import imports  # noqa: E402

IMPORTS = re.compile(r"<!-- imports: ([\w.]+) -->\n\n?((?:\|.*\n)+)")
CODE_SPAN = re.compile(r"`[^`]*`")

# The built files the guides give figures of, below the build directory.
BUILT = {"dll32": "i686/src/kvshellsearch/kvshellsearch.dll",
         "dll64": "x86_64/bin/kvshellsearch64.dll",
         "shellfind32": "i686/tools/shellfind.exe",
         "setup": "x86_64/installer/kvshellsearch-{version}-setup.exe"}


LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
PLACEHOLDER_FORMAT = re.compile(r"%[-0-9.l]*[sdiuxXc]")
DOCTOR_LINE = re.compile(r"^(?:ok|FAULT|note|skip)\s+[^:]+: (.*)$|^(\w+: .*)$")


def source_texts(root):
    """Every string literal of shellfind's sources, adjacent literals joined, unescaped."""
    texts = []
    for path in sorted(glob.glob(os.path.join(root, "tools", "shellfind", "*.cpp"))):
        source = open(path, encoding="utf-8").read()
        # Adjacent literals, as the compiler joins them.
        for run in re.finditer(r'"(?:[^"\\\n]|\\.)*"(?:\s*"(?:[^"\\\n]|\\.)*")*', source):
            text = "".join(LITERAL.findall(run.group(0)))
            text = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)
            texts.append(text.rstrip("\n"))
    return texts


def fits_a_format(text, formats):
    """Whether text is what one of the formats prints, its placeholders standing for anything."""
    return any(pattern.fullmatch(text) for pattern in formats)


def doctor_formats(texts):
    formats = []
    for text in texts:
        fixed = PLACEHOLDER_FORMAT.sub("", text)
        if len(re.sub(r"[\W_]", "", fixed)) >= 4:  # a format of placeholders alone fits anything
            parts = PLACEHOLDER_FORMAT.split(text)
            formats.append(re.compile(".*".join(re.escape(part) for part in parts), re.S))
    return formats


def check_doctor_lines(root, failures):
    """The example lines and quoted phrases of the troubleshooting guide against the sources."""
    name = os.path.join("docs", "troubleshooting.md")
    text = open(os.path.join(root, name), encoding="utf-8").read()
    texts = source_texts(root)
    formats = doctor_formats(texts)
    count = 0
    in_fence = False
    for number, line in enumerate(text.split("\n"), 1):
        if line.startswith("```"):
            in_fence = not in_fence
            continue
        match = DOCTOR_LINE.match(line) if in_fence else None
        if match:
            body = match.group(1) if match.group(1) is not None else match.group(2)
            body = re.sub(r" \(not counted: [^)]*\)", "", body)
            count += 1
            # The text and its fix, each from a format of its own, unless one format has both.
            parts = [] if fits_a_format(body, formats) else body.split(" -- ")
            for part in parts:
                if not fits_a_format(part, formats):
                    failures.append(f"{name}:{number}: the doctor prints no such line: {part}")
        elif not in_fence and line.startswith("| `") and "(" in line.split("|")[1]:
            for phrase in re.findall(r"`([^`]+)`", line.split("|")[1]):
                count += 1
                pieces = [piece.strip(' "') for piece in phrase.split("...")]
                if not all(any(piece in source for source in texts) for piece in pieces if piece):
                    failures.append(f"{name}:{number}: the doctor prints nothing like: {phrase}")
    return count


def built_figure(build, name):
    """The figure NAME (file.measure) of the build, or None when there is no such figure."""
    file, _, measure = name.partition(".")
    if file not in BUILT:
        return None
    version = re.search(r"project\(kvshellsearch VERSION ([\d.]+)",
                        open(os.path.join(HERE, "..", "..", "CMakeLists.txt")).read()).group(1)
    path = os.path.join(build, BUILT[file].format(version=version))
    if measure == "bytes":
        return os.path.getsize(path)
    if measure == "bytes_without_resources":
        pe = PeFile(path)
        return len(pe.data) - pe.resource_bytes()
    if measure == "instructions" and not file.endswith("64"):
        return newer_instructions(disassemble(path))[1]
    if measure == "newer_than_i386" and not file.endswith("64"):
        return len(newer_instructions(disassemble(path))[0])
    return None


def cell_count(row):
    """The cells of a table row; a | inside a code span or escaped is no border."""
    row = CODE_SPAN.sub("x", row).replace("\\|", "x").strip()
    return len(row.strip("|").split("|"))


def check_tables(name, text, failures):
    """Every row of a table, the delimiter row too, has the header's cell count."""
    header = None
    fenced = False
    for number, line in enumerate(text.split("\n"), 1):
        line = line.strip()
        fenced = fenced != line.startswith("```")
        if fenced or not line.startswith("|"):
            header = None
            continue
        if header is None:
            header = cell_count(line)
        elif cell_count(line) != header:
            failures.append(f"{name}:{number}: a table row has {cell_count(line)} cells, its "
                            f"header {header}: the table does not render")


def check_import_tables(name, text, build, failures):
    for file, table in IMPORTS.findall(text):
        written = set()
        for row in table.splitlines()[2:]:
            written |= set(re.findall(r"`(\w+)`", row.split("|")[2]))
        version = ""
        built = {function for functions in imports(os.path.join(build, BUILT[file].format(
            version=version))).values() for function in functions}
        if written != built:
            failures.append(f"{name}: the import table of {file} differs from the built file: "
                            f"not written {sorted(built - written)}, not imported "
                            f"{sorted(written - built)}")


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
    build = None
    if argv[:1] == ["--build"] and len(argv) >= 2:
        build, argv = argv[1], argv[2:]
    root = os.path.realpath(argv[0] if argv else os.path.join(os.path.dirname(__file__), "..", ".."))
    build = build or os.path.join(root, "build")
    pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    wix = "".join(open(os.path.join(root, "installer", name), encoding="utf-8").read()
                  for name in ("kvshellsearch-fragment.wxs", "kvshellsearch-menutext.wxi",
                               "kvshellsearch-defaults.wxi", "kvshellsearch.nsh"))
    # Whole names only: a guide's name that is a prefix of a real one names nothing.
    wix_names = set(WIX_NAME.findall(wix)) | set(FILE_REFERENCE.findall(wix))
    failures = []
    counts = {"paths": 0, "names": 0, "options": 0, "verbatim": 0, "figures": 0}
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
                    whole = re.compile(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])")
                    if os.path.exists(source) and not whole.search(open(source, encoding="utf-8").read()):
                        failures.append(f"{name}:{number}: {script} takes no option {option}")
            if name in (os.path.join("docs", "installing.md"), os.path.join("docs", "packages.md")):
                for wix_name in WIX_NAME.findall(span) + FILE_REFERENCE.findall(span):
                    counts["names"] += 1
                    if wix_name not in wix_names:
                        failures.append(f"{name}:{number}: {wix_name} is not in the fragment, "
                                        "its includes or the NSIS include")
        for match in FIGURE.finditer(text):
            counts["figures"] += 1
            figure, written = match.group(1), int(match.group(2).replace(",", ""))
            number = text.count("\n", 0, match.start()) + 1
            try:
                built = built_figure(build, figure)
            except OSError as error:
                failures.append(f"{name}:{number}: figure {figure}: no built file ({error})")
                continue
            if built is None:
                failures.append(f"{name}:{number}: no such figure: {figure}")
            elif built != written:
                failures.append(f"{name}:{number}: figure {figure} is {written:,} in the guide, "
                                f"{built:,} in the build")
        check_tables(name, text, failures)
        check_import_tables(name, text, build, failures)
        for script, block in USAGE.findall(text):
            counts["verbatim"] += 1
            usage = subprocess.run(["bash", os.path.join(root, script), "--help"],
                                   capture_output=True, text=True).stdout
            if usage != block:
                failures.append(f"{name}: the usage block differs from `{script} --help`")
        for path, block in VERBATIM.findall(text):
            counts["verbatim"] += 1
            source = os.path.join(root, path)
            if not os.path.exists(source) or open(source, encoding="utf-8").read() != block:
                failures.append(f"{name}: the block marked verbatim differs from {path}")
    counts["doctor lines"] = check_doctor_lines(root, failures)
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        return 1
    print(f"docs: {counts['paths']} repository paths exist, {counts['names']} WiX names are in the "
          f"fragment, {counts['options']} script options are taken, {counts['verbatim']} verbatim "
          f"block(s) match their files, {counts['figures']} figures match the build, "
          f"{counts['doctor lines']} quoted doctor lines are the doctor's")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
