#include "update/download_note.h"

#include "net/streaming_file.h"
#include "platform/files.h"
#include "update/entry_names.h"
#include "update/version_list.h"

namespace update {

using net::kPartialSuffix;

bool noteDownloadInFlight(const std::string& sidePath) {
  // Made afresh like every file the launcher writes for itself. Not flushed:
  // the note must outlive a killed process, whose writes the system keeps,
  // not a lost disk; and a flush per file would slow a list of many files.
  platform::deleteFile(kDownloadNoteName);
  platform::File note = platform::File::open(kDownloadNoteName, platform::File::Access::CreateNew);
  const std::string line = sidePath + "\n";
  bool written = note.isOpen() && note.write(line.data(), static_cast<std::uint32_t>(line.size()));
  return note.close() && written;
}

void removeDownloadLeftovers() {
  platform::File note = platform::File::open(kDownloadNoteName, platform::File::Access::ReadExisting);
  if (note.isOpen()) {
    char text[1024];
    std::uint32_t got = 0;
    // A note cut short by a kill lacks its line end and names nothing: its
    // side file was never made.
    if (note.read(text, sizeof text, &got) && got > 1 && text[got - 1] == '\n') {
      const std::string sidePath(text, got - 1);
      const std::string suffix = kPartialSuffix;
      const bool isSideFile = sidePath.size() > suffix.size() &&
                              sidePath.compare(sidePath.size() - suffix.size(), suffix.size(), suffix) == 0;
      if (isSideFile && isInstallRelativeName(sidePath)) platform::deleteFile(sidePath.c_str());
    }
    note.close();
    platform::deleteFile(kDownloadNoteName);
  }
  platform::deleteFile(versionListSideName(kVersionListName).c_str());
}

bool clearWorkingFilePlaces() {
  bool clear = true;
  for (const std::string_view working : kWorkingNames) {
    if (working == "Launcher.lock") continue;
    const std::string name(working);
    // An empty folder goes; a file stays, as does a folder that is not empty.
    static_cast<void>(platform::removeDirectory(name.c_str()));
    if (platform::accessCheck(name.c_str()) == 0 &&
        !platform::File::open(name.c_str(), platform::File::Access::ReadExisting).isOpen()) {
      clear = false;
    }
  }
  return clear;
}

}  // namespace update
