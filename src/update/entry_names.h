// Entry names: how a name in a version list becomes the name of a file in the
// installation, which names the launcher installs and why it refuses the
// others, and the names it keeps for itself. One rule for the plan, the
// download, the folder creation and the publishing tool, with Windows'
// meaning of names on every platform: a release that installs on one system
// installs on all.
//
// A listed name is bytes. Eight escapes stand for the letters a list line
// cannot hold or older lists spelt so ("%20" a blank, "%21" "!", and "%f1"
// "%e1" "%e9" "%ed" "%f3" "%fa" for ñ á é í ó ú). The rest of a name that is
// well-formed UTF-8 is that text; any other name is read as Windows-1252,
// the code page of the Western studios' tools that wrote such lists (one
// byte per letter: "\xfc" is ü). "/" and "\" both separate folders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/streaming_file.h"

namespace update {

// A download's side file (net::partialFilePath): no entry may end with its
// suffix, and a path must leave room for its name (16 hexadecimal digits,
// then the suffix) beside the entry. The publishing tool warns by them.
using net::kPartialSuffix;
constexpr std::size_t kSideFileNameLength = 16 + std::string_view(kPartialSuffix).size();

// The launcher's own files in the installation folder. No list entry may
// name one of them, nor use one as a folder, whatever its letter case.
// Adding a working file is adding its name here.
constexpr std::array<std::string_view, 11> kWorkingNames = {
    "version_list.txt",          // the local list
    "version_list.txt.tmp",      // its side file while it is rewritten
    "version_list.journal",      // the files recorded since it was (list_journal.h)
    "Launcher.exe.tmp",          // a fetched new launcher, before it takes over
    "Launcher.exe.new",          // the side file of the launcher's self-copy
    "Launcher.lock",             // held while a launcher runs on the installation
    "download_in_progress.txt",  // names the side file of the download in flight
    "version_release.txt",       // the highest signed release installed
    "version_release.txt.tmp",   // its side file while it is rewritten
    "Launcher.log",              // the launcher's log (run_log.h)
    "Launcher.old.log",          // the log before it, once the log was full
};

// Why a name is not installed (or, for the publishing tool, cannot be
// listed). Each has a text, nameRefusalText, for the launcher's log and the
// tool's messages.
enum class NameRefusal : std::uint8_t {
  None = 0,
  // The name, or a folder or file name in it, is empty ("a//b", "maps/").
  Empty,
  // Absolute, a drive or any colon, a NUL, or ".." (or only dots and blanks,
  // which Windows may read as "..") as a folder or file name.
  LeavesInstallation,
  // "." as a folder or file name.
  DotName,
  // A folder or file name ending in a dot or a blank, which Windows drops.
  EndsInDotOrBlank,
  // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension.
  DeviceName,
  // One of < > " | ? *, which Windows does not allow in a name.
  ForbiddenCharacter,
  // A control character: below 0x20, 0x7F, or U+0080..U+009F.
  ControlCharacter,
  // A name ending in the download side files' suffix.
  PartialSuffix,
  // A folder or file name over 255 bytes in UTF-8, which Linux file systems
  // do not hold (a name read as Windows-1252 may grow to three times its
  // listed length).
  ComponentTooLong,
  // One of the launcher's own files, or one of them as a folder.
  WorkingName,
  // Another spelling of "Launcher.exe", which only the self-update replaces.
  LauncherSpelling,
  // Only in writing a list (encodeEntryName): what a list cannot carry.
  TooLong,      // over 255 bytes once escaped
  WhiteSpace,   // white space other than the blank, which has an escape
  PercentSign,  // a "%" would read as the start of an escape
  NotText,      // the name given is not UTF-8
};

// A short English phrase for a refusal ("the name is a device name on
// Windows"), the same wherever it is reported.
std::string_view nameRefusalText(NameRefusal refusal);

// The text of a name's bytes, in UTF-8: the bytes themselves when they are
// well-formed UTF-8, otherwise each byte read as Windows-1252.
std::string textOfNameBytes(std::string_view bytes);

// The installed name of a listed name, in UTF-8: the escapes become their
// letters, and the other bytes are read as UTF-8 when the whole name is
// well-formed UTF-8, otherwise as Windows-1252.
std::string decodeEntryName(std::string_view name);

// Why a decoded entry name is not installed, or None when it is: it must
// stay inside the installation (isInstallRelativeName), every folder and
// file name between "/" or "\" must be one Windows stores as it is written,
// at most 255 bytes in UTF-8, hold no control character, not end in the side files' suffix, and the
// name must not be one of the launcher's working files nor have one as its
// folder. "Launcher.exe" is accepted only spelt exactly so.
NameRefusal entryNameRefusal(std::string_view decodedName);
bool isInstallableEntryName(std::string_view decodedName);

// True when a decoded name stays inside the installation folder: not empty,
// not absolute, no drive letter (no colon at all), no NUL byte, and no ".."
// component between "/" or "\" separators (nor one of only dots and blanks,
// which Windows may read as "..").
bool isInstallRelativeName(std::string_view decodedName);

struct EncodedEntryName {
  std::string name;  // the escaped name; empty unless refusal is None
  NameRefusal refusal = NameRefusal::None;
  std::size_t offset = 0;  // of the offending byte in the local name, where one is to blame
};

// The inverse of decodeEntryName, for writing a list: the entry name of an
// installed (UTF-8) name, with the eight escapes applied ("%20" for a blank,
// "%21" for "!", and the six letters) and every other letter as its UTF-8
// bytes. A name the list cannot carry, or the launcher would refuse, gives
// the reason.
EncodedEntryName encodeEntryName(std::string_view localName);

// The bytes a web server looks up for a listed name: each escape decoded to
// its one byte ("%f1" is 0xF1), every other byte as it is (the launcher
// percent-encodes those of 0x80 and above in its request, and the server
// decodes them back).
std::string serverFileName(std::string_view entryName);

// The name as Windows compares names: ASCII and the Latin-1 capitals folded to
// lower case, "\" as "/". Two entries whose folded names are equal are one
// file.
std::string foldedEntryName(std::string_view decodedName);

// ASCII letter case ignored, as the working names and devices are compared.
bool namesEqualIgnoringCase(std::string_view a, std::string_view b);
bool namesEndIgnoringCase(std::string_view text, std::string_view suffix);

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices in every folder,
// with any extension, and with blanks before it ("con .txt").
bool isWindowsDeviceName(std::string_view component);

}  // namespace update
