// Signed updates against a hostile network: the studio publishes with the
// real tool (--new-key, --sign), nginx serves what a man in the middle made
// of it, and the real update run (the driver, given the studio's key) must
// refuse each attack with its status, leave the installation as it was and
// start nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/streaming_file.h"
#include "proof/driver_process.h"
#include "support/child_process.h"
#include "support/driver_outcome.h"
#include "support/registry_fixture.h"
#include "support/static_server.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "update/list_signature.h"
#include "update/release_record.h"
#include "update/update_run.h"

using net::DownloadStatus;
using update::kReleaseRecordName;
using update::kSignatureName;
using update::kVersionListName;
using update::parseListSignature;
using update::UpdateRefusal;
using update::UpdateState;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::writeFile;

int runPublish(const std::vector<std::string>& args, const fs::path& workingDir) {
  testsupport::ChildProcess tool(GLIMMERHOLD_PUBLISH_PROGRAM, args, workingDir);
  EXPECT_TRUE(tool.wait(60s));
  EXPECT_EQ(tool.exitCode(), 0) << tool.output();
  return tool.exitCode();
}

// The public key's X||Y in hex (the last 64 bytes of its DER form), as the
// launcher would have it compiled in.
std::string publicKeyHex(const fs::path& pem) {
  testsupport::ChildProcess openssl(
      "/usr/bin/openssl", {"pkey", "-pubin", "-in", pem, "-outform", "DER", "-out", "key.der"}, pem.parent_path());
  EXPECT_TRUE(openssl.wait(60s) && openssl.exitCode() == 0) << openssl.output();
  std::string hex;
  char digits[3];
  for (unsigned char byte : readFile(pem.parent_path() / "key.der").substr(27)) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

class SignedUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The studio: a key, release 1, then release 2, each published with the
    // tool into the same served folder, which takes the next number.
    runPublish({"--new-key", "studio"}, scratch_.path());
    runPublish({"--new-key", "intruder"}, scratch_.path());
    studioKey_ = publicKeyHex(scratch_ / "studio.pub.pem");
    writeRelease("release1", "game 1", "launcher 1");
    writeRelease("release2", "game 2", markingLauncher_);
    publish("release1", "www/up");
    fs::copy(scratch_ / "www" / "up", scratch_ / "release1-served", fs::copy_options::recursive);
    publish("release2", "www/up");
    ASSERT_EQ(parseListSignature(readFile(scratch_ / "www/up" / kSignatureName))->release, 2u);

    // The player: release 1 installed, and release 2 already begun (its
    // number recorded), so any refused run must leave every byte as it is.
    fs::create_directories(install());
    fs::create_directories(scratch_ / "start");
    testsupport::writeInstallationSettings(scratch_ / "user.reg", install().string());
    for (const char* name : {"Glimmerhold.exe", "Launcher.exe"}) {
      fs::copy_file(scratch_ / "release1" / name, install() / name);
    }
    fs::copy_file(scratch_ / "release1-served" / kVersionListName, install() / kVersionListName);
    writeFile(install() / kReleaseRecordName, "2\n");
  }

  void writeRelease(const std::string& folder, const std::string& game, const std::string& launcher) {
    fs::create_directories(scratch_ / folder);
    writeFile(scratch_ / folder / "Glimmerhold.exe", game);
    writeFile(scratch_ / folder / "Launcher.exe", launcher);
  }

  void publish(const std::string& release, const std::string& out, const std::string& key = "studio.pem") {
    runPublish({"--copy", "--sign", key, "--out", out, release}, scratch_.path());
  }

  fs::path install() const { return scratch_ / "Glimmerhold"; }
  fs::path served() const { return scratch_ / "www" / "up"; }

  // Runs the driver with the studio's key against what nginx serves from
  // www/ on 127.0.0.1 (and www2/ on 127.0.0.2).
  testsupport::DriverOutcome runDriver(const std::string& base = "127.0.0.1/up/") {
    fs::create_directories(scratch_ / "www2");
    testsupport::NginxServer server(scratch_ / "www");
    testsupport::NginxServer intruder(scratch_ / "www2", "127.0.0.2");
    EXPECT_TRUE(server.running() && intruder.running()) << server.errorLog() << intruder.errorLog();
    before_ = testsupport::snapshotTree(scratch_.path());
    testsupport::ChildProcess driver =
        prooftest::startDriver({"--base", base, "--limit-s", "60", "--key", studioKey_}, scratch_ / "start");
    EXPECT_TRUE(driver.wait(90s)) << "the driver did not end";
    output_ = driver.output();
    return testsupport::parseDriverOutput(output_);
  }

  void expectRefused(std::int32_t status, const std::string& base = "127.0.0.1/up/") {
    testsupport::DriverOutcome outcome = runDriver(base);
    EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Failed)) << output_;
    EXPECT_EQ(outcome.boxes, std::vector<std::string>{"Error|Download error code " + std::to_string(status)})
        << output_;
    EXPECT_EQ(testsupport::describeDifferences(before_, testsupport::snapshotTree(scratch_.path())), "");
    EXPECT_FALSE(fs::exists(install() / "probe.txt"));
  }

  testsupport::TempDir scratch_;
  testsupport::RegistryFileEnv registry_{scratch_ / "user.reg"};
  // The "new launcher" of release 2: it notes where and how it was started.
  const std::string markingLauncher_ = prooftest::markingLauncher();
  std::string studioKey_;
  testsupport::TreeSnapshot before_;
  std::string output_;
};

