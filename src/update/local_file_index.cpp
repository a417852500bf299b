#include "update/local_file_index.h"

#include <functional>

#include "platform/files.h"
#include "update/entry_names.h"

namespace update {

namespace {

std::uint32_t hashKey(std::string_view key) { return static_cast<std::uint32_t>(std::hash<std::string_view>{}(key)); }

std::size_t cellsFor(std::size_t entries) {
  std::size_t cells = 16;
  while (cells < entries * 2) cells *= 2;
  return cells;
}

}  // namespace

NameCase installationNameCase() {
  for (const auto& [name, capitals] :
       {std::pair{"Launcher.lock", "LAUNCHER.LOCK"}, std::pair{"version_list.txt", "VERSION_LIST.TXT"}}) {
    if (platform::accessCheck(name) == 0) {
      return platform::accessCheck(capitals) == 0 ? NameCase::Ignored : NameCase::Exact;
    }
  }
#if defined(_WIN32)
  return NameCase::Ignored;
#else
  return NameCase::Exact;
#endif
}

LocalFileIndex::LocalFileIndex(NameCase nameCase, std::size_t expectedEntries)
    : nameCase_(nameCase), cells_(cellsFor(expectedEntries)) {}

// The file a name stands for: its decoded text, so that the escapes, UTF-8
// and a Western code page's spelling of one name are one file, as they are on
// disk; folded too where the file system ignores case.
std::string LocalFileIndex::key(std::string_view name) const {
  std::string decoded = decodeEntryName(name);
  return nameCase_ == NameCase::Exact ? decoded : foldedEntryName(decoded);
}

std::size_t LocalFileIndex::cellFor(const VersionList& list, std::string_view key, std::uint32_t hash) const {
  const std::size_t mask = cells_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Cell& cell = cells_[at];
    if (cell.entry == 0) return at;
    const std::size_t entry = (cell.entry & ~kDisagree) - 1;
    // An entry past the list's end was indexed before the list was put back
    // to an earlier state: it names nothing now.
    if (cell.hash == hash && entry < list.size() && this->key(list[entry].name) == key) return at;
  }
}

void LocalFileIndex::grow() {
  ZeroedCells<Cell> old(cellsFor(used_ + 1) * 2);
  old.swap(cells_);
  const std::size_t mask = cells_.size() - 1;
  for (std::size_t from = 0; from < old.size(); ++from) {
    const Cell& cell = old[from];
    if (cell.entry == 0) continue;
    std::size_t at = cell.hash & mask;
    while (cells_[at].entry != 0) at = (at + 1) & mask;
    cells_[at] = cell;
  }
}

void LocalFileIndex::insert(const VersionList& list, std::size_t at) {
  if ((used_ + 1) * 2 > cells_.size()) grow();
  const std::string entryKey = key(list[at].name);
  Cell* cell = &cells_[cellFor(list, entryKey, hashKey(entryKey))];
  if (cell->entry == 0) {
    *cell = {hashKey(entryKey), static_cast<std::uint32_t>(at + 1)};
    ++used_;
  } else if (list[(cell->entry & ~kDisagree) - 1].version != list[at].version) {
    cell->entry |= kDisagree;
  }
}

bool LocalFileIndex::indexStep(const VersionList& list, std::size_t entries) {
  for (std::size_t done = 0; done < entries && indexed_ < list.size(); ++done) insert(list, indexed_++);
  return indexed_ >= list.size();
}

std::size_t LocalFileIndex::find(const VersionList& list, std::string_view name) const {
  const std::string nameKey = key(name);
  const Cell* cell = &cells_[cellFor(list, nameKey, hashKey(nameKey))];
  if (cell->entry == 0 || (cell->entry & kDisagree) != 0) return npos;
  return cell->entry - 1;
}

void LocalFileIndex::recordFile(VersionList& list, std::string_view name, std::string_view version,
                                std::uint32_t size) {
  // The list may have been put back to an earlier state since it was
  // indexed: what it no longer holds is indexed again as it comes back.
  if (indexed_ > list.size()) indexed_ = list.size();
  const std::string nameKey = key(name);
  Cell* cell = &cells_[cellFor(list, nameKey, hashKey(nameKey))];
  if (cell->entry == 0) {
    list.append(name, version, size);
    indexStep(list, 1);
    return;
  }
  if ((cell->entry & kDisagree) == 0) {
    list.update(cell->entry - 1, version, size);
    return;
  }
  // Rare (a list from before): every entry of the file is brought to the
  // version now on disk, so that they agree from here on.
  for (std::size_t at = 0; at < list.size(); ++at) {
    if (key(list[at].name) == nameKey) list.update(at, version, size);
  }
  cell->entry &= ~kDisagree;
}

}  // namespace update
