#include "update/download_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using update::makeDirectories;
using update::NameRefusal;
using update::nameRefusalText;
using update::planDownloads;
using update::SkippedEntries;
using update::VersionEntry;
using update::VersionList;

namespace {

namespace fs = std::filesystem;
using testsupport::CurrentDirGuard;
using testsupport::TempDir;
using testsupport::writeFile;

VersionList makeList(std::initializer_list<VersionEntry> entries) {
  VersionList list;
  for (const VersionEntry& entry : entries) list.append(entry);
  return list;
}

std::vector<std::string> names(const VersionList& entries) {
  std::vector<std::string> result;
  for (const VersionEntry& entry : entries) result.push_back(entry.name);
  return result;
}

// Every path below `root`, relative to it, for checking that nothing else
// was made anywhere in the tree.
std::vector<std::string> treeBelow(const fs::path& root) {
  std::vector<std::string> paths;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    // In UTF-8 on every platform, as the launcher names files.
    const std::u8string path = fs::relative(item.path(), root).generic_u8string();
    paths.emplace_back(path.begin(), path.end());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The plan works relative to the current folder, the installation folder.
class DownloadPlan : public ::testing::Test {
 protected:
  TempDir dir;
  CurrentDirGuard guard;
  VersionList downloadList;
  std::uint32_t totalKiB = 12345;

  void SetUp() override { fs::current_path(dir.path()); }
  void plan(const VersionList& remote, const VersionList& local) {
    planDownloads(remote, local, downloadList, totalKiB);
  }
};

TEST_F(DownloadPlan, LauncherFirstEachFileOnceByItsFirstEntryAndKiBRoundedDown) {
  VersionList remote = makeList({{"a.pak", "1", 1023},
                                 {"Launcher.exe", "2", 5000},
                                 {"b.pak", "1", 2048},
                                 {"launcher.exe", "1", 1024},
                                 {"A.PAK", "1", 3000},
                                 {"Launcher.exe", "3", 7000},
                                 {"Launcher.exe.tmp", "1", 0}});
  plan(remote, VersionList{});
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"Launcher.exe", "a.pak", "b.pak"}));
  // 5000/1024 + 1023/1024 + 2048/1024 = 4 + 0 + 2.
  EXPECT_EQ(totalKiB, 6u);
  // The copies keep the server's version and size, of the first entry.
  EXPECT_EQ(downloadList[0].version, "2");
  EXPECT_EQ(downloadList[0].size, 5000u);
}

TEST_F(DownloadPlan, UpToDateOnlyWithEntrySameVersionSameSizeAndFileOfThatSize) {
  const std::string kib(1024, 'x');
  for (const char* file :
       {"same.pak", "newer.pak", "older.pak", "unlisted.pak", "dup.pak", "relisted.pak", "portal.pak"})
    writeFile(dir / file, kib);
  writeFile(dir / "short.pak", kib.substr(0, 500));
  VersionList local = makeList({{"same.pak", "v2", 1024},
                                {"deleted.pak", "v2", 2048},
                                {"newer.pak", "v1", 1024},
                                {"older.pak", "v3", 1024},
                                {"prefix.pak", "v2", 1024},
                                {"dup.pak", "v1", 1024},
                                {"dup.pak", "v2", 1024},
                                // The list gives the file another size under the same version.
                                {"relisted.pak", "v2", 1024},
                                // The file on disk is not the size recorded.
                                {"short.pak", "v2", 1024},
                                // A login page an older launcher recorded at its own size.
                                {"portal.pak", "v2", 1024}});
  VersionList remote = makeList({{"same.pak", "v2", 1024},
                                 {"deleted.pak", "v2", 2048},
                                 {"newer.pak", "v2", 1024},
                                 {"older.pak", "v2", 1024},
                                 {"unlisted.pak", "v2", 1024},
                                 {"prefix.pak", "v2x", 1024},
                                 // Local entries of one file that disagree say nothing.
                                 {"dup.pak", "v2", 1024},
                                 {"relisted.pak", "v2", 3072},
                                 {"short.pak", "v2", 1024},
                                 {"portal.pak", "v2", 5120}});
  plan(remote, local);
  EXPECT_EQ(names(downloadList),
            (std::vector<std::string>{"deleted.pak", "newer.pak", "older.pak", "unlisted.pak", "prefix.pak", "dup.pak",
                                      "relisted.pak", "short.pak", "portal.pak"}));
  EXPECT_EQ(totalKiB, 2u + 1 + 1 + 1 + 1 + 1 + 3 + 1 + 5);

  // Whichever of them the server lists, the file is fetched again.
  plan(makeList({{"dup.pak", "v1", 1024}}), local);
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"dup.pak"}));
}

