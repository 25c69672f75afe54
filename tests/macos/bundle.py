#!/usr/bin/env python3
"""Checks the layout of Quillfen.app as a Mac reads it: Info.plist parsed as a property list (as
plutil would), the keys Launch Services and the loader rely on, PkgInfo, the executable that
Info.plist names, and the guide among the resources, equal to its source.

Usage: bundle.py BUNDLE GUIDE VERSION
"""

import os
import plistlib
import sys


def main(bundle, guide, version):
    faults = []
    contents = os.path.join(bundle, "Contents")

    def check(condition, fault):
        if not condition:
            faults.append(fault)

    check(sorted(os.listdir(bundle)) == ["Contents"], "the bundle holds more than Contents")
    try:
        with open(os.path.join(contents, "Info.plist"), "rb") as file:
            info = plistlib.load(file)
    except Exception as error:  # expat's, plistlib's and the system's errors alike
        info = {}
        faults.append(f"Info.plist is not a valid property list: {error}")
    check(isinstance(info, dict), "Info.plist is not a dictionary")

    expected = {
        "CFBundleExecutable": "quillfen",
        "CFBundleIdentifier": "org.quillfen.Quillfen",
        "CFBundleInfoDictionaryVersion": "6.0",
        "CFBundleName": "Quillfen",
        "CFBundlePackageType": "APPL",
        "CFBundleShortVersionString": version,
        "CFBundleVersion": version,
        "LSMinimumSystemVersion": "13.0",
        "NSHighResolutionCapable": True,
        "NSPrincipalClass": "NSApplication",
    }
    for key, value in expected.items():
        actual = info.get(key) if isinstance(info, dict) else None
        # `is` for the Boolean: the string "true" or the number 1 would not do.
        same = actual is value if isinstance(value, bool) else actual == value
        check(same, f"Info.plist: {key} is {actual!r}, not {value!r}")

    try:
        with open(os.path.join(contents, "PkgInfo"), "rb") as file:
            check(file.read() == b"APPL????", "PkgInfo is not APPL????")
    except OSError:
        faults.append("no PkgInfo")

    programs = os.path.join(contents, "MacOS")
    executable = os.path.join(programs, "quillfen")
    check(os.path.isdir(programs) and os.listdir(programs) == ["quillfen"],
          "Contents/MacOS holds something other than the program quillfen")
    check(os.access(executable, os.X_OK), "Contents/MacOS/quillfen is not executable")

    try:
        with open(os.path.join(contents, "Resources", "README.md"), "rb") as copy, \
                open(guide, "rb") as original:
            check(copy.read() == original.read(), "Resources/README.md differs from the guide")
    except OSError:
        faults.append("no guide at Contents/Resources/README.md")

    for fault in faults:
        print(f"{bundle}: {fault}", file=sys.stderr)
    if not faults:
        print(f"{bundle}: layout, Info.plist, PkgInfo and guide as a Mac needs them")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
