// How the files of a release folder are named in a version list and on the
// update server. A folder made on Linux spells the six accented letters of
// the list format in UTF-8; one copied from Windows holds their Latin-1
// bytes. Either way the served tree holds the Latin-1 byte, the one a web
// server decodes the escape to, so that is the file's local name; the
// launcher installs the file under the letter in its own encoding (see
// installedName), and the escaped form of that is the entry name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace publish {

// The local (Latin-1) name of a relative path as the release folder spells
// it: the UTF-8 forms of ñ á é í ó ú become their Latin-1 byte; every other
// byte is kept, to be judged by encodeEntryName.
std::string localNameFromDisk(std::string_view diskName);

// Why the installation, a Windows folder, cannot hold a file of this local
// name, or empty when it can: characters Windows refuses in file names or a
// URL would cut ("<>:\"|?*\\#"), a folder or file name ending in a dot or a
// blank (Windows drops those, so two names would meet), and the device names
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension).
std::string windowsNameFault(std::string_view localName);

// Why the name collides with a file the launcher itself keeps in the
// installation, or empty when it does not. Compared ignoring ASCII case, as
// Windows does: the launcher's working files (kWorkingNames) as the name or
// its top folder, a download side file (*.ghpart) at any level, and any
// other spelling of "Launcher.exe", which only the self-update replaces.
std::string reservedNameFault(std::string_view localName);

// The installation folder the long-path warning assumes: a per-user install
// into %LOCALAPPDATA%\Programs, "C:\Users\<user>\AppData\Local\Programs\<game>",
// for a user name of 20 characters (the most a local Windows account has)
// and a game folder of 32: 85 characters.
constexpr std::size_t kTypicalUserName = 20;
constexpr std::size_t kTypicalGameFolder = 32;
constexpr std::size_t kTypicalInstallFolder = std::string_view("C:\\Users\\").size() + kTypicalUserName +
                                              std::string_view("\\AppData\\Local\\Programs\\").size() +
                                              kTypicalGameFolder;
// The longest path Windows takes without the extended-length form or the
// long-path policy: MAX_PATH (260) with its terminating null.
constexpr std::size_t kMaxPathCharacters = 259;

// Why a player's Windows may not reach the file, or empty when it will: its
// path, or that of the side file the launcher fetches it into (16 hex digits
// and ".ghpart" in its folder), counted in UTF-16 units below
// kTypicalInstallFolder, passes kMaxPathCharacters. The launcher installs it
// all the same; the game, the installer and Explorer may not open it on a
// Windows whose LongPathsEnabled policy is off.
std::string longPathWarning(std::string_view localName);

// The name the launcher installs a file of this local name under: the same
// text in UTF-8, each Latin-1 byte as its two-byte form.
std::string installedName(std::string_view localName);

// The name with ASCII letters folded to lower case: two names that fold to
// the same text are one file on Windows.
std::string foldedName(std::string_view localName);

// A name fit for a message: printable ASCII and valid UTF-8 as they are,
// every other byte as \xNN.
std::string printableName(std::string_view name);
// The same in double quotes.
std::string quotedName(std::string_view name);

}  // namespace publish
