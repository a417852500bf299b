// Files through the kernel's file calls: backslash paths, sharing, replacing.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/win32/wide_text.h"
#include "support/temp_dir.h"
#include "win32/win32_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

TEST(Win32Files, BackslashAndMixedPathsNameTheSameFiles) {
  testsupport::TempDir dir;
  const std::string base = win32test::backslashed(dir.path());
  ASSERT_TRUE(platform::createDirectory((base + "\\maps").c_str()));
  EXPECT_FALSE(platform::createDirectory((base + "/maps").c_str())) << "it exists already";
  {
    platform::File file = platform::File::open((base + "/maps\\a.pak").c_str(), platform::File::Access::CreateAlways);
    ASSERT_TRUE(file.isOpen());
    EXPECT_TRUE(file.write("abc", 3));
    EXPECT_TRUE(file.flush());
  }
  EXPECT_EQ(readFile(dir / "maps" / "a.pak"), "abc");
  EXPECT_EQ(platform::accessCheck((base + "\\maps\\a.pak").c_str()), 0);
  EXPECT_EQ(platform::accessCheck((base + "\\maps\\b.pak").c_str()), ENOENT);
  EXPECT_FALSE(platform::deleteFile((base + "\\maps").c_str())) << "a folder is not a file";
  EXPECT_FALSE(platform::File::open((base + "\\maps").c_str(), platform::File::Access::ReadExisting).isOpen());

  platform::File reader = platform::File::open((base + "\\maps\\a.pak").c_str(), platform::File::Access::ReadExisting);
  ASSERT_TRUE(reader.isOpen());
  char bytes[8] = {};
  std::uint32_t got = 0;
  EXPECT_TRUE(reader.read(bytes, sizeof bytes, &got));
  EXPECT_EQ(std::string(bytes, got), "abc");
  EXPECT_TRUE(reader.read(bytes, sizeof bytes, &got));
  EXPECT_EQ(got, 0u) << "end of the file";
  // A reader lets others read, not write: the same file cannot be created
  // over it meanwhile.
  EXPECT_TRUE(platform::File::open((base + "\\maps\\a.pak").c_str(), platform::File::Access::ReadExisting).isOpen());
  EXPECT_FALSE(platform::File::open((base + "\\maps\\a.pak").c_str(), platform::File::Access::CreateAlways).isOpen());
  EXPECT_TRUE(reader.close());
  EXPECT_TRUE(reader.close()) << "closing twice is harmless";

  ASSERT_TRUE(platform::setCurrentDirectory((base + "\\maps").c_str()));
  EXPECT_EQ(fs::current_path(), dir.path() / "maps");
  ASSERT_TRUE(platform::setCurrentDirectory(base.c_str()));
  EXPECT_TRUE(platform::deleteFile((base + "\\maps\\a.pak").c_str()));
  EXPECT_FALSE(platform::deleteFile((base + "\\maps\\a.pak").c_str()));
}

TEST(Win32Files, ReplaceSwapsTheWholeFileOrNothing) {
  testsupport::TempDir dir;
  const std::string base = win32test::backslashed(dir.path());
  writeFile(dir / "version_list.txt", "old");
  writeFile(dir / "version_list.txt.new", "new");
  ASSERT_TRUE(platform::replaceFile((base + "\\version_list.txt.new").c_str(), (base + "\\version_list.txt").c_str()));
  EXPECT_EQ(readFile(dir / "version_list.txt"), "new");
  EXPECT_FALSE(fs::exists(dir / "version_list.txt.new"));

  EXPECT_FALSE(platform::replaceFile((base + "\\missing").c_str(), (base + "\\version_list.txt").c_str()));
  EXPECT_EQ(readFile(dir / "version_list.txt"), "new");
  ASSERT_TRUE(platform::replaceFile((base + "\\version_list.txt").c_str(), (base + "\\fresh.txt").c_str()));
  EXPECT_EQ(readFile(dir / "fresh.txt"), "new");
}

