#include "update/version_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "update/entry_names.h"
#include "update/installer_list.h"
#include "update/list_journal.h"

using update::decodeEntryName;
using update::findLocalEntry;
using update::foldListJournal;
using update::installerList;
using update::isInstallRelativeName;
using update::kMaxListEntries;
using update::kVersionListName;
using update::parseVersionList;
using update::VersionList;
using update::versionListSideName;

namespace {

namespace fs = std::filesystem;
using testsupport::CurrentDirGuard;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Parses a copy of `text` held in a buffer of exactly its size, so that the
// sanitizers catch any read past the range.
VersionList parse(const std::string& text) {
  auto buffer = std::make_unique<char[]>(text.size() + 1);
  if (!text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
  VersionList list;
  parseVersionList(buffer.get(), buffer.get() + text.size(), list);
  return list;
}

void expectEntry(const VersionList& list, std::size_t index, std::string_view name, std::string_view version,
                 std::uint32_t size) {
  ASSERT_LT(index, list.size());
  EXPECT_EQ(list[index].name, name) << "entry " << index;
  EXPECT_EQ(list[index].version, version) << "entry " << index;
  EXPECT_EQ(list[index].size, size) << "entry " << index;
}

TEST(ParseVersionList, LineEndsAndSeparators) {
  // "\r\n" line ends, tabs and runs of blanks, a "k" after the size, a last
  // line without "\n".
  VersionList list = parse("maps/level%201.pak 1a2b 2048k\r\nb.pak\tv2\t\t20\n  c.pak   v3 30");
  ASSERT_EQ(list.size(), 3u);
  expectEntry(list, 0, "maps/level%201.pak", "1a2b", 2048);
  expectEntry(list, 1, "b.pak", "v2", 20);
  expectEntry(list, 2, "c.pak", "v3", 30);

  // A final "\n" adds nothing, nor does a final "\r\n" or "\r".
  EXPECT_EQ(parse("a v 1\n").size(), 1u);
  EXPECT_EQ(parse("a v 1\r\n").size(), 1u);
  EXPECT_EQ(parse("a v 1\r").size(), 1u);

  // "\n", "\r\n" and a lone "\r" each end a line, in any mix: no entry is
  // lost to a CR, and none is made of the fields of two lines.
  for (const char* text : {"a v1 1\rb v2 2\rc v3 3", "a v1 1\r\nb v2 2\rc v3 3\n", "a v1 1\r\r\nb v2 2\n\rc v3 3\r\n",
                           "a v1 1\rb v2 2\r\rc v3 3\r", "a v1 1\nb v2 2\r\n\r\nc v3 3"}) {
    VersionList ends = parse(text);
    ASSERT_EQ(ends.size(), 3u) << text;
    expectEntry(ends, 0, "a", "v1", 1);
    expectEntry(ends, 1, "b", "v2", 2);
    expectEntry(ends, 2, "c", "v3", 3);
  }
  EXPECT_TRUE(parse("a v\r1\n").empty()) << "a CR ends the line; its fields do not run on";
  // Whatever follows the size is ignored.
  VersionList extra = parse("a v 7 trailing words\n");
  ASSERT_EQ(extra.size(), 1u);
  expectEntry(extra, 0, "a", "v", 7);

  // A vertical tab or form feed separates fields as the C library's reading
  // does; it never ends up inside a name or version, where the saved list
  // would carry it into a file name.
  VersionList white = parse("maps/a.pak\v1a2b\f2048k\nb\f\v v2 \v9\n");
  ASSERT_EQ(white.size(), 2u);
  expectEntry(white, 0, "maps/a.pak", "1a2b", 2048);
  expectEntry(white, 1, "b", "v2", 9);
}

TEST(ParseVersionList, BlankAndShortLinesYieldNothingAndTakeNothing) {
  // A blank line must not pick up the fields of the line after it, and a
  // short line must not borrow the fields of the line before it.
  VersionList list = parse("a v1 1\n\nb v2 2\nc v3\nd\n   \t \r\ne v5 5\n");
  ASSERT_EQ(list.size(), 3u);
  expectEntry(list, 0, "a", "v1", 1);
  expectEntry(list, 1, "b", "v2", 2);
  expectEntry(list, 2, "e", "v5", 5);

  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse("\n\n\n").empty());
  EXPECT_TRUE(parse(" \t\r\n \t").empty());
}

TEST(ParseVersionList, FieldWidths) {
  const std::string name255(255, 'n');
  const std::string version32(32, 'v');
  VersionList fits = parse(name255 + " " + version32 + " 1\n");
  ASSERT_EQ(fits.size(), 1u);
  expectEntry(fits, 0, name255, version32, 1);

  // One byte over either width: no entry, and the rest of the overlong field
  // must not spill into the next field or line.
  VersionList over = parse(name255 + "x v 1\nn " + version32 + "x 2\nok v 3\n");
  ASSERT_EQ(over.size(), 1u);
  expectEntry(over, 0, "ok", "v", 3);
}

TEST(ParseVersionList, Sizes) {
  struct Case {
    const char* size;
    bool valid;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"4294967295", true, 4294967295u},
      {"4294967295k", true, 4294967295u},
      {"4294967296", false, 0},
      {"99999999999999999999999", false, 0},
      // Sizes of 2 GiB and more as the local list writes them.
      {"-1", true, 4294967295u},
      {"-2147483648", true, 2147483648u},
      {"-2147483649", false, 0},
      {"-0", true, 0},
      {"+5", true, 5},
      {"-", false, 0},
      {"+", false, 0},
      {"k", false, 0},
      {"x12", false, 0},
      // The leading digits are the size; what follows them is ignored.
      {"2048kB", true, 2048},
      {"12kk", true, 12},
      {"12x", true, 12},
      {"0x10", true, 0},
      {"1-2", true, 1},
  };
  for (const Case& c : cases) {
    VersionList list = parse(std::string("f v ") + c.size + "\n");
    if (c.valid) {
      ASSERT_EQ(list.size(), 1u) << c.size;
      EXPECT_EQ(list[0].size, c.value) << c.size;
    } else {
      EXPECT_TRUE(list.empty()) << c.size;
    }
  }
}

