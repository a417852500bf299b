// Signed updates against a hostile network and a leaked key: the studio
// publishes with the real tool (--new-key, --sign), nginx serves what a man in
// the middle made of it, and the real update run (the driver, given the
// studio's keys of epochs 1 and 2) must refuse each attack with its status,
// leave the installation as it was and start nothing.
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
#include "support/signing_vector.h"
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
using update::ListSignature;
using update::parseListSignature;
using update::UpdateRefusal;
using update::UpdateState;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::writeFile;

// A launcher program carrying these keys (hex) after `script`.
std::string launcherCarrying(const std::string& script, const std::vector<std::string>& keysHex,
                             std::uint32_t firstEpoch = 1) {
  std::vector<platform::P256PublicKey> keys;
  for (const std::string& hex : keysHex) keys.push_back(testsupport::fromHex<64>(hex));
  return testsupport::programCarrying(script, keys, firstEpoch);
}

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

// What the holder of a key signs without the studio's tool: any fields over
// any list (openssl dgst, its DER signature converted to r||s).
std::string signWithOpenssl(const fs::path& key, ListSignature fields, const std::string& list) {
  const fs::path folder = key.parent_path();
  writeFile(folder / "message", update::signedListMessage(fields, list));
  testsupport::ChildProcess openssl("/usr/bin/openssl",
                                    {"dgst", "-sha256", "-sign", key, "-out", "signature.der", "message"}, folder);
  EXPECT_TRUE(openssl.wait(60s) && openssl.exitCode() == 0) << openssl.output();
  // SEQUENCE { INTEGER r, INTEGER s }, each at most 33 bytes.
  const std::string der = readFile(folder / "signature.der");
  std::size_t at = 2;
  for (std::size_t part = 0; part < 2; ++part) {
    const std::size_t length = static_cast<unsigned char>(der.at(at + 1));
    const std::string value = der.substr(at + 2, length);
    const std::string digits = value.substr(value.size() > 32 ? value.size() - 32 : 0);
    const std::size_t pad = 32 - digits.size();
    for (std::size_t i = 0; i < 32; ++i) {
      fields.signature[part * 32 + i] = i < pad ? 0 : static_cast<std::uint8_t>(digits[i - pad]);
    }
    at += 2 + length;
  }
  return update::formatListSignature(fields);
}

class SignedUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The studio: the key that signs (epoch 1) and the standby kept offline
    // (epoch 2), both in every launcher; release 1, then release 2, each
    // published with the tool into the same served folder, which takes the
    // next number.
    runPublish({"--new-key", "studio"}, scratch_.path());
    runPublish({"--new-key", "standby"}, scratch_.path());
    runPublish({"--new-key", "intruder"}, scratch_.path());
    studioKey_ = publicKeyHex(scratch_ / "studio.pub.pem");
    standbyKey_ = publicKeyHex(scratch_ / "standby.pub.pem");
    intruderKey_ = publicKeyHex(scratch_ / "intruder.pub.pem");
    markingLauncher_ = launcherCarrying(prooftest::markingLauncher(), {studioKey_, standbyKey_});
    writeRelease("release1", "game 1", launcherCarrying("launcher 1\n", {studioKey_, standbyKey_}));
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

  void publish(const std::string& release, const std::string& out, const std::string& key = "studio.pem",
               const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"--copy", "--sign", key, "--out", out};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(release);
    runPublish(args, scratch_.path());
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
    testsupport::ChildProcess driver = prooftest::startDriver(
        {"--base", base, "--limit-s", "60", "--key", studioKey_ + "," + standbyKey_}, scratch_ / "start");
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
  // The launcher started once the run hands over to it: in the installation,
  // with "/pause". It ends on its own after the driver; its two lines are
  // complete once the second line's end is written.
  void expectHandedOverTo(const std::string& launcher) {
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
    EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), launcher);
    fs::remove(mark);
    // As the started launcher's own run does first (loadLocalList).
    fs::remove(install() / "download_in_progress.txt");
  }

  testsupport::RegistryFileEnv registry_{scratch_ / "user.reg"};
  std::string studioKey_;
  std::string standbyKey_;
  std::string intruderKey_;
  std::string markingLauncher_;
  testsupport::TreeSnapshot before_;
  std::string output_;
};

