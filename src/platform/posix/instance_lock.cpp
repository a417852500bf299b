// The installation's lock on POSIX: flock on "Launcher.lock" inside it. The
// descriptor is not inherited, so the game the launcher starts does not keep
// the installation locked. Whatever stands in the lock's place that is not
// a regular file (a symlink, a folder, a pipe) is removed, or set aside when
// it is a folder with something in it, and never followed or opened as the
// lock.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {

namespace {

constexpr long kPollMilliseconds = 20;

std::string lockPath(const char* installPath) {
  std::string path = installPath != nullptr ? installPath : "";
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || path.back() != '/') path += '/';
  return path + "Launcher.lock";
}

// Removes what is not a regular file from the lock's place: a symlink (the
// link itself, never its target), a pipe or an empty folder; a folder with
// something in it is renamed aside, its contents kept.
void setAside(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  if (!S_ISDIR(info.st_mode)) {
    ::unlink(path.c_str());
  } else if (::rmdir(path.c_str()) != 0) {
    const std::string aside = path + ".set-aside." + std::to_string(::getpid());
    ::rename(path.c_str(), aside.c_str());
  }
}

int openOnce(const std::string& path, int access) {
  int fd;
  do {
    fd = ::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The lock file, made if missing: a regular file, opened for writing, or
// for reading only where the player may not write (a read-only mount), which
// flock takes all the same. -1 when there is none to be had.
int openLockFile(const std::string& path) {
  // Bounded: what is set aside may be put back by someone else meanwhile.
  for (int attempt = 0; attempt < 3; ++attempt) {
    setAside(path);
    int fd = openOnce(path, O_RDWR | O_CREAT);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) fd = openOnce(path, O_RDONLY);
    if (fd < 0) {
      // ELOOP: a symlink put there after the look; EISDIR: a folder.
      if (errno == ELOOP || errno == EISDIR || errno == ENXIO) continue;
      return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
    ::close(fd);
  }
  return -1;
}

}  // namespace

InstanceLock InstanceLock::acquire(const char* installPath, std::uint32_t waitMilliseconds) {
  InstanceLock lock;
  const int fd = openLockFile(lockPath(installPath));
  if (fd < 0) return lock;
  // Polled rather than waited for, so that the wait is bounded.
  for (std::uint32_t waited = 0;; waited += kPollMilliseconds) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lock.handle_ = fd;
      return lock;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (waited >= waitMilliseconds) {
      lock.heldElsewhere_ = true;
      break;
    }
    timespec pause{0, kPollMilliseconds * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
  ::close(fd);
  return lock;
}

void InstanceLock::release() {
  if (handle_ == -1) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
