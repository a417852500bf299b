// The update run against a real HTTP server on this namespace's loopback,
// seen through a recording display: what is fetched, in which order, what
// the player is shown, and what is recorded when.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "net/streaming_file.h"
#include "platform/files.h"
#include "support/fake_ui.h"
#include "support/job_wait.h"
#include "support/launcher_fixture.h"
#include "support/test_http_server.h"
#include "update/download_note.h"
#include "update/failure_statuses.h"
#include "update/list_journal.h"
#include "update/recording_display.h"
#include "update/run_log.h"

#if defined(__linux__)
#include "support/linux/read_only_mount.h"
#endif

using net::partialFilePath;
using update::downloadErrorText;
using update::kListJournalName;
using update::kVersionListName;
using update::NameRefusal;
using update::nameRefusalText;
using update::progressPercent;
using update::removeDownloadLeftovers;
using update::runLog;
using update::UpdateRun;
using update::UpdateState;
using update::versionListSideName;

namespace {

namespace fs = std::filesystem;
using testsupport::HttpScript;
using testsupport::readFile;
using testsupport::TestHttpServer;
using testsupport::writeFile;

class UpdateRunTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    registerInstallation(install().string());
    display.texts = {{0, u"127.0.0.1/up/"}, {23, u"Fin"}, {25, u"Bajando "}};
  }

  // Serves the list and the files under /up/.
  void serve(const std::string& list, const std::map<std::string, std::string>& files) {
    server_ = std::make_unique<TestHttpServer>(TestHttpServer::servingUpdates("/up/", list, files));
    ASSERT_TRUE(server_->listening());
  }

  // Ticks the run until it reaches `until` (bounded), waiting on each job
  // rather than spinning.
  void runUntil(UpdateState until, int maxTicks = 400) { runUntil(run, until, maxTicks); }
  static void runUntil(UpdateRun& which, UpdateState until, int maxTicks = 400) {
    for (int i = 0; i < maxTicks && which.state != until; ++i) {
      if (which.job != nullptr) {
        ASSERT_TRUE(testsupport::jobEnded(*which.job));
      }
      which.tick();
    }
    ASSERT_EQ(which.state, until);
  }

  // What the dialog does once the page is accepted.
  void start() {
    ASSERT_TRUE(run.loadLocalList());
    run.startListFetch();
  }

  std::vector<std::string> requestedPaths() const {
    std::vector<std::string> paths;
    for (const std::string& request : server_->requests()) paths.push_back(TestHttpServer::requestPath(request));
    return paths;
  }

  // The entries of a list, as the list file writes them.
  static std::string entriesText(const update::VersionList& list) {
    std::string text;
    for (const auto entry : list) {
      text += std::string(entry.name) + " " + std::string(entry.version) + " " + std::to_string(entry.size) + "\n";
    }
    return text;
  }

  std::unique_ptr<TestHttpServer> server_;
  RecordingDisplay display;
  UpdateRun run{display};
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
  // 250 bytes: the longest names leave no room for a suffix. Below the
  // installation both paths pass MAX_PATH (260), as a stock Windows takes
  // them only in the extended-length form, the deep one with a folder to
  // make on the way.
  const std::string longName(250, 'n');
  const std::string deepFolder = "maps/" + std::string(120, 'f');
  const std::string deepName = deepFolder + "/" + std::string(120, 'd') + ".pak";
  serve("maps/kept.pak 1 4\n" + longName + " 1 4\n" + deepName + " 1 4\n",
        {{"maps/kept.pak", "kept"}, {longName, "long"}, {deepName, "deep"}});
  start();
  runUntil(UpdateState::Finished);
  std::set<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(install())) {
    left.insert(fs::relative(entry.path(), install()).generic_string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"maps", "maps/kept.pak", longName, deepFolder, deepName, "version_list.txt"}));
  EXPECT_EQ(readFile(install() / longName), "long");
  EXPECT_GT(fs::absolute(install() / longName).string().size(), 260u);
  EXPECT_GT(fs::absolute(install() / deepName).string().size(), 260u);
  EXPECT_EQ(readFile(install() / deepName), "deep");
}

