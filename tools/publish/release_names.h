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

// A name fit for a message: printable ASCII and valid UTF-8 as they are,
// every other byte as \xNN.
std::string printableName(std::string_view name);
// The same in double quotes.
std::string quotedName(std::string_view name);

}  // namespace publish
