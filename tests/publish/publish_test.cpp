// The publishing tool on real folders: the list it writes, what it refuses,
// the served folder it lays out and the differences --check finds.
#include "publish.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "content_hash.h"
#include "support/temp_dir.h"
#include "update/version_list.h"

using update::kVersionListName;

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome publishWith(std::vector<std::string> arguments) {
  std::vector<const char*> argv{"glimmerhold-publish"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::ostringstream out, err;
  int code = publish::publishMain(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

std::string line(const std::string& name, const std::string& bytes) {
  return name + " " + publish::hashBytes(bytes).substr(0, 32) + " " + std::to_string(bytes.size()) + "\n";
}

class PublishTest : public ::testing::Test {
 protected:
  fs::path release() const { return scratch_ / "release"; }
  fs::path served() const { return scratch_ / "www" / "up"; }
  void put(const std::string& name, const std::string& bytes) { writeFile(release() / name, bytes); }
  std::string releaseList() const { return readFile(release() / kVersionListName); }

  TempDir scratch_;
};

TEST_F(PublishTest, ListsEveryFileSortedWithContentTokens) {
  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 4096);
  put("b.txt", "bee");
  put("A.txt", "ay");
  put("docs/Chapter One!.txt", "one");
  put("Espa\xc3\xb1"
      "a.txt",
      "hola");
  put("sub/deeper/level.pak", big);
  put("empty", "");
  put("docs/version_list.txt", "only the top one is the list");

  Outcome first = publishWith({release().string()});
  ASSERT_EQ(first.code, publish::kDone) << first.err;
  const std::string expected = line("A.txt", "ay") + line("Espa%f1a.txt", "hola") + line("b.txt", "bee") +
                               line("docs/Chapter%20One%21.txt", "one") +
                               line("docs/version_list.txt", "only the top one is the list") + line("empty", "") +
                               line("sub/deeper/level.pak", big);
  EXPECT_EQ(releaseList(), expected);
  EXPECT_EQ(line("x", "").substr(2), "e3b0c44298fc1c149afbf4c8996fb924 0\n") << "SHA-256 of nothing, cut to 32";

  // Publishing again reads its own list as no file and writes the same text;
  // a changed file changes its own line only.
  ASSERT_EQ(publishWith({release().string()}).code, publish::kDone);
  EXPECT_EQ(releaseList(), expected);
  put("b.txt", "bees");
  ASSERT_EQ(publishWith({release().string()}).code, publish::kDone);
  std::string changed = expected;
  changed.replace(changed.find(line("b.txt", "bee")), line("b.txt", "bee").size(), line("b.txt", "bees"));
  EXPECT_EQ(releaseList(), changed);
  EXPECT_FALSE(fs::exists(release() / "version_list.txt.tmp"));
}

TEST_F(PublishTest, RefusesNamesItCannotCarryAndWritesNothing) {
  put("good.txt", "fine");
  put(kVersionListName, "previous list\n");
  put("tab\there.txt", "x");
  put("100%.txt", "x");
  put("docs/Espa\xf1"
      "a.txt",
      "latin-1");
  put("docs/Espa\xc3\xb1"
      "a.txt",
      "utf-8");
  put("Launcher.exe.tmp", "x");
  Outcome outcome = publishWith({release().string()});
  EXPECT_EQ(outcome.code, publish::kRefused);
  EXPECT_NE(outcome.err.find("\"tab\\x09here.txt\""), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("\"100%.txt\": the name holds \"%\""), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("same file as"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("\"Launcher.exe.tmp\""), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("4 files cannot be published; nothing was written"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("good.txt"), std::string::npos);
  EXPECT_EQ(releaseList(), "previous list\n");
}

TEST_F(PublishTest, FollowsLinksToFilesInsideOnly) {
  put("data/real.pak", "real");
  writeFile(scratch_ / "outside.txt", "secret");
  fs::create_directories(release() / "links");
  fs::create_symlink("../data/real.pak", release() / "links" / "alias.pak");
  ASSERT_EQ(publishWith({release().string()}).code, publish::kDone);
  EXPECT_EQ(releaseList(), line("data/real.pak", "real") + line("links/alias.pak", "real"));

  fs::create_symlink(scratch_ / "outside.txt", release() / "escape.txt");
  fs::create_symlink("../data", release() / "links" / "folder");
  fs::create_symlink("nowhere", release() / "dangling");
  Outcome outcome = publishWith({release().string()});
  EXPECT_EQ(outcome.code, publish::kRefused);
  EXPECT_NE(outcome.err.find("\"escape.txt\": the symbolic link leads out"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("\"links/folder\": the symbolic link leads to a folder"), std::string::npos);
  EXPECT_NE(outcome.err.find("\"dangling\": the symbolic link leads nowhere"), std::string::npos);

  // Links out of the folder and to nothing, as real game data has them.
  fs::remove(release() / "links" / "folder");
  Outcome followed = publishWith({"--follow-links", release().string()});
  EXPECT_EQ(followed.code, publish::kRefused) << "a link to nothing has nothing to copy";
  EXPECT_NE(followed.err.find("\"dangling\": the symbolic link leads nowhere"), std::string::npos) << followed.err;
  EXPECT_EQ(followed.err.find("escape.txt"), std::string::npos) << followed.err;
  Outcome skipped = publishWith({"--skip-links", release().string()});
  ASSERT_EQ(skipped.code, publish::kDone) << skipped.err;
  EXPECT_NE(skipped.err.find("warning: leaving out \"dangling\": the symbolic link leads nowhere"), std::string::npos);
  EXPECT_NE(skipped.err.find("warning: leaving out \"escape.txt\": the symbolic link leads out"), std::string::npos);
  EXPECT_EQ(releaseList(), line("data/real.pak", "real") + line("links/alias.pak", "real"));
  fs::remove(release() / "dangling");
  ASSERT_EQ(publishWith({"--follow-links", "--out", served().string(), release().string()}).code, publish::kDone);
  EXPECT_EQ(readFile(served() / kVersionListName),
            line("data/real.pak", "real") + line("escape.txt", "secret") + line("links/alias.pak", "real"));
  EXPECT_EQ(readFile(served() / "escape.txt"), "secret");
  EXPECT_FALSE(fs::is_symlink(served() / "escape.txt"));
  ASSERT_EQ(publishWith({"--follow-links", "--hardlink", "--out", served().string(), release().string()}).code,
            publish::kDone);
  EXPECT_FALSE(fs::equivalent(served() / "escape.txt", scratch_ / "outside.txt")) << "a copy, never a link out";
  EXPECT_TRUE(fs::equivalent(served() / "data" / "real.pak", release() / "data" / "real.pak"));
}

TEST_F(PublishTest, LaysOutTheServedFolderUnderDecodedByteNames) {
  put("Espa\xc3\xb1"
      "a.txt",
      "hola");
  put("docs/read me!.txt", "readme");
  // Other letters: in UTF-8, and a byte of a Western Windows code page.
  put("Ping\xc3\xbcino.png", "png");
  put("M\xfcller.txt", "mu");
  Outcome outcome = publishWith({"--out", served().string(), release().string()});
  ASSERT_EQ(outcome.code, publish::kDone) << outcome.err;
  const std::string list = line("Espa%f1a.txt", "hola") + line("M\xc3\xbcller.txt", "mu") +
                           line("Ping\xc3\xbcino.png", "png") + line("docs/read%20me%21.txt", "readme");
  EXPECT_EQ(readFile(served() / kVersionListName), list);
  EXPECT_EQ(readFile(served() / "Ping\xc3\xbcino.png"), "png");
  EXPECT_EQ(readFile(served() / "M\xc3\xbcller.txt"), "mu");
  EXPECT_EQ(readFile(served() / "Espa\xf1"
                                "a.txt"),
            "hola");
  EXPECT_EQ(readFile(served() / "docs" / "read me!.txt"), "readme");
  EXPECT_FALSE(fs::exists(release() / kVersionListName)) << "the release folder is left alone";
  // A copy: a release file edited in place afterwards does not change what
  // is served under the token already listed.
  EXPECT_FALSE(fs::equivalent(served() / "Espa\xf1"
                                         "a.txt",
                              release() / "Espa\xc3\xb1"
                                          "a.txt"));
  {
    std::ofstream(release() /
                      "Espa\xc3\xb1"
                      "a.txt",
                  std::ios::in | std::ios::out)
        << "HOLA";
  }
  EXPECT_EQ(readFile(served() / "Espa\xf1"
                                "a.txt"),
            "hola");
  struct stat info {};
  ASSERT_EQ(::stat(served().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u) << "a web server of another user must read it";

  // Again, hard-linking, after a file went away: the old tree is replaced
  // whole and nothing is left beside it.
  fs::remove(release() / "docs" / "read me!.txt");
  ASSERT_EQ(publishWith({"--out", served().string(), "--hardlink", release().string()}).code, publish::kDone);
  EXPECT_EQ(readFile(served() / kVersionListName),
            line("Espa%f1a.txt", "HOLA") + line("M\xc3\xbcller.txt", "mu") + line("Ping\xc3\xbcino.png", "png"));
  EXPECT_FALSE(fs::exists(served() / "docs"));
  EXPECT_TRUE(fs::equivalent(served() / "Espa\xf1"
                                        "a.txt",
                             release() / "Espa\xc3\xb1"
                                         "a.txt"))
      << "hard link";
  std::vector<std::string> beside;
  for (const auto& entry : fs::directory_iterator(served().parent_path())) beside.push_back(entry.path().filename());
  EXPECT_EQ(beside, std::vector<std::string>{"up"});
}

TEST_F(PublishTest, ProtectsFoldersItDidNotMake) {
  put("a.txt", "a");
  writeFile(scratch_ / "home" / "notes.txt", "mine");
  for (const fs::path& out : {release(), release() / "www", scratch_.path(), scratch_ / "home"}) {
    Outcome outcome = publishWith({"--out", out.string(), release().string()});
    EXPECT_EQ(outcome.code, publish::kFailed) << out;
    EXPECT_FALSE(outcome.err.empty());
  }
  EXPECT_EQ(readFile(scratch_ / "home" / "notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(release() / "www"));
  EXPECT_FALSE(fs::exists(release() / kVersionListName));
  // A refused release leaves the served folder as it was.
  ASSERT_EQ(publishWith({"--out", served().string(), release().string()}).code, publish::kDone);
  put("bad%name", "x");
  EXPECT_EQ(publishWith({"--out", served().string(), release().string()}).code, publish::kRefused);
  EXPECT_EQ(readFile(served() / kVersionListName), line("a.txt", "a"));
}

TEST_F(PublishTest, CheckReportsEveryDifference) {
  put("keep.txt", "k");
  put("change.txt", "before");
  put("gone.txt", "g");
  ASSERT_EQ(publishWith({release().string()}).code, publish::kDone);
  Outcome same = publishWith({"--check", release().string()});
  EXPECT_EQ(same.code, publish::kDone) << same.out << same.err;

  put("change.txt", "after!");
  fs::remove(release() / "gone.txt");
  put("new.txt", "n");
  Outcome differs = publishWith({"--check", release().string()});
  EXPECT_EQ(differs.code, publish::kDiffers);
  EXPECT_EQ(differs.out, "changed: change.txt (version " + publish::hashBytes("before").substr(0, 32) + " -> " +
                             publish::hashBytes("after!").substr(0, 32) + ")\nmissing: gone.txt\nunlisted: new.txt\n");

  // A list the launcher would misread: a broken line and a name twice.
  ASSERT_EQ(publishWith({release().string()}).code, publish::kDone);
  put(kVersionListName, releaseList() + "\nkeep.txt x 1\n");
  Outcome broken = publishWith({"--check", release().string()});
  EXPECT_EQ(broken.code, publish::kDiffers);
  EXPECT_EQ(broken.out, "malformed line 4\nlisted twice: keep.txt\n");

  // Checking writes nothing, and a folder without a list cannot be checked.
  fs::remove(release() / kVersionListName);
  EXPECT_EQ(publishWith({"--check", release().string()}).code, publish::kFailed);
  EXPECT_FALSE(fs::exists(release() / kVersionListName));
}

// The built program, run as the studio runs it.
Outcome runProgram(const std::string& arguments) {
  std::string command = std::string("'") + GLIMMERHOLD_PUBLISH_PROGRAM + "' " + arguments + " 2>&1";
  Outcome outcome{-1, {}, {}};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.out.append(chunk, got);
  int status = ::pclose(pipe);
  outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST_F(PublishTest, TheProgramsExitCodesAndMessages) {
  Outcome help = runProgram("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);
  EXPECT_EQ(runProgram("").code, publish::kUsage);
  EXPECT_EQ(runProgram("--frobnicate x").code, publish::kUsage);
  EXPECT_EQ(runProgram("--copy '" + release().string() + "'").code, publish::kUsage);
  EXPECT_EQ(runProgram("--hardlink '" + release().string() + "'").code, publish::kUsage);
  EXPECT_EQ(runProgram("--follow-links --skip-links '" + release().string() + "'").code, publish::kUsage);
  EXPECT_EQ(runProgram("a b").code, publish::kUsage);
  // Read and written through the launcher's file code, such a folder would
  // be another folder.
  EXPECT_EQ(runProgram("--check 'rel\\x'").code, publish::kUsage);
  EXPECT_EQ(runProgram("--out 'o\\x' '" + release().string() + "'").code, publish::kUsage);
  EXPECT_EQ(runProgram("'" + (scratch_ / "absent").string() + "'").code, publish::kFailed);

  put("ok.txt", "ok");
  put("no\x01way", "x");
  Outcome refused = runProgram("'" + release().string() + "'");
  EXPECT_EQ(refused.code, publish::kRefused);
  EXPECT_NE(refused.out.find("glimmerhold-publish: cannot publish \"no\\x01way\": the name holds a control character"),
            std::string::npos)
      << refused.out;
  fs::remove(release() / "no\x01way");
  EXPECT_EQ(runProgram("'" + release().string() + "'").code, 0);
  EXPECT_EQ(readFile(release() / kVersionListName), line("ok.txt", "ok"));
}

}  // namespace

namespace {

// Keys and signing: the private key is the owner's alone and never
// overwritten; a signature this tool did not write, or a key that cannot
// sign, stops the publish with the served folder as it was.
TEST_F(PublishTest, SigningRefusesWhatItCannotTrustAndLeavesTheFolder) {
  const std::string key = (scratch_ / "studio").string();
  ASSERT_EQ(publishWith({"--new-key", key}).code, publish::kDone);
  struct stat info {};
  ASSERT_EQ(::stat((key + ".pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(publishWith({"--new-key", key}).code, publish::kFailed) << "never overwritten";

  put("Glimmerhold.exe", "game");
  ASSERT_EQ(publishWith({"--copy", "--sign", key + ".pem", "--out", served().string(), release().string()}).code,
            publish::kDone);
  EXPECT_EQ(publishWith({"--copy", "--sign", key + ".pub.pem", "--out", served().string(), release().string()}).code,
            publish::kFailed)
      << "the public half cannot sign";
  writeFile(served() / "version_list.sig", "release 0\n");
  put("Glimmerhold.exe", "game 2");
  Outcome damaged = publishWith({"--copy", "--sign", key + ".pem", "--out", served().string(), release().string()});
  EXPECT_EQ(damaged.code, publish::kFailed);
  EXPECT_NE(damaged.err.find("next release number"), std::string::npos) << damaged.err;
  EXPECT_EQ(readFile(served() / "Glimmerhold.exe"), "game");
  EXPECT_EQ(publishWith({"--check", "--sign", key + ".pem", release().string()}).code, publish::kUsage);
}

}  // namespace
