#!/usr/bin/env python3
"""The Windows update driver in place of the Linux one, for the proof tests.

    wine_driver.py [driver arguments...]

Started by a proof test where it would start the Linux driver (see
driver_process.h). The Windows driver reads the installation from the
registry, as the launcher does, not from GLIMMERHOLD_REGISTRY_FILE: this
imports that file into the current user's registry of the Wine prefix
(WINEPREFIX) first, its Linux paths given as the Windows paths Wine maps to
them ("/tmp/x" is "Z:\\tmp\\x"), and with the settings key emptied first so
that nothing of an earlier test stays; without the file the key is removed,
as on a machine where the game was never installed. The import runs only
when the settings differ from the last ones imported (a copy is kept in the
prefix), so a test that restarts the driver many times pays for it once.

The Wine server is started persistent (a no-op when it runs already): it
stays, with the Windows system processes, for the whole test run, instead of
ending a few seconds after each driver and starting again with the next.
It is started here, inside the test's network namespace, where the sockets
of the programs are then made; whoever made the prefix ends it afterwards
(wineserver -k).

It then replaces itself with the driver (GLIMMERHOLD_WINE_DRIVER) under the
Wine loader (WINE, by default the 32-bit /usr/lib/wine/wine): the process
the test started, waits for and kills is the Windows program itself.
"""
import os
import re
import subprocess
import sys
import tempfile

KEY = "HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold"
# "name"="/linux/path" (REG_SZ text, quotes and backslashes escaped).
LINUX_PATH_VALUE = re.compile(r'^("(?:[^"\\]|\\.)*")="(/[^"]*)"$')


def read_text(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    return data.decode("utf-8")


def windows_value(match):
    # Z: is Wine's drive for the Linux root; an escaped backslash per "/".
    return '%s="Z:%s"' % (match.group(1), match.group(2).replace("/", "\\\\"))


def settings_for_wine():
    lines = ["Windows Registry Editor Version 5.00", "", "[-%s]" % KEY]
    source = os.environ.get("GLIMMERHOLD_REGISTRY_FILE", "")
    if source and os.path.isfile(source):
        # Every line but the file's own header line, which the one above
        # replaces.
        for line in read_text(source).splitlines()[1:]:
            lines.append(LINUX_PATH_VALUE.sub(windows_value, line))
    return "\r\n".join(lines) + "\r\n"


def import_settings(wine, prefix):
    wanted = settings_for_wine()
    cache = os.path.join(prefix, "glimmerhold-imported.reg")
    try:
        if read_text(cache) == wanted:
            return
    except OSError:
        pass
    encoded = b"\xff\xfe" + wanted.encode("utf-16-le")
    with tempfile.NamedTemporaryFile(suffix=".reg", dir=prefix, delete=False) as out:
        out.write(encoded)
    # Its messages go to a file, not a pipe: the Windows system processes the
    # first program of a server starts inherit its standard error and stay
    # with the server, so a pipe would never reach its end.
    with tempfile.TemporaryFile(dir=prefix) as errors:
        try:
            imported = subprocess.run([wine, "reg", "import", "Z:" + out.name.replace("/", "\\")],
                                      stdout=subprocess.DEVNULL, stderr=errors, timeout=120)
        finally:
            os.unlink(out.name)
        if imported.returncode != 0:
            errors.seek(0)
            sys.stderr.write("wine_driver: the settings could not be imported: %s\n" %
                             errors.read().decode(errors="replace"))
            sys.exit(1)
    with open(cache, "wb") as copy:
        copy.write(encoded)


def main():
    driver = os.environ.get("GLIMMERHOLD_WINE_DRIVER")
    prefix = os.environ.get("WINEPREFIX")
    if not driver or not prefix:
        sys.stderr.write("wine_driver: GLIMMERHOLD_WINE_DRIVER and WINEPREFIX must be set\n")
        return 2
    wine = os.environ.get("WINE", "/usr/lib/wine/wine")
    server = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")
    # Ends at once with 2 when the server runs already.
    subprocess.run([server, "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    import_settings(wine, prefix)
    sys.stdout.flush()
    os.execv(wine, [wine, driver] + sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
