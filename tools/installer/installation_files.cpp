// The installer's and the uninstaller's helper, carried in their plug-in
// folder and run with the installation folder:
//
//   glimmerhold_files.exe in-use FOLDER
//     Exits with 1 while a launcher runs on the installation (it holds the
//     installation's lock) or Launcher.exe, Launcher.exe.tmp or
//     Glimmerhold.exe in it is a running program (it cannot be opened for
//     writing), else 0.
//
//   glimmerhold_files.exe write-list FOLDER PLACED TRUSTED [CARRIED]
//     Rewrites FOLDER\version_list.txt as update::installerList gives it,
//     atomically, as the launcher does, after folding into it the list's
//     journal a launcher that did not end left (update::foldListJournal): PLACED names, one a line in UTF-8,
//     every file the installer places; TRUSTED is 1 when the list found may
//     name what the launcher fetched; CARRIED is the release's list. Without
//     CARRIED (before anything is placed) the list keeps only what the
//     installer will not touch. Exits with 0 once written, 2 when it could
//     not be.
//
//   glimmerhold_files.exe record-release FOLDER LIST SIGNATURE
//     Writes FOLDER\version_release.txt for the signed release the installer
//     carries (update::recordCarriedRelease): when SIGNATURE verifies over
//     LIST under the keys this program was built with, and only forward.
//     Its expiry is not held against it. Exits with 0 when recorded or when
//     there is nothing to record (no keys, a later record there), 3 when the
//     signature does not verify, 2 when the files cannot be read or the
//     record written.
//
//   glimmerhold_files.exe remove-working FOLDER
//     Folds the list's journal into version_list.txt, then removes the
//     launcher's working files (update::kWorkingNames) but
//     version_list.txt, which the uninstaller reads afterwards, and the side
//     file of the download in flight that download_in_progress.txt names.
//     Exits with 0, or 2 when the folder cannot be entered.
//
//   glimmerhold_files.exe remove-empty-folders FOLDER
//     Removes every empty folder below FOLDER, deepest first, such as those
//     the launcher made for files it had not fetched yet. Links to folders
//     are neither entered nor removed. Exits with 0.
//
// Exit code 64: the command line is not one of these.
//
// Its name avoids the words ("install", "setup", "update") from which
// Windows guesses that an unmanifested program wants administrator rights.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/win32/wide_text.h"
#include "update/download_note.h"
#include "update/entry_names.h"
#include "update/installer_list.h"
#include "update/list_journal.h"
#include "update/list_signature.h"
#include "update/local_file_index.h"
#include "update/update_key.h"
#include "update/version_list.h"

