// The dialog with an update run in flight, against a real HTTP server on this
// namespace's loopback and a scripted launcher page: closing it, and a failed
// download's error box and end.
#include "shell/updater.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "net/streaming_file.h"
#include "platform/files.h"
#include "support/fake_ui.h"
#include "support/job_wait.h"
#include "support/launcher_fixture.h"
#include "support/test_http_server.h"
#include "update/download_note.h"
#include "update/list_journal.h"

using net::cStreamingFile;
using shell::closeLauncher;
using shell::kDialogEndValue;
using shell::Updater;
using update::kVersionListName;
using update::UpdateState;

namespace {

namespace fs = std::filesystem;
using testsupport::fakePage;
using testsupport::HttpScript;
using testsupport::PageValue;
using testsupport::readFile;
using testsupport::TestHttpServer;
using testsupport::writeFile;

class DialogRunTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    registerInstallation(install().string());
    fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}, {23, u"Fin"}, {25, u"Bajando "}});
  }

  // Serves the list and the files under /up/.
  void serve(const std::string& list, const std::map<std::string, std::string>& files) {
    server_ = std::make_unique<TestHttpServer>(TestHttpServer::servingUpdates("/up/", list, files));
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

TEST_F(DialogRunTest, ClosingDuringADownloadKeepsTheListAsAfterTheLastFile) {
  serve("a.txt 1 1\n", {{"a.txt", "a"}});
  start();
  runUntil(UpdateState::Finished);
  const std::string before = readFile(install() / kVersionListName);

  // A second run: b.txt arrives, a.txt never does.
  server_->stop();
  server_ = std::make_unique<TestHttpServer>([](const std::string& request) {
    const std::string path = TestHttpServer::requestPath(request);
    if (path == "/up/version_list.txt") {
      return HttpScript().send(testsupport::httpResponse("HTTP/1.0 200 OK", "b.txt 1 1\na.txt 2 1000\n"));
    }
    if (path == "/up/b.txt") return HttpScript().send(testsupport::httpResponse("HTTP/1.0 200 OK", "b"));
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
    for (int i = 0; i < 50 && second.updateRun.state != UpdateState::Downloading; ++i) {
      if (second.updateRun.job != nullptr) {
        ASSERT_TRUE(testsupport::jobEnded(*second.updateRun.job));
      }
      second.onTimer();
    }
    second.onTimer();  // b.txt starts
    ASSERT_NE(second.updateRun.job, nullptr);
    ASSERT_TRUE(testsupport::jobEnded(*second.updateRun.job));
    second.onTimer();  // b.txt recorded (in the journal)
    second.onTimer();  // a.txt starts
    ASSERT_NE(second.updateRun.job, nullptr);
    inFlight = second.updateRun.job.get();
    ASSERT_TRUE(testsupport::jobReceived(*inFlight, 7));
    closeLauncher(nullptr, nullptr);
    EXPECT_EQ(testsupport::fakeWindow().endValue, kDialogEndValue);
  }
  // The list holds what the run recorded, and no journal is left.
  EXPECT_EQ(readFile(install() / kVersionListName), before + "b.txt 1 1\n");
  EXPECT_FALSE(fs::exists(install() / update::kListJournalName));
  EXPECT_EQ(readFile(install() / "a.txt"), "a") << "the file in flight is not touched";
  server_->stop();
  ASSERT_TRUE(testsupport::jobEnded(*inFlight));
  delete inFlight;
}

TEST_F(DialogRunTest, AServerThatNeverAnswersKeepsTheRunWaitingAndThePlayerCanClose) {
  server_ = std::make_unique<TestHttpServer>(TestHttpServer::always(HttpScript().holdOpen()));
  start();
  ASSERT_TRUE(server_->waitForRequests(1));
  for (int i = 0; i < 20; ++i) updater.onTimer();
  EXPECT_EQ(updater.updateRun.state, UpdateState::FetchingList);
  EXPECT_EQ(fakePage().argumentsOf(u"disablePlayButton"), (std::vector<PageValue>{true}));
  EXPECT_TRUE(testsupport::shownBoxes().empty());
  updater.processMessage(platform::DialogMessage::Close, 0);
  EXPECT_EQ(testsupport::fakeWindow().endValue, kDialogEndValue);
  server_->stop();
  ASSERT_TRUE(testsupport::settleJob(updater.updateRun));
}

// A failed run ends the process: observed from inside the dying process and
// reported on its standard error.
class DialogRunExitTest : public DialogRunTest {
 protected:
  static void report() {
    std::string text;
    for (const auto& box : testsupport::shownBoxes()) {
      text += "box[" + testsupport::narrow(box.caption) + "|" + testsupport::narrow(box.text) + "|" +
              std::to_string(box.type) + "]";
    }
    // What the next start reads: the list and the records of its journal.
    update::VersionList recorded;
    static_cast<void>(update::readVersionListFile(kVersionListName, recorded));
    update::applyJournal(recorded, update::readListJournal(update::kListJournalName).entries, update::NameCase::Exact);
    std::string list;
    for (const update::VersionEntryRef entry : recorded) list += update::formatVersionEntry(entry);
    std::fprintf(stderr, "%s list[%s]\n", text.c_str(), list.c_str());
  }
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    DialogRunTest::SetUp();
  }
};

TEST_F(DialogRunExitTest, AFailedDownloadIsReportedOnceAndKeepsWhatWasFetched) {
  fakePage().defineLauncherFunctions({{0, u"127.0.0.1/up/"}, {19, u"Respuesta no v\u00e1lida"}});
  EXPECT_EXIT(
      {
        serve("first.txt 1 5\nmissing.txt 1 5\nlast.txt 1 5\n", {{"first.txt", "first"}, {"last.txt", "last!"}});
        std::atexit(report);
        start();
        runUntil(UpdateState::Finished);
      },
      ::testing::ExitedWithCode(0), "box\\[Error\\|Respuesta no v.lida\\|64\\] list\\[first.txt 1 5\n\\]");
}

}  // namespace
