// nginx from the distribution, run by a test in the foreground to serve a
// folder on port 80 of the test's private loopback: a server nobody here
// wrote, to check the client against.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace testsupport {

class NginxServer {
 public:
  static constexpr const char* kProgram = "/usr/sbin/nginx";

  // Starts nginx serving `root` on address:80 and waits, bounded, until it
  // accepts connections.
  explicit NginxServer(const std::filesystem::path& root, const std::string& address = "127.0.0.1");
  // Stops nginx and waits for it.
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool running() const { return running_; }
  // nginx's error log, for a failure message.
  std::string errorLog() const;

 private:
  TempDir work_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace testsupport