TEST(ParseVersionList, MalformedInputStaysInRange) {
  // NUL bytes: the line holding one is dropped, its neighbours are kept.
  std::string withNul("a v 1\nb\0c v 2\nd v\0 3\ne v 4", 26);
  VersionList nul = parse(withNul);
  ASSERT_EQ(nul.size(), 2u);
  expectEntry(nul, 0, "a", "v", 1);
  expectEntry(nul, 1, "e", "v", 4);

  // A very long line of one field, and one of white space only, each without
  // a final line end.
  EXPECT_TRUE(parse(std::string(1 << 20, 'x')).empty());
  EXPECT_TRUE(parse(std::string(1 << 20, ' ')).empty());
  VersionList afterLong = parse(std::string(100000, 'y') + " v 1\nz v 2");
  ASSERT_EQ(afterLong.size(), 1u);
  expectEntry(afterLong, 0, "z", "v", 2);

  // The range ends in the middle of a line: only what lies inside counts.
  const std::string text = "a v 1\nb v 23";
  VersionList cut;
  parseVersionList(text.data(), text.data() + text.size() - 1, cut);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1].size, 2u);
  VersionList none;
  parseVersionList(text.data(), text.data() + 3, none);
  EXPECT_TRUE(none.empty());
  parseVersionList(text.data() + 4, text.data(), none);
  EXPECT_TRUE(none.empty());
}

TEST(ParseVersionList, TakesNoMoreThanTheBoundOfEntries) {
  std::string text;
  text.reserve((kMaxListEntries + 2) * 6);
  for (std::size_t i = 0; i < kMaxListEntries; ++i) text += "a 1 1\n";
  VersionList full;
  EXPECT_TRUE(parseVersionList(text.data(), text.data() + text.size(), full));
  EXPECT_EQ(full.size(), kMaxListEntries);
  // Lines that yield nothing do not count; one more entry does.
  text += "\n\n";
  VersionList blankAfter;
  EXPECT_TRUE(parseVersionList(text.data(), text.data() + text.size(), blankAfter));
  text += "b 1 1";
  VersionList over;
  EXPECT_FALSE(parseVersionList(text.data(), text.data() + text.size(), over));
  EXPECT_EQ(over.size(), kMaxListEntries);
}

