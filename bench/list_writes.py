#!/usr/bin/env python3
"""What a run writes to the installation's lists: the bytes written to
"version_list.txt", its side file and its journal, with the flushes and
renames, for an update of many small files from nginx on the loopback of a
private network namespace. Not a timing: the counts are the same on any
machine.

    bench/list_writes.py [--files 3432] DRIVER [DRIVER ...]

Each DRIVER is LABEL=PATH of an update_driver (tests/proof), e.g.
after=build/asan/bin/update_driver; give one built from an older commit to
compare. Every run starts from an empty installation and fetches every file;
the writes are counted from the system calls (strace -f -y), so nothing in
the launcher is instrumented."""

import argparse
import os
import re
import subprocess
import sys
import tempfile

from download_vs_curl import start_nginx  # the same nginx, on the namespace's loopback

LISTS = ("version_list.txt", "version_list.txt.tmp", "version_list.journal")
CALL = re.compile(r'^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+)')
FD_PATH = re.compile(r'^\d+<([^>]*)>')


def reexec_in_private_network():
    if os.environ.get("GLIMMERHOLD_BENCH_NETNS") == "1":
        return
    env = dict(os.environ, GLIMMERHOLD_BENCH_NETNS="1")
    os.execvpe("unshare", ["unshare", "-rn", sys.executable] + sys.argv, env)


def publish(site, count):
    """`count` small files under names shaped like a game's data, and their
    list with 32-digit versions, as glimmerhold-publish writes them."""
    folder = os.path.join(site, "up")
    listing = []
    for i in range(count):
        name = f"data/set{i % 40:02d}/tile_{i:05d}.png"
        body = f"tile {i}\n".encode() * (1 + i % 7)
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(body)
        listing.append(f"{name} {i * 2654435761 % (1 << 128):032x} {len(body)}\n")
    with open(os.path.join(folder, "version_list.txt"), "w") as out:
        out.writelines(listing)


def count_writes(trace_file):
    """Bytes written, flushes and renames of the lists, from strace's log."""
    written = {name: 0 for name in LISTS}
    flushes = renames = 0
    with open(trace_file, errors="replace") as log:
        for line in log:
            call = CALL.match(line)
            if not call:
                continue
            name, args, result = call.group(1), call.group(2), int(call.group(3))
            fd = FD_PATH.match(args)
            base = os.path.basename(fd.group(1)) if fd else ""
            if name in ("write", "pwrite64", "writev") and base in written and result > 0:
                written[base] += result
            elif name in ("fsync", "fdatasync") and base in written:
                flushes += 1
            elif name in ("rename", "renameat", "renameat2") and "version_list.txt" in args and result == 0:
                renames += 1
    return written, flushes, renames


def run(label, driver, work, count):
    install = os.path.join(work, f"install-{label}")
    os.makedirs(install)
    reg = os.path.join(work, f"{label}.reg")
    with open(reg, "w", encoding="utf-16") as out:
        out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]\r\n"
                  f"\"InstallPath\"=\"{install}\"\r\n")
    trace = os.path.join(work, f"{label}.strace")
    env = dict(os.environ, GLIMMERHOLD_REGISTRY_FILE=reg, ASAN_OPTIONS="detect_leaks=0")
    subprocess.run(["strace", "-f", "-qq", "-y", "-e", "trace=write,pwrite64,writev,fsync,fdatasync,rename,renameat,"
                    "renameat2", "-o", trace, driver, "--base", "127.0.0.1/up/", "--limit-s", str(count + 120)],
                   env=env, check=True, stdout=subprocess.DEVNULL, cwd=work)
    final = os.path.getsize(os.path.join(install, "version_list.txt"))
    written, flushes, renames = count_writes(trace)
    total = sum(written.values())
    fetched = sum(len(files) for _, _, files in os.walk(os.path.join(install, "data")))
    print(f"{label}: {fetched} files fetched; final list {final} bytes; written to the lists {total} bytes "
          f"({total / final:.2f} x the final list): " + ", ".join(f"{k} {v}" for k, v in written.items()) +
          f"; {flushes} flushes, {renames} renames of the list")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=3432)
    parser.add_argument("drivers", nargs="+", help="LABEL=PATH of an update_driver")
    args = parser.parse_args()
    reexec_in_private_network()
    with tempfile.TemporaryDirectory(prefix="list-writes-") as work:
        site = os.path.join(work, "site")
        publish(site, args.files)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        nginx = start_nginx(work, site)
        try:
            for given in args.drivers:
                label, _, path = given.partition("=")
                run(label, os.path.abspath(path), work, args.files)
        finally:
            nginx.kill()
            nginx.wait()


if __name__ == "__main__":
    main()
