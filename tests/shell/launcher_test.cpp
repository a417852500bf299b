// The process entry and the launcher's self-replacement.
#include "shell/launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "platform/instance_lock.h"
#include "platform/message_box.h"
#include "shell/self_replace.h"
#include "support/fake_ui.h"
#include "support/launcher_fixture.h"
#include "support/temp_dir.h"
#include "update/list_journal.h"

#if defined(__linux__)
#include "support/linux/read_only_mount.h"
#endif

using shell::copyFile;
using shell::launcherMain;
using shell::modulePath;
using shell::sameFileContents;

namespace {

using testsupport::readFile;
using testsupport::shownBoxes;
using testsupport::writeFile;
namespace fs = std::filesystem;

class StartupTest : public testsupport::LauncherTest {};

TEST_F(StartupTest, WithoutAnInstallationOnlyTheErrorBoxIsShown) {
  testsupport::writeFile(scratch().path() / "user.reg", "REGEDIT4\n");
  EXPECT_EQ(launcherMain(u""), 0);
  ASSERT_EQ(shownBoxes().size(), 1u);
  EXPECT_EQ(shownBoxes()[0].text, u"Installation error. Please, try installing the game again.");
  EXPECT_EQ(shownBoxes()[0].caption, u"Glimmerhold Updater");
  EXPECT_EQ(shownBoxes()[0].type, 0u);
  EXPECT_EQ(testsupport::fakeWindow().dialog, nullptr) << "no dialog without an installation";

  registerInstallation("");
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_EQ(shownBoxes().size(), 2u) << "an empty install path is no installation";
}

TEST_F(StartupTest, AFolderThatCannotBeEnteredIsNoInstallation) {
  // Not a folder, and no folder at all: the box, and nothing written, here
  // or in the current folder.
  writeFile(scratch().path() / "notAFolder", "a file where the folder should be");
  const fs::path current = fs::current_path();
  for (const fs::path& path : {scratch().path() / "notAFolder", scratch().path() / "missing"}) {
    registerInstallation(path.string());
    EXPECT_EQ(launcherMain(u""), 0);
    EXPECT_EQ(fs::current_path(), current);
  }
  ASSERT_EQ(shownBoxes().size(), 2u);
  EXPECT_EQ(shownBoxes()[1].text, u"Installation error. Please, try installing the game again.");
  EXPECT_EQ(testsupport::fakeWindow().dialog, nullptr);
  EXPECT_FALSE(fs::exists(scratch().path() / "missing"));
  EXPECT_FALSE(fs::exists(current / "version_list.txt"));
}

TEST_F(StartupTest, ASecondLauncherOnTheInstallationOnlySaysSo) {
  registerInstallation(install().string());
  writeFile(install() / "Launcher.exe.tmp", "left over");
  // The running launcher, on a thread of its own as another process would
  // hold it.
  std::promise<void> release;
  std::promise<void> taken;
  std::thread first([&] {
    platform::InstanceLock lock = platform::InstanceLock::acquire(install().string().c_str(), 0);
    taken.set_value();
    release.get_future().wait();
  });
  taken.get_future().wait();
  EXPECT_EQ(launcherMain(u""), 0);
  release.set_value();
  first.join();
  ASSERT_EQ(shownBoxes().size(), 1u);
  EXPECT_EQ(shownBoxes()[0].text, u"The launcher is already running.");
  EXPECT_EQ(testsupport::fakeWindow().dialog, nullptr);
  EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), "left over") << "the running launcher's files are its own";
}

#if defined(__linux__)
// A read-only medium: no lock file can be made (nor, the second time, opened
// for writing), and that is no other launcher. The dialog runs (the update
// run then writes nothing, see update_run_test), and nothing is touched.
TEST_F(StartupTest, AnInstallationThePlayerCannotWriteStillStarts) {
  registerInstallation(install().string());
  writeFile(install() / "Launcher.exe", "launcher v1");
  writeFile(install() / "Launcher.exe.tmp", "launcher v2");
  writeFile(install() / "version_list.txt", "Launcher.exe v2 11\n");
  for (const bool lockFileThere : {false, true}) {
    SCOPED_TRACE(lockFileThere ? "a lock file from before" : "no lock file");
    if (lockFileThere) writeFile(install() / "Launcher.lock", "");
    testsupport::ReadOnlyMount readOnly(install());
    ASSERT_TRUE(readOnly.mounted()) << readOnly.error();
    testsupport::fakeWindow().dialog = nullptr;
    EXPECT_EQ(launcherMain(u""), 0);
    EXPECT_TRUE(shownBoxes().empty());
    EXPECT_NE(testsupport::fakeWindow().dialog, nullptr);
    EXPECT_EQ(readFile(install() / "version_list.txt"), "Launcher.exe v2 11\n");
    EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), "launcher v2");
  }
}
#endif

