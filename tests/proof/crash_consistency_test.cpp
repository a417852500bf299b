// An update of many files from nginx, killed with SIGKILL again and again at
// moments spread over the whole run: while a file arrives, between a file put
// in place and its record, while its record is appended to the list's
// journal, and while the journal is folded into "version_list.txt". After
// every kill the installation must be consistent -- the list parses, its
// journal proves what it records, every entry the two record names a file
// holding exactly the served bytes of that version, and no file that was
// good before is damaged -- and a run left alone afterwards must converge
// and then have nothing left to fetch.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/streaming_file.h"
#include "proof/driver_process.h"
#include "support/child_process.h"
#include "support/driver_outcome.h"
#include "support/registry_fixture.h"
#include "support/static_server.h"
#include "support/temp_dir.h"
#include "update/download_note.h"
#include "update/entry_names.h"
#include "update/list_journal.h"
#include "update/local_file_index.h"
#include "update/update_run.h"
#include "update/version_list.h"

using net::kPartialSuffix;
using net::partialFilePath;
using update::decodeEntryName;
using update::kDownloadNoteName;
using update::kListJournalName;
using update::kVersionListName;
using update::parseVersionList;
using update::UpdateState;
using update::VersionEntry;
using update::VersionList;
using update::versionListSideName;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct ServedFile {
  std::string name;       // escaped, as listed
  std::string localName;  // decoded
  std::string version;
  std::string bytes;
  // The file's bytes and version in the installation before the update, if
  // it was there.
  std::optional<std::string> oldBytes;
  std::string oldVersion;
};

// Deterministic filler, different for every file.
std::string content(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

std::optional<std::string> readIfPresent(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  return testsupport::readFile(path);
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// inotify on a folder and every folder below it, including the ones made
// while it watches.
class TreeWatch {
 public:
  explicit TreeWatch(const fs::path& root) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    watch(root);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_directory()) watch(entry.path());
    }
  }
  ~TreeWatch() { ::close(fd_); }
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

  int descriptor() const { return fd_; }

  // Hands every pending event to `seen` (its mask and file name) until that
  // returns true; true then.
  bool drain(const std::function<bool(std::uint32_t, const std::string&)>& seen) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) return false;
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        at += sizeof(inotify_event) + event->len;
        std::string name = event->len > 0 ? std::string(event->name) : std::string();
        if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR)) {
          auto folder = folders_.find(event->wd);
          if (folder != folders_.end()) watch(folder->second / name);
        }
        if (seen(event->mask, name)) return true;
      }
    }
  }

 private:
  void watch(const fs::path& folder) {
    int wd = ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_MODIFY);
    if (wd >= 0) folders_[wd] = folder;
  }

  int fd_;
  std::map<int, fs::path> folders_;
};

// One way to pick the moment of a kill in the run being killed. The driver
// kills itself at a moment of the run's own (--kill-in-transfer,
// --kill-after-record), so that how far each run gets is the same on an idle
// and on a loaded machine; the test kills it when a file event comes (a list
// rewrite, a download's writes), landing wherever the run has got to by
// then, with the driver's own kill after its first record as the backstop,
// so that no run records more than one file however late the test's kill
// lands.
struct KillPoint {
  // A downloaded file is recognised as any file but the list, its side file
  // and the note of the download in flight, whatever name it is written
  // under.
  enum class Kind { InTransfer, BeforeRecord, AfterRecord, ListSideFileCreated, JournalWritten, DownloadWritten };
  Kind kind;
  // The file of the run (InTransfer: 0 for the last one planned), or the
  // file event to kill at.
  int count;

  std::vector<std::string> driverArgs() const {
    if (kind == Kind::InTransfer) return {"--kill-in-transfer", std::to_string(count)};
    if (kind == Kind::BeforeRecord) return {"--kill-before-record", std::to_string(count)};
    return {"--kill-after-record", kind == Kind::AfterRecord ? std::to_string(count) : "1"};
  }

  bool matches(std::uint32_t mask, const std::string& name) const {
    switch (kind) {
      case Kind::ListSideFileCreated: return (mask & IN_CREATE) && name == versionListSideName(kVersionListName);
      case Kind::JournalWritten: return (mask & IN_MODIFY) && name == kListJournalName;
      case Kind::DownloadWritten: return (mask & IN_MODIFY) && isDownload(name);
      default: return false;
    }
  }

  static bool isDownload(const std::string& name) {
    return name != kVersionListName && name != versionListSideName(kVersionListName) && name != kDownloadNoteName &&
           name != kListJournalName;
  }
};

// The first run is killed inside its first transfer, before anything is
// recorded; the last inside the transfer of its last file, near the end of
// the update; the ones between record at most one file each, so that there
// are more of them than files to fetch would allow to converge.
// Under Wine every start of the driver costs a Windows process start: a
// third as many runs, every kind of kill point still among them.
int killRuns() { return prooftest::underWine() ? 14 : 40; }

