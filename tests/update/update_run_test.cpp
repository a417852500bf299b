// The update run against a real HTTP server on this namespace's loopback and
// a scripted launcher page: what is fetched, in which order, what the page
// is shown, and what is recorded when.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "net/streaming_file.h"
#include "platform/files.h"
#include "shell/updater.h"
#include "support/fake_ui.h"
#include "support/job_wait.h"
#include "support/launcher_fixture.h"
#include "support/test_http_server.h"
#include "update/download_note.h"

namespace {

namespace fs = std::filesystem;
using testsupport::fakePage;
using testsupport::HttpScript;
using testsupport::PageValue;
using testsupport::readFile;
using testsupport::TestHttpServer;
using testsupport::writeFile;

class UpdateRunTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    registerInstallation(install().string());
    fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}, {23, u"Fin"}, {25, u"Bajando "}});
  }

  // Serves the list and the files under /up/.
  void serve(const std::string& list, std::map<std::string, std::string> files) {
    std::map<std::string, std::string> paths{{"/up/version_list.txt", list}};
    for (auto& [name, bytes] : files) paths["/up/" + name] = bytes;
    server_ = std::make_unique<TestHttpServer>(TestHttpServer::serving(std::move(paths)));
    ASSERT_TRUE(server_->listening());
  }

  // Ticks the dialog until the run reaches `until` (bounded), waiting on
  // each job rather than spinning.
  void runUntil(UpdateState until, int maxTicks = 400) {
    for (int i = 0; i < maxTicks && updater.updateRun.state != until; ++i) {
      if (updater.updateRun.job != nullptr) {
        ASSERT_TRUE(testsupport::jobEnded(*updater.updateRun.job));
      }
      updater.onTimer();
    }
    ASSERT_EQ(updater.updateRun.state, until);
  }

  void start() {
    updater.onInitDialog();
    updater.onTimer();  // the document
    updater.onTimer();  // the page is accepted; the list fetch starts
    ASSERT_FALSE(updater.pageLoading);
  }

  std::vector<std::string> requestedPaths() const {
    std::vector<std::string> paths;
    for (const std::string& request : server_->requests()) paths.push_back(TestHttpServer::requestPath(request));
    return paths;
  }

  std::unique_ptr<TestHttpServer> server_;
  Updater updater;
};

TEST_F(UpdateRunTest, WhatAKilledRunLeftIsGoneAndALongNameInstalls) {
  // A note may name only a side file inside the installation.
  writeFile(scratch().path() / "victim.ghpart", "outside");
  writeFile(install() / "download_in_progress.txt", "../victim.ghpart\n");
  fs::current_path(install());
  removeDownloadLeftovers();
  EXPECT_EQ(readFile(scratch().path() / "victim.ghpart"), "outside");

  // The side file of a file the server no longer lists, its note, and half
  // a list.
  const std::string side = partialFilePath("maps/gone.pak");
  writeFile(install() / side, "half");
  writeFile(install() / "download_in_progress.txt", side + "\n");
  writeFile(install() / "version_list.txt.tmp", "half a list");
  // 250 bytes: the longest names leave no room for a suffix.
  const std::string longName(250, 'n');
  serve("maps/kept.pak 1 4\n" + longName + " 1 4\n", {{"maps/kept.pak", "kept"}, {longName, "long"}});
  start();
  runUntil(Finished);
  std::set<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(install())) {
    left.insert(fs::relative(entry.path(), install()).generic_string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"maps", "maps/kept.pak", longName, "version_list.txt"}));
  EXPECT_EQ(readFile(install() / longName), "long");
}