namespace {

constexpr int kUsage = 64;
// Deeper than any path Windows lets a program make without long paths.
constexpr int kMaxFolderDepth = 128;

bool isRunningProgram(const std::string& path) {
  HANDLE file = ::CreateFileW(platform::wideText(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return false;
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

int inUse(const std::string& folder) {
  // The launcher's own lock, taken and given back at once.
  platform::InstanceLock lock = platform::InstanceLock::acquire(folder.c_str(), 0);
  if (!lock.isHeld()) return 1;
  lock.release();
  for (const char* program : {"Launcher.exe", "Launcher.exe.tmp", "Glimmerhold.exe"}) {
    if (isRunningProgram(folder + "\\" + program)) return 1;
  }
  return 0;
}

std::optional<std::vector<std::string>> readNames(const std::string& path) {
  std::optional<std::string> text = platform::readWholeFile(path.c_str(), std::size_t{64} << 20);
  if (!text) return std::nullopt;
  std::vector<std::string> names;
  std::size_t start = 0;
  // The UTF-8 byte order mark the stage may write.
  if (text->compare(0, 3, "\xef\xbb\xbf") == 0) start = 3;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string name = text->substr(start, end - start);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

int writeList(const std::string& folder, const std::string& placedPath, bool trusted,
              const std::optional<std::string>& carriedPath) {
  std::optional<std::vector<std::string>> placed = readNames(placedPath);
  update::VersionList carried;
  if (!placed || (carriedPath && !update::readVersionListFile(carriedPath->c_str(), carried))) return 2;
  // From here on names are relative to the installation, as the launcher's.
  if (!platform::setCurrentDirectory(folder.c_str())) return 2;
  update::VersionList previous;
  // No list, or an unreadable one, names nothing the launcher fetched.
  static_cast<void>(update::readVersionListFile(update::kVersionListName, previous));
  // What a launcher that did not end recorded since is in the list's journal:
  // folded into the list first, so that no journal outlives the list written
  // below and names, at the next start, files the installer has replaced.
  if (update::foldListJournal(update::kVersionListName, update::kListJournalName, previous,
                              update::installationNameCase(), true) == update::JournalFold::Kept) {
    return 2;
  }
  const auto sizeOf = [](const std::string& name) -> std::optional<std::uint64_t> {
    platform::File file = platform::File::open(name.c_str(), platform::File::Access::ReadExisting);
    std::uint64_t bytes = 0;
    if (!file.isOpen() || !file.size(&bytes)) return std::nullopt;
    return bytes;
  };
  const update::VersionList written = update::installerList(carried, *placed, previous, trusted, sizeOf);
  return update::saveLocalList(update::kVersionListName, written) ? 0 : 2;
}

int recordRelease(const std::string& folder, const std::string& listPath, const std::string& signaturePath) {
  const std::optional<std::string> list = platform::readWholeFile(listPath.c_str(), update::kMaxListBytes);
  const std::optional<std::string> signature =
      platform::readWholeFile(signaturePath.c_str(), update::kMaxSignatureBytes);
  if (!list || !signature || !platform::setCurrentDirectory(folder.c_str())) return 2;
  switch (update::recordCarriedRelease(update::compiledUpdateTrust(), *list, *signature)) {
    case update::CarriedRelease::NotVerified: return 3;
    case update::CarriedRelease::NotWritten: return 2;
    default: return 0;
  }
}

int removeWorking(const std::string& folder) {
  if (!platform::setCurrentDirectory(folder.c_str())) return 2;
  update::removeDownloadLeftovers();
  // The uninstaller reads the list next: it must name what the journal
  // records too. A journal that cannot be folded goes with the others.
  update::VersionList listed;
  static_cast<void>(update::readVersionListFile(update::kVersionListName, listed));
  static_cast<void>(update::foldListJournal(update::kVersionListName, update::kListJournalName, listed,
                                            update::installationNameCase(), true));
  for (std::string_view name : update::kWorkingNames) {
    if (name != update::kVersionListName) platform::deleteFile(std::string(name).c_str());
  }
  return 0;
}

// Removes the empty folders below `folder` (UTF-16), deepest first; true when
// `folder` itself is then empty. Links to folders (reparse points) are
// neither entered nor removed: what they point at is not the installation's.
bool removeEmptyFolders(const std::wstring& folder, int depth) {
  if (depth > kMaxFolderDepth) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const std::wstring path = folder + L"\\" + name;
    if (isFolder && !isLink && removeEmptyFolders(path, depth + 1) && ::RemoveDirectoryW(path.c_str())) continue;
    empty = false;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return empty;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return kUsage;
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(platform::utf8Text(wide[i]));
  ::LocalFree(wide);

  if (arguments.size() == 2 && arguments[0] == "in-use") return inUse(arguments[1]);
  if (arguments.size() == 2 && arguments[0] == "remove-working") return removeWorking(arguments[1]);
  if (arguments.size() == 4 && arguments[0] == "record-release") {
    return recordRelease(arguments[1], arguments[2], arguments[3]);
  }
  if (arguments.size() == 2 && arguments[0] == "remove-empty-folders") {
    static_cast<void>(removeEmptyFolders(platform::wideText(arguments[1]), 0));
    return 0;
  }
  if ((arguments.size() == 4 || arguments.size() == 5) && arguments[0] == "write-list" &&
      (arguments[3] == "0" || arguments[3] == "1")) {
    std::optional<std::string> carried;
    if (arguments.size() == 5) carried = arguments[4];
    return writeList(arguments[1], arguments[2], arguments[3] == "1", carried);
  }
  return kUsage;
}
