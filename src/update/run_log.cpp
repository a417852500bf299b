#include "update/run_log.h"

#include <chrono>

#include "platform/files.h"

namespace update {

namespace {

std::string twoDigits(unsigned value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::string isoUtcTime(std::int64_t secondsSince1970) {
  std::int64_t days = secondsSince1970 / 86400;
  std::int64_t seconds = secondsSince1970 % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  // Days since 1970-01-01 to a civil date, in 400-year eras of 146097 days
  // that start on 0000-03-01.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  const auto secondOfDay = static_cast<unsigned>(seconds);
  return std::to_string(year) + "-" + twoDigits(month) + "-" + twoDigits(day) + "T" + twoDigits(secondOfDay / 3600) +
         ":" + twoDigits(secondOfDay / 60 % 60) + ":" + twoDigits(secondOfDay % 60) + "Z";
}

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
  std::string line = isoUtcTime(now) + " ";
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
