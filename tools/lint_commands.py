#!/usr/bin/env python3
"""Writes the compile commands that tools/lint.sh analyses, and prints how many.

    lint_commands.py ROOT COMPILE_COMMANDS OUT

Each file keeps its first command without the fault hook's switch (the
program's configuration). A command with the switch is kept only for a file
whose project includes, followed through the project's headers, reach the one
header that reads it; for any other file it is the same source over again.
Should the switch be read anywhere else, every command is kept.

The build's precompiled headers are taken out: clang cannot read GCC's, and
each file then reads the headers it includes itself, as it names them.
"""
import json
import os
import re
import subprocess
import sys

SWITCH = "MODLAUNCHER_FAULT_HOOK"
HOOK_HEADER = "launcher/fault_hook.h"
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
PRECOMPILED = re.compile(r' -Winvalid-pch| -include \S*/cmake_pch\.hxx')


def main():
    root, source, out = sys.argv[1:4]
    entries = json.load(open(source))
    readers = subprocess.run(
        ["git", "-C", root, "grep", "-l", SWITCH, "--", "*.h", "*.cpp"],
        capture_output=True, text=True, check=False).stdout.split()
    keep_all = readers != [HOOK_HEADER]

    reaches = {}

    def reaches_hook(path, seen=()):
        """Whether the file at PATH (from the root) includes the hook's header."""
        if path == HOOK_HEADER:
            return True
        if path not in reaches:
            try:
                with open(os.path.join(root, path), encoding="utf-8") as text:
                    included = INCLUDE.findall(text.read())
            except OSError:
                included = []
            reaches[path] = any(
                name not in seen and reaches_hook(name, seen + (path,)) for name in included)
        return reaches[path]

    def has_switch(entry):
        return f"-D{SWITCH}" in entry.get("command", " ".join(entry.get("arguments", [])))

    def name_of(entry):
        return os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)

    # The precompiled headers' own commands are the build's, not sources.
    entries = [entry for entry in entries if not entry["file"].endswith("cmake_pch.hxx.cxx")]
    plain = {name_of(entry) for entry in entries if not has_switch(entry)}
    kept, taken = [], set()
    for entry in entries:
        name = name_of(entry)
        if not has_switch(entry):
            if name in taken:
                continue
            taken.add(name)
        elif name in plain and not keep_all and not reaches_hook(name):
            continue
        if "command" in entry:
            entry["command"] = PRECOMPILED.sub("", entry["command"])
        kept.append(entry)
    with open(out, "w", encoding="utf-8") as text:
        json.dump(kept, text, indent=1)
    print(len(kept))


if __name__ == "__main__":
    main()