KillPoint killPointFor(int run) {
  if (run == 0) return {KillPoint::Kind::InTransfer, 1};
  if (run == killRuns() - 1) return {KillPoint::Kind::InTransfer, 0};
  // The list's side file is made when a run folds the journal an earlier
  // run left: at its start, so the kill lands mid-fold.
  switch (run % 6) {
    case 0: return {KillPoint::Kind::InTransfer, 2};
    case 1: return {KillPoint::Kind::ListSideFileCreated, 1};
    case 2: return {KillPoint::Kind::AfterRecord, 1};
    case 3: return {KillPoint::Kind::BeforeRecord, 1 + run % 2};
    case 4: return {KillPoint::Kind::JournalWritten, 1};
    default: return {KillPoint::Kind::DownloadWritten, 2 + (run * 5) % 7};
  }
}

class CrashConsistencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(install());
    fs::create_directories(site() / "up");
    fs::create_directories(scratch_ / "start");
    testsupport::writeInstallationSettings(scratch_ / "user.reg", install().string());
    buildServedFiles();
    writeServerAndInstallation();
  }

  fs::path install() const { return scratch_ / "Glimmerhold"; }
  fs::path site() const { return scratch_ / "site"; }

  void buildServedFiles() {
    std::uint32_t seed = 1;
    auto add = [&](const std::string& name, std::size_t size, bool outdated) {
      ServedFile file{name, decodeEntryName(name), "v2", content(size, seed++), std::nullopt, ""};
      if (outdated) {
        file.oldBytes = content(size / 2 + 7, seed++);
        file.oldVersion = "v1";
      }
      files_.push_back(std::move(file));
    };
    // Several MiB each, some replacing an older version.
    add("packs/world%201.pak", 5 * 1024 * 1024 + 17, true);
    add("packs/textures.pak", 4 * 1024 * 1024, false);
    add("sound/m%fasica%20de%20fondo.ogg", 3 * 1024 * 1024 + 999, false);
    add("big.bin", 2 * 1024 * 1024 + 5, true);
    add("data/maps/level%201.pak", 3 * 1024 * 1024, false);
    add("video/intro%21.bik", 2 * 1024 * 1024 + 321, false);
    for (int i = 0; i < 50; ++i) {
      const char* const folders[] = {"", "data/", "data/maps/", "docs/Cap%edtulo%20", "Espa%f1a/"};
      std::string name = std::string(folders[i % 5]) + "file" + std::to_string(i) + (i % 3 == 0 ? "%21.dat" : ".dat");
      add(name, 512 + static_cast<std::size_t>(i) * 4099 % 300000, i % 4 == 1);
    }
    updates_ = files_.size();
    // Good before the run and served unchanged: thousands of them, so that
    // every rewrite of the list takes long enough to be caught.
    for (int i = 0; i < 3000; ++i) {
      ServedFile file{"keep/k" + std::to_string(i) + ".txt", "",           "k1",
                      "kept " + std::to_string(i) + "\n",    std::nullopt, ""};
      file.localName = file.name;
      file.oldBytes = file.bytes;
      file.oldVersion = file.version;
      files_.push_back(std::move(file));
    }
    for (std::size_t i = 0; i < files_.size(); ++i) byName_[files_[i].name] = i;
  }

  // The server's byte name of a file: nginx decodes "%f1" to the byte 0xF1,
  // where the launcher installs the letter in UTF-8 (0xC3 0xB1).
  static std::string servedName(const std::string& localName) {
    std::string served;
    for (std::size_t i = 0; i < localName.size(); ++i) {
      if (static_cast<unsigned char>(localName[i]) == 0xC3 && i + 1 < localName.size()) {
        served += static_cast<char>(static_cast<unsigned char>(localName[++i]) + 0x40);
      } else {
        served += localName[i];
      }
    }
    return served;
  }

  void writeServerAndInstallation() {
    std::string served;
    std::string local;
    // The server lists the kept files between the updates (7919 is a prime
    // that does not divide the count, so this visits every file once); the
    // local list names them first.
    for (std::size_t i = 0; i < files_.size(); ++i) {
      const ServedFile& file = files_[(i * 7919) % files_.size()];
      served += file.name + " " + file.version + " " + std::to_string(file.bytes.size()) + "\n";
      fs::path onSite = site() / "up" / servedName(file.localName);
      fs::create_directories(onSite.parent_path());
      testsupport::writeFile(onSite, file.bytes);
    }
    for (std::size_t i = updates_; i < files_.size(); ++i) local += recordLine(files_[i], files_[i].bytes);
    for (std::size_t i = 0; i < updates_; ++i) {
      if (files_[i].oldBytes) local += recordLine(files_[i], *files_[i].oldBytes, true);
    }
    testsupport::writeFile(site() / "up" / kVersionListName, served);
    for (const ServedFile& file : files_) {
      if (!file.oldBytes) continue;
      fs::path path = install() / file.localName;
      fs::create_directories(path.parent_path());
      testsupport::writeFile(path, *file.oldBytes);
    }
    testsupport::writeFile(install() / kVersionListName, local);
  }

  static std::string recordLine(const ServedFile& file, const std::string& bytes, bool old = false) {
    return file.name + " " + (old ? file.oldVersion : file.version) + " " + std::to_string(bytes.size()) + "\n";
  }

  // The invariants that must hold whenever the launcher stops, however it
  // stops. Returns how many of the updated files are recorded as current.
  std::size_t expectConsistent() {
    const std::string text = testsupport::readFile(install() / kVersionListName);
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << "the list is cut short";
    VersionList recorded;
    parseVersionList(text.data(), text.data() + text.size(), recorded);
    EXPECT_EQ(recorded.size(), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')))
        << "a line of the list does not parse";
    // What the next start reads: the list with the records of the journal a
    // killed run left. A kill may cut its last record (or leave it empty,
    // killed between its making and its first write), nothing more.
    const update::JournalRecords journal = update::readListJournal((install() / kListJournalName).c_str());
    if (journal.kind == update::JournalRecords::Kind::Unknown) {
      EXPECT_EQ(fs::file_size(install() / kListJournalName), 0u) << "a journal the launcher cannot read";
    }
    EXPECT_EQ(journal.refused, 0u);
    update::applyJournal(recorded, journal.entries, update::NameCase::Exact);

    std::size_t current = 0;
    std::vector<bool> seen(files_.size(), false);
    for (const VersionEntry& entry : recorded) {
      auto index = byName_.find(entry.name);
      if (index == byName_.end()) {
        ADD_FAILURE() << "recorded but never served or installed: " << entry.name;
        continue;
      }
      const ServedFile& file = files_[index->second];
      EXPECT_FALSE(seen[index->second]) << "recorded twice: " << entry.name;
      seen[index->second] = true;
      std::optional<std::string> bytes = readIfPresent(install() / file.localName);
      if (entry.version == file.version) {
        EXPECT_TRUE(bytes == file.bytes) << entry.name << " is recorded current but does not hold the served bytes";
        EXPECT_EQ(entry.size, file.bytes.size()) << entry.name;
        if (index->second < updates_) ++current;
      } else {
        EXPECT_EQ(entry.version, file.oldVersion) << entry.name;
        // Its new version may have landed just before the kill, before it
        // could be recorded; anything else is damage.
        EXPECT_TRUE(bytes == file.oldBytes || bytes == file.bytes) << entry.name << " is damaged";
      }
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (seen[i]) continue;
      EXPECT_FALSE(files_[i].oldBytes) << files_[i].name << " was recorded before the run and no longer is";
      std::optional<std::string> bytes = readIfPresent(install() / files_[i].localName);
      EXPECT_TRUE(!bytes || bytes == files_[i].bytes || bytes == files_[i].oldBytes)
          << files_[i].name << " holds bytes that were never served";
    }
    expectOnlyKnownFiles(/*sideFilesAllowed=*/true);
    return current;
  }

  void expectOnlyKnownFiles(bool sideFilesAllowed) {
    // A killed run leaves at most the side file of its file in flight; once
    // a run completes, none is left, of its own or of an earlier run.
    std::set<std::string> known;
    for (const ServedFile& file : files_) {
      known.insert(file.localName);
      if (sideFilesAllowed) known.insert(partialFilePath(file.localName));
    }
    for (const auto& entry : fs::recursive_directory_iterator(install())) {
      if (entry.is_directory()) continue;
      std::string relative = fs::relative(entry.path(), install()).string();
      if (relative == kVersionListName) continue;
      if (sideFilesAllowed && relative == kListJournalName) continue;
      if (sideFilesAllowed && (relative == versionListSideName(kVersionListName) || relative == kDownloadNoteName)) {
        continue;
      }
      EXPECT_TRUE(known.count(relative) != 0) << "stray file " << relative;
    }
  }

  testsupport::ChildProcess startDriver(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--limit-s", "120"});
    return prooftest::startDriver(args, scratch_ / "start");
  }

  std::map<std::string, ino_t> inodes() const {
    std::map<std::string, ino_t> result;
    for (const auto& entry : fs::recursive_directory_iterator(install())) {
      struct stat info {};
      if (::stat(entry.path().c_str(), &info) == 0) result[entry.path().string()] = info.st_ino;
    }
    return result;
  }

  testsupport::TempDir scratch_;
  testsupport::RegistryFileEnv registry_{scratch_ / "user.reg"};
  std::vector<ServedFile> files_;
  std::size_t updates_ = 0;
  std::map<std::string, std::size_t> byName_;
};