TEST_F(UpdateRunTest, FetchesWhatChangedRecordsEachFileAndEnablesPlay) {
  const std::string big(5000, 'b');
  writeFile(install() / "same.txt", "unchanged");
  writeFile(install() / kVersionListName, "same.txt 1 9\nold.txt 1 3\n");
  serve("same.txt 1 9\nmaps/level%201.pak v2 5000k\nold.txt 2 3\nEspa%f1a.txt 7 4\n",
        {{"maps/level%201.pak", big}, {"old.txt", "new"}, {"Espa%f1a.txt", "hola"}});
  // Built without an update key: the requests below are the whole exchange,
  // with no signature asked for and no digest required of the tokens.
  ASSERT_TRUE(run.trust.keys.empty());
  start();
  runUntil(UpdateState::Finished);

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

  const auto& statuses = display.statusTexts;
  ASSERT_GE(statuses.size(), 4u);
  EXPECT_EQ(statuses[0], u"Bajando maps/level 1.pak");
  EXPECT_EQ(statuses[2], u"Bajando Espa\u00f1a.txt");
  EXPECT_EQ(statuses.back(), u"Fin");
  const auto& progress = display.progress;
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1], progress[i]);
  // Play is enabled (and the bar filled) once, at the end.
  EXPECT_EQ(display.playEnabled, 1);
}

