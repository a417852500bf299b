// The launcher's log, "Launcher.log" in the installation folder: one line
// per event, each starting with its time in UTC (ISO 8601), for a player to
// send to support when something goes wrong. It stays small: once it would
// pass its limit (1 MiB) it becomes "Launcher.old.log", replacing the one
// before, and a new log begins. Nothing is written until a folder is given,
// so no line lands outside an installation. Both names are working names
// (kWorkingNames): no list entry can name them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace update {

constexpr const char* kLogName = "Launcher.log";
constexpr const char* kOldLogName = "Launcher.old.log";
constexpr std::uint64_t kLogLimitBytes = std::uint64_t{1} << 20;

class RunLog {
 public:
  // Lines go to folder\Launcher.log from now on.
  void open(const std::string& folder);
  // Writes nothing more.
  void close();
  bool isOpen() const { return !path_.empty(); }
  // Appends "<time> <event>" as one line; control characters in the event
  // become blanks, so a line stays one line. A log that cannot be written
  // loses the line and nothing else: the launcher goes on.
  void write(std::string_view event);

  // The log's limit in bytes; tests lower it.
  std::uint64_t limitBytes = kLogLimitBytes;

 private:
  std::string path_;
  std::string oldPath_;
};

// The process's one log, opened by the launcher once it holds the
// installation.
RunLog& runLog();

// One entry of the server's list that is not installed, and why: "skipped
// NAME: REASON".
void logSkippedEntry(std::string_view name, std::string_view reason);

}  // namespace update
