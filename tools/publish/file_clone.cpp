#include "file_clone.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "file_descriptor.h"

namespace publish {

namespace fs = std::filesystem;

namespace {

// True when the reflink was made. False with `error` empty when the file
// system cannot make one here (another file system, or none offered).
bool reflink(const fs::path& from, const fs::path& to, std::error_code& error) {
  FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0) {
    error.assign(errno, std::generic_category());
    return false;
  }
  FileDescriptor target(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (target.get() < 0) {
    error.assign(errno, std::generic_category());
    return false;
  }
  if (::ioctl(target.get(), FICLONE, source.get()) == 0) {
    if (target.close()) return true;
    error.assign(errno, std::generic_category());
  }
  // EOPNOTSUPP, EXDEV, EINVAL, ENOTTY ...: no reflink here; copy instead.
  ::unlink(to.c_str());
  return false;
}

}  // namespace

bool cloneFile(const fs::path& from, const fs::path& to, std::error_code& error, bool* reflinked) {
  error.clear();
  const bool shared = reflink(from, to, error);
  if (reflinked != nullptr) *reflinked = shared;
  if (shared) return true;
  if (error) return false;
  if (fs::copy_file(from, to, fs::copy_options::none, error)) return true;
  std::error_code ignored;
  fs::remove(to, ignored);
  return false;
}

}  // namespace publish