// Link-paced builds: each job says on its worker that it ended, and the
// wake that follows records a whole file and starts the next at once. A
// wake for anything else -- the list, a failed file, a run that is over --
// changes nothing; the ticks deal with those as they always do.
TEST_F(UpdateRunTest, AWakeRecordsAWholeFileAndStartsTheNextAndOtherwiseDoesNothing) {
  std::atomic<int> ended{0};
  run.jobEnded = [&ended] { ++ended; };
  const auto endedReaches = [&ended](int count) {
    for (int i = 0; i < 20000 && ended.load() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ended.load() >= count;
  };
  serve("a.txt 1 1\nb.txt 1 2\nc.txt 1 404\n", {{"a.txt", "a"}, {"b.txt", "bb"}});
  start();
  ASSERT_TRUE(endedReaches(1));
  run.wake();
  EXPECT_EQ(run.state, UpdateState::FetchingList);
  ASSERT_NE(run.job, nullptr) << "the list is left to the tick";
  for (int i = 0; i < 400 && !(run.state == UpdateState::Downloading && run.job != nullptr); ++i) run.tick();
  ASSERT_NE(run.job, nullptr);

  ASSERT_TRUE(endedReaches(2));
  run.wake();
  EXPECT_EQ(entriesText(run.localList), "a.txt 1 1\n") << "recorded in the wake";
  EXPECT_EQ(run.current, 1u);
  ASSERT_NE(run.job, nullptr) << "b.txt started in the same wake";
  EXPECT_EQ(display.statusTexts.back(), u"Bajando b.txt");
  ASSERT_TRUE(endedReaches(3));
  run.wake();
  EXPECT_EQ(entriesText(run.localList), "a.txt 1 1\nb.txt 1 2\n");

  // c.txt is not served: its job fails, and only a tick reports that.
  ASSERT_TRUE(endedReaches(4));
  run.wake();
  EXPECT_EQ(run.state, UpdateState::Downloading);
  EXPECT_TRUE(display.errors.empty());
  run.tick();
  EXPECT_EQ(run.state, UpdateState::Failed);
  ASSERT_EQ(display.errors.size(), 1u);
  run.wake();
  EXPECT_EQ(run.state, UpdateState::Failed);
  EXPECT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(readFile(kVersionListName), "a.txt 1 1\nb.txt 1 2\n");
  EXPECT_EQ(requestedPaths(),
            (std::vector<std::string>{"/up/version_list.txt", "/up/a.txt", "/up/b.txt", "/up/c.txt"}));
}

TEST_F(UpdateRunTest, AChangedSmallFileIsFetchedEvenThoughTheTotalIsZeroKiB) {
  writeFile(install() / "settings.ini", "width=1280");
  writeFile(install() / kVersionListName, "settings.ini 1 10\n");
  serve("settings.ini 2 10\n", {{"settings.ini", "width=1920"}});
  start();
  runUntil(UpdateState::Finished);
  EXPECT_EQ(run.totalKiB, 0u);
  EXPECT_EQ(readFile(install() / "settings.ini"), "width=1920");
  EXPECT_EQ(readFile(install() / kVersionListName), "settings.ini 2 10\n");
  for (int percent : display.progress) EXPECT_TRUE(percent == 0 || percent == 100) << percent;
}

TEST_F(UpdateRunTest, ALoginPageInTheListsPlaceFailsAndABlankListIsAReleaseOfNoFiles) {
  writeFile(install() / kVersionListName, "game.pak 1 4\n");
  serve("<html><head><title>Hotel Wi-Fi</title></head>\n<body>Please log in</body></html>\n", {});
  start();
  runUntil(UpdateState::Failed);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(display.errors[0], downloadErrorText(display, 4));
  EXPECT_EQ(display.playEnabled, 0);
  EXPECT_EQ(readFile(install() / kVersionListName), "game.pak 1 4\n");

  UpdateRun blank{display};
  server_.reset();
  serve(" \r\n\n\t\n", {});
  ASSERT_TRUE(blank.loadLocalList());
  blank.startListFetch();
  runUntil(blank, UpdateState::Finished, 400);
}

TEST_F(UpdateRunTest, NamesAsStudiosWriteThemInstallAndRefusedOnesAreSkippedWithTheirReason) {
  // A byte-order mark, every kind of line end, names in UTF-8 and in a
  // Western Windows code page, "\\" between folders; and names the launcher
  // refuses among them.
  serve(
      "\xef\xbb\xbf../escape.txt 1 4\r/etc/escape 1 4\r\nC:/escape.txt 1 4\nsub/../../escape 1 4\nok.txt 1 2\r"
      "Ping\xc3\xbcino.png 1 3\nM\xfcller\\data.txt 1 2\r\naux.txt 1 1\n",
      {{"../escape.txt", "evil"}, {"ok.txt", "ok"}, {"Ping%C3%BCino.png", "png"}, {"M%FCller/data.txt", "md"}});
  start();
  runUntil(UpdateState::Finished);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt", "/up/ok.txt", "/up/Ping%C3%BCino.png",
                                                        "/up/M%FCller/data.txt"}));
  EXPECT_EQ(readFile(install() / u8"Ping\u00fcino.png"), "png");
  EXPECT_EQ(readFile(install() / u8"M\u00fcller" / "data.txt"), "md");
  EXPECT_EQ(readFile(install() / kVersionListName), "ok.txt 1 2\nPing\xc3\xbcino.png 1 3\nM\xfcller\\data.txt 1 2\n");
  EXPECT_FALSE(fs::exists(scratch().path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(install() / "sub"));
  // Each refusal is kept, with its reason, for the launcher to report.
  const std::vector<std::pair<std::string, NameRefusal>> expected = {
      {"../escape.txt", NameRefusal::LeavesInstallation},
      {"/etc/escape", NameRefusal::LeavesInstallation},
      {"C:/escape.txt", NameRefusal::LeavesInstallation},
      {"sub/../../escape", NameRefusal::LeavesInstallation},
      {"aux.txt", NameRefusal::DeviceName}};
  EXPECT_EQ(run.skippedEntries.count, expected.size());
  ASSERT_EQ(run.skippedEntries.kept.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(run.skippedEntries.kept[i].name, expected[i].first);
    EXPECT_EQ(run.skippedEntries.kept[i].reason, expected[i].second);
  }
  EXPECT_EQ(display.statusTexts.back(), u"Fin");
}

TEST_F(UpdateRunTest, ALauncherThatCannotStartIsNotRecordedAsInstalled) {
  writeFile(install() / "Launcher.exe", "old launcher");
  writeFile(install() / kVersionListName, "Launcher.exe 1 12\n");
  // Not a program: the new launcher cannot be started.
  serve("data.pak 1 3\nLauncher.exe 2 12\n", {{"Launcher.exe", "not runnable"}, {"data.pak", "abc"}});
  start();
  runUntil(UpdateState::Finished);
  EXPECT_EQ(requestedPaths()[1], "/up/Launcher.exe") << "the launcher is fetched first";
  EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), "not runnable");
  EXPECT_EQ(readFile(install() / "Launcher.exe"), "old launcher");
  EXPECT_EQ(readFile(install() / kVersionListName), "Launcher.exe 1 12\ndata.pak 1 3\n");
}

