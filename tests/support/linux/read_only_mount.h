// A folder made read-only for the test binary: a read-only bind mount of the
// folder over itself, in the binary's private mount namespace (see
// netns_main.cpp), undone when the object goes. Writes below the folder then
// fail with EROFS for every user, root included, as on a read-only medium.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class ReadOnlyMount {
 public:
  explicit ReadOnlyMount(std::filesystem::path folder);
  ~ReadOnlyMount();
  ReadOnlyMount(const ReadOnlyMount&) = delete;
  ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

  bool mounted() const { return mounted_; }
  // Why it could not be mounted.
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace testsupport
