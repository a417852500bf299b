// The two body destinations on their own, without a server: what only they
// guard.
#include "net/body_destination.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "net/file_destination.h"
#include "net/memory_destination.h"
#include "support/job_wait.h"
#include "support/temp_dir.h"

using net::cStreamingFile;
using net::DownloadStatus;
using net::partialFilePath;

namespace {

// A job whose own fetch is refused at once (its url cannot be sent), so its
// fields are the test's to fill.
struct IdleJob {
  explicit IdleJob(const std::string& localPath) : job("\x01", localPath) { EXPECT_TRUE(testsupport::jobEnded(job)); }
  cStreamingFile job;
};

TEST(BodyDestination, MemoryRefusesMoreThanItsBufferHolds) {
  IdleJob idle("");
  net::MemoryDestination memory(idle.job);
  ASSERT_EQ(memory.open(4), DownloadStatus::None);
  EXPECT_EQ(memory.append("abc", 3), DownloadStatus::None);
  EXPECT_EQ(memory.append("de", 2), DownloadStatus::BodyOverlong);
  EXPECT_EQ(memory.finish(), DownloadStatus::None);
  EXPECT_STREQ(idle.job.bufferStart, "abc");
}

TEST(BodyDestination, AnUnfinishedSideFileIsRemovedAndTheOldFileStays) {
  testsupport::TempDir dir;
  const std::string target = (dir / "game.pak").string();
  testsupport::writeFile(target, "old");
  IdleJob idle(target);
  {
    net::FileDestination file(idle.job);
    ASSERT_EQ(file.open(3), DownloadStatus::None);
    EXPECT_EQ(file.append("new", 3), DownloadStatus::None);
    EXPECT_TRUE(std::filesystem::exists(partialFilePath(target)));
  }
  EXPECT_FALSE(std::filesystem::exists(partialFilePath(target)));
  EXPECT_EQ(testsupport::readFile(target), "old");
}

}  // namespace
