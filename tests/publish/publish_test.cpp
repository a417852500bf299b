// The publishing tool on real folders: the list it writes, what it refuses,
// the served folder it lays out and the differences --check finds.
#include "publish.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "content_hash.h"
#include "release_folders.h"
#include "signing.h"
#include "support/signing_vector.h"
#include "support/temp_dir.h"
#include "update/list_signature.h"
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
  EXPECT_EQ(first.err, "") << "no name comes near Windows' path limit";

  // A name a player's Windows may not reach is listed, with a warning.
  const std::string deep = "maps/" + std::string(100, 'm') + "/" + std::string(80, 'x') + ".pak";
  put(deep, "deep");
  Outcome warned = publishWith({release().string()});
  ASSERT_EQ(warned.code, publish::kDone) << warned.err;
  EXPECT_NE(warned.err.find("warning: \"" + deep + "\": its path would be 276 characters long"), std::string::npos)
      << warned.err;
  EXPECT_NE(releaseList().find(line(deep, "deep")), std::string::npos);
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

// Release folders: each publish makes a folder no earlier run used, shares
// what did not change with the current one, never touches a served file, and
// moves the pointer last; a signed folder's numbers go on from the one it
// replaces, a folder laid out in place included.
TEST_F(PublishTest, ReleaseFoldersNeverChangeAServedFileAndMoveThePointerLast) {
  const std::string key = (scratch_ / "studio").string() + ".pem";
  ASSERT_EQ(publishWith({"--new-key", (scratch_ / "studio").string()}).code, publish::kDone);
  const auto publishFolder = [&](std::vector<std::string> more = {}) {
    std::vector<std::string> args{"--release-folders", "--sign", key, "--out", served().string()};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(release().string());
    return publishWith(args);
  };
  const auto signedRelease = [&](const std::string& folder) {
    return update::parseListSignature(readFile(served() / folder / "version_list.sig"))->release;
  };
  const auto pointer = [&] { return readFile(served() / "release.js"); };
  put("a.txt", "same");
  put("b.txt", "one");
  // Laid out in place first, signed as release 1.
  ASSERT_EQ(publishWith({"--sign", key, "--out", served().string(), release().string()}).code, publish::kDone);

  Outcome first = publishFolder();
  ASSERT_EQ(first.code, publish::kDone) << first.err;
  EXPECT_EQ(pointer(),
            "// The release the launcher installs, written by glimmerhold-publish.\n"
            "var glimmerholdRelease = \"releases/1/\";\n");
  EXPECT_EQ(signedRelease("releases/1"), 2u);
  EXPECT_NE(first.out.find("2 files unchanged since"), std::string::npos) << first.out;
  EXPECT_EQ(readFile(served() / "b.txt"), "one") << "the folder laid out in place stays";

  put("b.txt", "two");
  ASSERT_EQ(publishFolder().code, publish::kDone);
  EXPECT_EQ(readFile(served() / "releases/1/b.txt"), "one");
  EXPECT_EQ(readFile(served() / "releases/1/version_list.txt"), line("a.txt", "same") + line("b.txt", "one"));
  EXPECT_EQ(readFile(served() / "releases/2/version_list.txt"), line("a.txt", "same") + line("b.txt", "two"));
  EXPECT_EQ(signedRelease("releases/2"), 3u);
  EXPECT_EQ(publishWith({"--check", "--release-folders", "--out", served().string(), release().string()}).code,
            publish::kDone);

  // A run that ended after its folder and before the pointer left
  // releases/3: never used again. A served copy changed on the server is
  // not copied on: the new folder holds the release's bytes.
  // One killed while it laid out its folder left a hidden side folder,
  // which the next run removes.
  fs::create_directories(served() / "releases/3");
  writeFile(served() / "releases/.3.publish-Ab12Cd/a.txt", "half");
  writeFile(served() / "releases/2/a.txt", "SAME");
  ASSERT_EQ(publishFolder().code, publish::kDone);
  EXPECT_FALSE(fs::exists(served() / "releases/.3.publish-Ab12Cd"));
  EXPECT_NE(pointer().find("releases/4/"), std::string::npos) << pointer();
  EXPECT_EQ(signedRelease("releases/4"), 4u);
  EXPECT_EQ(readFile(served() / "releases/4/a.txt"), "same");
  EXPECT_EQ(readFile(served() / "releases/4/version_list.txt"), line("a.txt", "same") + line("b.txt", "two"));

  // A pointer this tool did not write is not replaced, and nothing is made.
  writeFile(served() / "release.js", "var glimmerholdRelease = \"http://elsewhere/\";\n");
  EXPECT_EQ(publishFolder().code, publish::kFailed);
  EXPECT_FALSE(fs::exists(served() / "releases/5"));
  EXPECT_EQ(publishWith({"--release-folders", release().string()}).code, publish::kUsage);

  // Another publish into the same root waits for none: it is refused while
  // one runs (holds the lock), so two never take the same number.
  writeFile(served() / "release.js", publish::releasePointerText(4));
  const int running = ::open((served() / "releases").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(running, LOCK_EX), 0);
  Outcome second = publishFolder();
  EXPECT_EQ(second.code, publish::kFailed);
  EXPECT_NE(second.err.find("another publish"), std::string::npos) << second.err;
  ::close(running);
  EXPECT_EQ(publishFolder().code, publish::kDone);
  EXPECT_EQ(readFile(served() / "release.js"), publish::releasePointerText(5));
  EXPECT_EQ(publishWith({"--release-folders", "--out", release().string(), release().string()}).code, publish::kFailed)
      << "a release folder inside the served root";

  // --hardlink links to the current folder's files, never to the release's
  // own: a release file edited in place changes no published folder.
  put("b.txt", "three");
  ASSERT_EQ(publishFolder({"--hardlink"}).code, publish::kDone);
  EXPECT_TRUE(fs::equivalent(served() / "releases/6/a.txt", served() / "releases/5/a.txt"));
  std::ofstream(release() / "b.txt", std::ios::app) << ", edited";
  EXPECT_EQ(readFile(served() / "releases/6/b.txt"), "three");
}

}  // namespace

