#!/usr/bin/env python3
"""Lays out what the installer carries and writes the lists its script includes.

    stage_release.py --launcher Launcher.exe [--release DIR] --stage STAGE

STAGE/files holds Launcher.exe and, with --release, every file of the release
folder (the folder glimmerhold-publish --out lays out) under its Windows name
in UTF-8, which is what makensis reads. STAGE/install_files.nsh places them
(SetOutPath and File lines) and STAGE/uninstall_files.nsh removes them again,
folders last and only when empty. STAGE/placed_names.txt names each of them
(UTF-8, "/" between folders, one a line).

The release's own version_list.txt and version_list.sig are not game files:
they are staged in STAGE/carried (an empty list without a release), and the
installer writes the installation's list from the carried one once every
file is placed (see glimmerhold.nsi).

A served folder names files in the bytes a web server looks up, where the
letters the launcher escapes are single Latin-1 bytes; a release folder made on
Linux spells them in UTF-8. Both are read here.

Exits with 1 and a message when the release cannot be carried: the release's
own Launcher.exe differs from the one built, or its list names a file the
folder lacks or has at another size (the version list would describe
another file than the one installed), or a name makensis cannot take.
"""

import argparse
import filecmp
import os
import re
import shutil
import sys


# The release's own files, which describe it rather than belong to it.
CARRIED_NAMES = ("version_list.txt", "version_list.sig")


def windows_name(raw: bytes) -> str:
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def nsis_text(text: str) -> str:
    # Inside "..." makensis expands "$" and "$\" sequences; "$$" is a dollar.
    return text.replace("$", "$$")


def release_files(release: bytes):
    """(relative byte path, Windows name with "\\") of every file, sorted."""
    found = []
    for folder, folders, files in os.walk(release, followlinks=False):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, release)
            parts = [windows_name(part) for part in relative.split(b"/")]
            found.append((relative, "\\".join(parts)))
    return found


def list_faults(list_path: str, placed: dict) -> list:
    """What the release's list names that the folder does not hold as listed:
    the installer would write an entry for another file than the one there."""
    faults = []
    with open(list_path, "rb") as listed:
        for line in listed.read().split(b"\n"):
            fields = line.split()
            if len(fields) < 3:
                continue
            name = re.sub(r"%(20|21|f1|e1|e9|ed|f3|fa)", lambda m: chr(int(m.group(1), 16)),
                          windows_name(fields[0])).replace("/", "\\")
            digits = re.match(rb"-?[0-9]+", fields[2])
            size = int(digits.group(0)) % 2**32 if digits else -1
            if name not in placed or os.path.getsize(placed[name]) != size:
                faults.append(name)
    return faults


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--release")
    parser.add_argument("--stage", required=True)
    options = parser.parse_args()

    stage = os.path.abspath(options.stage)
    files_dir = os.path.join(stage, "files")
    carried_dir = os.path.join(stage, "carried")
    for folder in (files_dir, carried_dir):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    open(os.path.join(carried_dir, "version_list.txt"), "wb").close()

    placed = {}  # Windows name -> source path
    folded = set()  # the same names in lower case: one file on Windows
    if options.release:
        release = os.fsencode(os.path.abspath(options.release))
        if not os.path.isdir(release):
            print(f"stage_release: no release folder {options.release}", file=sys.stderr)
            return 1
        for relative, name in release_files(release):
            if name in CARRIED_NAMES:
                shutil.copyfile(os.path.join(release, relative), os.path.join(carried_dir, name))
                continue
            if any(c in name for c in '"\r\n') or name.lower() in folded:
                print(f"stage_release: cannot carry {name!r}", file=sys.stderr)
                return 1
            placed[name] = os.path.join(release, relative)
            folded.add(name.lower())

    launcher = os.path.abspath(options.launcher)
    if "Launcher.exe" in placed and not filecmp.cmp(placed["Launcher.exe"], launcher, shallow=False):
        print("stage_release: the release's Launcher.exe is not the one built; publish the built "
              f"launcher ({launcher}) with the release", file=sys.stderr)
        return 1
    placed["Launcher.exe"] = launcher
    faults = list_faults(os.path.join(carried_dir, "version_list.txt"), placed)
    if faults:
        print("stage_release: the release's version_list.txt does not describe its files: "
              + ", ".join(faults[:5]), file=sys.stderr)
        return 1

    install_lines = []
    folders = set()
    current = None
    for name in sorted(placed, key=lambda n: (n.count("\\"), n)):
        folder, _, base = name.rpartition("\\")
        staged = os.path.join(files_dir, *name.split("\\"))
        os.makedirs(os.path.dirname(staged), exist_ok=True)
        shutil.copyfile(placed[name], staged)
        if folder != current:
            install_lines.append(f'SetOutPath "$INSTDIR{nsis_text(chr(92) + folder if folder else "")}"')
            current = folder
        install_lines.append(f'File "/oname={nsis_text(base)}" "{nsis_text(staged)}"')
        while folder:
            folders.add(folder)
            folder = folder.rpartition("\\")[0]
    install_lines.append('SetOutPath "$INSTDIR"')

    uninstall_lines = [f'Delete "$INSTDIR\\{nsis_text(name)}"' for name in sorted(placed)]
    for folder in sorted(folders, key=lambda f: (-f.count("\\"), f)):
        # The launcher's download side files ("<16 hex digits>.ghpart") there.
        uninstall_lines.append(f'Delete "$INSTDIR\\{nsis_text(folder)}\\*.ghpart"')
        uninstall_lines.append(f'RMDir "$INSTDIR\\{nsis_text(folder)}"')

    for file_name, lines in (("install_files.nsh", install_lines), ("uninstall_files.nsh", uninstall_lines)):
        with open(os.path.join(stage, file_name), "w", encoding="utf-8-sig") as out:
            out.write("\n".join(lines) + "\n")
    with open(os.path.join(stage, "placed_names.txt"), "w", encoding="utf-8") as out:
        out.write("".join(name.replace("\\", "/") + "\n" for name in sorted(placed)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