TEST(UpdateRunFormatTest, ProgressDoesNotWrapForLargeGames) {
  // 45 GiB fetched of 50 GiB: the 32-bit product would wrap.
  EXPECT_EQ(progressPercent(45u * 1024 * 1024, 0, 50u * 1024 * 1024), 90);
  EXPECT_EQ(progressPercent(10, 2048, 24), 50);
  EXPECT_EQ(progressPercent(0, 5000, 0), 0);
  EXPECT_EQ(progressPercent(200, 0, 100), 200) << "larger files than listed pass 100";
}

TEST(UpdateRunFormatTest, ErrorTextsInEnglishBeforeAnyPage) {
  RecordingDisplay english;
  EXPECT_EQ(downloadErrorText(english, 10054), u"Download error code 10054");
  EXPECT_EQ(downloadErrorText(english, -7), u"Download error code -7");
  EXPECT_EQ(downloadErrorText(english, 1), u"Invalid  Socket.");
  EXPECT_EQ(downloadErrorText(english, 4), u"Invalid response from the server.");
  EXPECT_EQ(downloadErrorText(english, 10060), u"Request timeout.");
  EXPECT_EQ(downloadErrorText(english, 15), u"Download error code 15");
}

#ifdef GLIMMERHOLD_README
// README.md's table of statuses is the failure status table, row by row.
TEST(UpdateRunFormatTest, TheReadmeListsEveryFailureStatusAsTheTableDoes) {
  std::ifstream readme(GLIMMERHOLD_README);
  ASSERT_TRUE(readme.is_open()) << GLIMMERHOLD_README;
  const std::regex row(R"(^\| (\d+) \| (.*) \|$)");
  std::vector<std::pair<std::int32_t, std::string>> documented;
  std::smatch match;
  for (std::string line; std::getline(readme, line);) {
    if (std::regex_match(line, match, row)) documented.emplace_back(std::stoi(match[1]), match[2]);
  }
  std::vector<std::pair<std::int32_t, std::string>> table;
  for (const update::FailureStatus& status : update::failureStatuses()) {
    table.emplace_back(status.number, std::string(status.meaning));
  }
  EXPECT_EQ(documented.size(), table.size());
  for (std::size_t i = 0; i < std::min(documented.size(), table.size()); ++i) {
    EXPECT_EQ(documented[i], table[i]) << "row " << i + 1 << " of README.md's table";
  }
}
#endif

TEST_F(UpdateRunTest, PageErrorTextsAreNeverAFormatBeyondTheStatus) {
  display.texts = {{15, u"%s%n %x %5i 100%% code %d and %i"},
                   {18, u"%i%% %s"},
                   {17, std::u16string(300, u'x')},
                   {21, u"Tiempo de espera agotado %i"}};
  EXPECT_EQ(downloadErrorText(display, 10054), u"%s%n %x %5i 100% code 10054 and %i");
  EXPECT_EQ(downloadErrorText(display, 10060), u"Tiempo de espera agotado %i");
  EXPECT_EQ(downloadErrorText(display, 3), u"%i% %s");
  EXPECT_EQ(downloadErrorText(display, 2), std::u16string(127, u'x'));
}

// The ways a run ends: the error shown once and the process asked to end,
// or the new launcher started and the process asked to end.
TEST_F(UpdateRunTest, AListThatCannotBeSavedStopsTheRunWithItsStatus) {
  display.texts[15] = u"Fallo %i";
  serve("a.txt 1 1\nb.txt 1 1\n", {{"a.txt", "a"}, {"b.txt", "b"}});
  start();
  // The journal a fetched file is recorded in cannot be made.
  fs::create_directories(install() / kListJournalName / "taken");
  runUntil(UpdateState::Failed);
  EXPECT_FALSE(fs::exists("b.txt"));
  EXPECT_EQ(display.errors, std::vector<std::u16string>{u"Fallo 12"});
  EXPECT_EQ(display.processEnds, 1);
  EXPECT_EQ(readFile(kVersionListName), "");
}

