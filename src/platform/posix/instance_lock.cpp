// The installation's lock on POSIX: flock on "Launcher.lock" inside it. The
// descriptor is not inherited, so the game the launcher starts does not keep
// the installation locked.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
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

}  // namespace

InstanceLock InstanceLock::acquire(const char* installPath, std::uint32_t waitMilliseconds) {
  InstanceLock lock;
  const std::string path = lockPath(installPath);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return lock;
  // Polled rather than waited for, so that the wait is bounded.
  for (std::uint32_t waited = 0;; waited += kPollMilliseconds) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lock.handle_ = fd;
      return lock;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= waitMilliseconds) break;
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
