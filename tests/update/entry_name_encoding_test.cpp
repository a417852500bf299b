// Escaping a local file name into an entry name: the inverse of
// decodeEntryName, and the names the list format cannot carry.
#include <gtest/gtest.h>

#include <string>

#include "update/version_list.h"

using update::decodeEntryName;
using update::EncodedEntryName;
using update::encodeEntryName;
using update::EntryNameFault;
using update::entryNameFaultText;
using update::formatVersionEntry;
using update::kMaxEntryName;
using update::parseVersionList;
using update::VersionList;

namespace {

TEST(EncodeEntryName, AppliesTheEightEscapesAndDecodesBack) {
  const std::string local =
      "docs/read me!/Espa\xc3\xb1"
      "a \xc3\xa1\xc3\xa9\xc3\xad\xc3\xb3\xc3\xba.txt";
  EncodedEntryName encoded = encodeEntryName(local);
  ASSERT_EQ(encoded.fault, EntryNameFault::None);
  EXPECT_EQ(encoded.name, "docs/read%20me%21/Espa%f1a%20%e1%e9%ed%f3%fa.txt");
  EXPECT_EQ(decodeEntryName(encoded.name), local);

  // Every printable ASCII byte but "%" (and "!", escaped) and those Windows
  // forbids in a name passes as it is.
  std::string plain;
  for (char c = 0x22; c < 0x7F; ++c) {
    if (std::string_view("%/:\\<>\"|?*").find(c) == std::string_view::npos) plain += c;
  }
  encoded = encodeEntryName(plain);
  ASSERT_EQ(encoded.fault, EntryNameFault::None) << plain;
  EXPECT_EQ(encoded.name, plain);
}

TEST(EncodeEntryName, RefusesWhatTheListCannotCarry) {
  struct Case {
    std::string name;
    EntryNameFault fault;
    std::size_t offset;
  };
  const Case cases[] = {
      {"", EntryNameFault::Empty, 0},
      {"a\tb", EntryNameFault::WhiteSpace, 1},
      {"a\r", EntryNameFault::WhiteSpace, 1},
      {"dir/\nx", EntryNameFault::WhiteSpace, 4},
      {"100%.txt", EntryNameFault::PercentSign, 3},
      // Already escaped: listing it would make the launcher store "a b".
      {"a%20b", EntryNameFault::PercentSign, 1},
      {"bell\x07", EntryNameFault::ControlByte, 4},
      {"del\x7f", EntryNameFault::ControlByte, 3},
      {std::string("nul\0x", 5), EntryNameFault::ControlByte, 3},
      // A Latin-1 byte is no UTF-8; an upper-case N with tilde has no escape.
      {"\xd1u", EntryNameFault::UnescapedByte, 0},
      {"Espa\xc3\x91"
       "a",
       EntryNameFault::UnescapedByte, 4},
      {"../x", EntryNameFault::LeavesInstallation, 0},
      {"a/../../x", EntryNameFault::LeavesInstallation, 0},
      {"/etc/x", EntryNameFault::LeavesInstallation, 0},
      {"C:x", EntryNameFault::LeavesInstallation, 0},
      {"a/.../b", EntryNameFault::LeavesInstallation, 0},
      {"aux.txt", EntryNameFault::NotInstallable, 0},
      {"Launcher.exe.tmp", EntryNameFault::NotInstallable, 0},
  };
  for (const Case& c : cases) {
    EncodedEntryName encoded = encodeEntryName(c.name);
    EXPECT_EQ(encoded.fault, c.fault) << c.name;
    EXPECT_TRUE(encoded.name.empty()) << c.name;
    if (c.fault != EntryNameFault::LeavesInstallation && c.fault != EntryNameFault::NotInstallable &&
        c.fault != EntryNameFault::Empty) {
      EXPECT_EQ(encoded.offset, c.offset) << c.name;
    }
    EXPECT_FALSE(entryNameFaultText(c.fault).empty());
  }
}

TEST(EncodeEntryName, TheLimitIsCountedOnTheEscapedName) {
  // 84 blanks escape to 252 bytes; with three letters that is 255, with a
  // fourth one byte too many.
  EncodedEntryName fits = encodeEntryName(std::string(84, ' ') + "abc");
  ASSERT_EQ(fits.fault, EntryNameFault::None);
  EXPECT_EQ(fits.name.size(), kMaxEntryName);
  EXPECT_EQ(encodeEntryName(std::string(84, ' ') + "abcd").fault, EntryNameFault::TooLong);
  EXPECT_EQ(encodeEntryName(std::string(255, 'a')).fault, EntryNameFault::None);
  EXPECT_EQ(encodeEntryName(std::string(256, 'a')).fault, EntryNameFault::TooLong);
}

TEST(FormatVersionEntry, WritesTheLocalListLineAndReadsBack) {
  EXPECT_EQ(formatVersionEntry({"read%20me.txt", "0123abcd", 17}), "read%20me.txt 0123abcd 17\n");
  // A size of 3 GiB comes out as "%d" writes it and reads back unchanged.
  const std::string line = formatVersionEntry({"big.pak", "v", 3221225472u});
  EXPECT_EQ(line, "big.pak v -1073741824\n");
  VersionList list;
  parseVersionList(line.data(), line.data() + line.size(), list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].size, 3221225472u);
}

}  // namespace