TEST_F(SignedUpdateTest, TheStudiosReleaseIsInstalledAndItsLauncherStarted) {
  testsupport::DriverOutcome outcome = runDriver();
  EXPECT_TRUE(outcome.boxes.empty()) << output_;
  // The new launcher is fetched first, checked, and started in the
  // installation with "/pause". It ends on its own after the driver; its two
  // lines are complete once the second line's end is written.
  const fs::path mark = install() / "probe.txt";
  std::string started;
  for (int i = 0; i < 3000; ++i) {
    if (fs::exists(mark)) started = readFile(mark);
    if (std::count(started.begin(), started.end(), '\n') == 2) break;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(std::count(started.begin(), started.end(), '\n'), 2) << "no new launcher ran\n" << output_;
  const std::string commandLine = started.substr(started.find('\n') + 1);
  EXPECT_TRUE(commandLine.ends_with("Launcher.exe.tmp /pause\n")) << commandLine;
  EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), markingLauncher_);
  EXPECT_EQ(readFile(install() / kReleaseRecordName), "2\n");
}

TEST_F(SignedUpdateTest, EachAttackIsRefusedWithItsStatusAndChangesNothing) {
  struct Attack {
    const char* what;
    std::function<void()> tamper;
    std::int32_t status;
    std::string base = "127.0.0.1/up/";
  };
  const fs::path pristine = scratch_ / "pristine";
  fs::copy(served(), pristine, fs::copy_options::recursive);
  const Attack attacks[] = {
      {"a file swapped in transit (the launcher itself)",
       [&] { writeFile(served() / "Launcher.exe", std::string(markingLauncher_).replace(10, 4, "ECHO")); },
       statusCode(DownloadStatus::DigestMismatch)},
      {"the list swapped for one naming the intruder's launcher",
       [&] {
         std::string list = readFile(served() / kVersionListName);
         list.replace(list.find("Launcher.exe ") + 13, 4, "0000");
         writeFile(served() / kVersionListName, list);
       },
       statusCode(UpdateRefusal::SignatureInvalid)},
      {"the signature dropped", [&] { fs::remove(served() / kSignatureName); },
       statusCode(UpdateRefusal::SignatureMissing)},
      {"the signature cut short",
       [&] {
         std::string signature = readFile(served() / kSignatureName);
         writeFile(served() / kSignatureName, signature.substr(0, signature.size() / 2));
       },
       statusCode(UpdateRefusal::SignatureMalformed)},
      {"an older signed release replayed",
       [&] {
         fs::remove_all(served());
         fs::copy(scratch_ / "release1-served", served(), fs::copy_options::recursive);
       },
       statusCode(UpdateRefusal::ReleaseRolledBack)},
      {"the page pointing at the intruder's server and key",
       [&] {
         writeRelease("evil", "evil game", markingLauncher_ + "# evil\n");
         publish("evil", "www2/up", "intruder.pem");
       },
       statusCode(UpdateRefusal::SignatureInvalid), "127.0.0.2/up/"},
  };
  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.what);
    fs::remove_all(served());
    fs::copy(pristine, served(), fs::copy_options::recursive);
    attack.tamper();
    expectRefused(attack.status, attack.base);
  }
}

}  // namespace
