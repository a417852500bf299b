// Test main for binaries whose tests run servers on port 80: before any test
// (and before any thread) the process moves into a network namespace of its
// own, whose loopback nobody else uses, so the tests neither collide with a
// server on this machine nor reach past it; and into a mount namespace of its
// own, where a test may mount a folder read-only (ReadOnlyMount) without
// anyone else seeing it. Namespaces are Linux's; the Windows build has
// support/win32_netns_main.cpp.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

bool writeFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

bool enterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    // Without the right to make a network namespace, make a user namespace in
    // which this user is root, as `unshare -rn` does.
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n")) return false;
    if (!writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) return false;
  }
  // Nothing mounted here reaches the mount namespace this one came from.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

}  // namespace

int main(int argc, char** argv) {
  if (!enterPrivateNetwork()) {
    std::fprintf(stderr, "cannot enter a private network namespace: %s\n", std::strerror(errno));
    return 1;
  }
  ::setenv("GLIMMERHOLD_PRIVATE_NETWORK", "1", 1);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