namespace {

// The chain of trust: the tool signs only a release whose Launcher.exe
// carries the key (or only later epochs' keys), takes a release number only
// from a signature that verifies with the key, keeps a folder to one product
// and channel, starts a new epoch's numbers at 1 and never goes back to an
// earlier epoch, and re-signs a release with a new expiry and nothing else.
TEST_F(PublishTest, SigningKeepsTheChainOfTrust) {
  const std::string studio = (scratch_ / "studio").string();
  const std::string standby = (scratch_ / "standby").string();
  ASSERT_EQ(publishWith({"--new-key", studio}).code, publish::kDone);
  ASSERT_EQ(publishWith({"--new-key", standby}).code, publish::kDone);
  std::string error;
  const platform::P256PublicKey studioKey = publish::SigningKey::load(studio + ".pem", error)->publicKey();
  const platform::P256PublicKey standbyKey = publish::SigningKey::load(standby + ".pem", error)->publicKey();
  const auto signWith = [&](const std::string& key, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{"--copy", "--sign", key + ".pem", "--out", served().string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back(release().string());
    return publishWith(arguments);
  };
  const auto signature = [&] { return update::parseListSignature(readFile(served() / "version_list.sig")); };
  put("Glimmerhold.exe", "game 1");

  struct Refusal {
    const char* what;
    std::string launcher;
    std::string key;
    std::vector<std::string> more;
    const char* reason;
  };
  const std::vector<platform::P256PublicKey> both{studioKey, standbyKey};
  const std::vector<platform::P256PublicKey> standbyOnly{standbyKey};
  const Refusal unsignable[] = {
      {"a launcher built without a key", "plain launcher", studio, {}, "carries no update key"},
      {"a launcher without the signing key",
       testsupport::programCarrying("x", standbyOnly),
       studio,
       {},
       "does not carry the signing key"},
      {"an epoch the launcher does not give the key",
       testsupport::programCarrying("x", both),
       studio,
       {"--epoch", "2"},
       "carries the key as epoch 1"},
  };
  for (const Refusal& refusal : unsignable) {
    SCOPED_TRACE(refusal.what);
    put("Launcher.exe", refusal.launcher);
    Outcome refused = signWith(refusal.key, refusal.more);
    EXPECT_EQ(refused.code, publish::kFailed);
    EXPECT_NE(refused.err.find(refusal.reason), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(served()));
  }

  put("Launcher.exe", testsupport::programCarrying("launcher 1", both));
  ASSERT_EQ(signWith(studio, {"--expires", "30"}).code, publish::kDone);
  std::optional<update::ListSignature> first = signature();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->product, "Glimmerhold");
  EXPECT_EQ(first->channel, "stable");
  EXPECT_EQ(first->epoch, 1u);
  EXPECT_EQ(first->release, 1u);
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(first->expires), static_cast<double>(now + 30 * 86400), 120.0);