// Where the file system ignores case, a local entry is found under any
// spelling of its file (escapes decoded, letters folded as the name rule
// folds them), and entries of one file that disagree are no record at all.
TEST_F(DownloadPlan, LocalEntriesAreLookedUpAsTheFileSystemComparesNames) {
  // Both spellings on disk, as a file system that ignores case shows them.
  for (const char* file : {"Data.pak", "data.pak",
                           "Espa\xc3\xb1"
                           "a.txt",
                           "ESPA\xc3\x91"
                           "A.TXT",
                           "Two.pak"}) {
    // UTF-8 names, whatever the system's narrow code page.
    writeFile(dir.path() / fs::path(reinterpret_cast<const char8_t*>(file)), "x");
  }
  VersionList local =
      makeList({{"Data.pak", "1", 1}, {"Espa%f1a.txt", "1", 1}, {"Two.pak", "1", 1}, {"TWO.PAK", "2", 1}});
  VersionList remote = makeList({{"data.pak", "1", 1},
                                 {"ESPA\xc3\x91"
                                  "A.TXT",
                                  "1", 1},
                                 {"Two.pak", "1", 1}});
  plan(remote, local);
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"data.pak",
                                                           "ESPA\xc3\x91"
                                                           "A.TXT"}))
      << "names compared as written";
  planDownloads(remote, local, downloadList, totalKiB, nullptr, update::NameCase::Ignored);
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"Two.pak"})) << "one file, one version";
}

TEST_F(DownloadPlan, EscapedNamesTestTheDecodedFile) {
  writeFile(dir / "my maps" / u8"espa\u00f1a.pak", "x");
  VersionList local = makeList({{"my%20maps/espa%f1a.pak", "1", 1}, {"my%20maps/other.pak", "1", 1}});
  // The local entry is looked up by the escaped name; the file by the decoded one.
  plan(makeList({{"my%20maps/espa%f1a.pak", "1", 1}, {"my%20maps/other.pak", "1", 1}}), local);
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"my%20maps/other.pak"}));
}

// The plan makes no folder (the run makes a file's folders as its download
// starts), and made in steps of any size it is the same plan.
TEST_F(DownloadPlan, MakesNoFolderAndIsTheSameMadeInSteps) {
  writeFile(dir / "b.pak", "x");
  VersionList local = makeList({{"b.pak", "1", 1}, {"x/y/z/c.pak", "1", 0}});
  VersionList remote = makeList({{"data/maps/a.pak", "1", 2048},
                                 {"b.pak", "1", 1},
                                 {"x/y/z/c.pak", "2", 1024},
                                 {"data/maps/d.pak", "1", 0},
                                 {"DATA/MAPS/A.PAK", "1", 0},
                                 {"data/e%20f/g.pak", "1", 0},
                                 {"Launcher.exe", "1", 4096},
                                 {"x/y/w/h.pak", "1", 0}});
  plan(remote, local);
  EXPECT_EQ(treeBelow(dir.path()), (std::vector<std::string>{"b.pak"}));
  const std::vector<std::string> whole = {"Launcher.exe",    "data/maps/a.pak",  "x/y/z/c.pak",
                                          "data/maps/d.pak", "data/e%20f/g.pak", "x/y/w/h.pak"};
  EXPECT_EQ(names(downloadList), whole);
  EXPECT_EQ(totalKiB, 7u);
  for (std::size_t entries : {1, 2, 5}) {
    VersionList stepped;
    std::uint32_t steppedKiB = 99;
    update::LocalFileIndex index(update::NameCase::Exact, 0);
    update::PlanBuilder builder(remote, local, index, stepped, steppedKiB);
    std::size_t steps = 1;
    while (!builder.step(entries)) ++steps;
    EXPECT_EQ(names(stepped), whole) << entries;
    EXPECT_EQ(steppedKiB, 7u);
    // The local entries are indexed first; the launcher's entry comes on top
    // of the first planning step's.
    EXPECT_EQ(steps, (local.size() + entries - 1) / entries + (remote.size() - 1 + entries - 1) / entries) << entries;
  }
}

