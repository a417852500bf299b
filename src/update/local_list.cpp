// Loading the local list at start-up: the one place where the update engine
// learns where the installation lives.
#include "platform/files.h"
#include "settings/installation_settings.h"
#include "update/download_note.h"
#include "update/version_list.h"

namespace update {

using settings::readInstallPath;

bool loadLocalList(std::string& installPath, VersionList& list, bool mayWrite) {
  if (!readInstallPath(installPath)) return false;
  // Every relative name of the update engine -- this list, the fetched files
  // and their folders -- is taken from here on inside the installation. A
  // folder that cannot be entered leaves the current folder where it was,
  // which is no place to write the game into.
  if (!platform::setCurrentDirectory(installPath.c_str())) return false;
  if (mayWrite) removeDownloadLeftovers();
  // No list (a first run) or an unreadable one: everything gets fetched.
  readVersionListFile(kVersionListName, list);
  return true;
}

}  // namespace update