TEST(VersionList, FirstMatchWithDuplicates) {
  VersionList list = parse("a v1 1\nb v1 2\na v2 3\nA v3 4\n");
  ASSERT_EQ(list.size(), 4u);
  ASSERT_TRUE(findLocalEntry(list, "a"));
  EXPECT_EQ(findLocalEntry(list, "a")->version, "v1");
  EXPECT_EQ(list.indexOf("a"), 0u);
  // Byte for byte and in length: no case folding, no prefix match.
  EXPECT_EQ(findLocalEntry(list, "A")->version, "v3");
  EXPECT_EQ(findLocalEntry(list, "b")->size, 2u);
  EXPECT_FALSE(findLocalEntry(list, "a "));
  EXPECT_FALSE(findLocalEntry(list, ""));
  EXPECT_FALSE(findLocalEntry(list, std::string_view("a\0", 2)));

  // The index follows appends that grow the list; an entry's version can be
  // changed in place (shorter) or moved (longer), its name and the first
  // match stay.
  for (int i = 0; i < 1000; ++i) list.append({"n" + std::to_string(i), "v", static_cast<std::uint32_t>(i)});
  EXPECT_EQ(findLocalEntry(list, "n999")->size, 999u);
  list.update(0, "x", 7);
  EXPECT_EQ(list[0].version, "x");
  list.update(0, "a-much-longer-version", 8);
  list.update(1, list[1003].name, 9);
  EXPECT_EQ(list.indexOf("a"), 0u);
  EXPECT_EQ(list[0].version, "a-much-longer-version");
  EXPECT_EQ(list[0].size, 8u);
  EXPECT_EQ(list[1].name, "b");
  EXPECT_EQ(list[1].version, "n999");
  EXPECT_EQ(list[2].version, "v2");
  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(findLocalEntry(list, "a"));
}

TEST(DecodeEntryName, EscapesAndTheTextOfTheOtherBytes) {
  // The letters in UTF-8.
  EXPECT_EQ(decodeEntryName("%20%21%f1%e1%e9%ed%f3%fa"), "\x20\x21\xc3\xb1\xc3\xa1\xc3\xa9\xc3\xad\xc3\xb3\xc3\xba");
  // A name in well-formed UTF-8 is that text; any other is read as
  // Windows-1252, one byte per letter, and the escapes keep their meaning.
  struct Case {
    const char* listed;
    const char* installed;
  };
  const Case cases[] = {
      {"Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png"},
      {"Ping\xfcino.png", "Ping\xc3\xbcino.png"},
      {"\xd1u\xe7\x80%f1%21", "\xc3\x91u\xc3\xa7\xe2\x82\xac\xc3\xb1!"},
      {"Espa\xc3\xb1ol%20\xc3\xa7", "Espa\xc3\xb1ol \xc3\xa7"},
      {"\xf1\xc3\xb1", "\xc3\xb1\xc3\x83\xc2\xb1"},
      {"\xef\xbb\xbfname", "\xef\xbb\xbfname"},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeEntryName(c.listed), c.installed) << c.listed;
  EXPECT_EQ(decodeEntryName("a%20b%20c%20"), "a b c ");
  EXPECT_EQ(decodeEntryName("%20%20%20"), "   ");
  EXPECT_EQ(decodeEntryName("espa%f1a/%e1rbol%21.pak"),
            "espa\xc3\xb1"
            "a/\xc3\xa1rbol!.pak");
  // Upper-case digits and other sequences stay as they are.
  EXPECT_EQ(decodeEntryName("%F1%E1%2F%2e%41%"), "%F1%E1%2F%2e%41%");
  EXPECT_EQ(decodeEntryName("a%2"), "a%2");
  // A per cent sign in front of an escape stays, the escape is replaced; a
  // replacement never completes a new escape.
  EXPECT_EQ(decodeEntryName("%%20"), "% ");
  EXPECT_EQ(decodeEntryName("%2%201"), "%2 1");
  EXPECT_EQ(decodeEntryName("%%2020"), "% 20");
}

