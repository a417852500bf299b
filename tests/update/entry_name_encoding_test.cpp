// Escaping a local file name into an entry name: the inverse of
// decodeEntryName, the names the list format cannot carry, and the bytes a
// web server looks up for an entry.
#include <gtest/gtest.h>

#include <string>

#include "update/entry_names.h"
#include "update/version_list.h"

using update::decodeEntryName;
using update::EncodedEntryName;
using update::encodeEntryName;
using update::formatVersionEntry;
using update::kMaxEntryName;
using update::NameRefusal;
using update::nameRefusalText;
using update::parseVersionList;
using update::serverFileName;
using update::VersionList;

namespace {

TEST(EncodeEntryName, AppliesTheEightEscapesAndDecodesBack) {
  const std::string local =
      "docs/read me!/Espa\xc3\xb1"
      "a \xc3\xa1\xc3\xa9\xc3\xad\xc3\xb3\xc3\xba.txt";
  EncodedEntryName encoded = encodeEntryName(local);
  ASSERT_EQ(encoded.refusal, NameRefusal::None);
  EXPECT_EQ(encoded.name, "docs/read%20me%21/Espa%f1a%20%e1%e9%ed%f3%fa.txt");
  EXPECT_EQ(decodeEntryName(encoded.name), local);

  // Every printable ASCII byte but "%" (and "!", escaped) and those Windows
  // forbids in a name passes as it is.
  std::string plain;
  for (char c = 0x22; c < 0x7F; ++c) {
    if (std::string_view("%/:\\<>\"|?*").find(c) == std::string_view::npos) plain += c;
  }
  encoded = encodeEntryName(plain);
  ASSERT_EQ(encoded.refusal, NameRefusal::None) << plain;
  EXPECT_EQ(encoded.name, plain);
}

TEST(EncodeEntryName, RefusesWhatTheListCannotCarry) {
  struct Case {
    std::string name;
    NameRefusal refusal;
    std::size_t offset;
  };
  const Case cases[] = {
      {"", NameRefusal::Empty, 0},
      {"a\tb", NameRefusal::WhiteSpace, 1},
      {"a\r", NameRefusal::WhiteSpace, 1},
      {"dir/\nx", NameRefusal::WhiteSpace, 4},
      {"100%.txt", NameRefusal::PercentSign, 3},
      // Already escaped: listing it would make the launcher store "a b".
      {"a%20b", NameRefusal::PercentSign, 1},
      {"bell\x07", NameRefusal::ControlCharacter, 4},
      {"del\x7f", NameRefusal::ControlCharacter, 3},
      {std::string("nul\0x", 5), NameRefusal::ControlCharacter, 3},
      // The installed name is text: a Latin-1 byte is no UTF-8.
      {"\xd1u", NameRefusal::NotText, 0},
      {"ok\xc3", NameRefusal::NotText, 2},
      // U+0085, a control character in UTF-8.
      {"next\xc2\x85line", NameRefusal::ControlCharacter, 4},
      {"../x", NameRefusal::LeavesInstallation, 0},
      {"a/../../x", NameRefusal::LeavesInstallation, 0},
      {"/etc/x", NameRefusal::LeavesInstallation, 0},
      {"C:x", NameRefusal::LeavesInstallation, 0},
      {"a/.../b", NameRefusal::LeavesInstallation, 0},
      {"aux.txt", NameRefusal::DeviceName, 0},
      {"a|b", NameRefusal::ForbiddenCharacter, 0},
      {"Launcher.exe.tmp", NameRefusal::WorkingName, 0},
      {"launcher.exe", NameRefusal::LauncherSpelling, 0},
  };
  for (const Case& c : cases) {
    EncodedEntryName encoded = encodeEntryName(c.name);
    EXPECT_EQ(encoded.refusal, c.refusal) << c.name;
    EXPECT_TRUE(encoded.name.empty()) << c.name;
    EXPECT_EQ(encoded.offset, c.offset) << c.name;
    EXPECT_FALSE(nameRefusalText(c.refusal).empty());
  }
}

TEST(EncodeEntryName, OtherLettersGoIntoTheListAsUtf8AndReachTheServersBytes) {
  struct Case {
    std::string local;   // the installed name, UTF-8
    std::string entry;   // as the list carries it
    std::string served;  // the bytes a web server looks up
  };
  const Case cases[] = {
      {"Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png"},
      {"Espa\xc3\xb1ol/\xc3\x91"
       "and\xc3\xba #1.txt",
       "Espa%f1ol/\xc3\x91"
       "and%fa%20#1.txt",
       "Espa\xf1ol/\xc3\x91"
       "and\xfa #1.txt"},
      {"\xe2\x82\xac\xf0\x9f\x8e\xae", "\xe2\x82\xac\xf0\x9f\x8e\xae", "\xe2\x82\xac\xf0\x9f\x8e\xae"},
  };
  for (const Case& c : cases) {
    EncodedEntryName encoded = encodeEntryName(c.local);
    ASSERT_EQ(encoded.refusal, NameRefusal::None) << c.local << ": " << nameRefusalText(encoded.refusal);
    EXPECT_EQ(encoded.name, c.entry);
    EXPECT_EQ(decodeEntryName(encoded.name), c.local);
    EXPECT_EQ(serverFileName(encoded.name), c.served);
  }
  // Only the eight escapes are the server's to decode.
  EXPECT_EQ(serverFileName("%F1%2e%f1%21%"), "%F1%2e\xf1!%");
}

TEST(EncodeEntryName, TheLimitIsCountedOnTheEscapedName) {
  // 84 blanks escape to 252 bytes; with three letters that is 255, with a
  // fourth one byte too many.
  EncodedEntryName fits = encodeEntryName(std::string(84, ' ') + "abc");
  ASSERT_EQ(fits.refusal, NameRefusal::None);
  EXPECT_EQ(fits.name.size(), kMaxEntryName);
  EXPECT_EQ(encodeEntryName(std::string(84, ' ') + "abcd").refusal, NameRefusal::TooLong);
  EXPECT_EQ(encodeEntryName(std::string(255, 'a')).refusal, NameRefusal::None);
  EXPECT_EQ(encodeEntryName(std::string(256, 'a')).refusal, NameRefusal::TooLong);
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
