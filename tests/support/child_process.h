// A program started by a test as a child process of its own, so that the test
// can kill it at a moment of its choosing or let it end and read what it
// wrote. The child inherits the test's environment and network namespace.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

class ChildProcess {
 public:
  // Starts `program` with `args` in the folder `workingDir`; its standard
  // output and error go to a file of the child's own. started() tells
  // whether it could be started.
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::filesystem::path& workingDir);
  // A child still running is killed and reaped: no test leaves one behind.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // A descriptor that becomes readable when the child ends (a pidfd on
  // Linux), for poll() beside other events; -1 when the child did not start.
  int exitEvent() const { return pidfd_; }

  // Waits, at most `limit`, for the child to end. False when it is still
  // running.
  bool wait(std::chrono::milliseconds limit);
  // SIGKILL, then reaps it.
  void kill();

  bool exited() const { return reaped_; }
  // The exit code of a child that ended normally, -1 otherwise.
  int exitCode() const;
  bool killedBySignal() const;
  // Everything the child wrote to standard output and error.
  std::string output() const;

 private:
  bool reap(bool block);

  TempDir outputDir_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

}  // namespace testsupport
