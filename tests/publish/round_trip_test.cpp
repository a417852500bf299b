// A release folder published by the tool, served by a real static server
// (nginx, and lighttpd, so that the protocol is not one server's habit) and
// fetched by the launcher's own update run ends up in the installation byte
// for byte; after one file changes and the folder is published again, only
// that file is fetched. Through a real caching proxy (Varnish in front of
// nginx), release folders bring each new release exactly, with no purge;
// a folder published in place gets old bytes from the cache, which the size
// check and the signature keep out of the installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "publish.h"
#include "release_folders.h"
#include "release_names.h"
#include "shell/updater.h"
#include "signing.h"
#include "support/child_process.h"
#include "support/driver_outcome.h"
#include "support/fake_ui.h"
#include "support/job_wait.h"
#include "support/launcher_fixture.h"
#include "support/static_server.h"
#include "update/list_signature.h"
#include "update/version_list.h"

using shell::Updater;
using update::kVersionListName;
using update::UpdateState;
using update::VersionEntry;

namespace {

namespace fs = std::filesystem;
using testsupport::fakePage;
using testsupport::readFile;
using testsupport::writeFile;

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class RoundTripTest : public testsupport::LauncherTest,
                      public ::testing::WithParamInterface<testsupport::StaticServerKind> {
 protected:
  fs::path release() const { return scratch().path() / "release"; }
  fs::path served() const { return scratch().path() / "www" / "up"; }

  void publishRelease() {
    std::ostringstream out, err;
    ASSERT_EQ(publish::publishRelease({release(), served(), false, false}, out, err), publish::kDone) << err.str();
  }

  // One whole launcher session against the server, from the page's handshake to
  // the end of the update run; what it planned to fetch.
  std::vector<std::string> runLauncher() {
    testsupport::resetFakes();
    registerInstallation(install().string());
    fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}});
    Updater updater;
    updater.onInitDialog();
    updater.onTimer();  // the document
    updater.onTimer();  // the page is accepted; the list fetch starts
    for (int i = 0;
         i < 2000 && updater.updateRun.state != UpdateState::Finished && updater.updateRun.state != UpdateState::Failed;
         ++i) {
      if (updater.updateRun.job != nullptr && !testsupport::jobEnded(*updater.updateRun.job)) break;
      updater.onTimer();
    }
    EXPECT_EQ(updater.updateRun.state, UpdateState::Finished);
    std::vector<std::string> fetched;
    for (const VersionEntry& entry : updater.updateRun.downloadList) fetched.push_back(entry.name);
    return fetched;
  }

  // Every file of the release, found in the installation under the name the
  // launcher gives it, with the same bytes.
  void expectInstallationMatchesRelease() {
    for (const auto& entry : fs::recursive_directory_iterator(release())) {
      if (!entry.is_regular_file() || entry.path().filename() == kVersionListName) continue;
      const std::string disk = entry.path().lexically_relative(release()).generic_string();
      const fs::path installed = install() / publish::listedName(disk).installedName;
      ASSERT_TRUE(fs::exists(installed)) << disk;
      EXPECT_TRUE(readFile(installed) == readFile(entry.path())) << disk;
    }
    EXPECT_EQ(sortedLines(readFile(install() / kVersionListName)), sortedLines(readFile(served() / kVersionListName)));
  }
};

