// The crash-safe replacement of a file, the same on every backend: it uses
// only File, deleteFile and replaceFile.
#include <string>

#include "platform/files.h"

namespace platform {

bool replaceFileAtomically(const char* path, const char* sideSuffix, const std::function<bool(File&)>& writeContents) {
  if (path == nullptr || *path == '\0') return false;
  const std::string side = std::string(path) + sideSuffix;
  {
    deleteFile(side.c_str());
    File file = File::open(side.c_str(), File::Access::CreateNew);
    if (!file.isOpen()) return false;
    // The side file must be whole on disk before it takes the file's place,
    // or a crash right after the rename could leave an empty file behind.
    const bool written = writeContents(file) && file.flush();
    if (!file.close() || !written) {
      deleteFile(side.c_str());
      return false;
    }
  }
  if (!replaceFile(side.c_str(), path)) {
    deleteFile(side.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