// Every file is recorded in the journal the moment it is in place; the run
// folds the journal into the list as it ends, or, when that fails, the next
// start does, before it plans: nothing recorded is fetched twice, unless it
// is no longer on disk at its size.
TEST_F(UpdateRunTest, TheJournalIsFoldedAtTheEndOrAtTheNextStart) {
  serve("a.txt 1 1\nb.txt 1 1\n", {{"a.txt", "a"}, {"b.txt", "b"}});
  start();
  // The side file the list is rewritten through cannot be made.
  fs::create_directories(install() / versionListSideName(kVersionListName) / "taken");
  runUntil(UpdateState::Finished);
  EXPECT_EQ(display.playEnabled, 1);
  EXPECT_FALSE(fs::exists(kVersionListName));
  EXPECT_EQ(readFile(kListJournalName), std::string(update::kListJournalHeader) +
                                            update::journalRecord("a.txt", "1", 1) +
                                            update::journalRecord("b.txt", "1", 1));

  fs::remove_all(install() / versionListSideName(kVersionListName));
  // A record is no proof of the file: one that is not on disk at its size
  // is fetched again all the same.
  writeFile(install() / "b.txt", "");
  UpdateRun next{display};
  ASSERT_TRUE(next.loadLocalList());
  EXPECT_EQ(readFile(kVersionListName), "a.txt 1 1\nb.txt 1 1\n");
  EXPECT_FALSE(fs::exists(kListJournalName));
  next.startListFetch();
  runUntil(next, UpdateState::Finished, 50);
  const std::vector<std::string> paths = requestedPaths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/up/a.txt"), 1);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/up/b.txt"), 2);
  EXPECT_EQ(readFile(install() / "b.txt"), "b");
  EXPECT_EQ(readFile(kVersionListName), "a.txt 1 1\nb.txt 1 1\n");
  EXPECT_FALSE(fs::exists(kListJournalName));
}

// An older launcher's fault may have left a folder where the launcher keeps
// a file of its own: an empty one is removed, one with something in it stops
// the run, with a status of its own, before any file is asked for.
TEST_F(UpdateRunTest, AFolderInAWorkingFilesPlaceIsRemovedOrNamed) {
  serve("a.txt 1 1\n", {{"a.txt", "a"}});
  for (const char* working :
       {"version_list.txt", "version_list.txt.tmp", "Launcher.exe.tmp", "download_in_progress.txt"}) {
    SCOPED_TRACE(working);
    // The run made the installation the current folder, which Windows does
    // not let anyone remove.
    fs::current_path(install().parent_path());
    fs::remove_all(install());
    fs::create_directories(install() / working);
    UpdateRun emptied{display};
    ASSERT_TRUE(emptied.loadLocalList());
    emptied.startListFetch();
    runUntil(emptied, UpdateState::Finished, 50);
    EXPECT_EQ(readFile(install() / kVersionListName), "a.txt 1 1\n");

    fs::current_path(install().parent_path());
    fs::remove_all(install());
    fs::create_directories(install() / working / "something");
    UpdateRun blocked{display};
    ASSERT_TRUE(blocked.loadLocalList());
    blocked.startListFetch();
    runUntil(blocked, UpdateState::Failed, 50);
    EXPECT_EQ(display.errors.back(), u"Download error code 30");
    EXPECT_FALSE(fs::exists(install() / "a.txt"));
    EXPECT_TRUE(fs::exists(install() / working / "something"));
  }
  EXPECT_EQ(display.errors.size(), 4u);
  // Only the lists were asked for, twice per case.
  const std::vector<std::string> paths = requestedPaths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/up/a.txt"), 4);
}