  // Re-signed with a new expiry: the same release, no other byte changed.
  const std::string list = readFile(served() / kVersionListName);
  ASSERT_EQ(publishWith({"--resign", served().string(), "--sign", studio + ".pem", "--expires", "2099-01-01"}).code,
            publish::kDone);
  EXPECT_EQ(signature()->release, 1u);
  EXPECT_EQ(update::formatUtcTime(signature()->expires), "2099-01-01T00:00:00Z");
  EXPECT_EQ(readFile(served() / kVersionListName), list);
  EXPECT_EQ(signWith(studio, {"--expires", "2001-01-01"}).code, publish::kUsage) << "an expiry already passed";

  // A folder keeps to its channel; a signature that does not verify gives
  // no number, however plausible.
  put("Glimmerhold.exe", "game 2");
  Outcome otherChannel = signWith(studio, {"--channel", "beta"});
  EXPECT_EQ(otherChannel.code, publish::kFailed);
  EXPECT_NE(otherChannel.err.find("a folder of its own"), std::string::npos) << otherChannel.err;
  const std::string genuine = readFile(served() / "version_list.sig");
  update::ListSignature forged = *signature();
  forged.release = 999999998;
  forged.signature.fill(0);
  writeFile(served() / "version_list.sig", update::formatListSignature(forged));
  Outcome unverified = signWith(studio);
  EXPECT_EQ(unverified.code, publish::kFailed);
  EXPECT_NE(unverified.err.find("does not verify with the signing key"), std::string::npos) << unverified.err;
  EXPECT_EQ(readFile(served() / "Glimmerhold.exe"), "game 1");
  writeFile(served() / "version_list.sig", genuine);

  // The last release of epoch 1 may carry a launcher of epoch 2 alone.
  put("Launcher.exe", testsupport::programCarrying("launcher 2", standbyOnly, 2));
  ASSERT_EQ(signWith(studio, {"--epoch", "1"}).code, publish::kDone);
  EXPECT_EQ(signature()->epoch, 1u);
  EXPECT_EQ(signature()->release, 2u);
  // The standby key starts epoch 2 at 1; epoch 1 cannot follow it.
  put("Glimmerhold.exe", "game 3");
  ASSERT_EQ(signWith(standby).code, publish::kDone);
  EXPECT_EQ(signature()->epoch, 2u);
  EXPECT_EQ(signature()->release, 1u);
  put("Launcher.exe", testsupport::programCarrying("launcher 1", both));
  Outcome backwards = signWith(studio);
  EXPECT_EQ(backwards.code, publish::kFailed);
  EXPECT_NE(backwards.err.find("signed in epoch 2"), std::string::npos) << backwards.err;
}

// The launcher's key table is laid out in the program as the tool reads it:
// this program's own, built without a key, holds the marker, epoch 1 and no
// key.
TEST(KeyTableTest, TheBuildLaysOutItsTableWhereTheToolLooks) {
  const std::string program = readFile("/proc/self/exe");
  EXPECT_NE(program.find(std::string("GlimmerholdKeys1\0\1\0\0", 20)), std::string::npos);
  const std::vector<platform::P256PublicKey> keys{testsupport::kVectorKey, testsupport::kOtherKey};
  const std::optional<publish::KeyTable> table =
      publish::findKeyTable(program.substr(0, 100) + testsupport::programCarrying("GlimmerholdKeys1", keys, 7));
  ASSERT_TRUE(table) << "a marker whose header is no table is passed over";
  EXPECT_EQ(table->firstEpoch, 7u);
  EXPECT_EQ(table->keys, keys);
  EXPECT_FALSE(publish::findKeyTable(testsupport::programCarrying("", keys).substr(0, 20 + 64 + 63)));
}

}  // namespace
