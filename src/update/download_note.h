// The note of the download in flight: before a file's side file is made, its
// name is written to "download_in_progress.txt" in the installation folder.
// A run that is killed, or closed mid-download, leaves at most that one side
// file, and the next run finds it through the note and removes it before it
// fetches anything, even when the server no longer lists that file.
#pragma once

#include <string>

namespace update {

constexpr const char* kDownloadNoteName = "download_in_progress.txt";

// Notes `sidePath` (relative to the installation folder, the current folder)
// as the side file about to be made. False when the note could not be
// written; the download goes on without it (a killed run then leaves a side
// file that only the next completed run removes).
bool noteDownloadInFlight(const std::string& sidePath);

// Removes what an earlier run left: the side file named in the note, the
// note itself and the local list's side file. Only a name that stays inside
// the installation and ends as a download side file is removed.
void removeDownloadLeftovers();

// Clears the places of the launcher's working files (kWorkingNames, but for
// the lock, which is the lock's own) of empty folders an older launcher may
// have left there. False when one of them still holds something the
// launcher cannot use as its file: a folder with something in it, or a file
// it may not open.
[[nodiscard]] bool clearWorkingFilePlaces();

}  // namespace update
