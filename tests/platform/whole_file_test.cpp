// platform::readWholeFile on every backend: the content whole, or nothing.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

TEST(ReadWholeFile, GivesTheWholeContentUpToItsLimitAndNothingElse) {
  testsupport::TempDir dir;
  // Longer than one read, so the pieces must join in order.
  std::string content(40000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
  testsupport::writeFile(dir / "data.bin", content);
  const std::string path = (dir / "data.bin").string();
  EXPECT_EQ(platform::readWholeFile(path.c_str(), content.size()), content);
  EXPECT_EQ(platform::readWholeFile(path.c_str(), content.size() - 1), std::nullopt) << "one byte over the limit";

  testsupport::writeFile(dir / "empty.txt", "");
  EXPECT_EQ(platform::readWholeFile((dir / "empty.txt").string().c_str(), 0), "");
  EXPECT_EQ(platform::readWholeFile((dir / "missing.txt").string().c_str(), 100), std::nullopt);
  EXPECT_EQ(platform::readWholeFile(dir.str().c_str(), 100), std::nullopt) << "a folder is not a file";
  EXPECT_EQ(platform::readWholeFile("", 100), std::nullopt);
}

}  // namespace