TEST_P(RoundTripTest, PublishedServedAndFetchedByteForByteThenOnlyTheChangedFile) {
  std::string big(5 * 1024 * 1024 + 3, '\0');
  std::mt19937 generator(11);
  for (char& c : big) c = static_cast<char>(generator());
  writeFile(release() / "Glimmerhold.exe", "#!/bin/sh\n");
  writeFile(release() /
                "Espa\xc3\xb1"
                "a.txt",
            "hola\n");  // UTF-8, as made on Linux
  writeFile(release() /
                "m\xfas"
                "ica" /
                "canci\xc3\xb3n "
                "\xc3\xa1\xc3\xa9\xc3\xad.ogg",
            big.substr(0, 70000));
  writeFile(release() / "docs" / "read me!.txt", "readme");
  // Other letters: in UTF-8, and in a Western Windows code page.
  writeFile(release() / "Ping\xc3\xbcino #1.png", "png");
  writeFile(release() / "M\xfcller" /
                "\xc7"
                "a.txt",
            "cp1252");
  writeFile(release() / "data" / "maps" / "deepway.pak", big);
  writeFile(release() / "data" / "empty.bin", "");
  writeFile(release() / "settings.ini", "width=1280\n");

  publishRelease();
  testsupport::StaticServer server(GetParam(), scratch().path() / "www");
  ASSERT_TRUE(server.running()) << server.errorLog();

  std::vector<std::string> first = runLauncher();
  EXPECT_EQ(first.size(), 9u);
  expectInstallationMatchesRelease();

  // Same size, other bytes: only the content tells them apart.
  writeFile(release() / "settings.ini", "width=1920\n");
  publishRelease();
  EXPECT_EQ(runLauncher(), std::vector<std::string>{"settings.ini"});
  expectInstallationMatchesRelease();
  EXPECT_EQ(readFile(install() / "settings.ini"), "width=1920\n");

  // Nothing changed: nothing is fetched.
  publishRelease();
  EXPECT_EQ(runLauncher(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Servers, RoundTripTest,
                         ::testing::Values(testsupport::StaticServerKind::Nginx,
                                           testsupport::StaticServerKind::Lighttpd),
                         [](const auto& server) {
                           return server.param == testsupport::StaticServerKind::Nginx ? "nginx" : "lighttpd";
                         });

// The cache's rules are the ones docs/publishing.md gives nginx: the release
// pointer and a list published in place are never kept; a release folder's
// files for a year; files published in place for a day.
constexpr const char* kCacheRules =
    "    location ~ /release\\.js$ { add_header Cache-Control no-cache; }\n"
    "    location ~ /releases/[0-9]+/version_list\\.sig$ { add_header Cache-Control \"max-age=300\"; }\n"
    "    location ~ /releases/[0-9]+/ { add_header Cache-Control \"max-age=31536000, immutable\"; }\n"
    "    location ~ /version_list\\.(txt|sig)$ { add_header Cache-Control no-cache; }\n"
    "    location / { add_header Cache-Control \"max-age=86400\"; }\n";

// nginx on 127.0.0.2 serves www/; Varnish on 127.0.0.1, where the launcher
// connects, caches it. Nobody purges anything.
class CacheRoundTripTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    if (!testsupport::CachingProxy::available()) GTEST_SKIP() << "varnishd is not installed (Debian: varnish)";
    fs::create_directories(www());
    origin_ = std::make_unique<testsupport::NginxServer>(www(), "127.0.0.2", kCacheRules);
    ASSERT_TRUE(origin_->running()) << origin_->errorLog();
    cache_ = std::make_unique<testsupport::CachingProxy>("127.0.0.2");
    ASSERT_TRUE(cache_->running()) << cache_->log();
    std::string error;
    ASSERT_TRUE(publish::makeKeyPair(scratch().path() / "studio", error)) << error;
    std::unique_ptr<publish::SigningKey> key = publish::SigningKey::load(scratch().path() / "studio.pem", error);
    ASSERT_TRUE(key) << error;
    for (std::uint8_t byte : key->publicKey()) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", byte);
      key_ += digits;
    }
  }

  // One launcher session (the headless driver: a failed run ends its
  // process, as the launcher's does) with the update base `base`, built
  // with the studio's key when `sign`.
  testsupport::DriverOutcome runDriver(const std::string& base, bool sign) {
    registerInstallation(install().string());
    fs::create_directories(install());
    std::vector<std::string> args{"--base", base, "--limit-s", "60"};
    if (sign) args.insert(args.end(), {"--key", key_});
    testsupport::ChildProcess driver(UPDATE_DRIVER_PATH, args, scratch().path());
    EXPECT_TRUE(driver.wait(std::chrono::seconds(90))) << "the driver did not end";
    output_ = driver.output();
    return testsupport::parseDriverOutput(output_);
  }

  fs::path www() const { return scratch().path() / "www"; }
  fs::path release() const { return scratch().path() / "release"; }

  void writeRelease(const std::string& settings, const std::string& pak) {
    writeFile(release() / "Glimmerhold.exe", "#!/bin/sh\n");
    writeFile(release() / "settings.ini", settings);
    writeFile(release() / "data" / "deepway.pak", pak);
    writeFile(release() / "docs" / "read me!.txt", "readme");
  }

  std::string publish(const std::string& folder, bool releaseFolders, bool sign) {
    publish::PublishOptions options{release(), www() / folder};
    options.releaseFolders = releaseFolders;
    if (sign) {
      options.signingKey = scratch().path() / "studio.pem";
      const update::UpdateTrust built = update::compiledUpdateTrust();
      options.signRequest.product = built.product;
      options.signRequest.channel = built.channel;
    }
    std::ostringstream out, err;
    EXPECT_EQ(publish::publishRelease(options, out, err), publish::kDone) << err.str();
    return out.str();
  }

  // What a URL gives through the cache (127.0.0.1) or from nginx itself.
  std::string fetch(const std::string& url) {
    testsupport::ChildProcess curl("/usr/bin/curl", {"-sS", "--max-time", "20", url}, scratch().path());
    EXPECT_TRUE(curl.wait(std::chrono::seconds(30)));
    EXPECT_EQ(curl.exitCode(), 0) << curl.output();
    return curl.output();
  }

  // The update base the launcher page makes of the release pointer, read
  // through the cache as the page reads it.
  std::string updateBase(const std::string& folder) {
    const std::string pointer = fetch("http://127.0.0.1/" + folder + "/" + publish::kReleasePointerName);
    const std::size_t at = pointer.find("\"releases/");
    const std::size_t end = pointer.find('"', at + 1);
    EXPECT_NE(end, std::string::npos) << pointer;
    if (end == std::string::npos) return "";
    return "127.0.0.1/" + folder + "/" + pointer.substr(at + 1, end - at - 1);
  }

  // The installation holds each file of the release with its bytes.
  void expectInstalled(const fs::path& releaseCopy) {
    for (const auto& entry : fs::recursive_directory_iterator(releaseCopy)) {
      if (!entry.is_regular_file()) continue;
      const fs::path name = entry.path().lexically_relative(releaseCopy);
      EXPECT_TRUE(readFile(install() / name) == readFile(entry.path())) << name;
    }
  }

  std::string key_;  // the studio's public key, X||Y in hex
  std::string output_;
  std::unique_ptr<testsupport::NginxServer> origin_;
  std::unique_ptr<testsupport::CachingProxy> cache_;
};

