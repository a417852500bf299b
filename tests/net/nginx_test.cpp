// The client against a real, independent HTTP server.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "net/streaming_file.h"
#include "support/job_wait.h"
#include "support/static_server.h"
#include "support/temp_dir.h"

using net::cStreamingFile;
using net::DownloadStatus;

namespace {

using testsupport::jobEnded;

TEST(Nginx, ServesVersionListsAndFilesToTheClient) {
  testsupport::TempDir root;
  testsupport::TempDir install;
  std::string list = "Launcher.exe 3 1024\ndata/game.pak 7 3145728\n";
  std::string big(3 * 1024 * 1024 + 5, '\0');
  std::mt19937 generator(9);
  for (char& c : big) c = static_cast<char>(generator());
  testsupport::writeFile(root / "updates" / "version_list.txt", list);
  testsupport::writeFile(root / "updates" / "data" / "game pak.bin", big);

  testsupport::NginxServer nginx(root.path());
  ASSERT_TRUE(nginx.running()) << nginx.errorLog();

  auto memory = std::make_unique<cStreamingFile>("127.0.0.1/updates/version_list.txt", "");
  // The url goes out verbatim; nginx decodes the escape itself.
  std::string target = (install / "game.pak").string();
  auto file = std::make_unique<cStreamingFile>("127.0.0.1/updates/data/game%20pak.bin", target);
  auto missing = std::make_unique<cStreamingFile>("127.0.0.1/updates/nothing.txt", "");
  ASSERT_TRUE(jobEnded(*memory));
  ASSERT_TRUE(jobEnded(*file));
  ASSERT_TRUE(jobEnded(*missing));

  ASSERT_TRUE(memory->isComplete()) << memory->status;
  EXPECT_EQ(std::string(memory->bufferStart, memory->expectedLength), list);
  ASSERT_TRUE(file->isComplete()) << file->status;
  EXPECT_EQ(file->expectedLength, static_cast<std::int32_t>(big.size()));
  EXPECT_TRUE(testsupport::readFile(target) == big);
  EXPECT_EQ(missing->status, statusCode(DownloadStatus::BadResponse));
}

TEST(Nginx, NamesInUtf8AndInAWindowsCodePageReachTheirFiles) {
  // The job percent-encodes what a request line cannot carry as it is;
  // nginx decodes it back to the very bytes the list names.
  testsupport::TempDir root;
  testsupport::TempDir install;
  const std::string names[] = {"Ping\xc3\xbcino.png", "M\xfcller #1.txt",
                               "Espa\xf1"
                               "a/a b.txt",
                               "100%.txt", "50%zz.txt"};
  for (const std::string& name : names) testsupport::writeFile(root / "updates" / name, "content of " + name);
  testsupport::NginxServer nginx(root.path());
  ASSERT_TRUE(nginx.running()) << nginx.errorLog();
  for (const std::string& name : names) {
    const std::string target = (install / "file").string();
    auto job = std::make_unique<cStreamingFile>("127.0.0.1/updates/" + name, target);
    ASSERT_TRUE(jobEnded(*job));
    ASSERT_TRUE(job->isComplete()) << name << ": " << job->status;
    EXPECT_EQ(testsupport::readFile(target), "content of " + name);
  }
}

}  // namespace