TEST(IsInstallRelativeName, RefusesWhatLeavesTheFolder) {
  for (const char* safe :
       {"a", "a/b/c.pak", "a\\b.pak", "./a", "a/./b", "..a", "a..", "a/..b/c", "b../c", "a b/c", "a/", ".hidden"}) {
    EXPECT_TRUE(isInstallRelativeName(safe)) << safe;
  }
  for (const char* unsafe :
       {"",       "/x",   "\\x",   "//server/share/x", "C:x",   "C:/x",    "c:\\x", "x:y",     "..",    "../x",
        "a/../x", "a/..", "..\\x", "a\\..\\x",         "a\\..", "a/..\\x", "...",   "a/. ./b", ".. /x", "a/.. "}) {
    EXPECT_FALSE(isInstallRelativeName(unsafe)) << unsafe;
  }
  EXPECT_FALSE(isInstallRelativeName(std::string_view("a\0/../x", 7)));
}

// The list an installer leaves: what it carried and placed in full, then
// what the launcher had fetched, each file once, nothing that is not on disk
// as listed.
TEST(InstallerList, ListsOnlyFilesOnDiskAsListed) {
  const std::map<std::string, std::uint64_t> disk = {
      {"launcher.exe", 40},
      {"glimmerhold.exe", 10},
      {"data/maps/deepway.pak", 300},
      {"data/fetched.pak", 1000},
      {"data/short.pak", 5},
      {"m\xc3\xba"
       "sica/canci\xc3\xb3n.txt",
       6},
      {"data/second.pak", 7},
      {"notes.txt", 5},
  };
  // Found as Windows finds a file: letter case ignored, either separator.
  const auto sizeOf = [&](const std::string& name) -> std::optional<std::uint64_t> {
    std::string key = update::foldedEntryName(name);
    std::replace(key.begin(), key.end(), '\\', '/');
    auto found = disk.find(key);
    if (found == disk.end()) return std::nullopt;
    return found->second;
  };
  const VersionList carried = parse(
      "Glimmerhold.exe c1 10\n"
      "data/maps/deepway.pak c2 300\n"
      "data/short.pak c3 6\n"          // placed, but not in full
      "data/missing.pak c4 1\n"        // not placed
      "m%fasica/Canci%f3n.txt c5 6\n"  // escaped letters, decoded for the disk
      "glimmerhold.exe c6 10\n");      // the same file again
  // The launcher is placed but not listed (a release without it).
  const std::vector<std::string> placed = {"Launcher.exe", "Glimmerhold.exe", "data/maps/deepway.pak"};
  const VersionList previous = parse(
      "Launcher.exe p1 40\n"                     // placed again: the old entry lies
      "DATA\\Maps\\DeepWay.pak p2 300\n"         // a carried file in other letters and separators
      "data/short.pak p3 5\n"                    // carried, though not placed in full
      "M%daSICA/canci%f3n.txt p4 6\n"            // "%da" is no escape: another file, not on disk
      "M\xc3\x9aSICA/CANCI\xc3\x93N.TXT p5 6\n"  // the carried file, Latin-1 capitals
      "data/fetched.pak p6 1000\n"               // what the launcher fetched
      "data/Fetched.pak p7 1000\n"               // the same file again
      "data/gone.pak p8 3\n"                     // fetched, since removed
      "data/second.pak p9 8\n"                   // changed since
      "../notes.txt p10 5\n"                     // never installable
      "version_list.txt p11 5\n");
  const std::string expected =
      "Glimmerhold.exe c1 10\n"
      "data/maps/deepway.pak c2 300\n"
      "m%fasica/Canci%f3n.txt c5 6\n";

  struct Case {
    bool trusted;
    std::string list;
  };
  for (const Case& c : {Case{true, expected + "data/fetched.pak p6 1000\n"}, Case{false, expected}}) {
    std::string written;
    for (auto entry : installerList(carried, placed, previous, c.trusted, sizeOf)) {
      written += update::formatVersionEntry(entry);
    }
    EXPECT_EQ(written, c.list) << "trusted " << c.trusted;
  }
  // Before anything is placed: only the launcher's files, whatever the
  // installer will carry.
  VersionList none;
  const VersionList kept = installerList(none, placed, previous, true, sizeOf);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].name, "data/short.pak");
  EXPECT_EQ(kept[1].name, "M\xc3\x9aSICA/CANCI\xc3\x93N.TXT");
  EXPECT_EQ(kept[2].name, "data/fetched.pak");
}