TEST_F(CrashConsistencyTest, KilledAnywhereTheInstallationStaysConsistentAndThenConverges) {
  testsupport::NginxServer nginx(site());
  ASSERT_TRUE(nginx.running()) << nginx.errorLog();
  ASSERT_EQ(expectConsistent(), 0u);

  int killsWithListSideFile = 0;
  int killsWithPartialFile = 0;
  std::vector<std::size_t> progressAtKill;
  // Bounded by the number of runs, each by the driver's own time limit and
  // the wait for its next event: no wall-clock deadline, which a loaded
  // machine would make the proof's outcome.
  for (int run = 0; run < killRuns(); ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const KillPoint point = killPointFor(run);
    TreeWatch watch(install());
    testsupport::ChildProcess driver = startDriver(point.driverArgs());
    ASSERT_TRUE(driver.started());
    int matches = 0;
    for (bool ended = false; !ended;) {
      pollfd events[2] = {{watch.descriptor(), POLLIN, 0}, {driver.exitEvent(), POLLIN, 0}};
      // Longer than the driver's own limit: it ends by itself first.
      int ready = ::poll(events, 2, 150000);
      ASSERT_GT(ready, 0) << "the driver neither progressed nor ended";
      if ((events[0].revents & POLLIN) && watch.drain([&](std::uint32_t mask, const std::string& name) {
            return point.matches(mask, name) && ++matches >= point.count;
          })) {
        driver.kill();
        ended = true;
      } else if (events[1].revents & POLLIN) {
        ASSERT_TRUE(driver.wait(10s));
        ended = true;
      }
    }
    // Every run has more to fetch than the kills let it record, so none
    // ends by itself. (A Windows driver ends itself with exit code 137.)
    ASSERT_TRUE(driver.killedBySignal() || (prooftest::underWine() && driver.exitCode() == 137)) << driver.output();
    if (fs::exists(install() / versionListSideName(kVersionListName))) ++killsWithListSideFile;
    for (const auto& entry : fs::recursive_directory_iterator(install())) {
      if (endsWith(entry.path().string(), kPartialSuffix)) {
        ++killsWithPartialFile;
        break;
      }
    }
    progressAtKill.push_back(expectConsistent());
    if (HasFailure()) return;
  }
  std::printf("kills survived: %d (list side file present at %d, a partial file at %d); files current at the kills:",
              killRuns(), killsWithListSideFile, killsWithPartialFile);
  for (std::size_t progress : progressAtKill) std::printf(" %zu", progress);
  std::printf(" of %zu\n", updates_);
  RecordProperty("kills_survived", killRuns());
  EXPECT_EQ(progressAtKill.front(), 0u) << "no kill before the first file was recorded";
  for (std::size_t run = 1; run + 1 < progressAtKill.size(); ++run) {
    EXPECT_LE(progressAtKill[run], progressAtKill[run - 1] + 1) << "run " << run << " recorded more than one file";
  }
  EXPECT_EQ(progressAtKill.back() + 1, updates_) << "no kill inside the last file of the update";
  EXPECT_GT(killsWithPartialFile, 0) << "no kill inside a transfer";

  // Left alone, a run converges on the served state...
  {
    testsupport::ChildProcess driver = startDriver();
    ASSERT_TRUE(driver.wait(150s));
    ASSERT_EQ(driver.exitCode(), 0) << driver.output();
    EXPECT_EQ(testsupport::parseDriverOutput(driver.output()).state, static_cast<int>(UpdateState::Finished))
        << driver.output();
  }
  EXPECT_EQ(expectConsistent(), updates_);
  expectOnlyKnownFiles(/*sideFilesAllowed=*/false);
  for (const ServedFile& file : files_) {
    EXPECT_TRUE(readIfPresent(install() / file.localName) == file.bytes) << file.name;
  }

  // ...and the next one has nothing left to fetch and touches nothing.
  const auto before = inodes();
  const std::string listBefore = testsupport::readFile(install() / kVersionListName);
  {
    testsupport::ChildProcess driver = startDriver();
    ASSERT_TRUE(driver.wait(60s));
    testsupport::DriverOutcome outcome = testsupport::parseDriverOutput(driver.output());
    EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Finished)) << driver.output();
    EXPECT_EQ(outcome.planned, 0u);
    EXPECT_EQ(outcome.started, 0u);
  }
  EXPECT_EQ(inodes(), before);
  EXPECT_EQ(testsupport::readFile(install() / kVersionListName), listBefore);
}

}  // namespace