std::string randomBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 generator(seed);
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

TEST_F(CacheRoundTripTest, ReleaseFoldersBringEachReleaseExactlyThroughTheCacheWithoutAPurge) {
  writeRelease("width=1280\n", randomBytes(300000, 1));
  publish("up", true, true);
  EXPECT_EQ(updateBase("up"), "127.0.0.1/up/releases/1/");
  testsupport::DriverOutcome first = runDriver(updateBase("up"), true);
  EXPECT_EQ(first.state, static_cast<int>(UpdateState::Finished)) << output_;
  EXPECT_EQ(first.planned, 4u);
  expectInstalled(release());
  const std::string servedOne = readFile(www() / "up" / "releases" / "1" / "settings.ini");

  // Release 2: one file changed in size, one in content only.
  writeRelease("width=1920\n", randomBytes(300001, 2));
  const std::string report = publish("up", true, true);
  EXPECT_NE(report.find("2 files unchanged since"), std::string::npos) << report;
  EXPECT_EQ(updateBase("up"), "127.0.0.1/up/releases/2/");
  testsupport::DriverOutcome second = runDriver(updateBase("up"), true);
  EXPECT_EQ(second.state, static_cast<int>(UpdateState::Finished)) << output_;
  EXPECT_EQ(second.planned, 2u);
  expectInstalled(release());
  EXPECT_EQ(sortedLines(readFile(install() / kVersionListName)),
            sortedLines(readFile(www() / "up" / "releases" / "2" / kVersionListName)));
  // Release 1's folder is as it was: what the cache holds of it is still true.
  EXPECT_EQ(readFile(www() / "up" / "releases" / "1" / "settings.ini"), servedOne);
  EXPECT_EQ(fetch("http://127.0.0.1/up/releases/1/settings.ini"), "width=1280\n");
}

TEST_F(CacheRoundTripTest, InPlaceTheCacheServesOldBytesWhichTheSizeCheckAndTheSignatureKeepOut) {
  struct Case {
    const char* what;
    bool sign;
    std::string settings;  // release 2's
    std::string pak;
    const char* changed;
    const char* box;
  };
  const std::string pak = randomBytes(300000, 1);
  const Case cases[] = {
      {"unsigned, a file of another size", false, "width=1280\n", randomBytes(300001, 2), "data/deepway.pak",
       "Download error code 15"},
      {"signed, a file of the same size", true, "width=1920\n", pak, "settings.ini", "Download error code 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = c.sign ? "signed" : "plain";
    const std::string url = "http://127.0.0.1/" + folder + "/" + c.changed;
    fs::remove_all(install());
    fs::create_directories(install());
    writeRelease("width=1280\n", pak);
    publish(folder, false, c.sign);
    const std::string base = "127.0.0.1/" + folder + "/";
    EXPECT_EQ(runDriver(base, c.sign).state, static_cast<int>(UpdateState::Finished)) << output_;
    const std::string old = readFile(install() / c.changed);
    const std::string oldList = readFile(install() / kVersionListName);

    writeRelease(c.settings, c.pak);
    publish(folder, false, c.sign);
    // nginx serves the new bytes; the cache, asked with the launcher's
    // "Pragma: no-cache", the old ones.
    EXPECT_EQ(fetch("http://127.0.0.2/" + folder + "/" + c.changed), readFile(release() / c.changed));
    testsupport::ChildProcess curl("/usr/bin/curl", {"-sS", "-H", "Pragma: no-cache", url}, scratch().path());
    ASSERT_TRUE(curl.wait(std::chrono::seconds(30)));
    EXPECT_TRUE(curl.output() == old);

    testsupport::DriverOutcome outcome = runDriver(base, c.sign);
    EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Failed)) << output_;
    EXPECT_EQ(outcome.boxes, std::vector<std::string>{std::string("Error|") + c.box}) << output_;
    EXPECT_TRUE(readFile(install() / c.changed) == old);
    EXPECT_EQ(readFile(install() / kVersionListName), oldList);
  }
}

}  // namespace
