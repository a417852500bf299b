#include "update/list_signature.h"

#include <algorithm>
#include <array>

namespace update {

namespace {

constexpr std::string_view kProductField = "product ";
constexpr std::string_view kChannelField = "channel ";
constexpr std::string_view kEpochField = "epoch ";
constexpr std::string_view kReleaseField = "release ";
constexpr std::string_view kExpiresField = "expires ";
constexpr std::string_view kSignatureField = "ecdsa-p256-sha256 ";
constexpr std::string_view kMessagePrefix = "glimmerhold signed list\n";
// Ends the fields in the signed message: no field line can be it, so the
// boundary between the fields and the list is fixed, and an optional line
// (the expiry) cannot be moved from one into the other.
constexpr std::string_view kMessageListLine = "list\n";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  // Lower case only, as written: one spelling per signature.
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Takes `field` and the line it starts off the front of `text`: the value
// between them and the "\n", which must be there.
std::optional<std::string_view> takeLine(std::string_view& text, std::string_view field) {
  if (!text.starts_with(field)) return std::nullopt;
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view value = text.substr(field.size(), end - field.size());
  text.remove_prefix(end + 1);
  return value;
}

// 1 to `max` in plain decimal: no sign, blank or leading zero.
std::optional<std::uint32_t> parseNumber(std::string_view digits, std::uint32_t max) {
  if (digits.empty() || digits.size() > 9 || digits[0] == '0') return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Exactly `count` digits.
std::optional<int> fixedDigits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = year / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

void appendHex(std::string& text, const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
}

// The lines before the signature's, as written.
std::string formatFields(const ListSignature& signature) {
  std::string text = std::string(kProductField) + signature.product + "\n";
  text += std::string(kChannelField) + signature.channel + "\n";
  text += std::string(kEpochField) + std::to_string(signature.epoch) + "\n";
  text += std::string(kReleaseField) + std::to_string(signature.release) + "\n";
  if (signature.expires != 0) text += std::string(kExpiresField) + formatUtcTime(signature.expires) + "\n";
  return text;
}

}  // namespace

bool isLater(const ReleaseMark& mark, const ReleaseMark& than) {
  return mark.epoch != than.epoch ? mark.epoch > than.epoch : mark.release > than.release;
}

bool isValidProduct(std::string_view product) {
  if (product.empty() || product.size() > kMaxProductBytes || product.front() == ' ' || product.back() == ' ') {
    return false;
  }
  return std::ranges::all_of(product, [](char c) { return c >= ' ' && c <= '~'; });
}

bool isValidChannel(std::string_view channel) {
  if (channel.empty() || channel.size() > kMaxChannelBytes) return false;
  return std::ranges::all_of(channel, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
  });
}

std::optional<std::int64_t> parseUtcTime(std::string_view text) {
  // 2027-01-31T00:00:00Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z') {
    return std::nullopt;
  }
  const std::optional<int> year = fixedDigits(text, 0, 4);
  const std::optional<int> month = fixedDigits(text, 5, 2);
  const std::optional<int> day = fixedDigits(text, 8, 2);
  const std::optional<int> hour = fixedDigits(text, 11, 2);
  const std::optional<int> minute = fixedDigits(text, 14, 2);
  const std::optional<int> second = fixedDigits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *year < 2000 || *month < 1 || *month > 12 || *day < 1 ||
      *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  return daysFromCivil(*year, *month, *day) * 86400 + std::int64_t{*hour} * 3600 + std::int64_t{*minute} * 60 + *second;
}

std::string formatUtcTime(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The inverse of daysFromCivil.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const std::int64_t fields[] = {year, month, day, rest / 3600, rest / 60 % 60, rest % 60};
  std::string out;
  const char separators[] = {'-', '-', 'T', ':', ':', 'Z'};
  for (std::size_t i = 0; i < 6; ++i) {
    std::string digits = std::to_string(fields[i]);
    const std::size_t width = i == 0 ? 4 : 2;
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    out += digits;
    out += separators[i];
  }
  return out;
}

