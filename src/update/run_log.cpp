#include "update/run_log.h"

#include <chrono>

#include "platform/files.h"
#include "update/list_signature.h"

namespace update {

void RunLog::open(const std::string& folder) {
  path_ = folder + "\\" + kLogName;
  oldPath_ = folder + "\\" + kOldLogName;
}

void RunLog::close() {
  path_.clear();
  oldPath_.clear();
}

void RunLog::write(std::string_view event) {
  if (!isOpen()) return;
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string line = formatUtcTime(now) + " ";
  line.reserve(line.size() + event.size() + 1);
  for (char c : event) line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  line += '\n';

  // Opened for each line: nothing is held across a crash or an exit.
  platform::File file = platform::File::open(path_.c_str(), platform::File::Access::Append);
  std::uint64_t size = 0;
  if (file.isOpen() && file.size(&size) && size > 0 && size + line.size() > limitBytes) {
    file.close();
    // The full log becomes the older one. If it cannot (the old one is held
    // open elsewhere), the line is lost rather than the log passing its limit.
    if (!platform::replaceFile(path_.c_str(), oldPath_.c_str())) return;
    file = platform::File::open(path_.c_str(), platform::File::Access::Append);
  }
  if (!file.isOpen()) return;
  // A lost line must not stop the launcher.
  static_cast<void>(file.write(line.data(), static_cast<std::uint32_t>(line.size())));
}

RunLog& runLog() {
  static RunLog log;
  return log;
}

void logSkippedEntry(std::string_view name, std::string_view reason) {
  std::string event = "skipped ";
  event += name;
  event += ": ";
  event += reason;
  runLog().write(event);
}

}  // namespace update