class LocalListFile : public ::testing::Test {
 protected:
  TempDir dir;
  CurrentDirGuard guard;
  void SetUp() override { fs::current_path(dir.path()); }
};

TEST_F(LocalListFile, SaveAndReadBackByteExact) {
  VersionList list;
  list.append({"maps/level%201.pak", "1a2b", 2048});
  list.append({"b.pak", "v", 0});
  list.append({"big.pak", "v2", 2147483648u});
  list.append({"huge.pak", "v3", 4294967295u});
  list.append({"maps/level%201.pak", "dup", 7});
  list.append({"below.pak", "v4", 2147483647u});

  ASSERT_TRUE(saveLocalList(kVersionListName, list));
  const std::string expected =
      "maps/level%201.pak 1a2b 2048\n"
      "b.pak v 0\n"
      "big.pak v2 -2147483648\n"
      "huge.pak v3 -1\n"
      "maps/level%201.pak dup 7\n"
      "below.pak v4 2147483647\n";
  EXPECT_EQ(readFile(dir / kVersionListName), expected);
  EXPECT_FALSE(fs::exists(dir / versionListSideName(kVersionListName)));

  VersionList back;
  ASSERT_TRUE(readVersionListFile(kVersionListName, back));
  ASSERT_EQ(back.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i) expectEntry(back, i, list[i].name, list[i].version, list[i].size);

  // Saving what was read gives the same bytes again; an empty list an empty file.
  ASSERT_TRUE(saveLocalList(kVersionListName, back));
  EXPECT_EQ(readFile(dir / kVersionListName), expected);
  ASSERT_TRUE(saveLocalList(kVersionListName, VersionList{}));
  EXPECT_EQ(readFile(dir / kVersionListName), "");
  EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename(), kVersionListName);

  // A list far larger than one block written or read: lines cross the
  // blocks' edges and come back whole.
  VersionList large;
  for (std::uint32_t i = 0; i < 20000; ++i)
    large.append({"dir/file" + std::to_string(i * 7919), "v" + std::to_string(i), i});
  ASSERT_TRUE(saveLocalList(kVersionListName, large));
  VersionList largeBack;
  ASSERT_TRUE(readVersionListFile(kVersionListName, largeBack));
  ASSERT_EQ(largeBack.size(), large.size());
  for (std::size_t i = 0; i < large.size(); i += 997) {
    expectEntry(largeBack, i, large[i].name, large[i].version, large[i].size);
  }
  expectEntry(largeBack, 19999, large[19999].name, large[19999].version, 19999);
}

TEST_F(LocalListFile, FailedSaveKeepsTheOldList) {
  const std::string old = "old v 1\n";
  writeFile(dir / kVersionListName, old);
  VersionList list;
  list.append({"new", "v", 2});

  // The side file cannot be created (a folder holds its name).
  fs::create_directory(dir / versionListSideName(kVersionListName));
  EXPECT_FALSE(saveLocalList(kVersionListName, list));
  EXPECT_EQ(readFile(dir / kVersionListName), old);
  fs::remove(dir / versionListSideName(kVersionListName));

  // A folder that does not exist: nothing is made.
  EXPECT_FALSE(saveLocalList("missing/version_list.txt", list));
  EXPECT_FALSE(fs::exists(dir / "missing"));

  // The side file is written but cannot replace the target (a folder): it
  // must not stay behind.
  fs::create_directory(dir / "taken");
  EXPECT_FALSE(saveLocalList("taken", list));
  EXPECT_TRUE(fs::is_directory(dir / "taken"));
  EXPECT_FALSE(fs::exists(dir / versionListSideName("taken")));
}

