#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

TEST(FilesTest, BackslashSeparatesFoldersAsOnWindows) {
  testsupport::TempDir dir;
  const std::string base = dir.str();
  ASSERT_TRUE(platform::createDirectory((base + "\\maps").c_str()));
  platform::File file = platform::File::open((base + "\\maps\\a.pak").c_str(), platform::File::Access::CreateAlways);
  ASSERT_TRUE(file.isOpen());
  EXPECT_TRUE(file.write("abc", 3));
  EXPECT_TRUE(file.close());
  EXPECT_EQ(readFile(dir / "maps" / "a.pak"), "abc");
  EXPECT_EQ(platform::accessCheck((base + "\\maps\\a.pak").c_str()), 0);
  EXPECT_EQ(platform::accessCheck((base + "\\maps\\b.pak").c_str()), ENOENT);
  std::uint64_t size = 99;
  EXPECT_EQ(platform::fileSizeCheck((base + "\\maps\\a.pak").c_str(), &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(platform::fileSizeCheck((base + "\\maps").c_str(), &size), 0);
  EXPECT_EQ(size, 0u) << "a folder has no size";
  EXPECT_EQ(platform::fileSizeCheck((base + "\\maps\\b.pak").c_str(), &size), ENOENT);
  EXPECT_EQ(platform::fileSizeCheck((base + "\\nowhere\\b.pak").c_str(), &size), ENOENT);
  EXPECT_FALSE(platform::deleteFile((base + "\\maps").c_str())) << "a folder is not a file";
  EXPECT_TRUE(platform::deleteFile((base + "\\maps\\a.pak").c_str()));
  EXPECT_FALSE(platform::File::open((base + "\\maps").c_str(), platform::File::Access::ReadExisting).isOpen());
}

TEST(FilesTest, AReplacedFileKeepsItsPermissions) {
  testsupport::TempDir dir;
  writeFile(dir / "game", "old");
  ::chmod((dir / "game").c_str(), 0750);
  writeFile(dir / "game.new", "new");
  ::chmod((dir / "game.new").c_str(), 0600);
  ASSERT_TRUE(platform::replaceFile((dir / "game.new").c_str(), (dir / "game").c_str()));
  EXPECT_EQ(readFile(dir / "game"), "new");
  EXPECT_EQ(modeOf(dir / "game"), 0750u);
  EXPECT_FALSE(fs::exists(dir / "game.new"));

  // A file that replaces nothing keeps its own.
  writeFile(dir / "fresh.new", "x");
  ::chmod((dir / "fresh.new").c_str(), 0640);
  ASSERT_TRUE(platform::replaceFile((dir / "fresh.new").c_str(), (dir / "fresh").c_str()));
  EXPECT_EQ(modeOf(dir / "fresh"), 0640u);
  EXPECT_FALSE(platform::replaceFile((dir / "missing").c_str(), (dir / "fresh").c_str()));
}

TEST(FilesTest, OnlyRegularFilesOpenAndANewFileIsNew) {
  testsupport::TempDir dir;
  // A pipe opens for neither reading nor writing, and never waits for its
  // other end.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (auto access : {platform::File::Access::ReadExisting, platform::File::Access::CreateAlways,
                      platform::File::Access::CreateNew}) {
    EXPECT_FALSE(platform::File::open((dir / "pipe").c_str(), access).isOpen());
  }
  // CREATE_NEW: nothing that already has the name is written, links are not
  // followed, not even to a file that does not exist yet.
  writeFile(dir / "victim", "kept");
  fs::create_symlink(dir / "victim", dir / "link");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  for (const char* name : {"victim", "link", "dangling", "pipe", "."}) {
    EXPECT_FALSE(platform::File::open((dir / name).c_str(), platform::File::Access::CreateNew).isOpen()) << name;
  }
  EXPECT_EQ(readFile(dir / "victim"), "kept");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  // One of the launcher's own files is read only where it stands: not at
  // the end of a link.
  EXPECT_FALSE(platform::File::open((dir / "link").c_str(), platform::File::Access::ReadOwn).isOpen());
  EXPECT_TRUE(platform::File::open((dir / "victim").c_str(), platform::File::Access::ReadOwn).isOpen());

  platform::File made = platform::File::open((dir / "new").c_str(), platform::File::Access::CreateNew);
  ASSERT_TRUE(made.isOpen());
  EXPECT_TRUE(made.write("12345", 5));
  std::uint64_t size = 0;
  EXPECT_TRUE(made.size(&size));
  EXPECT_EQ(size, 5u);
}

TEST(FilesTest, ModuleFileNameIsCutToTheBufferAndSaysSo) {
  char full[4096];
  std::uint32_t length = platform::moduleFileName(full, sizeof full);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(fs::path(full).filename(), "platform_tests");
  char small[8];
  EXPECT_EQ(platform::moduleFileName(small, sizeof small), sizeof small);
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

}  // namespace
