// The installation settings against the real registry, its values written by
// the system's own reg.exe as an installer or a player would write them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/registry.h"
#include "settings/installation_settings.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/win32_registry.h"
#include "win32/win32_support.h"

using settings::currentLanguage;
using settings::loadLanguage;
using settings::readInstallPath;

namespace {

constexpr const char* kKey = "HKCU\\Software\\Quarvo\\Glimmerhold";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::clearSettingsRegistry();
    currentLanguage.clear();
  }
  void TearDown() override { testsupport::clearSettingsRegistry(); }

  // reg add KEY /v NAME /t TYPE /d DATA /f; DATA holds no blank or quote.
  static void regAdd(const std::string& name, const std::string& type, const std::string& data) {
    std::string line = std::string("reg.exe add ") + kKey + " /v " + name + " /t " + type + " /d " + data + " /f";
    ASSERT_EQ(win32test::runAndWait(line), 0) << line;
  }

  static std::pair<bool, std::string> installPath() {
    std::string path = "unchanged";
    bool found = readInstallPath(path);
    return {found, path};
  }
};

TEST_F(Registry, StringPathsTurnBackslashesIntoSlashes) {
  EXPECT_EQ(installPath(), std::make_pair(false, std::string("unchanged"))) << "no key yet";
  regAdd("InstallPath", "REG_SZ", "C:\\Games\\Glimmerhold");
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("C:/Games/Glimmerhold")));

  regAdd("Lenguaje_h144357406", "REG_SZ", "es-ES");
  loadLanguage();
  EXPECT_EQ(currentLanguage, "es-ES");
}

TEST_F(Registry, APathOutsideTheCodePageRoundTripsToItsFiles) {
  testsupport::TempDir dir;
  const std::string folder = win32test::backslashed(dir.path()) + "\\\xc5\x81ukasz";
  regAdd("InstallPath", "REG_SZ", folder);
  std::string expected = folder;
  std::replace(expected.begin(), expected.end(), '\\', '/');
  ASSERT_EQ(installPath(), std::make_pair(true, expected));
  // The path read back reaches the folder, and a letter escaped in the list
  // lands as that letter.
  ASSERT_TRUE(platform::createDirectory(expected.c_str()));
  ASSERT_TRUE(platform::setCurrentDirectory(expected.c_str()));
  platform::File file = platform::File::open(
      "Espa\xc3\xb1"
      "a.txt",
      platform::File::Access::CreateNew);
  ASSERT_TRUE(file.isOpen());
  file.close();
  EXPECT_TRUE(std::filesystem::exists(dir.path() / L"\u0141ukasz" / L"Espa\u00f1a.txt"));
  ASSERT_TRUE(platform::setCurrentDirectory(win32test::backslashed(win32test::binaryFolder()).c_str()));
}

TEST_F(Registry, ExpandablePathsAreExpandedWithTheirBackslashes) {
  testsupport::ScopedEnv root("GH_WIN_ROOT", "D:\\Spiele");
  regAdd("InstallPath", "REG_EXPAND_SZ", "%GH_WIN_ROOT%\\Glimmerhold");
  EXPECT_EQ(installPath(), std::make_pair(true, std::string("D:\\Spiele\\Glimmerhold")));

  // Past the first 261-byte expansion buffer: expanded again, whole.
  std::string longRoot(300, 'r');
  testsupport::ScopedEnv big("GH_WIN_ROOT", longRoot);
  EXPECT_EQ(installPath(), std::make_pair(true, longRoot + "\\Glimmerhold"));
}

TEST_F(Registry, AnOverLongPathIsReadWhole) {
  std::string path = "C:";
  while (path.size() < 700) path += "\\folder";
  regAdd("InstallPath", "REG_SZ", path);
  std::string expected = path;
  for (char& c : expected) {
    if (c == '\\') c = '/';
  }
  EXPECT_EQ(installPath(), std::make_pair(true, expected));

  // The seam itself: a short buffer is told the size it needs.
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::openCurrentUser("Software\\Quarvo\\Glimmerhold", platform::kKeyRead, key),
            platform::kErrorSuccess);
  unsigned char small[16];
  std::uint32_t type = 0;
  std::uint32_t size = sizeof small;
  EXPECT_EQ(key.queryValue("InstallPath", &type, small, &size), platform::kErrorMoreData);
  EXPECT_GE(size, path.size() + 1);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(key.queryValue("Missing", &type, small, &size), platform::kErrorFileNotFound);
}

TEST_F(Registry, NumbersAndEmptyTextsAreNoInstallation) {
  regAdd("InstallPath", "REG_DWORD", "7");
  EXPECT_EQ(installPath(), std::make_pair(false, std::string("unchanged")));
  regAdd("Lenguaje_h144357406", "REG_DWORD", "3082");
  loadLanguage();
  EXPECT_EQ(currentLanguage, "en-US");

  regAdd("InstallPath", "REG_SZ", "\"\"");
  EXPECT_EQ(installPath(), std::make_pair(false, std::string()));
}

}  // namespace
