#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "support/process_end.h"

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                           const std::filesystem::path& workingDir) {
  std::string outputPath = (outputDir_ / "output.txt").string();
  std::string dir = workingDir.string();
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> argvText{program.string()};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, argvText[0].c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return;
  pid_ = pid;
  pidfd_ = processEndDescriptor(pid_);
}

ChildProcess::~ChildProcess() {
  if (started() && !reaped_) kill();
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool ChildProcess::reap(bool block) {
  if (reaped_) return true;
  for (;;) {
    pid_t got = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
    if (got == pid_) {
      reaped_ = true;
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

bool ChildProcess::wait(std::chrono::milliseconds limit) {
  if (!started()) return false;
  if (pidfd_ >= 0) {
    pollfd ended{pidfd_, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&ended, 1, static_cast<int>(limit.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && reap(true);
  }
  // Without pidfds, a bounded poll of the child's state.
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(1000);
  }
  return true;
}

void ChildProcess::kill() {
  if (!started() || reaped_) return;
  ::kill(pid_, SIGKILL);
  reap(true);
}

int ChildProcess::exitCode() const { return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

bool ChildProcess::killedBySignal() const { return reaped_ && WIFSIGNALED(status_); }

std::string ChildProcess::output() const { return readFile(outputDir_ / "output.txt"); }

}  // namespace testsupport
