#!/usr/bin/env python3
"""Checks built Windows Installer packages, read with msitools, against the ICE rules that their
tables can show (we cannot run WiX's validation here):
  - ICE69: every formatted file reference ([#file], [!file]) in the Registry table names a file
    of the row's own component;
  - ICE80 and its kin: a package for x64 (summary Template x64) has only 64-bit components
    (attribute 256), one for Intel none; every registry key path is a row of its own component;
  - component GUIDs: no GUID in two of the packages given (each is another product or language,
    with contents of its own), and with --same A B, package B (the same product at another
    version) has exactly A's components under the same GUIDs.

Usage: check_msi_tables.py [--same A.msi B.msi]... PACKAGE.msi...
"""
import re
import subprocess
import sys

ATTRIBUTE_64BIT = 256
REGISTRY_KEY_PATH = 4


def table(package, name):
    """The rows of one table as dicts; an absent table has none."""
    result = subprocess.run(["msiinfo", "export", package, name], capture_output=True, text=True)
    if result.returncode != 0:
        return []
    lines = result.stdout.split("\r\n") if "\r\n" in result.stdout else result.stdout.splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def platform(package):
    summary = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, text=True,
                             check=True).stdout
    match = re.search(r"^Template: ([^;\n]*)", summary, re.M)
    return match.group(1) if match else ""


def components(package):
    return {row["Component"]: row for row in table(package, "Component")}


def check_package(package):
    faults = []
    files = {row["File"]: row["Component_"] for row in table(package, "File")}
    registry = table(package, "Registry")
    for row in registry:
        for field in ("Key", "Name", "Value"):
            for reference in re.findall(r"\[[#!]([^\]]+)\]", row.get(field, "")):
                owner = files.get(reference)
                if owner != row["Component_"]:
                    faults.append(f"ICE69: Registry {row['Registry']} of component "
                                  f"{row['Component_']} names [#{reference}], a file of "
                                  f"{owner or 'no component'}")
    wants_64 = platform(package) == "x64"
    keys = {row["Registry"]: row["Component_"] for row in registry}
    for name, row in components(package).items():
        attributes = int(row["Attributes"] or 0)
        if bool(attributes & ATTRIBUTE_64BIT) != wants_64:
            faults.append(f"ICE80: component {name} is {'64' if attributes & 256 else '32'}-bit "
                          f"in a package for {platform(package) or 'no platform'}")
        if attributes & REGISTRY_KEY_PATH and keys.get(row["KeyPath"]) != name:
            faults.append(f"key path: component {name}'s registry key path {row['KeyPath']} is "
                          "not a row of its own")
    return faults


def main(argv):
    same = []
    while len(argv) >= 3 and argv[0] == "--same":
        same.append((argv[1], argv[2]))
        argv = argv[3:]
    if not argv or any(a.startswith("-") for a in argv):
        print(__doc__, file=sys.stderr)
        return 2
    faults = []
    for package in argv:
        faults += [f"{package}: {fault}" for fault in check_package(package)]
    seen = {}
    for package in argv:
        for name, row in components(package).items():
            guid = row["ComponentId"].upper()
            if guid in seen:
                faults.append(f"GUID {guid}: component {name} of {package} and "
                              f"{seen[guid][1]} of {seen[guid][0]}")
            seen[guid] = (package, name)
    for old, new in same:
        before = {n: r["ComponentId"] for n, r in components(old).items()}
        after = {n: r["ComponentId"] for n, r in components(new).items()}
        if before != after:
            faults.append(f"{new}: components or GUIDs differ from {old}: {before} against {after}")
    for fault in faults:
        print(f"FAIL: {fault}")
    if not faults:
        print(f"{len(argv)} packages: no file reference outside its component, every component of "
              f"its package's bitness, {len(seen)} component GUIDs, none repeated"
              + (f", {len(same)} version pair(s) with the same GUIDs" if same else ""))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
