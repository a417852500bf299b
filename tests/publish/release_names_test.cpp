// How release folder names become local names, and which names a Windows
// installation or the launcher's own files rule out.
#include "release_names.h"

#include <gtest/gtest.h>

#include "update/version_list.h"

using update::encodeEntryName;
using update::EntryNameFault;

namespace {

using publish::foldedName;
using publish::localNameFromDisk;
using publish::longPathWarning;
using publish::printableName;
using publish::reservedNameFault;
using publish::windowsNameFault;

TEST(LocalNameFromDisk, TakesUtf8AndLatin1Letters) {
  EXPECT_EQ(localNameFromDisk("Espa\xc3\xb1"
                              "a.txt"),
            "Espa\xf1"
            "a.txt");
  EXPECT_EQ(localNameFromDisk("\xc3\xa1\xc3\xa9\xc3\xad\xc3\xb3\xc3\xba"), "\xe1\xe9\xed\xf3\xfa");
  // A folder copied from Windows already holds the byte; both spellings mix.
  EXPECT_EQ(localNameFromDisk("Espa\xf1"
                              "a/canci\xc3\xb3n"),
            "Espa\xf1"
            "a/canci\xf3n");
  // Other UTF-8 letters are left for the list's check to refuse: "Ñ", a
  // decomposed "ñ" (n + combining tilde), and a 0xC3 at the very end.
  for (std::string name : {"\xc3\x91", "n\xcc\x83", "a\xc3"}) {
    EXPECT_EQ(localNameFromDisk(name), name);
    EXPECT_EQ(encodeEntryName(publish::installedName(localNameFromDisk(name))).fault, EntryNameFault::UnescapedByte)
        << name;
  }
  // The launcher installs the letter in UTF-8, under the entry name the byte escapes to.
  EXPECT_EQ(publish::installedName("Espa\xf1"
                                   "a/x"),
            "Espa\xc3\xb1"
            "a/x");
  EXPECT_EQ(encodeEntryName(publish::installedName("Espa\xf1"
                                                   "a"))
                .name,
            "Espa%f1a");
}

TEST(WindowsNameFault, RefusesNamesAWindowsInstallationCannotHold) {
  for (const char* name : {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\\b", "notes#1.txt", "dir./x", "dir /x",
                           "file.", "con", "CON.txt", "data/nul.pak", "Com1", "lpt9.log", "aux .txt", "con/x"}) {
    EXPECT_FALSE(windowsNameFault(name).empty()) << name;
  }
  for (const char* name : {"console.txt", "com10", "com0", "lpt", "a.b.c", "data/.hidden", "nulls/x"}) {
    EXPECT_EQ(windowsNameFault(name), "") << name;
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
  EXPECT_EQ(longPathWarning(std::string(172, 'n') + "\xf1"), "") << "the Latin-1 byte of a letter";
  EXPECT_NE(longPathWarning(std::string(173, 'n') + "\xf1"), "");
}

TEST(ReservedNameFault, GuardsTheLaunchersOwnFiles) {
  for (const char* name :
       {"version_list.txt.tmp", "Version_List.TXT", "Launcher.exe.tmp", "launcher.EXE.new", "data/level.pak.ghpart",
        "x.GHPART", "launcher.exe", "Launcher.exe/x", "VERSION_LIST.txt/x", "download_in_progress.txt", "a.ghpart/b"}) {
    EXPECT_FALSE(reservedNameFault(name).empty()) << name;
  }
  // Only at the top: in a sub-folder these are ordinary files.
  for (const char* name : {"Launcher.exe", "docs/version_list.txt", "old/Launcher.exe.tmp", "ghpart", "a.ghpart.txt"}) {
    EXPECT_EQ(reservedNameFault(name), "") << name;
  }
}

TEST(ReleaseNames, FoldingAndShowing) {
  EXPECT_EQ(foldedName("Data/README.Txt"), "data/readme.txt");
  EXPECT_EQ(foldedName("\xf1"), "\xf1");
  EXPECT_EQ(printableName("Espa\xc3\xb1"
                          "a"),
            "Espa\xc3\xb1"
            "a");
  EXPECT_EQ(printableName("Espa\xf1"
                          "a\t\\"),
            "Espa\\xf1a\\x09\\x5c");
  EXPECT_EQ(printableName("\xe2\x82"), "\\xe2\\x82");  // a cut-off sequence
}

}  // namespace
