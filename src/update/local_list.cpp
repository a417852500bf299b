// Loading the local list at start-up: the one place where the update engine
// learns where the installation lives.
#include "platform/files.h"
#include "settings/installation_settings.h"
#include "update/version_list.h"

void loadLocalList(std::string& installPath, VersionList& list) {
  if (!readInstallPath(installPath)) return;
  // Every relative name of the update engine -- this list, the fetched files
  // and their folders -- is taken from here on inside the installation.
  platform::setCurrentDirectory(installPath.c_str());
  // No list (a first run) or an unreadable one: everything gets fetched.
  readVersionListFile(kVersionListName, list);
}
