// Loading the local list at start-up: the one place where the update engine
// learns where the installation lives.
#include "platform/files.h"
#include "settings/installation_settings.h"
#include "update/download_note.h"
#include "update/list_journal.h"
#include "update/local_file_index.h"
#include "update/version_list.h"

namespace update {

using settings::readInstallPath;

LocalListLoad loadLocalList(std::string& installPath, VersionList& list, bool mayWrite) {
  if (!readInstallPath(installPath)) return LocalListLoad::NoInstallation;
  // Every relative name of the update engine -- this list, the fetched files
  // and their folders -- is taken from here on inside the installation. A
  // folder that cannot be entered leaves the current folder where it was,
  // which is no place to write the game into.
  if (!platform::setCurrentDirectory(installPath.c_str())) return LocalListLoad::NoInstallation;
  if (mayWrite) removeDownloadLeftovers();
  // No list (a first run) or an unreadable one: everything gets fetched.
  readVersionListFile(kVersionListName, list);
  // Before anything plans from the list: the files a run that did not end
  // recorded since the list was last written.
  const JournalFold fold = foldListJournal(kVersionListName, kListJournalName, list, installationNameCase(), mayWrite);
  return mayWrite && fold == JournalFold::Kept ? LocalListLoad::JournalKept : LocalListLoad::Loaded;
}

}  // namespace update
