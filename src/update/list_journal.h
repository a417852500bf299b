// The journal of finished files: one line appended (and flushed) per file the
// run puts in place, beside "version_list.txt", so that recording a file
// costs a line, not a rewrite of the whole list. It is folded into the list
// (the list rewritten atomically, then the journal removed) at the end of a
// run and at the next start after a run that did not end, before anything
// reads the local list.
//
// The journal's text: a header line, then one record a line,
//   glimmerhold list journal 1
//   <CRC-32 of the entry, 8 lowercase hex digits> <name> <version> <size>
// where "<name> <version> <size>" is the entry exactly as the list writes it.
// A record proves itself by its line end and its checksum: the records are
// trusted up to the first one that does not (a record cut by a kill, a
// damaged byte), none after it; a journal whose header is not this one is
// not read at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/files.h"
#include "update/local_file_index.h"
#include "update/version_list.h"

namespace update {

constexpr const char* kListJournalName = "version_list.journal";
constexpr std::string_view kListJournalHeader = "glimmerhold list journal 1\n";

// What a journal file holds.
struct JournalRecords {
  enum class Kind : std::uint8_t {
    Absent,   // no journal (or nothing that can be opened as a file)
    Known,    // this launcher's format: `entries` are the records it proves
    Unknown,  // another header, or too short for one: nothing is read
  };
  Kind kind = Kind::Absent;
  // The proved records, in journal order.
  VersionList entries;
  // Whether anything followed the last proved record (a cut or damaged
  // record and whatever came after it).
  bool unproved = false;
  // Proved records left out of `entries` because the launcher would not
  // install their names.
  std::size_t refused = 0;
};

// Reads the named journal (a piece at a time; never the whole file at once).
JournalRecords readListJournal(const char* fileName);

// The record line for an entry, line end included.
std::string journalRecord(std::string_view name, std::string_view version, std::uint32_t size);

// Records `entries` in `list` as the run recorded them, in order: each
// file's entries take the record's version and size, or a new entry is
// appended (LocalFileIndex::recordFile, with the installation's name case).
void applyJournal(VersionList& list, const VersionList& entries, NameCase nameCase);

enum class JournalFold : std::uint8_t {
  NoJournal,  // there was none: nothing changed
  Folded,     // the list was rewritten with its records and the journal removed
  Kept,       // the journal is still there (nothing may be written, or the
              // list could not be rewritten, or the journal not removed)
};

// Brings `list`, read from `listName`, up to date with the journal
// `journalName`: its proved records are applied in memory in every case.
// When `mayWrite`, the list file is then rewritten from `list` (atomically,
// saveLocalList) and only after that the journal removed, so that a kill at
// any point leaves either the journal to fold again or a list that holds it.
// An unknown journal is ignored the same way: removed once the list has
// been rewritten without it.
[[nodiscard]] JournalFold foldListJournal(const char* listName, const char* journalName, VersionList& list,
                                          NameCase nameCase, bool mayWrite);

// The journal the run writes: opened on its first record, made afresh
// (never over an existing file, never through a link), header and record in
// one write; every record flushed to disk before append returns.
class ListJournal {
 public:
  explicit ListJournal(std::string fileName) : fileName_(std::move(fileName)) {}

  // Appends the record of a file now in place. False when it could not be
  // written and flushed in full: the file is then not recorded, and nothing
  // more is appended to this journal.
  [[nodiscard]] bool append(std::string_view name, std::string_view version, std::uint32_t size);
  // Whether this journal holds records of this run.
  bool hasRecords() const { return records_ > 0; }
  // Closes the journal (no other process may open it meanwhile, on
  // Windows); what is appended after this fails, the file being there.
  void close() { static_cast<void>(file_.close()); }
  // Closes the journal and removes its file; the next append starts a new
  // one. False when the file could not be removed.
  [[nodiscard]] bool remove();
  // The bytes this journal has written, header included.
  std::uint64_t bytesWritten() const { return bytesWritten_; }

 private:
  std::string fileName_;
  platform::File file_;
  std::size_t records_ = 0;
  std::uint64_t bytesWritten_ = 0;
  bool broken_ = false;
};

}  // namespace update