std::optional<ListSignature> parseListSignature(std::string_view text) {
  if (text.size() > kMaxSignatureBytes) return std::nullopt;
  ListSignature parsed;
  const std::optional<std::string_view> product = takeLine(text, kProductField);
  const std::optional<std::string_view> channel = product ? takeLine(text, kChannelField) : std::nullopt;
  const std::optional<std::string_view> epoch = channel ? takeLine(text, kEpochField) : std::nullopt;
  const std::optional<std::string_view> release = epoch ? takeLine(text, kReleaseField) : std::nullopt;
  if (!release || !isValidProduct(*product) || !isValidChannel(*channel)) return std::nullopt;
  const std::optional<std::uint32_t> epochNumber = parseNumber(*epoch, kMaxEpoch);
  const std::optional<std::uint32_t> releaseNumber = parseNumber(*release, kMaxRelease);
  if (!epochNumber || !releaseNumber) return std::nullopt;
  if (text.starts_with(kExpiresField)) {
    const std::optional<std::string_view> expires = takeLine(text, kExpiresField);
    const std::optional<std::int64_t> time = expires ? parseUtcTime(*expires) : std::nullopt;
    // Years start at 2000, so 0 is left to mean "never".
    if (!time) return std::nullopt;
    parsed.expires = *time;
  }
  const std::optional<std::string_view> hex = takeLine(text, kSignatureField);
  if (!hex || !text.empty() || hex->size() != parsed.signature.size() * 2) return std::nullopt;
  parsed.product = *product;
  parsed.channel = *channel;
  parsed.epoch = *epochNumber;
  parsed.release = *releaseNumber;
  for (std::size_t i = 0; i < parsed.signature.size(); ++i) {
    int high = hexValue((*hex)[2 * i]);
    int low = hexValue((*hex)[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    parsed.signature[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return parsed;
}

std::string formatListSignature(const ListSignature& signature) {
  std::string text = formatFields(signature);
  text += kSignatureField;
  appendHex(text, signature.signature.data(), signature.signature.size());
  return text + "\n";
}

std::string signedListMessage(const ListSignature& signature, std::string_view list) {
  std::string message = std::string(kMessagePrefix) + formatFields(signature);
  message.append(kMessageListLine);
  message.append(list);
  return message;
}

std::int32_t verifyListSignature(const UpdateTrust& trust, std::string_view list, std::string_view signatureFile,
                                 const ReleaseMark& installed, std::int64_t now, ReleaseMark* accepted) {
  std::optional<ListSignature> signature = parseListSignature(signatureFile);
  if (!signature) return statusCode(UpdateRefusal::SignatureMalformed);
  // The epoch picks the one key that may have signed; an epoch before the
  // launcher's first is one the studio retired when it built the launcher.
  if (signature->epoch < trust.firstEpoch) return statusCode(UpdateRefusal::KeyRetired);
  const std::size_t keyIndex = signature->epoch - trust.firstEpoch;
  if (keyIndex >= trust.keys.size()) return statusCode(UpdateRefusal::SignatureInvalid);
  const std::string message = signedListMessage(*signature, list);
  if (!platform::verifyP256Sha256(trust.keys[keyIndex], message.data(), message.size(), signature->signature)) {
    return statusCode(UpdateRefusal::SignatureInvalid);
  }
  // Judged only once the fields are known to be the studio's.
  if (signature->product != trust.product || signature->channel != trust.channel) {
    return statusCode(UpdateRefusal::OtherProductOrChannel);
  }
  if (signature->epoch < installed.epoch) return statusCode(UpdateRefusal::KeyRetired);
  if (signature->expires != 0 && now >= signature->expires) return statusCode(UpdateRefusal::SignatureExpired);
  const ReleaseMark offered{signature->epoch, signature->release};
  if (!(offered == installed) && !isLater(offered, installed)) return statusCode(UpdateRefusal::ReleaseRolledBack);
  *accepted = offered;
  return 0;
}

}  // namespace update
