// Which list entries the launcher may install, and the names it keeps for
// itself in the installation folder. One rule for the plan, the download, the
// folder creation and the publishing tool, with Windows' meaning of names on
// every platform: a release that installs on one system installs on all.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace update {

// The launcher's own files in the installation folder. No list entry may
// name one of them, nor use one as a folder, whatever its letter case.
// Adding a working file is adding its name here.
constexpr std::array<std::string_view, 10> kWorkingNames = {
    "version_list.txt",          // the local list
    "version_list.txt.tmp",      // its side file while it is rewritten
    "Launcher.exe.tmp",          // a fetched new launcher, before it takes over
    "Launcher.exe.new",          // the side file of the launcher's self-copy
    "Launcher.lock",             // held while a launcher runs on the installation
    "download_in_progress.txt",  // names the side file of the download in flight
    "version_release.txt",       // the highest signed release installed
    "version_release.txt.tmp",   // its side file while it is rewritten
    "Launcher.log",              // the launcher's log (run_log.h)
    "Launcher.old.log",          // the log before it, once the log was full
};

// True when a decoded entry name may be fetched and installed: it stays
// inside the installation (see isInstallRelativeName), every component
// between "/" or "\" is a name Windows stores as it is written (not empty,
// not "." or "..", not ending in a dot or a blank, no device name such as
// "CON" or "lpt1.txt", none of < > " | ? * or a control character, none
// ending in kPartialSuffix, the download side files' ending), the whole
// is well-formed UTF-8, and it is none of the launcher's working files, nor
// has one of them as a folder. "Launcher.exe" is accepted only spelt exactly
// so, the entry the self-update owns; any other spelling of it is refused.
bool isInstallableEntryName(std::string_view decodedName);

// The name as Windows compares names: ASCII and the Latin-1 capitals folded to
// lower case. Two entries whose folded names are equal are one file.
std::string foldedEntryName(std::string_view decodedName);

// ASCII letter case ignored, as the working names and devices are compared.
bool namesEqualIgnoringCase(std::string_view a, std::string_view b);
bool namesEndIgnoringCase(std::string_view text, std::string_view suffix);

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices in every folder,
// with any extension, and with blanks before it ("con .txt").
bool isWindowsDeviceName(std::string_view component);

}  // namespace update
