// Which entry of the local list records which file. Where the installation's
// file system ignores letter case (Windows; a FAT or exFAT medium anywhere),
// "Data.pak" and "data.pak" are one file, and so one entry: a case-only
// rename and a rollback then leave one version recorded, the one on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "update/version_list.h"

namespace update {

// `count` cells of zero bytes from calloc, whose pages the system zeroes as
// they are first touched: a table sized for a million entries costs no tick
// a pass over its memory. Cells must be trivial types for which all-zero
// bytes mean empty.
template <typename Cell>
class ZeroedCells {
 public:
  explicit ZeroedCells(std::size_t count)
      // The zeroing calloc leaves to the system is the point.
      : cells_(static_cast<Cell*>(std::calloc(count, sizeof(Cell)))),  // NOLINT(cppcoreguidelines-no-malloc)
        count_(cells_ != nullptr ? count : 0) {
    // Out of memory ends the launcher as it does for any container.
    if (cells_ == nullptr) throw std::bad_alloc();
  }
  Cell& operator[](std::size_t at) { return cells_.get()[at]; }
  const Cell& operator[](std::size_t at) const { return cells_.get()[at]; }
  std::size_t size() const { return count_; }
  void swap(ZeroedCells& other) noexcept {
    cells_.swap(other.cells_);
    std::swap(count_, other.count_);
  }

 private:
  struct Free {
    void operator()(Cell* cells) const { std::free(cells); }  // NOLINT(cppcoreguidelines-no-malloc)
  };
  std::unique_ptr<Cell, Free> cells_;
  std::size_t count_;
};

// How the installation's file system compares names.
enum class NameCase : std::uint8_t {
  Exact,    // the decoded names, letter for letter
  Ignored,  // as foldedEntryName compares decoded names
};

// Asks the installation folder (the current folder) itself: a working file
// that exists ("Launcher.lock", which the running launcher holds, or
// "version_list.txt") is looked for under its name in capitals. With neither
// there, Windows is taken to ignore case and every other system not to.
NameCase installationNameCase();

// A lookup from names to the first entry of a list for their file, built in
// steps of bounded size (the list may hold a million entries) and kept up as
// entries are appended. Entries updated in place keep their name, so they
// stay found. A file named more than once is found by its first entry; but
// where its entries disagree on the version (a list written before the
// lookup ignored case, "Data.pak" and "data.pak", or before it decoded
// names, "Espa%f1a.txt" and "España.txt"), none of them can say what is on
// disk, and the file is not found until recordFile settles it.
class LocalFileIndex {
 public:
  static constexpr std::size_t npos = VersionList::npos;

  // `expectedEntries`: the entries the table should hold without regrowing.
  LocalFileIndex(NameCase nameCase, std::size_t expectedEntries);

  // Indexes at most `entries` more of `list`'s entries, in list order; true
  // once every entry of it is indexed.
  bool indexStep(const VersionList& list, std::size_t entries);
  // The first indexed entry naming the file `name` (escaped, as listed)
  // names, or npos (also for a file whose entries disagree).
  std::size_t find(const VersionList& list, std::string_view name) const;
  // Records a fetched file in `list`: every entry of its file takes the new
  // version and size, or, when it has none, a new entry is appended and
  // indexed. `list` must be fully indexed.
  void recordFile(VersionList& list, std::string_view name, std::string_view version, std::uint32_t size);

 private:
  struct Cell {
    std::uint32_t hash;
    // Entry number + 1; 0 for an empty cell. kDisagree marks a file whose
    // entries disagree.
    std::uint32_t entry;
  };
  static constexpr std::uint32_t kDisagree = 0x80000000u;

  std::string key(std::string_view name) const;
  // The cell of `key`'s file, or the empty cell where it would go.
  std::size_t cellFor(const VersionList& list, std::string_view key, std::uint32_t hash) const;
  void insert(const VersionList& list, std::size_t at);
  void grow();

  NameCase nameCase_;
  ZeroedCells<Cell> cells_;
  std::size_t used_ = 0;
  std::size_t indexed_ = 0;
};

}  // namespace update
