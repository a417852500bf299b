// How the files of a release folder are named in a version list, in the
// served folder and in the installation. The name rule is the launcher's own
// (update/entry_names.h): the tool refuses what the launcher would refuse,
// with the launcher's reason, before anything is published.
//
// A folder made on Linux spells its names in UTF-8; one copied from Windows
// may hold a Western code page's bytes (one byte per letter). Either way
// each folder and file name is read as the launcher reads a listed name
// (UTF-8 when well-formed, otherwise Windows-1252), and the name written to the list with the launcher's
// escapes for a blank, "!" and ñ á é í ó ú, every other letter in UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace publish {

struct ListedName {
  std::string entryName;      // as the list carries it
  std::string servedName;     // the bytes the served folder holds the file under: what a web server looks up
  std::string installedName;  // the name the launcher installs the file under, UTF-8
  std::string foldedName;     // two names that fold alike are one file on Windows
  std::string fault;          // why the file cannot be listed; the fields above are empty then
};

// The names of the file at `diskName` (relative, "/" between folders, as the
// release folder spells it), or why it cannot be listed: the launcher's
// reason (nameRefusalText) for a name it would refuse, or one of the
// folder's own: a "\" in a file or folder name (the launcher reads it as a
// folder separator), or "version_list.sig", which the update folder holds
// beside the list.
ListedName listedName(std::string_view diskName);

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

// Why a player's Windows may not reach the file installed under this name
// (UTF-8), or empty when it will: its path, or that of the side file the launcher fetches it into (16 hex digits
// and ".ghpart" in its folder), counted in UTF-16 units below
// kTypicalInstallFolder, passes kMaxPathCharacters. The launcher installs it
// all the same; the game, the installer and Explorer may not open it on a
// Windows whose LongPathsEnabled policy is off.
std::string longPathWarning(std::string_view installedName);

// A name fit for a message: printable ASCII and valid UTF-8 as they are,
// every other byte as \xNN.
std::string printableName(std::string_view name);
// The same in double quotes.
std::string quotedName(std::string_view name);

}  // namespace publish
