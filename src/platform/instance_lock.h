// One launcher per installation, shaped after CreateMutexW with a name made
// from the installation folder, WaitForSingleObject, ReleaseMutex and
// CloseHandle. On POSIX the lock is a lock (flock) on "Launcher.lock" in the
// installation folder. Either way the system drops it when its process ends,
// however it ends, so a killed launcher never blocks the next one. A lock
// that cannot be made at all (an installation the player cannot write, on
// POSIX) is not held, and not held elsewhere either.
#pragma once

#include <cstdint>

namespace platform {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock() { release(); }
  InstanceLock(InstanceLock&& other) noexcept : handle_(other.handle_), heldElsewhere_(other.heldElsewhere_) {
    other.handle_ = -1;
  }
  InstanceLock& operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
      release();
      handle_ = other.handle_;
      heldElsewhere_ = other.heldElsewhere_;
      other.handle_ = -1;
    }
    return *this;
  }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock of the installation at `installPath` (UTF-8, "\" or "/"
  // between folders; letter case and a trailing separator do not make
  // another installation on Windows), waiting at most `waitMilliseconds` for
  // the launcher that holds it. The result holds nothing when another
  // process kept it (heldElsewhere), or when it could not be made.
  static InstanceLock acquire(const char* installPath, std::uint32_t waitMilliseconds);

  bool isHeld() const { return handle_ != -1; }
  // Not held because another process kept it until the wait ended.
  bool heldElsewhere() const { return heldElsewhere_; }
  // ReleaseMutex and CloseHandle. Safe to call twice.
  void release();

 private:
  std::intptr_t handle_ = -1;
  bool heldElsewhere_ = false;
};

}  // namespace platform