TEST_F(UpdateRunTest, FetchesWhatChangedRecordsEachFileAndEnablesPlay) {
  const std::string big(5000, 'b');
  writeFile(install() / "same.txt", "unchanged");
  writeFile(install() / kVersionListName, "same.txt 1 9\nold.txt 1 3\n");
  serve("same.txt 1 9\nmaps/level%201.pak v2 5000k\nold.txt 2 3\nEspa%f1a.txt 7 4\n",
        {{"maps/level%201.pak", big}, {"old.txt", "new"}, {"Espa%f1a.txt", "hola"}});
  // Built without an update key: the requests below are the whole exchange,
  // with no signature asked for and no digest required of the tokens.
  ASSERT_TRUE(updater.updateRun.updateKeys.empty());
  start();
  runUntil(Finished);

  EXPECT_EQ(readFile(install() / "maps" / "level 1.pak"), big);
  EXPECT_EQ(readFile(install() / "old.txt"), "new");
  EXPECT_EQ(readFile(install() / u8"Espa\u00f1a.txt"), "hola");  // the letter itself
  EXPECT_EQ(readFile(install() / kVersionListName),
            "same.txt 1 9\nold.txt 2 3\nmaps/level%201.pak v2 5000\nEspa%f1a.txt 7 4\n");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt", "/up/maps/level%201.pak", "/up/old.txt",
                                                        "/up/Espa%f1a.txt"}));
  // No side files are left in the installation: the five files and the
  // list, nothing else.
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(install())) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".ghpart"), std::string::npos) << name;
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
  EXPECT_EQ(files, 5);

  const auto statuses = fakePage().argumentsOf(u"setVariableText");
  ASSERT_GE(statuses.size(), 4u);
  EXPECT_EQ(statuses[1], PageValue{std::u16string(u"Bajando maps/level 1.pak")});
  EXPECT_EQ(statuses[3], PageValue{std::u16string(u"Bajando Espa\u00f1a.txt")});
  EXPECT_EQ(statuses.back(), PageValue{std::u16string(u"Fin")});
  const auto progress = fakePage().argumentsOf(u"setProgressBar");
  EXPECT_EQ(progress.back(), PageValue{std::int32_t{100}});
  for (std::size_t i = 1; i < progress.size(); ++i) {
    EXPECT_LE(std::get<std::int32_t>(progress[i - 1]), std::get<std::int32_t>(progress[i]));
  }
  EXPECT_EQ(fakePage().argumentsOf(u"disablePlayButton"), (std::vector<PageValue>{true, false}));
}

TEST_F(UpdateRunTest, AChangedSmallFileIsFetchedEvenThoughTheTotalIsZeroKiB) {
  writeFile(install() / "settings.ini", "width=1280");
  writeFile(install() / kVersionListName, "settings.ini 1 10\n");
  serve("settings.ini 2 10\n", {{"settings.ini", "width=1920"}});
  start();
  runUntil(Finished);
  EXPECT_EQ(updater.updateRun.totalKiB, 0u);
  EXPECT_EQ(readFile(install() / "settings.ini"), "width=1920");
  EXPECT_EQ(readFile(install() / kVersionListName), "settings.ini 2 10\n");
  for (const PageValue& value : fakePage().argumentsOf(u"setProgressBar")) {
    int percent = std::get<std::int32_t>(value);
    EXPECT_TRUE(percent == 0 || percent == 100) << percent;
  }
}

TEST_F(UpdateRunTest, NamesThatLeaveTheInstallationAreNeverFetched) {
  serve("../escape.txt 1 4\n/etc/escape 1 4\nC:/escape.txt 1 4\nsub/../../escape 1 4\nok.txt 1 2\n",
        {{"../escape.txt", "evil"}, {"ok.txt", "ok"}});
  start();
  runUntil(Finished);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt", "/up/ok.txt"}));
  EXPECT_EQ(readFile(install() / kVersionListName), "ok.txt 1 2\n");
  EXPECT_FALSE(fs::exists(scratch().path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(install() / "sub"));
}

TEST_F(UpdateRunTest, ALauncherThatCannotStartIsNotRecordedAsInstalled) {
  writeFile(install() / "Launcher.exe", "old launcher");
  writeFile(install() / kVersionListName, "Launcher.exe 1 12\n");
  // Not a program: the new launcher cannot be started.
  serve("data.pak 1 3\nLauncher.exe 2 12\n", {{"Launcher.exe", "not runnable"}, {"data.pak", "abc"}});
  start();
  runUntil(Finished);
  EXPECT_EQ(requestedPaths()[1], "/up/Launcher.exe") << "the launcher is fetched first";
  EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), "not runnable");
  EXPECT_EQ(readFile(install() / "Launcher.exe"), "old launcher");
  EXPECT_EQ(readFile(install() / kVersionListName), "Launcher.exe 1 12\ndata.pak 1 3\n");
}

