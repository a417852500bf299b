#!/usr/bin/env python3
"""Prints the program a Windows shortcut (.lnk) starts, as the shell reads it:
the local path of the link's LinkInfo structure (the Unicode one when the link
has it), then, on a second line, its working folder (empty when it names none).

Usage: shortcut_target.py FILE.lnk
Exits with 1 and a message when the file is no shell link or names no local
path.
"""
import struct
import sys

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR = 1, 2, 4, 8, 16
IS_UNICODE = 0x80


def ansi_text(data, at):
    return data[at:data.index(b"\0", at)].decode("cp1252")


def wide_text(data, at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def read(data):
    if len(data) < 76 or struct.unpack_from("<I", data, 0)[0] != 76 or data[4:20] != LINK_CLSID:
        raise ValueError("not a shell link")
    flags = struct.unpack_from("<I", data, 20)[0]
    at = 76
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & HAS_LINK_INFO:
        raise ValueError("the link names no local path")
    size, header, info_flags, _, base, _, suffix = struct.unpack_from("<7I", data, at)
    if not info_flags & 1:
        raise ValueError("the link names no local path")
    # The path is the local base path followed by the common path suffix.
    if header >= 0x24:
        base, suffix = struct.unpack_from("<2I", data, at + 28)
        target = wide_text(data, at + base) + wide_text(data, at + suffix)
    else:
        target = ansi_text(data, at + base) + ansi_text(data, at + suffix)
    at += size
    # The string data that follows: name, relative path, working folder, each
    # a count of characters and the characters.
    unit = 2 if flags & IS_UNICODE else 1
    folder = ""
    for flag in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR):
        if not flags & flag:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        text = data[at + 2:at + 2 + count * unit]
        at += 2 + count * unit
        if flag == HAS_WORKING_DIR:
            # Some writers count the terminating null as well.
            folder = text.decode("utf-16-le" if unit == 2 else "cp1252").split("\0")[0]
    return target, folder


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-3], file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as link:
            target, folder = read(link.read())
    except (OSError, ValueError, struct.error, UnicodeDecodeError) as problem:
        print("%s: %s" % (argv[1], problem), file=sys.stderr)
        return 1
    print(target)
    print(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