TEST_F(DownloadPlan, FolderThatCannotBeMadeStillPlansTheFile) {
  writeFile(dir / "blocker", "a file where a folder should be");
  VersionList remote = makeList({{"blocker/x.pak", "1", 2048}, {"ok/y.pak", "1", 0}});
  plan(remote, VersionList{});
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"blocker/x.pak", "ok/y.pak"}));
  EXPECT_EQ(totalKiB, 2u);
  EXPECT_TRUE(fs::is_regular_file(dir / "blocker"));

  // A file that exists but cannot be reached for another reason than "no
  // such file" counts as present. (Windows reports a file in place of a
  // folder as "no such file" itself, so there it is planned again.)
#if !defined(_WIN32)
  VersionList local = makeList({{"blocker/x.pak", "1", 0}});
  plan(makeList({{"blocker/x.pak", "1", 0}}), local);
  EXPECT_TRUE(downloadList.empty());
#endif
}

TEST_F(DownloadPlan, EmptyPlanResetsResults) {
  downloadList.append({"stale", "1", 1});
  plan(VersionList{}, makeList({{"a", "1", 1}}));
  EXPECT_TRUE(downloadList.empty());
  EXPECT_EQ(totalKiB, 0u);
  EXPECT_TRUE(treeBelow(dir.path()).empty());
}

TEST_F(DownloadPlan, TotalHeldAtMaximum) {
  VersionList remote;
  for (int i = 0; i < 1100; ++i) remote.append({"f" + std::to_string(i), "1", 4294967295u});
  plan(remote, VersionList{});
  EXPECT_EQ(downloadList.size(), 1100u);
  EXPECT_EQ(totalKiB, 4294967295u);
}