// Where the installation ignores letter case (Windows; here, asked for), a
// case-only rename and a rollback are one file with one version: the
// rollback is fetched, not taken as the version already there.
TEST_F(UpdateRunTest, ACaseOnlyRenameAndARollbackAreOneFile) {
  writeFile(install() / "Data.pak", "one");
  writeFile(install() / kVersionListName, "Data.pak r1 3\n");
  const auto release = [&](const std::string& list, const std::string& name, const std::string& bytes) {
    server_.reset();
    serve(list, {{name, bytes}});
    UpdateRun next{display};
    ASSERT_TRUE(next.loadLocalList());
#if defined(_WIN32)
    EXPECT_EQ(next.nameCase, update::NameCase::Ignored) << "the installation was asked";
#else
    EXPECT_EQ(next.nameCase, update::NameCase::Exact) << "the installation was asked";
    next.nameCase = update::NameCase::Ignored;
#endif
    next.startListFetch();
    runUntil(next, UpdateState::Finished, 50);
  };
  release("data.pak r2 3\n", "data.pak", "two");
  EXPECT_EQ(readFile(kVersionListName), "Data.pak r2 3\n");
  release("Data.pak r1 3\n", "Data.pak", "one");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt", "/up/Data.pak"}));
  EXPECT_EQ(readFile(kVersionListName), "Data.pak r1 3\n");

  // A list that a launcher with a byte-for-byte lookup wrote, naming the
  // file twice: neither entry is trusted, and once fetched they agree.
  writeFile(install() / kVersionListName, "Data.pak r1 3\ndata.pak r2 3\n");
  release("Data.pak r1 3\n", "Data.pak", "one");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt", "/up/Data.pak"}));
  EXPECT_EQ(readFile(kVersionListName), "Data.pak r1 3\ndata.pak r1 3\n");
  release("Data.pak r1 3\n", "Data.pak", "one");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/up/version_list.txt"}));
}

// The plan makes no folder: a file's folders are made as its download
// starts, and only for the files fetched.
TEST_F(UpdateRunTest, FoldersAreMadeAsTheirFirstFileStarts) {
  writeFile(install() / "kept" / "deep" / "k.pak", "k");
  writeFile(install() / kVersionListName, "kept/deep/k.pak 1 1\nold/gone.pak 1 1\n");
  serve("kept/deep/k.pak 1 1\nnew/a/b/c.pak 1 1\nnew/a/d.pak 1 1\nold/gone.pak 1 1\n",
        {{"new/a/b/c.pak", "c"}, {"new/a/d.pak", "d"}, {"old/gone.pak", "g"}});
  start();
  runUntil(UpdateState::Planned);
  EXPECT_FALSE(fs::exists(install() / "new"));
  EXPECT_FALSE(fs::exists(install() / "old"));
  runUntil(UpdateState::Finished);
  EXPECT_EQ(readFile(install() / "new" / "a" / "b" / "c.pak"), "c");
  EXPECT_EQ(readFile(install() / "new" / "a" / "d.pak"), "d");
  EXPECT_EQ(readFile(install() / "old" / "gone.pak"), "g");
}

#if defined(__linux__)
// An installation the player cannot write (a read-only medium here): an
// installation that is up to date plays, one with anything to fetch says it
// cannot be written, asks the server for no file and changes nothing. With
// the installation's lock (a lock file there from before) the run does not
// know it cannot write, and the first file's side file tells it; without
// (none could be made) it knows, and writes nothing at all.
TEST_F(UpdateRunTest, AnInstallationThatCannotBeWrittenPlaysOrSaysSo) {
  writeFile(install() / "game.pak", "game");
  writeFile(install() / kVersionListName, "game.pak 1 4\n");
  writeFile(install() / "version_list.txt.tmp", "left by a killed run");
  testsupport::ReadOnlyMount readOnly(install());
  ASSERT_TRUE(readOnly.mounted()) << readOnly.error();
  for (const bool mayWrite : {false, true}) {
    SCOPED_TRACE(mayWrite ? "with the lock" : "without the lock");
    for (const char* list : {"game.pak 1 4\n", "game.pak 2 4\nnew/more.pak 1 4\n"}) {
      const bool upToDate = std::string(list) == "game.pak 1 4\n";
      server_.reset();
      serve(list, {{"game.pak", "GAME"}, {"new/more.pak", "more"}});
      RecordingDisplay shown;
      shown.texts = display.texts;
      UpdateRun readOnlyRun{shown};
      readOnlyRun.mayWrite = mayWrite;
      ASSERT_TRUE(readOnlyRun.loadLocalList());
      readOnlyRun.startListFetch();
      const UpdateState until = upToDate ? UpdateState::Finished : UpdateState::Failed;
      for (int i = 0; i < 50 && readOnlyRun.state != until; ++i) {
        if (readOnlyRun.job != nullptr) {
          ASSERT_TRUE(testsupport::jobEnded(*readOnlyRun.job));
        }
        readOnlyRun.tick();
      }
      ASSERT_EQ(readOnlyRun.state, until)
          << (shown.errors.empty() ? std::string() : testsupport::narrow(shown.errors[0]));
      if (upToDate) {
        EXPECT_EQ(shown.playEnabled, 1);
        EXPECT_TRUE(shown.errors.empty());
      } else {
        EXPECT_EQ(shown.errors, std::vector<std::u16string>{u"Download error code 10"});
        EXPECT_EQ(shown.playEnabled, 0);
        if (!mayWrite) {
          EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/up/version_list.txt"});
        }
      }
    }
  }
  EXPECT_EQ(readFile(install() / "game.pak"), "game");
  EXPECT_EQ(readFile(install() / kVersionListName), "game.pak 1 4\n");
  EXPECT_EQ(readFile(install() / "version_list.txt.tmp"), "left by a killed run");
  EXPECT_FALSE(fs::exists(install() / "new"));
}
#endif

