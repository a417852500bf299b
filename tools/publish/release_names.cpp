#include "release_names.h"

#include <algorithm>
#include <cstdio>

#include "text/encoding.h"
#include "update/entry_names.h"
#include "update/list_signature.h"

using update::EncodedEntryName;
using update::encodeEntryName;
using update::kSignatureName;
using update::NameRefusal;
using update::namesEqualIgnoringCase;

namespace publish {

ListedName listedName(std::string_view diskName) {
  ListedName listed;
  if (diskName.find('\\') != std::string_view::npos) {
    listed.fault = R"(the name holds "\", which the launcher reads as a folder separator)";
    return listed;
  }
  if (namesEqualIgnoringCase(diskName, kSignatureName)) {
    listed.fault = "the update folder holds the list's signature under this name";
    return listed;
  }
  // Each folder and file name as the system that made it wrote it: a folder
  // copied from Windows may hold a file made on Linux since.
  std::string text;
  for (std::size_t start = 0; start <= diskName.size();) {
    const std::size_t stop = std::min(diskName.find('/', start), diskName.size());
    if (start > 0) text += '/';
    text += update::textOfNameBytes(diskName.substr(start, stop - start));
    start = stop + 1;
  }
  EncodedEntryName encoded = encodeEntryName(text);
  if (encoded.refusal != NameRefusal::None) {
    listed.fault = update::nameRefusalText(encoded.refusal);
    return listed;
  }
  listed.servedName = update::serverFileName(encoded.name);
  listed.entryName = std::move(encoded.name);
  listed.foldedName = update::foldedEntryName(text);
  listed.installedName = std::move(text);
  return listed;
}

std::string longPathWarning(std::string_view installed) {
  const std::size_t slash = installed.rfind('/');
  const std::size_t folderUnits =
      slash == std::string::npos ? 0 : text::utf16FromUtf8(installed.substr(0, slash + 1)).size();
  const std::size_t nameUnits = text::utf16FromUtf8(installed).size();
  const std::size_t longest =
      kTypicalInstallFolder + 1 + std::max(nameUnits, folderUnits + update::kSideFileNameLength);
  if (longest <= kMaxPathCharacters) return {};
  return "its path would be " + std::to_string(longest) +
         R"( characters long in a typical installation (C:\Users\<user>\AppData\Local\Programs\<game>, )" +
         std::to_string(kTypicalInstallFolder) + " characters), past Windows' " + std::to_string(kMaxPathCharacters) +
         ": the launcher installs it, but the game, the installer and Explorer may not open it where the "
         "long-path policy is off";
}

std::string printableName(std::string_view name) {
  std::string shown;
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += name[i++];
      continue;
    }
    if (std::size_t length = byte >= 0x80 ? text::utf8SequenceLength(name, i) : 0; length > 0) {
      shown.append(name.substr(i, length));
      i += length;
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    shown += hex;
    ++i;
  }
  return shown;
}

}  // namespace publish

namespace publish {

// Workaround for GCC 12's false -Wrestrict: built by appending, since at -O3
// it reports one inside libstdc++ for a literal put in front of a string
// ("\"" + text). Can go once the builds' GCC no longer reports it in the
// Release build.
std::string quotedName(std::string_view name) {
  std::string text("\"");
  return text.append(printableName(name)).append("\"");
}

}  // namespace publish
