#!/usr/bin/env python3
"""Fails when a product folder depends on a folder above it.

The product's folders are layered one way: common and resources at the bottom,
then the window framework ui, then the decision logic client, then the windows
of console on top; the service stands on common alone. A dependency is either
an #include "folder/..." in a source file or a quenvar_<folder> library named
in a folder's CMakeLists.txt. Product code never depends on test fixtures.

  CheckLayers.py --root DIR     check the tree at DIR
  CheckLayers.py --self-test    check that planted violations are found
"""
import argparse
import os
import re
import sys
import tempfile

ALLOWED = {
    "common": {"common"},
    "resources": {"resources", "common"},
    "ui": {"ui", "common", "resources"},
    "client": {"client", "ui", "common", "resources"},
    "console": {"console", "client", "ui", "common", "resources"},
    "service": {"service", "common"},
}
# Folders whose code or libraries a dependency may name, product or not.
KNOWN = set(ALLOWED) | {"stand-ins", "tests", "tools"}
LIBRARY_FOLDER = {
    "quenvar_common": "common",
    "quenvar_resources": "resources",
    "quenvar_ui": "ui",
    "quenvar_client": "client",
    "quenvar_console": "console",
    "quenvar_service": "service",
    "quenvar_standin": "stand-ins",
}
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')
LIBRARY = re.compile(r"\bquenvar_[a-z_]+\b")


def cmake_code(text):
    """The CMake text without comments."""
    return "\n".join(line.split("#", 1)[0] for line in text.splitlines())


def violations(root):
    found = []
    for folder, allowed in sorted(ALLOWED.items()):
        base = os.path.join(root, folder)
        for directory, _, files in os.walk(base):
            for name in sorted(files):
                path = os.path.join(directory, name)
                shown = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as source:
                    text = source.read()
                if name.endswith(SOURCE_ENDINGS):
                    for number, line in enumerate(text.splitlines(), 1):
                        match = INCLUDE.match(line)
                        if match and match.group(1) in KNOWN and match.group(1) not in allowed:
                            found.append(f"{shown}:{number}: {folder}/ includes {match.group(1)}/")
                elif name == "CMakeLists.txt":
                    for library in sorted(set(LIBRARY.findall(cmake_code(text)))):
                        target = LIBRARY_FOLDER.get(library)
                        if target is not None and target not in allowed:
                            found.append(f"{shown}: {folder}/ links {library} of {target}/")
    return found


def self_test():
    plants = [
        ("client/Probe.cpp", '#include "console/MainWindow.h"\n', "client/ includes console/"),
        ("ui/Probe.h", '#include "client/RightsStore.h"\n', "ui/ includes client/"),
        ("service/Probe.cpp", '  #  include "ui/ModelessDialog.h"\n', "service/ includes ui/"),
        ("common/Probe.cpp", '#include "stand-ins/support/WineSystem.h"\n', "common/ includes stand-ins/"),
        ("client/CMakeLists.txt", "quenvar_folder_library(quenvar_client LIBS quenvar_common quenvar_console)\n",
         "client/ links quenvar_console"),
    ]
    clean = [
        ("console/Fine.cpp", '#include "client/RightsStore.h"\n#include "ui/ListViewControl.h"\n'),
        ("client/Fine.cpp", '#include <windows.h>\n#include "Local.h"\n#include "common/Sha1.h"\n'),
        ("ui/CMakeLists.txt", "# quenvar_console is above; only a comment names it\n"
                              "quenvar_folder_library(quenvar_ui LIBS quenvar_common)\n"),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        for relative, text in clean:
            os.makedirs(os.path.dirname(os.path.join(root, relative)), exist_ok=True)
            with open(os.path.join(root, relative), "w") as out:
                out.write(text)
        if violations(root):
            print("self-test: a clean tree was reported:", violations(root))
            failures += 1
        for relative, text, expected in plants:
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            kept = open(path).read() if os.path.exists(path) else None
            with open(path, "w") as out:
                out.write(text)
            if not any(expected in line for line in violations(root)):
                print(f"self-test: not found: {expected}")
                failures += 1
            if kept is None:
                os.remove(path)
            else:
                with open(path, "w") as out:
                    out.write(kept)
    print("self-test:", "failed" if failures else "every planted violation was found")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    if not args.root:
        parser.error("--root or --self-test")
    found = violations(args.root)
    for line in found:
        print(line)
    print(f"{len(found)} dependencies against the layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