TEST_F(UpdateRunTest, ClosingDuringADownloadKeepsTheListAsAfterTheLastFile) {
  serve("a.txt 1 1\n", {{"a.txt", "a"}});
  start();
  runUntil(Finished);
  const std::string before = readFile(install() / kVersionListName);

  // A second run whose next file never arrives.
  server_->stop();
  server_ = std::make_unique<TestHttpServer>([](const std::string& request) {
    if (TestHttpServer::requestPath(request) == "/up/version_list.txt") {
      return HttpScript().send(testsupport::httpResponse("HTTP/1.0 200 OK", "a.txt 2 1\nb.txt 1 1\n"));
    }
    return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\npartial").holdOpen();
  });
  testsupport::resetFakes();
  registerInstallation(install().string());
  fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}});
  cStreamingFile* inFlight = nullptr;
  {
    Updater second;
    second.onInitDialog();
    second.onTimer();
    second.onTimer();
    for (int i = 0; i < 50 && second.updateRun.state != Downloading; ++i) {
      if (second.updateRun.job != nullptr) {
        ASSERT_TRUE(testsupport::jobEnded(*second.updateRun.job));
      }
      second.onTimer();
    }
    second.onTimer();  // a.txt starts
    ASSERT_NE(second.updateRun.job, nullptr);
    inFlight = second.updateRun.job;
    ASSERT_TRUE(testsupport::jobReceived(*inFlight, 7));
    closeLauncher(nullptr, nullptr);
    EXPECT_EQ(testsupport::fakeWindow().endValue, kDialogEndValue);
  }
  EXPECT_EQ(readFile(install() / kVersionListName), before);
  EXPECT_EQ(readFile(install() / "a.txt"), "a") << "the file in flight is not touched";
  server_->stop();
  ASSERT_TRUE(testsupport::jobEnded(*inFlight));
  delete inFlight;
}

TEST_F(UpdateRunTest, AServerThatNeverAnswersKeepsTheRunWaitingAndThePlayerCanClose) {
  server_ = std::make_unique<TestHttpServer>(TestHttpServer::always(HttpScript().holdOpen()));
  start();
  ASSERT_TRUE(server_->waitForRequests(1));
  for (int i = 0; i < 20; ++i) updater.onTimer();
  EXPECT_EQ(updater.updateRun.state, FetchingList);
  EXPECT_EQ(fakePage().argumentsOf(u"disablePlayButton"), (std::vector<PageValue>{true}));
  EXPECT_TRUE(testsupport::shownBoxes().empty());
  updater.processMessage(platform::DialogMessage::Close, 0);
  EXPECT_EQ(testsupport::fakeWindow().endValue, kDialogEndValue);
  server_->stop();
  ASSERT_TRUE(testsupport::settleJob(updater.updateRun));
}

TEST(UpdateRunFormatTest, ProgressDoesNotWrapForLargeGames) {
  // 45 GiB fetched of 50 GiB: the 32-bit product would wrap.
  EXPECT_EQ(progressPercent(45u * 1024 * 1024, 0, 50u * 1024 * 1024), 90);
  EXPECT_EQ(progressPercent(10, 2048, 24), 50);
  EXPECT_EQ(progressPercent(0, 5000, 0), 0);
  EXPECT_EQ(progressPercent(200, 0, 100), 200) << "larger files than listed pass 100";
}

TEST(UpdateRunFormatTest, ErrorTextsInEnglishBeforeAnyPage) {
  EXPECT_EQ(downloadErrorText(10054), u"Download error code 10054");
  EXPECT_EQ(downloadErrorText(-7), u"Download error code -7");
  EXPECT_EQ(downloadErrorText(1), u"Invalid  Socket.");
  EXPECT_EQ(downloadErrorText(4), u"Invalid response from the server.");
}

TEST_F(UpdateRunTest, PageErrorTextsAreNeverAFormatBeyondTheStatus) {
  fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"},
                                      {15, u"%s%n %x %5i 100%% code %d and %i"},
                                      {18, u"%i%% %s"},
                                      {17, std::u16string(300, u'x')}});
  server_ = std::make_unique<TestHttpServer>(TestHttpServer::always(HttpScript().holdOpen()));
  start();
  EXPECT_EQ(downloadErrorText(10054), u"%s%n %x %5i 100% code 10054 and %i");
  EXPECT_EQ(downloadErrorText(3), u"%i% %s");
  EXPECT_EQ(downloadErrorText(2), std::u16string(127, u'x'));
  server_->stop();
  ASSERT_TRUE(testsupport::settleJob(updater.updateRun));
}

