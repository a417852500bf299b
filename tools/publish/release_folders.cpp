#include "release_folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "file_descriptor.h"
#include "platform/files.h"
#include "release_names.h"
#include "update/version_list.h"

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPointerHead =
    "// The release the launcher installs, written by glimmerhold-publish.\n"
    "var glimmerholdRelease = \"releases/";
constexpr const char* kPointerTail = "/\";\n";

// A folder's number: decimal, no leading zero, below 10^18; else nothing.
std::optional<std::uint64_t> releaseNumber(const std::string& name) {
  if (name.empty() || name.size() > 18 || name[0] == '0' || name.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(name);
}

std::string shown(const fs::path& path) { return quotedName(path.string()); }

bool syncFolder(const fs::path& folder, std::string& error) {
  FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (descriptor.get() < 0 || ::syncfs(descriptor.get()) != 0) {
    error = "cannot flush " + shown(folder) + " to disk: " + std::error_code(errno, std::generic_category()).message();
    return false;
  }
  return true;
}

}  // namespace

std::string releasePointerText(std::uint64_t number) { return kPointerHead + std::to_string(number) + kPointerTail; }

bool lockReleaseFolders(const fs::path& root, int& lock, std::string& error) {
  const fs::path releases = root / kReleasesFolder;
  std::error_code code;
  fs::create_directories(releases, code);
  lock = code ? -1 : ::open(releases.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock < 0) {
    error = "cannot make or open " + shown(releases) + ": " +
            (code ? code.message() : std::error_code(errno, std::generic_category()).message());
    return false;
  }
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    error = (errno == EWOULDBLOCK
                 ? "another publish into " + shown(root) + " is running; run again when it has ended"
                 : "cannot lock " + shown(releases) + ": " + std::error_code(errno, std::generic_category()).message());
    return false;
  }
  return true;
}

void removeUnfinished(const fs::path& root) {
  std::error_code code;
  std::vector<fs::path> unfinished;
  for (fs::directory_iterator it(root / kReleasesFolder, code), end; !code && it != end; it.increment(code)) {
    // ".<N>.publish-XXXXXX", and its ".old" (served_tree.h)
    const std::string name = it->path().filename().string();
    const std::size_t dot = name.find('.', 1);
    if (name[0] == '.' && dot != std::string::npos && releaseNumber(name.substr(1, dot - 1)) &&
        name.compare(dot, 9, ".publish-") == 0) {
      unfinished.push_back(it->path());
    }
  }
  for (const fs::path& path : unfinished) fs::remove_all(path, code);
}

bool readReleaseFolders(const fs::path& root, ReleaseFolders& folders, std::string& error) {
  folders = ReleaseFolders{root};
  const fs::path pointer = root / kReleasePointerName;
  std::error_code code;
  if (fs::exists(pointer, code)) {
    const std::optional<std::string> text = platform::readWholeFile(pointer.c_str(), 4096);
    const std::string head = kPointerHead;
    std::optional<std::uint64_t> number;
    if (text && text->rfind(head, 0) == 0) {
      const std::size_t end = text->find('/', head.size());
      if (end != std::string::npos) number = releaseNumber(text->substr(head.size(), end - head.size()));
    }
    if (!number || *text != releasePointerText(*number) || !fs::is_directory(folders.folder(*number), code)) {
      error = shown(pointer) + " does not name a release folder of " + shown(root) +
              " as this tool writes it; it is not replaced";
      return false;
    }
    folders.current = *number;
  }
  const fs::path releases = root / kReleasesFolder;
  if (!fs::exists(releases, code)) return true;
  for (fs::directory_iterator it(releases, code), end; !code && it != end; it.increment(code)) {
    const std::optional<std::uint64_t> number = releaseNumber(it->path().filename().string());
    if (number && *number > folders.highest) folders.highest = *number;
  }
  if (code) {
    error = "cannot read " + shown(releases) + ": " + code.message();
    return false;
  }
  if (folders.next() == std::numeric_limits<std::uint64_t>::max()) {
    error = "no release number is left after the folders in " + shown(releases);
    return false;
  }
  return true;
}

// The pointer's side file while it is replaced: "release.js.tmp".
constexpr const char* kPointerSideSuffix = ".tmp";

bool pointAtRelease(const ReleaseFolders& folders, std::uint64_t number, std::string& error) {
  if (!syncFolder(folders.folder(number), error)) return false;
  const std::string text = releasePointerText(number);
  const fs::path pointer = folders.root / kReleasePointerName;
  const bool written = platform::replaceFileAtomically(pointer.c_str(), kPointerSideSuffix, [&](platform::File& file) {
    return file.write(text.data(), static_cast<std::uint32_t>(text.size()));
  });
  if (!written || !syncFolder(folders.root, error)) {
    if (error.empty()) error = "cannot write " + shown(pointer);
    return false;
  }
  return true;
}

}  // namespace publish