#if defined(__linux__)
// A run that did not end left a journal on a medium that is now read-only:
// its records count (what they record is on disk at its size), and nothing
// is written, the journal neither folded nor removed.
TEST_F(UpdateRunTest, AReadOnlyInstallationReadsTheJournalAndLeavesIt) {
  writeFile(install() / "game.pak", "game");
  writeFile(install() / kVersionListName, "game.pak 0 4\n");
  const std::string journal = std::string(update::kListJournalHeader) + update::journalRecord("game.pak", "1", 4);
  writeFile(install() / kListJournalName, journal);
  testsupport::ReadOnlyMount readOnly(install());
  ASSERT_TRUE(readOnly.mounted()) << readOnly.error();
  serve("game.pak 1 4\n", {{"game.pak", "GAME"}});
  run.mayWrite = false;
  start();
  runUntil(UpdateState::Finished);
  EXPECT_EQ(display.playEnabled, 1);
  EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/up/version_list.txt"});
  EXPECT_EQ(readFile(install() / kVersionListName), "game.pak 0 4\n");
  EXPECT_EQ(readFile(install() / kListJournalName), journal);
}
#endif

TEST_F(UpdateRunTest, AResetMidBodyShowsTheSocketErrorNumber) {
  server_ = std::make_unique<TestHttpServer>([](const std::string& request) {
    if (TestHttpServer::requestPath(request) == "/up/version_list.txt") {
      return HttpScript().send(testsupport::httpResponse("HTTP/1.0 200 OK", "big.pak 1 100000\n"));
    }
    return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nsome").reset();
  });
  start();
  runUntil(UpdateState::Failed);
  ASSERT_EQ(display.errors.size(), 1u);
  // Message 15 with the number: the socket's error, or under Wine, where a
  // reset may read as the end of the stream, the truncated body's code.
  EXPECT_EQ(display.errors[0].substr(0, 20), u"Download error code ");
  EXPECT_EQ(display.processEnds, 1);
  EXPECT_EQ(readFile(kVersionListName), "");
}

TEST_F(UpdateRunTest, ANewLauncherIsStartedWithPauseAndTheRunEnds) {
#if defined(_WIN32)
  GTEST_SKIP() << "the new launcher here is a shell script; win32/process_test starts a real .tmp program";
#endif
  const std::string script = "#!/bin/sh\necho \"$0 $*\" > started-with.txt\n";
  serve("game.pak 1 4\nLauncher.exe 2 " + std::to_string(script.size()) + "\n",
        {{"Launcher.exe", script}, {"game.pak", "game"}});
  start();
  runUntil(UpdateState::HandedOver);
  EXPECT_EQ(display.processEnds, 1);
  // The new launcher runs on its own; give it a bounded moment, long enough
  // for a shell to start on a loaded machine (60 s). The shell makes the
  // file before it writes the line: wait for the line.
  auto startedWith = [] { return fs::exists("started-with.txt") ? readFile("started-with.txt") : std::string(); };
  for (int i = 0; i < 12000 && startedWith().find('\n') == std::string::npos; ++i) platform::sleepMilliseconds(5);
  EXPECT_NE(startedWith().find("Launcher.exe.tmp /pause\n"), std::string::npos);
  EXPECT_FALSE(fs::exists("game.pak"));
  // The run ends with the hand-over: its journal is folded into the list.
  EXPECT_EQ(readFile(kVersionListName).rfind("Launcher.exe 2 ", 0), 0u);
  EXPECT_FALSE(fs::exists(kListJournalName));
}

