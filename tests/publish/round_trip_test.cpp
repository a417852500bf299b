// A release folder published by the tool, served by a real static server
// (nginx, and lighttpd, so that the protocol is not one server's habit) and
// fetched by the launcher's own update run ends up in the installation byte
// for byte; after one file changes and the folder is published again, only
// that file is fetched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "publish.h"
#include "release_names.h"
#include "shell/updater.h"
#include "support/fake_ui.h"
#include "support/job_wait.h"
#include "support/launcher_fixture.h"
#include "support/static_server.h"
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

}  // namespace