TEST_F(StartupTest, OnlyTheExactWordPauseIsARestart) {
  registerInstallation(install().string());
  const fs::path leftover = install() / "Launcher.exe.tmp";
  writeFile(install() / "Launcher.exe", "launcher v2");
  for (const char16_t* commandLine : {u"", u"/PAUSE", u" /pause", u"/pause now", u"pause"}) {
    writeFile(leftover, "launcher v2");
    EXPECT_EQ(launcherMain(commandLine), 0);
    EXPECT_FALSE(fs::exists(leftover)) << "an ordinary start removes the left-over";
    EXPECT_NE(testsupport::fakeWindow().dialog, nullptr) << "and runs the dialog";
  }
  EXPECT_TRUE(shownBoxes().empty());
  // With nothing left over, the start is the same.
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(StartupTest, AnUnfinishedReplacementMakesTheNextRunFetchTheLauncherAgain) {
  registerInstallation(install().string());
  writeFile(install() / "Launcher.exe", "launcher v1");
  writeFile(install() / "Launcher.exe.tmp", "launcher v2");
  writeFile(install() / "version_list.txt", "Launcher.exe v2 11\ndata.pak 7 3\nLauncher.exe v2 11\n");
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_EQ(readFile(install() / "version_list.txt"), "data.pak 7 3\n");
  EXPECT_FALSE(fs::exists(install() / "Launcher.exe.tmp"));

  // The run that fetched it recorded it in the list's journal: forgotten
  // there too, the journal's other records kept.
  writeFile(install() / "Launcher.exe.tmp", "launcher v2");
  writeFile(install() / update::kListJournalName, std::string(update::kListJournalHeader) +
                                                      update::journalRecord("Launcher.exe", "v2", 11) +
                                                      update::journalRecord("new.pak", "1", 2));
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_EQ(readFile(install() / "version_list.txt"), "data.pak 7 3\nnew.pak 1 2\n");
  EXPECT_FALSE(fs::exists(install() / update::kListJournalName));

  // Also when no list was written yet: the journal alone named it.
  fs::remove(install() / "version_list.txt");
  writeFile(install() / "Launcher.exe.tmp", "launcher v2");
  writeFile(install() / update::kListJournalName,
            std::string(update::kListJournalHeader) + update::journalRecord("Launcher.exe", "v2", 11));
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_EQ(readFile(install() / "version_list.txt"), "");
  EXPECT_FALSE(fs::exists(install() / update::kListJournalName));

  // A replacement that did complete leaves the list alone.
  writeFile(install() / "Launcher.exe.tmp", "launcher v1");
  writeFile(install() / "version_list.txt", "Launcher.exe v1 11\n");
  EXPECT_EQ(launcherMain(u""), 0);
  EXPECT_EQ(readFile(install() / "version_list.txt"), "Launcher.exe v1 11\n");
}

TEST_F(StartupTest, RestartTellsThePlayerThenCopiesItselfOverTheLauncher) {
  registerInstallation(install().string());
  writeFile(install() / "Launcher.exe", "old launcher");
  writeFile(install() / "Launcher.exe.tmp", "left alone");
  EXPECT_EQ(launcherMain(u"/pause"), 0);
  ASSERT_FALSE(shownBoxes().empty());
  EXPECT_EQ(shownBoxes()[0].text,
            u"There is a new version of the launcher available. The update process will start again.");
  EXPECT_EQ(shownBoxes()[0].caption, u"Glimmerhold Updater");
  // The running program (this test binary) is what gets copied.
  EXPECT_EQ(readFile(install() / "Launcher.exe"), readFile(modulePath()));
  EXPECT_EQ(readFile(install() / "Launcher.exe.tmp"), "left alone") << "a restart keeps the left-over";
  EXPECT_NE(testsupport::fakeWindow().dialog, nullptr);
}

TEST(SelfReplaceTest, CopyReplacesOnlyWithACompleteCopy) {
  testsupport::TempDir dir;
  const fs::path source = dir / "source";
  const fs::path target = dir / "target";

  writeFile(source, "");
  writeFile(target, "previous");
  EXPECT_TRUE(copyFile(source.string(), target.string()));
  EXPECT_EQ(readFile(target), "");

  // Larger than the 4 MiB buffer, with a shorter last piece.
  std::string big(9 * 1024 * 1024 + 123, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  writeFile(source, big);
  EXPECT_TRUE(copyFile(source.string(), target.string()));
  EXPECT_TRUE(readFile(target) == big);
  EXPECT_FALSE(fs::exists(dir / "target.new"));

  EXPECT_FALSE(copyFile((dir / "missing").string(), target.string()));
  EXPECT_TRUE(readFile(target) == big);

  // A destination that cannot be written leaves the old one intact.
  fs::create_directories(dir / "held.new");
  writeFile(dir / "held", "old launcher");
  EXPECT_FALSE(copyFile(source.string(), (dir / "held").string()));
  EXPECT_EQ(readFile(dir / "held"), "old launcher");
}

TEST(SelfReplaceTest, SameContentsComparesSizesThenEveryChunk) {
  testsupport::TempDir dir;
  std::string big(3 * 64 * 1024 + 5, 'x');
  writeFile(dir / "a", big);
  writeFile(dir / "same", big);
  big.back() = 'y';
  writeFile(dir / "last", big);
  big.back() = 'x';
  big[64 * 1024] = 'y';
  writeFile(dir / "second", big);
  writeFile(dir / "shorter", big.substr(1));
  writeFile(dir / "empty", "");
  writeFile(dir / "empty2", "");
  EXPECT_TRUE(sameFileContents((dir / "a").string(), (dir / "same").string()));
  EXPECT_TRUE(sameFileContents((dir / "empty").string(), (dir / "empty2").string()));
  for (const char* other : {"last", "second", "shorter", "empty", "missing"}) {
    EXPECT_FALSE(sameFileContents((dir / "a").string(), (dir / other).string())) << other;
  }
}

TEST(SelfReplaceTest, ModulePathIsThisProgram) {
  std::string path = modulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(fs::path(path).stem(), "shell_tests");
}

}  // namespace