TEST(Win32Files, ModuleFileNameIsCutToTheBufferAndSaysSo) {
  char full[4096];
  std::uint32_t length = platform::moduleFileName(full, sizeof full);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(full), length);
  EXPECT_EQ(fs::path(full).filename(), "win32_tests.exe");
  char small[8];
  EXPECT_EQ(platform::moduleFileName(small, sizeof small), sizeof small);
  EXPECT_EQ(std::strlen(small), sizeof small - 1) << "cut, and still terminated";
}

// What the wide file calls get: the extended-length form of the absolute
// path, which Windows takes past MAX_PATH without the long-path policy, and
// which it no longer normalises itself.
TEST(Win32Files, TheSystemGetsExtendedAbsolutePaths) {
  struct Case {
    const wchar_t* path;
    const wchar_t* current;
    const wchar_t* handed;
  };
  const Case cases[] = {
      {L"C:\\Games\\G\\a.pak", L"D:\\x", L"\\\\?\\C:\\Games\\G\\a.pak"},
      {L"maps/a.pak", L"C:\\Games\\G", L"\\\\?\\C:\\Games\\G\\maps\\a.pak"},
      {L"maps\\a.pak", L"C:\\Games\\G\\", L"\\\\?\\C:\\Games\\G\\maps\\a.pak"},
      {L"C:/Games//G/./maps/../a.pak", L"", L"\\\\?\\C:\\Games\\G\\a.pak"},
      {L"..\\..\\..\\x", L"C:\\G", L"\\\\?\\C:\\x"},
      {L"\\top\\a.pak", L"C:\\Games\\G", L"\\\\?\\C:\\top\\a.pak"},
      {L"C:\\", L"", L"\\\\?\\C:\\"},
      {L"\\\\server\\share\\G\\a.pak", L"C:\\x", L"\\\\?\\UNC\\server\\share\\G\\a.pak"},
      {L"//server/share/../a.pak", L"", L"\\\\?\\UNC\\server\\share\\a.pak"},
      {L"a.pak", L"\\\\server\\share\\G", L"\\\\?\\UNC\\server\\share\\G\\a.pak"},
      {L"\\a.pak", L"\\\\server\\share\\G", L"\\\\?\\UNC\\server\\share\\a.pak"},
      {L"a.pak", L"\\\\?\\C:\\G", L"\\\\?\\C:\\G\\a.pak"},
      {L"a.pak", L"\\\\?\\UNC\\server\\share\\G", L"\\\\?\\UNC\\server\\share\\G\\a.pak"},
      // Trimmed as the system trims: one dot off a folder, every dot and
      // blank off the last name; dots only are a name.
      {L"C:\\G.\\a.pak. .", L"", L"\\\\?\\C:\\G\\a.pak"},
      {L"C:\\G..\\...\\a.pak", L"", L"\\\\?\\C:\\G..\\...\\a.pak"},
      {L"C:\\G\\x. \\", L"", L"\\\\?\\C:\\G\\x. "},
      {L"a.pak.", L"C:\\G.", L"\\\\?\\C:\\G\\a.pak"},
      // Already extended, or a device: as it is, "/" and all.
      {L"\\\\?\\C:\\G/a.pak", L"D:\\x", L"\\\\?\\C:\\G/a.pak"},
      {L"\\\\.\\pipe\\p", L"C:\\x", L"\\\\.\\pipe\\p"},
      // Nothing to make it absolute with: the system's own meaning.
      {L"D:a.pak", L"C:\\x", L"D:a.pak"},
      {L"a.pak", L"", L"a.pak"},
      {L"a/b.pak", L"relative", L"a\\b.pak"},
      {L"\\\\server", L"C:\\x", L"\\\\server"},
      {L"", L"C:\\x", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::extendedPath(c.path, c.current), c.handed) << "path " << platform::utf8Text(c.path);
  }
}

}  // namespace
