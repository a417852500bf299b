#include "update/release_record.h"

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "update/version_list.h"

namespace update {

namespace {

constexpr std::string_view kEpochSeparator = " epoch ";

// 1 to `max` in plain decimal, no leading zero.
std::uint32_t readNumber(std::string_view digits, std::uint32_t max) {
  if (digits.empty() || digits.size() > 9 || digits[0] == '0') return 0;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value <= max ? value : 0;
}

}  // namespace

ReleaseMark readInstalledRelease(const char* fileName) {
  // "999999999 epoch 65535\n" is the longest record; anything much longer is
  // none. White space after it (a "\r\n" or a blank line a text editor or a
  // sync tool added) is no reason to read the record as none, which would
  // let an older release back in.
  const std::optional<std::string> text = platform::readWholeFile(fileName, 64);
  if (!text) return {};
  std::string_view line(*text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  if (line.empty()) return {};
  std::uint32_t epoch = 1;
  if (std::size_t separator = line.find(kEpochSeparator); separator != std::string_view::npos) {
    epoch = readNumber(line.substr(separator + kEpochSeparator.size()), kMaxEpoch);
    // Epoch 1 is only ever written in the short form.
    if (epoch < 2) return {};
    line = line.substr(0, separator);
  }
  const std::uint32_t release = readNumber(line, kMaxRelease);
  if (release == 0) return {};
  return {epoch, release};
}

std::string formatReleaseRecord(const ReleaseMark& mark) {
  std::string text = std::to_string(mark.release);
  if (mark.epoch > 1) text += std::string(kEpochSeparator) + std::to_string(mark.epoch);
  return text + "\n";
}

bool recordInstalledRelease(const char* fileName, const ReleaseMark& mark) {
  const std::string text = formatReleaseRecord(mark);
  return platform::replaceFileAtomically(fileName, kVersionListSideSuffix, [&text](platform::File& file) {
    return file.write(text.data(), static_cast<std::uint32_t>(text.size()));
  });
}

}  // namespace update
