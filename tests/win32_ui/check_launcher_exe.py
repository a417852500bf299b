#!/usr/bin/env python3
"""Checks the built Launcher.exe without running it: a 32-bit,
terminal-server-aware GUI program whose resources hold the borderless dialog
103, the icon group 107 and a manifest that never asks for elevation,
declares per-monitor DPI awareness (v2 where available, with the older
forms as fallbacks), the Windows versions 7 to 11 and long-path awareness.

Usage: check_launcher_exe.py path/to/Launcher.exe
Prints every mismatch and exits 1 when there is one, 0 otherwise.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
RT_MANIFEST = 24

MACHINE_I386 = 0x14C
SUBSYSTEM_WINDOWS_GUI = 2
DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}

DS_SETFONT = 0x40
DS_FIXEDSYS = 0x8
DS_CENTER = 0x800
WS_POPUP = 0x80000000
WS_EX_TRANSPARENT = 0x20


class FormatError(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise FormatError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise FormatError("no PE signature")
        coff = pe + 4
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        magic = self.u16(optional)
        if magic not in (0x10B, 0x20B):
            raise FormatError("unknown optional header magic %#x" % magic)
        self.subsystem = self.u16(optional + 68)
        self.dll_characteristics = self.u16(optional + 70)
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            _, virtual_size, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * index)
            self.sections.append((rva, max(virtual_size, raw_size), raw_at))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for start, size, raw_at in self.sections:
            if start <= rva < start + size:
                return raw_at + rva - start
        raise FormatError("address %#x is in no section" % rva)

    def resources(self):
        """{type: {name: bytes}} of the first language of each resource."""
        if self.resource_rva == 0:
            return {}
        root = self.offset(self.resource_rva)
        found = {}
        for type_id, type_dir in self._entries(root, root):
            for name_id, name_dir in self._entries(root, type_dir):
                languages = self._entries(root, name_dir)
                if not languages:
                    continue
                leaf = languages[0][1]
                data_rva, size = struct.unpack_from("<II", self.data, leaf)
                at = self.offset(data_rva)
                found.setdefault(type_id, {})[name_id] = self.data[at:at + size]
        return found

    def _entries(self, root, directory):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        entries = []
        for index in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * index)
            if name & 0x80000000:
                at = root + (name & 0x7FFFFFFF)
                length = self.u16(at)
                name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            entries.append((name, root + (target & 0x7FFFFFFF)))
        return entries


def read_sz_or_ord(data, at):
    first = struct.unpack_from("<H", data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return read_string(data, at)


def read_string(data, at):
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def parse_dialogex(data):
    version, signature, _help, exstyle, style, items, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    at = 26
    menu, at = read_sz_or_ord(data, at)
    window_class, at = read_sz_or_ord(data, at)
    title, at = read_string(data, at)
    dialog = dict(version=version, signature=signature, exstyle=exstyle, style=style, items=items,
                  x=x, y=y, cx=cx, cy=cy, menu=menu, window_class=window_class, title=title)
    if style & DS_SETFONT:
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, at)
        typeface, _ = read_string(data, at + 6)
        dialog.update(points=points, weight=weight, italic=italic, charset=charset, typeface=typeface)
    return dialog


def manifest_problems(text, per_monitor=True):
    """What the manifest lacks of the settings both programs declare: the
    supported Windows versions, DPI awareness (per-monitor with its
    fallbacks, or system-wide), long-path awareness, each in the namespace
    Windows reads it from (an element in another namespace is silently
    ignored)."""
    problems = []
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return ["manifest is no XML: %s" % error]
    if root.tag != "{%s}assembly" % ASM_V1:
        problems.append("manifest root is %s" % root.tag)
    found = {element.get("Id", "").lower()
             for element in root.iterfind("{%s}compatibility/{%s}application/{%s}supportedOS"
                                          % (COMPATIBILITY, COMPATIBILITY, COMPATIBILITY))}
    for guid, name in SUPPORTED_OS.items():
        if guid not in found:
            problems.append("manifest does not declare %s (supportedOS %s)" % (name, guid))
    settings = "{%s}application/{%s}windowsSettings/" % (ASM_V3, ASM_V3)

    def setting(namespace, name):
        element = root.find(settings + "{%s}%s" % (namespace, name))
        return None if element is None else (element.text or "").strip()

    dpi_aware = setting(SETTINGS_2005, "dpiAware")
    if per_monitor:
        if dpi_aware is None or dpi_aware.lower() != "true/pm":
            problems.append("dpiAware is %r, expected true/pm (per-monitor, system-aware before 8.1)" % dpi_aware)
        dpi_awareness = setting(SETTINGS_2016, "dpiAwareness")
        values = [value.strip().lower() for value in (dpi_awareness or "").split(",")]
        if values[:2] != ["permonitorv2", "permonitor"]:
            problems.append("dpiAwareness is %r, expected PerMonitorV2, PerMonitor" % dpi_awareness)
    elif dpi_aware is None or dpi_aware.lower() != "true":
        problems.append("dpiAware is %r, expected true (system-aware)" % dpi_aware)
    long_paths = setting(SETTINGS_2016, "longPathAware")
    if long_paths is None or long_paths.lower() != "true":
        problems.append("longPathAware is %r, expected true" % long_paths)
    return problems


def check(path):
    problems = []

    def expect(what, got, wanted):
        if got != wanted:
            problems.append("%s: %r, expected %r" % (what, got, wanted))

    with open(path, "rb") as f:
        image = PeImage(f.read())
    expect("machine", image.machine, MACHINE_I386)
    expect("subsystem", image.subsystem, SUBSYSTEM_WINDOWS_GUI)
    expect("terminal-server aware", bool(image.dll_characteristics & DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE), True)
    resources = image.resources()

    template = resources.get(RT_DIALOG, {}).get(103)
    if template is None:
        problems.append("no dialog 103")
    else:
        dialog = parse_dialogex(template)
        expect("dialog version", dialog["version"], 1)
        expect("dialog signature (extended template)", dialog["signature"], 0xFFFF)
        expect("dialog style", hex(dialog["style"]), hex(DS_SETFONT | DS_FIXEDSYS | DS_CENTER | WS_POPUP))
        expect("dialog extended style", hex(dialog["exstyle"]), hex(WS_EX_TRANSPARENT))
        expect("dialog position", (dialog["x"], dialog["y"]), (0, 0))
        expect("dialog size", (dialog["cx"], dialog["cy"]), (503, 419))
        expect("dialog controls", dialog["items"], 0)
        expect("dialog menu", dialog["menu"], "")
        expect("dialog class", dialog["window_class"], "")
        expect("dialog title", dialog["title"], "")
        expect("dialog font", tuple(dialog.get(k) for k in ("points", "weight", "italic", "charset", "typeface")),
               (8, 400, 0, 0, "MS Shell Dlg"))

    group = resources.get(RT_GROUP_ICON, {}).get(107)
    if group is None:
        problems.append("no icon group 107")
    else:
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        expect("icon group type", kind, 1)
        sizes = []
        for index in range(count):
            width, height, _, _, _, _, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
            sizes.append((width, height))
            image_bytes = resources.get(RT_ICON, {}).get(icon_id)
            if image_bytes is None or len(image_bytes) != size:
                problems.append("icon image %d missing or of the wrong size" % icon_id)
        # A 256 pixel image is stored with 0 for its width and height.
        expect("icon sizes", sorted(sizes), sorted([(0, 0), (48, 48), (32, 32), (16, 16)]))

    manifest = resources.get(RT_MANIFEST, {}).get(1)
    if manifest is None:
        problems.append("no manifest 1")
    else:
        text = manifest.decode("utf-8", "replace")
        problems.extend(manifest_problems(manifest))
        for needed in ('level="asInvoker"', 'uiAccess="false"', "Microsoft.Windows.Common-Controls"):
            if needed not in text:
                problems.append("manifest lacks %s" % needed)
        if "requireAdministrator" in text or "highestAvailable" in text:
            problems.append("manifest asks for elevation")
    return problems


def run_check(argv, arguments, usage, label, passed, check_files):
    """The command line of a checker: `check_files` on the arguments, each
    problem printed after `label`, and 0, 1 (problems) or 2 (usage)."""
    if len(argv) != arguments + 1:
        print(usage, file=sys.stderr)
        return 2
    try:
        problems = check_files(*argv[1:])
    except (OSError, FormatError, struct.error, UnicodeDecodeError) as error:
        problems = ["cannot read %s: %s" % (argv[1], error)]
    for problem in problems:
        print(label + ": " + problem)
    if not problems:
        print(label + ": " + passed)
    return 1 if problems else 0


def main(argv):
    return run_check(argv, 1, __doc__.strip().splitlines()[-2], "Launcher.exe check", "all settings as expected",
                     check)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
