#!/usr/bin/env python3
"""Lays out the demo update server: copies a release folder to the served
folder and writes its "version_list.txt".

Names in a version list cannot hold blanks, so a few characters are escaped
("%20" for a blank, "%21" for "!", "%f1" for "ñ" and five accented vowels).
A static web server decodes the escapes of a request before it looks for the
file, and "%f1" decodes to the single byte 0xF1: so each file is served under
the byte name its escaped name decodes to, whatever the release folder on
Linux calls it in UTF-8.

Usage: build_site.py RELEASE_FOLDER SERVED_FOLDER [--extra BYTES_MIB]
"""
import hashlib
import os
import shutil
import sys

ESCAPES = {" ": "%20", "!": "%21", "ñ": "%f1", "á": "%e1", "é": "%e9", "í": "%ed", "ó": "%f3", "ú": "%fa"}


def escaped(name):
    out = []
    for ch in name:
        if ch in ESCAPES:
            out.append(ESCAPES[ch])
        elif ch == "%" or ch.isspace() or ord(ch) > 0x7E or ord(ch) < 0x21:
            raise SystemExit("cannot list %r: the list format has no escape for %r" % (name, ch))
        else:
            out.append(ch)
    return "".join(out)


def served_bytes(name):
    # What a static server looks up for the escaped name: Latin-1 bytes.
    return name.encode("latin-1")


def main():
    source, target = sys.argv[1], sys.argv[2]
    if os.path.isdir(target):
        shutil.rmtree(target)
    os.makedirs(target)
    lines = []
    for folder, _, files in sorted(os.walk(source)):
        for file in sorted(files):
            path = os.path.join(folder, file)
            relative = os.path.relpath(path, source).replace(os.sep, "/")
            with open(path, "rb") as f:
                data = f.read()
            version = hashlib.sha256(data).hexdigest()[:32]
            lines.append("%s %s %d\n" % (escaped(relative), version, len(data)))
            destination = os.path.join(target.encode(), served_bytes(relative))
            os.makedirs(os.path.dirname(destination), exist_ok=True)
            shutil.copyfile(path, destination)
    with open(os.path.join(target, "version_list.txt"), "w", newline="\n") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
