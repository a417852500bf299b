// The installation folder and the player's language, read from the current
// user's registry.
#include <gtest/gtest.h>

#include <string>

#include "settings/installation_settings.h"
#include "support/registry_fixture.h"
#include "support/temp_dir.h"

using settings::currentLanguage;
using settings::loadLanguage;
using settings::readInstallPath;

using namespace testsupport;

namespace {

// A scratch registry that the code under test reads.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override { currentLanguage.clear(); }
  void write(const RegFileWriter& writer) { writer.write(file_); }
  std::filesystem::path file() const { return file_; }

  // readInstallPath's result and the path it left, starting from "unchanged".
  std::pair<bool, std::string> installPath() {
    std::string path = "unchanged";
    bool found = readInstallPath(path);
    return {found, path};
  }

 private:
  TempDir dir_;
  std::filesystem::path file_ = dir_ / "user.reg";
  RegistryFileEnv env_{file_};
};

const std::pair<bool, std::string> kNotRead{false, "unchanged"};

}  // namespace

TEST_F(Settings, StringPathComesBackWithForwardSlashes) {
  write(RegFileWriter().key().text("InstallPath", "C:\\Games\\Glimmerhold\\"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("C:/Games/Glimmerhold/")));

  write(RegFileWriter(RegFileWriter::Format::Ansi).key().text("InstallPath", "/home/p/Glimmerhold"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("/home/p/Glimmerhold")));

  // Outside Latin-1: UTF-16 in the file, UTF-8 in the launcher.
  write(RegFileWriter().key().text("InstallPath", "C:\\Users\\\xc5\x81ukasz\\Glimmerhold"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("C:/Users/\xc5\x81ukasz/Glimmerhold")));

  // A text type stored as hex(1) with a 0 inside ends at that 0.
  write(RegFileWriter().key().hex("InstallPath", 1, utf16le("/ab") + std::string(2, '\0') + utf16le("cd")));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("/ab")));
}

TEST_F(Settings, LongPathsAreReadWhole) {
  // 259 bytes and its 0 fill the first buffer exactly; 260 and more take the
  // second query. Neither may be cut.
  for (std::size_t length : {259u, 260u, 261u, 1000u, 70000u}) {
    std::string path = "\\";
    while (path.size() < length) path += "folder\\";
    path.resize(length, 'x');
    write(RegFileWriter().key().text("InstallPath", path));
    std::string expected = path;
    std::replace(expected.begin(), expected.end(), '\\', '/');
    auto [found, read] = installPath();
    EXPECT_TRUE(found) << length;
    EXPECT_EQ(read.size(), length);
    EXPECT_EQ(read, expected);
  }
}

TEST_F(Settings, ExpandablePathIsExpandedAndKeepsBackslashes) {
  ScopedEnv root("GH_TEST_GAMES", "D:\\Spiele");
  ScopedEnv unset("GH_TEST_UNSET", std::nullopt);
  write(RegFileWriter().key().expandText("InstallPath", "%GH_TEST_GAMES%\\Glimmerhold"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("D:\\Spiele\\Glimmerhold")));

  write(RegFileWriter().key().expandText("InstallPath", "%GH_TEST_UNSET%\\Glimmerhold"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("%GH_TEST_UNSET%\\Glimmerhold")));

  // The same in a REGEDIT4 file, whose hex(2) data is narrow.
  write(RegFileWriter(RegFileWriter::Format::Ansi).key().expandText("InstallPath", "%GH_TEST_GAMES%\\G"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("D:\\Spiele\\G")));

  // An expansion longer than the first 261-byte buffer is done again, whole.
  std::string longRoot(400, 'r');
  ScopedEnv big("GH_TEST_GAMES", longRoot);
  write(RegFileWriter().key().expandText("InstallPath", "%GH_TEST_GAMES%\\%GH_TEST_GAMES%"));
  EXPECT_EQ(installPath(), std::make_pair(true, longRoot + "\\" + longRoot));

  // An expansion to nothing is an empty path.
  ScopedEnv empty("GH_TEST_GAMES", "");
  write(RegFileWriter().key().expandText("InstallPath", "%GH_TEST_GAMES%"));
  EXPECT_EQ(installPath(), std::make_pair(false, std::string()));
}

TEST_F(Settings, PathIsMissingUnlessAStoredNonEmptyText) {
  EXPECT_EQ(installPath(), kNotRead);  // no file at all

  write(RegFileWriter().key("HKEY_CURRENT_USER\\Software\\Quarvo").text("InstallPath", "/x"));
  EXPECT_EQ(installPath(), kNotRead);

  write(RegFileWriter().key().text("Other", "/x"));
  EXPECT_EQ(installPath(), kNotRead);

  write(RegFileWriter().key().dword("InstallPath", 7));
  EXPECT_EQ(installPath(), kNotRead);

  write(RegFileWriter().key().hex("InstallPath", 3, "/games"));
  EXPECT_EQ(installPath(), kNotRead);

  write(RegFileWriter().key().hex("InstallPath", 7, utf16le("/games") + std::string(4, '\0')));
  EXPECT_EQ(installPath(), kNotRead);

  write(RegFileWriter().key().text("InstallPath", ""));
  EXPECT_EQ(installPath(), std::make_pair(false, std::string()));

  // Each call reads afresh: the installer may have run meanwhile.
  write(RegFileWriter().key().text("InstallPath", "/now/here"));
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("/now/here")));
}

TEST_F(Settings, LanguageDefaultsToEnglish) {
  loadLanguage();
  EXPECT_EQ(currentLanguage, "en-US");

  writeInstallationSettings(file(), "/games", "es-ES");
  loadLanguage();
  EXPECT_EQ(currentLanguage, "es-ES");
  EXPECT_EQ(currentLanguage.substr(0, 2), "es");

  writeInstallationSettings(file(), "/games", "es\\ES");
  loadLanguage();
  EXPECT_EQ(currentLanguage, "es/ES");

  for (const RegFileWriter& writer : {RegFileWriter().key().text("Lenguaje_h144357406", ""),
                                      RegFileWriter().key().dword("Lenguaje_h144357406", 0x0c0a),
                                      RegFileWriter().key().text("InstallPath", "/games")}) {
    currentLanguage = "stale";
    write(writer);
    loadLanguage();
    EXPECT_EQ(currentLanguage, "en-US");
  }
}
