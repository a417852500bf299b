#include "served_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "file_clone.h"
#include "release_names.h"

namespace publish {

namespace fs = std::filesystem;

namespace {

bool within(const fs::path& path, const fs::path& folder) {
  fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

std::string shown(const fs::path& path) { return quotedName(path.string()); }

// Swaps two folders in one step where the file system can; otherwise moves
// the old one aside first, which leaves the target missing for a moment.
bool exchange(const fs::path& side, const fs::path& target, std::string& error) {
  if (::renameat2(AT_FDCWD, side.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    error = std::generic_category().message(errno);
    return false;
  }
  const fs::path old = side.string() + ".old";
  std::error_code code;
  fs::rename(target, old, code);
  if (code) {
    error = code.message();
    return false;
  }
  fs::rename(side, target, code);
  if (code) {
    error = code.message();
    std::error_code ignored;
    fs::rename(old, target, ignored);
    return false;
  }
  fs::rename(old, side, code);  // so that the destructor's clean-up finds it
  return true;
}

}  // namespace

ServedTree::ServedTree(fs::path target, bool hardLink, bool sharedOnly)
    : target_(std::move(target)), hardLink_(hardLink), sharedOnly_(sharedOnly) {}

ServedTree::~ServedTree() {
  if (side_.empty()) return;
  std::error_code ignored;
  fs::remove_all(side_, ignored);
  fs::remove_all(side_.string() + ".old", ignored);
}

bool ServedTree::open(const fs::path& release, std::string& error) {
  std::error_code code;
  fs::path target = fs::weakly_canonical(fs::absolute(target_), code);
  if (!code && target.filename().empty()) target = target.parent_path();
  fs::path source = code ? fs::path() : fs::canonical(release, code);
  if (code) {
    error = "cannot resolve " + shown(target_) + ": " + code.message();
    return false;
  }
  if (target == source || within(target, source) || within(source, target)) {
    error = "the served folder " + shown(target_) + " may not be the release folder, lie inside it or hold it";
    return false;
  }
  if (fs::exists(target, code)) {
    if (!fs::is_directory(target, code)) {
      error = shown(target_) + " exists and is not a folder";
      return false;
    }
    if (!fs::is_empty(target, code) && !fs::exists(target / "version_list.txt", code)) {
      error = shown(target_) + " holds files but no version_list.txt; it is not replaced, to keep what it holds";
      return false;
    }
  }
  target_ = target;
  fs::create_directories(target_.parent_path(), code);
  // Workaround for GCC 12's false -Wrestrict: built by appending, since at
  // -O3 it reports one inside libstdc++ for "." + name here. Can go once the
  // builds' GCC no longer reports it in the Release build.
  std::string hidden(".");
  hidden.append(target_.filename().string()).append(".publish-XXXXXX");
  std::string pattern = (target_.parent_path() / hidden).string();
  if (code || ::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a folder beside " + shown(target_) + ": " +
            (code ? code.message() : std::generic_category().message(errno));
    return false;
  }
  side_ = pattern;
  // mkdtemp makes the folder private; a web server running as another user
  // must be able to read it once it is the served folder.
  ::chmod(side_.c_str(), 0755);
  return true;
}

bool ServedTree::place(const ReleaseFile& file, fs::path& placed, std::string& error, const fs::path& from,
                       Placement* how) {
  placed = side_ / file.localName;
  const fs::path& source = from.empty() ? file.source : from;
  std::error_code code;
  fs::create_directories(placed.parent_path(), code);
  bool linked = false;
  bool reflinked = false;
  if (!code) {
    // A file out of the release folder (a system file, say) is never linked
    // into what a web server hands out; in a release folder, only what the
    // current release folder already serves is.
    if (hardLink_ && (!from.empty() || (!sharedOnly_ && !file.outside))) {
      fs::create_hard_link(source, placed, code);
      linked = !code;
    }
    if (!linked) cloneFile(source, placed, code, &reflinked);
  }
  if (how != nullptr) *how = linked ? Placement::HardLinked : reflinked ? Placement::Reflinked : Placement::Copied;
  if (code) {
    error = "cannot place \"" + printableName(file.diskName) + "\" in the served folder: " + code.message();
    return false;
  }
  return true;
}

bool ServedTree::commit(std::string& error) {
  std::error_code code;
  bool replaced =
      fs::exists(target_, code) ? exchange(side_, target_, error) : (fs::rename(side_, target_, code), !code);
  if (!replaced) {
    if (error.empty()) error = code.message();
    error = "cannot put the new served folder in place of " + shown(target_) + ": " + error;
    return false;
  }
  // What is left in the side folder now is the old tree, if there was one.
  std::error_code ignored;
  fs::remove_all(side_, ignored);
  side_.clear();
  return true;
}

}  // namespace publish