// The ways a run ends the process: each is observed from inside the dying
// process and reported on its standard error.
class UpdateRunExitTest : public UpdateRunTest {
 protected:
  static void report() {
    std::string text;
    for (const auto& box : testsupport::shownBoxes()) {
      text += "box[" + testsupport::narrow(box.caption) + "|" + testsupport::narrow(box.text) + "|" +
              std::to_string(box.type) + "]";
    }
    std::fprintf(stderr, "%s list[%s]\n", text.c_str(), readFile(kVersionListName).c_str());
  }
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UpdateRunTest::SetUp();
  }
};

TEST_F(UpdateRunExitTest, AFailedDownloadIsReportedOnceAndKeepsWhatWasFetched) {
  fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}, {19, u"Respuesta no v\u00e1lida"}});
  EXPECT_EXIT(
      {
        serve("first.txt 1 5\nmissing.txt 1 5\nlast.txt 1 5\n", {{"first.txt", "first"}, {"last.txt", "last!"}});
        std::atexit(report);
        start();
        runUntil(Finished);
      },
      ::testing::ExitedWithCode(0), "box\\[Error\\|Respuesta no v.lida\\|64\\] list\\[first.txt 1 5\n\\]");
}

TEST_F(UpdateRunExitTest, AListThatCannotBeSavedStopsTheRunWithItsStatus) {
  fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}, {15, u"Fallo %i"}});
  EXPECT_EXIT(
      {
        serve("a.txt 1 1\nb.txt 1 1\n", {{"a.txt", "a"}, {"b.txt", "b"}});
        // The side file the list is written through cannot be made.
        fs::create_directory(install() / versionListSideName(kVersionListName));
        std::atexit([] {
          std::fprintf(stderr, "b[%d] ", int(fs::exists("b.txt")));
          report();
        });
        start();
        runUntil(Finished);
      },
      ::testing::ExitedWithCode(0), "b\\[0\\] box\\[Error\\|Fallo 12\\|64\\] list\\[\\]");
}

TEST_F(UpdateRunExitTest, AResetMidBodyShowsTheSocketErrorNumber) {
  EXPECT_EXIT(
      {
        server_ = std::make_unique<TestHttpServer>([](const std::string& request) {
          if (TestHttpServer::requestPath(request) == "/up/version_list.txt") {
            return HttpScript().send(testsupport::httpResponse("HTTP/1.0 200 OK", "big.pak 1 100000\n"));
          }
          return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nsome").reset();
        });
        std::atexit(report);
        start();
        runUntil(Finished);
      },
      ::testing::ExitedWithCode(0), "box\\[Error\\|\\?15\\|64\\] list\\[\\]");
}

TEST_F(UpdateRunExitTest, ANewLauncherIsStartedWithPauseAndTheRunEnds) {
#if defined(_WIN32)
  GTEST_SKIP() << "the new launcher here is a shell script; win32/process_test starts a real .tmp program";
#endif
  EXPECT_EXIT(
      {
        const std::string script = "#!/bin/sh\necho \"$0 $*\" > started-with.txt\n";
        serve("game.pak 1 4\nLauncher.exe 2 " + std::to_string(script.size()) + "\n",
              {{"Launcher.exe", script}, {"game.pak", "game"}});
        std::atexit([] {
          // The new launcher runs on its own; give it a bounded moment, long
          // enough for a shell to start on a loaded machine (60 s).
          for (int i = 0; i < 12000 && !fs::exists("started-with.txt"); ++i) platform::sleepMilliseconds(5);
          std::fprintf(stderr, "started[%s] game[%d] ", readFile("started-with.txt").c_str(),
                       int(fs::exists("game.pak")));
          report();
        });
        start();
        runUntil(Finished);
      },
      ::testing::ExitedWithCode(0), "started\\[.*Launcher.exe.tmp /pause\n\\] game\\[0\\] +list\\[Launcher.exe 2 ");
}

}  // namespace