// What support reads: one line per event, each stamped in UTC, inside the
// installation.
std::vector<std::string> logEvents(const fs::path& log) {
  std::vector<std::string> events;
  const std::string text = readFile(log);
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ (.*))");
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
    std::smatch match;
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(line, match, stamped)) << line;
    events.push_back(match.size() > 1 ? match[1].str() : line);
  }
  EXPECT_EQ(start, text.size()) << "the last line is whole";
  return events;
}

TEST_F(UpdateRunTest, TheLogSaysWhatWasFetchedSkippedAndWhereTheRunFailed) {
  runLog().open(install().string());
  // A killed run's journal, its last record cut.
  writeFile(install() / kListJournalName,
            std::string(update::kListJournalHeader) + update::journalRecord("old.txt", "1", 3) + "1234abcd old");
  serve("ok.txt 1 2\n../escape.txt 1 4\nmissing.pak 1 5\n", {{"ok.txt", "ok"}});
  start();
  runUntil(UpdateState::Failed);
  runLog().close();
  const std::vector<std::string> events = logEvents(install() / "Launcher.log");
  ASSERT_EQ(events.size(), 6u) << readFile(install() / "Launcher.log");
  EXPECT_EQ(events[0], "journal version_list.journal: 1 records; what follows them proves nothing and is ignored");
  EXPECT_EQ(events[1], "local list: 1 entries");
  EXPECT_EQ(events[2], "list version_list.txt: 45 bytes, 3 entries; 2 to fetch, 0 KiB (unsigned updates)");
  EXPECT_EQ(events[3], "skipped ../escape.txt: " + std::string(nameRefusalText(NameRefusal::LeavesInstallation)));
  EXPECT_TRUE(std::regex_match(events[4], std::regex("fetched ok.txt: 2 bytes in [0-9]+ ms"))) << events[4];
  EXPECT_EQ(events[5], "failed fetching missing.pak: status 4: Invalid response from the server.");
  // A failed run ends with what it recorded folded into the list, the
  // proved part of the old journal included.
  EXPECT_EQ(readFile(install() / kVersionListName), "old.txt 1 3\nok.txt 1 2\n");
  EXPECT_FALSE(fs::exists(install() / kListJournalName));
}

TEST(RunLogTest, StaysWithinItsLimitKeepsOneOlderLogAndWritesNowhereElse) {
  testsupport::TempDir folder;
  testsupport::CurrentDirGuard current;
  fs::current_path(folder.path());
  update::RunLog log;
  log.write("before any installation");
  EXPECT_TRUE(fs::is_empty(folder.path()));

  log.open(folder.str());
  log.limitBytes = 100;
  // 21 bytes of time and blank, 29 of event and line end: two lines a log.
  for (int i = 0; i < 8; ++i) log.write("event " + std::to_string(i) + "\nnot a new line......");
  const std::vector<std::string> latest = logEvents(folder / "Launcher.log");
  const std::vector<std::string> older = logEvents(folder / "Launcher.old.log");
  EXPECT_EQ(latest, (std::vector<std::string>{"event 6 not a new line......", "event 7 not a new line......"}));
  EXPECT_EQ(older, (std::vector<std::string>{"event 4 not a new line......", "event 5 not a new line......"}));
  EXPECT_LE(fs::file_size(folder / "Launcher.log"), 100u);
  EXPECT_LE(fs::file_size(folder / "Launcher.old.log"), 100u);

#if !defined(_WIN32)
  // A link planted in the log's place is not followed out of the folder.
  testsupport::TempDir outside;
  fs::remove(folder / "Launcher.log");
  fs::create_symlink(outside / "elsewhere.txt", folder / "Launcher.log");
  log.write("through a link");
  EXPECT_FALSE(fs::exists(outside / "elsewhere.txt"));
#endif
}

}  // namespace
