#include "publish.h"

#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "content_hash.h"
#include "file_descriptor.h"
#include "list_check.h"
#include "platform/files.h"
#include "release_folders.h"
#include "release_names.h"
#include "release_scan.h"
#include "served_tree.h"
#include "server_check.h"
#include "signing.h"
#include "update/download_plan.h"
#include "update/list_signature.h"
#include "update/update_key.h"
#include "update/version_list.h"

using update::formatUtcTime;
using update::kLauncherEntryName;
using update::kSignatureName;
using update::kVersionListName;
using update::ListSignature;
using update::saveLocalList;
using update::VersionList;

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "glimmerhold-publish";

std::ostream& complain(std::ostream& err) { return err << kProgram << ": "; }

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// 1 to update::kMaxEpoch in plain decimal, else 0.
std::uint32_t epochArgument(const std::string& text) {
  if (text.empty() || text.size() > 5 || text[0] == '0' || text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const unsigned long value = std::stoul(text);
  return value <= update::kMaxEpoch ? static_cast<std::uint32_t>(value) : 0;
}

std::string shown(const fs::path& path) { return quotedName(path.string()); }

std::string count(std::size_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

// Hashes `path` into an entry named `file.entryName`.
bool describe(const ReleaseFile& file, const fs::path& path, VersionList& list, std::ostream& err) {
  ContentHash hash = hashFile(path);
  if (!hash.error.empty()) {
    complain(err) << "cannot read \"" << printableName(file.diskName) << "\": " << hash.error << "\n";
    return false;
  }
  // The scan checked the size, but the file may have grown since.
  if (hash.size > 0x7FFFFFFF) {
    complain(err) << "cannot publish \"" << printableName(file.diskName)
                  << "\": it is 2 GiB or larger, more than the launcher can fetch\n";
    return false;
  }
  list.append({file.entryName, hash.token, static_cast<std::uint32_t>(hash.size)});
  return true;
}

// The release's Launcher.exe, or an empty path when it has none.
fs::path releaseLauncher(const ReleaseScan& scan) {
  for (const ReleaseFile& file : scan.files) {
    if (file.entryName == kLauncherEntryName) return file.source;
  }
  return {};
}

// Loads the key and decides the signature's fields from the signature at
// `previousSignature` over `previousList` and the release's `launcher`.
std::unique_ptr<SigningKey> planSigning(const PublishOptions& options, const fs::path& launcher,
                                        const fs::path& previousSignature, const fs::path& previousList,
                                        ListSignature& planned, std::ostream& err) {
  std::string error;
  std::unique_ptr<SigningKey> key = SigningKey::load(options.signingKey, error);
  if (!key || !planSignature(*key, options.signRequest, launcher, previousSignature, previousList, planned, error)) {
    complain(err) << error << "\n";
    return nullptr;
  }
  return key;
}

bool sign(const SigningKey& key, const fs::path& listPath, const ListSignature& planned, const fs::path& signaturePath,
          std::ostream& err) {
  std::string error;
  if (!writeListSignature(key, listPath, planned, signaturePath, error)) {
    complain(err) << error << "\n";
    return false;
  }
  return true;
}

std::string signedText(const PublishOptions& options, const ListSignature& planned) {
  if (options.signingKey.empty()) return std::string();
  std::string text = ", signed as release " + std::to_string(planned.release) + " of epoch " +
                     std::to_string(planned.epoch) + " for " + planned.product + ", channel " + planned.channel;
  text += planned.expires != 0 ? ", expiring " + formatUtcTime(planned.expires) : ", never expiring";
  return text;
}

int check(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  fs::path served = options.out.empty() ? options.release : options.out;
  if (options.releaseFolders) {
    ReleaseFolders folders;
    std::string error;
    if (!readReleaseFolders(options.out, folders, error)) {
      complain(err) << error << "\n";
      return kFailed;
    }
    served = folders.currentFolder();
  }
  const fs::path listPath = served / kVersionListName;
  const std::optional<std::string> text =
      platform::readWholeFile(listPath.c_str(), std::numeric_limits<std::size_t>::max());
  if (!text) {
    complain(err) << "cannot read " << shown(listPath) << "\n";
    return kFailed;
  }
  VersionList current;
  for (const ReleaseFile& file : scan.files) {
    if (!describe(file, file.source, current, err)) return kFailed;
  }
  std::vector<std::string> differences = compareList(*text, current);
  for (const std::string& difference : differences) out << difference << "\n";
  if (!differences.empty()) {
    complain(err) << shown(listPath) << " does not match the release folder ("
                  << count(differences.size(), "difference") << ")\n";
    return kDiffers;
  }
  out << shown(listPath) << " matches the release folder (" << count(current.size(), "file") << ")\n";
  return kDone;
}

int writeInPlace(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  VersionList list;
  for (const ReleaseFile& file : scan.files) {
    if (!describe(file, file.source, list, err)) return kFailed;
  }
  const fs::path listPath = options.release / kVersionListName;
  const fs::path signaturePath = options.release / kSignatureName;
  // Decided before the list is replaced: the previous signature is checked
  // over the list it signed.
  ListSignature planned;
  std::unique_ptr<SigningKey> key;
  if (!options.signingKey.empty()) {
    key = planSigning(options, releaseLauncher(scan), signaturePath, listPath, planned, err);
    if (!key) return kFailed;
  }
  if (!saveLocalList(listPath.c_str(), list)) {
    complain(err) << "cannot write " << shown(listPath) << "\n";
    return kFailed;
  }
  if (key && !sign(*key, listPath, planned, signaturePath, err)) return kFailed;
  out << "wrote " << shown(listPath) << " (" << count(list.size(), "file") << signedText(options, planned) << ")\n";
  return kDone;
}

// Where layOut puts a release: the served folder it makes, and the one that
// served the release before (whose signature numbers the new one).
struct Destination {
  fs::path folder;
  fs::path previous;
  // Files unchanged since `previous` are made from its files rather than the
  // release's, so that release folders share their storage (a reflink).
  bool share = false;
};

// What layOut made of the files, in bytes.
struct Placed {
  std::size_t sharedFiles = 0;
  std::uint64_t reflinked = 0;
  std::uint64_t copied = 0;
  std::uint64_t hardLinked = 0;
  std::uint64_t sharedReflinked = 0;  // of `reflinked`, the part shared with the previous release
};

// The entries of the list in `folder`, empty when it has none (or a damaged
// one: then nothing is shared).
VersionList listIn(const fs::path& folder) {
  VersionList list;
  const std::optional<std::string> text =
      platform::readWholeFile((folder / kVersionListName).c_str(), std::numeric_limits<std::size_t>::max());
  if (text && !update::parseVersionList(text->data(), text->data() + text->size(), list)) list = VersionList();
  return list;
}

// Places the file in the tree, from the previous release's copy when that
// one is listed with the release file's content, and describes the copy.
bool placeFile(ServedTree& tree, const ReleaseFile& file, const Destination& to, const VersionList& previous,
               VersionList& list, Placed& placed, std::ostream& err) {
  std::string error;
  fs::path from;
  update::VersionEntry wanted;
  if (to.share) {
    VersionList probe;
    if (!describe(file, file.source, probe, err)) return false;
    wanted = probe[0];
    const std::optional<update::VersionEntryRef> before = previous.find(wanted.name);
    if (before && before->version == wanted.version && before->size == wanted.size) from = to.previous / file.localName;
  }
  for (;;) {
    fs::path path;
    ServedTree::Placement how = ServedTree::Placement::Copied;
    if (!tree.place(file, path, error, from, &how)) {
      complain(err) << error << "\n";
      return false;
    }
    VersionList described;
    if (!describe(file, path, described, err)) return false;
    const update::VersionEntry entry = described[0];
    // The previous release's copy no longer holds what its list names
    // (changed on the server): made from the release file instead.
    if (!from.empty() && (entry.version != wanted.version || entry.size != wanted.size)) {
      std::error_code ignored;
      fs::remove(path, ignored);
      from.clear();
      continue;
    }
    list.append(entry);
    if (!from.empty()) ++placed.sharedFiles;
    if (how == ServedTree::Placement::Reflinked && !from.empty()) placed.sharedReflinked += entry.size;
    (how == ServedTree::Placement::Reflinked ? placed.reflinked
     : how == ServedTree::Placement::Copied  ? placed.copied
                                             : placed.hardLinked) += entry.size;
    return true;
  }
}

int layOut(const PublishOptions& options, const ReleaseScan& scan, const Destination& to, Placed& placed,
           ListSignature& planned, std::ostream& err) {
  // Decided before anything is laid out: the folder's signature is checked
  // over the list it serves now.
  std::unique_ptr<SigningKey> key;
  if (!options.signingKey.empty()) {
    key = planSigning(options, releaseLauncher(scan), to.previous / kSignatureName, to.previous / kVersionListName,
                      planned, err);
    if (!key) return kFailed;
  }
  ServedTree tree(to.folder, options.hardLink, options.releaseFolders);
  std::string error;
  if (!tree.open(options.release, error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  const VersionList previous = to.share ? listIn(to.previous) : VersionList();
  VersionList list;
  for (const ReleaseFile& file : scan.files) {
    if (!placeFile(tree, file, to, previous, list, placed, err)) return kFailed;
  }
  if (!saveLocalList(tree.listPath().c_str(), list)) {
    complain(err) << "cannot write the version list of the served folder\n";
    return kFailed;
  }
  // Signed in the side folder, so the list and its signature are served
  // together or not at all; the number follows the folder being replaced.
  if (key && !sign(*key, tree.listPath(), planned, tree.listPath().parent_path() / kSignatureName, err)) {
    return kFailed;
  }
  if (!tree.commit(error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  return kDone;
}

int layOutInPlace(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  Placed placed;
  ListSignature planned;
  const int result = layOut(options, scan, {options.out, options.out}, placed, planned, err);
  if (result != kDone) return result;
  out << "laid out " << shown(options.out) << " (" << count(scan.files.size(), "file") << " and " << kVersionListName
      << signedText(options, planned) << ")\n";
  return kDone;
}

// A folder of its own for the release, then the pointer moved to it: the
// old release stays served, complete, until the pointer names the new one.
int layOutReleaseFolder(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  std::string error;
  std::error_code code;
  const fs::path root = fs::weakly_canonical(fs::absolute(options.out), code);
  const fs::path relative = code ? fs::path() : fs::canonical(options.release, code).lexically_relative(root);
  if (!code && !relative.empty() && *relative.begin() != "..") {
    complain(err) << "the release folder lies inside " << shown(options.out)
                  << ", which the web server serves whole; publish from outside it\n";
    return kFailed;
  }
  int held = -1;
  const bool locked = lockReleaseFolders(options.out, held, error);
  const FileDescriptor lock(held);
  ReleaseFolders folders;
  if (!locked || !readReleaseFolders(options.out, folders, error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  removeUnfinished(options.out);
  const std::uint64_t number = folders.next();
  Placed placed;
  ListSignature planned;
  const int result =
      layOut(options, scan, {folders.folder(number), folders.currentFolder(), true}, placed, planned, err);
  if (result != kDone) return result;
  if (!pointAtRelease(folders, number, error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  out << "laid out " << shown(folders.folder(number)) << " (" << count(scan.files.size(), "file") << " and "
      << kVersionListName << signedText(options, planned) << ") and pointed "
      << shown(options.out / kReleasePointerName) << " at it\n";
  if (folders.current != 0 || placed.sharedFiles != 0) {
    out << count(placed.sharedFiles, "file") << " unchanged since " << shown(folders.currentFolder()) << " ("
        << placed.sharedReflinked << " bytes shared by reflink)\n";
  }
  out << "bytes: " << placed.reflinked << " reflinked, " << placed.copied << " copied, " << placed.hardLinked
      << " hard-linked\n";
  return kDone;
}

// Signs the served folder's list again as the release it is, with the
// request's expiry; no file of the folder but the signature changes.
int resign(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  const fs::path folder = options.release;
  const fs::path listPath = folder / kVersionListName;
  std::error_code code;
  const fs::path launcher = fs::exists(folder / kLauncherEntryName, code) ? folder / kLauncherEntryName : fs::path();
  ListSignature planned;
  std::unique_ptr<SigningKey> key = planSigning(options, launcher, folder / kSignatureName, listPath, planned, err);
  if (!key || !sign(*key, listPath, planned, folder / kSignatureName, err)) return kFailed;
  out << "signed " << shown(listPath) << " again" << signedText(options, planned) << "\n";
  return kDone;
}

// --expires: a number of days from now, a date (its midnight, UTC) or a
// time "YYYY-MM-DDTHH:MM:SSZ"; nothing when it is none of them or not in the
// future.
std::optional<std::int64_t> parseExpiry(const std::string& text, std::int64_t now) {
  if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos) {
    const long days = std::stol(text);
    if (days < 1 || days > 36500) return std::nullopt;
    return now + days * 86400;
  }
  std::optional<std::int64_t> time = update::parseUtcTime(text.size() == 10 ? text + "T00:00:00Z" : text);
  if (!time || *time <= now) return std::nullopt;
  return time;
}

constexpr const char* kHelp =
    R"help(Usage: glimmerhold-publish [--out DIR [--hardlink] [--release-folders]] [--follow-links | --skip-links]
                           [--sign KEY [SIGNING OPTIONS]] [--check] RELEASE_FOLDER
       glimmerhold-publish --resign SERVED_FOLDER --sign KEY [SIGNING OPTIONS]
       glimmerhold-publish --new-key NAME
       glimmerhold-publish --check-server http://HOST/FOLDER/ [--against DIR] [--sample N]

Writes RELEASE_FOLDER/version_list.txt: one line per file below the folder
(sub-folders included, "/" between folders), its name escaped, a version
token derived from its content (SHA-256, 32 hex digits) and its size in
bytes, sorted by name. The list is replaced in one step.

Names: a blank, "!" and the letters ñ á é í ó ú (spelt in UTF-8 or as their
Latin-1 byte) are escaped. Any other white space or non-ASCII character, "%",
"#", a character Windows does not allow in file names, a name over 255 bytes
once escaped, a Windows device name, a name ending in a dot or a blank, two
names that differ only in letter case, and the names of the launcher's own
files are refused, each with a message naming the file; nothing is written.
A name whose path would pass Windows' limit of 259 characters in a typical
per-user installation (C:\Users\<user>\AppData\Local\Programs\<game>, 85
characters: a 20-letter user name, a 32-letter game folder) is listed with
a warning: the launcher installs it, but the game, the installer and
Explorer may not open it where Windows' long-path policy is off.
Symbolic links to files inside the folder are followed; links that lead to
folders are refused, and so are links that lead out of the folder or
nowhere, unless --follow-links or --skip-links says otherwise. Files of
2 GiB or more are refused.

Options:
  --out DIR  Lay out the folder a static web server serves: every file under
             the name the server looks up for its listed name (escapes
             decoded to Latin-1 bytes), copied (reflinked where the file
             system can), plus DIR/version_list.txt. DIR is built beside
             itself and swapped in whole; an existing DIR must be empty or
             hold a version_list.txt. The release folder is left untouched.
  --hardlink With --out: hard-link the files where possible instead of
             copying them. Then a release file edited in place afterwards
             is served changed under its old version token: publish again
             after every change.
  --copy     With --out: copy the files (the default; kept for scripts).
  --release-folders
             With --out: publish the release into a folder of its own,
             DIR/releases/N/ (N one more than any there), then point
             DIR/release.js, the script the launcher page reads its update
             base from, at it. Files unchanged since the current release are
             copied (reflinked where the file system can) from its folder;
             with --hardlink they are hard-linked to it instead, and the
             release's own files are still copied, so that editing them
             never changes a published folder.
             No file's bytes ever change under a URL, so a cache may keep
             every file of a release folder for ever; only the page and
             release.js need a short life. Earlier release folders stay
             (remove those older than the previous one yourself). With
             --check: compare the current release's list.
  --follow-links
             Publish what a symbolic link leading out of the folder points
             to, under the link's name. Links leading nowhere are refused.
  --skip-links
             Leave out symbolic links that lead out of the folder or
             nowhere, each with a warning.
  --sign KEY Sign the list with the private key KEY (PEM, ECDSA P-256):
             writes version_list.sig beside version_list.txt, holding the
             product, the channel, the key's epoch, the release number, the
             expiry if any, and the signature over them and the list's exact
             bytes. The release number is one more than the one the
             folder's previous signature holds, once that signature has
             verified with KEY (1 for the first, and 1 again for the first
             of a later epoch). A launcher built with the public key installs
             only what it signed, and never a release older than one it has
             installed. The release's Launcher.exe must carry the key (or
             only keys of later epochs): its epoch is the key's there.
  --product NAME
             The product the signature names (default: the game's name this
             tool was built with, GLIMMERHOLD_GAME_NAME).
  --channel NAME
             The channel the signature names (default: the channel this tool
             was built with, GLIMMERHOLD_UPDATE_CHANNEL). A launcher refuses
             a list signed for another product or channel; publish each
             channel into a folder of its own.
  --epoch N  The signing key's epoch, when the release carries no
             Launcher.exe (default 1) or carries a launcher with keys of
             later epochs only.
  --expires WHEN
             The signature expires WHEN: a number of days from now, a date
             YYYY-MM-DD (its midnight, UTC) or YYYY-MM-DDTHH:MM:SSZ. A
             launcher refuses an expired list; sign again before then.
  --resign SERVED_FOLDER
             Sign the served folder's list again as the same release, with
             a new --expires (or none), changing nothing but
             version_list.sig.
  --new-key NAME
             Make a key pair: NAME.pem, the private key (readable by you
             only; keep it off the update server), and NAME.pub.pem, the
             public key to build the launcher with
             (-DGLIMMERHOLD_UPDATE_KEY=NAME.pub.pem). Never overwrites.
  --check    Compare the existing list (of RELEASE_FOLDER, or of DIR with
             --out) with the folder and print each difference:
             "missing: NAME", "unlisted: NAME", "changed: NAME (...)",
             "listed twice: NAME", "malformed line N". Writes nothing.
  --help     Show this text.

Exit codes:
  0  the list was written (and signed), the key pair made, or --check found
     no difference
  1  --check found differences
  2  the command line is wrong
  3  files that cannot be published (each named); nothing was written
  4  a file or folder could not be read or written, or the list could not
     be signed (the key, the previous signature or the release's
     Launcher.exe is unusable)
)help";

}  // namespace

int publishRelease(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  ReleaseScan scan = scanRelease(options.release, options.outsideLinks);
  for (const std::string& warning : scan.warnings) complain(err) << "warning: " << warning << "\n";
  for (const std::string& problem : scan.problems) complain(err) << problem << "\n";
  if (scan.unreadable) return kFailed;
  if (!scan.problems.empty()) {
    complain(err) << count(scan.problems.size(), "file") << " cannot be published; nothing was written\n";
    return kRefused;
  }
  if (options.check) return check(options, scan, out, err);
  if (options.out.empty()) return writeInPlace(options, scan, out, err);
  return options.releaseFolders ? layOutReleaseFolder(options, scan, out, err) : layOutInPlace(options, scan, out, err);
}

int publishMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  // Checking a server is a command of its own, with options of its own.
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--check-server") return checkServerMain(argc, argv, 1, out, err);
  }
  PublishOptions options;
  bool haveRelease = false;
  std::string copyMode;  // "--copy" or "--hardlink" when given
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      out << kHelp << kServerCheckHelp;
      return kDone;
    }
    if (argument == "--check") {
      options.check = true;
    } else if (argument == "--release-folders") {
      // Each release in a folder of its own (release_folders.h).
      options.releaseFolders = true;
    } else if (argument == "--copy" || argument == "--hardlink") {
      options.hardLink = argument == "--hardlink";
      copyMode = argument;
    } else if (argument == "--follow-links" || argument == "--skip-links") {
      if (options.outsideLinks != OutsideLinks::Refuse) {
        complain(err) << "--follow-links and --skip-links exclude each other (see --help)\n";
        return kUsage;
      }
      options.outsideLinks = argument == "--follow-links" ? OutsideLinks::Follow : OutsideLinks::Skip;
    } else if (argument == "--out" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.out = argv[++i];
    } else if (argument == "--sign" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.signingKey = argv[++i];
    } else if (argument == "--product" && i + 1 < argc && update::isValidProduct(argv[i + 1])) {
      options.signRequest.product = argv[++i];
    } else if (argument == "--channel" && i + 1 < argc && update::isValidChannel(argv[i + 1])) {
      options.signRequest.channel = argv[++i];
    } else if (argument == "--epoch" && i + 1 < argc && epochArgument(argv[i + 1]) != 0) {
      options.signRequest.epoch = epochArgument(argv[++i]);
    } else if (argument == "--expires" && i + 1 < argc) {
      const std::optional<std::int64_t> expires = parseExpiry(argv[++i], nowSeconds());
      if (!expires) {
        complain(err) << "--expires \"" << printableName(argv[i])
                      << "\": give a number of days, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, in the future (see --help)\n";
        return kUsage;
      }
      options.signRequest.expires = *expires;
    } else if (argument == "--resign" && i + 1 < argc && argv[i + 1][0] != '\0' && !haveRelease) {
      options.resign = true;
      options.release = argv[++i];
      haveRelease = true;
    } else if (argument == "--new-key" && i + 1 < argc && argv[i + 1][0] != '\0' && argc == 3) {
      std::string error;
      if (!makeKeyPair(argv[i + 1], error)) {
        complain(err) << error << "\n";
        return kFailed;
      }
      out << "made " << argv[i + 1] << ".pem (private: keep it secret) and " << argv[i + 1] << ".pub.pem\n";
      return kDone;
    } else if (argument.rfind("--", 0) == 0 || haveRelease || argument.empty()) {
      complain(err) << "unexpected argument \"" << printableName(argument) << "\" (see --help)\n";
      return kUsage;
    } else {
      options.release = argument;
      haveRelease = true;
    }
  }
  const bool signingOptions = !options.signRequest.product.empty() || !options.signRequest.channel.empty() ||
                              options.signRequest.epoch != 0 || options.signRequest.expires != 0;
  const bool resignClash = options.resign && (options.signingKey.empty() || options.check || !options.out.empty() ||
                                              !copyMode.empty() || options.outsideLinks != OutsideLinks::Refuse);
  if (options.releaseFolders && (options.out.empty() || options.resign)) {
    complain(err) << "--release-folders needs --out DIR (see --help)\n";
    return kUsage;
  }
  if (!haveRelease || (!copyMode.empty() && options.out.empty()) || (options.check && !options.signingKey.empty()) ||
      (signingOptions && options.signingKey.empty()) || resignClash) {
    const std::string problem = !haveRelease  ? "no release folder given"
                                : resignClash ? "--resign takes --sign and its options only"
                                : options.check && !options.signingKey.empty() ? "--check does not sign"
                                : signingOptions && options.signingKey.empty() ? "signing options need --sign KEY"
                                                                               : copyMode + " needs --out DIR";
    complain(err) << problem << " (see --help)\n";
    return kUsage;
  }
  // The list and signature code is the launcher's, whose file calls read
  // "\" as a folder separator, as on Windows: such a folder would be read
  // and written as another one.
  for (const std::filesystem::path* folder : {&options.release, &options.out}) {
    if (folder->native().find('\\') != std::string::npos) {
      complain(err) << "the folder \"" << printableName(folder->native())
                    << "\" has a \"\\\" in its path: name it without one\n";
      return kUsage;
    }
  }
  const update::UpdateTrust built = update::compiledUpdateTrust();
  if (options.signRequest.product.empty()) options.signRequest.product = built.product;
  if (options.signRequest.channel.empty()) options.signRequest.channel = built.channel;
  options.signRequest.sameRelease = options.resign;
  return options.resign ? resign(options, out, err) : publishRelease(options, out, err);
}

}  // namespace publish