TEST_F(LocalListFile, ReadingMissingOrUnreadableFile) {
  VersionList list;
  EXPECT_FALSE(readVersionListFile(kVersionListName, list));
  EXPECT_TRUE(list.empty());
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(readVersionListFile("folder", list));
  EXPECT_TRUE(list.empty());

  // A list larger than one read chunk, with "\r\n" ends as a text editor on
  // Windows would leave them, or "\r" alone as an old Mac one would.
  for (const char* lineEnd : {"\r\n", "\r"}) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
      text += "file" + std::to_string(i) + ".pak v" + std::to_string(i) + " 100" + lineEnd;
    writeFile(dir / kVersionListName, text);
    list.clear();
    ASSERT_TRUE(readVersionListFile(kVersionListName, list));
    ASSERT_EQ(list.size(), 20000u) << "line end " << (lineEnd[1] != '\0' ? "CR LF" : "CR");
    for (int i = 0; i < 20000; i += 331)
      expectEntry(list, i, "file" + std::to_string(i) + ".pak", "v" + std::to_string(i), 100);
    expectEntry(list, 19999, "file19999.pak", "v19999", 100);
  }
}

// The journal of a run that did not end: only what its records prove is
// folded into the list, in order, each file once; the list file is then
// rewritten and the journal removed -- or, where nothing may be written, the
// records are read and nothing on disk changes.
TEST_F(LocalListFile, AJournalIsFoldedAsFarAsItsRecordsProveItself) {
  using update::journalRecord;
  using update::JournalRecords;
  using update::kListJournalHeader;
  using update::kListJournalName;
  using update::NameCase;
  using Kind = JournalRecords::Kind;
  const std::string header(kListJournalHeader);
  const std::string list = "a.pak 1 1\nb.pak 1 2\n";
  const std::string b2 = journalRecord("b.pak", "2", 3);
  const std::string c1 = journalRecord("c.pak", "1", 4);
  std::string flipped = b2;
  flipped[flipped.size() - 4] = '3';  // the version, under the same checksum
  struct Case {
    const char* what;
    std::string journal;
    NameCase nameCase;
    std::string folded;
    Kind kind;
    bool unproved;
    std::size_t refused;
  };
  const std::vector<Case> cases = {
      {"two records", header + b2 + c1, NameCase::Exact, "a.pak 1 1\nb.pak 2 3\nc.pak 1 4\n", Kind::Known, false, 0},
      {"header only", header, NameCase::Exact, list, Kind::Known, false, 0},
      {"last record cut by a kill", header + b2 + c1.substr(0, c1.size() - 1), NameCase::Exact,
       "a.pak 1 1\nb.pak 2 3\n", Kind::Known, true, 0},
      {"record cut before its checksum ends", header + b2 + "1a2b", NameCase::Exact, "a.pak 1 1\nb.pak 2 3\n",
       Kind::Known, true, 0},
      {"a flipped byte, and nothing after it trusted", header + flipped + c1, NameCase::Exact, list, Kind::Known, true,
       0},
      {"garbage after good records", header + b2 + "\x01\xff garbage\n" + c1, NameCase::Exact, "a.pak 1 1\nb.pak 2 3\n",
       Kind::Known, true, 0},
      {"a later format", "glimmerhold list journal 2\n" + b2, NameCase::Exact, list, Kind::Unknown, false, 0},
      {"no header", b2 + c1, NameCase::Exact, list, Kind::Unknown, false, 0},
      {"empty (killed before its first write)", "", NameCase::Exact, list, Kind::Unknown, false, 0},
      {"a file recorded twice: the later record", header + b2 + journalRecord("b.pak", "3", 5), NameCase::Exact,
       "a.pak 1 1\nb.pak 3 5\n", Kind::Known, false, 0},
      {"one file in two letter cases", header + journalRecord("B.PAK", "4", 6), NameCase::Ignored,
       "a.pak 1 1\nb.pak 4 6\n", Kind::Known, false, 0},
      {"two files in two letter cases", header + journalRecord("B.PAK", "4", 6), NameCase::Exact, list + "B.PAK 4 6\n",
       Kind::Known, false, 0},
      {"names the launcher does not install",
       header + journalRecord("../out.pak", "1", 1) + journalRecord("Version_List.Txt", "1", 1) +
           journalRecord(kListJournalName, "1", 1) + c1,
       NameCase::Exact, list + "c.pak 1 4\n", Kind::Known, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir / kVersionListName, list);
    writeFile(dir / kListJournalName, c.journal);
    const JournalRecords records = update::readListJournal(kListJournalName);
    EXPECT_EQ(records.kind, c.kind);
    EXPECT_EQ(records.unproved, c.unproved);
    EXPECT_EQ(records.refused, c.refused);

    for (const bool mayWrite : {false, true}) {
      VersionList loaded;
      ASSERT_TRUE(update::readVersionListFile(kVersionListName, loaded));
      EXPECT_EQ(foldListJournal(kVersionListName, kListJournalName, loaded, c.nameCase, mayWrite),
                mayWrite ? update::JournalFold::Folded : update::JournalFold::Kept);
      std::string inMemory;
      for (const auto entry : loaded) inMemory += update::formatVersionEntry(entry);
      EXPECT_EQ(inMemory, c.folded) << "may write: " << mayWrite;
      EXPECT_EQ(readFile(dir / kVersionListName), mayWrite ? c.folded : list);
      EXPECT_EQ(fs::exists(dir / kListJournalName), !mayWrite);
    }
  }

  // No journal: nothing changes. A journal that cannot be folded (the list
  // cannot be rewritten) stays, and its records are still read.
  VersionList loaded;
  EXPECT_EQ(foldListJournal(kVersionListName, kListJournalName, loaded, NameCase::Exact, true),
            update::JournalFold::NoJournal);
  writeFile(dir / kListJournalName, header + c1);
  fs::create_directories(dir / versionListSideName(kVersionListName) / "taken");
  EXPECT_EQ(foldListJournal(kVersionListName, kListJournalName, loaded, NameCase::Exact, true),
            update::JournalFold::Kept);
  EXPECT_EQ(loaded.size(), 1u);
  EXPECT_EQ(readFile(dir / kListJournalName), header + c1);

#if !defined(_WIN32)
  // A link in the journal's place is not followed, and goes (nothing is
  // written at its end later either: TheRunsJournalIsMadeAfresh...).
  fs::remove_all(dir / versionListSideName(kVersionListName));
  fs::rename(dir / kListJournalName, dir / "elsewhere");
  fs::create_symlink(dir / "elsewhere", dir / kListJournalName);
  VersionList linked;
  EXPECT_EQ(foldListJournal(kVersionListName, kListJournalName, linked, NameCase::Exact, true),
            update::JournalFold::NoJournal);
  EXPECT_TRUE(linked.empty());
  EXPECT_FALSE(fs::is_symlink(dir / kListJournalName));
  EXPECT_EQ(readFile(dir / "elsewhere"), header + c1);
#endif
}