TEST(DownloadPlanSafety, RefusedNamesAreNeitherFetchedNorGivenFoldersButKeptWithTheirReason) {
  // The installation sits two levels down, so that a name climbing out of it
  // would have somewhere to land inside the scratch tree.
  TempDir dir;
  CurrentDirGuard guard;
  fs::path install = dir.path() / "outer" / "install";
  fs::create_directories(install);
  fs::current_path(install);

  using R = NameRefusal;
  const std::vector<std::pair<std::string, NameRefusal>> refused = {
      {"../escape/a.pak", R::LeavesInstallation},
      {"..\\escape/b.pak", R::LeavesInstallation},
      {"sub/../../escape/c.pak", R::LeavesInstallation},
      {"sub\\..\\..\\escape/d.pak", R::LeavesInstallation},
      {"/tmp/abs/e.pak", R::LeavesInstallation},
      {"\\abs/f.pak", R::LeavesInstallation},
      {"C:/abs/g.pak", R::LeavesInstallation},
      {"c:rel/h.pak", R::LeavesInstallation},
      {"../Launcher.exe", R::LeavesInstallation},
      {"sub/..", R::LeavesInstallation},
      {"sub/.. /x/i.pak", R::LeavesInstallation},
      {"", R::Empty},
      // Windows' meaning of names, and the launcher's own files.
      {"Launcher.exe.tmp/k.pak", R::WorkingName},
      {"version_list.txt/l.pak", R::WorkingName},
      {"VERSION_LIST.TXT", R::WorkingName},
      {"version_list.txt.tmp", R::WorkingName},
      {"Version_List.Journal", R::WorkingName},
      {"version_list.txt%20", R::EndsInDotOrBlank},
      {"download_in_progress.txt", R::WorkingName},
      {"Launcher.lock", R::WorkingName},
      {"launcher.LOG", R::WorkingName},
      {"Launcher.old.log", R::WorkingName},
      {"sub/m.pak.ghpart", R::PartialSuffix},
      {"n.GHPART/o.pak", R::PartialSuffix},
      {"./Launcher.exe", R::DotName},
      {"Launcher.exe.", R::EndsInDotOrBlank},
      {"LAUNCHER.EXE", R::LauncherSpelling},
      {"Launcher.exe/p.pak", R::LauncherSpelling},
      {"nul", R::DeviceName},
      {"aux.pak", R::DeviceName},
      {"data/Com1 .txt", R::DeviceName},
      {"dots./q.pak", R::EndsInDotOrBlank},
      {"a//r.pak", R::Empty},
      {"a/./s.pak", R::DotName},
      {"t/", R::Empty},
      {"u?.pak", R::ForbiddenCharacter},
      {"bell\x07.pak", R::ControlCharacter},
      // Windows-1252 leaves 0x81 undefined: the control character U+0081.
      {"c1\x81.pak", R::ControlCharacter},
      // 100 euro signs of Windows-1252: 300 bytes in UTF-8.
      {"long/" + std::string(100, '\x80'), R::ComponentTooLong},
  };
  VersionList remote;
  for (const auto& [name, reason] : refused) remote.append({name, "1", 1024});
  remote.append({"sub/%2e%2e/ok.pak", "1", 1024});
  remote.append({"safe/j.pak", "1", 2048});
  remote.append({"SAFE/J.PAK", "1", 1024});
  // Names as studios write them: UTF-8, and a Western Windows code page;
  // "\\" separates folders as "/" does.
  remote.append({"Ping\xc3\xbcino.png", "1", 0});
  remote.append(
      {"Espa\xf1ol/\xd1"
       "and\xfa\xe7\x80.txt",
       "1", 0});
  remote.append({"win\\deep\\v.pak", "1", 0});
  remote.append({"WIN/Deep/V.pak", "1", 0});
  VersionList downloadList;
  std::uint32_t totalKiB = 0;
  SkippedEntries skipped;
  planDownloads(remote, VersionList{}, downloadList, totalKiB, &skipped);

  // "%2e" is no escape of ours, so that name is a plain folder named so.
  EXPECT_EQ(names(downloadList), (std::vector<std::string>{"sub/%2e%2e/ok.pak", "safe/j.pak", "Ping\xc3\xbcino.png",
                                                           "Espa\xf1ol/\xd1"
                                                           "and\xfa\xe7\x80.txt",
                                                           "win\\deep\\v.pak"}));
  EXPECT_EQ(totalKiB, 3u);
  EXPECT_EQ(treeBelow(dir.path()), (std::vector<std::string>{"outer", "outer/install"}));
  EXPECT_FALSE(fs::exists("/tmp/abs"));
  EXPECT_EQ(skipped.count, refused.size());
  ASSERT_EQ(skipped.kept.size(), refused.size());
  for (std::size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(skipped.kept[i].name, refused[i].first);
    EXPECT_EQ(skipped.kept[i].reason, refused[i].second)
        << refused[i].first << ": " << nameRefusalText(skipped.kept[i].reason);
  }

  // A list of many refused names: each counted, the first ones kept.
  VersionList many;
  for (std::size_t i = 0; i < SkippedEntries::kMaxKept + 10; ++i) many.append({"nul." + std::to_string(i), "1", 1});
  SkippedEntries manySkipped;
  planDownloads(many, VersionList{}, downloadList, totalKiB, &manySkipped);
  EXPECT_EQ(manySkipped.count, SkippedEntries::kMaxKept + 10);
  EXPECT_EQ(manySkipped.kept.size(), SkippedEntries::kMaxKept);
}

TEST(MakeDirectories, MakesEachMissingFolderAndStopsAtFailure) {
  TempDir dir;
  CurrentDirGuard guard;
  fs::current_path(dir.path());

  EXPECT_TRUE(makeDirectories("a/b/c/"));
  EXPECT_TRUE(makeDirectories("a/b/c/"));
  EXPECT_TRUE(makeDirectories("a/d/"));
  EXPECT_TRUE(makeDirectories("no-slash"));
  EXPECT_FALSE(makeDirectories("Launcher.exe.tmp/"));
  EXPECT_FALSE(makeDirectories("ok/con/"));

  writeFile(dir / "e" / "file", "x");
  EXPECT_FALSE(makeDirectories("e/file/g/h/"));
  EXPECT_EQ(treeBelow(dir.path()), (std::vector<std::string>{"a", "a/b", "a/b/c", "a/d", "e", "e/file"}));
}

}  // namespace
