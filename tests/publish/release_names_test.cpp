// How release folder names become entry, served and installed names, and
// which names the tool refuses: the launcher's rule, with its reasons.
#include "release_names.h"

#include <gtest/gtest.h>

#include <string>

#include "update/entry_names.h"

using update::NameRefusal;
using update::nameRefusalText;

namespace {

using publish::listedName;
using publish::ListedName;
using publish::longPathWarning;
using publish::printableName;

TEST(ListedName, Utf8AndWindowsCodePageNamesAreOneText) {
  struct Case {
    std::string disk;
    std::string entry;
    std::string served;
    std::string installed;
  };
  const Case cases[] = {
      // UTF-8, as made on Linux: the six letters escaped, served under their byte.
      {"Espa\xc3\xb1"
       "a.txt",
       "Espa%f1a.txt",
       "Espa\xf1"
       "a.txt",
       "Espa\xc3\xb1"
       "a.txt"},
      // Copied from Windows: the code page's byte is the same letter.
      {"Espa\xf1"
       "a/canci\xc3\xb3n",
       "Espa%f1a/canci%f3n",
       "Espa\xf1"
       "a/canci\xf3n",
       "Espa\xc3\xb1"
       "a/canci\xc3\xb3n"},
      // Any other letter goes into the list in UTF-8, and is served under it.
      {"Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png", "Ping\xc3\xbcino.png"},
      {"M\xfcller \xd1\x80.txt", "M\xc3\xbcller%20\xc3\x91\xe2\x82\xac.txt", "M\xc3\xbcller \xc3\x91\xe2\x82\xac.txt",
       "M\xc3\xbcller \xc3\x91\xe2\x82\xac.txt"},
      {"notes#1 read me!.txt", "notes#1%20read%20me%21.txt", "notes#1 read me!.txt", "notes#1 read me!.txt"},
  };
  for (const Case& c : cases) {
    ListedName listed = listedName(c.disk);
    ASSERT_EQ(listed.fault, "") << printableName(c.disk);
    EXPECT_EQ(listed.entryName, c.entry) << printableName(c.disk);
    EXPECT_EQ(listed.servedName, c.served) << printableName(c.disk);
    EXPECT_EQ(listed.installedName, c.installed) << printableName(c.disk);
    EXPECT_EQ(update::decodeEntryName(listed.entryName), listed.installedName) << "the launcher installs it so";
  }
  EXPECT_EQ(listedName("Data/README.Txt").foldedName, "data/readme.txt");
  EXPECT_EQ(listedName("\xd1").foldedName, listedName("\xc3\xb1").foldedName) << "one file on Windows";
}

TEST(ListedName, RefusesWithTheLaunchersReasons) {
  const std::pair<const char*, NameRefusal> refused[] = {
      {"a<b", NameRefusal::ForbiddenCharacter},
      {"a?b", NameRefusal::ForbiddenCharacter},
      {"a:b", NameRefusal::LeavesInstallation},
      {"dir./x", NameRefusal::EndsInDotOrBlank},
      {"file.", NameRefusal::EndsInDotOrBlank},
      {"CON.txt", NameRefusal::DeviceName},
      {"data/nul.pak", NameRefusal::DeviceName},
      {"aux .txt", NameRefusal::DeviceName},
      {"version_list.txt.tmp", NameRefusal::WorkingName},
      {"version_list.journal", NameRefusal::WorkingName},
      {"Version_List.TXT/x", NameRefusal::WorkingName},
      {"download_in_progress.txt", NameRefusal::WorkingName},
      {"data/level.pak.ghpart", NameRefusal::PartialSuffix},
      {"launcher.exe", NameRefusal::LauncherSpelling},
      {"Launcher.exe/x", NameRefusal::LauncherSpelling},
      {"100%.txt", NameRefusal::PercentSign},
      {"tab\there", NameRefusal::WhiteSpace},
      {"no\x01way", NameRefusal::ControlCharacter},
      // 0x81 is undefined in Windows-1252: read as the control character U+0081.
      {"odd\x81", NameRefusal::ControlCharacter},
  };
  for (const auto& [disk, reason] : refused) {
    EXPECT_EQ(listedName(disk).fault, nameRefusalText(reason)) << printableName(disk);
    EXPECT_EQ(listedName(disk).entryName, "") << printableName(disk);
  }
  // The release folder's own: a "\" on Linux, and the list's signature.
  EXPECT_NE(listedName("a\\b").fault.find("folder separator"), std::string::npos);
  EXPECT_NE(listedName("version_list.SIG").fault.find("signature"), std::string::npos);
  // Only at the top are the launcher's files in the way.
  for (const char* name : {"Launcher.exe", "docs/version_list.txt", "old/Launcher.exe.tmp", "a.ghpart.txt", "com10"}) {
    EXPECT_EQ(listedName(name).fault, "") << name;
  }
}

// 85 characters of a typical installation, a separator, and 173 left for
// the name, or for its folder and the 23 of the side file fetched into it.
TEST(LongPathWarning, WarnsWhereAPlayersWindowsPassesMaxPath) {
  EXPECT_EQ(publish::kTypicalInstallFolder, 85u);
  EXPECT_EQ(longPathWarning(std::string(173, 'n')), "");
  EXPECT_NE(longPathWarning(std::string(174, 'n')).find("would be 260 characters long"), std::string::npos)
      << longPathWarning(std::string(174, 'n'));
  // The side file decides: its folder of 150 characters and "/".
  EXPECT_EQ(longPathWarning(std::string(149, 'f') + "/" + std::string(10, 'n')), "");
  EXPECT_NE(longPathWarning(std::string(150, 'f') + "/a"), "");
  // Counted as Windows counts: UTF-16 units, one for each letter here.
  EXPECT_EQ(longPathWarning(std::string(172, 'n') + "\xc3\xb1"), "") << "one unit for the letter's two bytes";
  EXPECT_NE(longPathWarning(std::string(173, 'n') + "\xc3\xb1"), "");
}

TEST(ReleaseNames, Showing) {
  EXPECT_EQ(printableName("Espa\xc3\xb1"
                          "a"),
            "Espa\xc3\xb1"
            "a");
  EXPECT_EQ(printableName("Espa\xf1"
                          "a\t\\"),
            "Espa\\xf1"
            "a\\x09\\x5c");
  EXPECT_EQ(printableName("\xe2\x82"), "\\xe2\\x82");  // a cut-off sequence
  // Not text either: a surrogate and an overlong "/" are shown as bytes.
  EXPECT_EQ(printableName("\xed\xa0\x80\xc0\xaf"), "\\xed\\xa0\\x80\\xc0\\xaf");
}

}  // namespace