TEST_F(LocalListFile, TheRunsJournalIsMadeAfreshAndEveryRecordFlushed) {
  using update::journalRecord;
  using update::kListJournalName;
  const std::string header(update::kListJournalHeader);
  update::ListJournal journal(kListJournalName);
  ASSERT_TRUE(journal.append("a.pak", "1", 1));
  ASSERT_TRUE(journal.append("big.pak", "2", 4294967295u));
  // Held by the run alone until it ends (on Windows, shared with no one).
  journal.close();
  EXPECT_FALSE(journal.append("c.pak", "1", 1));
  const std::string written = header + journalRecord("a.pak", "1", 1) + journalRecord("big.pak", "2", 4294967295u);
  EXPECT_EQ(readFile(dir / kListJournalName), written);
  EXPECT_EQ(journal.bytesWritten(), written.size());
  EXPECT_EQ(journalRecord("big.pak", "2", 4294967295u).substr(9), "big.pak 2 -1\n");
  ASSERT_TRUE(journal.remove());
  EXPECT_FALSE(fs::exists(dir / kListJournalName));

  // Never over a journal already there, nor through a link in its place.
  writeFile(dir / kListJournalName, "records of another run\n");
  update::ListJournal second(kListJournalName);
  EXPECT_FALSE(second.append("a.pak", "1", 1));
  EXPECT_FALSE(second.append("a.pak", "1", 1));
  EXPECT_EQ(readFile(dir / kListJournalName), "records of another run\n");
  fs::remove(dir / kListJournalName);
#if !defined(_WIN32)
  writeFile(dir / "target", "kept");
  fs::create_symlink(dir / "target", dir / kListJournalName);
  update::ListJournal linked(kListJournalName);
  EXPECT_FALSE(linked.append("a.pak", "1", 1));
  EXPECT_EQ(readFile(dir / "target"), "kept");
#endif
}

}  // namespace
