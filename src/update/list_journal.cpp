#include "update/list_journal.h"

#include <array>
#include <charconv>

#include "update/entry_names.h"
#include "update/run_log.h"

namespace update {

namespace {

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
std::uint32_t crc32(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();
  std::uint32_t c = 0xffffffffu;
  for (const char byte : bytes) c = kTable[(c ^ static_cast<unsigned char>(byte)) & 0xffu] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

constexpr std::size_t kCrcDigits = 8;
// More records than any run writes (one per file of the largest list): what
// goes beyond is not trusted.
constexpr std::size_t kMaxRecords = kMaxListEntries;

// One record line without its line end: the entry it proves, if it does.
bool parseRecord(std::string_view line, VersionList& into) {
  if (line.size() <= kCrcDigits + 1 || line[kCrcDigits] != ' ') return false;
  const std::string_view digits = line.substr(0, kCrcDigits);
  if (digits.find_first_not_of("0123456789abcdef") != std::string_view::npos) return false;
  std::uint32_t crc = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), crc, 16);
  const std::string_view entryText = line.substr(kCrcDigits + 1);
  if (crc32(entryText) != crc) return false;
  VersionList one;
  parseVersionList(entryText.data(), entryText.data() + entryText.size(), one, 1);
  if (one.size() != 1) return false;
  // Exactly the text the launcher writes for that entry, nothing else.
  const VersionEntryRef entry = one[0];
  if (journalRecord(entry.name, entry.version, entry.size) != std::string(line) + "\n") return false;
  into.append(entry.name, entry.version, entry.size);
  return true;
}

}  // namespace

std::string journalRecord(std::string_view name, std::string_view version, std::uint32_t size) {
  std::string entry = formatVersionEntry({std::string(name), std::string(version), size});
  entry.pop_back();
  char digits[kCrcDigits + 1];
  const std::uint32_t crc = crc32(entry);
  for (std::size_t at = 0; at < kCrcDigits; ++at) digits[at] = "0123456789abcdef"[(crc >> (28 - 4 * at)) & 0xfu];
  digits[kCrcDigits] = ' ';
  return std::string(digits, sizeof digits) + entry + "\n";
}

JournalRecords readListJournal(const char* fileName) {
  JournalRecords records;
  // A link in the journal's place is not followed: what it points at is no
  // record of this installation.
  platform::File file = platform::File::open(fileName, platform::File::Access::ReadOwn);
  if (!file.isOpen()) return records;
  records.kind = JournalRecords::Kind::Unknown;
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  std::string pending;
  bool headerRead = false;
  for (;;) {
    const std::size_t held = pending.size();
    pending.resize(held + kChunk);
    std::uint32_t got = 0;
    // What cannot be read is not proved.
    const bool read = file.read(pending.data() + held, static_cast<std::uint32_t>(kChunk), &got);
    pending.resize(held + (read ? got : 0));
    std::size_t at = 0;
    if (!headerRead) {
      if (pending.size() < kListJournalHeader.size() && read && got != 0) continue;
      if (pending.compare(0, kListJournalHeader.size(), kListJournalHeader) != 0) return records;
      headerRead = true;
      records.kind = JournalRecords::Kind::Known;
      at = kListJournalHeader.size();
    }
    for (std::size_t end = pending.find('\n', at); end != std::string::npos; end = pending.find('\n', at)) {
      const std::string_view line(pending.data() + at, end - at);
      VersionList proved;
      if (records.entries.size() + records.refused >= kMaxRecords || !parseRecord(line, proved)) {
        records.unproved = true;
        return records;
      }
      at = end + 1;
      const VersionEntryRef entry = proved[0];
      if (entryNameRefusal(decodeEntryName(entry.name)) != NameRefusal::None) {
        ++records.refused;
      } else {
        records.entries.append(entry.name, entry.version, entry.size);
      }
    }
    pending.erase(0, at);
    if (!read || got == 0) {
      // A last line without its end is a record cut short.
      records.unproved = !read || !pending.empty();
      return records;
    }
    // No record is this long: what follows is no record.
    if (pending.size() > kMaxEntryName + kMaxEntryVersion + 64) {
      records.unproved = true;
      return records;
    }
  }
}

void applyJournal(VersionList& list, const VersionList& entries, NameCase nameCase) {
  if (entries.empty()) return;
  LocalFileIndex index(nameCase, list.size() + entries.size());
  index.indexStep(list, list.size());
  for (const VersionEntryRef entry : entries) index.recordFile(list, entry.name, entry.version, entry.size);
}

JournalFold foldListJournal(const char* listName, const char* journalName, VersionList& list, NameCase nameCase,
                            bool mayWrite) {
  JournalRecords records = readListJournal(journalName);
  if (records.kind == JournalRecords::Kind::Absent) {
    // Nothing that opens as a file: a link, a pipe or an empty folder in its
    // place is no journal, and goes, as in the other working files' places;
    // the run's journal is then made afresh there.
    if (mayWrite) {
      platform::deleteFile(journalName);
      static_cast<void>(platform::removeDirectory(journalName));
    }
    return platform::accessCheck(journalName) == 0 ? JournalFold::Kept : JournalFold::NoJournal;
  }
  // The run log says what a run that did not end left, and how much of it
  // was trusted.
  if (records.kind == JournalRecords::Kind::Unknown) {
    runLog().write(std::string("journal ") + journalName + ": not a journal of this launcher, ignored");
  } else {
    runLog().write(std::string("journal ") + journalName + ": " + std::to_string(records.entries.size()) + " records" +
                   (records.refused != 0 ? ", " + std::to_string(records.refused) + " refused" : "") +
                   (records.unproved ? "; what follows them proves nothing and is ignored" : ""));
  }
  applyJournal(list, records.entries, nameCase);
  if (!mayWrite || !saveLocalList(listName, list)) return JournalFold::Kept;
  // Only now: a kill before this leaves the journal, folded again next time
  // into a list that already holds it, to the same result.
  platform::deleteFile(journalName);
  return platform::accessCheck(journalName) == 0 ? JournalFold::Kept : JournalFold::Folded;
}

bool ListJournal::append(std::string_view name, std::string_view version, std::uint32_t size) {
  if (broken_) return false;
  std::string text;
  if (!file_.isOpen()) {
    // Never over a journal already there: its records would be lost.
    file_ = platform::File::open(fileName_.c_str(), platform::File::Access::CreateNew);
    if (!file_.isOpen()) {
      broken_ = true;
      return false;
    }
    text = kListJournalHeader;
  }
  text += journalRecord(name, version, size);
  // A record the disk does not hold in full is no record; the ones after it
  // could not be read, so none is written.
  if (!file_.write(text.data(), static_cast<std::uint32_t>(text.size())) || !file_.flush()) {
    broken_ = true;
    return false;
  }
  bytesWritten_ += text.size();
  ++records_;
  return true;
}

bool ListJournal::remove() {
  static_cast<void>(file_.close());
  records_ = 0;
  broken_ = false;
  platform::deleteFile(fileName_.c_str());
  return platform::accessCheck(fileName_.c_str()) != 0;
}

}  // namespace update
