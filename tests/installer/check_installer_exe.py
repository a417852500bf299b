#!/usr/bin/env python3
"""Checks the 32-bit shipping installer without running it: a 32-bit,
terminal-server-aware Windows program whose manifest never asks for
elevation and declares, as the launcher's does, the Windows versions 7 to 11
and long-path awareness (DPI: system-aware, as its dialogs are), carrying the
launcher built beside it and every file of the served release folder, byte
for byte: its version_list.txt in the plug-in folder, from which the
installer writes the installation's list (a signature, version_list.sig, is
not carried).

Usage: check_installer_exe.py Setup.exe Launcher.exe SERVED_FOLDER
Prints every mismatch and exits 1 when there is one, 0 otherwise. Unpacks
with 7z (Debian's p7zip-full reads NSIS installers).
"""
import filecmp
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "win32_ui"))
from check_launcher_exe import (  # noqa: E402
    DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, MACHINE_I386, RT_MANIFEST, PeImage, manifest_problems, run_check)


def windows_name(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def check(setup, launcher, served):
    problems = []
    with open(setup, "rb") as exe:
        image = PeImage(exe.read())
    if image.machine != MACHINE_I386:
        problems.append("machine %#x, not i386" % image.machine)
    manifest = image.resources().get(RT_MANIFEST, {}).get(1, b"").decode("utf-8", "replace")
    if 'level="asInvoker"' not in manifest:
        problems.append("the manifest does not run it as the player (asInvoker)")
    problems.extend(manifest_problems(manifest, per_monitor=False))
    if not image.dll_characteristics & DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE:
        problems.append("not terminal-server aware")

    with tempfile.TemporaryDirectory() as unpacked:
        result = subprocess.run(["7z", "x", "-y", "-o" + unpacked, setup], capture_output=True, text=True)
        if result.returncode != 0:
            return problems + ["7z cannot unpack it: " + result.stderr.strip()]
        wanted = {"Launcher.exe": launcher}
        served_bytes = os.fsencode(served)
        for folder, _, files in os.walk(served_bytes):
            for name in files:
                relative = os.path.relpath(os.path.join(folder, name), served_bytes)
                wanted["/".join(windows_name(p) for p in relative.split(b"/"))] = os.path.join(folder, name)
        wanted.pop("version_list.sig", None)
        for name, source in sorted(wanted.items()):
            carried = os.path.join(unpacked, "$PLUGINSDIR/version_list.txt" if name == "version_list.txt" else name)
            if not os.path.isfile(carried):
                problems.append("missing: " + name)
            elif not filecmp.cmp(carried, source, shallow=False):
                problems.append("differs: " + name)
        for folder, _, files in os.walk(unpacked):
            for name in files:
                relative = os.path.relpath(os.path.join(folder, name), unpacked)
                if relative not in wanted and not relative.startswith(("$PLUGINSDIR", "$R0", "Uninstall")):
                    problems.append("unexpected: " + relative)
    return problems


def main(argv):
    return run_check(argv, 3, __doc__.strip().splitlines()[-3], "installer check",
                     "32-bit, asInvoker, carries the launcher and the release", check)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