TEST_F(SignedUpdateTest, TheStudiosReleaseIsInstalledAndItsLauncherStarted) {
  testsupport::DriverOutcome outcome = runDriver();
  EXPECT_TRUE(outcome.boxes.empty()) << output_;
  // The new launcher is fetched first, checked, and started in the
  // installation with "/pause".
  expectHandedOverTo(markingLauncher_);
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
         writeRelease("evil", "evil game", launcherCarrying(prooftest::markingLauncher() + "# evil\n", {intruderKey_}));
         publish("evil", "www2/up", "intruder.pem");
       },
       statusCode(UpdateRefusal::SignatureInvalid), "127.0.0.2/up/"},
      {"the studio's release replayed after its expiry",
       [&] {
         ListSignature expired{"Glimmerhold", "stable", 1, 2, *update::parseUtcTime("2026-01-01T00:00:00Z"), {}};
         writeFile(served() / kSignatureName,
                   signWithOpenssl(scratch_ / "studio.pem", expired, readFile(served() / kVersionListName)));
       },
       statusCode(UpdateRefusal::SignatureExpired)},
      {"the page pointing at the studio's own beta channel",
       [&] {
         writeRelease("beta", "beta game",
                      launcherCarrying(prooftest::markingLauncher() + "# beta\n", {studioKey_, standbyKey_}));
         fs::remove_all(scratch_ / "www2" / "up");
         publish("beta", "www2/up", "studio.pem", {"--channel", "beta"});
       },
       statusCode(UpdateRefusal::OtherProductOrChannel), "127.0.0.2/up/"},
  };
  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.what);
    fs::remove_all(served());
    fs::copy(pristine, served(), fs::copy_options::recursive);
    attack.tamper();
    expectRefused(attack.status, attack.base);
  }
}

// A leaked key, start to end. The holder of the studio's epoch-1 key signs
// the studio's own list as release 999999999; the player accepts it, and from
// then on every release the studio signs with that key is refused as older.
// The studio signs its next release with the standby key (epoch 2), which
// every launcher carries: the player accepts it whatever epoch 1 recorded,
// and from then on the leaked key is refused, whatever it signs.
TEST_F(SignedUpdateTest, AfterAKeyLeaksTheStandbyKeyReachesThePlayerAndRetiresIt) {
  // The intruder serves the studio's release 2, signed as it likes.
  const fs::path release2 = scratch_ / "release2-served";
  fs::copy(served(), release2, fs::copy_options::recursive);
  const std::string list = readFile(release2 / kVersionListName);
  const auto leakedSignature = [&](std::uint32_t epoch, std::uint32_t release) {
    fs::remove_all(scratch_ / "www2" / "up");
    fs::create_directories(scratch_ / "www2");
    fs::copy(release2, scratch_ / "www2" / "up", fs::copy_options::recursive);
    ListSignature fields{"Glimmerhold", "stable", epoch, release, 0, {}};
    writeFile(scratch_ / "www2" / "up" / kSignatureName, signWithOpenssl(scratch_ / "studio.pem", fields, list));
  };

  // The leak: the player takes the intruder's release 999999999 (the studio's
  // own files), and the studio's next release with the same key is refused.
  leakedSignature(1, 999999999);
  testsupport::DriverOutcome leaked = runDriver("127.0.0.2/up/");
  EXPECT_TRUE(leaked.boxes.empty()) << output_;
  expectHandedOverTo(markingLauncher_);
  EXPECT_EQ(readFile(install() / kReleaseRecordName), "999999999\n");
  writeRelease("release3", "game 3", markingLauncher_);
  publish("release3", "www/up");
  ASSERT_EQ(parseListSignature(readFile(served() / kSignatureName))->release, 3u);
  expectRefused(statusCode(UpdateRefusal::ReleaseRolledBack));

  // The fast-forward: release 4 carries a launcher whose keys are the
  // standby (now current, epoch 2) and a new standby (epoch 3), and is signed
  // with the standby key; the tool reads the epoch from that launcher and
  // starts the epoch's numbers at 1.
  runPublish({"--new-key", "standby-3"}, scratch_.path());
  const std::string recoveryLauncher = launcherCarrying(prooftest::markingLauncher() + "# epoch 2\n",
                                                        {standbyKey_, publicKeyHex(scratch_ / "standby-3.pub.pem")}, 2);
  writeRelease("release4", "game 4", recoveryLauncher);
  publish("release4", "www/up", "standby.pem", {"--expires", "30"});
  const std::optional<ListSignature> recovery = parseListSignature(readFile(served() / kSignatureName));
  ASSERT_TRUE(recovery);
  EXPECT_EQ(recovery->epoch, 2u);
  EXPECT_EQ(recovery->release, 1u);

  // The recovery: the player accepts it and records the new epoch.
  testsupport::DriverOutcome recovered = runDriver();
  EXPECT_TRUE(recovered.boxes.empty()) << output_;
  expectHandedOverTo(recoveryLauncher);
  EXPECT_EQ(readFile(install() / kReleaseRecordName), "1 epoch 2\n");

  // The leaked key is refused from then on, whatever number it signs; and
  // claiming the standby's epoch does not make it the standby.
  leakedSignature(1, 999999999);
  expectRefused(statusCode(UpdateRefusal::KeyRetired), "127.0.0.2/up/");
  leakedSignature(2, 999999999);
  expectRefused(statusCode(UpdateRefusal::SignatureInvalid), "127.0.0.2/up/");
}

}  // namespace
