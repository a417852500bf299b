#include "support/linux/read_only_mount.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace testsupport {

ReadOnlyMount::ReadOnlyMount(std::filesystem::path folder) : folder_(std::move(folder)) {
  const char* path = folder_.c_str();
  if (::mount(path, path, nullptr, MS_BIND, nullptr) != 0) {
    error_ = std::string("bind mount: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  // A remount must keep the flags the mount below it has, or a mount
  // namespace of an unprivileged user may not make it.
  struct statvfs info {};
  unsigned long kept = 0;
  if (::statvfs(path, &info) == 0) {
    const std::pair<unsigned long, unsigned long> flags[] = {
        {ST_NOSUID, MS_NOSUID},   {ST_NODEV, MS_NODEV},           {ST_NOEXEC, MS_NOEXEC},
        {ST_NOATIME, MS_NOATIME}, {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}};
    for (const auto& [has, keep] : flags) {
      if (info.f_flag & has) kept |= keep;
    }
  }
  if (::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kept, nullptr) != 0) {
    error_ = std::string("read-only remount: ") + std::strerror(errno);
    ::umount2(path, MNT_DETACH);
    mounted_ = false;
  }
}

ReadOnlyMount::~ReadOnlyMount() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
