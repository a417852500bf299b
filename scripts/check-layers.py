#!/usr/bin/env python3
"""Fails when a file under src/ includes a folder above its own.

The folders form layers, lowest first. A file may include its own folder and
any folder below it, never one above: so no two folders include each other,
and the update engine (update/, net/, settings/) knows nothing of the page
(web/) or the dialog (shell/). main/ holds the process entries, which bind a
backend to the launcher.
"""
import pathlib
import re
import sys

LAYERS = ["text", "platform", "net", "settings", "update", "web", "shell", "main"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.MULTILINE)


def main():
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc") or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in LAYERS:
            faults.append("%s: folder %r has no layer" % (path.relative_to(src.parent), folder))
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            if included in LAYERS and LAYERS.index(included) > LAYERS.index(folder):
                faults.append("%s: %s/ includes %s/, a layer above it" % (path.relative_to(src.parent), folder,
                                                                           included))
    for fault in faults:
        print(fault)
    if faults:
        print("layers, lowest first: " + " < ".join(LAYERS))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
